#pragma once
// The last page: whether the conversion succeeded (a success text, or an error
// text with the list of reported errors and what the run left out), and
// "&Save Settings..." to store the conversion's settings as a profile. Finish
// is its only wizard button; Cancel and Help are disabled.

#include <cstdint>
#include <string>

#include "GUI2/wizard_page.h"
#include "driver/conversion_failures.h"

class gui_finish_page : public wizard_page {
    Q_OBJECT
public:
    // extension: the profile file extension, 3 or 4 characters.
    gui_finish_page(const wizard_page_info& info, std::wstring success_text, std::wstring error_text,
                    std::wstring extension, QWidget* parent = nullptr);

    // The success text of a run into a script file (without one, the
    // success text serves both).
    void set_script_success_text(std::wstring text) { m_script_success_text = std::move(text); }

    bool page_init() override;
    // Escape and the close box finish the wizard as Finish does (Cancel is
    // disabled here: there is nothing left to cancel).
    bool on_cancel() override;

    // Shows the save dialog and stores the profile into the chosen file.
    void on_store();

    // What a run left out, as one line ("" when nothing).
    static std::wstring failure_summary(const conversion_failures& failures);

    // A run that did not reach its end: Abort answered in a report, or an
    // error that ended it.
    struct ended_run {
        bool aborted = true;            // else ended by an error
        bool live = true;               // a live database (else a script file)
        std::wstring table;             // the item it ended in ("" when none)
        std::uint32_t items_total = 0;  // tables and queries of the run
        std::uint32_t items_done = 0;   // of them handled to their end
    };
    // What such a run did not do ("" for a run that reached its end).
    static std::wstring ended_early_text(const ended_run& run);

private:
    std::wstring m_success_text;
    std::wstring m_script_success_text;
    std::wstring m_error_text;
    std::wstring m_extension;
};

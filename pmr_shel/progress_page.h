#pragma once
// "Step 7 of 7": starts the conversion on a worker thread when it becomes
// current and shows its progress (the run's lines in the log box, a bar and
// the table being converted) by polling the conversion object on the shell's
// progress timer; turns to the finish page when the run has finished.
//
// Cancel during a run asks first; the run goes on meanwhile. When it ended
// while the question was open, nothing is cancelled: the user is told and the
// finish page shows the result. Otherwise the page says that the run is
// stopping, asks the run to stop (the stop flag the run checks per row and per
// table), waits for it while the window keeps serving the run's lines and
// questions, says in one box what was kept and how a rerun completes it, and
// only then lets the wizard close.

#include <cstdint>
#include <string>

#include "GUI2/wizard_page.h"
#include "TK/tk_thread.h"

class progress_page : public wizard_page, public tk_thread {
    Q_OBJECT
public:
    explicit progress_page(QWidget* parent = nullptr);
    ~progress_page() override;

    bool page_init() override;
    void on_timer() override;
    bool on_cancel() override;

    // The bar position: the finished items' share plus the current item's
    // share of its rows, scaled by the number of items; always 0 to 100.
    static int bar_position(std::uint32_t items_total, std::uint32_t items_done, std::uint64_t record_count,
                            std::uint64_t records_done) noexcept;
    // The label text for the current table ("" when none); long names are cut.
    static QString table_label(const std::wstring& current_table);
    // The label text once every table is done.
    static constexpr const char* finishing_label = "Finishing: indexes, foreign keys and views";

    // Where a stopped run ended, as the conversion object's counters tell it.
    struct stopped_run {
        bool live = true;                // a live database (else a script file)
        std::wstring table;              // the table being converted ("" when none)
        std::uint64_t rows_kept = 0;     // its rows written before the stop
        std::uint64_t rows_total = 0;    // its rows in the source (0: not known)
        std::uint32_t items_total = 0;   // tables and queries of the run
        std::uint32_t items_done = 0;    // of them begun or done, the stopped one included
    };
    // The box shown after a stop: what was kept, what is missing, and how a
    // rerun completes it.
    static std::wstring stop_report(const stopped_run& run);

    // Asks a running conversion to stop and waits for its end, serving the
    // window meanwhile. No effect when none runs.
    void stop_run();

protected:
    tk_thread_functor* create_functor() override;

private:
    // The counters of the run that just stopped.
    static stopped_run stopped_facts();

    bool m_stopping = false;
};

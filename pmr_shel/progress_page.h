#pragma once
// "Step 7 of 7": starts the conversion on a worker thread when it becomes
// current and shows its progress (the run's lines in the log box, a bar and
// the table being converted) by polling the conversion object on the shell's
// progress timer; turns to the finish page when the run has finished.
//
// Cancel during a run asks the run to stop (the stop flag the run checks per
// row and per table), waits for it while the window keeps serving the run's
// lines and questions, and only then lets the wizard close.

#include <cstdint>

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

    // Asks a running conversion to stop and waits for its end, serving the
    // window meanwhile. No effect when none runs.
    void stop_run();

protected:
    tk_thread_functor* create_functor() override;

private:
    bool m_stopping = false;
};

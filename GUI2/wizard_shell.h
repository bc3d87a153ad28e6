#pragma once
// The wizard's frame: the modal sheet that hosts the pages (wizard_page) and
// the one object through which the rest of the program talks to the user:
// message boxes, the progress log box, the progress timer, context help and
// the record of the current page.
//
// Navigation keeps the page protocol exactly: Next and Back ask the current
// page (on_next / on_back: 0 the neighbouring page, -1 stay, a dialog
// template id jumps there), the page being left may refuse (on_kill_active),
// and every arrival, in either direction, sets the page's buttons, initialises
// the window the first time, records the current page and calls page_init; a
// page whose page_init answers false is passed over in the direction of
// travel.
//
// Threads: the conversion runs on a worker thread. Every operation that a
// worker may call (write_log, the boxes, set_timer) crosses to the window
// thread and returns when the window thread has done it; exceptions thrown
// there travel back to the caller.

#include <QPointer>
#include <QTimer>
#include <QWizard>

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "TK/tk_singleton.h"

class wizard_page;

class wizard_shell : public QWizard, public tk_singleton<wizard_shell> {
    Q_OBJECT
public:
    // Wizard button bits of a page's button mask.
    static constexpr int button_back = 1;
    static constexpr int button_next = 2;
    static constexpr int button_finish = 4;
    // Button ids for enable_button.
    static constexpr int id_cancel = 2;
    static constexpr int id_help = 9;
    // The control that receives the progress lines on the current page.
    static constexpr int log_box_id = 1016;
    // The log box keeps at most this many characters; later lines are dropped.
    static constexpr int log_box_limit = 1000000;

    // Icon and bitmap ids 0 mean none.
    wizard_shell(const std::wstring& title, int icon_id = 0, int watermark_id = 0, int header_id = 0,
                 QWidget* parent = nullptr);
    ~wizard_shell() override;

    // Pages, in list order. The shell does not own them: the caller takes them
    // back with remove_pages() before it destroys them.
    void add_page(wizard_page* page);
    void remove_pages();
    const std::vector<wizard_page*>& pages() const noexcept { return m_pages; }
    // The first page built from this dialog template, or nullptr.
    wizard_page* page_by_idd(int idd) const;
    // The page that became current last (nullptr before the first arrival).
    wizard_page* current_page() const noexcept { return m_current; }
    void set_current_page(wizard_page* page) noexcept { m_current = page; }

    // Called by every page when it becomes current: the first time, the window
    // gets its title and icon and is centred.
    void initialize_if();
    // The shell exists and its window was initialised.
    static bool is_initialized();
    const std::wstring& title() const noexcept { return m_title; }

    // The wizard buttons of the current page (button_* bits). A page's
    // page_init may call it to override the page's own mask.
    void set_wizard_buttons(int mask);
    int wizard_buttons() const noexcept { return m_buttons; }
    // 2 Cancel, 9 Help.
    void enable_button(int button_id, bool enable);

    // The progress timer, forwarded to the current page (wizard_page::on_timer).
    // A second start while it runs is an internal error.
    void set_timer(int period_ms);
    void kill_timer();
    bool is_timer_running() const noexcept { return m_timer_running; }

    // Boxes; caption "<title> Error" etc. and owned by the wizard once it is
    // initialised, "Error" and no owner before (or without a shell at all).
    static void error(const std::wstring& text);
    static void error_ansi(const std::string& text);
    static void message(const std::wstring& text);
    // true for Yes. default_no makes No the default button.
    static bool question(const std::wstring& text, bool default_no = false);
    // A text broken into lines for a fixed width (the error tables' advice)
    // as one paragraph: the boxes wrap their text to their own width.
    static std::string as_paragraph(std::string text);

    // Appends a progress line (with its own "\r\n") to the log box of the
    // current page.
    void write_log(const std::wstring& text);

    // Context help: the HTML page of a topic in the help folder beside the
    // program, shown in the program's own help window (help_window);
    // without a topic, the folder's index page.
    void display_help(int topic);
    void display_help();
    // The help folder (default: "help" beside the program).
    static void set_help_folder(const std::wstring& folder);
    static std::wstring help_folder();
    // The file of a topic inside the help folder ("index.html" for unknown ones).
    static std::wstring help_file_of(int topic);

    // Navigation, as the Next and Back buttons do it.
    void go_next();
    void go_back();
    // Moves to a page without asking the current one (the progress page's turn
    // to the finish page). Forward when the target lies after the current page.
    void turn_to(int idd);

    // Runs fn on the window thread and waits for it; an exception of fn is
    // rethrown to the caller. On the window thread fn runs at once.
    template <class F>
    static auto on_window_thread(F&& fn) -> std::invoke_result_t<F&>;

    // While set, Cancel and the close box do nothing (a run is being stopped).
    void set_closing(bool closing) noexcept { m_closing = closing; }
    // While a page waits for a server off the window thread (run_off_window),
    // Cancel and the close box do nothing either. Nests.
    void set_busy(bool busy) noexcept { m_busy += busy ? 1 : -1; }
    bool is_busy() const noexcept { return m_busy > 0; }

public slots:
    void accept() override;
    void reject() override;

protected:
    bool validateCurrentPage() override;
    int nextId() const override;

private slots:
    void on_current_changed(int id);
    void on_timer_tick();
    void on_help_requested();

private:
    // The current page's answer (on_finish, on_cancel) decides whether the wizard closes;
    // an exception on the way is reported, the wizard stays.
    void close_if_page_agrees(bool (wizard_page::*agrees)(), const std::function<void()>& close);
    // Next (step 1) or Back (step -1): the page's answer (on_next, on_back) names the page
    // to go to, its neighbour or none; the page may still refuse to be left.
    void leave_page(int (wizard_page::*answer)(), int step);
    void apply_buttons();
    void move_to(int index, int direction);
    int index_of(const wizard_page* page) const;
    static QWidget* box_owner();
    static QString caption(const char* kind);
    static void run_blocking(const std::function<void()>& fn);

    std::wstring m_title;
    int m_icon_id;
    bool m_has_watermark = false;
    bool m_initialized = false;
    bool m_timer_running = false;
    bool m_closing = false;
    int m_busy = 0;
    bool m_navigating = false;
    bool m_removing = false;
    int m_direction = 1;
    int m_buttons = 0;
    int m_pending_next = -1;
    wizard_page* m_current = nullptr;
    std::vector<wizard_page*> m_pages;
    QTimer m_timer;
};

// Reports the exception being handled (inside a catch block) the way the
// wizard reports errors: a tk_exception through the error handler, anything
// else in the error box. Never throws. For the catch (...) at the edge of
// every slot.
void wizard_report_current_exception() noexcept;

template <class F>
auto wizard_shell::on_window_thread(F&& fn) -> std::invoke_result_t<F&>
{
    using result_t = std::invoke_result_t<F&>;
    if constexpr (std::is_void_v<result_t>) {
        run_blocking([&fn] { fn(); });
    } else {
        std::optional<result_t> result;
        run_blocking([&fn, &result] { result.emplace(fn()); });
        return std::move(*result);
    }
}

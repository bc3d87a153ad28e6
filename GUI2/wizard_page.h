#pragma once
// The template of every wizard page. A concrete page overrides the protocol
// operations below; the shell (wizard_shell) calls them:
//   page_init       each time the page becomes current, in either direction;
//                   false passes the page over in the direction of travel
//   on_kill_active  before the page is left; false keeps it
//   on_next/on_back 0 the neighbouring page, -1 stay, or a dialog template id
//                   to jump to that page
//   on_finish       false keeps the wizard open
//   on_cancel       the cancel question; true closes the wizard
//   on_help         the sheet's Help button or F1
//   on_timer        the progress timer's tick
// Nothing leaves a protocol operation by exception: the shell reports what a
// page throws through the error handler.
//
// Controls are found by object name: a page "page_<idd>", a control
// "ctl_<control id>".

#include <QString>
#include <QWizardPage>

#include <string>

// What the page list says of one page.
struct wizard_page_info {
    int idd;                  // dialog template id
    int buttons;              // wizard_shell::button_* bits set on arrival
    int flags;                // page_has_help, page_hide_header
    const wchar_t* title;     // header title (nullptr: none)
    const wchar_t* subtitle;  // header subtitle
    int help_topic;           // help_none, help_default or a topic number
};

inline constexpr int page_has_help = 0x20;
inline constexpr int page_hide_header = 0x800;
inline constexpr int help_none = -1;    // no help (the finish page)
inline constexpr int help_default = 0;  // the help file's default topic

class wizard_page : public QWizardPage {
    Q_OBJECT
public:
    explicit wizard_page(const wizard_page_info& info, QWidget* parent = nullptr);
    ~wizard_page() override;

    int idd() const noexcept { return m_info.idd; }
    int buttons() const noexcept { return m_info.buttons; }
    int page_flags() const noexcept { return m_info.flags; }
    int help_topic() const noexcept { return m_info.help_topic; }
    bool has_help() const noexcept { return (m_info.flags & page_has_help) != 0; }

    // --- protocol ---
    virtual bool page_init() { return true; }
    virtual bool on_kill_active() { return true; }
    virtual bool on_finish() { return true; }
    // The page's help topic; the default topic for help_default; nothing for help_none.
    virtual void on_help();
    virtual int on_next() { return 0; }
    virtual int on_back() { return 0; }
    virtual bool on_cancel();
    virtual void on_timer() {}

    // Arrival (called by the shell): button mask, window initialisation,
    // current page, page_init. Answers page_init's result.
    bool arrive();

    // --- controls ---
    static QString ctrl_name(int control_id);
    // The control with this id on the page (nullptr when there is none).
    QWidget* ctrl(int control_id) const;
    template <class T>
    T* ctrl_as(int control_id) const
    {
        return findChild<T*>(ctrl_name(control_id));
    }
    // Enables or disables a control; an enabled one gets the keyboard focus.
    void enable_ctrl(int control_id, bool enable);
    void show_ctrl(int control_id, bool show);
    // Checks an unchecked (or partly checked) box, unchecks a checked one.
    void invert_chbox(int control_id);

    // Header texts as QStrings.
    static QString to_qstring(const wchar_t* text);

    bool isComplete() const override;

protected:
    // The shell, for concrete pages (internal error when there is none).
    class wizard_shell& shell() const;

private:
    wizard_page_info m_info;
};

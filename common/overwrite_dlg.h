#pragma once
// The question asked when the destination of a conversion already exists:
// what to do with it. Four choices (overwrite_dlg2) or five with Synchronize
// (overwrite_dlg3); the chosen mode is read after exec() returned Accepted.
//
// Modes, in the order of the radio buttons: 0 overwrite the entire database,
// 1 overwrite existing tables only, 2 skip existing tables, 3 merge,
// 4 synchronize.

#include <QDialog>
#include <string>

class QButtonGroup;

class overwrite_dlg2 : public QDialog {
    Q_OBJECT
public:
    // template_id names the dialog ("dlg_<id>"); the help topic is opened by
    // the Help button.
    overwrite_dlg2(int template_id, std::wstring message, int help_topic, QWidget* owner = nullptr);
    ~overwrite_dlg2() override;

    // The chosen mode: 0 before the dialog ended with OK.
    int get_mode() const noexcept { return m_mode; }
    const std::wstring& get_message() const noexcept { return m_message; }
    int get_help_topic() const noexcept { return m_help_topic; }

protected:
    // For the five-choice form.
    overwrite_dlg2(int template_id, std::wstring message, int help_topic, int choice_count, QWidget* owner);

    void showEvent(QShowEvent* event) override;

private:
    void build(int template_id, int choice_count);
    void on_ok();
    void on_help();

    int m_mode = 0;
    std::wstring m_message;
    int m_help_topic = 0;
    QButtonGroup* m_choices = nullptr;
    bool m_shown = false;
};

class overwrite_dlg3 : public overwrite_dlg2 {
    Q_OBJECT
public:
    overwrite_dlg3(int template_id, std::wstring message, int help_topic, QWidget* owner = nullptr);
};

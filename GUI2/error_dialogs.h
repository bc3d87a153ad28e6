#pragma once
// The two dialogs through which the error handler reports in the wizard:
//   dlg_error_ex        an internal error: OK, "Copy to clipboard" or
//                       "Send bug" (a mail with the text); the program then ends
//   dlg_error_continue  an error after which the user continues or aborts the
//                       conversion, with "&Do not show this dialog box again"
// The dialogs only answer; the error handler decides what follows.

#include <QDialog>

#include <string>

class QCheckBox;

class dlg_error_ex : public QDialog {
    Q_OBJECT
public:
    static constexpr int result_ok = 1;
    static constexpr int result_copied = 1108;
    static constexpr int result_bug_sent = 1112;

    explicit dlg_error_ex(const std::wstring& message, QWidget* parent = nullptr);
    const std::wstring& message() const noexcept { return m_message; }

public slots:
    // Only the three buttons end this dialog.
    void reject() override {}

private:
    void on_copy();
    void on_send_bug();

    std::wstring m_message;
};

class dlg_error_continue : public QDialog {
    Q_OBJECT
public:
    static constexpr int result_abort = 1;
    static constexpr int result_continue = 2;

    explicit dlg_error_continue(const std::wstring& message, QWidget* parent = nullptr);
    bool do_not_show() const noexcept { return m_do_not_show; }

public slots:
    // Escape and the close box continue.
    void reject() override { done(result_continue); }

private:
    std::wstring m_message;
    bool m_do_not_show = false;
    QCheckBox* m_check = nullptr;
};

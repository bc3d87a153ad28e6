#pragma once
// The wizard's help, shown inside the program: the help pages are plain HTML
// beside the program, rendered by a browser widget that follows the links
// between them and jumps to a page's section. Needs nothing of the desktop
// (no web browser, no launcher), so help opens wherever the wizard does.
//
// One window at a time: asking for another page shows it in the open window.
// The window belongs to the window the user is working in (the wizard, or a
// dialog that is open over it), so a modal dialog does not block it.

#include <QDialog>
#include <QPointer>
#include <QUrl>

class QTextBrowser;

class help_window : public QDialog {
    Q_OBJECT
public:
    // Shows the page (a local file URL, optionally with a fragment naming a
    // section) in the help window, creating the window when there is none or
    // when it belongs to another window. Window thread only.
    static help_window* show_page(const QUrl& page, QWidget* owner);
    // The open help window, or nullptr.
    static help_window* current();

    QTextBrowser* browser() const noexcept { return m_browser; }

private:
    explicit help_window(QWidget* owner);
    void open(const QUrl& page);

    QTextBrowser* m_browser = nullptr;
    static QPointer<help_window> s_window;
};

#include "GUI2/off_window.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <exception>
#include <thread>

#include "GUI2/wizard_shell.h"
#include "TK/tk_log.h"

namespace {

// The window's state while the worker runs: disabled, a busy cursor, the
// wizard deaf to Cancel. Everything is put back however the wait ends.
class busy_window {
public:
    explicit busy_window(QWidget* window) : m_window(window)
    {
        m_shell = wizard_shell::try_instance();
        if (m_shell)
            m_shell->set_busy(true);
        m_cursor = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
        if (m_cursor)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        if (m_window) {
            m_focus = QApplication::focusWidget();
            m_was_enabled = m_window->isEnabled();
            m_window->setEnabled(false);
        }
    }
    ~busy_window()
    {
        if (m_window)
            m_window->setEnabled(m_was_enabled);
        if (m_focus && m_focus->isEnabled())
            m_focus->setFocus();
        if (m_cursor)
            QApplication::restoreOverrideCursor();
        if (m_shell)
            m_shell->set_busy(false);
    }
    busy_window(const busy_window&) = delete;
    busy_window& operator=(const busy_window&) = delete;

private:
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_focus;
    QPointer<wizard_shell> m_shell;
    bool m_was_enabled = true;
    bool m_cursor = false;
};

}  // namespace

void run_off_window_void(QWidget* window, const std::function<void()>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        fn();
        return;
    }
    busy_window busy(window);
    // Lives on the window thread: the worker's last act is a queued call to
    // it, which the loop below serves like any other event.
    QObject receiver;
    bool ended = false;
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&receiver, [&ended] { ended = true; }, Qt::QueuedConnection);
    });
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    if (error)
        std::rethrow_exception(error);
}

#pragma once
// Helpers of the wizard's tests (offscreen platform, real test servers):
//   pump / wait_until       let the window thread work while a test waits
//   find_control            a control by object name ("ctl_1016", "page_107")
//   save_picture            a PNG of a widget in <build>/wizard_pictures/
//   modal_answerer          answers the modal boxes and dialogs that appear
//   wizard_fixture          the process objects the pages need: error handler,
//                           conversion object (its remembered settings in a
//                           scratch folder), the shell and the wizard's hooks
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GUI2/wizard_frontend.h"
#include "GUI2/wizard_page.h"
#include "GUI2/wizard_shell.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"
#include "support/scratch_dir.h"
#include "support/test_env.h"

namespace wizard_test {

// Serves the window thread for about ms milliseconds.
inline void pump(int ms = 50)
{
    QElapsedTimer t;
    t.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    } while (t.elapsed() < ms);
}

// Serves the window thread until pred holds or the time is up; answers pred.
inline bool wait_until(const std::function<bool()>& pred, int timeout_ms = 20000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeout_ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

template <class T = QWidget>
T* find_control(QWidget* root, const QString& name)
{
    return root ? root->findChild<T*>(name) : nullptr;
}

// The folder of the pictures: <build>/wizard_pictures.
inline QString picture_folder()
{
    const char* build = std::getenv("QUINDREL_BINARY_DIR");
    QString dir = QString::fromLocal8Bit(build && *build ? build : ".") + QStringLiteral("/wizard_pictures");
    QDir().mkpath(dir);
    return dir;
}

// Saves a PNG of the widget as it is on screen (pass the shell to see the
// whole window), once it is shown and its layout has settled; answers the
// file's path.
inline QString save_picture(QWidget* widget, const QString& name)
{
    if (widget->isVisible()) {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget->window()));
    }
    pump(30);
    const QString path = picture_folder() + QLatin1Char('/') + name + QStringLiteral(".png");
    widget->grab().save(path);
    return path;
}

// The program's folder in the build tree (help pages, type maps).
inline QString program_folder()
{
    const char* dir = std::getenv("PELMORA_PROGRAM_DIR");
    return QString::fromLocal8Bit(dir && *dir ? dir : ".");
}

// What a modal window said when it was answered.
struct seen_window {
    QString object_name;
    QString caption;
    QString text;  // a box's text, or a dialog's control 1320
    bool had_owner = false;
};

// Answers modal windows as they appear, in the order the answers were queued.
// An answer is a function that gets the modal window and closes it (see
// click). Windows seen are recorded. While no answer is queued, windows are
// left alone.
class modal_answerer {
public:
    using answer = std::function<void(QWidget*)>;

    modal_answerer()
    {
        m_timer.setInterval(15);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start();
    }

    void push(answer a) { m_answers.push_back(std::move(a)); }
    // Presses a box's standard button.
    void push(QMessageBox::StandardButton button)
    {
        push([button](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w))
                if (QAbstractButton* b = box->button(button))
                    b->click();
        });
    }
    // Clicks the control with this object name ("ctl_2").
    static answer click(const QString& control_name)
    {
        return [control_name](QWidget* w) {
            if (auto* b = w->findChild<QAbstractButton*>(control_name))
                b->click();
        };
    }

    const std::vector<seen_window>& seen() const noexcept { return m_seen; }
    bool all_answered() const noexcept { return m_answers.empty(); }

private:
    void poll()
    {
        if (m_answers.empty())
            return;
        QWidget* w = QApplication::activeModalWidget();
        // A window is answered once (boxes built on the stack one after the
        // other may share an address, so the mark is on the window itself).
        if (!w || !w->isVisible() || w->property("wizard_test_answered").toBool())
            return;
        w->setProperty("wizard_test_answered", true);
        seen_window s;
        s.object_name = w->objectName();
        s.caption = w->windowTitle();
        s.had_owner = w->parentWidget() != nullptr;
        if (auto* box = qobject_cast<QMessageBox*>(w))
            s.text = box->text();
        else if (auto* l = w->findChild<QLabel*>(QStringLiteral("ctl_1320")))
            s.text = l->text();
        m_seen.push_back(s);
        answer a = std::move(m_answers.front());
        m_answers.pop_front();
        // Answered from the event loop, not from inside this timer tick.
        QTimer::singleShot(0, w, [w, a] { a(w); });
    }

    QTimer m_timer;
    std::deque<answer> m_answers;
    std::vector<seen_window> m_seen;
};

// The process objects a page needs, built per test. The conversion object's
// remembered settings live in a scratch folder (XDG_CONFIG_HOME), never in the
// user's own.
class wizard_fixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_config = std::make_unique<test_env::scratch_dir>("wizard_config");
        const char* old = std::getenv("XDG_CONFIG_HOME");
        m_old_config = old ? old : "";
        m_had_config = old != nullptr;
        setenv("XDG_CONFIG_HOME", m_config->path().c_str(), 1);
        m_handler = std::make_unique<error_handler>(pgs_error_table);
        m_handler->load_err_map(mysql_error_table);
        set_frontend_hooks(&m_frontend);
        m_convertor = std::make_unique<pelmora_convertor>(convertor_form::wizard);
        m_shell = std::make_unique<wizard_shell>(L"Tessalane Test", 501, 311, 312);
    }

    void TearDown() override
    {
        if (m_shell) {
            m_shell->hide();
            m_shell->remove_pages();
        }
        while (!m_pages.empty())
            m_pages.pop_back();
        m_shell.reset();
        m_convertor.reset();
        set_frontend_hooks(nullptr);
        m_handler.reset();
        if (m_had_config)
            setenv("XDG_CONFIG_HOME", m_old_config.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        m_config.reset();
    }

    wizard_shell& shell() { return *m_shell; }
    bool has_shell() const { return m_shell != nullptr; }
    pelmora_convertor& convertor() { return *m_convertor; }
    error_handler& handler() { return *m_handler; }
    const std::string& config_folder() const { return m_config->path(); }

    // Hands a page to the shell; the fixture owns it (destroyed before the shell).
    template <class Page>
    Page* add_page(std::unique_ptr<Page> page)
    {
        Page* p = page.get();
        m_shell->add_page(p);
        m_pages.push_back(std::move(page));
        return p;
    }

    // Shows the wizard (modeless in tests) at its first page.
    void show_wizard()
    {
        m_shell->show();
        pump(50);
    }

    // The page that is current now.
    wizard_page* current() const { return m_shell->current_page(); }

    // Destroys the pages (in reverse) and the shell now, as the program does
    // when the wizard closes.
    void close_wizard()
    {
        if (!m_shell)
            return;
        m_shell->hide();
        m_shell->remove_pages();
        while (!m_pages.empty())
            m_pages.pop_back();
        m_shell.reset();
    }

private:
    std::unique_ptr<test_env::scratch_dir> m_config;
    std::string m_old_config;
    bool m_had_config = false;
    std::unique_ptr<error_handler> m_handler;
    wizard_frontend m_frontend;
    std::unique_ptr<pelmora_convertor> m_convertor;
    std::unique_ptr<wizard_shell> m_shell;
    std::vector<std::unique_ptr<QWidget>> m_pages;
};

}  // namespace wizard_test

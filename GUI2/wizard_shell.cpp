#include "GUI2/wizard_shell.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <mutex>

#include "GUI2/help_window.h"
#include "GUI2/wizard_page.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/error_handler.h"

namespace {

std::mutex g_help_mutex;
std::wstring g_help_folder;  // empty: "help" beside the program

// A plain drawn picture for the sheet's watermark and header areas.
QPixmap drawn_banner(int width, int height)
{
    QPixmap pm(width, height);
    QPainter p(&pm);
    QLinearGradient g(0, 0, width, height);
    g.setColorAt(0.0, QColor(0x1f, 0x4e, 0x79));
    g.setColorAt(1.0, QColor(0x5b, 0x9b, 0xd5));
    p.fillRect(pm.rect(), g);
    return pm;
}

}  // namespace

wizard_shell::wizard_shell(const std::wstring& title, int icon_id, int watermark_id, int header_id,
                           QWidget* parent)
    : QWizard(parent), m_title(title), m_icon_id(icon_id)
{
    tk_write_wlog(1, L"wizard_shell::ctor(%s)", title.c_str());
    setObjectName(QStringLiteral("wizard_shell"));
    setWizardStyle(QWizard::ModernStyle);
    setOption(QWizard::IndependentPages, true);
    setOption(QWizard::HaveHelpButton, true);
    // The watermark goes to the pages without a header (add_page), as on
    // the outer pages of a classic wizard; the header shows the small picture.
    m_has_watermark = watermark_id != 0;
    if (header_id)
        setPixmap(QWizard::LogoPixmap, drawn_banner(48, 48));
    setMinimumSize(600, 440);

    // Next and Back follow the page protocol instead of the sheet's own history.
    for (auto which : {QWizard::NextButton, QWizard::BackButton}) {
        QAbstractButton* b = button(which);
        disconnect(b, nullptr, this, nullptr);
    }
    connect(button(QWizard::NextButton), &QAbstractButton::clicked, this, [this] { go_next(); });
    connect(button(QWizard::BackButton), &QAbstractButton::clicked, this, [this] { go_back(); });
    connect(this, &QWizard::currentIdChanged, this, &wizard_shell::on_current_changed);
    connect(this, &QWizard::helpRequested, this, &wizard_shell::on_help_requested);
    auto* f1 = new QShortcut(QKeySequence::HelpContents, this);
    connect(f1, &QShortcut::activated, this, &wizard_shell::on_help_requested);
    connect(&m_timer, &QTimer::timeout, this, &wizard_shell::on_timer_tick);
}

wizard_shell::~wizard_shell()
{
    tk_write_log(1, "wizard_shell::dtor");
    m_initialized = false;
    m_timer.stop();
    m_timer_running = false;
    remove_pages();
}

// ---------------------------------------------------------------------------
// pages and navigation

void wizard_shell::add_page(wizard_page* page)
{
    const int id = static_cast<int>(m_pages.size());
    m_pages.push_back(page);
    if (m_has_watermark && (page->page_flags() & page_hide_header))
        page->setPixmap(QWizard::WatermarkPixmap, drawn_banner(150, 393));
    setPage(id, page);
}

void wizard_shell::remove_pages()
{
    // Removing the current page makes the sheet restart on another one: that
    // is no arrival, so no page is told.
    m_removing = true;
    for (std::size_t i = 0; i < m_pages.size(); ++i) {
        removePage(static_cast<int>(i));
        m_pages[i]->setParent(nullptr);
    }
    m_pages.clear();
    m_current = nullptr;
    m_removing = false;
}

wizard_page* wizard_shell::page_by_idd(int idd) const
{
    for (wizard_page* p : m_pages)
        if (p->idd() == idd)
            return p;
    return nullptr;
}

int wizard_shell::index_of(const wizard_page* page) const
{
    for (std::size_t i = 0; i < m_pages.size(); ++i)
        if (m_pages[i] == page)
            return static_cast<int>(i);
    return -1;
}

int wizard_shell::nextId() const
{
    // Decides only whether the sheet shows Next or Finish: the last page
    // finishes. Where Next leads is go_next's business.
    const int id = currentId();
    return id + 1 < static_cast<int>(m_pages.size()) ? id + 1 : -1;
}

bool wizard_shell::validateCurrentPage()
{
    return true;
}

void wizard_shell::move_to(int index, int direction)
{
    if (index < 0 || index >= static_cast<int>(m_pages.size()) || index == currentId())
        return;
    m_direction = direction;
    m_navigating = true;
    setCurrentId(index);
    m_navigating = false;
}

void wizard_shell::go_next()
{
    leave_page(&wizard_page::on_next, 1);
}

void wizard_shell::go_back()
{
    leave_page(&wizard_page::on_back, -1);
}

void wizard_shell::leave_page(int (wizard_page::*answer)(), int step)
{
    try {
        const int index = currentId();
        if (index < 0)
            return;
        wizard_page* page = m_pages[index];
        const int r = (page->*answer)();
        if (r == -1)
            return;
        const int target = r == 0 ? index + step : index_of(page_by_idd(r));
        if (target < 0 || target >= static_cast<int>(m_pages.size()))
            return;
        if (!page->on_kill_active())
            return;
        move_to(target, target > index ? 1 : -1);
    } catch (...) {
        wizard_report_current_exception();
    }
}

void wizard_shell::turn_to(int idd)
{
    const int target = index_of(page_by_idd(idd));
    if (target >= 0)
        move_to(target, target > currentId() ? 1 : -1);
}

void wizard_shell::on_current_changed(int id)
{
    if (m_removing || id < 0 || id >= static_cast<int>(m_pages.size()))
        return;
    wizard_page* page = m_pages[id];
    bool shown = true;
    try {
        shown = page->arrive();
    } catch (...) {
        wizard_report_current_exception();
    }
    setOption(QWizard::HaveHelpButton, page->has_help());
    apply_buttons();
    // The sheet settles its own button states after this signal: the page's
    // mask is applied once more when it has.
    QTimer::singleShot(0, this, [this] { apply_buttons(); });
    if (!shown) {
        // Passed over in the direction of travel (once the sheet is done
        // switching to it).
        const int direction = m_direction;
        QTimer::singleShot(0, this, [this, id, direction] {
            if (currentId() == id)
                move_to(id + direction, direction);
        });
    }
}

void wizard_shell::set_wizard_buttons(int mask)
{
    m_buttons = mask;
    apply_buttons();
}

void wizard_shell::apply_buttons()
{
    button(QWizard::BackButton)->setEnabled((m_buttons & button_back) != 0);
    button(QWizard::NextButton)->setEnabled((m_buttons & button_next) != 0);
    button(QWizard::FinishButton)->setEnabled((m_buttons & button_finish) != 0);
}

void wizard_shell::enable_button(int button_id, bool enable)
{
    QAbstractButton* b = nullptr;
    if (button_id == id_cancel)
        b = button(QWizard::CancelButton);
    else if (button_id == id_help)
        b = button(QWizard::HelpButton);
    tk_write_log(2, "wizard_shell::enable_button(%08X)",
                 static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(b)));
    if (b)
        b->setEnabled(enable);
}

void wizard_shell::close_if_page_agrees(bool (wizard_page::*agrees)(), const std::function<void()>& close)
{
    try {
        wizard_page* page = currentId() >= 0 ? m_pages[currentId()] : nullptr;
        if (page && !(page->*agrees)())
            return;
        close();
    } catch (...) {
        wizard_report_current_exception();
    }
}

void wizard_shell::accept()
{
    close_if_page_agrees(&wizard_page::on_finish, [this] { QWizard::accept(); });
}

void wizard_shell::reject()
{
    if (m_closing || is_busy())
        return;
    close_if_page_agrees(&wizard_page::on_cancel, [this] { QWizard::reject(); });
}

// ---------------------------------------------------------------------------
// window

void wizard_shell::initialize_if()
{
    tk_write_log(2, "wizard_shell::initialize_if");
    if (m_initialized)
        return;
    setWindowTitle(QString::fromStdWString(m_title));
    if (m_icon_id)
        setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
    const QRect area = parentWidget() ? parentWidget()->frameGeometry()
                                      : (screen() ? screen()->availableGeometry() : QRect());
    if (area.isValid()) {
        QRect frame = frameGeometry();
        frame.moveCenter(area.center());
        move(frame.topLeft());
    }
    m_initialized = true;
}

bool wizard_shell::is_initialized()
{
    tk_write_log(1, "wizard_shell::is_initialized");
    wizard_shell* sh = try_instance();
    if (!sh) {
        tk_write_log(1, "Before return false");
        return false;
    }
    tk_write_log(1, "Singleton has been initialized");
    return sh->m_initialized;
}

// ---------------------------------------------------------------------------
// timer

void wizard_shell::set_timer(int period_ms)
{
    on_window_thread([this, period_ms] {
        if (m_timer_running)
            throw tk_mail_assertion("g_wiz_sh", 281);
        if (period_ms <= 0)
            throw tk_mail_assertion("g_wiz_sh", 289);
        m_timer.start(period_ms);
        m_timer_running = true;
    });
}

void wizard_shell::kill_timer()
{
    on_window_thread([this] {
        if (m_timer_running) {
            m_timer.stop();
            m_timer_running = false;
        }
    });
}

void wizard_shell::on_timer_tick()
{
    const int id = currentId();
    if (id < 0 || id >= static_cast<int>(m_pages.size()))
        return;
    try {
        m_pages[id]->on_timer();
    } catch (...) {
        wizard_report_current_exception();
    }
}

// ---------------------------------------------------------------------------
// boxes and the log box

QWidget* wizard_shell::box_owner()
{
    return is_initialized() ? try_instance() : nullptr;
}

QString wizard_shell::caption(const char* kind)
{
    if (is_initialized())
        return QString::fromStdWString(try_instance()->m_title) + QLatin1Char(' ') + QLatin1String(kind);
    return QLatin1String(kind);
}

void wizard_shell::run_blocking(const std::function<void()>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        app,
        [&fn, &error] {
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
}

void wizard_shell::error(const std::wstring& text)
{
    tk_write_wlog(1, L"wizard_shell::error(%s)", text.c_str());
    on_window_thread([&text] {
        QMessageBox box(QMessageBox::Critical, caption("Error"), QString::fromStdWString(text), QMessageBox::Ok,
                        box_owner());
        box.setObjectName(QStringLiteral("box_error"));
        box.exec();
    });
    tk_write_wlog(3, L"%s", text.c_str());
}

void wizard_shell::error_ansi(const std::string& text)
{
    error(tk_ansi_to_unicode(text));
}

void wizard_shell::message(const std::wstring& text)
{
    tk_write_wlog(1, L"wizard_shell::message(%s)", text.c_str());
    on_window_thread([&text] {
        QMessageBox box(QMessageBox::Information, caption("Message"), QString::fromStdWString(text),
                        QMessageBox::Ok, box_owner());
        box.setObjectName(QStringLiteral("box_message"));
        box.exec();
    });
    tk_write_wlog(3, L"%s", text.c_str());
}

bool wizard_shell::question(const std::wstring& text, bool default_no)
{
    return on_window_thread([&text, default_no] {
        QMessageBox box(QMessageBox::Question, caption("Question"), QString::fromStdWString(text),
                        QMessageBox::Yes | QMessageBox::No, box_owner());
        box.setObjectName(QStringLiteral("box_question"));
        box.setDefaultButton(default_no ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes;
    });
}

std::string wizard_shell::as_paragraph(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

void wizard_shell::write_log(const std::wstring& text)
{
    tk_write_wlog(1, L"wizard_shell::write_log(%s)", text.c_str());
    on_window_thread([this, &text] {
        if (!m_current)
            return;
        auto* box = m_current->ctrl_as<QPlainTextEdit>(log_box_id);
        if (!box) {
            tk_write_log(1, "Editbox failed to be initialized");
            return;
        }
        QString line = QString::fromStdWString(text);
        line.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        if (box->document()->characterCount() + line.size() > log_box_limit)
            return;
        QTextCursor cursor = box->textCursor();
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(line);
        box->setTextCursor(cursor);
        box->ensureCursorVisible();
    });
}

// ---------------------------------------------------------------------------
// help

namespace {

struct help_topic_file {
    int topic;
    const wchar_t* file;
};

constexpr help_topic_file help_topic_files[] = {
    {1010, L"postgresql_settings.html"}, {1015, L"tables.html"},
    {1016, L"databases.html"},           {1017, L"mysql_settings.html"},
    {1019, L"custom_query.html"},        {1020, L"views.html"},
    {1021, L"welcome.html"},             {1022, L"mysql_authentication.html"},
    {1023, L"conversion_settings.html"}, {1024, L"types_map.html"},
    {1030, L"ssl_settings.html"},        {1012, L"databases.html#overwrite"},
};

constexpr const wchar_t* help_index_file = L"index.html";

bool is_plain_file(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

}  // namespace

void wizard_shell::set_help_folder(const std::wstring& folder)
{
    std::lock_guard<std::mutex> lock(g_help_mutex);
    g_help_folder = folder;
}

std::wstring wizard_shell::help_folder()
{
    {
        std::lock_guard<std::mutex> lock(g_help_mutex);
        if (!g_help_folder.empty())
            return g_help_folder;
    }
    return (QCoreApplication::applicationDirPath() + QStringLiteral("/help")).toStdWString();
}

std::wstring wizard_shell::help_file_of(int topic)
{
    for (const auto& entry : help_topic_files)
        if (entry.topic == topic)
            return entry.file;
    return help_index_file;
}

namespace {

// The page to open (a topic may name a section of its page after '#'), or an
// empty address when the help folder (or its index) is missing.
QUrl help_page_url(int topic)
{
    const QString folder = QString::fromStdWString(wizard_shell::help_folder());
    const QString index = folder + QLatin1Char('/') + QString::fromWCharArray(help_index_file);
    if (topic > 0) {
        const QString file = QString::fromStdWString(wizard_shell::help_file_of(topic));
        const qsizetype hash = file.indexOf(QLatin1Char('#'));
        const QString page = folder + QLatin1Char('/') + (hash < 0 ? file : file.left(hash));
        if (is_plain_file(page)) {
            QUrl url = QUrl::fromLocalFile(page);
            if (hash >= 0)
                url.setFragment(file.mid(hash + 1));
            return url;
        }
    }
    return is_plain_file(index) ? QUrl::fromLocalFile(index) : QUrl();
}

void open_help(int topic)
{
    const QUrl url = help_page_url(topic);
    if (url.isEmpty()) {
        wizard_shell::error(L"Help file does not exist. Reinstall the program.");
        return;
    }
    wizard_shell::on_window_thread([&url] {
        // Over an open dialog (Add Query, Edit Table) the help belongs to
        // that dialog, which would otherwise block it.
        QWidget* owner = QApplication::activeModalWidget();
        if (!owner)
            owner = wizard_shell::try_instance();
        help_window::show_page(url, owner);
    });
}

}  // namespace

void wizard_shell::display_help(int topic)
{
    tk_write_log(1, "wizard_shell::display_help(%d)", topic);
    open_help(topic);
}

void wizard_shell::display_help()
{
    tk_write_log(1, "wizard_shell::display_help");
    open_help(0);
}

void wizard_shell::on_help_requested()
{
    const int id = currentId();
    if (id < 0 || id >= static_cast<int>(m_pages.size()))
        return;
    try {
        m_pages[id]->on_help();
    } catch (...) {
        wizard_report_current_exception();
    }
}

// ---------------------------------------------------------------------------

void wizard_report_current_exception() noexcept
{
    try {
        try {
            throw;
        } catch (const tk_exception& e) {
            if (error_handler* h = error_handler::try_instance())
                h->handle(e, false);
            else
                wizard_shell::error_ansi(e.what());
        } catch (const tk_final_exception&) {
            // the user aborted: nothing more to say
        } catch (const std::exception& e) {
            wizard_shell::error_ansi(e.what());
        }
    } catch (...) {
        // A report that itself failed (or an Abort answered in it) has been
        // shown or traced already; nothing may leave a slot.
        tk_write_log(3, "An error could not be reported");
    }
}

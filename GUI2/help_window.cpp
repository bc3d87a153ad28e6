#include "GUI2/help_window.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

QPointer<help_window> help_window::s_window;

help_window::help_window(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("help_window"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    // A window of its own with the usual frame, beside the wizard.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);

    m_browser = new QTextBrowser(this);
    m_browser->setObjectName(QStringLiteral("help_browser"));
    m_browser->setOpenLinks(true);
    // Pages of the help are followed here; only an address on the web goes
    // to the desktop.
    m_browser->setOpenExternalLinks(true);

    auto* back = new QPushButton(QStringLiteral("&Back"), this);
    back->setObjectName(QStringLiteral("help_back"));
    auto* forward = new QPushButton(QStringLiteral("&Forward"), this);
    forward->setObjectName(QStringLiteral("help_forward"));
    auto* contents = new QPushButton(QStringLiteral("&Contents"), this);
    contents->setObjectName(QStringLiteral("help_contents"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, m_browser, &QTextBrowser::forward);
    // The help folder's index, beside whatever page is shown.
    connect(contents, &QPushButton::clicked, this, [this] {
        const QUrl shown = m_browser->source();
        if (shown.isLocalFile())
            m_browser->setSource(shown.resolved(QUrl(QStringLiteral("index.html"))));
    });
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = m_browser->documentTitle();
        setWindowTitle(title.isEmpty() ? QStringLiteral("Help") : title + QStringLiteral(" - Help"));
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);

    auto* row = new QHBoxLayout;
    row->addWidget(back);
    row->addWidget(forward);
    row->addWidget(contents);
    row->addStretch(1);
    row->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser, 1);
    layout->addLayout(row);
    resize(640, 520);
}

help_window* help_window::current()
{
    return s_window.data();
}

help_window* help_window::show_page(const QUrl& page, QWidget* owner)
{
    if (s_window && s_window->parentWidget() != owner) {
        s_window->close();
        s_window = nullptr;
    }
    if (!s_window)
        s_window = new help_window(owner);
    s_window->open(page);
    s_window->show();
    s_window->raise();
    s_window->activateWindow();
    return s_window.data();
}

void help_window::open(const QUrl& page)
{
    m_browser->setSource(page);
}

#include "pmr_shel/welcome_page.h"

#include <QButtonGroup>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "GUI2/wizard_shell.h"
#include "TK/tk_log.h"
#include "driver/pelmora_convertor.h"
#include "pmr_shel/wizard_pages.h"

namespace {

constexpr int id_title = 1337;
constexpr int id_bold = 1340;
constexpr int id_load = 1115;
constexpr int id_direct = 1329;
constexpr int id_script = 1330;
constexpr int id_link = 1320;

// The radio buttons' ids in the group are the direct flag's values.
constexpr int choice_script = 0;
constexpr int choice_direct = 1;

QLabel* plain_text(const char* text, QWidget* parent)
{
    return new QLabel(QString::fromUtf8(text), parent);
}

}  // namespace

welcome_page::welcome_page(const std::wstring& profile_extension, QWidget* parent)
    : wizard_page(welcome_page_info, parent), welcome_page_t(profile_extension)
{
    auto* layout = new QVBoxLayout(this);

    auto* title = plain_text("Welcome to Tessalane\nDatabase Migration Wizard\n", this);
    title->setObjectName(ctrl_name(id_title));
    QFont title_font = title->font();
    title_font.setPointSize(13);
    title->setFont(title_font);
    layout->addWidget(title);

    layout->addWidget(plain_text("This wizard helps you to migrate MySQL or MariaDB\n"
                                 "database to PostgreSQL server.",
                                 this));
    layout->addSpacing(8);

    auto* bold = plain_text("Before starting migration please check:", this);
    bold->setObjectName(ctrl_name(id_bold));
    QFont bold_font = bold->font();
    bold_font.setBold(true);
    bold->setFont(bold_font);
    layout->addWidget(bold);
    layout->addWidget(plain_text("- you can connect to source and target database servers\n"
                                 "- you have sufficient privileges to read MySQL schema\n"
                                 "  information and data, create objects and insert data on\n"
                                 "  the target PostgreSQL server",
                                 this));
    layout->addSpacing(8);

    auto* load = new QPushButton(QStringLiteral("&Load profile..."), this);
    load->setObjectName(ctrl_name(id_load));
    load->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    layout->addWidget(load);
    connect(load, &QPushButton::clicked, this, [this] {
        try {
            on_load(this);
        } catch (...) {
            wizard_report_current_exception();
        }
    });
    layout->addSpacing(8);

    layout->addWidget(plain_text("Select conversion scenario:", this));
    m_scenario = new QButtonGroup(this);
    auto* direct = new QRadioButton(QStringLiteral("&Migrate to PostgreSQL server directly"), this);
    direct->setObjectName(ctrl_name(id_direct));
    auto* script = new QRadioButton(QStringLiteral("&Export into PostgreSQL script file"), this);
    script->setObjectName(ctrl_name(id_script));
    m_scenario->addButton(direct, choice_direct);
    m_scenario->addButton(script, choice_script);
    layout->addWidget(direct);
    layout->addWidget(script);
    layout->addStretch(1);

    auto* link = new QLabel(QStringLiteral("<a href=\"https://quorvane.example.com/\">Quorvane Software</a>"), this);
    link->setObjectName(ctrl_name(id_link));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
    link->setOpenExternalLinks(true);
    layout->addWidget(link);
}

welcome_page::~welcome_page() = default;

bool welcome_page::page_init()
{
    tk_write_log(1, "welcome_page::page_init");
    update_from_cvt();
    return true;
}

void welcome_page::update_from_cvt()
{
    tk_write_log(1, "welcome_page::update_from_cvt");
    const pelmora_convertor& cvt = *pelmora_convertor::instance();
    m_scenario->button(cvt.b_direct ? choice_direct : choice_script)->setChecked(true);
}

int welcome_page::on_next()
{
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    cvt.b_direct = m_scenario->checkedId() == choice_direct;
    tk_write_log(1, "settind direct_mode to %d", cvt.b_direct ? 1 : 0);
    number_steps(shell().pages(), cvt.b_direct);
    return 0;
}

bool welcome_page::load_profile_file(const std::wstring& path)
{
    // A profile holds a whole choice: it replaces the lists of an earlier one (or of the
    // user's earlier visit to the tables pages) instead of adding to them. A profile that
    // does not load leaves the user's lists as they were.
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    auto query_list = std::move(cvt.query_list);
    auto available_queries = std::move(cvt.available_queries);
    auto selected_tables = std::move(cvt.selected_tables);
    auto selected_views = std::move(cvt.selected_views);
    auto restore = [&] {
        cvt.query_list = std::move(query_list);
        cvt.available_queries = std::move(available_queries);
        cvt.selected_tables = std::move(selected_tables);
        cvt.selected_views = std::move(selected_views);
    };
    cvt.query_list.clear();
    cvt.available_queries.clear();
    cvt.selected_tables.clear();
    cvt.selected_views.clear();
    bool loaded = false;
    try {
        loaded = cvt.load_profile_file(path);
    } catch (...) {
        restore();
        throw;
    }
    if (!loaded)
        restore();
    return loaded;
}

#include "pmr_shel/conversion_settings_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "GUI2/off_window.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/pelmora_convertor.h"
#include "pg_target/pgs_validators.h"
#include "pmr_shel/wizard_pages.h"

namespace {

constexpr int id_use_existing = 1329;
constexpr int id_create_new = 1330;
constexpr int id_schema_list = 1302;
constexpr int id_new_schema = 1004;
constexpr int id_tables = 1303;
constexpr int id_insert = 1304;
constexpr int id_definitions_only = 1228;
constexpr int id_case_sensitive = 1202;

constexpr int choice_existing = 0;
constexpr int choice_new = 1;

}  // namespace

conversion_settings::conversion_settings(QWidget* parent) : wizard_page(conversion_settings_info, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("On this page you can specify PostgreSQL schema and conversion settings."), this));

    auto* schema = new QGroupBox(QStringLiteral(" PostgreSQL Schema: "), this);
    auto* schema_grid = new QGridLayout(schema);
    auto* existing = new QRadioButton(QStringLiteral("&Use existing:"), schema);
    existing->setObjectName(ctrl_name(id_use_existing));
    m_schema_box = new QComboBox(schema);
    m_schema_box->setObjectName(ctrl_name(id_schema_list));
    auto* create = new QRadioButton(QStringLiteral("C&reate new:"), schema);
    create->setObjectName(ctrl_name(id_create_new));
    auto* new_schema = new QLineEdit(schema);
    new_schema->setObjectName(ctrl_name(id_new_schema));
    schema_grid->addWidget(existing, 0, 0);
    schema_grid->addWidget(m_schema_box, 0, 1);
    schema_grid->addWidget(create, 1, 0);
    schema_grid->addWidget(new_schema, 1, 1);
    schema_grid->setColumnStretch(1, 1);
    m_schema_choice = new QButtonGroup(this);
    m_schema_choice->addButton(existing, choice_existing);
    m_schema_choice->addButton(create, choice_new);
    layout->addWidget(schema);

    auto* statements = new QGroupBox(QStringLiteral(" PostgreSQL Statements: "), this);
    auto* statements_grid = new QGridLayout(statements);
    auto add_combo = [statements, statements_grid](int row, const QString& label, int id) {
        auto* caption = new QLabel(label, statements);
        auto* box = new QComboBox(statements);
        box->setObjectName(wizard_page::ctrl_name(id));
        caption->setBuddy(box);
        statements_grid->addWidget(caption, row, 0);
        statements_grid->addWidget(box, row, 1);
        return box;
    };
    m_tables_box = add_combo(0, QStringLiteral("Create &tables:"), id_tables);
    m_insert_box = add_combo(1, QStringLiteral("&Insert data using:"), id_insert);
    // Filled here, so that each box is laid out as wide as its longest item.
    m_tables_box->addItems({QStringLiteral("LOGGED"), QStringLiteral("UNLOGGED")});
    m_insert_box->addItems({QStringLiteral("COPY"), QStringLiteral("INSERT")});
    for (QComboBox* box : {m_tables_box, m_insert_box})
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    statements_grid->setColumnStretch(2, 1);
    layout->addWidget(statements);

    auto* definitions_only = new QCheckBox(QStringLiteral("&Do not migrate the data"), this);
    definitions_only->setObjectName(ctrl_name(id_definitions_only));
    auto* case_sensitive = new QCheckBox(QStringLiteral("&Make names case sensitive"), this);
    case_sensitive->setObjectName(ctrl_name(id_case_sensitive));
    layout->addWidget(definitions_only);
    layout->addWidget(case_sensitive);
    layout->addStretch(1);

    connect(m_schema_choice, &QButtonGroup::idClicked, this, [this] { follow_schema_choice(); });
}

conversion_settings::~conversion_settings() = default;

void conversion_settings::follow_schema_choice()
{
    enable_ctrl(id_schema_list, m_schema_choice->checkedId() == choice_existing);
    enable_ctrl(id_new_schema, m_schema_choice->checkedId() == choice_new);
}

bool conversion_settings::page_init()
{
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    ctrl_as<QCheckBox>(id_definitions_only)->setChecked(cvt.tab_def);
    ctrl_as<QCheckBox>(id_case_sensitive)->setChecked(cvt.b_case_sens);

    const std::wstring destination = cvt.get_destination();
    const std::wstring schema = cvt.pgs_schema;
    const bool list_schemas =
        cvt.b_direct && (m_listed_database.empty() || !tk_equal_no_case(m_listed_database, destination));
    std::vector<std::wstring> listed;
    bool schema_exists = false;
    if (cvt.b_direct) {
        run_off_window(window(), [&] {
            if (list_schemas)
                listed = cvt.get_pgs_schemas(destination);
            schema_exists = cvt.is_schema_exist(destination, schema);
        });
    }
    if (list_schemas) {
        m_schema_names = std::move(listed);
        m_schema_box->clear();
        for (const std::wstring& name : m_schema_names) {
            tk_write_wlog(1, L"Add existing schema: %s", name.c_str());
            m_schema_box->addItem(QString::fromStdWString(name));
        }
        m_listed_database = destination;
    }

    if (cvt.b_direct && schema_exists) {
        tk_write_wlog(1, L"Existing schema: %s", schema.c_str());
        m_schema_choice->button(choice_existing)->setChecked(true);
        if (!schema.empty()) {
            const QString wanted = QString::fromStdWString(schema);
            for (int i = 0; i < m_schema_box->count(); ++i) {
                if (m_schema_box->itemText(i).startsWith(wanted, Qt::CaseInsensitive)) {
                    m_schema_box->setCurrentIndex(i);
                    break;
                }
            }
        }
    } else {
        tk_write_wlog(1, L"New schema: %s", schema.c_str());
        m_schema_choice->button(choice_new)->setChecked(true);
        ctrl_as<QLineEdit>(id_new_schema)->setText(QString::fromStdWString(schema));
    }
    follow_schema_choice();

    // Shown from the settings on every arrival: a profile loaded since the
    // last visit decides them.
    m_tables_box->setCurrentIndex(cvt.get_pgs_engine().unlogged ? 1 : 0);
    m_insert_box->setCurrentIndex(cvt.get_pgs_engine().fast_insert ? 0 : 1);
    return true;
}

void conversion_settings::store_file_info()
{
    tk_write_log(1, "conversion_settings::store_file_info");
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    pgs_engine& engine = cvt.get_pgs_engine();
    cvt.tab_def = ctrl_as<QCheckBox>(id_definitions_only)->isChecked();
    // Skip-indexes has no control on this page: it keeps the value a profile
    // or the remembered settings gave it.
    cvt.b_case_sens = ctrl_as<QCheckBox>(id_case_sensitive)->isChecked();
    engine.is_case_sens = cvt.b_case_sens;

    std::wstring schema;
    if (m_schema_choice->checkedId() == choice_existing) {
        schema = m_schema_box->currentText().toStdWString();
        if (schema.empty())
            tk_write_log(2, "Failed to exract text of selected item");
    } else if (m_schema_choice->checkedId() == choice_new) {
        schema = ctrl_as<QLineEdit>(id_new_schema)->text().toStdWString();
    }
    cvt.set_pgs_schema(schema);

    engine.unlogged = m_tables_box->currentIndex() == 1;
    engine.fast_insert = m_insert_box->currentIndex() == 0;
}

std::wstring conversion_settings::schema_name_problem(const std::wstring& schema)
{
    // Table names travel as schema.table and are split at the first '.': a
    // schema name holding one would put the tables elsewhere, under other names.
    if (schema.find(L'.') != std::wstring::npos)
        return L"Invalid schema name '" + tk_visible_text(std::wstring_view(schema)) +
               L"': a schema name is one name and cannot hold a '.'.";
    // The server would cut a longer name to the name of another schema.
    if (!pgs_engine::name_fits(schema))
        return L"The schema name '" + tk_visible_text(std::wstring_view(schema)) + L"' is " +
               std::to_wstring(tk_unicode_to_utf8(schema).size()) + L" bytes long: PostgreSQL keeps " +
               std::to_wstring(pgs_max_name_bytes) + L" bytes of a name, and the shorter name may be another "
               L"schema's. Choose a shorter name.";
    return std::wstring();
}

int conversion_settings::on_next()
{
    store_file_info();
    const std::wstring problem = schema_name_problem(pelmora_convertor::instance()->pgs_schema);
    if (!problem.empty()) {
        wizard_shell::error(problem);
        return -1;
    }
    return 0;
}

int conversion_settings::on_back()
{
    store_file_info();
    return 0;
}

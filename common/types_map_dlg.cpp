#include "common/types_map_dlg.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <exception>
#include <filesystem>
#include <limits>

#include "GUI2/wizard_shell.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

namespace {

constexpr int help_topic = 1024;
constexpr int check_column = 0;
constexpr int name_column = 1;
constexpr int type_column = 2;
constexpr int default_column = 3;
const wchar_t* const empty_name_text = L"Name cannot be empty. Try again.";

QString q(const std::wstring& text) { return QString::fromStdWString(text); }

// The list of a key, found exactly or else ignoring case.
const std::vector<std::wstring>* find_key(const tk_list_map& map, const std::wstring& key)
{
    auto it = map.find(key);
    if (it != map.end())
        return &it->second;
    for (const auto& [k, items] : map)
        if (tk_equal_no_case(k, key))
            return &items;
    return nullptr;
}

QString number_text(long long n) { return n == -1 ? QString() : QString::number(n); }

void throw_missing(const char* file_name)
{
    throw tk_exception(std::string("Cannot find ") + file_name + ". Custom type mapping is not available.", 1);
}

}  // namespace

bool types_map_row::same_values(const types_map_row& that) const
{
    return new_name == that.new_name && type == that.type && default_value == that.default_value &&
           length == that.length && scale == that.scale && precision == that.precision;
}

std::wstring types_map_bare_type(const std::wstring& type)
{
    std::wstring bare;
    int depth = 0;
    for (wchar_t c : type) {
        if (c == L'(')
            ++depth;
        else if (c == L')' && depth > 0)
            --depth;
        else if (depth == 0 && !(c == L' ' && (bare.empty() || bare.back() == L' ')))
            bare += c;
    }
    while (!bare.empty() && bare.back() == L' ')
        bare.pop_back();
    return bare;
}

type_map_files& type_map_files::instance()
{
    static type_map_files files = [] {
        type_map_files f;
        const std::string program_folder = QCoreApplication::applicationDirPath().toStdString();
        f.folders.push_back(program_folder);
        f.folders.push_back(program_folder + "/../share/pelmora");
        return f;
    }();
    return files;
}

bool type_map_files::load(tk_list_map& map, const char* file_name, const std::set<std::wstring>& exclusions) const
{
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + file_name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(path, ec))
            return tk_yaml_config::load(map, path, exclusions);
    }
    return false;
}

// ---------------------------------------------------------------------------

types_map_dlg::types_map_dlg(pgs_db_mutator& mutator, std::wstring table_name, udb_schema schema, QWidget* parent)
    : QDialog(parent), m_mutator(mutator), m_table_name(std::move(table_name)), m_schema(std::move(schema))
{
    tk_write_log(1, "types_map_dlg::types_map_dlg");
    build_controls();
}

types_map_dlg::~types_map_dlg()
{
    // The list and the type box outlive this part of the object while the
    // widget base deletes them, and may still signal (the list's current
    // item goes as it empties).
    disconnect(m_list, nullptr, this, nullptr);
    disconnect(m_type_box, nullptr, this, nullptr);
}

void types_map_dlg::build_controls()
{
    setObjectName("dlg_135");
    setWindowTitle("Edit Table");

    m_list = new QTreeWidget(this);
    m_list->setObjectName("ctl_1316");
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setColumnCount(4);
    m_list->setHeaderLabels({QString(), "Field Name", "Field Type", "Default value"});

    auto label = [this](const char* text, QWidget* buddy) {
        auto* l = new QLabel(text, this);
        l->setBuddy(buddy);
        return l;
    };
    auto edit = [this](const char* name) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        return e;
    };

    auto* table_group = new QGroupBox(" Table info ", this);
    m_table_box = edit("ctl_1003");
    auto* table_layout = new QHBoxLayout(table_group);
    table_layout->addWidget(label("&Name:", m_table_box));
    table_layout->addWidget(m_table_box, 1);

    auto* field_group = new QGroupBox(" Field info ", this);
    m_name_box = edit("ctl_1004");
    m_type_box = new QComboBox(this);
    m_type_box->setObjectName("ctl_1302");
    m_default_box = edit("ctl_1005");
    m_length_box = edit("ctl_1006");
    m_precision_box = edit("ctl_1007");
    m_scale_box = edit("ctl_1008");
    m_length_label = label("&Length:", m_length_box);
    m_length_label->setObjectName("ctl_1340");
    m_precision_label = label("&Prec.:", m_precision_box);
    m_precision_label->setObjectName("ctl_1341");
    m_scale_label = label("&Scale:", m_scale_box);
    m_scale_label->setObjectName("ctl_1342");
    auto* field_layout = new QGridLayout(field_group);
    field_layout->addWidget(label("N&ame:", m_name_box), 0, 0);
    field_layout->addWidget(m_name_box, 0, 1, 1, 5);
    field_layout->addWidget(label("&Type:", m_type_box), 1, 0);
    field_layout->addWidget(m_type_box, 1, 1, 1, 5);
    field_layout->addWidget(label("&Default:", m_default_box), 2, 0);
    field_layout->addWidget(m_default_box, 2, 1, 1, 5);
    field_layout->addWidget(m_length_label, 3, 0);
    field_layout->addWidget(m_length_box, 3, 1);
    field_layout->addWidget(m_precision_label, 3, 2);
    field_layout->addWidget(m_precision_box, 3, 3);
    field_layout->addWidget(m_scale_label, 3, 4);
    field_layout->addWidget(m_scale_box, 3, 5);
    field_layout->setRowStretch(4, 1);
    m_precision_label->hide();
    m_precision_box->hide();
    m_scale_label->hide();
    m_scale_box->hide();

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Ok)->setObjectName("ctl_1");
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName("ctl_2");
    QPushButton* help = buttons->addButton(QDialogButtonBox::Help);
    help->setObjectName("ctl_9");
    connect(buttons, &QDialogButtonBox::accepted, this, &types_map_dlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &types_map_dlg::reject);
    connect(help, &QPushButton::clicked, this, [] {
        try {
            wizard_shell::instance()->display_help(help_topic);
        } catch (...) {
            wizard_report_current_exception();
        }
    });

    auto* right = new QVBoxLayout;
    right->addWidget(table_group);
    right->addWidget(field_group, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(m_list, 3);
    top->addLayout(right, 2);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addWidget(buttons);
    resize(760, 380);

    connect(m_list, &QTreeWidget::currentItemChanged, this, &types_map_dlg::on_current_changed);
    connect(m_list, &QTreeWidget::itemChanged, this, &types_map_dlg::on_item_changed);
    connect(m_type_box, &QComboBox::currentIndexChanged, this, &types_map_dlg::on_type_changed);
}

void types_map_dlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_init_done)
        return;
    m_init_done = true;
    try {
        on_init();
    } catch (...) {
        // A missing type-map file: nothing can be offered; the dialog ends
        // once its error was shown.
        m_ended = true;
        std::exception_ptr error = std::current_exception();
        QMetaObject::invokeMethod(
            this,
            [this, error] {
                try {
                    std::rethrow_exception(error);
                } catch (const tk_exception& e) {
                    wizard_shell::error_ansi(e.what());
                } catch (...) {
                    wizard_report_current_exception();
                }
                done(QDialog::Rejected);
            },
            Qt::QueuedConnection);
    }
}

void types_map_dlg::on_init()
{
    tk_write_log(1, "types_map_dlg::on_init");
    m_initialised = false;
    m_ended = false;
    m_table_box->setText(q(m_table_name));
    load_from_mutator();

    {
        QSignalBlocker block(m_list);
        m_list->clear();
        for (const udb_schema::column_ptr& column : m_schema.columns())
            add_item(*column);
        for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
            auto it = m_rows.find(column_name(i));
            const bool deleted = it != m_rows.end() && it->second.status == 2;
            m_list->topLevelItem(i)->setCheckState(check_column, deleted ? Qt::Unchecked : Qt::Checked);
        }
        for (int c = 0; c < 4; ++c)
            m_list->resizeColumnToContents(c);
        if (m_list->topLevelItemCount() > 0)
            m_list->setCurrentItem(m_list->topLevelItem(0));
    }
    if (m_list->topLevelItemCount() > 0) {
        m_list->scrollToItem(m_list->topLevelItem(0));
        m_list->setFocus();
        set_available_conversions(0);
        show_row(0);
        show_ctrl();
    }
    m_initialised = true;
}

void types_map_dlg::load_from_mutator()
{
    const pgs_table_mutator* tm = get_table_mutator3(m_mutator, m_table_name);
    if (!tm) {
        m_shown_name = m_table_name;
    } else {
        m_shown_name = tm->get_new_name();
        for (const auto& [source, fm] : tm->get_field_mutators()) {
            const pgs_native_type& n = fm->get_native_type();
            types_map_row row;
            row.new_name = fm->get_new_name();
            row.type = n.type;
            row.default_value = n.default_value;
            row.character_set = n.character_set;
            row.length = static_cast<std::int64_t>(
                std::min<std::uint64_t>(n.length, std::numeric_limits<std::int64_t>::max()));
            row.scale = n.scale;
            row.precision = n.precision;
            row.status = fm->get_status() == udb_mutators::deleted ? 2 : 1;
            m_rows.emplace(source, row);
        }
    }
    m_table_box->setText(q(m_shown_name));
}

void types_map_dlg::add_item(t_ftd& column)
{
    tk_write_log(1, "types_map_dlg::add_item");
    pgs_native_type native;
    m_mutator.get_default_type(column, native);
    tk_write_wlog(1, L"Column name: '%s'", column.name.c_str());
    auto* item = new QTreeWidgetItem(m_list);
    item->setText(name_column, q(column.name));
    item->setText(type_column, q(column.nativetype));
    item->setText(default_column, q(native.default_value));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    m_defaults.emplace(column.name, native);
    // A column edited before shows its edited type.
    auto it = m_rows.find(column.name);
    if (it != m_rows.end()) {
        item->setText(name_column, q(it->second.new_name));
        item->setText(type_column, q(pgs_get_native_type2(native_of(it->second))));
        item->setText(default_column, q(it->second.default_value));
    }
}

int types_map_dlg::row_of(QTreeWidgetItem* item) const { return item ? m_list->indexOfTopLevelItem(item) : -1; }

const std::wstring& types_map_dlg::column_name(int row) const
{
    if (row < 0 || static_cast<std::size_t>(row) >= m_schema.size())
        throw tk_mail_assertion("map_list", 233);
    return m_schema[static_cast<std::size_t>(row)].name;
}

types_map_row types_map_dlg::default_row(int row) const
{
    const std::wstring& name = column_name(row);
    types_map_row r;
    r.new_name = name;
    auto it = m_defaults.find(name);
    if (it == m_defaults.end())
        return r;
    const pgs_native_type& d = it->second;
    // The whole type: a size written into its name ("TIMESTAMP(0)") stays
    // while the user keeps the type.
    r.type = d.type;
    r.default_value = d.default_value;
    r.character_set = d.character_set;
    r.length = d.length < 65536 ? static_cast<std::int64_t>(d.length) : -1;
    r.scale = d.scale;
    r.precision = d.precision;
    return r;
}

types_map_row types_map_dlg::current_row(int row) const
{
    auto it = m_rows.find(column_name(row));
    return it != m_rows.end() ? it->second : default_row(row);
}

pgs_native_type types_map_dlg::native_of(const types_map_row& values) const
{
    // A size the user left empty is no size: the column keeps no limit.
    pgs_native_type n;
    n.type = values.type;
    n.default_value = values.default_value;
    n.character_set = values.character_set;
    n.length = values.length > 0 ? static_cast<std::uint64_t>(values.length) : 0;
    n.scale = values.scale > 0 ? values.scale : 0;
    n.precision = values.precision > 0 ? values.precision : 0;
    return n;
}

void types_map_dlg::set_available_conversions(int row)
{
    tk_write_log(1, "types_map_dlg::set_available_conversions(%d)", row);
    tk_write_log(1, "schema.size()=%d", static_cast<int>(m_schema.size()));
    const std::wstring type = types_map_bare_type(current_row(row).type);
    tk_write_wlog(1, L"selected_field_type.type=%s", type.c_str());
    type_map_files& files = type_map_files::instance();
    if (files.types_map.empty()) {
        tk_write_log(1, "Gonna load typesmap.cfg");
        if (!files.load(files.types_map, pgs_db_mutator::get_map_name(), m_mutator.get_types_map()))
            throw_missing(pgs_db_mutator::get_map_name());
        tk_write_log(1, "types_map.size=%d", static_cast<int>(files.types_map.size()));
    }
    QSignalBlocker block(m_type_box);
    m_type_box->clear();
    if (const auto* items = find_key(files.types_map, type)) {
        for (const std::wstring& t : *items) {
            tk_write_wlog(1, L"Adding->%s", t.c_str());
            m_type_box->addItem(q(t));
        }
    }
    m_type_box->setCurrentIndex(-1);
}

void types_map_dlg::select_type(const std::wstring& type)
{
    QSignalBlocker block(m_type_box);
    const int index = m_type_box->findText(q(types_map_bare_type(type)), Qt::MatchFixedString);  // ignores case
    m_type_box->setCurrentIndex(index);
}

void types_map_dlg::show_row(int row)
{
    const types_map_row r = current_row(row);
    m_name_box->setText(q(r.new_name));
    select_type(r.type);
    m_default_box->setText(q(r.default_value));
    m_length_box->setText(number_text(r.length));
    m_precision_box->setText(number_text(r.precision));
    m_scale_box->setText(number_text(r.scale));
}

void types_map_dlg::show_ctrl()
{
    std::wstring type = m_type_box->currentText().toStdWString();
    if (m_type_box->currentIndex() < 0)
        type = row_of(m_list->currentItem()) >= 0 ? current_row(row_of(m_list->currentItem())).type : L"";
    type_map_files& files = type_map_files::instance();
    if (files.type_properties.empty() && !files.load(files.type_properties, pgs_db_mutator::get_typ_name(), {}))
        throw_missing(pgs_db_mutator::get_typ_name());
    bool length = false, scale = false, precision = false;
    if (const auto* words = find_key(files.type_properties, types_map_bare_type(type))) {
        for (const std::wstring& w : *words) {
            length = length || tk_equal_no_case(w, L"LENGTH");
            scale = scale || tk_equal_no_case(w, L"SCALE");
            precision = precision || tk_equal_no_case(w, L"PRECISION");
        }
    }
    const bool sizes = scale && precision;
    tk_write_log(1, "types_map_dlg::show_ctrl(%d=%d)", 1006, length ? 1 : 0);
    m_length_label->setVisible(length);
    m_length_box->setVisible(length);
    tk_write_log(1, "types_map_dlg::show_ctrl(%d=%d)", 1007, sizes ? 1 : 0);
    m_precision_label->setVisible(sizes);
    m_precision_box->setVisible(sizes);
    m_scale_label->setVisible(sizes);
    m_scale_box->setVisible(sizes);
}

bool types_map_dlg::read_row(types_map_row& out)
{
    const int row = row_of(m_list->currentItem());
    const types_map_row before = row >= 0 ? current_row(row) : types_map_row{};
    out = types_map_row{};
    out.new_name = m_name_box->text().toStdWString();
    if (out.new_name.empty()) {
        wizard_shell::message(empty_name_text);
        return false;
    }
    // With no type offered the column keeps the type it has; so does a type
    // kept in the box, with any size written into its name ("TIMESTAMP(0)").
    out.type = before.type;
    if (m_type_box->currentIndex() >= 0) {
        const std::wstring chosen = m_type_box->currentText().toStdWString();
        if (!tk_equal_no_case(chosen, types_map_bare_type(before.type)))
            out.type = chosen;
    }
    out.default_value = m_default_box->text().toStdWString();
    out.character_set = before.character_set;

    // Sizes are whole numbers of zero or more; an empty box gives none.
    auto read_number = [](QLineEdit* box, const char* what, long long max, long long& value) {
        const QString text = box->text().trimmed();
        if (text.isEmpty()) {
            value = -1;
            return true;
        }
        bool ok = false;
        value = text.toLongLong(&ok);
        if (ok && value >= 0 && value <= max)
            return true;
        wizard_shell::message(std::wstring(L"The ") + tk_ansi_to_unicode(what) + L" '" +
                                          text.toStdWString() + L"' is not a valid number. Try again.");
        return false;
    };
    long long length = -1, scale = -1, precision = -1;
    constexpr long long int_max = std::numeric_limits<int>::max();
    if (!read_number(m_length_box, "length", std::numeric_limits<std::int64_t>::max(), length) ||
        !read_number(m_scale_box, "scale", int_max, scale) ||
        !read_number(m_precision_box, "precision", int_max, precision))
        return false;
    out.length = length;
    out.scale = static_cast<int>(scale);
    out.precision = static_cast<int>(precision);
    return true;
}

bool types_map_dlg::store_row(int row)
{
    if (row == -1 || !m_initialised)
        return true;
    types_map_row values;
    if (!read_row(values))
        return false;
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    values.status = item && item->checkState(check_column) == Qt::Unchecked ? 2 : 1;
    const std::wstring& name = column_name(row);
    auto it = m_rows.find(name);
    // Unchanged values of a kept column need no entry; an entry made earlier
    // takes them, so going back to the defaults undoes the earlier change.
    if (values.status == 1 && values.same_values(default_row(row)) && it == m_rows.end())
        return true;
    m_rows[name] = values;
    if (item) {
        QSignalBlocker block(m_list);
        item->setText(name_column, q(values.new_name));
        item->setText(type_column, q(pgs_get_native_type2(native_of(values))));
        item->setText(default_column, q(values.default_value));
        // A longer name or type is shown whole.
        for (int c : {name_column, type_column, default_column})
            m_list->resizeColumnToContents(c);
    }
    return true;
}

void types_map_dlg::on_current_changed(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    if (!m_initialised || m_ended)
        return;
    tk_write_log(1, "types_map_dlg::on_item_changing");
    try {
        if (previous && previous != current && !store_row(row_of(previous))) {
            // Refused: the selection stays on the row being edited.
            QSignalBlocker block(m_list);
            m_list->setCurrentItem(previous);
            return;
        }
        const int row = row_of(current);
        if (row < 0)
            return;
        tk_write_log(1, "types_map_dlg::on_item_changed");
        tk_write_log(1, "Row #%d is selected", row);
        set_available_conversions(row);
        show_row(row);
        show_ctrl();
    } catch (...) {
        end_on_current_error();
    }
}

void types_map_dlg::on_item_changed(QTreeWidgetItem* item, int column)
{
    if (!m_initialised || m_ended || column != check_column)
        return;
    const int row = row_of(item);
    if (row < 0)
        return;
    const int status = item->checkState(check_column) == Qt::Unchecked ? 2 : 1;
    try {
        const std::wstring& name = column_name(row);
        auto it = m_rows.find(name);
        const int before = it != m_rows.end() ? it->second.status : 1;
        if (status == before)
            return;  // a text change of the row, not its box
        types_map_row values;
        if (item == m_list->currentItem()) {
            // The field controls show this row: its edits go with the mark.
            if (!read_row(values)) {
                QSignalBlocker block(m_list);
                item->setCheckState(check_column, status == 2 ? Qt::Checked : Qt::Unchecked);
                return;
            }
        } else {
            values = current_row(row);
        }
        values.status = status;
        m_rows[name] = values;
        show_ctrl();
    } catch (...) {
        end_on_current_error();
    }
}

void types_map_dlg::end_on_current_error()
{
    try {
        throw;
    } catch (const tk_exception& e) {
        // The maps cannot be read or kept: the dialog ends once the error was shown.
        m_ended = true;
        wizard_shell::error_ansi(e.what());
        done(QDialog::Rejected);
    } catch (...) {
        wizard_report_current_exception();
    }
}

void types_map_dlg::on_type_changed()
{
    if (!m_initialised || m_ended)
        return;
    try {
        show_ctrl();
    } catch (...) {
        end_on_current_error();
    }
}

void types_map_dlg::accept()
{
    tk_write_log(1, "types_map_dlg::on_ok");
    try {
        // An empty name keeps the dialog open: nothing typed is lost.
        if (!store_row(row_of(m_list->currentItem())))
            return;
        if (m_table_box->text().isEmpty()) {
            wizard_shell::message(empty_name_text);
            return;
        }
        save_to_mutator();
    } catch (const tk_exception& e) {
        wizard_shell::error_ansi(e.what());
        return;
    } catch (...) {
        wizard_report_current_exception();
        return;
    }
    QDialog::accept();
}

void types_map_dlg::save_to_mutator()
{
    tk_write_log(1, "types_map_dlg::save_to_mutator");
    const std::wstring typed = m_table_box->text().toStdWString();
    tk_write_wlog(1, L"old name=%s, new name=%s", typed.c_str(), m_shown_name.c_str());
    if (typed == m_shown_name && m_rows.empty())
        return;
    pgs_table_mutator* tm = get_table_mutator2(m_mutator, m_table_name, typed);
    for (int row = 0; row < m_list->topLevelItemCount(); ++row) {
        auto it = m_rows.find(column_name(row));
        if (it == m_rows.end())
            continue;
        pgs_field_mutator* fm = tm->update_field(it->first, it->second.new_name, native_of(it->second));
        fm->set_status(it->second.status == 2 ? udb_mutators::deleted : udb_mutators::changed);
        tk_write_log(1, "fm->status=%d", it->second.status);
    }
}

void types_map_dlg::reject()
{
    tk_write_log(1, "types_map_dlg::on_cancel");
    QDialog::reject();
}

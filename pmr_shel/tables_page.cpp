#include "pmr_shel/tables_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "GUI2/off_window.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "common/types_map_dlg.h"
#include "driver/pelmora_convertor.h"
#include "pmr_shel/custom_query_dlg.h"
#include "pmr_shel/wizard_pages.h"

namespace {

constexpr int progress_page_idd = 107;

QString q(const std::wstring& text) { return QString::fromStdWString(text); }

// An item shows the name the table gets in the destination; a table renamed
// in Edit Table keeps its source name beside it, which is what the
// conversion's lists hold.
constexpr int source_name_role = Qt::UserRole;

QString source_of(const QListWidgetItem* item)
{
    if (!item)
        return QString();
    const QVariant source = item->data(source_name_role);
    return source.isValid() ? source.toString() : item->text();
}

std::wstring text_of(const QListWidgetItem* item) { return source_of(item).toStdWString(); }

const name_text_pair* find_pair(const name_text_list& list, const std::wstring& name)
{
    auto it = std::find_if(list.begin(), list.end(), [&](const name_text_pair& p) { return p.first == name; });
    return it == list.end() ? nullptr : &*it;
}

QListWidget* make_list(QWidget* parent, const char* name)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(name);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return list;
}

QPushButton* make_button(QWidget* parent, const char* text, const char* name)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

}  // namespace

// ---------------------------------------------------------------------------
// The shared list page

sel_tables_page::sel_tables_page(const wizard_page_info& info, std::wstring question, bool reorder, QWidget* parent)
    : wizard_page(info, parent), m_reorder(reorder), m_question(std::move(question))
{
    tk_write_log(2, "sel_tables_page::ctor(b_reorder=%d)", reorder ? 1 : 0);
    m_description = new QLabel(this);
    m_description->setObjectName("ctl_1337");
    m_description->setWordWrap(true);
    m_available_label = new QLabel(this);
    m_available_label->setObjectName("ctl_1334");
    m_selected_label = new QLabel(this);
    m_selected_label->setObjectName("ctl_1312");
    m_available = make_list(this, "ctl_1317");
    m_selected = make_list(this, "ctl_1318");
    m_available_label->setBuddy(m_available);
    m_selected_label->setBuddy(m_selected);

    QPushButton* add = make_button(this, "A&dd >", "ctl_1101");
    QPushButton* add_all = make_button(this, "Add a&ll >", "ctl_1102");
    QPushButton* remove = make_button(this, "< &Remove", "ctl_1111");
    QPushButton* remove_all = make_button(this, "< Re&move all", "ctl_1110");
    // Alt+A belongs to the available list's label.
    m_add_query_button = make_button(this, "Add &Query", "ctl_1114");
    m_add_query_button->hide();
    QPushButton* up = make_button(this, "^", "ctl_1117");
    QPushButton* down = make_button(this, "v", "ctl_1118");
    up->hide();
    down->hide();
    for (QPushButton* b : {up, down})
        b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("WW")) + 12);
    int button_width = 0;
    for (QPushButton* b : {add, add_all, remove, remove_all, m_add_query_button})
        button_width = std::max(button_width, b->sizeHint().width());
    for (QPushButton* b : {add, add_all, remove, remove_all, m_add_query_button})
        b->setFixedWidth(button_width);
    for (QListWidget* l : {m_available, m_selected})
        l->setMinimumWidth(60);

    auto* middle = new QVBoxLayout;
    middle->addStretch(1);
    for (QPushButton* b : {add, add_all, remove, remove_all, m_add_query_button})
        middle->addWidget(b);
    middle->addStretch(1);
    auto* order = new QVBoxLayout;
    order->addStretch(1);
    order->addWidget(up);
    order->addWidget(down);
    order->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_description, 0, 0, 1, 4);
    grid->addWidget(m_available_label, 1, 0);
    grid->addWidget(m_selected_label, 1, 2);
    grid->addWidget(m_available, 2, 0);
    grid->addLayout(middle, 2, 1);
    grid->addWidget(m_selected, 2, 2);
    grid->addLayout(order, 2, 3);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(2, 1);

    connect(add, &QPushButton::clicked, this, &sel_tables_page::on_add);
    connect(add_all, &QPushButton::clicked, this, &sel_tables_page::on_add_all);
    connect(remove, &QPushButton::clicked, this, &sel_tables_page::on_delete);
    connect(remove_all, &QPushButton::clicked, this, &sel_tables_page::on_del_all);
    connect(up, &QPushButton::clicked, this, &sel_tables_page::on_move_up);
    connect(down, &QPushButton::clicked, this, &sel_tables_page::on_move_down);
    connect(m_available, &QListWidget::itemDoubleClicked, this, &sel_tables_page::on_add);
}

bool sel_tables_page::name_less(const QString& a, const QString& b)
{
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
}

int sel_tables_page::insert_sorted(QListWidget* list, const QString& name)
{
    int lo = 0, hi = list->count();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (name_less(list->item(mid)->text(), name))
            lo = mid + 1;
        else
            hi = mid;
    }
    list->insertItem(lo, name);
    return lo;
}

void sel_tables_page::set_texts(const char* description, const char* available_label, const char* selected_label)
{
    m_description->setText(description);
    m_available_label->setText(available_label);
    m_selected_label->setText(selected_label);
}

bool sel_tables_page::is_query(const std::wstring&) const { return false; }
QString sel_tables_page::shown_name(const QString& source) const { return source; }
void sel_tables_page::do_add_query(const std::wstring&) {}
void sel_tables_page::do_remove_query(const std::wstring&) {}

bool sel_tables_page::list_has(const QListWidget* list, const std::wstring& name)
{
    const QString n = q(name);
    for (int i = 0; i < list->count(); ++i)
        if (QString::compare(source_of(list->item(i)), n, Qt::CaseInsensitive) == 0 ||
            QString::compare(list->item(i)->text(), n, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool sel_tables_page::is_not_listed(const std::wstring& name) const
{
    return !list_has(m_available, name) && !list_has(m_selected, name);
}

int sel_tables_page::find_available(const std::wstring& name) const
{
    const QString n = q(name);
    for (int i = 0; i < m_available->count(); ++i)
        if (m_available->item(i)->text() == n)
            return i;
    return -1;
}

void sel_tables_page::move_to_selected(int index)
{
    QListWidgetItem* item = m_available->item(index);
    if (!item)
        return;
    const QString name = source_of(item);
    const QString shown = shown_name(name);
    // A list the user orders takes a new item at its end.
    int row = m_selected->count();
    if (m_reorder)
        m_selected->addItem(shown);
    else
        row = insert_sorted(m_selected, shown);
    if (shown != name)
        m_selected->item(row)->setData(source_name_role, name);
    delete m_available->takeItem(index);
    if (is_query(name.toStdWString()))
        do_add_query(name.toStdWString());
}

void sel_tables_page::move_to_available(int index)
{
    QListWidgetItem* item = m_selected->item(index);
    if (!item)
        return;
    const QString name = source_of(item);
    insert_sorted(m_available, name);
    delete m_selected->takeItem(index);
    if (is_query(name.toStdWString()))
        do_remove_query(name.toStdWString());
}

void sel_tables_page::move_selection(QListWidget* from, QListWidget* to, bool to_selected)
{
    std::vector<int> rows;
    for (const QModelIndex& index : from->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    tk_write_log(2, "n_sel=%d", static_cast<int>(rows.size()));
    if (rows.empty())
        return;
    // Every move takes one item out above the later ones.
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const int row = rows[k] - static_cast<int>(k);
        tk_write_log(2, to_selected ? "Adding item #%d" : "Deleting item #%d", rows[k]);
        if (to_selected)
            move_to_selected(row);
        else
            move_to_available(row);
    }
    if (from->count() > 0) {
        const int next = std::min(rows.back() - static_cast<int>(rows.size()) + 1, from->count() - 1);
        from->clearSelection();
        from->setCurrentRow(next);
    } else {
        clear_sel(to);
        to->setFocus();
        to->setCurrentRow(0);
    }
}

void sel_tables_page::on_add()
{
    tk_write_log(2, "sel_tables_page::on_add");
    move_selection(m_available, m_selected, true);
}

void sel_tables_page::on_delete()
{
    tk_write_log(2, "sel_tables_page::on_delete");
    move_selection(m_selected, m_available, false);
}

void sel_tables_page::on_add_all()
{
    tk_write_log(2, "sel_tables_page::on_add_all");
    while (m_available->count() > 0)
        move_to_selected(0);
    m_selected->setFocus();
    m_selected->setCurrentRow(0);
}

void sel_tables_page::on_del_all()
{
    tk_write_log(2, "sel_tables_page::on_del_all");
    while (m_selected->count() > 0)
        move_to_available(0);
    m_available->setFocus();
    m_available->setCurrentRow(0);
}

void sel_tables_page::clear_sel(QListWidget* list)
{
    tk_write_log(2, "sel_tables_page::clear_sel");
    list->clearSelection();
}

void sel_tables_page::on_move_up()
{
    tk_write_log(2, "sel_tables_page::on_move_up");
    const int row = m_selected->currentRow();
    if (row <= 0)
        return;
    QListWidgetItem* item = m_selected->takeItem(row);
    m_selected->insertItem(row - 1, item);
    m_selected->clearSelection();
    m_selected->setCurrentRow(row - 1);
}

void sel_tables_page::on_move_down()
{
    tk_write_log(2, "sel_tables_page::on_move_down");
    const int row = m_selected->currentRow();
    if (row < 0 || row + 1 >= m_selected->count())
        return;
    QListWidgetItem* item = m_selected->takeItem(row);
    m_selected->insertItem(row + 1, item);
    m_selected->clearSelection();
    m_selected->setCurrentRow(row + 1);
}

void sel_tables_page::do_page_init()
{
    tk_write_log(2, "sel_tables_page::do_page_init");
    m_available->clear();
    m_selected->clear();
    for (const std::wstring& name : m_names)
        insert_sorted(m_available, q(name));
    if (m_available->count() > 0) {
        tk_write_log(2, "Highlight 1st row");
        m_available->setCurrentRow(0);
    }
    if (m_reorder) {
        tk_write_log(2, "Activating re-order buttons");
        show_ctrl(1117, true);
        show_ctrl(1118, true);
    }
}

bool sel_tables_page::collect_selection()
{
    if (!m_question.empty() && m_available->count() > 0 && m_selected->count() == 0 &&
        !wizard_shell::question(m_question, true))
        return false;
    collect_names();
    return true;
}

void sel_tables_page::collect_names()
{
    m_names.clear();
    for (int i = 0; i < m_selected->count(); ++i) {
        std::wstring name = text_of(m_selected->item(i));
        if (!is_query(name))
            m_names.push_back(std::move(name));
    }
}

// ---------------------------------------------------------------------------
// The tables page

pmr_sel_tables_page::pmr_sel_tables_page(QWidget* parent)
    : sel_tables_page(tables_page_info, L"There are no tables selected. Continue anyway?", false, parent)
{
    connect(m_add_query_button, &QPushButton::clicked, this, &pmr_sel_tables_page::on_add_query);
    connect(selected_list(), &QListWidget::itemDoubleClicked, this, &pmr_sel_tables_page::on_edit_query);
}

bool pmr_sel_tables_page::page_init()
{
    // One paragraph: the page wraps it to its width.
    set_texts("Select MySQL tables to convert into PostgreSQL format. Double click on an item in "
              "'Selected tables' list to edit it.",
              "&Available tables:", "&Selected tables:");
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    m_names = run_off_window(window(), [&cvt] {
        std::vector<std::wstring> names;
        cvt.get_all_tables(names);
        return names;
    });
    do_page_init();
    show_ctrl(1114, true);
    restore_selection(cvt.query_list, cvt.selected_tables);

    m_query_pool.clear();
    for (const name_text_pair& pair : cvt.available_queries) {
        if (pair.second.empty() || find_pair(m_query_pool, pair.first))
            continue;
        m_query_pool.push_back(pair);
        if (is_not_listed(pair.first))
            insert_sorted(available_list(), q(pair.first));
    }
    return true;
}

void pmr_sel_tables_page::restore_selection(const name_text_list& query_list, const std::vector<std::wstring>& tables)
{
    // Queries shown in the selected list keep what an earlier visit gave them;
    // a query no longer shown is no longer selected.
    name_text_list kept;
    kept.swap(m_selected_queries);
    for (const name_text_pair& pair : query_list) {
        if (!pair.second.empty() && is_not_listed(pair.first)) {
            insert_sorted(selected_list(), q(pair.first));
            if (!find_pair(m_selected_queries, pair.first)) {
                const name_text_pair* earlier = find_pair(kept, pair.first);
                m_selected_queries.push_back(earlier ? *earlier : pair);
            }
        } else {
            tk_write_wlog(2, L"Processing '%s'", pair.first.c_str());
            const int row = find_available(pair.first);
            if (row >= 0)
                move_to_selected(row);
        }
    }
    // The tables chosen on an earlier visit.
    for (const std::wstring& name : tables) {
        const int row = find_available(name);
        if (row >= 0)
            move_to_selected(row);
    }
}

bool pmr_sel_tables_page::is_query(const std::wstring& name) const
{
    return find_pair(m_selected_queries, name) || find_pair(m_query_pool, name);
}

void pmr_sel_tables_page::do_add_query(const std::wstring& name)
{
    tk_write_wlog(2, L"sel_tables_page_ex::do_add_query(%s)", name.c_str());
    if (find_pair(m_selected_queries, name))
        return;
    auto it = std::find_if(m_query_pool.begin(), m_query_pool.end(),
                           [&](const name_text_pair& p) { return p.first == name; });
    if (it == m_query_pool.end())
        return;
    tk_write_wlog(2, L"Adding pair: '%s','%s'", it->first.c_str(), it->second.c_str());
    m_selected_queries.push_back(*it);
    m_query_pool.erase(it);
}

void pmr_sel_tables_page::do_remove_query(const std::wstring& name)
{
    auto it = std::find_if(m_selected_queries.begin(), m_selected_queries.end(),
                           [&](const name_text_pair& p) { return p.first == name; });
    if (it == m_selected_queries.end())
        return;
    m_query_pool.push_back(*it);
    m_selected_queries.erase(it);
}

bool pmr_sel_tables_page::is_name_taken(const std::wstring& name, const std::wstring& except) const
{
    auto taken_in = [&](const QListWidget* list) {
        for (int i = 0; i < list->count(); ++i) {
            const std::wstring item = text_of(list->item(i));
            const std::wstring shown = list->item(i)->text().toStdWString();
            if (item != except && (tk_equal_no_case(item, name) || tk_equal_no_case(shown, name)))
                return true;
        }
        return false;
    };
    return taken_in(available_list()) || taken_in(selected_list());
}

void pmr_sel_tables_page::on_add_query()
{
    tk_write_log(2, "sel_tables_page::on_add_query");
    try {
        std::wstring name, text;
        for (;;) {
            set_query_dlg dlg(name, text, window());
            if (dlg.exec() != QDialog::Accepted)
                return;
            name = dlg.name();
            text = dlg.query();
            // A query named like a table would lose to the table when the
            // selection is restored: every listed name is taken.
            if (!is_name_taken(name, std::wstring())) {
                insert_sorted(selected_list(), q(name));
                m_selected_queries.emplace_back(name, text);
                return;
            }
            wizard_shell::message(L"Duplicate table name. Try again.");
        }
    } catch (...) {
        wizard_report_current_exception();
    }
}

void pmr_sel_tables_page::on_edit_query()
{
    tk_write_log(2, "sel_tables_page_ex::on_edit_query");
    try {
        QListWidgetItem* item = selected_list()->currentItem();
        if (!item) {
            tk_write_log(1, "Nothing is selected!");
            return;
        }
        const std::wstring old_name = text_of(item);
        auto it = std::find_if(m_selected_queries.begin(), m_selected_queries.end(),
                               [&](const name_text_pair& p) { return p.first == old_name; });
        if (it == m_selected_queries.end()) {
            tk_write_log(1, "It's not a query, show type mapping");
            show_types_map(old_name);
            return;
        }
        std::wstring name = it->first, text = it->second;
        for (;;) {
            set_query_dlg dlg(name, text, window());
            if (dlg.exec() != QDialog::Accepted)
                return;
            name = dlg.name();
            text = dlg.query();
            if (!is_name_taken(name, old_name))
                break;
            wizard_shell::message(L"Duplicate table name. Try again.");
        }
        // The dialog may have run other dialogs: find the pair again.
        it = std::find_if(m_selected_queries.begin(), m_selected_queries.end(),
                          [&](const name_text_pair& p) { return p.first == old_name; });
        if (it == m_selected_queries.end())
            return;
        *it = name_text_pair(name, text);
        delete selected_list()->takeItem(selected_list()->row(item));
        selected_list()->setCurrentRow(insert_sorted(selected_list(), q(name)));
    } catch (...) {
        wizard_report_current_exception();
    }
}

void pmr_sel_tables_page::show_types_map(const std::wstring& name)
{
    tk_write_log(2, "Ready for types mapping");
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    udb_schema schema = run_off_window(window(), [&cvt, &name] {
        udb_schema read;
        cvt.get_schema(read, name);
        return read;
    });
    types_map_dlg dlg(cvt, name, std::move(schema), window());
    if (dlg.exec() != QDialog::Accepted)
        return;
    // The list shows the name the table gets now.
    QListWidget* list = selected_list();
    for (int i = 0; i < list->count(); ++i) {
        if (text_of(list->item(i)) != name)
            continue;
        delete list->takeItem(i);
        const QString source = q(name);
        const QString shown = shown_name(source);
        const int row = insert_sorted(list, shown);
        if (shown != source)
            list->item(row)->setData(source_name_role, source);
        list->setCurrentRow(row);
        break;
    }
}

QString pmr_sel_tables_page::shown_name(const QString& source) const
{
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    const std::wstring name = source.toStdWString();
    if (is_query(name))
        return source;
    const pgs_table_mutator* tm = get_table_mutator3(cvt, name);
    if (!tm || tm->get_new_name().empty())
        return source;
    return q(tm->get_new_name());
}

void pmr_sel_tables_page::store_selection()
{
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    cvt.selected_tables = m_names;
    cvt.query_list = m_selected_queries;
    cvt.available_queries = m_query_pool;
}

int pmr_sel_tables_page::on_back()
{
    // The choice is kept for the way back to this page, as Next keeps it.
    collect_names();
    store_selection();
    return 0;
}

int pmr_sel_tables_page::on_next()
{
    if (!collect_selection())
        return -1;
    store_selection();
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    const bool no_views = run_off_window(window(), [&cvt] {
        udb_view_list views;
        cvt.get_all_views(views);
        return views.empty();
    });
    // The views page is passed over: the steps after it are numbered without it.
    if (wizard_shell::instance()) number_steps(shell().pages(), cvt.b_direct, !no_views);
    return no_views ? progress_page_idd : 0;
}

// ---------------------------------------------------------------------------
// The views page

pmr_sel_views_page::pmr_sel_views_page(QWidget* parent) : sel_tables_page(views_page_info, std::wstring(), true, parent)
{
}

bool pmr_sel_views_page::page_init()
{
    set_texts("Select MySQL views to convert into PostgreSQL format. Use the up and down buttons to control the "
              "order in which views are converted.",
              "&Available views:", "&Selected views:");
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    m_views = run_off_window(window(), [&cvt] {
        udb_view_list views;
        cvt.get_all_views(views);
        return views;
    });
    m_names.clear();
    for (const name_text_pair& view : m_views)
        m_names.push_back(view.first);
    do_page_init();
    for (const name_text_pair& view : cvt.selected_views) {
        const int row = find_available(view.first);
        if (row >= 0)
            move_to_selected(row);
    }
    return true;
}

int pmr_sel_views_page::on_back()
{
    // The choice is kept for the way back to this page, as Next keeps it.
    collect_names();
    store_selection();
    return 0;
}

int pmr_sel_views_page::on_next()
{
    tk_write_log(2, "pmr_sel_views_page::on_next");
    if (!collect_selection())
        return -1;
    store_selection();
    return 0;
}

void pmr_sel_views_page::store_selection()
{
    name_text_list chosen;
    for (const std::wstring& name : m_names) {
        if (const name_text_pair* view = find_pair(m_views, name)) {
            tk_write_wlog(2, L"Found view: '%s'", name.c_str());
            chosen.push_back(*view);
        }
    }
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    cvt.selected_views = std::move(chosen);
}

// The tables and views pages and the custom query dialog, against a real
// source database: sorted lists, moving both ways, the empty-selection
// question, queries added, refused and converted, views chosen and ordered.
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include <chrono>
#include <optional>

#include "pmr_shel/custom_query_dlg.h"
#include "pmr_shel/tables_page.h"
#include "pmr_shel/wizard_pages.h"
#include "source_db_fixture.h"

using namespace wizard_test;

namespace {

QStringList texts(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

void select_rows(QListWidget* list, std::initializer_list<int> rows)
{
    list->clearSelection();
    for (int r : rows)
        list->item(r)->setSelected(true);
}

void click(QWidget* page, const char* name)
{
    auto* b = find_control<QPushButton>(page, name);
    ASSERT_NE(b, nullptr) << name;
    b->click();
}

// Fills the query dialog and presses OK.
modal_answerer::answer fill_query(const QString& name, const QString& query)
{
    return [name, query](QWidget* w) {
        auto* name_box = find_control<QLineEdit>(w, "ctl_1019");
        auto* query_box = find_control<QPlainTextEdit>(w, "ctl_1020");
        if (!name_box || !query_box) {  // not the query dialog: the test fails on what it saw
            w->close();
            return;
        }
        name_box->setText(name);
        query_box->setPlainText(query);
        find_control<QAbstractButton>(w, "ctl_1")->click();
    };
}

}  // namespace

class table_pages : public source_db_fixture {
protected:
    void SetUp() override
    {
        source_db_fixture::SetUp();
        source("CREATE TABLE Beta (id INT PRIMARY KEY, name VARCHAR(20));"
               "INSERT INTO Beta VALUES (1,'one'),(2,'two'),(3,'three');"
               "CREATE TABLE alpha (id INT PRIMARY KEY);"
               "CREATE TABLE Gamma (id INT PRIMARY KEY);"
               "CREATE TABLE delta (id INT PRIMARY KEY);"
               "CREATE TABLE Epsilon (id INT PRIMARY KEY)");
        tables = std::make_unique<pmr_sel_tables_page>();
        tables->resize(720, 440);
    }
    void TearDown() override
    {
        tables.reset();
        views.reset();
        source_db_fixture::TearDown();
    }
    QListWidget* available() { return tables->available_list(); }
    QListWidget* selected() { return tables->selected_list(); }

    std::unique_ptr<pmr_sel_tables_page> tables;
    std::unique_ptr<pmr_sel_views_page> views;
    // A new answerer for each action: one answerer takes a window at the
    // address of the last one it answered for the same window.
    modal_answerer& fresh()
    {
        answerer.emplace();
        return *answerer;
    }
    std::optional<modal_answerer> answerer;
};

TEST_F(table_pages, lists_are_sorted_ignoring_case_and_items_move_both_ways)
{
    ASSERT_TRUE(tables->page_init());
    EXPECT_EQ(texts(available()), (QStringList{"alpha", "Beta", "delta", "Epsilon", "Gamma"}));
    EXPECT_EQ(available()->currentRow(), 0);
    EXPECT_TRUE(find_control<QPushButton>(tables.get(), "ctl_1114")->isVisibleTo(tables.get()));
    EXPECT_FALSE(find_control<QPushButton>(tables.get(), "ctl_1117")->isVisibleTo(tables.get()));

    // Three items move in order; the item after the last of them is selected.
    select_rows(available(), {0, 2, 3});
    click(tables.get(), "ctl_1101");
    EXPECT_EQ(texts(selected()), (QStringList{"alpha", "delta", "Epsilon"}));
    EXPECT_EQ(texts(available()), (QStringList{"Beta", "Gamma"}));
    EXPECT_EQ(available()->currentItem()->text(), "Gamma");

    // Back again: each takes its sorted place.
    select_rows(selected(), {1});
    click(tables.get(), "ctl_1111");
    EXPECT_EQ(texts(available()), (QStringList{"Beta", "delta", "Gamma"}));

    // A double click on an available item adds it.
    select_rows(available(), {0});
    emit available()->itemDoubleClicked(available()->item(0));
    EXPECT_EQ(texts(selected()), (QStringList{"alpha", "Beta", "Epsilon"}));

    click(tables.get(), "ctl_1102");
    EXPECT_EQ(available()->count(), 0);
    EXPECT_EQ(texts(selected()), (QStringList{"alpha", "Beta", "delta", "Epsilon", "Gamma"}));
    EXPECT_EQ(selected()->currentRow(), 0);
    save_picture(tables.get(), "tables_page_all_selected");

    click(tables.get(), "ctl_1110");
    EXPECT_EQ(selected()->count(), 0);
    EXPECT_EQ(texts(available()), (QStringList{"alpha", "Beta", "delta", "Epsilon", "Gamma"}));

    // Nothing selected: Add moves nothing.
    available()->clearSelection();
    click(tables.get(), "ctl_1101");
    EXPECT_EQ(selected()->count(), 0);
}

TEST_F(table_pages, the_pages_in_the_wizard)
{
    source("CREATE VIEW v_beta AS SELECT id FROM Beta");
    convertor().selected_tables = {L"Gamma"};
    convertor().query_list = {{L"rich", L"SELECT id FROM Beta WHERE id > 1"}};
    auto* page = add_page(std::make_unique<pmr_sel_tables_page>());
    auto* view_page = add_page(std::make_unique<pmr_sel_views_page>());
    show_wizard();
    ASSERT_EQ(current(), page);
    EXPECT_EQ(texts(page->selected_list()), (QStringList{"Gamma", "rich"}));
    save_picture(&shell(), "tables_page");
    shell().go_next();
    pump(30);
    ASSERT_EQ(current(), view_page);
    save_picture(&shell(), "views_page_in_wizard");
}

TEST_F(table_pages, a_source_without_views_numbers_the_steps_without_the_views_page)
{
    convertor().selected_tables = {L"Gamma"};
    auto* page = add_page(std::make_unique<pmr_sel_tables_page>());
    add_page(std::make_unique<pmr_sel_views_page>());
    auto* progress = add_page(std::make_unique<placeholder_page>(progress_page_info));
    number_steps(shell().pages(), true);
    EXPECT_EQ(progress->title(), QStringLiteral("Step 3 of 3"));
    show_wizard();
    ASSERT_EQ(current(), page);
    shell().go_next();
    pump(30);
    // The views page is passed over, and the count says so: no step is skipped.
    ASSERT_EQ(current(), progress);
    EXPECT_EQ(page->title(), QStringLiteral("Step 1 of 2"));
    EXPECT_EQ(progress->title(), QStringLiteral("Step 2 of 2"));
}

TEST_F(table_pages, leaving_with_no_table_selected_asks_and_no_keeps_the_page)
{
    ASSERT_TRUE(tables->page_init());
    auto& no = fresh();
    no.push(QMessageBox::No);
    EXPECT_EQ(tables->on_next(), -1);
    ASSERT_EQ(no.seen().size(), 1u);
    EXPECT_EQ(no.seen()[0].text, "There are no tables selected. Continue anyway?");

    // Yes goes on; the source has no views, so the views page is passed over.
    fresh().push(QMessageBox::Yes);
    EXPECT_EQ(tables->on_next(), 107);
    EXPECT_TRUE(answerer->all_answered());
    EXPECT_TRUE(convertor().selected_tables.empty());
}

TEST_F(table_pages, next_stores_tables_and_queries_and_a_revisit_restores_them)
{
    source("CREATE VIEW v_beta AS SELECT id FROM Beta");
    ASSERT_TRUE(tables->page_init());
    select_rows(available(), {1, 4});
    click(tables.get(), "ctl_1101");
    fresh().push(fill_query("rich", "  \n\tselect id, name FROM Beta WHERE id > 1"));
    tables->on_add_query();
    ASSERT_TRUE(answerer->all_answered());
    EXPECT_EQ(texts(selected()), (QStringList{"Beta", "Gamma", "rich"}));

    EXPECT_EQ(tables->on_next(), 0);  // the source has a view: the views page follows
    pelmora_convertor& cvt = convertor();
    EXPECT_EQ(cvt.selected_tables, (std::vector<std::wstring>{L"Beta", L"Gamma"}));
    ASSERT_EQ(cvt.query_list.size(), 1u);
    EXPECT_EQ(cvt.query_list[0], (name_text_pair{L"rich", L"select id, name FROM Beta WHERE id > 1"}));

    // Removing the query puts it in the pool, which Next stores as well.
    ASSERT_TRUE(tables->page_init());
    EXPECT_EQ(texts(selected()), (QStringList{"Beta", "Gamma", "rich"}));
    select_rows(selected(), {2});
    click(tables.get(), "ctl_1111");
    EXPECT_EQ(texts(available()), (QStringList{"alpha", "delta", "Epsilon", "rich"}));
    EXPECT_EQ(tables->on_next(), 0);
    EXPECT_TRUE(cvt.query_list.empty());
    ASSERT_EQ(cvt.available_queries.size(), 1u);
    EXPECT_EQ(cvt.available_queries[0].first, L"rich");

    // From the pool back into the selection.
    ASSERT_TRUE(tables->page_init());
    EXPECT_EQ(texts(available()), (QStringList{"alpha", "delta", "Epsilon", "rich"}));
    select_rows(available(), {3});
    click(tables.get(), "ctl_1101");
    EXPECT_EQ(tables->on_next(), 0);
    ASSERT_EQ(cvt.query_list.size(), 1u);
    EXPECT_EQ(cvt.query_list[0].first, L"rich");
    EXPECT_TRUE(cvt.available_queries.empty());
}

// Back and then Next again shows each page as it was left: the choice is not
// lost on the way back, and Back asks nothing even when nothing is chosen.
TEST_F(table_pages, back_keeps_the_choice_of_both_pages_for_the_way_back)
{
    source("CREATE VIEW v_b AS SELECT id FROM Beta; CREATE VIEW v_a AS SELECT id FROM alpha");
    ASSERT_TRUE(tables->page_init());
    select_rows(available(), {1, 4});
    click(tables.get(), "ctl_1101");
    fresh().push(fill_query("rich", "SELECT id FROM Beta"));
    tables->on_add_query();
    ASSERT_TRUE(answerer->all_answered());
    EXPECT_EQ(tables->on_back(), 0);
    ASSERT_TRUE(tables->page_init());
    EXPECT_EQ(texts(selected()), (QStringList{"Beta", "Gamma", "rich"}));
    EXPECT_EQ(texts(available()), (QStringList{"alpha", "delta", "Epsilon"}));

    views = std::make_unique<pmr_sel_views_page>();
    views->resize(720, 440);
    ASSERT_TRUE(views->page_init());
    select_rows(views->available_list(), {1});
    click(views.get(), "ctl_1101");
    EXPECT_EQ(texts(views->selected_list()), (QStringList{"v_b"}));
    EXPECT_EQ(views->on_back(), 0);
    ASSERT_TRUE(views->page_init());
    EXPECT_EQ(texts(views->selected_list()), (QStringList{"v_b"}));
    EXPECT_EQ(texts(views->available_list()), (QStringList{"v_a"}));
    save_picture(views.get(), "views_page_after_back");

    // Emptied and left backwards: no question, and the empty choice is kept.
    click(tables.get(), "ctl_1110");
    fresh();
    EXPECT_EQ(tables->on_back(), 0);
    EXPECT_TRUE(answerer->seen().empty());
    EXPECT_TRUE(convertor().selected_tables.empty());
    EXPECT_TRUE(convertor().query_list.empty());
    ASSERT_TRUE(tables->page_init());
    EXPECT_EQ(selected()->count(), 0);
}

TEST_F(table_pages, a_query_named_like_a_listed_name_is_refused_in_any_letter_case)
{
    ASSERT_TRUE(tables->page_init());
    select_rows(available(), {0});
    click(tables.get(), "ctl_1101");  // alpha selected
    QString reopened_name;
    auto& answers = fresh();
    answers.push(fill_query("ALPHA", "SELECT 1"));                                 // a selected table
    answers.push(QMessageBox::Ok);                                                // "Duplicate table name."
    answers.push([&](QWidget* w) {                                                // reopened with the typed values
        reopened_name = find_control<QLineEdit>(w, "ctl_1019")->text();
        fill_query("gamma", "SELECT 1")(w);                                       // an available table
    });
    answers.push(QMessageBox::Ok);
    answers.push(modal_answerer::click("ctl_2"));                                 // Cancel adds nothing
    tables->on_add_query();
    ASSERT_TRUE(answers.all_answered());
    ASSERT_EQ(answers.seen().size(), 5u);
    EXPECT_EQ(answers.seen()[1].text, "Duplicate table name. Try again.");
    EXPECT_EQ(answers.seen()[3].text, "Duplicate table name. Try again.");
    EXPECT_EQ(reopened_name, "ALPHA");
    EXPECT_EQ(texts(selected()), QStringList{"alpha"});
    EXPECT_TRUE(tables->selected_queries().empty());

    // Editing a query into another listed name is refused too; its own name is fine.
    fresh().push(fill_query("q1", "SELECT 1"));
    tables->on_add_query();
    fresh().push(fill_query("q2", "SELECT 2"));
    tables->on_add_query();
    selected()->setCurrentRow(texts(selected()).indexOf("q1"));
    auto& edit = fresh();
    edit.push(fill_query("Q2", "SELECT 1"));
    edit.push(QMessageBox::Ok);
    edit.push(fill_query("q1", "SELECT 11"));
    tables->on_edit_query();
    ASSERT_TRUE(edit.all_answered());
    ASSERT_EQ(edit.seen().size(), 3u);
    EXPECT_EQ(edit.seen()[1].text, "Duplicate table name. Try again.");
    EXPECT_EQ(tables->selected_queries(),
              (name_text_list{{L"q1", L"SELECT 11"}, {L"q2", L"SELECT 2"}}));
    EXPECT_EQ(texts(selected()), (QStringList{"alpha", "q1", "q2"}));
}

TEST_F(table_pages, a_query_is_converted_as_a_table)
{
    ASSERT_TRUE(tables->page_init());
    fresh().push(fill_query("rich", "SELECT id, name FROM Beta WHERE id > 1"));
    tables->on_add_query();
    ASSERT_TRUE(answerer->all_answered());
    save_picture(tables.get(), "tables_page_with_query");
    fresh().push(QMessageBox::Yes);  // no table selected, only the query: go on
    EXPECT_EQ(tables->on_next(), 107);

    run_conversion();
    EXPECT_EQ(rows("SELECT id, name FROM rich ORDER BY id"), (std::vector<std::string>{"2|two", "3|three"}));
    // A text's length counts characters (the source's VARCHAR(20) is utf8mb4).
    EXPECT_EQ(rows("SELECT character_maximum_length FROM information_schema.columns WHERE table_name = 'rich' "
                   "AND column_name = 'name'"),
              (std::vector<std::string>{"20"}));
    EXPECT_TRUE(rows("SELECT 1 FROM information_schema.tables WHERE table_name = 'beta'").empty());
}

TEST_F(table_pages, a_double_click_on_a_selected_item_edits_it)
{
    ASSERT_TRUE(tables->page_init());
    select_rows(available(), {1});
    click(tables.get(), "ctl_1101");  // Beta
    fresh().push(fill_query("rich", "SELECT 1"));
    tables->on_add_query();

    // A table opens its type mapping.
    QString table_shown;
    fresh().push([&](QWidget* w) {
        if (auto* box = find_control<QLineEdit>(w, "ctl_1003"))
            table_shown = box->text();
        w->close();
    });
    selected()->setCurrentRow(0);
    emit selected()->itemDoubleClicked(selected()->item(0));
    ASSERT_TRUE(answerer->all_answered());
    EXPECT_EQ(answerer->seen().at(0).object_name, "dlg_135");
    EXPECT_EQ(table_shown, "Beta");

    // A query opens the query dialog with its name and text.
    QString name_shown, query_shown;
    fresh().push([&](QWidget* w) {
        if (auto* box = find_control<QLineEdit>(w, "ctl_1019"))
            name_shown = box->text();
        if (auto* box = find_control<QPlainTextEdit>(w, "ctl_1020"))
            query_shown = box->toPlainText();
        w->close();
    });
    selected()->setCurrentRow(1);
    emit selected()->itemDoubleClicked(selected()->item(1));
    ASSERT_TRUE(answerer->all_answered());
    EXPECT_EQ(answerer->seen().at(0).object_name, "dlg_128");
    EXPECT_EQ(name_shown, "rich");
    EXPECT_EQ(query_shown, "SELECT 1");
}

// A table renamed in Edit Table is listed under its new name; the
// conversion still reads it by its source name.
TEST_F(table_pages, a_table_renamed_in_edit_table_is_listed_under_its_new_name)
{
    ASSERT_TRUE(tables->page_init());
    select_rows(available(), {1});
    click(tables.get(), "ctl_1101");  // Beta
    ASSERT_EQ(texts(selected()), QStringList{"Beta"});
    fresh().push([](QWidget* w) {
        find_control<QLineEdit>(w, "ctl_1003")->setText("Goods");
        find_control<QAbstractButton>(w, "ctl_1")->click();
    });
    selected()->setCurrentRow(0);
    emit selected()->itemDoubleClicked(selected()->item(0));
    ASSERT_TRUE(answerer->all_answered());
    EXPECT_EQ(texts(selected()), QStringList{"Goods"});
    // A query may not take the new name either.
    fresh().push(fill_query("goods", "SELECT 1"));
    answerer->push(QMessageBox::Ok);
    answerer->push([](QWidget* w) { w->close(); });
    tables->on_add_query();
    ASSERT_GE(answerer->seen().size(), 2u);
    EXPECT_EQ(answerer->seen()[1].text, "Duplicate table name. Try again.");

    EXPECT_EQ(tables->on_next(), 107);
    EXPECT_EQ(convertor().selected_tables, (std::vector<std::wstring>{L"Beta"}));
    // Back to the available list it goes under its source name.
    select_rows(selected(), {0});
    click(tables.get(), "ctl_1111");
    EXPECT_TRUE(texts(available()).contains("Beta"));
}

// --- the query dialog -------------------------------------------------------

struct query_case {
    const char* name;
    const char* query;
    const char* box;     // the text shown, or nullptr when OK closes the dialog
    const char* stored;  // the query kept after OK
};

std::ostream& operator<<(std::ostream& out, const query_case& c)
{
    out << "name '" << c.name << "', query '";
    for (const char* p = c.query; *p; ++p)
        out << (*p == '\t' ? "\\t" : *p == '\n' ? "\\n" : *p == '\r' ? "\\r" : std::string(1, *p));
    return out << "'";
}

class query_dialog_checks : public table_pages, public ::testing::WithParamInterface<query_case> {};

TEST_P(query_dialog_checks, ok_checks_name_and_query)
{
    const query_case& c = GetParam();
    set_query_dlg dlg(L"", L"");
    find_control<QLineEdit>(&dlg, "ctl_1019")->setText(c.name);
    find_control<QPlainTextEdit>(&dlg, "ctl_1020")->setPlainText(c.query);
    dlg.show();
    auto& answers = fresh();
    if (c.box)
        answers.push(QMessageBox::Ok);
    find_control<QAbstractButton>(&dlg, "ctl_1")->click();
    if (c.box) {
        ASSERT_EQ(answers.seen().size(), 1u);
        EXPECT_EQ(answers.seen()[0].text, c.box);
        EXPECT_TRUE(dlg.isVisible());
    } else {
        EXPECT_TRUE(answers.seen().empty());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_EQ(dlg.name(), tk_utf8_to_unicode(c.name));
        EXPECT_EQ(dlg.query(), tk_utf8_to_unicode(c.stored));
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, query_dialog_checks,
    ::testing::Values(query_case{"", "SELECT 1", "Table name is empty!", nullptr},
                      query_case{"", "", "Table name is empty!", nullptr},
                      query_case{"t", "", "Query is empty!", nullptr},
                      query_case{"t", " \t\r\n  ", "The query must start with SELECT.", nullptr},
                      query_case{"t", "(SELECT 1)", "The query must start with SELECT.", nullptr},
                      query_case{"t", "WITH a AS (SELECT 1) SELECT * FROM a", "The query must start with SELECT.",
                                 nullptr},
                      query_case{"t", "SELEC", "The query must start with SELECT.", nullptr},
                      query_case{"t", "\n\t  select a\nfrom b  ", nullptr, "select a\nfrom b  "},
                      query_case{"t", "SELECTED", nullptr, "SELECTED"}));

TEST_F(table_pages, a_long_query_is_kept_whole)
{
    std::wstring query = L"SELECT 1";
    while (query.size() < 30000)
        query += L" + 1";
    set_query_dlg dlg(L"long_one", query);
    dlg.show();
    find_control<QAbstractButton>(&dlg, "ctl_1")->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.query(), query);
}

TEST_F(table_pages, test_query_asks_the_server_without_running_the_query)
{
    set_query_dlg dlg(L"t", L"");
    dlg.resize(560, 360);
    dlg.show();
    auto* query = find_control<QPlainTextEdit>(&dlg, "ctl_1020");
    auto* test = find_control<QAbstractButton>(&dlg, "ctl_129");

    // Prepared only: a sleeping query answers at once.
    query->setPlainText("  SELECT id, SLEEP(20) FROM Beta");
    std::vector<QString> seen;
    auto& answers = fresh();
    answers.push(QMessageBox::Ok);
    const auto start = std::chrono::steady_clock::now();
    test->click();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    save_picture(&dlg, "custom_query_dialog");
    seen.push_back(answers.seen().at(0).text);
    query->setPlainText("SELECT nope FROM no_such_table");
    fresh().push(QMessageBox::Ok);
    test->click();
    seen.push_back(answerer->seen().at(0).text);
    query->setPlainText("DELETE FROM Beta");
    fresh().push(QMessageBox::Ok);
    test->click();
    seen.push_back(answerer->seen().at(0).text);

    EXPECT_EQ(seen[0], "The query is correct.");
    // The server's own words name what is wrong.
    EXPECT_TRUE(seen[1].startsWith("The MySQL server refused the query:\n")) << seen[1].toStdString();
    EXPECT_TRUE(seen[1].contains("no_such_table")) << seen[1].toStdString();
    EXPECT_EQ(seen[2], "The query must start with SELECT.");
    // The boxes keep what was typed.
    EXPECT_EQ(query->toPlainText(), "DELETE FROM Beta");
    EXPECT_EQ(find_control<QLineEdit>(&dlg, "ctl_1019")->text(), "t");
    EXPECT_EQ(rows_in_source("Beta"), 3);
}

// --- the views page ---------------------------------------------------------

TEST_F(table_pages, views_are_chosen_ordered_and_stored_in_order)
{
    source("CREATE VIEW v_b AS SELECT id FROM Beta;"
           "CREATE VIEW V_a AS SELECT id, name FROM Beta WHERE id < 3;"
           "CREATE VIEW v_c AS SELECT id FROM v_b");
    views = std::make_unique<pmr_sel_views_page>();
    views->resize(720, 440);
    ASSERT_TRUE(views->page_init());
    EXPECT_TRUE(find_control<QPushButton>(views.get(), "ctl_1117")->isVisibleTo(views.get()));
    EXPECT_FALSE(find_control<QPushButton>(views.get(), "ctl_1114")->isVisibleTo(views.get()));
    QListWidget* avail = views->available_list();
    QListWidget* chosen = views->selected_list();
    EXPECT_EQ(texts(avail), (QStringList{"V_a", "v_b", "v_c"}));

    click(views.get(), "ctl_1102");
    EXPECT_EQ(texts(chosen), (QStringList{"V_a", "v_b", "v_c"}));
    chosen->setCurrentRow(0);
    click(views.get(), "ctl_1117");  // up on the first: nothing
    EXPECT_EQ(texts(chosen), (QStringList{"V_a", "v_b", "v_c"}));
    click(views.get(), "ctl_1118");
    EXPECT_EQ(texts(chosen), (QStringList{"v_b", "V_a", "v_c"}));
    EXPECT_EQ(chosen->currentRow(), 1);
    chosen->setCurrentRow(2);
    click(views.get(), "ctl_1118");  // down on the last: nothing
    click(views.get(), "ctl_1117");
    EXPECT_EQ(texts(chosen), (QStringList{"v_b", "v_c", "V_a"}));
    save_picture(views.get(), "views_page");

    // The views page asks nothing when nothing is chosen.
    EXPECT_EQ(views->on_next(), 0);
    ASSERT_EQ(convertor().selected_views.size(), 3u);
    EXPECT_EQ(convertor().selected_views[0].first, L"v_b");
    EXPECT_EQ(convertor().selected_views[2].first, L"V_a");
    EXPECT_NE(convertor().selected_views[2].second.find(L"Beta"), std::wstring::npos);

    // A revisit keeps the user's order.
    ASSERT_TRUE(views->page_init());
    EXPECT_EQ(texts(chosen), (QStringList{"v_b", "v_c", "V_a"}));
    EXPECT_EQ(avail->count(), 0);
    click(views.get(), "ctl_1110");
    EXPECT_EQ(views->on_next(), 0);
    EXPECT_TRUE(convertor().selected_views.empty());
}

TEST_F(table_pages, selected_views_arrive_in_postgresql)
{
    source("CREATE VIEW few AS SELECT id, name FROM Beta WHERE id < 3");
    source("CREATE VIEW most AS SELECT id FROM Beta WHERE id > 1");
    // The remembered convert-views switch (on by default) does not widen the choice.
    convertor().convert_views = true;
    ASSERT_TRUE(tables->page_init());
    select_rows(available(), {1});
    click(tables.get(), "ctl_1101");
    ASSERT_EQ(tables->on_next(), 0);
    views = std::make_unique<pmr_sel_views_page>();
    ASSERT_TRUE(views->page_init());
    select_rows(views->available_list(), {0});  // few
    click(views.get(), "ctl_1101");
    ASSERT_EQ(views->on_next(), 0);

    run_conversion();
    EXPECT_EQ(rows("SELECT id, name FROM few ORDER BY id"), (std::vector<std::string>{"1|one", "2|two"}));
    EXPECT_TRUE(rows("SELECT 1 FROM information_schema.views WHERE table_name = 'most'").empty());
}

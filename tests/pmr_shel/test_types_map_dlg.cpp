// The "Edit Table" dialog against a real source table: defaults shown, the
// size boxes a type takes, a table renamed and a column left out converted for
// real, kept in a profile and shown again; missing type-map files.
#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>

#include <fstream>
#include <optional>
#include <sstream>

#include "common/types_map_dlg.h"
#include "source_db_fixture.h"
#include "support/scratch_dir.h"

using namespace wizard_test;

namespace {

std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The "Type Mappings" section of a profile file.
std::string type_mappings(const std::string& path)
{
    const std::string text = file_text(path);
    const std::size_t start = text.find("[Type Mappings]");
    if (start == std::string::npos)
        return {};
    const std::size_t end = text.find("\r\n[", start + 1);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

class types_map_dialog : public source_db_fixture {
protected:
    void SetUp() override
    {
        source_db_fixture::SetUp();
        source("CREATE TABLE items (id INT PRIMARY KEY, code VARCHAR(255), price DECIMAL(10,2), "
               "note TEXT, secret VARCHAR(20));"
               "INSERT INTO items VALUES (1,'a1',9.50,'first','x'),(2,'b2',12.25,NULL,'y')");
    }

    // Builds and shows the dialog for the items table.
    types_map_dlg& open()
    {
        udb_schema schema;
        convertor().get_schema(schema, L"items");
        dlg.emplace(convertor(), L"items", std::move(schema));
        dlg->show();
        pump(30);
        return *dlg;
    }
    template <class T = QWidget>
    T* ctl(const char* name)
    {
        return find_control<T>(&*dlg, name);
    }
    QTreeWidget* list() { return ctl<QTreeWidget>("ctl_1316"); }
    QTreeWidgetItem* row(int r) { return list()->topLevelItem(r); }
    bool shown(const char* name) { return ctl(name)->isVisibleTo(&*dlg); }
    void press(const char* name) { ctl<QAbstractButton>(name)->click(); }
    modal_answerer& fresh()
    {
        answerer.emplace();
        return *answerer;
    }

    std::optional<modal_answerer> answerer;
    std::optional<types_map_dlg> dlg;
};

TEST_F(types_map_dialog, opens_with_the_default_types_and_ok_without_a_change_writes_nothing)
{
    open();
    EXPECT_EQ(ctl<QLineEdit>("ctl_1003")->text(), "items");
    ASSERT_EQ(list()->topLevelItemCount(), 5);
    const char* names[] = {"id", "code", "price", "note", "secret"};
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(row(r)->text(1), names[r]);
        EXPECT_EQ(row(r)->checkState(0), Qt::Checked);
    }
    EXPECT_EQ(row(1)->text(2), "VARCHAR(255)");
    EXPECT_EQ(row(2)->text(2), "DECIMAL(10,2)");
    EXPECT_EQ(list()->currentItem(), row(0));
    EXPECT_EQ(ctl<QComboBox>("ctl_1302")->currentText(), "INTEGER");
    EXPECT_FALSE(shown("ctl_1006"));

    // A text column shows its size; VARCHAR takes a length only.
    list()->setCurrentItem(row(1));
    EXPECT_EQ(ctl<QLineEdit>("ctl_1004")->text(), "code");
    EXPECT_EQ(ctl<QLineEdit>("ctl_1006")->text(), "255");
    EXPECT_TRUE(shown("ctl_1006"));
    EXPECT_FALSE(shown("ctl_1007"));
    // DECIMAL takes precision and scale, and shows them.
    list()->setCurrentItem(row(2));
    EXPECT_TRUE(shown("ctl_1007"));
    EXPECT_TRUE(shown("ctl_1008"));
    EXPECT_FALSE(shown("ctl_1006"));
    EXPECT_EQ(ctl<QLineEdit>("ctl_1007")->text(), "10");
    EXPECT_EQ(ctl<QLineEdit>("ctl_1008")->text(), "2");
    // Choosing TEXT hides every size box.
    ctl<QComboBox>("ctl_1302")->setCurrentText("TEXT");
    EXPECT_FALSE(shown("ctl_1007"));
    ctl<QComboBox>("ctl_1302")->setCurrentText("DECIMAL");
    save_picture(&*dlg, "types_map_dialog");

    press("ctl_1");
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(get_table_mutator3(convertor(), L"items"), nullptr);
}

TEST_F(types_map_dialog, a_renamed_table_without_a_column_is_converted_kept_in_a_profile_and_shown_again)
{
    open();
    ctl<QLineEdit>("ctl_1003")->setText("goods");
    row(4)->setCheckState(0, Qt::Unchecked);  // secret is left out, without being selected
    list()->setCurrentItem(row(1));
    ctl<QLineEdit>("ctl_1004")->setText("code_text");
    ctl<QComboBox>("ctl_1302")->setCurrentText("TEXT");
    list()->setCurrentItem(row(3));  // leaving the row keeps its edits
    EXPECT_EQ(row(1)->text(2), "TEXT");
    press("ctl_1");
    ASSERT_EQ(dlg->result(), QDialog::Accepted);

    const pgs_table_mutator* tm = get_table_mutator3(convertor(), L"items");
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(tm->get_new_name(), L"goods");
    ASSERT_EQ(tm->get_field_mutators().size(), 2u);  // only the rows that changed
    // The box cleared on a row that was not selected marks that row only, with its own values.
    EXPECT_EQ(tm->get_field_mutator(L"secret")->get_status(), udb_mutators::deleted);
    EXPECT_EQ(tm->get_field_mutator(L"secret")->get_new_name(), L"secret");
    EXPECT_EQ(tm->get_field_mutator(L"secret")->get_native_type().length, 20u);
    EXPECT_EQ(tm->get_field_mutator(L"code")->get_new_name(), L"code_text");
    EXPECT_EQ(tm->get_field_mutator(L"code")->get_native_type().type, L"TEXT");

    convertor().selected_tables = {L"items"};
    run_conversion();
    EXPECT_EQ(rows("SELECT column_name, data_type FROM information_schema.columns WHERE table_name = 'goods' "
                   "ORDER BY ordinal_position"),
              (std::vector<std::string>{"id|integer", "code_text|text", "price|numeric", "note|text"}));
    EXPECT_EQ(rows("SELECT id, code_text, price, note FROM goods ORDER BY id"),
              (std::vector<std::string>{"1|a1|9.50|first", "2|b2|12.25|NULL"}));
    EXPECT_TRUE(rows("SELECT 1 FROM information_schema.tables WHERE table_name = 'items'").empty());

    // Kept in a profile, read back, shown again and stored unchanged.
    test_env::scratch_dir folder("types_map_profile");
    const std::string first = folder.path() + "/first.pmr";
    const std::string second = folder.path() + "/second.pmr";
    ASSERT_TRUE(convertor().store_profile_file(tk_utf8_to_unicode(first)));
    convertor().clear();
    ASSERT_TRUE(convertor().load_profile_file(tk_utf8_to_unicode(first)));
    dlg.reset();
    open();
    EXPECT_EQ(ctl<QLineEdit>("ctl_1003")->text(), "goods");
    EXPECT_EQ(row(4)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(row(0)->checkState(0), Qt::Checked);
    EXPECT_EQ(row(1)->text(2), "TEXT");
    list()->setCurrentItem(row(1));
    EXPECT_EQ(ctl<QLineEdit>("ctl_1004")->text(), "code_text");
    EXPECT_EQ(ctl<QComboBox>("ctl_1302")->currentText(), "TEXT");
    list()->setCurrentItem(row(0));
    press("ctl_1");
    ASSERT_TRUE(convertor().store_profile_file(tk_utf8_to_unicode(second)));
    EXPECT_EQ(type_mappings(second), type_mappings(first));
    EXPECT_NE(type_mappings(first).find("new_name: goods"), std::string::npos);
}

// What the dialog shows is what the conversion makes: a renamed column
// under its new name, NUMERIC with its precision and scale, a column left out
// with its whole type when it is opened again.
TEST_F(types_map_dialog, renames_numeric_sizes_and_a_left_out_timestamp_are_kept)
{
    source("CREATE TABLE stamps (id INT PRIMARY KEY, made DATETIME, amount DECIMAL(12,4));"
           "INSERT INTO stamps VALUES (1, '2024-02-29 13:14:15', 12.3456)");
    auto open_stamps = [&] {
        dlg.reset();
        udb_schema schema;
        convertor().get_schema(schema, L"stamps");
        dlg.emplace(convertor(), L"stamps", std::move(schema));
        dlg->show();
        pump(30);
    };
    open_stamps();
    const QString made_type = row(1)->text(2);
    ASSERT_TRUE(made_type.startsWith("TIMESTAMP(")) << made_type.toStdString();

    list()->setCurrentItem(row(0));
    ctl<QLineEdit>("ctl_1004")->setText("stamp_id");
    list()->setCurrentItem(row(2));
    EXPECT_EQ(row(0)->text(1), "stamp_id");  // the list shows the new name
    ctl<QComboBox>("ctl_1302")->setCurrentText("NUMERIC");
    EXPECT_TRUE(shown("ctl_1007"));  // NUMERIC takes precision and scale as DECIMAL does
    EXPECT_EQ(ctl<QLineEdit>("ctl_1007")->text(), "12");
    EXPECT_EQ(ctl<QLineEdit>("ctl_1008")->text(), "4");
    row(1)->setCheckState(0, Qt::Unchecked);  // made is left out, without being selected
    list()->setCurrentItem(row(0));
    EXPECT_EQ(row(2)->text(2), "NUMERIC(12,4)");
    press("ctl_1");
    ASSERT_EQ(dlg->result(), QDialog::Accepted);

    // Opened again: the left-out column keeps its whole type.
    open_stamps();
    EXPECT_EQ(row(0)->text(1), "stamp_id");
    EXPECT_EQ(row(1)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(row(1)->text(2), made_type);
    row(1)->setCheckState(0, Qt::Checked);  // and taken in again, as it was
    press("ctl_1");

    convertor().selected_tables = {L"stamps"};
    run_conversion();
    EXPECT_EQ(rows("SELECT column_name, data_type, coalesce(numeric_precision, datetime_precision), "
                   "coalesce(numeric_scale, 0) FROM information_schema.columns WHERE table_name = 'stamps' "
                   "ORDER BY ordinal_position"),
              (std::vector<std::string>{"stamp_id|integer|32|0", "made|timestamp without time zone|0|0",
                                        "amount|numeric|12|4"}));
    EXPECT_EQ(rows("SELECT amount FROM stamps"), (std::vector<std::string>{"12.3456"}));
}

TEST_F(types_map_dialog, an_empty_name_keeps_the_dialog_open_and_the_row_selected)
{
    open();
    list()->setCurrentItem(row(1));
    ctl<QLineEdit>("ctl_1004")->setText("");
    fresh().push(QMessageBox::Ok);
    list()->setCurrentItem(row(2));
    ASSERT_EQ(answerer->seen().size(), 1u);
    EXPECT_EQ(answerer->seen()[0].text, "Name cannot be empty. Try again.");
    EXPECT_EQ(list()->currentItem(), row(1));

    fresh().push(QMessageBox::Ok);
    press("ctl_1");
    ASSERT_EQ(answerer->seen().size(), 1u);
    EXPECT_EQ(answerer->seen()[0].text, "Name cannot be empty. Try again.");
    EXPECT_TRUE(dlg->isVisible());

    // A size that is not a number is refused the same way.
    ctl<QLineEdit>("ctl_1004")->setText("code");
    ctl<QLineEdit>("ctl_1006")->setText("12abc");
    fresh().push(QMessageBox::Ok);
    press("ctl_1");
    ASSERT_EQ(answerer->seen().size(), 1u);
    EXPECT_EQ(answerer->seen()[0].text, "The length '12abc' is not a valid number. Try again.");
    EXPECT_TRUE(dlg->isVisible());

    press("ctl_2");
    EXPECT_EQ(dlg->result(), QDialog::Rejected);
    EXPECT_EQ(get_table_mutator3(convertor(), L"items"), nullptr);
}

TEST_F(types_map_dialog, going_back_to_the_defaults_undoes_an_earlier_change)
{
    open();
    list()->setCurrentItem(row(1));
    ctl<QLineEdit>("ctl_1004")->setText("renamed");
    list()->setCurrentItem(row(2));
    list()->setCurrentItem(row(1));
    EXPECT_EQ(ctl<QLineEdit>("ctl_1004")->text(), "renamed");
    ctl<QLineEdit>("ctl_1004")->setText("code");
    press("ctl_1");
    const pgs_table_mutator* tm = get_table_mutator3(convertor(), L"items");
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(tm->get_field_mutator(L"code")->get_new_name(), L"code");
}

TEST_F(types_map_dialog, a_missing_type_map_file_is_named_and_the_dialog_ends)
{
    test_env::scratch_dir empty("no_type_maps");
    type_map_files::instance().folders = {empty.path()};
    auto& answers = fresh();
    answers.push(QMessageBox::Ok);
    udb_schema schema;
    convertor().get_schema(schema, L"items");
    types_map_dlg missing_map(convertor(), L"items", std::move(schema));
    EXPECT_EQ(missing_map.exec(), QDialog::Rejected);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].text, "Cannot find pgs.map. Custom type mapping is not available.");
    EXPECT_TRUE(answers.seen()[0].object_name == "box_error");

    // With "pgs.map" only, the sizes file is the one missing.
    std::ofstream(empty.path() + "/pgs.map") << file_text(source_db_fixture::program_folder().toStdString() + "/pgs.map");
    fresh().push(QMessageBox::Ok);
    convertor().get_schema(schema, L"items");
    types_map_dlg missing_typ(convertor(), L"items", std::move(schema));
    EXPECT_EQ(missing_typ.exec(), QDialog::Rejected);
    ASSERT_EQ(answerer->seen().size(), 1u);
    EXPECT_EQ(answerer->seen()[0].text, "Cannot find pgs.typ. Custom type mapping is not available.");
    EXPECT_EQ(get_table_mutator3(convertor(), L"items"), nullptr);
}

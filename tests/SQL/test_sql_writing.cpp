// The MySQL writing side against the real server: tables created from a schema, rows appended
// (multi-row and single-row with long data), replaced, updated and deleted by key, views and
// foreign keys created and dropped, and failures reported instead of lost. Values with quotes,
// backslashes, zero characters and 4-byte characters must read back exactly.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "SQL/sql_database.h"
#include "UDB/udb_failure.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_sync.h"
#include "SQL/sql_table.h"
#include "SQL/sql_tmp_recordset.h"
#include "UDB/udb_properties.h"
#include "platform/pf_text.h"
#include "sql_test_support.h"

namespace {

std::unique_ptr<sql_database> open_writable(const scratch_database& db, std::int32_t mode = 2)
{
    auto base = connected_engine().open_db(db.wname(), mode, L"");
    return std::unique_ptr<sql_database>(static_cast<sql_database*>(base.release()));
}

// Collects what the writing side reports, for the length of a test.
struct captured_reports {
    std::vector<std::pair<std::wstring, std::string>> items;
    captured_reports()
    {
        udb_set_failure_reporter([this](const udb_failure& f) {
            items.emplace_back(f.where(), f.text);
        });
    }
    ~captured_reports() { udb_set_failure_reporter(nullptr); }
};

// A row of more than 1,000,000 bytes switches multi-row appends off for the engine; tests that
// write one put the switch back.
struct fast_append_restorer {
    ~fast_append_restorer() { connected_engine().set_use_fast_append(true); }
};

std::string scalar(const std::string& sql)
{
    sql_tmp_recordset rs(connected_engine().connection(), sql);
    rs.initialize();
    if (rs.is_eof()) return "<no row>";
    udb_record* r = rs.get_item();
    return (*r)[0].is_empty() ? "<null>" : (*r)[0].to_string();
}

// Every row of the table through the model's reader, in key order.
std::vector<udb_record> read_rows(sql_database& db, const std::wstring& table)
{
    std::vector<udb_record> rows;
    auto rs = db.get_table(table, 0);
    rs->reset();
    while (!rs->is_eof()) {
        rows.push_back(*rs->get_item());
        rs->next();
    }
    return rows;
}

udb_record make_record(std::initializer_list<std::pair<const wchar_t*, ole_variant>> fields)
{
    udb_record r;
    for (const auto& [name, value] : fields) {
        std::uint32_t size = value.is_binary() ? static_cast<std::uint32_t>(value.get_byte_vector().size())
                                               : static_cast<std::uint32_t>(value.is_empty() ? 0 : 8);
        r.emplace_back(name, size, value);
    }
    return r;
}

std::wstring wide(const std::string& s) { return tk_utf8_to_unicode(s); }

// id (auto-increment primary key), a text with a default, a long text and bytes.
void create_text_table(sql_database& db, const std::wstring& name)
{
    udb_schema columns;
    columns.add_column(t_ftd(4, L"id", VT_I4, true, true));
    columns.add_column(t_ftd(40, L"s", VT_BSTR, false, false, ole_variant(L"dflt")));
    columns.add_column(t_ftd(0, L"txt", VT_BSTR, false, false));
    columns.add_column(t_ftd(0, L"bin", VT_BYTE_ARRAY, false, false));
    udb_indexes indexes;
    indexes.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    db.create_table1(name, columns, indexes);
}

const std::vector<std::wstring> awkward_texts = {
    L"O'Brien \\ \"quoted\" `tick`",
    std::wstring(L"zero\0inside", 11),
    L"emoji \U0001F600 and \U0001D11E clef",
    L"line\nbreak\r\x1a end",
    L"",
    L"'); DROP TABLE t; --",
};

}  // namespace

TEST(sql_writing, table_from_a_schema_with_every_kind_its_indexes_and_auto_increment)
{
    scratch_database sdb;
    auto db = open_writable(sdb);
    udb_schema columns;
    columns.add_column(t_ftd(4, L"id", VT_I4, true, true));
    columns.add_column(t_ftd(1, L"i1", VT_I1, false, false, ole_variant(L"-5")));
    columns.add_column(t_ftd(1, L"u1", VT_UI1, false, false));
    columns.add_column(t_ftd(2, L"i2", VT_I2, false, false));
    columns.add_column(t_ftd(2, L"u2", VT_UI2, false, false));
    columns.add_column(t_ftd(4, L"u4", VT_UI4, false, false));
    columns.add_column(t_ftd(8, L"i8", VT_I8, false, false, ole_variant(L"99999999999")));
    columns.add_column(t_ftd(8, L"u8", VT_UI8, false, false));
    columns.add_column(t_ftd(4, L"r4", VT_R4, false, false));
    columns.add_column(t_ftd(8, L"r8", VT_R8, false, false, ole_variant(L"2.5")));
    columns.add_column(t_ftd(8, L"cy", VT_CY, false, false));
    t_ftd& dec = columns.add_column(t_ftd(8, L"dec", VT_DECIMAL, false, false));
    dec.precision = 12;
    dec.scale = 3;
    columns.add_column(t_ftd(1, L"flag", VT_BOOL, false, false));
    columns.add_column(t_ftd(8, L"stamp", VT_DATE, false, false, ole_variant(), 1));
    columns.add_column(t_ftd(8, L"day", VT_DATE, false, false, ole_variant(L"2020-1-2"), 2));
    columns.add_column(t_ftd(8, L"tod", VT_DATE, false, false, ole_variant(), 3));
    columns.add_column(t_ftd(40, L"name", VT_BSTR, true, false, ole_variant(L"it's")));
    columns.add_column(t_ftd(5, L"code", VT_BSTR, false, false, ole_variant(), udb_subtype::fixed_mysql));
    columns.add_column(t_ftd(0, L"body", VT_BSTR, false, false));
    columns.add_column(t_ftd(100, L"small_bin", VT_BYTE_ARRAY, false, false));
    columns.add_column(t_ftd(0, L"big_bin", VT_BYTE_ARRAY, false, false));
    columns.add_column(t_ftd(0, L"shape", VT_BSTR, false, false, ole_variant(), udb_subtype::geometry));
    udb_indexes indexes;
    indexes.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    indexes.push_back(udb_index(L"by_name", true, false, {L"name"}));
    indexes.push_back(udb_index(L"pair", false, false, {L"i2", L"u2"}));

    auto table = db->create_table1(L"every_kind", columns, indexes);
    ASSERT_NE(table, nullptr);
    EXPECT_TRUE(db->is_table_exist(L"every_kind"));
    EXPECT_EQ(table->get_schema().size(), columns.size());
    EXPECT_TRUE(table->get_schema().get_field1(L"id").auto_increment);
    EXPECT_EQ(table->get_schema().get_field1(L"dec").scale, 3);
    // The reader finds the primary key and makes it the table's key.
    ASSERT_GE(table->get_key_pos(), 0);
    EXPECT_TRUE(table->get_indexes()[static_cast<std::size_t>(table->get_key_pos())].primary);
    EXPECT_TRUE(table->get_indexes().find2(L"by_name"));
    EXPECT_TRUE(table->get_indexes().find2(L"pair"));

    const std::string where = " FROM information_schema.columns WHERE table_schema='" + sdb.name +
                              "' AND table_name='every_kind' AND column_name=";
    EXPECT_EQ(scalar("SELECT extra" + where + "'id'"), "auto_increment");
    EXPECT_EQ(scalar("SELECT column_type" + where + "'u8'"), "bigint(20) unsigned");
    EXPECT_EQ(scalar("SELECT column_type" + where + "'dec'"), "decimal(12,3)");
    EXPECT_EQ(scalar("SELECT column_default" + where + "'name'"), "'it''s'");
    EXPECT_EQ(scalar("SELECT column_default" + where + "'i8'"), "99999999999");
    EXPECT_EQ(scalar("SELECT column_default" + where + "'day'"), "'2020-01-02'");
    EXPECT_EQ(scalar("SELECT character_set_name" + where + "'body'"), "utf8mb4");
    EXPECT_EQ(scalar("SELECT data_type" + where + "'shape'"), "geometry");
    EXPECT_EQ(scalar("SELECT is_nullable" + where + "'name'"), "NO");
    EXPECT_EQ(scalar("SELECT engine FROM information_schema.tables WHERE table_schema='" + sdb.name +
                     "' AND table_name='every_kind'"),
              "InnoDB");

    // A table that exists is opened, whatever columns are given.
    udb_schema other;
    other.add_column(t_ftd(4, L"x", VT_I4, false, false));
    udb_indexes none;
    auto again = db->create_table1(L"EVERY_KIND", other, none);
    EXPECT_EQ(again->get_schema().size(), columns.size());

    // Dropped from the server and from the list; an unlisted name is an internal error.
    EXPECT_TRUE(db->delete_tab(L"every_kind"));
    EXPECT_FALSE(db->is_table_exist(L"every_kind"));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema='" + sdb.name + "'"), "0");
    EXPECT_THROW(db->delete_tab(L"every_kind"), tk_mail_assertion);
}

namespace {

// Database properties with one table mutator (no field mutators).
class test_properties : public udb_properties {
public:
    udb_properties* get_mutator(const std::wstring& name) override { return get_mutator_by_new_name(name); }
    udb_properties* get_mutator_by_new_name(const std::wstring& name) override
    {
        auto it = tables.find(name);
        return it == tables.end() ? nullptr : &it->second;
    }
    std::map<std::wstring, test_properties> tables;
};

}  // namespace

TEST(sql_writing, table_mutator_chooses_engine_and_character_set)
{
    scratch_database sdb;
    test_properties props;
    props.tables[L"mem"].get_properties()[L"engine"] = L"MEMORY";
    props.tables[L"mem"].get_properties()[L"character set"] = L"latin1";
    test_properties plain;  // afterwards: the default table type again
    struct reset_properties {
        test_properties& plain;
        ~reset_properties()
        {
            connected_engine().set_properties(&plain);
            connected_engine().set_properties(nullptr);
        }
    } reset{plain};
    connected_engine().set_properties(&props);
    auto db = open_writable(sdb);
    udb_schema columns;
    columns.add_column(t_ftd(4, L"id", VT_I4, false, false));
    columns.add_column(t_ftd(20, L"name", VT_BSTR, false, false));
    udb_indexes none;
    db->create_table1(L"mem", columns, none);
    db->create_table1(L"disk", columns, none);
    const std::string tables = "SELECT CONCAT(engine, ' ', table_collation) FROM information_schema.tables WHERE table_schema='" +
                               sdb.name + "' AND table_name=";
    EXPECT_EQ(scalar(tables + "'mem'"), "MEMORY latin1_swedish_ci");
    EXPECT_EQ(scalar(tables + "'disk'").substr(0, 7), "InnoDB ");
}

TEST(sql_writing, read_only_database_refuses_to_create_or_drop)
{
    scratch_database sdb;
    sdb.exec("CREATE TABLE t (id INT)");
    auto db = open_writable(sdb, sql_database::mode_read_only);
    udb_schema columns;
    columns.add_column(t_ftd(4, L"x", VT_I4, false, false));
    udb_indexes none;
    EXPECT_THROW(db->create_table1(L"new_one", columns, none), tk_mail_assertion);
    EXPECT_THROW(db->delete_tab(L"t"), tk_mail_assertion);
}

TEST(sql_writing, multi_row_appends_read_back_exactly)
{
    scratch_database sdb;
    auto db = open_writable(sdb);
    create_text_table(*db, L"texts");
    const std::vector<std::uint8_t> bytes = {0x00, 0x27, 0x5C, 0x22, 0xFF, 0x00, 0x0A};
    {
        auto table = db->get_table(L"texts", 2);
        for (std::size_t i = 0; i < awkward_texts.size(); ++i) {
            udb_record r = make_record({{L"id", ole_variant(static_cast<int>(i + 1))},
                                        {L"s", ole_variant(awkward_texts[i])},
                                        {L"txt", ole_variant(awkward_texts[i])},
                                        {L"bin", ole_variant(bytes)}});
            table->append_record(r);
        }
        // A NULL for a nullable column, and no value at all for the auto-increment key.
        udb_record nulls = make_record({{L"id", ole_variant()}, {L"s", ole_variant()}, {L"txt", ole_variant()},
                                        {L"bin", ole_variant()}});
        nulls[0].set_not_null(true);
        table->append_record(nulls);
        // The rows are collected into one statement: nothing is on the server yet.
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.texts"), "0");
        EXPECT_TRUE(static_cast<sql_table*>(table.get())->has_pending_rows());
        EXPECT_EQ(table->get_record_count() - 0, awkward_texts.size() + 1);
    }  // the table object sends them as it goes
    auto rows = read_rows(*db, L"texts");
    ASSERT_EQ(rows.size(), awkward_texts.size() + 1);
    for (std::size_t i = 0; i < awkward_texts.size(); ++i) {
        SCOPED_TRACE(i);
        // Read back whole (zero characters included); the server's own copy is compared byte
        // for byte below.
        EXPECT_EQ(rows[i][1].get_wstring(), awkward_texts[i]);
        EXPECT_EQ(rows[i][2].get_wstring(), awkward_texts[i]);
        EXPECT_EQ(rows[i][3].get_byte_vector(), bytes);
        const std::string utf8 = pf_wide_to_utf8(awkward_texts[i]);
        const std::string hex = tk_bin_to_hex(utf8.data(), utf8.size());
        EXPECT_EQ(scalar("SELECT HEX(s) FROM `" + sdb.name + "`.texts WHERE id=" + std::to_string(i + 1)), hex);
        EXPECT_EQ(scalar("SELECT HEX(txt) FROM `" + sdb.name + "`.texts WHERE id=" + std::to_string(i + 1)), hex);
    }
    const udb_record& last = rows.back();
    EXPECT_EQ(last[0].to_string(), std::to_string(awkward_texts.size() + 1));
    EXPECT_TRUE(last[1].is_empty());
    EXPECT_TRUE(last[2].is_empty());
    EXPECT_TRUE(last[3].is_empty());
}

TEST(sql_writing, multi_row_statement_is_sent_when_the_next_row_does_not_fit)
{
    scratch_database sdb;
    auto db = open_writable(sdb);
    create_text_table(*db, L"chunks");
    auto table = db->get_table(L"chunks", 2);
    const std::wstring text(400000, L'x');
    for (int i = 1; i <= 3; ++i) {
        udb_record r = make_record({{L"id", ole_variant(i)}, {L"txt", ole_variant(text)}});
        table->append_record(r);
    }
    // The third row did not fit beside the first two: they went out together.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.chunks"), "2");
    // A row of another field count sends the pending one first.
    udb_record shorter = make_record({{L"id", ole_variant(4)}});
    table->append_record(shorter);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.chunks"), "3");
    // The same number of fields naming other columns starts a statement of its own too.
    udb_record other = make_record({{L"id", ole_variant(5)}, {L"s", ole_variant(L"five")}});
    udb_record swapped = make_record({{L"s", ole_variant(L"six")}, {L"id", ole_variant(6)}});
    table->append_record(other);
    table->append_record(swapped);
    static_cast<sql_table*>(table.get())->flush();
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.chunks"), "6");
    EXPECT_EQ(scalar("SELECT s FROM `" + sdb.name + "`.chunks WHERE id=4"), "dflt");
    EXPECT_EQ(scalar("SELECT s FROM `" + sdb.name + "`.chunks WHERE id=6"), "six");
}

TEST(sql_writing, rows_over_a_megabyte_go_alone_with_long_data_in_column_order)
{
    fast_append_restorer restore;
    scratch_database sdb;
    auto db = open_writable(sdb);
    create_text_table(*db, L"big");
    std::wstring long_text;
    while (long_text.size() < 1200000) long_text += L"\U0001F600a'\\\"";
    long_text += std::wstring(1, L'\0') + L"end";
    std::vector<std::uint8_t> long_bytes(1500000);
    for (std::size_t i = 0; i < long_bytes.size(); ++i) long_bytes[i] = static_cast<std::uint8_t>(i * 7);
    {
        auto table = db->get_table(L"big", 2);
        udb_record small = make_record({{L"id", ole_variant(1)}, {L"s", ole_variant(L"small")}});
        table->append_record(small);
        // Fields in another order than the table's: the long values must reach their columns.
        udb_record big = make_record({{L"bin", ole_variant(long_bytes)},
                                      {L"txt", ole_variant(long_text)},
                                      {L"s", ole_variant(L"big one")},
                                      {L"id", ole_variant(2)}});
        table->append_record(big);
        EXPECT_FALSE(connected_engine().is_use_fast_append());
        // The pending row went out before the big one, which went alone.
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.big"), "2");
        udb_record after = make_record({{L"id", ole_variant(3)}, {L"s", ole_variant(L"after")}});
        table->append_record(after);
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.big"), "3");
        // A row the server could not take is refused before anything is sent.
        const auto packet = static_cast<std::size_t>(connected_engine().get_max_allowed_packet());
        udb_record huge = make_record({{L"id", ole_variant(4)}, {L"bin", ole_variant(std::vector<std::uint8_t>(packet + 1, 7))}});
        try {
            table->append_record(huge);
            ADD_FAILURE() << "a row over max_allowed_packet was accepted";
        } catch (const tk_exception& e) {
            EXPECT_STREQ(e.what(), "Row size exceeds 'max_allowed_packet'");
            EXPECT_EQ(e.level(), 0);
        }
        EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.big"), "3");
    }
    auto rows = read_rows(*db, L"big");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1][1].get_wstring(), L"big one");
    EXPECT_TRUE(rows[1][2].get_wstring() == long_text);
    EXPECT_EQ(scalar("SELECT CHAR_LENGTH(txt) FROM `" + sdb.name + "`.big WHERE id=2"), std::to_string(long_text.size()));
    EXPECT_EQ(scalar("SELECT RIGHT(txt, 5) = CONCAT(CHAR(34), CHAR(0), 'end') FROM `" + sdb.name + "`.big WHERE id=2"), "1");
    EXPECT_TRUE(rows[1][3].get_byte_vector() == long_bytes);
    EXPECT_EQ(rows[2][1].get_wstring(), L"after");
}

TEST(sql_writing, replace_mode_overwrites_and_plain_mode_keeps_the_first_row)
{
    fast_append_restorer restore;
    scratch_database sdb;
    {
        auto db = open_writable(sdb);
        create_text_table(*db, L"t");
        auto table = db->get_table(L"t", 2);
        udb_record first = make_record({{L"id", ole_variant(1)}, {L"s", ole_variant(L"first")}});
        table->append_record(first);
    }
    for (bool fast : {true, false}) {
        SCOPED_TRACE(fast);
        connected_engine().set_use_fast_append(fast);
        {
            auto db = open_writable(sdb);
            auto table = db->get_table(L"t", 2);
            udb_record dup = make_record({{L"id", ole_variant(1)}, {L"s", ole_variant(L"ignored")}});
            if (fast) {
                table->append_record(dup);  // INSERT IGNORE: the row is skipped
            } else {
                EXPECT_THROW(table->append_record(dup), sql_exception);  // INSERT: duplicate key
            }
        }
        EXPECT_EQ(scalar("SELECT s FROM `" + sdb.name + "`.t WHERE id=1"), "first");
        {
            auto db = open_writable(sdb, 2 | sql_database::mode_replace);
            auto table = db->get_table(L"t", 2);
            udb_record rep = make_record({{L"id", ole_variant(1)}, {L"s", ole_variant(fast ? L"fast" : L"slow")}});
            table->append_record(rep);
        }
        EXPECT_EQ(scalar("SELECT s FROM `" + sdb.name + "`.t WHERE id=1"), fast ? "fast" : "slow");
        // Put the first value back for the next round.
        sdb.exec("UPDATE t SET s='first' WHERE id=1");
    }
}

TEST(sql_writing, records_that_do_not_match_the_columns_are_refused)
{
    scratch_database sdb;
    auto db = open_writable(sdb);
    create_text_table(*db, L"t");
    auto table = db->get_table(L"t", 2);
    // Fewer fields than columns: every field needs its column.
    udb_record unknown = make_record({{L"id", ole_variant(1)}, {L"nope", ole_variant(1)}});
    EXPECT_THROW(table->append_record(unknown), tk_exception);
    // As many fields: every column needs its field; extra fields are ignored.
    udb_record missing = make_record({{L"id", ole_variant(1)}, {L"s", ole_variant(L"a")}, {L"txt", ole_variant(L"b")},
                                      {L"other", ole_variant(L"c")}});
    EXPECT_THROW(table->append_record(missing), tk_exception);
    udb_record extra = make_record({{L"id", ole_variant(1)}, {L"s", ole_variant(L"a")}, {L"txt", ole_variant(L"b")},
                                    {L"bin", ole_variant()}, {L"other", ole_variant(L"c")}});
    table->append_record(extra);
    EXPECT_EQ(table->get_record_count(), 1u);
}

TEST(sql_writing, updates_and_deletes_by_key_and_by_key_text)
{
    scratch_database sdb;
    sdb.exec("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(40), note VARCHAR(40))");
    sdb.exec("INSERT INTO t VALUES (1,'a&b','x'),(2,'it''s','y'),(3,'c','z'),(4,'d','w')");
    auto db = open_writable(sdb);
    auto table = db->get_table(L"t", 2);

    udb_record by_key = make_record({{L"id", ole_variant(2)}, {L"note", ole_variant(L"new 'n' \\")}});
    table->update1(by_key);
    EXPECT_EQ(scalar("SELECT note FROM `" + sdb.name + "`.t WHERE id=2"), "new 'n' \\");

    udb_record note = make_record({{L"note", ole_variant(L"k")}});
    table->update2(note, L"<name>a&amp;b</name>");
    EXPECT_EQ(scalar("SELECT note FROM `" + sdb.name + "`.t WHERE id=1"), "k");

    // A key value can never widen the condition.
    table->delete_key(L"<name>x' OR '1'='1</name>");
    table->delete_key(L"<id>5 OR 1=1</id>");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.t"), "4");

    table->delete_key(L"<id>3</id>");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.t WHERE id=3"), "0");
    udb_record by_record = make_record({{L"name", ole_variant(L"it's")}, {L"note", ole_variant(L"new 'n' \\")}});
    table->delete_key(by_record);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.t WHERE id=2"), "0");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.t"), "2");

    // The condition by itself: numbers bare, texts decoded and escaped whole.
    EXPECT_EQ(sql_sync(*db).get_filter_subquery(L"t", L"<id>7</id><name>x&amp;'y&lt;</name>"),
              L"`id`=7 and `name`='x&\\'y<' ");

    // A failure of the server is not swallowed.
    sdb.exec("DROP TABLE t");
    udb_record again = make_record({{L"id", ole_variant(4)}, {L"note", ole_variant(L"q")}});
    EXPECT_THROW(table->update1(again), sql_exception);
}

// What the neutral layer asks of a MySQL database: a table's own key condition and the
// emptying of a table, both spelled in backticks, reach exactly the rows they name.
TEST(sql_writing, key_condition_and_empty_table_through_the_database)
{
    scratch_database sdb;
    sdb.exec("CREATE TABLE `we``ird t` (id INT PRIMARY KEY, name VARCHAR(10))");
    sdb.exec("INSERT INTO `we``ird t` VALUES (1,'a'),(2,'it''s')");
    auto db = open_writable(sdb);
    auto table = db->get_table(L"we`ird t", 2);
    for (const wchar_t* key : {L"<id>2</id><name>it's</name>", L"<ID>1</ID>", L"<name>a&amp;b</name>"})
        EXPECT_EQ(table->get_filter_subquery(key), sql_sync::get_filter_subquery(table->get_schema(), key)) << key;

    table->delete_key(L"<name>it's</name>");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.`we``ird t`"), "1");
    db->empty_table(L"we`ird t");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.`we``ird t`"), "0");
}

TEST(sql_writing, update_of_a_table_without_key_sends_nothing)
{
    scratch_database sdb;
    sdb.exec("CREATE TABLE t (id INT, note VARCHAR(10))");
    sdb.exec("INSERT INTO t VALUES (1,'x')");
    auto db = open_writable(sdb);
    auto table = db->get_table(L"t", 2);
    udb_record r = make_record({{L"id", ole_variant(1)}, {L"note", ole_variant(L"y")}});
    table->update1(r);
    EXPECT_EQ(scalar("SELECT note FROM `" + sdb.name + "`.t"), "x");
}

TEST(sql_writing, views_created_renamed_reported_and_dropped)
{
    captured_reports reports;
    scratch_database sdb;
    sdb.exec("CREATE TABLE t (id INT, name VARCHAR(10))");
    auto db = open_writable(sdb);
    db->create_views({{L"v1", L"SELECT id, name FROM t"},
                      {L"v`2", L"select name from t"},
                      {L"v3", L" select 1"},
                      {L"v4", L"(select 1)"},
                      {L"v5", L"SELECT * FROM missing_table"},
                      {L"v`6", L"SELECT id FROM t"}});
    std::set<std::string> names;
    {
        sql_tmp_recordset rs(connected_engine().connection(),
                             "SELECT table_name FROM information_schema.views WHERE table_schema='" + sdb.name + "'");
        rs.initialize();
        while (!rs.is_eof()) {
            names.insert(rs.get_item()->get(0)->to_string());
            rs.next();
        }
    }
    const std::wstring v2 = db->get_names_map().get_tn_mapped_name(L"v`2", true);
    const std::wstring v6 = db->get_names_map().get_tn_mapped_name(L"v`6", true);
    EXPECT_NE(v2, L"v`2");
    EXPECT_NE(v6, L"v`6");
    EXPECT_NE(v2, v6);
    EXPECT_EQ(names, (std::set<std::string>{"v1", tk_unicode_to_utf8(v2), tk_unicode_to_utf8(v6)}));
    ASSERT_EQ(reports.items.size(), 1u);
    EXPECT_EQ(reports.items[0].first, L"View 'v5'");

    db->query(L"DROP VIEW `v1`");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.views WHERE table_schema='" + sdb.name +
                     "' AND table_name='v1'"),
              "0");
}

TEST(sql_writing, foreign_keys_created_reported_unlocked_and_dropped)
{
    captured_reports reports;
    scratch_database sdb;
    sdb.exec("CREATE TABLE parent (id INT PRIMARY KEY) ENGINE=InnoDB");
    sdb.exec("CREATE TABLE child (id INT PRIMARY KEY, pid INT) ENGINE=InnoDB");
    sdb.exec("CREATE TABLE child2 (id INT PRIMARY KEY, pid INT, KEY k (pid, id)) ENGINE=InnoDB");
    sdb.exec("CREATE TABLE self (id INT PRIMARY KEY, up INT) ENGINE=InnoDB");
    sdb.exec("CREATE TABLE other (id INT)");
    sdb.exec("INSERT INTO parent VALUES (1),(2)");
    sdb.exec("INSERT INTO child VALUES (10,1),(20,2)");
    auto db = open_writable(sdb);
    const std::string before = scalar("SELECT @@foreign_key_checks");
    db->create_relationships({
        udb_relationship(L"fk1", L"", L"child", L"parent", {L"pid"}, {L"id"}, L"ON DELETE CASCADE"),
        udb_relationship(L"fk_self", L"", L"self", L"self", {L"up"}, {L"id"}, L""),
        udb_relationship(L"fk_missing", L"", L"child", L"nothere", {L"pid"}, {L"id"}, L""),
        udb_relationship(L"", L"", L"child", L"nothere", {L"pid"}, {L"id"}, L""),
        udb_relationship(L"fk1", L"", L"child2", L"parent", {L"pid"}, {L"id"}, L""),
        udb_relationship(L"fk_rule", L"", L"child2", L"parent", {L"pid"}, {L"id"}, L"ON DELETE CASCADE; DROP TABLE x"),
    });
    ASSERT_EQ(reports.items.size(), 3u);
    EXPECT_EQ(reports.items[0].first, L"Foreign key 'fk_missing'");
    EXPECT_NE(reports.items[0].second.find("Cannot create foreign key."), std::string::npos);
    EXPECT_EQ(reports.items[1].first, L"child");
    EXPECT_EQ(reports.items[2].first, L"Foreign key 'fk_rule'");

    // No table stays locked: a table outside the locks can be read on the same session.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.other"), "0");
    EXPECT_EQ(scalar("SELECT @@foreign_key_checks"), before);

    const std::string keys = "SELECT GROUP_CONCAT(constraint_name ORDER BY table_name, constraint_name) FROM "
                             "information_schema.referential_constraints WHERE constraint_schema='" + sdb.name + "'";
    const std::string created = scalar(keys);
    // The second fk1 got a name of its own.
    EXPECT_EQ(created.substr(0, 4), "fk1,") << created;
    EXPECT_NE(created.find("fk_self"), std::string::npos) << created;
    EXPECT_EQ(std::count(created.begin(), created.end(), ','), 2) << created;
    // An index was added for child.pid; child2's (pid, id) index already covered its key.
    EXPECT_EQ(scalar("SELECT COUNT(DISTINCT index_name) FROM information_schema.statistics WHERE table_schema='" +
                     sdb.name + "' AND table_name='child2'"),
              "2");

    sdb.exec("SET FOREIGN_KEY_CHECKS=1");
    sdb.exec("DELETE FROM parent WHERE id=1");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM `" + sdb.name + "`.child"), "1");

    db->delete_fk(udb_relationship(L"fk1", L"", L"child", L"parent", {L"pid"}, {L"id"}, L""));
    EXPECT_EQ(scalar(keys).find("fk1,fk_"), std::string::npos);
}

TEST(sql_writing, foreign_keys_need_no_statement_in_append_mode)
{
    captured_reports reports;
    scratch_database sdb;
    sdb.exec("CREATE TABLE parent (id INT PRIMARY KEY)");
    sdb.exec("CREATE TABLE child (id INT PRIMARY KEY, pid INT)");
    auto db = open_writable(sdb, sql_database::mode_append);
    db->create_relationships({udb_relationship(L"fk1", L"", L"child", L"parent", {L"pid"}, {L"id"}, L"")});
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM information_schema.referential_constraints WHERE constraint_schema='" +
                     sdb.name + "'"),
              "0");
    EXPECT_TRUE(reports.items.empty());
}

TEST(sql_writing, pending_rows_that_fail_are_reported)
{
    fast_append_restorer restore;
    captured_reports reports;
    scratch_database sdb;
    auto db = open_writable(sdb);
    create_text_table(*db, L"lost");
    create_text_table(*db, L"lost2");
    {
        auto table = db->get_table(L"lost", 2);
        udb_record r = make_record({{L"id", ole_variant(1)}, {L"s", ole_variant(L"a")}});
        table->append_record(r);
        sdb.exec("DROP TABLE lost");
        // A row over 1,000,000 bytes sends the pending rows first: their failure is reported,
        // and the big row fails on its own.
        udb_record big = make_record({{L"id", ole_variant(2)}, {L"bin", ole_variant(std::vector<std::uint8_t>(1100000, 1))}});
        EXPECT_THROW(table->append_record(big), tk_exception);
        ASSERT_EQ(reports.items.size(), 1u);
        EXPECT_EQ(reports.items[0].first, L"lost");
    }
    connected_engine().set_use_fast_append(true);
    {
        auto table = db->get_table(L"lost2", 2);
        udb_record r = make_record({{L"id", ole_variant(1)}, {L"s", ole_variant(L"a")}});
        table->append_record(r);
        sdb.exec("DROP TABLE lost2");
    }  // the table object goes with rows it cannot send
    ASSERT_EQ(reports.items.size(), 2u);
    EXPECT_EQ(reports.items[1].first, L"lost2");
}

TEST(sql_writing, prepared_statement_handles_are_closed_on_every_path)
{
    scratch_database sdb;
    sdb.exec("CREATE TABLE t (id INT PRIMARY KEY, b LONGBLOB)");
    auto db = open_writable(sdb);
    auto closes = [] { return std::stoll(scalar("SELECT variable_value FROM information_schema.session_status "
                                                 "WHERE variable_name='COM_STMT_CLOSE'")); };
    udb_record row = make_record({{L"b", ole_variant(std::vector<std::uint8_t>(1200000, 0x41))}});
    const std::string insert = "INSERT INTO t (id, b) VALUES (1, ?)";
    const long long start = closes();
    db->prepared_statement(insert, row, 1);
    EXPECT_EQ(closes(), start + 1);
    // Execution fails (duplicate key).
    EXPECT_THROW(db->prepared_statement(insert, row, 1), sql_prep_stmt_failed_exception);
    EXPECT_EQ(closes(), start + 2);
    // More long values than placeholders: refused after preparing.
    EXPECT_THROW(db->prepared_statement("INSERT INTO t (id) VALUES (2)", row, 0), sql_prep_stmt_failed_exception);
    EXPECT_EQ(closes(), start + 3);
    // Preparing fails.
    EXPECT_THROW(db->prepared_statement("INSERT INTO nowhere VALUES (?)", row, 1), sql_prep_stmt_failed_exception);
    EXPECT_EQ(scalar("SELECT LENGTH(b) FROM `" + sdb.name + "`.t WHERE id=1"), "1200000");
}

TEST(sql_writing, created_database_takes_four_byte_characters)
{
    sql_engine& e = connected_engine();
    const std::string name = test_env::unique_name("qsqlw");
    auto db = e.create_db(wide(name));
    struct dropper {
        sql_engine& e;
        std::wstring name;
        ~dropper()
        {
            try {
                e.db_delete(name);
            } catch (...) {
            }
        }
    } drop{e, wide(name)};
    EXPECT_EQ(scalar("SELECT default_character_set_name FROM information_schema.schemata WHERE schema_name='" +
                     name + "'"),
              "utf8mb4");
    udb_schema columns;
    columns.add_column(t_ftd(10, L"s", VT_BSTR, false, false));
    udb_indexes none;
    auto table = db->create_table1(L"t", columns, none);
    udb_record r = make_record({{L"s", ole_variant(L"\U0001F600\U0001F601")}});
    table->append_record(r);
    table.reset();
    auto rows = read_rows(static_cast<sql_database&>(*db), L"t");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].get_wstring(), L"\U0001F600\U0001F601");
}

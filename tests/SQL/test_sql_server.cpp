// The MySQL engine against the real test server: session, lists, table structure, streaming,
// queries and error paths. Each test owns a database of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <set>

#include "SQL/sql_database.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_recordset.h"
#include "SQL/sql_table.h"
#include "SQL/sql_tmp_recordset.h"
#include "sql_test_support.h"

namespace {

std::unique_ptr<sql_database> open(const scratch_database& db, std::int32_t mode = 1)
{
    auto base = connected_engine().open_db(db.wname(), mode, L"");
    return std::unique_ptr<sql_database>(static_cast<sql_database*>(base.release()));
}

// Reads a recordset to its end as the conversion does and gives the first column's texts.
std::vector<std::string> read_first_column(udb_recordset& rs)
{
    std::vector<std::string> out;
    rs.reset();
    while (!rs.is_eof()) {
        udb_record* r = rs.get_item();
        EXPECT_NE(r, nullptr);
        if (!r) break;
        out.push_back((*r)[0].to_string());
        rs.next();
    }
    return out;
}

const t_ftd& column(udb_recordset& rs, const wchar_t* name)
{
    EXPECT_TRUE(rs.get_schema().find_field(name)) << tk_unicode_to_utf8(name);
    return rs.get_schema().get_field1(name);
}

}  // namespace

TEST(sql_server, session_runs_utf8mb4_with_long_idle_timeout_and_no_fk_checks)
{
    sql_engine& e = connected_engine();
    EXPECT_EQ(e.get_session_charset(), "utf8mb4");
    EXPECT_GE(e.get_server_version(), 0x0A0B00u);  // MariaDB 10.11
    sql_tmp_recordset rs(e.connection(),
                         std::string("SELECT @@character_set_client, @@character_set_connection, "
                                     "@@character_set_results, @@session.wait_timeout, @@foreign_key_checks"));
    rs.initialize();
    ASSERT_FALSE(rs.is_eof());
    udb_record& r = *rs.get_item();
    EXPECT_EQ(r[0].to_string(), "utf8mb4");
    EXPECT_EQ(r[1].to_string(), "utf8mb4");
    EXPECT_EQ(r[2].to_string(), "utf8mb4");
    EXPECT_GE(std::stoll(r[3].to_string()), 28800);
    EXPECT_EQ(r[4].to_string(), "0");
    EXPECT_GT(e.get_max_allowed_packet(), 0);
}

TEST(sql_server, refused_logins_carry_the_error_numbers_of_the_error_table)
{
    auto f = test_env::mysql();
    sql_engine second;  // not the singleton: its errors come from its own connection
    try {
        second.connect(f.host, f.user, f.password + "-wrong", f.port);
        FAIL() << "wrong password accepted";
    } catch (const sql_exception& e) {
        EXPECT_EQ(e.error_code(), 0x400000 + 1045);
        EXPECT_EQ(e.level(), 0);
        EXPECT_NE(std::string(e.what()).find("Access denied"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(second.is_connected());
    try {
        second.connect(f.host, f.user, f.password, 1);  // nothing listens on port 1
        FAIL() << "closed port accepted";
    } catch (const sql_exception& e) {
        EXPECT_EQ(e.error_code(), 0x400000 + 2003) << e.what();
        EXPECT_NE(std::string(e.what()).find("127.0.0.1"), std::string::npos) << e.what();
    }
    // The same object connects afterwards, and a second connect replaces the first.
    second.connect(f.host, f.user, f.password, f.port);
    second.connect(f.host, f.user, f.password, f.port);
    EXPECT_TRUE(second.is_connected());
}

TEST(sql_server, lists_databases_tables_and_cleaned_views)
{
    // An apostrophe in the database name must not break the view-list statement.
    scratch_database db("qsql_o'q");
    db.exec("CREATE TABLE Orders (id INT PRIMARY KEY, note VARCHAR(10))");
    db.exec("CREATE TABLE items (id INT)");
    db.exec("CREATE SEQUENCE seq1");
    db.exec("CREATE VIEW v_orders AS SELECT o.id, o.note FROM Orders o /* keep out */ WHERE o.id > 1");
    sql_engine& e = connected_engine();
    auto names = e.get_contents();
    EXPECT_NE(std::find(names.begin(), names.end(), db.wname()), names.end());
    EXPECT_TRUE(e.is_db_exist(db.wname()));
    EXPECT_FALSE(e.is_db_exist(db.wname() + L"_missing"));

    auto d = open(db);
    auto tables = d->get_table_names();
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, (std::vector<std::wstring>{L"Orders", L"items"}));  // no view, no sequence
    EXPECT_TRUE(d->is_table_exist(L"ORDERS"));
    ASSERT_EQ(d->get_views().size(), 1u);
    EXPECT_EQ(d->get_views()[0].first, L"v_orders");
    const std::wstring& def = d->get_views()[0].second;
    EXPECT_EQ(def.find(db.wname()), std::wstring::npos) << tk_unicode_to_utf8(def);
    EXPECT_NE(def.find(L"`o`.`id`"), std::wstring::npos) << tk_unicode_to_utf8(def);

    auto no_views = open(db, 0x81);
    EXPECT_TRUE(no_views->get_views().empty());
}

TEST(sql_server, a_table_that_is_not_listed_is_a_continuable_error_naming_it)
{
    scratch_database db;
    db.exec("CREATE TABLE t (id INT)");
    auto d = open(db);
    auto upper = d->get_table(L"T", 1);  // found ignoring case, opened under its listed name
    EXPECT_EQ(upper->get_name(), L"t");
    try {
        d->get_table(L"missing_table", 1);
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 0);
        EXPECT_NE(std::string(e.what()).find("missing_table"), std::string::npos);
    }
}

struct column_case {
    const wchar_t* name;
    VARTYPE kind;
    std::uint32_t size;
    std::int32_t precision, scale, sub;
    bool not_null, auto_inc;
    const char* def;  // nullptr: no default
};

TEST(sql_server, column_descriptions_of_every_type)
{
    scratch_database db;
    db.exec(
        "CREATE TABLE all_types ("
        " id BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,"
        " ti TINYINT NOT NULL DEFAULT 5, tiu TINYINT UNSIGNED, si SMALLINT, siu SMALLINT UNSIGNED,"
        " mi MEDIUMINT, miu MEDIUMINT UNSIGNED, i INT NOT NULL, iu INT UNSIGNED, bi BIGINT,"
        " f FLOAT, f72 FLOAT(7,2), d DOUBLE, dec10 DECIMAL(10,2) DEFAULT 1.50, decu DECIMAL(10,2) UNSIGNED,"
        " dec0 DECIMAL(11,0), dec65 DECIMAL(65,30),"
        " dt DATETIME NOT NULL DEFAULT '0000-00-00 00:00:00', ts TIMESTAMP NOT NULL DEFAULT current_timestamp(),"
        " ts6 TIMESTAMP(6) NULL DEFAULT current_timestamp(6), dt3 DATETIME(3), da DATE DEFAULT '2000-01-01',"
        " tm TIME, y YEAR,"
        " b1 BIT(1) NOT NULL DEFAULT b'1', b12 BIT(12),"
        " c CHAR(10) DEFAULT 'abc', vc VARCHAR(40) NOT NULL DEFAULT '', vcn VARCHAR(5) DEFAULT '',"
        " vcb VARCHAR(20) COLLATE utf8mb4_bin,"
        " bin BINARY(4), vbin VARBINARY(16),"
        " tt TINYTEXT, tx TEXT, mt MEDIUMTEXT, lt LONGTEXT, tb TINYBLOB, bl BLOB, mb MEDIUMBLOB, lb LONGBLOB,"
        " e ENUM('a','b'), st SET('x','y'), j JSON, g GEOMETRY)");
    auto d = open(db);
    auto rs = d->get_table(L"all_types", 1);
    const std::vector<column_case> cases = {
        {L"id", VT_UI8, 20, 0, 0, 2, true, true, nullptr},
        {L"ti", VT_I1, 4, 0, 0, 0, true, false, "5"},
        {L"tiu", VT_UI1, 3, 0, 0, 0, false, false, nullptr},
        {L"si", VT_I2, 6, 0, 0, 0, false, false, nullptr},
        {L"siu", VT_UI2, 5, 0, 0, 0, false, false, nullptr},
        {L"mi", VT_I4, 9, 0, 0, 0, false, false, nullptr},
        {L"miu", VT_I4, 8, 0, 0, 0, false, false, nullptr},
        {L"i", VT_I4, 11, 0, 0, 0, true, false, nullptr},
        {L"iu", VT_UI4, 10, 0, 0, 0, false, false, nullptr},
        {L"bi", VT_I8, 20, 0, 0, 1, false, false, nullptr},
        {L"f", VT_R4, 12, 0, 0, 0, false, false, nullptr},
        {L"f72", VT_DECIMAL, 7, 7, 2, 0, false, false, nullptr},
        {L"d", VT_R8, 22, 0, 0, 0, false, false, nullptr},
        {L"dec10", VT_DECIMAL, 12, 10, 2, 0, false, false, "1.50"},
        {L"decu", VT_DECIMAL, 11, 10, 2, 0, false, false, nullptr},
        {L"dec0", VT_DECIMAL, 12, 11, 0, 0, false, false, nullptr},
        {L"dec65", VT_DECIMAL, 67, 65, 30, 0, false, false, nullptr},
        {L"dt", VT_DATE, 19, 0, 0, 1, false, false, nullptr},
        {L"ts", VT_DATE, 19, 0, 0, 9, true, false, nullptr},
        {L"ts6", VT_DATE, 26, 0, 6, 9, false, false, nullptr},
        {L"dt3", VT_DATE, 23, 0, 3, 1, false, false, nullptr},
        {L"da", VT_DATE, 10, 0, 0, 2, false, false, "2000-01-01"},
        {L"tm", VT_DATE, 10, 0, 0, 3, false, false, nullptr},
        {L"y", VT_UI2, 4, 0, 0, 0, false, false, nullptr},
        {L"b1", VT_BOOL, 1, 0, 0, udb_subtype::bit, true, false, "1"},
        {L"b12", VT_UI2, 12, 0, 0, udb_subtype::bit, false, false, nullptr},
        {L"c", VT_BSTR, 10, 0, 0, 0, false, false, "abc"},
        // DEFAULT '' rides in the sub-type: an empty text is no default in the value.
        {L"vc", VT_BSTR, 40, 0, 0, 0x10, true, false, ""},
        {L"vcn", VT_BSTR, 5, 0, 0, 0x10, false, false, nullptr},
        {L"vcb", VT_BSTR, 20, 0, 0, 0, false, false, nullptr},
        {L"bin", VT_BYTE_ARRAY, 4, 0, 0, 0, false, false, nullptr},
        {L"vbin", VT_BYTE_ARRAY, 16, 0, 0, 0, false, false, nullptr},
        {L"tt", VT_BSTR, 1020, 0, 0, 0, false, false, nullptr},
        {L"tx", VT_BSTR, 262140, 0, 0, 0, false, false, nullptr},
        {L"lt", VT_BSTR, 4294967295u, 0, 0, 0, false, false, nullptr},
        {L"tb", VT_BYTE_ARRAY, 255, 0, 0, 0, false, false, nullptr},
        {L"bl", VT_BYTE_ARRAY, 65535, 0, 0, 0, false, false, nullptr},
        {L"lb", VT_BYTE_ARRAY, 4294967295u, 0, 0, 0, false, false, nullptr},
        {L"e", VT_BSTR, 4, 0, 0, 0, false, false, nullptr},
        {L"j", VT_BSTR, 4294967295u, 0, 0, 0, false, false, nullptr},
        {L"g", VT_BSTR, 4294967295u, 0, 0, 2, false, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(tk_unicode_to_utf8(c.name));
        const t_ftd& col = column(*rs, c.name);
        EXPECT_EQ(col.vartype, c.kind);
        EXPECT_EQ(col.size, c.size);
        EXPECT_EQ(col.precision, c.precision);
        EXPECT_EQ(col.scale, c.scale);
        EXPECT_EQ(col.dw_reserved, c.sub);
        EXPECT_EQ(col.b_not_null, c.not_null);
        EXPECT_EQ(col.auto_increment, c.auto_inc);
        if (c.def) EXPECT_EQ(col.default_value.to_string(), c.def);
        else EXPECT_TRUE(col.default_value.is_empty()) << col.default_value.to_string();
    }
    // NOT NULL with a zero-date default: nullable while the rows arrive, NOT NULL again after.
    EXPECT_TRUE(column(*rs, L"dt").not_null_after_rows);
    EXPECT_FALSE(column(*rs, L"ts").not_null_after_rows);
    EXPECT_EQ(rs->get_key_pos(), 0);
    // The geometry column is read as its own bytes, never through a text form that rounds.
    EXPECT_EQ(static_cast<sql_recordset&>(*rs).get_local_select().find(L"ST_AsText"), std::wstring::npos);
}

TEST(sql_server, indexes_and_the_key_index)
{
    scratch_database db;
    db.exec("CREATE TABLE t (a INT NOT NULL, b INT NOT NULL, c VARCHAR(100), d INT,"
            " UNIQUE KEY u_c (c), KEY ix_prefix (c(10), d), PRIMARY KEY (b, a), KEY ix_d (d))");
    auto d = open(db);
    auto rs = d->get_table(L"t", 1);
    const auto& ix = rs->get_indexes();
    ASSERT_EQ(ix.size(), 4u);
    ASSERT_GE(rs->get_key_pos(), 0);
    const udb_index& key = ix[static_cast<std::size_t>(rs->get_key_pos())];
    EXPECT_EQ(key.name, L"PRIMARY");
    EXPECT_TRUE(key.primary);
    EXPECT_TRUE(key.unique);
    EXPECT_EQ(key.fields, (std::vector<std::wstring>{L"b", L"a"}));
    EXPECT_TRUE(ix.get_index(L"u_c").unique);
    EXPECT_FALSE(ix.get_index(L"u_c").primary);
    EXPECT_EQ(ix.get_index(L"ix_prefix").fields, (std::vector<std::wstring>{L"c", L"d"}));
    EXPECT_FALSE(ix.get_index(L"ix_d").unique);

    // Mode 0x20 reads neither indexes nor foreign keys.
    auto bare = d->get_table(L"t", 0x20);
    EXPECT_TRUE(bare->get_indexes().empty());
    EXPECT_EQ(bare->get_key_pos(), -1);
}

TEST(sql_server, foreign_keys_named_and_unnamed)
{
    scratch_database db;
    db.exec("CREATE TABLE parent (id INT PRIMARY KEY, k1 INT, k2 INT, UNIQUE KEY (k1, k2)) ENGINE=InnoDB");
    db.exec("CREATE TABLE child (id INT PRIMARY KEY, p INT, q1 INT, q2 INT,"
            " CONSTRAINT fk_named FOREIGN KEY (p) REFERENCES parent (id) ON DELETE CASCADE,"
            " FOREIGN KEY (q1, q2) REFERENCES parent (k1, k2)) ENGINE=InnoDB");
    auto d = open(db);
    auto rs = d->get_table(L"child", 1);
    const auto& rel = d->get_relationships();
    ASSERT_EQ(rel.size(), 2u);
    auto named = std::find_if(rel.begin(), rel.end(), [](auto& r) { return r.name == L"fk_named"; });
    ASSERT_NE(named, rel.end());
    EXPECT_EQ(named->table, L"child");
    EXPECT_EQ(named->ref_table, L"parent");
    EXPECT_EQ(named->fk_flds, (std::vector<std::wstring>{L"p"}));
    EXPECT_EQ(named->pk_flds, (std::vector<std::wstring>{L"id"}));
    EXPECT_EQ(named->rule, L"ON DELETE CASCADE");
    auto unnamed = std::find_if(rel.begin(), rel.end(), [](auto& r) { return r.name != L"fk_named"; });
    EXPECT_FALSE(unnamed->name.empty());  // the server names it
    EXPECT_EQ(unnamed->fk_flds, (std::vector<std::wstring>{L"q1", L"q2"}));
    EXPECT_EQ(unnamed->pk_flds, (std::vector<std::wstring>{L"k1", L"k2"}));
    EXPECT_EQ(unnamed->rule, L"");
}

class sql_streaming : public ::testing::TestWithParam<int> {};

TEST_P(sql_streaming, every_row_exactly_once)
{
    const int n = GetParam();
    scratch_database db;
    db.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(20))");
    if (n > 0) db.exec("INSERT INTO t SELECT seq, CONCAT('row ', seq) FROM seq_1_to_" + std::to_string(n));
    auto d = open(db);
    auto check = [n](const std::vector<std::string>& ids) {
        ASSERT_EQ(ids.size(), static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) ASSERT_EQ(ids[static_cast<std::size_t>(i)], std::to_string(i + 1));
    };
    auto table = d->get_table(L"t", 1);
    EXPECT_EQ(table->get_record_count(), static_cast<std::uint64_t>(n));
    check(read_first_column(*table));
    check(read_first_column(*table));  // a second reset reads the table again from the start
    auto query = d->get_query(L"q", L"SELECT id, v FROM t ORDER BY id", 0);
    check(read_first_column(*query));
    auto tmp = d->query(L"SELECT id FROM t ORDER BY id");
    ASSERT_TRUE(tmp);
    check(read_first_column(*tmp));
}

INSTANTIATE_TEST_SUITE_P(row_counts, sql_streaming, ::testing::Values(0, 256, 257, 2500));

// Rows of large values fill a window by bytes, not by count: every row still arrives once, in
// order, with its whole value, small rows after large ones included, and wide rows too.
TEST(sql_server, large_and_wide_rows_arrive_whole_through_windows_cut_by_bytes)
{
    scratch_database db;
    db.exec("CREATE TABLE big (id INT PRIMARY KEY, body MEDIUMTEXT, data MEDIUMBLOB)");
    // 1-40: 300 KB each (about seven rows a window); 41-300: small again.
    db.exec("INSERT INTO big SELECT seq, IF(seq <= 40, REPEAT(CHAR(97 + seq % 26), 300000), CONCAT('s', seq)), "
            "IF(seq <= 40, REPEAT(CHAR(seq), 200000), UNHEX('00FF')) FROM seq_1_to_300");
    std::string cols, sel;
    for (int i = 1; i <= 600; ++i) {
        cols += ", c" + std::to_string(i) + " INT";
        sel += ", seq + " + std::to_string(i);
    }
    db.exec("CREATE TABLE wide (id INT PRIMARY KEY" + cols + ") ENGINE=MyISAM");
    db.exec("INSERT INTO wide SELECT seq" + sel + " FROM seq_1_to_600");
    auto d = open(db);
    auto big = d->get_table(L"big", 1);
    for (int pass = 0; pass < 2; ++pass) {
        big->reset();
        int n = 0;
        while (!big->is_eof()) {
            udb_record* r = big->get_item();
            ASSERT_NE(r, nullptr);
            ++n;
            ASSERT_EQ((*r)[0].to_string(), std::to_string(n));
            const std::string text = (*r)[1].to_string();
            const auto& bytes = (*r)[2].get_byte_vector();
            if (n <= 40) {
                ASSERT_EQ(text, std::string(300000, char(97 + n % 26))) << n;
                ASSERT_EQ(bytes, std::vector<std::uint8_t>(200000, std::uint8_t(n))) << n;
            } else {
                ASSERT_EQ(text, "s" + std::to_string(n));
                ASSERT_EQ(bytes, (std::vector<std::uint8_t>{0x00, 0xFF})) << n;
            }
            big->next();
        }
        EXPECT_EQ(n, 300);
    }
    auto wide = d->get_table(L"wide", 1);
    wide->reset();
    int n = 0;
    while (!wide->is_eof()) {
        udb_record* r = wide->get_item();
        ASSERT_NE(r, nullptr);
        ++n;
        ASSERT_EQ(r->size(), 601u);
        ASSERT_EQ((*r)[0].to_string(), std::to_string(n));
        ASSERT_EQ((*r)[600].to_string(), std::to_string(n + 600));
        wide->next();
    }
    EXPECT_EQ(n, 600);
}

TEST(sql_server, query_recordset_describes_its_result)
{
    scratch_database db;
    db.exec("CREATE TABLE t (id INT UNSIGNED, amount DECIMAL(12,3) UNSIGNED, name VARCHAR(10))");
    db.exec("INSERT INTO t VALUES (1, 123456789.125, 'x'), (2, NULL, NULL)");
    auto d = open(db);
    auto q = d->get_query(L"my query", L"SELECT id, amount, name, id * 2 AS twice FROM t ORDER BY id", 0);
    EXPECT_TRUE(q->is_query());
    ASSERT_EQ(q->get_schema().size(), 4u);
    EXPECT_EQ(q->get_schema()[0].vartype, VT_UI4);
    EXPECT_EQ(q->get_schema()[1].vartype, VT_DECIMAL);
    EXPECT_EQ(q->get_schema()[1].precision, 12);
    EXPECT_EQ(q->get_schema()[1].scale, 3);
    q->reset();
    ASSERT_FALSE(q->is_eof());
    udb_record& r = *q->get_item();
    EXPECT_EQ(r[1].to_string(), "123456789.125");
    EXPECT_EQ(r[2].get_wstring(), L"x");
    EXPECT_EQ(r[3].to_string(), "2");
    q->next();
    EXPECT_TRUE((*q->get_item())[1].is_empty());
    EXPECT_EQ((*q->get_item())[1].get_size(), 0u);
    q->next();
    EXPECT_TRUE(q->is_eof());
    EXPECT_THROW(d->get_query(L"bad", L"SELECT nope FROM t", 0), sql_exception);
    // A query typed with a closing semicolon, or ending in a comment, still reads.
    for (const wchar_t* text : {L"SELECT id FROM t ORDER BY id;\r\n", L"SELECT id FROM t ORDER BY id -- two rows"}) {
        auto q2 = d->get_query(L"typed", text, 0);
        EXPECT_EQ(read_first_column(*q2), (std::vector<std::string>{"1", "2"}));
    }
}

TEST(sql_server, four_byte_characters_and_binary_bytes_arrive_intact)
{
    scratch_database db;
    db.exec("CREATE TABLE t (id INT PRIMARY KEY, s VARCHAR(20), c CHAR(4), b BINARY(4), vb VARBINARY(8), bl BLOB,"
            " j JSON, bits BIT(12), tm TIME, zt LONGTEXT, zv VARCHAR(20))");
    db.exec("INSERT INTO t VALUES (1, 'a\xF0\x9F\x98\x80\xE4\xB8\xAD', '\xF0\x9F\x8E\x89', x'00010000', x'00FF00',"
            " x'000102', '{\"k\": \"\xF0\x9F\x98\x80\"}', b'101010111100', '23:59:59', 'it''s\\0zero', 'a\\0\xC3\xA9')");
    auto d = open(db);
    for (bool as_query : {false, true}) {
        SCOPED_TRACE(as_query ? "query" : "table");
        auto rs = as_query ? d->get_query(L"q", L"SELECT * FROM t", 0) : d->get_table(L"t", 1);
        rs->reset();
        ASSERT_FALSE(rs->is_eof());
        udb_record& r = *rs->get_item();
        EXPECT_EQ(r[1].get_wstring(), std::wstring(L"a\U0001F600\u4E2D"));
        EXPECT_EQ(r[1].get_size(), 8u);
        EXPECT_EQ(r[2].get_wstring(), std::wstring(L"\U0001F389"));
        ASSERT_EQ(r[3].get_type(), VT_BYTE_ARRAY);
        EXPECT_EQ(r[3].get_byte_vector(), (std::vector<std::uint8_t>{0, 1, 0, 0}));
        EXPECT_EQ(r[4].get_byte_vector(), (std::vector<std::uint8_t>{0, 255, 0}));
        EXPECT_EQ(r[5].get_byte_vector(), (std::vector<std::uint8_t>{0, 1, 2}));
        EXPECT_EQ(r[6].get_type(), VT_BSTR);
        EXPECT_NE(r[6].get_wstring().find(L"\U0001F600"), std::wstring::npos);
        EXPECT_EQ(r[7].to_string(), "2748");
        EXPECT_EQ(r[8].get_type(), VT_DATE);
        // Text holding a zero byte arrives whole, never cut at the byte.
        EXPECT_EQ(r[9].get_wstring(), std::wstring(L"it's\0zero", 9));
        EXPECT_EQ(r[10].get_wstring(), std::wstring(L"a\0\u00E9", 3));
    }
}

TEST(sql_server, a_time_beyond_one_day_fails_only_its_row_with_the_value)
{
    scratch_database db;
    db.exec("CREATE TABLE t (id INT, tm TIME)");
    // Row 2 is in the first window (read while the table opens), row 300 in a later one.
    db.exec("INSERT INTO t SELECT seq, CASE seq WHEN 2 THEN '100:20:30' WHEN 300 THEN '-01:00:00' ELSE '12:00:00'"
            " END FROM seq_1_to_400");
    auto d = open(db);
    for (bool as_query : {false, true}) {
        SCOPED_TRACE(as_query ? "query" : "table");
        std::unique_ptr<udb_recordset> rs;
        ASSERT_NO_THROW(rs = as_query ? d->get_query(L"q", L"SELECT * FROM t ORDER BY id", 0) : d->get_table(L"t", 1));
        rs->reset();
        std::vector<std::string> ids;
        std::vector<std::string> errors;
        while (!rs->is_eof()) {
            try {
                udb_record* r = rs->get_item();
                ASSERT_NE(r, nullptr);
                ids.push_back((*r)[0].to_string());
            } catch (const sql_exception& e) {
                EXPECT_EQ(e.get_level(), 0);  // a row error, not the table's
                errors.push_back(e.what());
            }
            rs->next();
        }
        EXPECT_EQ(ids.size(), 398u);
        EXPECT_EQ(std::count(ids.begin(), ids.end(), "2") + std::count(ids.begin(), ids.end(), "300"), 0);
        ASSERT_EQ(errors.size(), 2u);
        EXPECT_NE(errors[0].find("'100:20:30'"), std::string::npos) << errors[0];
        EXPECT_NE(errors[1].find("'-01:00:00'"), std::string::npos) << errors[1];
        rs.reset();
        // The connection is usable again once the recordset is gone.
        EXPECT_NO_THROW(d->query(L"SELECT 1"));
    }
}

TEST(sql_server, test_query_prepares_without_running)
{
    scratch_database db;
    db.exec("CREATE TABLE t (id INT)");
    db.exec("INSERT INTO t VALUES (1), (2)");
    auto d = open(db);
    EXPECT_TRUE(d->test_query(L"DELETE FROM t"));
    EXPECT_TRUE(d->test_query(L"SELECT * FROM t"));
    EXPECT_FALSE(d->test_query(L"SELEC nonsense"));
    auto rs = d->query(L"SELECT COUNT(*) FROM t");
    ASSERT_TRUE(rs);
    ASSERT_FALSE(rs->is_eof());
    EXPECT_EQ((*rs->get_item())[0].to_string(), "2");
    rs.reset();
    EXPECT_EQ(d->query(L"SET @x = 1"), nullptr);  // no result set, no error
    EXPECT_THROW(d->query(L"SELECT * FROM no_such_table"), sql_exception);
    EXPECT_NO_THROW(d->query(L"SELECT 1"));  // the connection stayed in step
}

TEST(sql_server, auto_increment_seed_is_64_bit)
{
    scratch_database db;
    db.exec("CREATE TABLE t (id BIGINT AUTO_INCREMENT PRIMARY KEY, v INT)");
    db.exec("INSERT INTO t VALUES (5000000000, 1)");
    auto d = open(db);
    auto rs = d->get_table(L"t", 1);
    EXPECT_EQ(static_cast<sql_recordset&>(*rs).get_auto_increment_seed(), 5000000000LL);
    EXPECT_EQ(rs->get_schema().seed, 5000000000LL);
    db.exec("CREATE TABLE small (id INT AUTO_INCREMENT PRIMARY KEY)");
    db.exec("INSERT INTO small VALUES (41)");
    auto d2 = open(db);
    EXPECT_EQ(d2->get_table(L"small", 1)->get_schema().seed, 41);
}

TEST(sql_server, a_dropped_connection_fails_the_read_instead_of_ending_it)
{
    scratch_database db;
    db.exec("CREATE TABLE big (id INT PRIMARY KEY, pad CHAR(200))");
    db.exec("INSERT INTO big SELECT seq, REPEAT('x', 200) FROM seq_1_to_200000");
    sql_engine& e = connected_engine();
    {
        auto d = open(db);
        auto rs = d->get_table(L"big", 1);
        rs->reset();
        rs->next();
        db.exec("KILL CONNECTION " + std::to_string(mysql_thread_id(e.connection())));
        std::size_t rows = 1;
        bool failed = false;
        try {
            while (!rs->is_eof()) {
                rs->next();
                ++rows;
            }
        } catch (const sql_exception& ex) {
            failed = true;
        }
        EXPECT_TRUE(failed) << "the read ended quietly after " << rows << " rows";
        EXPECT_LT(rows, 200000u);
    }
    auto f = test_env::mysql();
    e.connect(f.host, f.user, f.password, f.port);  // the other tests need the engine again
}

TEST(sql_server, view_texts_are_cleaned_on_the_way_out_and_translated_on_the_way_in)
{
    scratch_database db;
    auto d = open(db);
    std::wstring upper = tk_utf8_to_unicode(db.name);
    for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(c));
    EXPECT_EQ(d->refine_view_out(L"/* note */select 1"), L"select 1");
    // Every comment goes, and only comments: a stray */ is code; a literal or a quoted name that
    // looks like a comment is neither changed nor ends one.
    EXPECT_EQ(d->refine_view_out(L"*/ a /* b */ c /* d */"), L"*/ a c");
    EXPECT_EQ(d->refine_view_out(L"select id from t where `x/*` = 1 and secret = 0 and `*/y` = 1"),
              L"select id from t where `x/*` = 1 and secret = 0 and `*/y` = 1");
    EXPECT_EQ(d->refine_view_out(L"select 'a/* note */b' as s, a/**/b, 1 -- x\n+ 2 # y"),
              L"select 'a/* note */b' as s, a b, 1 + 2");
    EXPECT_EQ(d->refine_view_out(L"select `" + upper + L"`.`t`.`c` from `" + db.wname() + L"`.`t`"),
              L"select `t`.`c` from `t`");
    // Only a database's place in a name: a literal keeps its text, and an alias named like the
    // database qualifies its column.
    EXPECT_EQ(d->refine_view_out(L"select 'db is `" + db.wname() + L"`.t' as s, `" + db.wname() + L"`.`id` from `" +
                                 db.wname() + L"`.`t` `" + db.wname() + L"`"),
              L"select 'db is `" + db.wname() + L"`.t' as s, `" + db.wname() + L"`.`id` from `t` `" + db.wname() + L"`");
    EXPECT_EQ(d->refine_view_in(L"select isnull(a, 0), isnull(b) from [t]"),
              L"select ifnull(a, 0), isnull(b) from `t`;");
    EXPECT_EQ(d->refine_view_in(L"select getdate(), len(x)"), L"select curdate(), length(x);");
    EXPECT_EQ(d->refine_view_in(L"select replicate('x', 3), dateadd(day, 1, d)"),
              L"select repeat('x', 3), dateadd(day, 1, d);");
    EXPECT_EQ(d->refine_view_in(L"select datediff(day, a, b)"), L"select datediff( a, b);");
    // Strings, quoted names and comments are not rewritten.
    EXPECT_EQ(d->refine_view_in(L"select '[x]', 'it\\'s len(', \"isnull(a, b)\", `[c]` /* [d] */ from [t]"),
              L"select '[x]', 'it\\'s len(', \"isnull(a, b)\", `[c]` /* [d] */ from `t`;");
}

// A geometry arrives as EWKB in hexadecimal: its SRID and every bit of its coordinates kept.
TEST(sql_server, geometry_columns_stream_as_ewkb)
{
    scratch_database db;
    db.exec("CREATE TABLE t (a INT, g GEOMETRY, b VARCHAR(5))");
    db.exec("INSERT INTO t VALUES (1, ST_GeomFromText('POINT(1 2)', 4326), 'x'), (2, NULL, 'y'),"
            " (3, ST_GeomFromText('POINT(1 2)'), 'z')");
    auto d = open(db);
    auto rs = d->get_table(L"t", 1);
    EXPECT_FALSE(rs->is_query());
    rs->reset();
    ASSERT_FALSE(rs->is_eof());
    EXPECT_EQ((*rs->get_item())[1].get_wstring(), L"0101000020E6100000000000000000F03F0000000000000040");
    EXPECT_EQ((*rs->get_item())[2].get_wstring(), L"x");
    rs->next();
    EXPECT_TRUE((*rs->get_item())[1].is_empty());
    rs->next();
    EXPECT_EQ((*rs->get_item())[1].get_wstring(), L"0101000000000000000000F03F0000000000000040");
    rs->next();
    EXPECT_TRUE(rs->is_eof());
}

TEST(sql_server, awkward_table_and_column_names_are_quoted_everywhere)
{
    scratch_database db;
    db.exec("CREATE TABLE `we``ird 'name' \xC3\xA4\xE4\xB8\xAD` (`id``x` INT AUTO_INCREMENT PRIMARY KEY, `a;b` INT,"
            " `g` GEOMETRY)");
    db.exec("INSERT INTO `we``ird 'name' \xC3\xA4\xE4\xB8\xAD` (`a;b`) VALUES (7), (8)");
    auto d = open(db);
    const std::wstring table = L"we`ird 'name' \u00E4\u4E2D";
    ASSERT_TRUE(d->is_table_exist(table));
    auto rs = d->get_table(table, 1);
    EXPECT_EQ(rs->get_schema()[0].name, L"id`x");
    EXPECT_EQ(rs->get_schema().seed, 2);
    ASSERT_EQ(rs->get_indexes().size(), 1u);
    EXPECT_EQ(rs->get_indexes()[0].fields, (std::vector<std::wstring>{L"id`x"}));
    EXPECT_EQ(read_first_column(*rs), (std::vector<std::string>{"1", "2"}));
}

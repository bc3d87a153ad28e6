// What arrives equals the source, whichever way it travels (live or by a script loaded with
// psql; rows by COPY or by INSERT): geometry with its SRID and exact coordinates, keys on a
// prefix that refuse what the source refuses, defaults carried or named, sequences that go on
// where the source would, and bytes the server cannot send as UTF-8 never turned into '?'.
#include "driver/conversion_run.h"
#include "driver/driver_test_support.h"
#include "support/psql_load.h"
#include "support/scratch_dir.h"

namespace {

using strings = std::vector<std::string>;

struct way {
    const char* name;
    bool script;
    bool copy;
};

void PrintTo(const way& w, std::ostream* os) { *os << w.name; }

class values_as_the_source_test : public driver_server_test, public ::testing::WithParamInterface<way> {
protected:
    void convert()
    {
        conv->get_pgs_engine().fast_insert = GetParam().copy;
        if (!GetParam().script) {
            conv->check_dest();
            run();
            ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
            return;
        }
        const std::string path = dir_.path() + "/out.sql";
        conv->b_direct = false;
        conv->set_destination(tk_utf8_to_unicode(path));
        conv->check_dest();
        run();
        ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
        ensure_dest();
        // ON_ERROR_STOP: any statement of the script that fails stops the load and fails here.
        std::string said;
        ASSERT_EQ(test_env::run_psql(dest_name, path, said), 0) << said;
    }

    // The SQLSTATE with which the destination refuses a statement, empty when it takes it.
    std::string refusal(const std::string& sql)
    {
        try {
            dest(sql);
        } catch (const pqxx::sql_error& e) {
            return e.sqlstate();
        }
        return {};
    }

    test_env::scratch_dir dir_{"qdrv_vals"};
};

TEST_P(values_as_the_source_test, geometry_keeps_its_srid_and_every_digit)
{
    // Given as WKB, so the source holds exactly these bytes; PostgreSQL must hold them too.
    struct shape {
        int srid;
        const char* wkb;
    };
    const shape shapes[] = {
        {4326, "0101000000000000000000f03f0000000000000040"},                                  // POINT(1 2)
        {3857, "0102000000020000009a9999999999b93f9a9999999999c93f555555555555d53f9c7500883ce437fe"},  // 0.1 0.2, 1/3 -1e300
        {0, "0101000000000000000000f03f0000000000000040"},
    };
    std::string rows_sql;
    strings expected;
    for (std::size_t i = 0; i < std::size(shapes); ++i) {
        const std::string id = std::to_string(i + 1), srid = std::to_string(shapes[i].srid);
        rows_sql += (i ? "," : "") + std::string("(") + id + ", ST_GeomFromWKB(X'" + shapes[i].wkb + "', " + srid +
                    "), ST_GeomFromWKB(X'0101000000000000000000f03f0000000000000040', " + srid + "))";
        expected.push_back(id + "|" + srid + "|" + shapes[i].wkb + "|" + srid);
    }
    source("CREATE TABLE geo (id INT PRIMARY KEY, g GEOMETRY, p POINT NOT NULL);"
           "INSERT INTO geo VALUES " + rows_sql + ", (4, NULL, POINT(0, 0))");
    conv->selected_tables = {L"geo"};
    convert();
    expected.push_back("4|NULL|NULL|0");
    EXPECT_EQ(rows("SELECT id, ST_SRID(g), encode(ST_AsBinary(g), 'hex'), ST_SRID(p) FROM geo ORDER BY id"), expected);
    EXPECT_TRUE(hooks.reports().empty()) << testing::PrintToString(hooks.reports());
}

TEST_P(values_as_the_source_test, keys_on_a_prefix_refuse_what_the_source_refuses)
{
    const std::string long_text(3000, 'x');
    source("CREATE TABLE pu (id INT PRIMARY KEY, c VARCHAR(20), b VARBINARY(20), t TEXT,"
           " UNIQUE KEY uc (c(3)), UNIQUE KEY ub (b(2)), KEY it (t(10)), KEY od (c DESC, id));"
           "INSERT INTO pu VALUES (1, 'abc1', 'xy1', '" + long_text + "1'), (2, 'abd1', 'xz1', '" + long_text + "2');"
           "CREATE TABLE pk (c VARCHAR(20), v INT, PRIMARY KEY (c(2)));"
           "INSERT INTO pk VALUES ('ab1', 1)");
    // The source itself: the same prefix again is a duplicate.
    EXPECT_THROW(source("INSERT INTO pu VALUES (3, 'abc2', 'q', 'y')"), std::runtime_error);
    EXPECT_THROW(source("INSERT INTO pu VALUES (3, 'zzz', 'xy2', 'y')"), std::runtime_error);
    conv->selected_tables = {L"pk", L"pu"};
    convert();

    EXPECT_EQ(rows("SELECT count(*) FROM pu"), strings{"2"});
    // Each of these rows the source refuses for the same prefix; the destination refuses it
    // too, with its unique violation. A row whose prefix is new is taken.
    const struct {
        const char* row;
        const char* sqlstate;
    } cases[] = {
        {"(3, 'abc2', 'q', 'y')", "23505"},
        {"(3, 'zzz', '\\x787932', 'y')", "23505"},  // bytes "xy2": its first two bytes exist
        {"(3, 'abe', '\\x7879', 'y')", "23505"},
        {"(3, 'abe', '\\x7800', 'y')", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(refusal(std::string("INSERT INTO pu VALUES ") + c.row), c.sqlstate) << c.row;
    // The long text is indexed by its prefix, so the index exists and takes long values.
    EXPECT_EQ(rows("SELECT count(*) FROM pg_indexes WHERE tablename = 'pu'"), strings{"5"});
    // A column the source keeps in descending order keeps it.
    EXPECT_EQ(rows("SELECT indexdef LIKE '%(c DESC, id)' FROM pg_indexes WHERE indexname = 'od'"), strings{"t"});
    EXPECT_EQ(refusal("INSERT INTO pu VALUES (5, 'q1', 'q1', repeat('z', 9000))"), "");

    // A primary key on a prefix becomes a unique index with its column NOT NULL, and says so.
    EXPECT_EQ(refusal("INSERT INTO pk VALUES ('ab2', 2)"), "23505");
    EXPECT_EQ(refusal("INSERT INTO pk VALUES (NULL, 3)"), "23502");
    EXPECT_TRUE(contains(hooks.reports(), "pk': it covers a prefix of a column"))
        << testing::PrintToString(hooks.reports());
    EXPECT_EQ(hooks.reports().size(), 1u) << testing::PrintToString(hooks.reports());
}

TEST_P(values_as_the_source_test, defaults_are_carried_or_named)
{
    // Each column: its definition, the value PostgreSQL gives a row that leaves it out, and
    // whether the run names the column as not carried.
    struct column_case {
        const char* definition;
        const char* value_sql;  // how the new row's value is read back
        const char* value;
        bool reported;
        const char* source_value = nullptr;  // the row from the source, when it differs
    };
    const column_case cases[] = {
        {"bn BINARY(1) DEFAULT '-'", "encode(bn, 'hex')", "2d", false},
        {"bp BINARY(4) DEFAULT 'ab'", "encode(bp, 'hex')", "61620000", false},
        {"vb VARBINARY(10) DEFAULT 'abc'", "encode(vb, 'hex')", "616263", false},
        {"vx VARBINARY(4) DEFAULT X'FF00'", "encode(vx, 'hex')", "ff00", false},
        {"bl BLOB DEFAULT 'abc'", "encode(bl, 'hex')", "616263", false},
        {"be VARBINARY(4) DEFAULT ''", "coalesce(encode(be, 'hex'), 'NULL')", "", false},
        // Zero bytes are bytes: the catalog shows them as \0 among the others.
        {"bz BINARY(4) DEFAULT X'0001'", "encode(bz, 'hex')", "00010000", false},
        {"vz VARBINARY(4) DEFAULT X'410042'", "encode(vz, 'hex')", "410042", false},
        {"bt BIT(8) DEFAULT b'101'", "bt", "5", false},
        // An ENUM NOT NULL without a DEFAULT clause takes its first member.
        {"ef ENUM('it''s', 'b') NOT NULL", "ef", "it's", false},
        {"eb ENUM('x\\\\y', 'b') NOT NULL", "eb", "x\\y", false},
        {"ee ENUM('', 'b') NOT NULL", "ee", "", false},
        {"eo ENUM('a', 'b')", "coalesce(eo, 'NULL')", "NULL", false},
        // The catalog shows a FLOAT's default with six digits; the column's float is carried.
        {"fl FLOAT DEFAULT 1.17549435e-38", "fl::float8", "1.1754943508222875e-38", false},
        {"fn FLOAT NOT NULL DEFAULT 16777217", "fn::float8", "16777216", false},
        {"e1 INT DEFAULT (1 + 2)", "e1", "3", false},
        {"e2 VARCHAR(10) DEFAULT (concat('a', lower('B')))", "e2", "ab", false},
        {"e3 DOUBLE DEFAULT (1 / 3)", "e3", "NULL", true, "0.333333333"},
        {"em VARCHAR(10) DEFAULT '\xF0\x9F\x98\x80x'", "em", "\xF0\x9F\x98\x80x", false},
        {"en VARCHAR(10) NOT NULL DEFAULT '\xF0\x9F\x98\x80?'", "en", "\xF0\x9F\x98\x80?", false},
        {"ts TIMESTAMP(6) NULL DEFAULT NULL ON UPDATE current_timestamp(6)", "ts", "NULL", true},
        {"t1 TIME DEFAULT '-838:59:59'", "t1", "NULL", true},
        {"t2 TIME DEFAULT '100:00:00'", "t2", "NULL", true},
        {"t3 TIME DEFAULT '10:00:00'", "t3", "10:00:00", false},
        {"dz DATE DEFAULT '2020-00-00'", "dz", "NULL", true},  // only the all-zero date means none
        // PostgreSQL text cannot hold a zero character: the default would end before it.
        {"zc VARCHAR(5) DEFAULT 'a\\0b'", "zc", "NULL", true, "x"},
        // Computed columns and check constraints are named (a JSON column's own check goes
        // with its type).
        {"gc INT AS (id * 2) STORED", "gc", "NULL", true, "2"},
        {"gv INT AS (id + 1) VIRTUAL", "gv", "NULL", true, "2"},
        {"ck INT CHECK (ck > 0)", "ck", "NULL", true},
        {"js JSON", "js", "NULL", false},
        // An invisible column is read with its values (SELECT * leaves it out) and named.
        {"iv VARCHAR(5) DEFAULT 'x' INVISIBLE", "iv", "x", true, "seen"},
    };
    std::string table = "CREATE TABLE d (id INT PRIMARY KEY";
    std::string read = "SELECT ";
    strings expected_reports;
    std::string expected_value, expected_source_row;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        table += std::string(", ") + cases[i].definition;
        read += (i ? ", " : "") + std::string(cases[i].value_sql);
        expected_value += (i ? "|" : "") + std::string(cases[i].value);
        expected_source_row += (i ? "|" : "") + std::string(cases[i].source_value ? cases[i].source_value : cases[i].value);
        const std::string column(cases[i].definition, std::string_view(cases[i].definition).find(' '));
        if (cases[i].reported) expected_reports.push_back("d: Column '" + column + "'");
    }
    // The table is made even with a default it cannot take (a TIME beyond a day, NOT NULL).
    source(table + ", tn TIME NOT NULL DEFAULT '-838:59:59');"
           "INSERT INTO d (id, tn, t1, t2, dz, zc, iv) VALUES (1, '10:00:00', NULL, NULL, NULL, 'x', 'seen')");
    conv->selected_tables = {L"d"};
    convert();

    ASSERT_EQ(rows("SELECT count(*) FROM d"), strings{"1"});
    dest("INSERT INTO d (id, tn) VALUES (2, '10:00:00')");
    EXPECT_EQ(rows(read + " FROM d WHERE id = 2"), strings{expected_value});
    // The row that came over has the source's values, the defaults included.
    EXPECT_EQ(rows(read + " FROM d WHERE id = 1"), strings{expected_source_row});
    expected_reports.push_back("d: Column 'tn'");
    for (const auto& r : expected_reports)
        EXPECT_TRUE(contains(hooks.reports(), r)) << r << "\n" << testing::PrintToString(hooks.reports());
    EXPECT_EQ(hooks.reports().size(), expected_reports.size()) << testing::PrintToString(hooks.reports());
}

// The zero date arrives as NULL: as the default of a NOT NULL column it has no form, and a row
// that leaves the column out is refused where the source gives it the zero date. A nullable
// column's zero-date default is NULL, as its zero dates are.
TEST_P(values_as_the_source_test, a_zero_date_default_of_a_not_null_column_is_named)
{
    source("CREATE TABLE zd (id INT PRIMARY KEY, d DATETIME NOT NULL DEFAULT '0000-00-00 00:00:00',"
           " n DATE DEFAULT '0000-00-00');"
           "INSERT INTO zd VALUES (1, '2020-01-01 10:00:00', '2020-01-02')");
    conv->selected_tables = {L"zd"};
    convert();
    EXPECT_EQ(hooks.reports(), strings{"zd: Column 'd': its default '0000-00-00 00:00:00' (the zero date) has no "
                                       "PostgreSQL form: the column arrives without a default"});
    EXPECT_EQ(rows("SELECT id, d, n FROM zd"), strings{"1|2020-01-01 10:00:00|2020-01-02"});
    EXPECT_EQ(refusal("INSERT INTO zd (id) VALUES (2)"), "23502");
}

TEST_P(values_as_the_source_test, sequences_go_on_where_the_source_would)
{
    source("CREATE TABLE gap (id INT AUTO_INCREMENT PRIMARY KEY, v INT);"
           "INSERT INTO gap (id, v) VALUES (2000, 1), (2100, 2); DELETE FROM gap WHERE id = 2100;"
           "CREATE TABLE full_range (id SMALLINT AUTO_INCREMENT PRIMARY KEY, v INT);"
           "INSERT INTO full_range VALUES (32767, 1);"
           "CREATE TABLE emptied (id INT AUTO_INCREMENT PRIMARY KEY, v INT);"
           "INSERT INTO emptied (v) VALUES (1), (2), (3); DELETE FROM emptied;"
           "CREATE TABLE fresh (id BIGINT AUTO_INCREMENT PRIMARY KEY, v INT);"
           "INSERT INTO fresh (v) VALUES (1), (2);"
           "CREATE TABLE past (id BIGINT UNSIGNED AUTO_INCREMENT PRIMARY KEY, v INT) "
           "AUTO_INCREMENT = 9223372036854775900;"
           "INSERT INTO past VALUES (5, 1)");
    // The source's own next values: 2101, none (the range is used up), 4, 3, 9223372036854775900.
    EXPECT_THROW(source("INSERT INTO full_range (v) VALUES (2)"), std::runtime_error);
    conv->selected_tables = {L"emptied", L"fresh", L"full_range", L"gap", L"past"};
    convert();

    EXPECT_EQ(rows("INSERT INTO gap (v) VALUES (3) RETURNING id"), strings{"2101"});
    EXPECT_EQ(rows("INSERT INTO emptied (v) VALUES (4) RETURNING id"), strings{"4"});
    EXPECT_EQ(rows("INSERT INTO fresh (v) VALUES (3) RETURNING id"), strings{"3"});
    // At the type's end the next insert fails as in the source (the sequence is used up).
    EXPECT_EQ(rows("SELECT count(*) FROM full_range"), strings{"1"});
    EXPECT_EQ(refusal("INSERT INTO full_range (v) VALUES (2)"), "2200H");
    // A next value past the largest bigint is reported, and the sequence hands out no lower one.
    ASSERT_EQ(hooks.reports().size(), 1u) << testing::PrintToString(hooks.reports());
    EXPECT_EQ(hooks.reports()[0].rfind("The sequence of column 'id' of table 'public.past': the source's next "
                                       "value lies beyond 9223372036854775807",
                                       0),
              0u)
        << hooks.reports()[0];
    EXPECT_EQ(refusal("INSERT INTO past (v) VALUES (2)"), "2200H");
    EXPECT_EQ(rows("SELECT id, v FROM past"), strings{"5|1"});
}

TEST_P(values_as_the_source_test, bytes_without_a_utf8_form_fail_their_row)
{
    source("SET SESSION sql_mode = '';"
           "CREATE TABLE cs (id INT PRIMARY KEY, a VARCHAR(10) CHARACTER SET ascii, l VARCHAR(10) CHARACTER SET latin1,"
           " u VARCHAR(4) CHARACTER SET ucs2, w VARCHAR(4) CHARACTER SET utf32);"
           "INSERT INTO cs VALUES (1, 'plain', X'E9', X'03A9', X'0001F600'), (2, X'4180', 'x', 'a', 'b'),"
           " (3, '?', 'y', 'c', 'd'), (4, NULL, NULL, NULL, NULL), (5, 'e', 'f', X'0041D800', 'g'),"
           " (6, 'h', 'i', 'j', X'0000DC00')");
    conv->selected_tables = {L"cs"};
    convert();
    // Row 2 would arrive as 'A?': it is refused and named with its bytes; a real '?' arrives.
    // Rows 5 and 6 hold a lone surrogate, which would arrive as U+FFFD.
    EXPECT_EQ(rows("SELECT id, a, l, u, w FROM cs ORDER BY id"),
              (strings{"1|plain|\xC3\xA9|\xCE\xA9|\xF0\x9F\x98\x80", "3|?|y|c|d", "4|NULL|NULL|NULL|NULL"}));
    ASSERT_EQ(hooks.reports().size(), 3u) << testing::PrintToString(hooks.reports());
    EXPECT_EQ(hooks.reports()[0].rfind("cs, record #2: Column 'a': the value '0x4180'", 0), 0u) << hooks.reports()[0];
    EXPECT_EQ(hooks.reports()[1].rfind("cs, record #5: Column 'u': the value '0x41EDA080'", 0), 0u) << hooks.reports()[1];
    EXPECT_EQ(hooks.reports()[2].rfind("cs, record #6: Column 'w': the value '0xEDB080'", 0), 0u) << hooks.reports()[2];
}

// Merging into a table of the user's whose column would round the source's values (a
// fraction into an integer, fewer decimal or fractional second digits, a date for a date and
// time, a double into a single-precision REAL, more fraction digits into money, a number into a
// boolean) fails that table with one report and appends nothing; the same column wide enough
// takes the rows as they are.
TEST_F(driver_server_test, a_merge_into_columns_that_would_round_the_values_fails_the_table)
{
    source("CREATE TABLE m (id INT PRIMARY KEY, d DECIMAL(10,2), ts DATETIME(6), r DOUBLE, b BIGINT, "
           "e DECIMAL(20,4));"
           "INSERT INTO m VALUES (1, 1.55, '2024-01-01 10:00:00.700000', 0.1, 9007199254740993, "
           "1234567890123456.0001)");
    conv->selected_tables = {L"m"};
    conv->set_mode(3);
    // Beyond 2^53 a double misses whole numbers, and it keeps fewer than 20 digits.
    const std::string wide = ", b BIGINT, e NUMERIC(20,4)";
    const std::pair<std::string, bool> tables[] = {
        {"d INTEGER, ts TIMESTAMP(6), r FLOAT8" + wide, false},
        {"d NUMERIC(10,1), ts TIMESTAMP(6), r FLOAT8" + wide, false},
        {"d NUMERIC(10,2), ts TIMESTAMP(0), r FLOAT8" + wide, false},
        {"d NUMERIC(10,2), ts DATE, r FLOAT8" + wide, false},
        {"d NUMERIC(10,2), ts TIMETZ, r FLOAT8" + wide, false},
        {"d NUMERIC(10,2), ts TIMESTAMP(6), r REAL" + wide, false},
        {"d REAL, ts TIMESTAMP(6), r FLOAT8" + wide, false},
        {"d NUMERIC(10,2), ts TIMESTAMP(6), r FLOAT8, b FLOAT8, e NUMERIC(20,4)", false},
        {"d NUMERIC(10,2), ts TIMESTAMP(6), r FLOAT8, b BIGINT, e FLOAT8", false},
        // A boolean keeps only whether a number is zero.
        {"d NUMERIC(10,2), ts TIMESTAMP(6), r FLOAT8, b BOOLEAN, e NUMERIC(20,4)", false},
        // money keeps the currency's two fraction digits: a double or a fourth digit is rounded.
        {"d NUMERIC(10,2), ts TIMESTAMP(6), r MONEY" + wide, false},
        {"d NUMERIC(10,2), ts TIMESTAMP(6), r FLOAT8, b BIGINT, e MONEY", false},
        {"d MONEY, ts TIMESTAMP(6), r FLOAT8" + wide, true},
        {"d NUMERIC(12,3), ts TIMESTAMP(6), r FLOAT8" + wide, true},
        // A precision beyond what values travel with keeps its scale all the same.
        {"d NUMERIC(40,1), ts TIMESTAMP(6), r FLOAT8" + wide, false},
        {"d NUMERIC(40,2), ts TIMESTAMP(6), r FLOAT8, b BIGINT, e NUMERIC(50,4)", true},
        {"d NUMERIC, ts TIMESTAMP, r FLOAT8, b NUMERIC, e NUMERIC", true},
    };
    for (const auto& [columns, takes] : tables) {
        SCOPED_TRACE(columns);
        hooks.continues.clear();
        dest("DROP TABLE IF EXISTS m; CREATE TABLE m (id INTEGER PRIMARY KEY, " + columns + ")");
        run();
        EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
        if (takes) {
            EXPECT_TRUE(hooks.continues.empty()) << testing::PrintToString(hooks.continues);
            EXPECT_EQ(rows("SELECT d::numeric(10,2), ts::timestamp(6), r = 0.1::float8, b, e::numeric(20,4) FROM m"),
                      strings{"1.55|2024-01-01 10:00:00.7|t|9007199254740993|1234567890123456.0001"});
        } else {
            EXPECT_EQ(hooks.continues, strings{std::string("m: ") + not_conform_message});
            EXPECT_EQ(rows("SELECT count(*) FROM m"), strings{"0"});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ways, values_as_the_source_test,
                         ::testing::Values(way{"live_insert", false, false}, way{"live_copy", false, true},
                                           way{"script_insert", true, false}, way{"script_copy", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

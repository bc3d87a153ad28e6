// Awkward values, colliding names and column defaults through a whole run, live and through a
// script loaded with psql: what arrives is read back from PostgreSQL's catalog and tables.
#include "driver/driver_test_support.h"
#include "support/psql_load.h"
#include "support/scratch_dir.h"

namespace {

using strings = std::vector<std::string>;

// true: a script file, loaded with psql into the destination database; false: live.
class conversion_fidelity_test : public driver_server_test, public ::testing::WithParamInterface<bool> {
protected:
    void convert()
    {
        if (!GetParam()) {
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
        std::string said;
        ASSERT_EQ(test_env::run_psql(dest_name, path, said), 0) << said;
    }

    bool progress_said(const std::wstring& part) const
    {
        for (const auto& l : hooks.lines)
            if (l.find(part) != std::wstring::npos) return true;
        return false;
    }

    test_env::scratch_dir dir_{"qdrv_fid"};
};

TEST_P(conversion_fidelity_test, texts_floats_and_times_arrive_whole)
{
    // Each row: the text, the bit, the float, the double, the time, and what PostgreSQL holds.
    source("CREATE TABLE v (id INT PRIMARY KEY, s VARCHAR(40), b BIT(1), f FLOAT, d DOUBLE, t TIME);"
           "INSERT INTO v VALUES"
           " (1, CONCAT(CHAR(1), 'starts with 0x01'), b'1', 3.402823466e38, 1.7976931348623157e308, '24:00:00'),"
           " (2, 'plain', b'0', 1.17549435e-38, 0.1, '23:59:59'),"
           " (3, 'lost', b'1', 16777216, 2.5, '838:59:59'),"
           " (4, CHAR(1), NULL, 0.1, -1e-300, '-00:00:01'),"
           " (5, 'z', b'1', -1.5, 5e-324, '00:00:00')");
    conv->selected_tables = {L"v"};
    convert();
    EXPECT_EQ(rows("SELECT id, s, b, f::text, d::text, t::text FROM v ORDER BY id"),
              (strings{"1|\x01starts with 0x01|t|3.4028235e+38|1.7976931348623157e+308|24:00:00",
                       "2|plain|f|1.1754944e-38|0.1|23:59:59", "5|z|t|-1.5|5e-324|00:00:00"}));
    // Times outside one day fail their own rows, each named with its value.
    ASSERT_EQ(hooks.continues.size(), 2u) << testing::PrintToString(hooks.continues);
    EXPECT_EQ(hooks.continues[0].rfind("v, record #3: ", 0), 0u) << hooks.continues[0];
    EXPECT_NE(hooks.continues[0].find("838:59:59"), std::string::npos);
    EXPECT_EQ(hooks.continues[1].rfind("v, record #4: ", 0), 0u) << hooks.continues[1];
}

TEST_P(conversion_fidelity_test, colliding_names_each_arrive_under_their_own_name)
{
    const std::string long1(63, 'a'), long2 = long1 + "2";
    source("CREATE TABLE CaseT (id INT PRIMARY KEY, a INT);"
           "CREATE TABLE caset (id INT PRIMARY KEY, b INT, KEY kb (b));"
           "CREATE TABLE " + long1 + "1 (id INT PRIMARY KEY, x INT);"
           "CREATE TABLE " + long2 + " (id INT PRIMARY KEY, y INT);"
           "CREATE TABLE cols (id INT PRIMARY KEY, `a\"` INT, `a'` INT, `a_` INT, `A;` INT);"
           "INSERT INTO CaseT VALUES (1, 10); INSERT INTO caset VALUES (2, 20);"
           "INSERT INTO " + long1 + "1 VALUES (3, 30); INSERT INTO " + long2 + " VALUES (4, 40);"
           "INSERT INTO cols VALUES (1, 2, 3, 4, 5)");
    conv->selected_tables = {L"CaseT", L"caset", tk_utf8_to_unicode(long1 + "1"), tk_utf8_to_unicode(long2), L"cols"};
    convert();

    EXPECT_TRUE(progress_said(L"(5 tables)"));
    EXPECT_EQ(rows("SELECT relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                   "WHERE n.nspname = 'public' AND c.relkind = 'r' ORDER BY 1"),
              (strings{std::string(62, 'a'), long1, "caset", "caset00000", "cols"}));
    // Rows and indexes stay with their own table.
    EXPECT_EQ(rows("SELECT id, a FROM caset"), strings{"1|10"});
    EXPECT_EQ(rows("SELECT id, b FROM caset00000"), strings{"2|20"});
    EXPECT_EQ(rows("SELECT tablename FROM pg_indexes WHERE indexdef LIKE '%(b)%'"), strings{"caset00000"});
    EXPECT_EQ(rows("SELECT id, x FROM " + long1), strings{"3|30"});
    EXPECT_EQ(rows("SELECT id, y FROM " + std::string(62, 'a')), strings{"4|40"});
    // Columns made safe: the table and its rows agree on every name.
    EXPECT_EQ(rows("SELECT string_agg(column_name, ',' ORDER BY ordinal_position) FROM information_schema.columns "
                   "WHERE table_name = 'cols'"),
              strings{"id,a_00000,a_00001,a_,a_00002"});
    EXPECT_EQ(rows("SELECT * FROM cols"), strings{"1|2|3|4|5"});
    EXPECT_TRUE(hooks.reports().empty()) << testing::PrintToString(hooks.reports());
}

TEST_P(conversion_fidelity_test, defaults_and_not_null_arrive_as_the_source_has_them)
{
    source("CREATE TABLE defs (id INT PRIMARY KEY, t TEXT DEFAULT 'abc', j JSON DEFAULT '{\"a\":1}',"
           " u CHAR(36) DEFAULT (uuid()), dt DATETIME(3) NOT NULL DEFAULT current_timestamp(3),"
           " q VARCHAR(10) DEFAULT 'it''s', s VARCHAR(10) DEFAULT 'a\\\\b', dd DATE DEFAULT '2020-02-29',"
           " f FLOAT DEFAULT 1.5, e INT DEFAULT (1 + 2), r DOUBLE DEFAULT (1 / 3));"
           "INSERT INTO defs (id) VALUES (1);"
           "CREATE TABLE dn (id INT PRIMARY KEY, d DATE NOT NULL, dt DATETIME NOT NULL);"
           "INSERT INTO dn VALUES (1, '2020-01-01', '2020-01-01 10:00:00');"
           "CREATE TABLE zd (id INT PRIMARY KEY, d DATE NOT NULL, ok DATE NOT NULL);"
           "INSERT INTO zd VALUES (1, '0000-00-00', '2020-01-01'), (2, '0000-00-00', '2020-01-02')");
    conv->selected_tables = {L"defs", L"dn", L"zd"};
    convert();

    EXPECT_EQ(rows("SELECT column_name || '|' || coalesce(column_default, '') || '|' || is_nullable "
                   "FROM information_schema.columns WHERE table_name = 'defs' ORDER BY ordinal_position"),
              (strings{"id||NO", "t|'abc'::text|YES", "j|'{\"a\":1}'::text|YES", "u|gen_random_uuid()|YES",
                       "dt|CURRENT_TIMESTAMP|NO", "q|'it''s'::character varying|YES",
                       "s|'a\\b'::character varying|YES", "dd|'2020-02-29'::date|YES", "f|1.5|YES", "e|(1 + 2)|YES",
                       "r||YES"}));
    // New rows get the defaults, not texts with quotes around them.
    dest("INSERT INTO defs (id) VALUES (2)");
    EXPECT_EQ(rows("SELECT t, j, length(u), dt IS NOT NULL, q, s FROM defs WHERE id = 2"),
              strings{"abc|{\"a\":1}|36|t|it's|a\\b"});
    // The expression without a PostgreSQL form is reported with its column.
    EXPECT_TRUE(contains(hooks.reports(), "defs: Column 'r': the default (1 / 3)")) << testing::PrintToString(hooks.reports());

    // NOT NULL comes back where no zero date arrived; a column that took zero dates as NULL
    // stays nullable and is named once with its count.
    EXPECT_EQ(rows("SELECT table_name || '.' || column_name || '|' || is_nullable FROM information_schema.columns "
                   "WHERE table_name IN ('dn', 'zd') ORDER BY table_name, ordinal_position"),
              (strings{"dn.id|NO", "dn.d|NO", "dn.dt|NO", "zd.id|NO", "zd.d|YES", "zd.ok|NO"}));
    EXPECT_TRUE(contains(hooks.reports(), "zd: Column 'd' stays nullable: 2 rows arrived with NULL"))
        << testing::PrintToString(hooks.reports());
    EXPECT_EQ(hooks.reports().size(), 2u) << testing::PrintToString(hooks.reports());
}

INSTANTIATE_TEST_SUITE_P(destinations, conversion_fidelity_test, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "script" : "live"; });

}  // namespace

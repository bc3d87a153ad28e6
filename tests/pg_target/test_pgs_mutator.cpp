// The PostgreSQL mutators: the default type offered for a source column, and a
// type mapping's default carried into CREATE TABLE exactly once, checked on the
// server.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <pqxx/pqxx>

#include "TK/tk_strings.h"
#include "UDB/udb_profile.h"
#include "pg_target/pgs_mutator.h"
#include "pg_target/pgs_table_builder.h"
#include "support/test_env.h"

namespace {

struct default_type_case {
    const char* what;
    VARTYPE vt;
    std::int32_t subtype;
    std::uint32_t size;
    std::int32_t precision;
    std::int32_t scale;
    const wchar_t* default_text;
    const wchar_t* preset_native;  // the column's native type text before the call
    // expected
    const wchar_t* type;
    std::uint64_t length;
    const wchar_t* default_value;
    std::int32_t native_precision;
    std::int32_t native_scale;
    const wchar_t* column_native;
};

std::ostream& operator<<(std::ostream& os, const default_type_case& c) { return os << c.what; }

class default_type : public ::testing::TestWithParam<default_type_case> {};

TEST_P(default_type, offers_the_mapping_of_the_column)
{
    const default_type_case& c = GetParam();
    t_ftd column(c.size, L"c", c.vt, false, false, ole_variant(std::wstring(c.default_text)), c.subtype,
                 c.preset_native);
    column.precision = c.precision;
    column.scale = c.scale;
    pgs_native_type native;
    native.character_set = L"UTF8";
    pgs_db_mutator db;
    db.get_default_type(column, native);
    EXPECT_EQ(native.type, c.type);
    EXPECT_EQ(native.length, c.length);
    EXPECT_EQ(native.default_value, c.default_value);
    EXPECT_EQ(native.precision, c.native_precision);
    EXPECT_EQ(native.scale, c.native_scale);
    EXPECT_EQ(native.character_set, L"UTF8");  // left to the caller
    EXPECT_EQ(column.nativetype, c.column_native);
}

INSTANTIATE_TEST_SUITE_P(
    cases, default_type,
    ::testing::ValuesIn(std::vector<default_type_case>{
        {"decimal(10,2)", VT_DECIMAL, 0, 0, 10, 2, L"12.50", L"", L"DECIMAL", 0, L"12.50", 10, 2, L"DECIMAL(10,2)"},
        {"decimal without precision", VT_DECIMAL, 0, 0, 0, 0, L"", L"", L"DOUBLE PRECISION", 0, L"", 0, 0,
         L"DOUBLE PRECISION"},
        {"varchar(40) with a quote in its default", VT_BSTR, 0, 40, 0, 0, L"O'Brien", L"", L"VARCHAR", 40,
         L"'O''Brien'", 0, 0, L"VARCHAR(40)"},
        {"fixed char(3)", VT_BSTR, 4, 3, 0, 0, L"ab", L"", L"CHAR", 3, L"'ab'", 0, 0, L"CHAR(3)"},
        {"integer", VT_I4, 0, 11, 0, 0, L"42", L"", L"INTEGER", 11, L"42", 0, 0, L"INTEGER"},
        {"tinyint(1) as boolean", VT_BOOL, 0, 1, 0, 0, L"1", L"", L"BOOLEAN", 1, L"'1'", 0, 0, L"BOOLEAN"},
        {"datetime defaulting to now", VT_DATE, 9, 19, 0, 0, L"", L"", L"TIMESTAMP(0)", 19, L"CURRENT_TIMESTAMP",
         0, 0, L"TIMESTAMP(0)"},
        {"currency", VT_CY, 0, 8, 0, 0, L"", L"", L"DECIMAL", 8, L"", 0, 0, L"DECIMAL"},
        {"a native type already chosen", VT_BSTR, 0, 10, 0, 0, L"", L"TEXT", L"TEXT", 10, L"", 0, 0, L"TEXT"},
    }));

// A source table as the MySQL side describes it.
udb_schema source_schema()
{
    udb_schema s;
    s.push_back(std::make_shared<t_ftd>(4, L"id", VT_I4, true, true));
    s.push_back(std::make_shared<t_ftd>(255, L"name", VT_BSTR, false, false, ole_variant(std::wstring(L"old"))));
    s.push_back(std::make_shared<t_ftd>(255, L"motto", VT_BSTR, false, false));
    s.push_back(std::make_shared<t_ftd>(1, L"active", VT_I2, true, false, ole_variant(std::wstring(L"1"))));
    s.push_back(std::make_shared<t_ftd>(19, L"created", VT_DATE, false, false));
    s.push_back(std::make_shared<t_ftd>(3, L"tag", VT_BSTR, false, false, ole_variant(), 4));
    s.push_back(std::make_shared<t_ftd>(10, L"dropped", VT_BSTR, false, false));
    return s;
}

pgs_native_type native(const wchar_t* type, std::uint64_t length, const wchar_t* def)
{
    pgs_native_type n;
    n.type = type;
    n.length = length;
    n.default_value = def;
    return n;
}

// A default chosen in a type mapping is a PostgreSQL expression already: it
// must reach DEFAULT unchanged (quoted texts not quoted again, a boolean still
// a boolean), and the table must be creatable with it. The mapping goes through
// a stored and loaded profile first, as a saved conversion's mapping does.
TEST(pgs_mutator, mapped_defaults_reach_create_table_once)
{
    pgs_db_mutator stored;
    pgs_table_mutator* mapped = stored.get_table_mutator2(L"people", L"people");
    mapped->update_field(L"name", L"full_name", native(L"VARCHAR", 40, L"'abc'"));
    mapped->update_field(L"motto", L"motto", native(L"TEXT", 0, L"'it''s'"));
    mapped->update_field(L"active", L"active", native(L"boolean", 0, L"true"));
    mapped->update_field(L"created", L"created", native(L"timestamp", 0, L"CURRENT_TIMESTAMP"));
    mapped->update_field(L"tag", L"tag", native(L"CHAR", 3, L"'ab'"));
    mapped->update_field(L"dropped", L"dropped", native(L"", 0, L""))->set_status(udb_mutators::deleted);
    udb_profile out;
    ASSERT_TRUE(stored.store(out));
    const std::wstring path = tk_utf8_to_unicode(::testing::TempDir()) + L"pgs_type_mappings.profile";
    ASSERT_TRUE(out.store(path));
    udb_profile in;
    ASSERT_TRUE(in.load(path));
    pgs_db_mutator loaded;
    ASSERT_TRUE(loaded.load(in));
    pgs_table_mutator* tm = loaded.get_table_mutator3(L"people");
    ASSERT_NE(tm, nullptr);

    udb_schema schema = source_schema();
    schema.seed = 500;
    schema.increment = 3;
    udb_indexes indexes;
    indexes.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    indexes.push_back(udb_index(L"ix_dropped", false, false, {L"dropped"}));
    tm->modify3(indexes);
    const std::wstring table = tk_utf8_to_unicode(test_env::unique_name("mut"));
    ASSERT_EQ(tm->modify1(schema), L"people");
    EXPECT_EQ(schema.seed, 500);
    EXPECT_EQ(schema.increment, 3);
    ASSERT_EQ(indexes.size(), 1u);

    pgs_ddl_settings settings;
    pgs_schema_initializer builder(table, schema, indexes, settings);
    const std::wstring sql = builder.make_create_statement(false);
    EXPECT_NE(sql.find(L"\"full_name\" VARCHAR(40) DEFAULT 'abc'"), std::wstring::npos) << tk_unicode_to_utf8(sql);
    EXPECT_NE(sql.find(L"\"active\" boolean DEFAULT true NOT NULL"), std::wstring::npos) << tk_unicode_to_utf8(sql);
    // A fixed-width text keeps its length (bare CHAR would be CHAR(1)).
    EXPECT_NE(sql.find(L"\"tag\" CHAR(3) DEFAULT 'ab'"), std::wstring::npos) << tk_unicode_to_utf8(sql);
    EXPECT_EQ(sql.find(L"'''"), std::wstring::npos) << tk_unicode_to_utf8(sql);
    EXPECT_EQ(sql.find(L"dropped"), std::wstring::npos) << tk_unicode_to_utf8(sql);

    // The server takes the statement and fills the defaults in (the work is
    // never committed, so nothing stays behind).
    pqxx::connection conn(test_env::pg_conninfo());
    pqxx::work tx(conn);
    tx.exec(tk_unicode_to_utf8(sql));
    const std::string quoted = tx.quote_name(tk_unicode_to_utf8(table));
    tx.exec("insert into " + quoted + " (id) values (1)");
    const pqxx::row row =
        tx.exec1("select full_name, motto, active, created is not null, tag from " + quoted);
    EXPECT_EQ(row[0].as<std::string>(), "abc");
    EXPECT_EQ(row[1].as<std::string>(), "it's");
    EXPECT_TRUE(row[2].as<bool>());
    EXPECT_TRUE(row[3].as<bool>());
    EXPECT_EQ(row[4].as<std::string>(), "ab ");
}

}  // namespace

// The PostgreSQL type mapping: the type texts per value kind, the reverse maps, and what the
// server makes of each type text (information_schema.columns).
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <pqxx/pqxx>

#include "TK/ole_variant.h"
#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_types.h"
#include "support/pg_scratch_db.h"
#include "support/test_env.h"

namespace {

struct map_case {
    const char* name;
    pgs_column_shape shape;
    const wchar_t* full;
    const wchar_t* name_only;
    // What information_schema.columns shows for the full form.
    const char* data_type;
    std::optional<int> length_or_precision;  // character_maximum_length / numeric_precision / datetime_precision
    std::optional<int> scale;
};

std::ostream& operator<<(std::ostream& os, const map_case& c) { return os << c.name; }

pgs_column_shape shape(VARTYPE vt, std::uint32_t subtype = 0, std::uint32_t size = 0, int precision = 0,
                       int scale = 0, bool autoinc = false)
{
    pgs_column_shape s;
    s.vt = vt;
    s.subtype = subtype;
    s.size = size;
    s.precision = precision;
    s.scale = scale;
    s.auto_increment = autoinc;
    return s;
}

const std::vector<map_case> map_cases = {
    {"i1", shape(VT_I1), L"SMALLINT", L"SMALLINT", "smallint", 16, 0},
    {"ui1", shape(VT_UI1), L"SMALLINT", L"SMALLINT", "smallint", 16, 0},
    {"i2_serial", shape(VT_I2, 0, 0, 0, 0, true), L"SMALLSERIAL", L"SMALLSERIAL", "smallint", 16, 0},
    {"i4", shape(VT_I4), L"INTEGER", L"INTEGER", "integer", 32, 0},
    {"ui2", shape(VT_UI2), L"INTEGER", L"INTEGER", "integer", 32, 0},
    {"int", shape(VT_INT), L"INTEGER", L"INTEGER", "integer", 32, 0},
    {"i4_serial", shape(VT_I4, 0, 0, 0, 0, true), L"SERIAL", L"SERIAL", "integer", 32, 0},
    {"ui4", shape(VT_UI4), L"BIGINT", L"BIGINT", "bigint", 64, 0},
    {"ui4_serial", shape(VT_UI4, 0, 0, 0, 0, true), L"BIGSERIAL", L"BIGSERIAL", "bigint", 64, 0},
    {"uint", shape(VT_UINT), L"BIGINT", L"BIGINT", "bigint", 64, 0},
    {"i8", shape(VT_I8), L"BIGINT", L"BIGINT", "bigint", 64, 0},
    // BIGINT UNSIGNED needs 20 digits; only its auto-increment form stays BIGSERIAL.
    {"ui8", shape(VT_UI8), L"NUMERIC(20)", L"NUMERIC", "numeric", 20, 0},
    {"ui8_serial", shape(VT_UI8, 0, 0, 0, 0, true), L"BIGSERIAL", L"BIGSERIAL", "bigint", 64, 0},
    {"r4", shape(VT_R4), L"REAL", L"REAL", "real", 24, std::nullopt},
    {"r8", shape(VT_R8), L"DOUBLE PRECISION", L"DOUBLE PRECISION", "double precision", 53, std::nullopt},
    {"cy", shape(VT_CY), L"DECIMAL(19, 4)", L"DECIMAL", "numeric", 19, 4},
    {"date", shape(VT_DATE, 2, 0, 0, 6), L"DATE", L"DATE", "date", 0, std::nullopt},
    {"time", shape(VT_DATE, 3), L"TIME", L"TIME", "time without time zone", 6, std::nullopt},
    {"timestamp3", shape(VT_DATE, 0, 0, 0, 3), L"TIMESTAMP(3)", L"TIMESTAMP(3)", "timestamp without time zone", 3, std::nullopt},
    {"timestamp_dt", shape(VT_DATE, 1, 0, 0, 0), L"TIMESTAMP(0)", L"TIMESTAMP(0)", "timestamp without time zone", 0, std::nullopt},
    // DATETIME(6) keeps every microsecond; a count PostgreSQL cannot take is brought into 0..6.
    {"timestamp6", shape(VT_DATE, 1, 0, 0, 6), L"TIMESTAMP(6)", L"TIMESTAMP(6)", "timestamp without time zone", 6, std::nullopt},
    {"timestamp_scale_over", shape(VT_DATE, 1, 0, 0, 30), L"TIMESTAMP(6)", L"TIMESTAMP(6)", "timestamp without time zone", 6, std::nullopt},
    {"timestamp_scale_negative", shape(VT_DATE, 1, 0, 0, -1), L"TIMESTAMP(0)", L"TIMESTAMP(0)", "timestamp without time zone", 0, std::nullopt},
    {"timestamptz_scale_over", shape(VT_DATE, 0x10, 0, 0, 9), L"TIMESTAMP(6) WITH TIME ZONE",
     L"TIMESTAMP(6) WITH TIME ZONE", "timestamp with time zone", 6, std::nullopt},
    {"timestamptz6", shape(VT_DATE, 0x10, 0, 0, 6), L"TIMESTAMP(6) WITH TIME ZONE",
     L"TIMESTAMP(6) WITH TIME ZONE", "timestamp with time zone", 6, std::nullopt},
    {"uuid", shape(VT_BSTR, 1, 36), L"UUID", L"UUID", "uuid", std::nullopt, std::nullopt},
    {"geometry", shape(VT_BSTR, 2), L"geometry", L"geometry", "USER-DEFINED", std::nullopt, std::nullopt},
    {"geography", shape(VT_BSTR, 8), L"geography", L"geography", "USER-DEFINED", std::nullopt, std::nullopt},
    {"char10", shape(VT_BSTR, 4, 10), L"CHAR(10) ", L"CHAR", "character", 10, std::nullopt},
    // The empty-default flag does not hide the fixed-length code.
    {"char10_empty_default", shape(VT_BSTR, 0x14, 10), L"CHAR(10) ", L"CHAR", "character", 10, std::nullopt},
    {"char_unsized", shape(VT_BSTR, 4, 0), L"TEXT", L"TEXT", "text", std::nullopt, std::nullopt},
    {"varchar1", shape(VT_BSTR, 0, 1), L"VARCHAR(1) ", L"VARCHAR", "character varying", 1, std::nullopt},
    {"varchar_max", shape(VT_BSTR, 0, 32672), L"VARCHAR(32672) ", L"VARCHAR", "character varying", 32672, std::nullopt},
    {"text_over", shape(VT_BSTR, 0, 32673), L"TEXT", L"TEXT", "text", std::nullopt, std::nullopt},
    {"text_unsized", shape(VT_BSTR, 0, 0), L"TEXT", L"TEXT", "text", std::nullopt, std::nullopt},
    {"lpwstr", shape(VT_LPWSTR, 0, 20), L"VARCHAR(20) ", L"VARCHAR", "character varying", 20, std::nullopt},
    {"bool", shape(VT_BOOL), L"BOOLEAN", L"BOOLEAN", "boolean", std::nullopt, std::nullopt},
    {"decimal_65_30", shape(VT_DECIMAL, 0, 0, 65, 30), L"DECIMAL(65,30)", L"DECIMAL", "numeric", 65, 30},
    {"decimal_no_precision", shape(VT_DECIMAL), L"NUMERIC", L"DOUBLE PRECISION", "numeric", std::nullopt, std::nullopt},
    {"blob", shape(VT_BLOB), L"BYTEA", L"BYTEA", "bytea", std::nullopt, std::nullopt},
    {"byte_array", shape(VT_BYTE_ARRAY), L"BYTEA", L"BYTEA", "bytea", std::nullopt, std::nullopt},
};

class type_map : public ::testing::TestWithParam<map_case> {};

TEST_P(type_map, full_and_name_only_forms)
{
    const auto& c = GetParam();
    EXPECT_EQ(pgs_map_type(c.shape, false).type_text, c.full);
    EXPECT_EQ(pgs_map_type(c.shape, true).type_text, c.name_only);

    // Through a column descriptor; a native type text set on it wins over the table.
    t_ftd column(c.shape.size, L"c", c.shape.vt, false, c.shape.auto_increment, ole_variant(),
                 static_cast<std::int32_t>(c.shape.subtype));
    column.precision = c.shape.precision;
    column.scale = c.shape.scale;
    EXPECT_EQ(pgs_get_native_type1(column, false), c.full);
    column.nativetype = L"citext";
    EXPECT_EQ(pgs_get_native_type1(column, true), L"citext");
}

INSTANTIATE_TEST_SUITE_P(cases, type_map, ::testing::ValuesIn(map_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(pgs_types, unmapped_kind_is_an_internal_error_unless_a_native_type_is_set)
{
    EXPECT_THROW(pgs_map_type(shape(VT_NULL), false), tk_mail_assertion);
    t_ftd column(0, L"c", VT_BLOB_OBJECT, false, false);
    EXPECT_THROW(pgs_get_native_type1(column, false), tk_mail_assertion);
    column.nativetype = L"INTEGER";
    EXPECT_EQ(pgs_get_native_type1(column, false), L"INTEGER");
}

TEST(pgs_types, value_kinds_follow_the_destination_column)
{
    EXPECT_EQ(pgs_get_value_kind(VT_BSTR, 1), pgs_value_kind::uuid_text);
    EXPECT_EQ(pgs_get_value_kind(VT_BSTR, 0x11), pgs_value_kind::uuid_text);
    EXPECT_EQ(pgs_get_value_kind(VT_BSTR, 4), pgs_value_kind::text);
    EXPECT_EQ(pgs_get_value_kind(VT_DATE, 2), pgs_value_kind::date);
    EXPECT_EQ(pgs_get_value_kind(VT_BOOL, 0), pgs_value_kind::boolean);
    EXPECT_EQ(pgs_get_value_kind(VT_BLOB_OBJECT, 0), pgs_value_kind::bytea);
    EXPECT_EQ(pgs_get_value_kind(VT_UI8, 0), pgs_value_kind::number);
    EXPECT_EQ(pgs_get_value_kind(VT_NULL, 0), pgs_value_kind::null_only);
}

TEST(pgs_types, reverse_maps_by_name_and_number)
{
    struct {
        const char* name;
        VARTYPE vt;
    } names[] = {{"bool", VT_BOOL},         {"bit", VT_BOOL},           {"timestamp with time zone", VT_DATE},
                 {"timestamptz", VT_DATE},  {"date", VT_DATE},          {"character varying", VT_BSTR},
                 {"bigint", VT_I8},         {"serial", VT_I4},          {"int2", VT_I2},
                 {"float4", VT_R4},         {"real", VT_R8},            {"money", VT_R8},
                 {"numeric", VT_DECIMAL},   {"uuid", VT_BSTR},          {"bytea", VT_BYTE_ARRAY},
                 {"Integer", VT_BSTR},      {"no such type", VT_BSTR},
                 // Sizes do not change the kind.
                 {"timestamp(6)", VT_DATE}, {"timestamp(3) with time zone", VT_DATE},
                 {"numeric(20)", VT_DECIMAL}, {"decimal(10,2)", VT_DECIMAL}, {"text(", VT_BSTR}};
    for (const auto& n : names) EXPECT_EQ(pgs_get_vartype1(n.name), n.vt) << n.name;

    struct {
        std::uint32_t oid;
        VARTYPE vt;
    } oids[] = {{16, VT_BOOL}, {17, VT_BYTE_ARRAY}, {20, VT_I8},     {21, VT_I2},       {23, VT_I4},
                {700, VT_R4},  {701, VT_R8},        {790, VT_R8},    {1082, VT_DATE},   {1184, VT_DATE},
                {1266, VT_DATE}, {1700, VT_DECIMAL}, {25, VT_BSTR},  {2950, VT_BSTR}};
    for (const auto& o : oids) EXPECT_EQ(pgs_get_vartype2(o.oid), o.vt) << o.oid;

    pgs_native_type native;
    native.type = L"TimeStamp";
    EXPECT_EQ(native.get_udb_type(), VT_DATE);
    native.type = L"BYTEA";
    VARTYPE vt = VT_EMPTY;
    native.get_udb_type(vt);
    EXPECT_EQ(vt, VT_BYTE_ARRAY);
    // The default type of a DATETIME(6) column, as the types map offers it.
    native.type = L"TIMESTAMP(6)";
    EXPECT_EQ(native.get_udb_type(), VT_DATE);
    native.type = L"whatever";
    EXPECT_EQ(native.get_udb_type(), VT_BSTR);
}

TEST(pgs_types, full_type_text_from_a_chosen_type_name)
{
    struct {
        const wchar_t* type;
        std::uint64_t length;
        int precision, scale;
        const wchar_t* expected;
    } cases[] = {
        {L"VARCHAR", 40, 0, 0, L"VARCHAR(40)"},
        {L"varchar", 40, 0, 0, L"varchar"},          // lower case gets no size
        {L"VARCHAR", 0, 0, 0, L"VARCHAR"},           // (0) would be refused by the server
        {L"VARCHAR(40)", 40, 0, 0, L"VARCHAR(40)"},  // a size already there is not doubled
        {L"DECIMAL", 0, 10, 2, L"DECIMAL(10,2)"},
        {L"DECIMAL", 0, 0, 0, L"DECIMAL"},
        {L"INTEGER", 11, 5, 1, L"INTEGER"},
        {L"VARCHA", 5, 0, 0, L"VARCHA"},
        // Bare CHAR is CHAR(1) and would refuse longer values: it keeps its length too.
        {L"CHAR", 10, 0, 0, L"CHAR(10)"},
        {L"CHAR", 0, 0, 0, L"CHAR"},
        {L"char", 10, 0, 0, L"char"},
        {L"CHAR(3)", 10, 0, 0, L"CHAR(3)"},
    };
    for (const auto& c : cases) {
        pgs_native_type native;
        native.type = c.type;
        native.length = c.length;
        native.precision = c.precision;
        native.scale = c.scale;
        EXPECT_EQ(pgs_get_native_type2(native), c.expected) << tk_unicode_to_utf8(c.type);
    }
}

TEST(pgs_types, safe_substr_counts_utf8_bytes)
{
    std::wstring ascii(70, L'a');
    EXPECT_EQ(pgs_get_safe_substr(ascii, 64).size(), 63u);
    std::wstring cyrillic(40, L'\u0436');  // two bytes each
    EXPECT_EQ(pgs_get_safe_substr(cyrillic, 64).size(), 31u);
    std::wstring cjk(40, L'\u4e2d');  // three bytes each
    EXPECT_EQ(pgs_get_safe_substr(cjk, 64).size(), 21u);
    std::wstring mixed = L"ab" + std::wstring(30, L'\u0436') + L"x";  // 2 + 60 + 1 = 63 bytes
    EXPECT_EQ(pgs_get_safe_substr(mixed, 64), mixed);
    EXPECT_EQ(pgs_get_safe_substr(L"abc", 0), L"");
}

TEST(pgs_types, catalog_default_texts_as_values)
{
    EXPECT_EQ(pgs_get_variant(VT_BOOL, nullptr).get_vt(), VT_EMPTY);
    struct {
        const char* text;
        bool value;
    } bools[] = {{"f", true}, {"FALSE", false}, {"", false}, {"True", true}, {"(0)::bit(1)", false},
                 {"(1)::bit(1)", true}};
    for (const auto& b : bools) {
        ole_variant v = pgs_get_variant(VT_BOOL, b.text);
        ASSERT_EQ(v.get_vt(), VT_BOOL) << b.text;
        EXPECT_EQ(v.get_bool(), b.value) << b.text;
    }
    ole_variant n = pgs_get_variant(VT_I4, "42");
    EXPECT_EQ(n.get_vt(), VT_I4);
    EXPECT_EQ(n.to_string(), "42");
    // A default that is an expression has no value of the column's kind: no default value,
    // and reading the destination's columns goes on.
    EXPECT_EQ(pgs_get_variant(VT_I4, "(2 * 3)").get_vt(), VT_EMPTY);
    EXPECT_EQ(pgs_get_variant(VT_I8, "nextval('t_id_seq'::regclass)").get_vt(), VT_EMPTY);
}

// What the server makes of each full type text: one column per mapping in a fresh database.
TEST(pgs_types_server, every_mapping_creates_the_column_type_it_names)
{
    test_env::pg_scratch_db db("qt_types");

    pqxx::connection conn(db.conninfo());
    pqxx::work tx(conn);
    tx.exec("CREATE EXTENSION IF NOT EXISTS postgis");
    std::string sql = "CREATE TABLE t (";
    for (std::size_t i = 0; i < map_cases.size(); ++i) {
        if (i) sql += ", ";
        pgs_append_identifier(sql, std::string_view(map_cases[i].name));
        sql += ' ';
        pgs_append_utf8(sql, pgs_map_type(map_cases[i].shape, false).type_text);
    }
    sql += ")";
    tx.exec(sql);

    auto r = tx.exec(
        "SELECT column_name, data_type, coalesce(character_maximum_length, numeric_precision, "
        "datetime_precision), numeric_scale FROM information_schema.columns WHERE table_name = 't' "
        "ORDER BY ordinal_position");
    ASSERT_EQ(r.size(), map_cases.size());
    for (std::size_t i = 0; i < map_cases.size(); ++i) {
        const auto& c = map_cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(r[i][1].as<std::string>(), c.data_type);
        if (c.length_or_precision) {
            ASSERT_FALSE(r[i][2].is_null());
            EXPECT_EQ(r[i][2].as<int>(), *c.length_or_precision);
        } else {
            EXPECT_TRUE(r[i][2].is_null());
        }
        if (c.scale) {
            EXPECT_EQ(r[i][3].as<int>(), *c.scale);
        }
    }

    // The largest BIGINT UNSIGNED fits the NUMERIC(20) column.
    tx.exec("INSERT INTO t (ui8) VALUES (18446744073709551615)");
    EXPECT_EQ(tx.exec("SELECT ui8::text FROM t")[0][0].as<std::string>(), "18446744073709551615");
}

}  // namespace

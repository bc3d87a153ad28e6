// Column DEFAULT expressions: which source defaults carry over and in what form, and that every
// expression made is one the server accepts for the column's type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <pqxx/pqxx>

#include "TK/ole_variant.h"
#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_defaults.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_types.h"
#include "support/pg_scratch_db.h"
#include "support/test_env.h"

namespace {

struct default_case {
    const char* name;
    VARTYPE vt;
    std::int32_t subtype;
    std::uint32_t size;
    const wchar_t* text;  // nullptr: no default value at all
    const wchar_t* expected;
};

std::ostream& operator<<(std::ostream& os, const default_case& c) { return os << c.name; }

t_ftd column_of(const default_case& c)
{
    ole_variant def = c.text ? ole_variant(std::wstring(c.text)) : ole_variant();
    t_ftd col(c.size, L"c", c.vt, false, false, def, c.subtype);
    if (c.vt == VT_DECIMAL) {
        col.precision = 10;
        col.scale = 2;
    }
    return col;
}

const std::vector<default_case> default_cases = {
    {"current_timestamp_by_subtype", VT_DATE, 9, 0, nullptr, L"CURRENT_TIMESTAMP"},
    {"current_date_by_subtype", VT_DATE, 10, 0, L"", L"CURRENT_DATE"},
    {"current_time_by_subtype", VT_DATE, 11, 0, L"x", L"CURRENT_TIME"},
    {"getutcdate", VT_DATE, 0, 0, L"GetUtcDate()", L"timezone('UTC'::text, now())"},
    {"current_timestamp_text", VT_DATE, 0, 0, L"current_timestamp", L"CURRENT_TIMESTAMP"},
    {"current_timestamp_mariadb", VT_DATE, 0, 0, L"current_timestamp(6)", L"CURRENT_TIMESTAMP"},
    {"date_literal", VT_DATE, 2, 0, L"2024-01-31", L"'2024-01-31'"},
    {"zero_date", VT_DATE, 2, 0, L"0000-00-00", L"NULL"},
    {"no_default", VT_I4, 0, 0, nullptr, L""},
    {"int", VT_I4, 0, 0, L"42", L"42"},
    {"int_negative", VT_I4, 0, 0, L"-7", L"-7"},
    {"int_plus", VT_I4, 0, 0, L"+42", L""},
    {"int_leading_zero", VT_I4, 0, 0, L"042", L""},
    {"int_trailing_text", VT_I4, 0, 0, L"42abc", L""},
    {"int_over_range", VT_I4, 0, 0, L"2147483648", L""},
    {"smallint_over_range", VT_I2, 0, 0, L"40000", L""},
    // An unsigned column becomes BIGINT: its whole range carries over.
    {"uint_large", VT_UI4, 0, 0, L"3000000000", L"3000000000"},
    {"uint_negative", VT_UI4, 0, 0, L"-1", L""},
    {"bool_one", VT_BOOL, 0, 0, L"1", L"'1'"},
    {"bool_zero", VT_BOOL, 0, 0, L"0", L"'0'"},
    {"bool_word", VT_BOOL, 0, 0, L"yes", L"'yes'"},
    {"bool_bit_literal", VT_BOOL, 0, 0, L"b'1'", L"'1'"},
    {"bool_two", VT_BOOL, 0, 0, L"2", L""},
    {"bool_minus_one", VT_BOOL, 0, 0, L"-1", L""},
    {"bool_nonsense", VT_BOOL, 0, 0, L"maybe", L""},
    {"decimal_zero", VT_DECIMAL, 0, 0, L"0.00", L"0.00"},
    {"decimal_negative_zero", VT_DECIMAL, 0, 0, L"-0", L"-0"},
    {"decimal", VT_DECIMAL, 0, 0, L"12.5", L"12.5"},
    {"decimal_text", VT_DECIMAL, 0, 0, L"abc", L""},
    {"decimal_partial", VT_DECIMAL, 0, 0, L"12.5abc", L""},
    // A float default only when the whole text is a finite number.
    {"double", VT_R8, 0, 0, L"1.5e10", L"1.5e10"},
    {"double_inf", VT_R8, 0, 0, L"inf", L""},
    {"double_nan", VT_R8, 0, 0, L"nan", L""},
    {"double_overflow", VT_R8, 0, 0, L"1e999", L""},
    {"double_trailing", VT_R8, 0, 0, L"1.5x", L""},
    {"float_overflow", VT_R4, 0, 0, L"1e39", L""},
    {"float_shortest_exact", VT_R4, 0, 0, L"3.4028234663852886e38", L"3.4028235e+38"},
    {"float_plain", VT_R4, 0, 0, L"1.5", L"1.5"},
    {"i8_min", VT_I8, 0, 0, L"-9223372036854775808", L"-9223372036854775808"},
    {"i8_over", VT_I8, 0, 0, L"9223372036854775808", L""},
    {"ui8_max", VT_UI8, 0, 0, L"18446744073709551615", L"18446744073709551615"},
    {"ui8_i8_max", VT_UI8, 0, 0, L"9223372036854775807", L"9223372036854775807"},
    {"ui8_negative", VT_UI8, 0, 0, L"-1", L""},
    {"text_cut_to_size", VT_BSTR, 0, 3, L"abcdef", L"'abc'"},
    {"text_apostrophe", VT_BSTR, 0, 20, L"O'Brien", L"'O''Brien'"},
    {"text_backslash_cr", VT_BSTR, 0, 20, L"a\\b\r\n", L"'a\\b\r\n'"},
    {"text_guid_like_kept", VT_BSTR, 0, 40, L"{6F9619FF-8B86-D011-B42D-00C04FC964FF}",
     L"'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'"},
    {"text_national_empty", VT_BSTR, 0, 20, L"N''", L"''"},
    {"text_current_user", VT_BSTR, 0, 20, L"SUSER_SNAME()", L"CURRENT_USER"},
    {"uuid_newid", VT_BSTR, 1, 36, L"NEWID()", L"uuid_generate_v4()"},
    {"uuid_literal", VT_BSTR, 1, 36, L"6F9619FF-8B86-D011-B42D-00C04FC964FF", L""},
    {"blob", VT_BYTE_ARRAY, 0, 0, L"0x41", L""},
};

class default_rules : public ::testing::TestWithParam<default_case> {};

TEST_P(default_rules, expression_or_no_default)
{
    const auto& c = GetParam();
    EXPECT_EQ(tk_unicode_to_utf8(make_pgs_def_val(column_of(c))), tk_unicode_to_utf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(cases, default_rules, ::testing::ValuesIn(default_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// Expression defaults of the source: the ones with a PostgreSQL form carry over, any other
// gives no default and counts as lost (the run reports it).
TEST(pgs_defaults, source_expressions_carried_or_lost)
{
    struct {
        VARTYPE vt;
        std::int32_t subtype;
        const wchar_t* text;
        const wchar_t* expected;
    } cases[] = {
        {VT_BSTR, 0, L"uuid()", L"gen_random_uuid()"},
        {VT_BSTR, 0, L"(uuid())", L"gen_random_uuid()"},
        {VT_DATE, 2, L"curdate()", L"CURRENT_DATE"},
        {VT_DATE, 3, L"curtime()", L"CURRENT_TIME"},
        {VT_DATE, 3, L"curdate()", L""},
        {VT_DATE, 1, L"current_timestamp(3)", L"CURRENT_TIMESTAMP"},
        {VT_DATE, 1, L"utc_timestamp()", L"timezone('UTC'::text, now())"},
        {VT_I4, 0, L"uuid()", L""},
        // Arithmetic and text functions PostgreSQL evaluates alike are carried, token by token.
        {VT_I4, 0, L"(1 + 2)", L"(1 + 2)"},
        {VT_DECIMAL, 0, L"(2 * 3 - 1) % 4", L"((2 * 3 - 1) % 4)"},
        {VT_BSTR, 0, L"(1 + 2)", L"(1 + 2)"},
        {VT_BSTR, 0, L"concat('a','b')", L"(concat('a', 'b'))"},
        {VT_BSTR, 0, L"concat(lcase('A'),repeat('x',2))", L"(concat(lower('A'), repeat('x', 2)))"},
        {VT_BSTR, 0, L"concat('it''s','\\\\','\\n')", L"(concat('it''s', '\\', '\n'))"},
        // Division differs (MySQL gives a decimal, PostgreSQL truncates integers); names,
        // unknown functions, text into a number column and zero characters are not carried.
        {VT_R8, 0, L"(1 / 3)", L""},
        {VT_I4, 0, L"(a + 1)", L""},
        {VT_BSTR, 0, L"substring('abc', -1)", L""},
        {VT_I4, 0, L"concat('1','2')", L""},
        {VT_BSTR, 0, L"concat('a\\0')", L""},
        // Arguments the two read otherwise: a NULL (CONCAT is NULL in MySQL), a negative length.
        {VT_BSTR, 0, L"concat('a',NULL)", L""},
        {VT_BSTR, 0, L"left('abc',-1)", L""},
        {VT_BSTR, 0, L"lpad('ab',-1,'x')", L""},
        {VT_I4, 0, L"abs(-1)", L"(abs( - 1))"},
        {VT_I4, 0, L"NULL", L"(NULL)"},
        {VT_BSTR, 0, L"concat('a'", L""},
        {VT_BSTR, 1, L"concat('a','b')", L""},
        // A lone hexadecimal literal takes the column's kind.
        {VT_BYTE_ARRAY, 0, L"X'FF00'", L"DECODE('FF00','hex')"},
        {VT_BSTR, 0, L"0x4142", L"'AB'"},
        {VT_BSTR, 0, L"X'FF'", L""},
        {VT_I8, 0, L"0x0101", L"257"},
        // A TIME beyond one day has no time-of-day form.
        {VT_DATE, 3, L"-838:59:59", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(tk_unicode_to_utf8(c.text));
        t_ftd col(40, L"c", c.vt, false, false, ole_variant(std::wstring(c.text)), c.subtype);
        col.default_is_source_expression = true;
        EXPECT_EQ(tk_unicode_to_utf8(make_pgs_def_val(col)), tk_unicode_to_utf8(c.expected));
        EXPECT_EQ(pgs_default_is_lost(col), std::wstring(c.expected).empty());
    }
    // A literal the column's type refuses is lost too; DEFAULT '' and no default are not.
    EXPECT_TRUE(pgs_default_is_lost(t_ftd(0, L"c", VT_I4, false, false, ole_variant(std::wstring(L"42abc")))));
    // A float value is written in its shortest exact text, not in its own shorter text.
    EXPECT_EQ(make_pgs_def_val(t_ftd(0, L"c", VT_R4, false, false, ole_variant(1.17549435e-38f))), L"1.1754944e-38");
    // A text with a zero character would end before it.
    const t_ftd zero_char(10, L"c", VT_BSTR, false, false, ole_variant(std::wstring(L"a\0b", 3)));
    EXPECT_EQ(make_pgs_def_val(zero_char), L"");
    EXPECT_TRUE(pgs_default_is_lost(zero_char));
    EXPECT_FALSE(pgs_default_is_lost(t_ftd(10, L"c", VT_BSTR, false, false, ole_variant(std::wstring()), 0x10)));
    EXPECT_FALSE(pgs_default_is_lost(t_ftd(0, L"c", VT_I4, false, false)));
}

// Bytes of a binary column's default become a bytea literal, none at all included.
TEST(pgs_defaults, binary_defaults_are_bytea_literals)
{
    const std::vector<std::uint8_t> dash{0x2D}, none;
    for (VARTYPE vt : {VT_BYTE_ARRAY, VT_BLOB}) {
        t_ftd c(10, L"b", vt, false, false, ole_variant(dash));
        EXPECT_EQ(make_pgs_def_val(c), L"DECODE('2D','hex')");
        EXPECT_FALSE(pgs_default_is_lost(c));
        t_ftd empty(10, L"b", vt, false, false, ole_variant(none));
        EXPECT_EQ(make_pgs_def_val(empty), L"DECODE('','hex')");
    }
}

TEST(pgs_defaults, null_column_is_an_internal_error)
{
    EXPECT_THROW(make_pgs_def_val(static_cast<const t_ftd*>(nullptr)), tk_mail_assertion);
}

// A default that a type mapping set is a PostgreSQL expression already: it comes back exactly
// as it stands, whatever the column's kind and sub-type would make of a source default.
TEST(pgs_defaults, a_mapped_expression_is_written_as_it_stands)
{
    struct {
        VARTYPE vt;
        std::int32_t subtype;
        std::uint32_t size;
        const wchar_t* text;
    } cases[] = {
        {VT_BSTR, 0, 2, L"'abc'"},       // neither quoted again nor cut to the size
        {VT_BSTR, 0x10, 10, L"'it''s'"},  // the source's empty-text flag does not win
        {VT_BOOL, 0, 0, L"true"},         // not turned into a quoted text
        {VT_I4, 0, 0, L"(6 * 7)"},        // not refused for not being a plain integer
        {VT_DATE, 9, 0, L"now()"},        // not replaced by the source's current moment
        {VT_BSTR, 1, 36, L"gen_random_uuid()"},
        {VT_I4, 0, 0, L""},               // an empty expression: no default
    };
    for (const auto& c : cases) {
        t_ftd col(c.size, L"c", c.vt, false, false, ole_variant(std::wstring(c.text)), c.subtype);
        col.default_is_expression = true;
        EXPECT_EQ(tk_unicode_to_utf8(make_pgs_def_val(col)), tk_unicode_to_utf8(c.text));
    }
}

// Every expression made is accepted by the server for the column's own type.
TEST(pgs_defaults_server, every_default_made_is_accepted)
{
    test_env::pg_scratch_db db("qt_defaults");

    pqxx::connection conn(db.conninfo());
    pqxx::work tx(conn);
    tx.exec("CREATE EXTENSION IF NOT EXISTS \"uuid-ossp\"");
    std::string sql = "CREATE TABLE d (id int";
    int made = 0;
    for (const auto& c : default_cases) {
        t_ftd col = column_of(c);
        std::wstring def = make_pgs_def_val(col);
        if (def.empty()) continue;
        ++made;
        sql += ", ";
        pgs_append_identifier(sql, std::string_view(c.name));
        sql += ' ';
        pgs_append_utf8(sql, pgs_get_native_type1(col, false));
        sql += " DEFAULT ";
        pgs_append_utf8(sql, def);
    }
    tx.exec(sql + ")");
    tx.exec("INSERT INTO d (id) VALUES (1)");
    auto r = tx.exec("SELECT text_apostrophe, text_backslash_cr, ui8_max::text, uint_large::text FROM d");
    EXPECT_EQ(r[0][0].as<std::string>(), "O'Brien");
    EXPECT_EQ(r[0][1].as<std::string>(), "a\\b\r\n");
    EXPECT_EQ(r[0][2].as<std::string>(), "18446744073709551615");
    EXPECT_EQ(r[0][3].as<std::string>(), "3000000000");
    EXPECT_GT(made, 20);
}

}  // namespace

// Value texts for COPY fields and SQL literals: the rules by destination column, and values
// arriving intact on the server through both forms.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

// pqxx::tablewriter is deprecated in libpqxx 6.4 but is the raw-line COPY writer the live side uses.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <pqxx/pqxx>
#include <pqxx/tablewriter>

#include "TK/ole_date.h"
#include "TK/ole_variant.h"
#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_field.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_value_text.h"
#include "platform/pf_text.h"
#include "support/pg_scratch_db.h"
#include "support/mysql_date_texts.h"
#include "support/test_env.h"

namespace {

struct text_case {
    const char* name;
    std::wstring text;
    VARTYPE vt;
    std::uint32_t subtype;
    std::string copy;
    std::string sql;
};

std::ostream& operator<<(std::ostream& os, const text_case& c) { return os << c.name; }

class value_text_rules : public ::testing::TestWithParam<text_case> {};

TEST_P(value_text_rules, copy_field_and_sql_literal)
{
    const auto& c = GetParam();
    EXPECT_EQ(tk_unicode_to_utf8(to_pgs_str2(c.text, c.vt, c.subtype, false)), c.copy);
    EXPECT_EQ(tk_unicode_to_utf8(to_pgs_str2(c.text, c.vt, c.subtype, true)), c.sql);
}

INSTANTIATE_TEST_SUITE_P(
    cases, value_text_rules,
    ::testing::Values(
        text_case{"tab", L"a\tb", VT_BSTR, 0, "a\\tb", "'a\tb'"},
        text_case{"backslash", L"a\\b", VT_BSTR, 0, "a\\\\b", "'a\\b'"},
        // Carriage returns are data: kept, escaped in COPY.
        text_case{"cr_lf", L"a\r\nb", VT_BSTR, 0, "a\\r\\nb", "'a\r\nb'"},
        text_case{"apostrophe", L"O'Hara", VT_BSTR, 0, "O'Hara", "'O''Hara'"},
        text_case{"empty_text", L"", VT_BSTR, 0, "", "''"},
        text_case{"empty_integer", L"", VT_I4, 0, "\\N", "NULL"},
        text_case{"vt_null", L"x", VT_NULL, 0, "\\N", "NULL"},
        text_case{"bit_as_text", L"\x01rest", VT_BSTR, pgs_subtype::bit_text, "1", "'1'"},
        // Only a bit column reads U+0001 as 1: any other text keeps it.
        text_case{"u0001_in_plain_text", L"\x01starts with 0x01", VT_BSTR, 0, "\x01starts with 0x01",
                  "'\x01starts with 0x01'"},
        text_case{"u0001_in_uuid_text", L"\x01x", VT_BSTR, pgs_subtype::uuid, "\x01x", "'\x01x'"},
        text_case{"end_of_day_time", L"24:00:00", VT_DATE, pgs_subtype::time_only, "24:00:00", "'24:00:00'"},
        text_case{"utf8", L"\u00e9\u20ac", VT_BSTR, 0, "\xC3\xA9\xE2\x82\xAC", "'\xC3\xA9\xE2\x82\xAC'"},
        text_case{"bool_zero", L"0", VT_BOOL, 0, "f", "'f'"},
        text_case{"bool_one", L"1", VT_BOOL, 0, "t", "'t'"},
        text_case{"bool_minus_one", L"-1", VT_BOOL, 0, "t", "'t'"},
        text_case{"bool_True", L"True", VT_BOOL, 0, "t", "'t'"},
        text_case{"bool_false_word", L"false", VT_BOOL, 0, "f", "'f'"},
        text_case{"bool_decimal_zero", L"0.00", VT_BOOL, 0, "f", "'f'"},
        text_case{"date_invalid", L"2024-02-30", VT_DATE, 2, "\\N", "NULL"},
        text_case{"date_zero", L"0000-00-00", VT_DATE, 2, "\\N", "NULL"},
        text_case{"datetime_zero", L"0000-00-00 00:00:00", VT_DATE, 0, "\\N", "NULL"},
        text_case{"date_of_datetime", L"2024-01-31 13:14:15", VT_DATE, 2, "2024-01-31", "'2024-01-31'"},
        text_case{"timestamp_micro", L"2024-01-31 13:14:15.123456", VT_DATE, 0, "2024-01-31 13:14:15.123456",
                  "'2024-01-31 13:14:15.123456'"},
        text_case{"time", L"13:14:15", VT_DATE, 3, "13:14:15", "'13:14:15'"},
        text_case{"guid_braced", L"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", VT_BSTR, 1,
                  "6F9619FF8B86D011B42D00C04FC964FF", "'6F9619FF8B86D011B42D00C04FC964FF'"},
        text_case{"guid_column_plain_text", L"not a guid", VT_BSTR, 1, "not a guid", "'not a guid'"},
        text_case{"bytea_hex", L"0x4142", VT_BYTE_ARRAY, 0, "\\\\x4142", "DECODE('4142','hex')"},
        text_case{"bytea_empty_hex", L"0x", VT_BLOB, 0, "\\\\x", "DECODE('','hex')"},
        // Text that is no hexadecimal form keeps its bytes rather than being emptied.
        text_case{"bytea_plain_text", L"0xZZ", VT_BYTE_ARRAY, 0, "\\\\x30785A5A", "DECODE('30785A5A','hex')"},
        text_case{"bytea_empty", L"", VT_BYTE_ARRAY, 0, "\\N", "NULL"},
        text_case{"decimal", L"12.50", VT_DECIMAL, 0, "12.50", "12.50"},
        text_case{"decimal_65_30", L"-12345678901234567890123456789012345.123456789012345678901234567890",
                  VT_DECIMAL, 0, "-12345678901234567890123456789012345.123456789012345678901234567890",
                  "-12345678901234567890123456789012345.123456789012345678901234567890"},
        // A text that is no number cannot break out of its place in a statement.
        text_case{"number_hostile", L"1); DROP TABLE t; --", VT_I4, 0, "1); DROP TABLE t; --",
                  "'1); DROP TABLE t; --'"},
        text_case{"number_nan", L"NaN", VT_R8, 0, "NaN", "'NaN'"},
        text_case{"number_exponent", L"-1.5E+10", VT_R8, 0, "-1.5E+10", "-1.5E+10"}),
    [](const auto& info) { return std::string(info.param.name); });

struct value_case {
    const char* name;
    ole_variant value;
    VARTYPE vt;
    std::uint32_t subtype;
    std::string copy;
    std::string sql;
};

std::ostream& operator<<(std::ostream& os, const value_case& c) { return os << c.name; }

std::vector<value_case> value_cases()
{
    return {
        {"int", ole_variant(42), VT_I4, 0, "42", "42"},
        {"int_min", ole_variant(std::numeric_limits<int>::min()), VT_I4, 0, "-2147483648", "-2147483648"},
        {"ui8_max", ole_variant(std::numeric_limits<unsigned long long>::max()), VT_UI8, 0,
         "18446744073709551615", "18446744073709551615"},
        {"i8_min", ole_variant(std::numeric_limits<long long>::min()), VT_I8, 0, "-9223372036854775808",
         "-9223372036854775808"},
        // Floats in their shortest exact form, whatever the value layer's own text would round to.
        {"double", ole_variant(0.1), VT_R8, 0, "0.1", "0.1"},
        {"double_17_digits", ole_variant(0.30000000000000004), VT_R8, 0, "0.30000000000000004",
         "0.30000000000000004"},
        {"float", ole_variant(1.1f), VT_R4, 0, "1.1", "1.1"},
        {"double_inf", ole_variant(std::numeric_limits<double>::infinity()), VT_R8, 0, "Infinity", "'Infinity'"},
        {"empty_value_in_text_column", ole_variant(), VT_BSTR, 0, "\\N", "NULL"},
        {"empty_text_value", ole_variant(std::wstring()), VT_BSTR, 0, "", "''"},
        {"text_value", ole_variant(std::wstring(L"x\ty'z\\")), VT_BSTR, 0, "x\\ty'z\\\\", "'x\ty''z\\'"},
        {"int_in_text_column", ole_variant(7), VT_BSTR, 0, "7", "'7'"},
        // A float or a date into a text column keeps every digit, and a time no date part.
        {"float_in_text_column", ole_variant(1.17549435e-38f), VT_BSTR, 0, "1.1754944e-38", "'1.1754944e-38'"},
        {"double_in_text_column", ole_variant(0.1), VT_BSTR, 0, "0.1", "'0.1'"},
        {"time_in_text_column", ole_variant(ole_date::make(3, 0, 0, 0, 12, 34, 56, 789000)), VT_BSTR, 0,
         "12:34:56.789000", "'12:34:56.789000'"},
        {"kept_time_in_text_column", ole_variant::from_string("07:08:09.5", VT_DATE), VT_BSTR, 0,
         "07:08:09.500000", "'07:08:09.500000'"},
        // A text into a bytea column is its bytes, whatever it spells.
        {"hex_looking_text_in_bytea_column", ole_variant(std::wstring(L"0x41")), VT_BYTE_ARRAY, 0, "\\\\x30783431",
         "DECODE('30783431','hex')"},
        {"empty_text_in_bytea_column", ole_variant(std::wstring()), VT_BYTE_ARRAY, 0, "\\\\x", "DECODE('','hex')"},
        {"bool_value", ole_variant(true), VT_BOOL, 0, "t", "'t'"},
        {"int_zero_in_bool_column", ole_variant(0), VT_BOOL, 0, "f", "'f'"},
        {"int_two_in_bool_column", ole_variant(2), VT_BOOL, 0, "t", "'t'"},
        {"bytes", ole_variant(std::vector<std::uint8_t>{0x00, 0x01, 0xFF}), VT_BYTE_ARRAY, 0, "\\\\x0001FF",
         "DECODE('0001FF','hex')"},
        {"date_value_as_date", ole_variant(ole_date::make(1, 2024, 2, 29, 23, 59, 58, 123456)), VT_DATE, 2,
         "2024-02-29", "'2024-02-29'"},
        {"date_value_as_timestamp", ole_variant(ole_date::make(1, 2024, 2, 29, 23, 59, 58, 123456)), VT_DATE, 0,
         "2024-02-29 23:59:58.123456", "'2024-02-29 23:59:58.123456'"},
        // The last microsecond of the range is kept, never rounded into year 10000.
        {"date_value_last_microsecond", ole_variant(ole_date::make(1, 9999, 12, 31, 23, 59, 59, 999999)), VT_DATE, 1,
         "9999-12-31 23:59:59.999999", "'9999-12-31 23:59:59.999999'"},
        {"date_value_invalid", ole_variant(ole_date::make(1, 2023, 2, 29)), VT_DATE, 0, "\\N", "NULL"},
        {"anything_in_null_column", ole_variant(5), VT_NULL, 0, "\\N", "NULL"},
    };
}

class value_rules : public ::testing::TestWithParam<value_case> {};

TEST_P(value_rules, appended_after_what_the_buffer_holds)
{
    const auto& c = GetParam();
    auto col = pgs_make_value_column(c.vt, c.subtype);
    std::string line = "x\t";
    pgs_append_copy_value(line, c.value, col);
    EXPECT_EQ(line, "x\t" + c.copy);
    std::string stmt = "VALUES (";
    pgs_append_sql_value(stmt, c.value, col);
    EXPECT_EQ(stmt, "VALUES (" + c.sql);
}

INSTANTIATE_TEST_SUITE_P(cases, value_rules, ::testing::ValuesIn(value_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(pgs_value_text, field_literal_uses_the_fields_own_kind)
{
    udb_field text(L"c", 10, ole_variant(std::wstring(L"it's")));
    EXPECT_EQ(to_pgs_str(&text), L"'it''s'");
    udb_field number(L"n", 4, ole_variant(12));
    EXPECT_EQ(to_pgs_str(&number), L"12");
    udb_field empty(L"e", 4, ole_variant());
    EXPECT_EQ(to_pgs_str(&empty), L"NULL");
    // A key literal equals the stored text: a GUID-like text is not rewritten.
    udb_field guid_text(L"g", 38, ole_variant(std::wstring(L"{6F9619FF-8B86-D011-B42D-00C04FC964FF}")));
    EXPECT_EQ(to_pgs_str(&guid_text), L"'{6F9619FF-8B86-D011-B42D-00C04FC964FF}'");
    udb_field when(L"w", 0, ole_variant(ole_date::make(1, 2024, 5, 6, 7, 8, 9)));
    EXPECT_EQ(to_pgs_str(&when), L"'2024-05-06 07:08:09'");
    udb_field time_of_day(L"t", 0, ole_variant(ole_date::make(3, 0, 0, 0, 0, 0, 0)));
    EXPECT_EQ(to_pgs_str(&time_of_day), L"'00:00:00'");
    EXPECT_THROW(to_pgs_str(nullptr), tk_mail_assertion);
}

// PostgreSQL text cannot hold U+0000: such a value fails, naming the column, wherever its text
// would be written; binary columns and kinds that never write the text take it.
TEST(pgs_value_text, zero_character_in_a_text_value_is_refused_where_the_text_would_be_written)
{
    const std::wstring zero(L"it's\0zero", 10);
    struct zero_case {
        const char* name;
        ole_variant value;
        VARTYPE vt;
        std::uint32_t subtype;
        bool refused;
    };
    const std::vector<zero_case> cases = {
        {"text", ole_variant(zero), VT_BSTR, 0, true},
        {"text_only_zero", ole_variant(std::wstring(1, L'\0')), VT_BSTR, 0, true},
        {"text_zero_at_end", ole_variant(std::wstring(L"abc") + L'\0'), VT_BSTR, 0, true},
        {"uuid", ole_variant(zero), VT_BSTR, 1, true},
        {"number", ole_variant(std::wstring(L"12\0", 3)), VT_I4, 0, true},
        {"text_without_zero", ole_variant(std::wstring(L"it's")), VT_BSTR, 0, false},
        {"bytea_takes_any_byte", ole_variant(zero), VT_BYTE_ARRAY, 0, false},
        {"bytes_value", ole_variant(std::vector<std::uint8_t>{0, 0}), VT_BSTR, 0, false},
        {"date_column", ole_variant(zero), VT_DATE, 0, false},
        {"null_value", ole_variant(), VT_BSTR, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto col = pgs_make_value_column(c.vt, c.subtype);
        EXPECT_EQ(pgs_has_zero_char(c.value, col), c.refused);
        if (!c.refused) {
            EXPECT_NO_THROW(pgs_check_zero_char(c.value, col, "Column \"body\""));
            continue;
        }
        try {
            pgs_check_zero_char(c.value, col, "Column \"body\"");
            ADD_FAILURE() << "not refused";
        } catch (const pgs_exception& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Column \"body\" contains a zero character, which PostgreSQL text cannot hold");
            EXPECT_EQ(e.get_level(), 0);
        }
    }
}

// Values written by the same rules through COPY and through INSERT arrive the same and intact.
TEST(pgs_value_text_server, copy_and_insert_store_the_same_values)
{
    test_env::pg_scratch_db db("qt_values");

    struct column {
        const char* name;
        const char* type;
        VARTYPE vt;
        std::uint32_t subtype;
        ole_variant value;
        const char* expected;  // ::text of the stored value; nullptr: NULL
    };
    std::vector<column> columns = {
        {"t_hostile", "text", VT_BSTR, 0, ole_variant(std::wstring(L"tab\there\\ cr\r\nlf 'q' \"d\" \\N")),
         "tab\there\\ cr\r\nlf 'q' \"d\" \\N"},
        {"t_empty", "text", VT_BSTR, 0, ole_variant(std::wstring()), ""},
        {"t_null", "text", VT_BSTR, 0, ole_variant(), nullptr},
        {"t_unicode", "varchar(10)", VT_BSTR, 0, ole_variant(std::wstring(L"\u00e9\u20ac\U0001F600")),
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"n_big", "numeric(65,30)", VT_DECIMAL, 0,
         ole_variant(std::wstring(L"12345678901234567890123456789012345.123456789012345678901234567890")),
         "12345678901234567890123456789012345.123456789012345678901234567890"},
        {"n_ui8", "numeric(20)", VT_UI8, 0, ole_variant(std::numeric_limits<unsigned long long>::max()),
         "18446744073709551615"},
        {"f_double", "double precision", VT_R8, 0, ole_variant(0.30000000000000004), "0.30000000000000004"},
        {"b_true", "boolean", VT_BOOL, 0, ole_variant(true), "true"},
        {"b_false", "boolean", VT_BOOL, 0, ole_variant(0), "false"},
        {"d_zero", "date", VT_DATE, 2, ole_variant(std::wstring(L"0000-00-00")), nullptr},
        {"ts_micro", "timestamp(6)", VT_DATE, 0, ole_variant(std::wstring(L"2024-02-29 23:59:58.000001")),
         "2024-02-29 23:59:58.000001"},
        {"ts_zero", "timestamp(6)", VT_DATE, 0, ole_variant(std::wstring(L"0000-00-00 00:00:00")), nullptr},
        {"tm", "time", VT_DATE, 3, ole_variant(std::wstring(L"07:08:09.5")), "07:08:09.5"},
        {"by_zeros", "bytea", VT_BYTE_ARRAY, 0,
         ole_variant(std::vector<std::uint8_t>{0x00, 0x5C, 0x0A, 0x0D, 0x09, 0x27, 0x00}), "\\x005c0a0d092700"},
        {"u", "uuid", VT_BSTR, 1, ole_variant(std::wstring(L"{6F9619FF-8B86-D011-B42D-00C04FC964FF}")),
         "6f9619ff-8b86-d011-b42d-00c04fc964ff"},
    };

    pqxx::connection conn(db.conninfo());
    pqxx::work tx(conn);
    tx.exec("SET standard_conforming_strings = on");
    std::string create = "CREATE TABLE v (id int";
    std::string names;
    for (const auto& c : columns) {
        create += std::string(", ") + c.name + " " + c.type;
        names += std::string(", ") + c.name;
    }
    tx.exec(create + ")");

    std::string line = "1";
    std::string insert = "INSERT INTO v (id" + names + ") VALUES (2";
    for (const auto& c : columns) {
        auto col = pgs_make_value_column(c.vt, c.subtype);
        line += '\t';
        pgs_append_copy_value(line, c.value, col);
        insert += ", ";
        pgs_append_sql_value(insert, c.value, col);
    }
    insert += ")";
    {
        pqxx::tablewriter w(tx, "v");
        w.write_raw_line(line);
        w.complete();
    }
    tx.exec(insert);

    std::string select = "SELECT id";
    for (const auto& c : columns) select += std::string(", ") + c.name + "::text";
    auto r = tx.exec(select + " FROM v ORDER BY id");
    ASSERT_EQ(r.size(), 2u);
    for (int row = 0; row < 2; ++row) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            SCOPED_TRACE(std::string(columns[i].name) + (row == 0 ? " by COPY" : " by INSERT"));
            const auto& f = r[row][static_cast<int>(i) + 1];
            if (!columns[i].expected) {
                EXPECT_TRUE(f.is_null());
            } else {
                ASSERT_FALSE(f.is_null());
                EXPECT_EQ(f.as<std::string>(), columns[i].expected);
            }
        }
    }
}

}  // namespace

namespace {

// Text read from the source is kept as its UTF-8; whatever the column, it must be written
// exactly as the same text given in wide form, and refused alike.
TEST(pgs_value_text, text_kept_as_utf8_writes_what_wide_text_writes)
{
    const std::vector<std::string> texts = {
        "", "plain", "tab\there\nnl\rcr \\ back", "it's", "Zo\xC3\xAB \xE2\x82\xAC \xF0\x9F\x98\x80", "\x01",
        "\x01tail", "12.50", "-7", "1e3", "NaN", "0x41FF", "2024-02-29 10:11:12", "0000-00-00", "true", "off",
        "6F9619FF-8B86-D011-B42D-00C04FC964FF", std::string("zero\0inside", 11)};
    const std::vector<pgs_value_column> columns = {
        pgs_make_value_column(VT_BSTR, 0),       pgs_make_value_column(VT_BSTR, pgs_subtype::bit_text),
        pgs_make_value_column(VT_I4, 0),         pgs_make_value_column(VT_DECIMAL, 0),
        pgs_make_value_column(VT_BOOL, 0),       pgs_make_value_column(VT_DATE, 0),
        pgs_make_value_column(VT_BYTE_ARRAY, 0), pgs_make_value_column(VT_BSTR, pgs_subtype::uuid),
    };
    for (const std::string& text : texts) {
        const ole_variant kept(text);
        ASSERT_NE(kept.utf8_text(), nullptr) << text;
        const ole_variant wide(pf_utf8_to_wide(text));
        ASSERT_EQ(wide.utf8_text(), nullptr);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            SCOPED_TRACE("text '" + text + "', column " + std::to_string(c));
            EXPECT_EQ(pgs_has_zero_char(kept, columns[c]), pgs_has_zero_char(wide, columns[c]));
            std::string a, b;
            pgs_append_copy_value(a, kept, columns[c]);
            pgs_append_copy_value(b, wide, columns[c]);
            EXPECT_EQ(a, b);
            a.clear();
            b.clear();
            pgs_append_sql_value(a, kept, columns[c]);
            pgs_append_sql_value(b, wide, columns[c]);
            EXPECT_EQ(a, b);
        }
    }
}

// A date read from one of the forms MySQL writes keeps its printed form; whatever the column's
// date kind, it must be written exactly as the same date made by the general parser, and a
// field moved or copied from it writes the same again.
TEST(pgs_value_text, date_kept_in_its_mysql_form_writes_what_the_date_writes)
{
    const std::vector<pgs_value_column> columns = {
        pgs_make_value_column(VT_DATE, 0),
        pgs_make_value_column(VT_DATE, pgs_subtype::date_time),
        pgs_make_value_column(VT_DATE, pgs_subtype::date_only),
        pgs_make_value_column(VT_DATE, pgs_subtype::time_only),
        pgs_make_value_column(VT_DATE, pgs_subtype::date_time | pgs_subtype::time_zone),
        pgs_make_value_column(VT_DATE, pgs_subtype::date_only | pgs_subtype::current_moment),
        pgs_make_value_column(VT_BSTR, 0),
    };
    int kept_forms = 0;
    for (const std::string& text : test_env::mysql_like_date_texts()) {
        const ole_variant read = ole_variant::from_string(text, VT_DATE);
        const ole_date general_date(text);
        const ole_variant general = general_date.is_valid() ? ole_variant(general_date) : ole_variant();
        ASSERT_EQ(general.date_text(), nullptr);
        kept_forms += read.date_text() != nullptr;
        SCOPED_TRACE("date '" + text + "'");
        ASSERT_EQ(read.get_vt(), general.get_vt());
        EXPECT_TRUE(read.get_date() == general.get_date());
        EXPECT_EQ(read.src.date, general.src.date);
        EXPECT_EQ(read.to_string(), general.to_string());
        EXPECT_EQ(tk_unicode_to_utf8(read.to_wstring()), tk_unicode_to_utf8(general.to_wstring()));
        udb_field moved(L"d", 0, ole_variant(read));
        udb_field field(L"d", 0, ole_variant(std::wstring(L"an earlier text")));
        field = moved;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            SCOPED_TRACE("column " + std::to_string(c));
            std::string a, b, f;
            pgs_append_copy_value(a, read, columns[c]);
            pgs_append_copy_value(b, general, columns[c]);
            pgs_append_copy_value(f, field, columns[c]);
            EXPECT_EQ(a, b);
            EXPECT_EQ(f, b);
            a.clear();
            b.clear();
            pgs_append_sql_value(a, read, columns[c]);
            pgs_append_sql_value(b, general, columns[c]);
            EXPECT_EQ(a, b);
        }
        ole_variant as_text = read;
        ole_variant general_text = general;
        if (read.get_vt() == VT_DATE) {
            as_text.change_type(VT_BSTR);
            general_text.change_type(VT_BSTR);
            EXPECT_EQ(tk_unicode_to_utf8(as_text.to_wstring()), tk_unicode_to_utf8(general_text.to_wstring()));
        }
    }
    EXPECT_GT(kept_forms, 1000);
}

}  // namespace

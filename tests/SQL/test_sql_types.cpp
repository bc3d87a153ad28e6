// Reading rules of result columns and values, and the column type texts, without a server.
#include <gtest/gtest.h>

#include "sql_test_support.h"

#include <cstring>

#include "SQL/sql_engine.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_types.h"
#include "UDB/udb_field.h"
#include "UDB/udb_schema.h"

namespace {

sql_engine& engine() { return test_engine(); }

MYSQL_FIELD field(enum_field_types type, unsigned flags = 0, unsigned charset = 45, unsigned long length = 10)
{
    MYSQL_FIELD f{};
    f.name = const_cast<char*>("c");
    f.name_length = 1;
    f.type = type;
    f.flags = flags;
    f.charsetnr = charset;
    f.length = length;
    return f;
}

udb_field read(const MYSQL_FIELD& f, const char* v, unsigned long len)
{
    udb_field out;
    sql_read_value(sql_plan_for_field(f, engine().is_blob_to_text()), v, len, out);
    return out;
}

udb_field read(const MYSQL_FIELD& f, const char* v) { return read(f, v, std::strlen(v)); }

}  // namespace

struct kind_case {
    enum_field_types type;
    unsigned flags;
    unsigned charset;
    unsigned long length;
    VARTYPE kind;
};

std::ostream& operator<<(std::ostream& os, const kind_case& c)
{
    return os << "type " << c.type << " flags " << c.flags << " charset " << c.charset << " length " << c.length;
}

class sql_column_kinds : public ::testing::TestWithParam<kind_case> {};

TEST_P(sql_column_kinds, kind_of_result_column)
{
    engine();
    const auto& c = GetParam();
    EXPECT_EQ(get_vartype(field(c.type, c.flags, c.charset, c.length)), c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    table, sql_column_kinds,
    ::testing::Values(kind_case{MYSQL_TYPE_LONG, UNSIGNED_FLAG, 63, 10, VT_UI4},
                      kind_case{MYSQL_TYPE_LONG, 0, 63, 11, VT_I4},
                      kind_case{MYSQL_TYPE_INT24, UNSIGNED_FLAG, 63, 8, VT_I4},
                      kind_case{MYSQL_TYPE_TINY, 0, 63, 4, VT_I1},
                      kind_case{MYSQL_TYPE_TINY, UNSIGNED_FLAG, 63, 3, VT_UI1},
                      kind_case{MYSQL_TYPE_LONGLONG, UNSIGNED_FLAG, 63, 20, VT_UI8},
                      kind_case{MYSQL_TYPE_YEAR, UNSIGNED_FLAG, 63, 4, VT_UI2},
                      kind_case{MYSQL_TYPE_NEWDECIMAL, 0, 63, 12, VT_DECIMAL},
                      kind_case{MYSQL_TYPE_TIME, BINARY_FLAG, 63, 10, VT_DATE},
                      kind_case{MYSQL_TYPE_BIT, UNSIGNED_FLAG, 63, 1, VT_BOOL},
                      kind_case{MYSQL_TYPE_BIT, UNSIGNED_FLAG, 63, 8, VT_UI1},
                      kind_case{MYSQL_TYPE_BIT, UNSIGNED_FLAG, 63, 12, VT_UI2},
                      kind_case{MYSQL_TYPE_BIT, UNSIGNED_FLAG, 63, 64, VT_UI8},
                      kind_case{MYSQL_TYPE_STRING, BINARY_FLAG, 63, 4, VT_BYTE_ARRAY},  // BINARY(4)
                      kind_case{MYSQL_TYPE_STRING, 0, 45, 40, VT_BSTR},                // CHAR(10)
                      kind_case{MYSQL_TYPE_VAR_STRING, BINARY_FLAG, 46, 40, VT_BSTR},  // utf8mb4_bin text
                      kind_case{MYSQL_TYPE_VAR_STRING, BINARY_FLAG, 63, 40, VT_BYTE_ARRAY},
                      kind_case{MYSQL_TYPE_BLOB, BINARY_FLAG, 63, 65535, VT_BYTE_ARRAY},
                      kind_case{MYSQL_TYPE_BLOB, BINARY_FLAG, 46, 4294967295ul, VT_BSTR},  // JSON
                      kind_case{MYSQL_TYPE_BLOB, 0, 45, 65535, VT_BSTR}));

TEST(sql_values, bit_values_are_their_unsigned_integer_and_bit1_is_boolean)
{
    auto b1 = read(field(MYSQL_TYPE_BIT, UNSIGNED_FLAG, 63, 1), "\x01", 1);
    EXPECT_EQ(b1.get_type(), VT_BOOL);
    EXPECT_TRUE(b1.get_bool());
    auto b0 = read(field(MYSQL_TYPE_BIT, UNSIGNED_FLAG, 63, 1), "\x00", 1);
    EXPECT_FALSE(b0.get_bool());
    auto b12 = read(field(MYSQL_TYPE_BIT, UNSIGNED_FLAG, 63, 12), "\x0A\xBC", 2);
    EXPECT_EQ(b12.get_type(), VT_UI2);
    EXPECT_EQ(b12.to_string(), "2748");
    auto b64 = read(field(MYSQL_TYPE_BIT, UNSIGNED_FLAG, 63, 64), "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8);
    EXPECT_EQ(b64.get_type(), VT_UI8);
    EXPECT_EQ(b64.uhyper_value, 0xFFFFFFFFFFFFFFFFull);
}

TEST(sql_values, binary_columns_keep_every_byte)
{
    const char bytes[] = {'\x00', '\x01', '\x00', '\xFF'};
    for (auto type : {MYSQL_TYPE_STRING, MYSQL_TYPE_VAR_STRING, MYSQL_TYPE_BLOB}) {
        auto f = read(field(type, BINARY_FLAG, 63, 4), bytes, 4);
        ASSERT_EQ(f.get_type(), VT_BYTE_ARRAY) << type;
        EXPECT_EQ(f.get_byte_vector(), (std::vector<std::uint8_t>{0, 1, 0, 255}));
        EXPECT_EQ(f.get_size(), 4u);
    }
}

// The server's geometry (SRID, then WKB) becomes EWKB: the SRID joins the type word in the
// WKB's own byte order; SRID 0 leaves the plain WKB. The way back gives the same parts.
TEST(sql_values, geometry_becomes_ewkb_and_back)
{
    struct geometry_case {
        const char* what;
        std::string value;  // as the server sends it
        const char* ewkb;   // nullptr: not a geometry, the row fails
    };
    const std::string point_le("\x01\x01\x00\x00\x00" "\x00\x00\x00\x00\x00\x00\xF0\x3F" "\x00\x00\x00\x00\x00\x00\x00\x40", 21);
    const std::string point_be("\x00\x00\x00\x00\x01" "\x3F\xF0\x00\x00\x00\x00\x00\x00" "\x40\x00\x00\x00\x00\x00\x00\x00", 21);
    const geometry_case cases[] = {
        {"srid 4326", std::string("\xE6\x10\x00\x00", 4) + point_le, "0101000020E6100000000000000000F03F0000000000000040"},
        {"srid 0", std::string(4, '\0') + point_le, "0101000000000000000000F03F0000000000000040"},
        {"big-endian", std::string("\x11\x0F\x00\x00", 4) + point_be, "002000000100000F11" "3FF00000000000004000000000000000"},
        {"too short", std::string("\xE6\x10\x00\x00\x01", 5), nullptr},
        {"no byte order", std::string("\xE6\x10\x00\x00", 4) + "\x07" + point_le.substr(1), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MYSQL_FIELD f = field(MYSQL_TYPE_GEOMETRY, BINARY_FLAG, 63, 0);
        if (!c.ewkb) {
            EXPECT_THROW(read(f, c.value.data(), static_cast<unsigned long>(c.value.size())), sql_exception);
            continue;
        }
        auto v = read(f, c.value.data(), static_cast<unsigned long>(c.value.size()));
        ASSERT_EQ(v.get_type(), VT_BSTR);
        EXPECT_EQ(v.to_string(), c.ewkb);
        std::string wkb;
        std::uint32_t srid = 1;
        ASSERT_TRUE(sql_ewkb_hex_to_wkb(c.ewkb, wkb, srid));
        EXPECT_EQ(std::to_string(srid) + ":" + wkb, std::to_string((c.value[0] & 0xFF) | (c.value[1] & 0xFF) << 8) + ":" +
                                                        c.value.substr(4));
    }
    std::string wkb;
    std::uint32_t srid = 0;
    EXPECT_FALSE(sql_ewkb_hex_to_wkb("POINT(1 2)", wkb, srid));
}

// A text column checked on its way through UTF-8: the text, or its bytes failing the row.
TEST(sql_values, checked_text_is_the_text_or_a_failed_row)
{
    sql_column_plan plan;
    plan.name = L"a";
    plan.path = sql_value_path::checked_text;
    udb_field out;
    sql_read_value(plan, "=A?b", 4, out);
    EXPECT_EQ(out.get_wstring(), L"A?b");
    EXPECT_EQ(out.get_size(), 3u);
    try {
        sql_read_value(plan, "!4180", 5, out);
        FAIL() << "no exception";
    } catch (const sql_exception& e) {
        EXPECT_NE(std::string(e.what()).find("'0x4180' holds bytes"), std::string::npos) << e.what();
    }
    // A lone surrogate (UCS-2, UTF-32) passes the server's check but arrives as no UTF-8.
    try {
        sql_read_value(plan, "=A\xED\xA0\x80", 5, out);
        FAIL() << "no exception";
    } catch (const sql_exception& e) {
        EXPECT_NE(std::string(e.what()).find("'0x41EDA080' (as the server sends it) holds a character"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(sql_charset_may_lose_bytes("ascii"));
    EXPECT_TRUE(sql_charset_may_lose_bytes("sjis"));
    for (const char* whole : {"utf8mb4", "UTF8MB3", "latin1", "binary", ""}) EXPECT_FALSE(sql_charset_may_lose_bytes(whole)) << whole;
}

TEST(sql_values, text_is_utf8_with_four_byte_characters)
{
    const char* v = "a\xC3\xA9\xF0\x9F\x98\x80";  // a, e acute, grinning face
    auto f = read(field(MYSQL_TYPE_VAR_STRING, 0, 45, 40), v);
    ASSERT_EQ(f.get_type(), VT_BSTR);
    EXPECT_EQ(f.get_wstring(), std::wstring(L"a\u00E9\U0001F600"));
    EXPECT_EQ(f.get_size(), 7u);
}

TEST(sql_values, null_is_empty_with_size_zero)
{
    for (auto type : {MYSQL_TYPE_LONG, MYSQL_TYPE_VAR_STRING, MYSQL_TYPE_BLOB, MYSQL_TYPE_DATETIME}) {
        auto f = read(field(type, 0, 45, 10), nullptr, 0);
        EXPECT_TRUE(f.is_empty()) << type;
        EXPECT_EQ(f.get_size(), 0u);
    }
}

TEST(sql_values, numbers_by_kind)
{
    EXPECT_EQ(read(field(MYSQL_TYPE_LONGLONG, UNSIGNED_FLAG), "18446744073709551615").uhyper_value,
              18446744073709551615ull);
    EXPECT_EQ(read(field(MYSQL_TYPE_LONGLONG), "-9223372036854775808").hyper_value, INT64_MIN);
    EXPECT_EQ(read(field(MYSQL_TYPE_TINY), "-128").to_string(), "-128");
    auto d = read(field(MYSQL_TYPE_NEWDECIMAL, 0, 63, 67), "-12345678901234567890123456789012345.123456789012345678901234567890");
    EXPECT_EQ(d.get_type(), VT_DECIMAL);
    EXPECT_EQ(d.to_string(), "-12345678901234567890123456789012345.123456789012345678901234567890");
    EXPECT_DOUBLE_EQ(read(field(MYSQL_TYPE_DOUBLE), "1.5e-10").get_double(), 1.5e-10);
}

TEST(sql_values, time_outside_one_day_fails_the_row_naming_the_value)
{
    auto f = field(MYSQL_TYPE_TIME, BINARY_FLAG, 63, 10);
    EXPECT_EQ(read(f, "23:59:59").get_type(), VT_DATE);
    // The end of the day is a time of day (carried as its text); a moment past it is not.
    for (const char* end_of_day : {"24:00:00", "24:00:00.000000"}) {
        auto v = read(f, end_of_day);
        EXPECT_EQ(v.get_type(), VT_BSTR) << end_of_day;
        EXPECT_EQ(v.to_string(), "24:00:00") << end_of_day;
    }
    for (const char* bad : {"24:00:00.000001", "24:00:01", "838:59:59", "-00:00:01", "-838:59:59"}) {
        try {
            read(f, bad);
            ADD_FAILURE() << bad << " was accepted";
        } catch (const sql_exception& e) {
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(sql_time_in_day("00:00:00"));
    EXPECT_TRUE(sql_time_in_day("12:00:00.500000"));
    EXPECT_FALSE(sql_time_in_day("100:00:00"));
}

TEST(sql_values, zero_date_reads_as_empty_and_other_dates_without_a_calendar_form_fail_the_row)
{
    EXPECT_TRUE(read(field(MYSQL_TYPE_DATETIME), "0000-00-00 00:00:00").is_empty());
    EXPECT_TRUE(read(field(MYSQL_TYPE_DATETIME), "0000-00-00 00:00:00.000000").is_empty());
    EXPECT_TRUE(read(field(MYSQL_TYPE_DATE), "0000-00-00").is_empty());
    EXPECT_EQ(read(field(MYSQL_TYPE_DATE), "2020-01-02").get_type(), VT_DATE);
    EXPECT_EQ(read(field(MYSQL_TYPE_DATE), "2024-02-29").get_type(), VT_DATE);
    // Only the all-zero date means "no date"; these hold a date PostgreSQL cannot store.
    const std::pair<enum_field_types, const char*> bad[] = {
        {MYSQL_TYPE_DATE, "2024-00-15"},          {MYSQL_TYPE_DATE, "2024-05-00"},
        {MYSQL_TYPE_DATE, "0000-01-01"},          {MYSQL_TYPE_DATE, "2023-02-29"},  // ALLOW_INVALID_DATES
        {MYSQL_TYPE_DATETIME, "0000-12-31 10:00:00.500000"}, {MYSQL_TYPE_TIMESTAMP, "2024-00-00 10:00:00"},
    };
    for (const auto& [type, text] : bad) {
        try {
            read(field(type), text);
            ADD_FAILURE() << text << " was accepted";
        } catch (const sql_exception& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("'") + text + "' is no calendar date"), std::string::npos)
                << e.what();
        }
    }
}

TEST(sql_values, table_column_kind_decides_over_the_result_column)
{
    t_ftd dec(7, L"f", VT_DECIMAL, false, false);
    udb_field out;
    sql_read_value(sql_plan_for_column(dec, field(MYSQL_TYPE_FLOAT), false), "12.50", 5, out);
    EXPECT_EQ(out.get_type(), VT_DECIMAL);
    t_ftd text(10, L"t", VT_BSTR, false, false);
    sql_read_value(sql_plan_for_column(text, field(MYSQL_TYPE_BLOB, 0, 45), false), "abc", 3, out);
    EXPECT_EQ(out.get_type(), VT_BSTR);
}

struct native_case {
    VARTYPE kind;
    std::uint32_t size;
    std::int32_t precision, scale, sub;
    const wchar_t* def;
    const wchar_t* text;
};

std::ostream& operator<<(std::ostream& os, const native_case& c) { return os << c.kind << "/" << c.size; }

class sql_native_types : public ::testing::TestWithParam<native_case> {};

TEST_P(sql_native_types, column_type_text)
{
    engine();
    const auto& c = GetParam();
    t_ftd col(c.size, L"c", c.kind, false, false, c.def ? ole_variant(c.def) : ole_variant(), c.sub);
    col.precision = c.precision;
    col.scale = c.scale;
    EXPECT_EQ(get_sql_native_type2(col), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    table, sql_native_types,
    ::testing::Values(native_case{VT_BSTR, 21845, 0, 0, 0, nullptr, L"VARCHAR(21845)"},
                      native_case{VT_BSTR, 21846, 0, 0, 0, nullptr, L"MEDIUMTEXT"},
                      native_case{VT_BSTR, 0, 0, 0, 0, nullptr, L"LONGTEXT"},
                      native_case{VT_BSTR, 10, 0, 0, 16, nullptr, L"CHAR(10)"},
                      native_case{VT_BYTE_ARRAY, 255, 0, 0, 0, nullptr, L"VARBINARY(255)"},
                      native_case{VT_BYTE_ARRAY, 256, 0, 0, 0, nullptr, L"BLOB"},
                      native_case{VT_BYTE_ARRAY, 65536, 0, 0, 0, nullptr, L"MEDIUMBLOB"},
                      native_case{VT_DECIMAL, 0, 10, 2, 0, nullptr, L"DECIMAL(10,2)"},
                      native_case{VT_DECIMAL, 0, 0, 0, 0, nullptr, L"DOUBLE"},
                      native_case{VT_DATE, 0, 0, 0, 1, L"now()", L"TIMESTAMP"},
                      native_case{VT_DATE, 0, 0, 0, 0, nullptr, L"CHAR(19)"},
                      native_case{VT_UI8, 0, 0, 0, 0, nullptr, L"BIGINT UNSIGNED"},
                      native_case{VT_BOOL, 0, 0, 0, 0, nullptr, L"TINYINT(1)"}));

TEST(sql_native_types, unknown_type_number)
{
    EXPECT_EQ(get_mysql_type_name(28), L"<Unknown type>");
    EXPECT_EQ(get_mysql_type_name(15), L"VARCHAR");
}

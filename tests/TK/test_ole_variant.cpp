// Field values: construction and ownership, byte arrays and slices, the text
// forms under any locale, change_type in its rule order and reading from text.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "TK/ole_variant.h"
#include "platform/pf_text.h"

namespace {

// Switches the process to a locale whose decimal point is ',' for one test.
class comma_locale {
public:
    comma_locale()
    {
        const char* old = std::setlocale(LC_ALL, nullptr);
        m_saved = old ? old : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
            if (std::setlocale(LC_ALL, name)) {
                m_active = std::localeconv()->decimal_point[0] == ',';
                if (m_active) break;
            }
        }
    }
    ~comma_locale() { std::setlocale(LC_ALL, m_saved.c_str()); }
    bool active() const { return m_active; }

private:
    std::string m_saved;
    bool m_active = false;
};

ole_variant decimal_of(const char* text)
{
    ole_variant v = ole_variant::from_string(text, VT_DECIMAL);
    EXPECT_EQ(v.get_vt(), VT_DECIMAL) << text;
    return v;
}

// --- construction, copies, byte arrays --------------------------------------

TEST(ole_variant_build, constructors_give_their_kinds)
{
    EXPECT_EQ(ole_variant().get_vt(), VT_EMPTY);
    EXPECT_EQ(ole_variant(1.5).get_vt(), VT_R8);
    EXPECT_EQ(ole_variant(1.5f).get_vt(), VT_R4);
    EXPECT_EQ(ole_variant(true).get_vt(), VT_BOOL);
    EXPECT_EQ(ole_variant(true).src.boolVal, -1);
    EXPECT_EQ(ole_variant('a').get_vt(), VT_I1);
    EXPECT_EQ(ole_variant(std::uint8_t(200)).get_vt(), VT_UI1);
    EXPECT_EQ(ole_variant(short(-5)).get_vt(), VT_I2);
    EXPECT_EQ(ole_variant(std::uint16_t(5)).get_vt(), VT_UI2);
    EXPECT_EQ(ole_variant(5).get_vt(), VT_I4);
    EXPECT_EQ(ole_variant(5u).get_vt(), VT_UI4);
    EXPECT_EQ(ole_variant(std::int64_t(-1)).hyper_value, -1);
    EXPECT_EQ(ole_variant(std::uint64_t(7)).get_vt(), VT_UI8);
    EXPECT_EQ(ole_variant(CY{15000}).get_vt(), VT_CY);
    EXPECT_EQ(ole_variant(DECIMAL{}).get_vt(), VT_DECIMAL);
    EXPECT_EQ(ole_variant("text").get_vt(), VT_BSTR);
    EXPECT_EQ(ole_variant(L"text").get_vt(), VT_BSTR);
    EXPECT_EQ(ole_variant(ole_date("2023-01-05")).get_vt(), VT_DATE);
    // Narrow text is UTF-8.
    EXPECT_EQ(ole_variant("Gr\xC3\xBC\xC3\x9F" "e").get_wstring(), L"Gr\u00FC\u00DFe");
    // A wide text keeps embedded zero characters.
    EXPECT_EQ(ole_variant(std::wstring(L"a\0b", 3)).get_wstring().size(), 3u);
}

TEST(ole_variant_build, copies_are_deep_and_keep_the_side_members)
{
    ole_variant i8(std::int64_t(-1));
    ole_variant u8(std::numeric_limits<std::uint64_t>::max());
    ole_variant copy_i8(i8), copy_u8(u8);
    EXPECT_EQ(copy_i8.hyper_value, -1);
    EXPECT_EQ(copy_u8.uhyper_value, std::numeric_limits<std::uint64_t>::max());

    ole_date d("2023-01-05 10:20:30.000400");
    ole_variant date(d);
    ole_variant date_copy;
    date_copy = date;
    EXPECT_TRUE(date_copy.date_value == d);
    EXPECT_EQ(date_copy.src.date, date.src.date);
    EXPECT_GT(date.src.date, 44931.0);

    ole_variant text(L"abc");
    ole_variant text_copy(text);
    text.attach_wstring(L"xyz");
    EXPECT_EQ(text_copy.get_wstring(), L"abc");

    ole_variant moved(std::move(text_copy));
    EXPECT_EQ(moved.get_wstring(), L"abc");
    EXPECT_EQ(text_copy.get_vt(), VT_EMPTY);
}

TEST(ole_variant_bytes, empty_blob_is_a_value_not_null)
{
    ole_variant v{std::vector<std::uint8_t>{}};
    EXPECT_EQ(v.get_vt(), VT_BYTE_ARRAY);
    EXPECT_TRUE(v.get_byte_vector().empty());
    EXPECT_FALSE(v.is_empty());
    ole_variant w(5);
    w = std::vector<std::uint8_t>{};
    EXPECT_EQ(w.get_vt(), VT_BYTE_ARRAY);
    EXPECT_EQ(w.to_string(), "");
    // "0x" reads as an empty byte array too.
    EXPECT_EQ(ole_variant::from_string("0x", VT_BYTE_ARRAY).get_vt(), VT_BYTE_ARRAY);
    // And an empty text asked to become bytes is an empty byte array.
    ole_variant t(L"");
    t.change_type(VT_BYTE_ARRAY);
    EXPECT_EQ(t.get_vt(), VT_BYTE_ARRAY);
    EXPECT_TRUE(t.get_byte_vector().empty());
}

TEST(ole_variant_bytes, attach_keeps_a_blob_kind)
{
    ole_variant v = ole_variant::from_string("4142", VT_BLOB);
    ASSERT_EQ(v.get_vt(), VT_BLOB);
    v.attach_binary(std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_EQ(v.get_vt(), VT_BLOB);
    EXPECT_EQ(v.to_string(), "0x010203");
}

TEST(ole_variant_bytes, get_at_on_bytes_hands_out_hex_slices)
{
    ole_variant v(std::vector<std::uint8_t>{0x00, 0xAB, 0x10, 0xFF, 0x7F});
    char buf[2 * 131072 + 2];
    EXPECT_EQ(v.get_at(buf, 0, 131072), 5u);
    EXPECT_STREQ(buf, "00AB10FF7F");
    EXPECT_EQ(v.get_at(buf, 5, 131072), 0u);
    EXPECT_EQ(v.get_at(buf, 3, 1), 1u);
    EXPECT_STREQ(buf, "FF");
    EXPECT_EQ(ole_variant(5).get_at(buf, 0, 10), 0u);
}

TEST(ole_variant_bytes, no_cap_on_large_values)
{
    // Past the old 120,000,000-byte limit every byte is still handed out.
    std::vector<std::uint8_t> big(120000010, 0x5A);
    big.back() = 0x01;
    ole_variant v(big);
    char buf[64];
    EXPECT_EQ(v.get_at(buf, 120000000, 16), 10u);
    EXPECT_STREQ(buf, "5A5A5A5A5A5A5A5A5A01");
    const std::uint8_t* p = nullptr;
    std::string holder;
    EXPECT_EQ(v.get_bytes1(p, holder), 120000010u);
}

TEST(ole_variant_bytes, get_at_on_text_never_splits_a_character)
{
    // 'a', U+00E9 (2 bytes), U+20AC (3 bytes), U+1F600 (4 bytes), 'z'
    ole_variant v(std::wstring(L"a\u00E9\u20AC\U0001F600z"));
    std::string joined;
    char buf[2 * 2 + 2];
    std::uint32_t pos = 0;
    std::vector<std::uint32_t> steps;
    for (std::uint32_t n; (n = v.get_at(buf, pos, 2)) != 0; pos += n) {
        ASSERT_LE(std::strlen(buf), 4u);
        joined += buf;
        steps.push_back(n);
    }
    EXPECT_EQ(joined, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(pos, 5u);  // advanced by characters, ending exactly at the end
    EXPECT_EQ(steps, (std::vector<std::uint32_t>{2, 1, 1, 1}));
}

TEST(ole_variant_bytes, get_bytes1_by_kind)
{
    const std::uint8_t* p = nullptr;
    std::string holder;
    EXPECT_EQ(ole_variant().get_bytes1(p, holder), 0u);
    ole_variant bytes(std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_EQ(bytes.get_bytes1(p, holder), 3u);
    EXPECT_EQ(p, bytes.get_byte_vector().data());
    EXPECT_EQ(ole_variant(L"\u00E9t\u00E9").get_bytes1(p, holder), 3u);
    EXPECT_EQ(holder, "\xC3\xA9t\xC3\xA9");
    EXPECT_THROW(ole_variant(5).get_bytes1(p, holder), tk_mail_assertion);
}

TEST(ole_variant_kinds, numeric_and_quoted_kinds)
{
    for (VARTYPE vt : {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8,
                       VT_UI8, VT_INT, VT_UINT})
        EXPECT_TRUE(ole_variant::is_numeric_type(vt)) << vt;
    for (VARTYPE vt : {VT_EMPTY, VT_NULL, VT_DATE, VT_BSTR, VT_BLOB, VT_BYTE_ARRAY, VT_ERROR})
        EXPECT_FALSE(ole_variant::is_numeric_type(vt)) << vt;
    EXPECT_TRUE(ole_variant::is_date_or_string_type(VT_DATE));
    EXPECT_TRUE(ole_variant::is_date_or_string_type(VT_BSTR));
    EXPECT_FALSE(ole_variant::is_date_or_string_type(VT_I4));
}

// --- text forms -----------------------------------------------------------------

struct text_case {
    const char* name;
    ole_variant value;
    const char* text;
};

std::ostream& operator<<(std::ostream& os, const text_case& c) { return os << c.name; }

std::vector<text_case> text_cases()
{
    ole_variant bool_one(false);
    bool_one.src.boolVal = 1;
    ole_variant int_kind;
    int_kind.src.vt = VT_INT;
    int_kind.src.intVal = -3;
    ole_variant uint_kind;
    uint_kind.src.vt = VT_UINT;
    uint_kind.src.uintVal = 4000000000u;
    return {
        {"I2", ole_variant(short(-5)), "-5"},
        {"UI2", ole_variant(std::uint16_t(65535)), "65535"},
        {"I1", ole_variant(static_cast<signed char>(-128)), "-128"},
        {"UI1", ole_variant(std::uint8_t(255)), "255"},
        {"I4", ole_variant(-2147483647 - 1), "-2147483648"},
        {"UI4", ole_variant(4294967295u), "4294967295"},
        {"I8 min", ole_variant(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
        {"UI8 max", ole_variant(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
        {"INT", int_kind, "-3"},
        {"UINT", uint_kind, "4000000000"},
        {"R8", ole_variant(1.5), "1.5000000000000000e+00"},
        {"R8 small", ole_variant(-0.0009765625), "-9.7656250000000000e-04"},
        {"R8 digits", ole_variant(-0.000123), "-1.2300000000000001e-04"},
        {"R8 NaN", ole_variant(std::nan("")), "0"},
        {"R4", ole_variant(1.5f), "1.500000e+00"},
        {"R4 NaN", ole_variant(std::nanf("")), "0"},
        {"CY", ole_variant(CY{-123450}), "-12.345"},
        {"DECIMAL", decimal_of("-1234.5600"), "-1234.5600"},
        {"BOOL true", ole_variant(true), "1"},
        {"BOOL false", ole_variant(false), "0"},
        {"BOOL holding 1", bool_one, "0"},
        {"bytes", ole_variant(std::vector<std::uint8_t>{0, 171}), "0x00AB"},
        {"empty bytes", ole_variant(std::vector<std::uint8_t>{}), ""},
        {"text up to zero", ole_variant(std::wstring(L"ab\0cd", 5)), "ab"},
        {"date", ole_variant(ole_date("2023-01-05 10:20:30.5")), "2023-01-05 10:20:30.500000"},
        {"time", ole_variant(ole_date("10:20:30")), "0000-00-00 10:20:30"},
        {"empty", ole_variant(), ""},
    };
}

class text_forms : public testing::TestWithParam<text_case> {};

TEST_P(text_forms, narrow_and_wide)
{
    const auto& c = GetParam();
    EXPECT_EQ(c.value.to_string(), c.text);
    std::string expected = c.text;
    EXPECT_EQ(c.value.to_wstring(), std::wstring(expected.begin(), expected.end()));
    std::string appended = "x";
    c.value.append_string(appended);
    EXPECT_EQ(appended, "x" + expected);
}

INSTANTIATE_TEST_SUITE_P(table, text_forms, testing::ValuesIn(text_cases()));

TEST(ole_variant_text, comma_locale_changes_nothing)
{
    comma_locale loc;
    if (!loc.active()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    EXPECT_EQ(ole_variant(1.5).to_string(), "1.5000000000000000e+00");
    EXPECT_EQ(ole_variant(1.5f).to_string(), "1.500000e+00");
    EXPECT_EQ(decimal_of("3.25").to_string(), "3.25");
    EXPECT_EQ(ole_variant(CY{15000}).to_string(), "1.5");
    EXPECT_EQ(ole_variant::from_string("12.5", VT_R8).src.dblVal, 12.5);
    EXPECT_EQ(ole_variant::from_string("12,5", VT_R8).src.dblVal, 12.5);
    EXPECT_EQ(ole_variant::from_string("0,25", VT_DECIMAL).to_string(), "0.25");
    EXPECT_EQ(ole_variant::from_string("1,5", VT_CY).to_string(), "1.5");
    ole_variant r(2.5);
    r.change_type(VT_BSTR);
    EXPECT_EQ(r.get_wstring(), L"2.5");
}

TEST(ole_variant_text, exact_decimal_65_30_round_trips)
{
    const char* text = "12345678901234567890123456789012345.123456789012345678901234567890";
    ole_variant v = ole_variant::from_string(text, VT_DECIMAL);
    ASSERT_EQ(v.get_vt(), VT_DECIMAL);
    EXPECT_EQ(v.to_string(), text);
    ole_variant w = ole_variant::from_wstring(v.to_wstring(), VT_DECIMAL);
    EXPECT_EQ(w.to_string(), text);
    ole_variant copy = w;
    EXPECT_EQ(copy.to_string(), text);
    EXPECT_EQ(decimal_of("-0.000000000000000000000000000001").to_string(), "-0.000000000000000000000000000001");
}

TEST(ole_variant_text, to_bool_and_to_long)
{
    ole_variant bool_one(false);
    bool_one.src.boolVal = 1;
    EXPECT_FALSE(bool_one.to_bool());
    EXPECT_TRUE(ole_variant(true).to_bool());
    EXPECT_TRUE(ole_variant(std::nan("")).to_bool());
    EXPECT_FALSE(decimal_of("0.4").to_bool());
    EXPECT_TRUE(decimal_of("0.6").to_bool());
    EXPECT_FALSE(ole_variant(L"1").to_bool());
    EXPECT_TRUE(ole_variant(std::int64_t(1) << 40).to_bool());

    EXPECT_EQ(ole_variant(-2.7).to_long(), -2);
    EXPECT_EQ(ole_variant(4294967295u).to_long(), -1);
    EXPECT_EQ(ole_variant(std::int64_t(4294967296)).to_long(), 0);
    EXPECT_EQ(ole_variant(true).to_long(), 1);
    EXPECT_EQ(ole_variant(CY{25000}).to_long(), 2);
    EXPECT_EQ(decimal_of("12345678901234567890").to_long(), 0);
    EXPECT_EQ(ole_variant(L"42").to_long(), 0);
}

TEST(ole_variant_text, bool_mapping_options_switch_true_to_minus_one)
{
    ASSERT_THROW(get_bool_mapping_options(), tk_mail_assertion);
    bool_mapping_options opt(1);
    EXPECT_EQ(ole_variant(true).to_string(), "-1");
    EXPECT_EQ(ole_variant(true).to_long(), -1);
}

// --- change_type, rule by rule ------------------------------------------------------

struct change_case {
    const char* name;
    ole_variant value;
    VARTYPE to;
    VARTYPE kind;        // kind afterwards (ignored when it throws)
    const char* text;    // to_string afterwards; nullptr: must throw ole_cast_exception
};

std::ostream& operator<<(std::ostream& os, const change_case& c) { return os << c.name; }

std::vector<change_case> change_cases()
{
    ole_variant blob = ole_variant::from_string("4142", VT_BLOB);
    ole_variant bytes(std::vector<std::uint8_t>{0x41, 0x42});
    return {
        // 1-2: synonyms and nothing to do
        {"bytes to blob", bytes, VT_BLOB, VT_BLOB, "0x4142"},
        {"blob to bytes", blob, VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x4142"},
        {"blob to blob object", blob, VT_BLOB_OBJECT, VT_BLOB, "0x4142"},
        {"empty to I4", ole_variant(), VT_I4, VT_EMPTY, ""},
        {"null to text", [] { ole_variant n; n.src.vt = VT_NULL; return n; }(), VT_BSTR, VT_NULL, ""},
        {"same kind", ole_variant(7), VT_I4, VT_I4, "7"},
        // 3: text to boolean takes only the truth words
        {"Yes to BOOL", ole_variant(L"Yes"), VT_BOOL, VT_BOOL, "1"},
        {"F to BOOL", ole_variant(L"F"), VT_BOOL, VT_BOOL, "0"},
        {"1 to BOOL", ole_variant(L"1"), VT_BOOL, 0, nullptr},
        // 4-5: from the 64-bit integers, never cut to the low bits
        {"I8 to I2", ole_variant(std::int64_t(-300)), VT_I2, VT_I2, "-300"},
        {"I8 70000 to I2", ole_variant(std::int64_t(70000)), VT_I2, 0, nullptr},
        {"I8 -1 to UI4", ole_variant(std::int64_t(-1)), VT_UI4, 0, nullptr},
        {"I8 to I1", ole_variant(std::int64_t(200)), VT_I1, 0, nullptr},
        {"I8 1 to BOOL", ole_variant(std::int64_t(1)), VT_BOOL, VT_BOOL, "1"},
        {"I8 to R8", ole_variant(std::int64_t(-3)), VT_R8, VT_R8, "-3.0000000000000000e+00"},
        {"I8 to CY", ole_variant(std::int64_t(12)), VT_CY, VT_CY, "12"},
        {"I8 to text", ole_variant(std::int64_t(-5)), VT_BSTR, VT_BSTR, "-5"},
        {"I8 to DECIMAL", ole_variant(std::numeric_limits<std::int64_t>::min()), VT_DECIMAL, VT_DECIMAL,
         "-9223372036854775808"},
        {"I8 to UI8", ole_variant(std::int64_t(5)), VT_UI8, VT_UI8, "5"},
        {"I8 -5 to UI8", ole_variant(std::int64_t(-5)), VT_UI8, 0, nullptr},
        {"I8 to DATE", ole_variant(std::int64_t(5)), VT_DATE, 0, nullptr},
        {"UI8 max to I8", ole_variant(std::numeric_limits<std::uint64_t>::max()), VT_I8, 0, nullptr},
        {"UI8 to text", ole_variant(std::numeric_limits<std::uint64_t>::max()), VT_BSTR, VT_BSTR,
         "18446744073709551615"},
        {"UI8 to UI2", ole_variant(std::uint64_t(65535)), VT_UI2, VT_UI2, "65535"},
        // 6: a date becomes text only; a time prints without a date part
        {"date to text", ole_variant(ole_date("2023-01-05 10:20:30")), VT_BSTR, VT_BSTR, "2023-01-05 10:20:30"},
        {"time to text", ole_variant(ole_date("10:20:30")), VT_BSTR, VT_BSTR, "10:20:30"},
        {"date to R8", ole_variant(ole_date("2023-01-05")), VT_R8, 0, nullptr},
        // 7-8: to the 64-bit integers
        {"BOOL to I8", ole_variant(true), VT_I8, VT_I8, "-1"},
        {"UI4 to I8", ole_variant(4294967295u), VT_I8, VT_I8, "4294967295"},
        {"R8 to I8", ole_variant(2.5), VT_I8, VT_I8, "2"},
        {"R8 1e30 to I8", ole_variant(1e30), VT_I8, 0, nullptr},
        {"CY to I8", ole_variant(CY{35000}), VT_I8, VT_I8, "4"},
        {"DECIMAL to I8", decimal_of("-12.5"), VT_I8, VT_I8, "-12"},
        {"DECIMAL big to I8", decimal_of("1e30"), VT_I8, 0, nullptr},
        {"text to I8", ole_variant(L"5"), VT_I8, 0, nullptr},
        {"I1 -1 to UI8", ole_variant(static_cast<signed char>(-1)), VT_UI8, 0, nullptr},
        {"DECIMAL to UI8", decimal_of("18446744073709551615"), VT_UI8, VT_UI8, "18446744073709551615"},
        // 9-10: to the narrow integers
        {"R8 2.5 to I4", ole_variant(2.5), VT_I4, VT_I4, "3"},
        {"R8 -2.5 to I4", ole_variant(-2.5), VT_I4, VT_I4, "-3"},
        {"R4 2.4 to I4", ole_variant(2.4f), VT_I4, VT_I4, "2"},
        {"R8 70000 to I2", ole_variant(70000.0), VT_I2, 0, nullptr},
        {"R8 -1 to UI2", ole_variant(-1.0), VT_UI2, 0, nullptr},
        {"DECIMAL to I2", decimal_of("-32768.4"), VT_I2, VT_I2, "-32768"},
        {"DECIMAL to UI4", decimal_of("4294967296"), VT_UI4, 0, nullptr},
        {"DECIMAL to I1", decimal_of("-7"), VT_I1, VT_I1, "-7"},
        {"text to I4 stays text", ole_variant(L"5"), VT_I4, VT_BSTR, "5"},
        {"blank-framed text to I2 stays text", ole_variant(L" -32768 "), VT_I2, VT_BSTR, " -32768 "},
        {"text 255 to UI1 (general rule)", ole_variant(L"255"), VT_UI1, VT_UI1, "255"},
        {"text x7 to I4", ole_variant(L"x7"), VT_I4, 0, nullptr},
        {"text 7x to UI4", ole_variant(L"7x"), VT_UI4, 0, nullptr},
        {"text x7 to I2", ole_variant(L"x7"), VT_I2, 0, nullptr},
        {"text x7 to UI2", ole_variant(L"x7"), VT_UI2, 0, nullptr},
        {"text x7 to I1", ole_variant(L"x7"), VT_I1, 0, nullptr},
        {"text 12.5 to I4", ole_variant(L"12.5"), VT_I4, 0, nullptr},
        {"empty text to I4", ole_variant(L""), VT_I4, 0, nullptr},
        {"text 256 to UI1", ole_variant(L"256"), VT_UI1, 0, nullptr},
        {"text -1 to UI4", ole_variant(L"-1"), VT_UI4, 0, nullptr},
        {"text 2^31 to I4", ole_variant(L"2147483648"), VT_I4, 0, nullptr},
        {"text x7 to R4", ole_variant(L"x7"), VT_R4, 0, nullptr},
        {"text x7 to CY", ole_variant(L"x7"), VT_CY, 0, nullptr},
        {"text x7 to DECIMAL", ole_variant(L"x7"), VT_DECIMAL, 0, nullptr},
        {"text x7 to INT", ole_variant(L"x7"), VT_INT, 0, nullptr},
        {"text 2 to BOOL", ole_variant(L"2"), VT_BOOL, 0, nullptr},
        {"R8 to I1 stays", ole_variant(1.5), VT_I1, VT_R8, "1.5000000000000000e+00"},
        // 11: text to date
        {"text to DATE", ole_variant(L"2023-01-05"), VT_DATE, VT_DATE, "2023-01-05"},
        {"hello to DATE", ole_variant(L"hello"), VT_DATE, 0, nullptr},
        {"I4 to DATE", ole_variant(5), VT_DATE, 0, nullptr},
        // 12: bytes to text
        {"bytes to text", ole_variant(std::vector<std::uint8_t>{0x68, 0xC3, 0xA9, 0, 0x41}), VT_BSTR, VT_BSTR,
         "h\xC3\xA9"},
        {"bytes to I4 stay", bytes, VT_I4, VT_BYTE_ARRAY, "0x4142"},
        // 13: to bytes
        {"I4 to bytes", ole_variant(0x01020304), VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x04030201"},
        {"I2 to blob", ole_variant(short(1)), VT_BLOB, VT_BYTE_ARRAY, "0x0100"},
        {"R8 to bytes", ole_variant(1.0), VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x000000000000F03F"},
        {"text to bytes", ole_variant(L"h\u00E9"), VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x68C3A9"},
        {"I8 to bytes", ole_variant(std::int64_t(1)), VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x0100000000000000"},
        {"DECIMAL to bytes", decimal_of("-1.5"), VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x0E00018000000000"
                                                                                "0F00000000000000"},
        {"DECIMAL too wide for bytes", decimal_of("12345678901234567890123456789012345.1"), VT_BYTE_ARRAY, 0,
         nullptr},
        // 14: everything else through the general conversion
        {"I4 to R8", ole_variant(3), VT_R8, VT_R8, "3.0000000000000000e+00"},
        {"R8 to text", ole_variant(0.1), VT_BSTR, VT_BSTR, "0.1"},
        {"text to R8", ole_variant(L"2.5"), VT_R8, VT_R8, "2.5000000000000000e+00"},
        {"text abc to R8", ole_variant(L"abc"), VT_R8, 0, nullptr},
        {"text to DECIMAL", ole_variant(L"1.10"), VT_DECIMAL, VT_DECIMAL, "1.10"},
        {"DECIMAL to text", decimal_of("-0.5"), VT_BSTR, VT_BSTR, "-0.5"},
        {"I4 300 to UI1", ole_variant(300), VT_UI1, 0, nullptr},
        {"BOOL to text", ole_variant(true), VT_BSTR, VT_BSTR, "-1"},
        {"CY to DECIMAL", ole_variant(CY{15000}), VT_DECIMAL, VT_DECIMAL, "1.5000"},
    };
}

class change_type_rules : public testing::TestWithParam<change_case> {};

TEST_P(change_type_rules, in_order)
{
    const auto& c = GetParam();
    ole_variant v = c.value;
    if (!c.text) {
        EXPECT_THROW(v.change_type(c.to), ole_cast_exception);
        return;
    }
    ASSERT_NO_THROW(v.change_type(c.to));
    EXPECT_EQ(v.get_vt(), c.kind);
    EXPECT_EQ(v.to_string(), c.text);
}

INSTANTIATE_TEST_SUITE_P(table, change_type_rules, testing::ValuesIn(change_cases()));

TEST(ole_variant_change, date_image_is_the_32_byte_record)
{
    ole_date d("2023-01-05 10:20:30.5");
    ole_variant v(d);
    v.change_type(VT_BYTE_ARRAY);
    ASSERT_EQ(v.get_byte_vector().size(), 32u);
    EXPECT_EQ(std::memcmp(v.get_byte_vector().data(), &d, 32), 0);
}

TEST(ole_variant_change, cast_exception_carries_its_level)
{
    try {
        ole_variant v(std::int64_t(70000));
        v.change_type(VT_I2);
        FAIL();
    } catch (const ole_cast_exception& e) {
        EXPECT_STREQ(e.what(), "Cannot cast from source type to destination type");
        EXPECT_EQ(e.get_level(), 0);
    }
    ole_type_exception t;
    EXPECT_STREQ(t.what(), "The operating type is not supported yet");
    EXPECT_EQ(t.get_level(), 1);
}

// --- from_string / from_wstring -------------------------------------------------------

struct parse_case {
    const char* text;
    VARTYPE kind;
    VARTYPE result_kind;
    const char* printed;  // nullptr: must throw
};

std::ostream& operator<<(std::ostream& os, const parse_case& c)
{
    return os << '"' << c.text << "\" as " << c.kind;
}

class from_text : public testing::TestWithParam<parse_case> {};

TEST_P(from_text, narrow_and_wide_agree)
{
    const auto& c = GetParam();
    std::string t = c.text;
    std::wstring w(t.begin(), t.end());
    if (!c.printed) {
        EXPECT_ANY_THROW(ole_variant::from_string(t, c.kind));
        EXPECT_ANY_THROW(ole_variant::from_wstring(w, c.kind));
        return;
    }
    ole_variant v = ole_variant::from_string(t, c.kind);
    EXPECT_EQ(v.get_vt(), c.result_kind);
    EXPECT_EQ(v.to_string(), c.printed);
    ole_variant vw = ole_variant::from_wstring(w, c.kind);
    EXPECT_EQ(vw.get_vt(), v.get_vt());
    EXPECT_EQ(vw.to_string(), v.to_string());
}

const parse_case parse_cases[] = {
    {"", VT_I4, VT_EMPTY, ""},
    {"42", VT_I4, VT_I4, "42"},
    {" -17 ", VT_I2, VT_I2, "-17"},
    {"\t+42\r\n", VT_I4, VT_I4, "42"},
    {"70000", VT_I2, 0, nullptr},
    {"255", VT_UI1, VT_UI1, "255"},
    {"-1", VT_UI1, 0, nullptr},
    {"-128", VT_I1, VT_I1, "-128"},
    {"4294967295", VT_UI4, VT_UI4, "4294967295"},
    {"-1", VT_UI4, 0, nullptr},
    {"-9223372036854775808", VT_I8, VT_I8, "-9223372036854775808"},
    {"9223372036854775808", VT_I8, 0, nullptr},
    {"18446744073709551615", VT_UI8, VT_UI8, "18446744073709551615"},
    {"18446744073709551616", VT_UI8, 0, nullptr},
    {"12,5", VT_R8, VT_R8, "1.2500000000000000e+01"},
    {"1e-3", VT_R8, VT_R8, "1.0000000000000000e-03"},
    {"0.1", VT_R4, VT_R4, "1.000000e-01"},
    {"12.34567", VT_CY, VT_CY, "12.3457"},
    {"12,5", VT_CY, VT_CY, "12.5"},
    {"2023-01-05 10:20:30", VT_DATE, VT_DATE, "2023-01-05 10:20:30"},
    {"2023-02-30", VT_DATE, VT_EMPTY, ""},
    {"1", VT_BOOL, VT_BOOL, "1"},
    {"TRUE", VT_BOOL, VT_BOOL, "1"},
    {"f", VT_BOOL, VT_BOOL, "0"},
    {"2", VT_BOOL, VT_BOOL, "1"},
    {" 0 ", VT_BOOL, VT_BOOL, "0"},
    {"0,5", VT_BOOL, VT_BOOL, "1"},
    {"1,25", VT_DECIMAL, VT_DECIMAL, "1.25"},
    {"inf", VT_DECIMAL, VT_R8, "inf"},
    {"0x", VT_BYTE_ARRAY, VT_BYTE_ARRAY, ""},
    {"0x0", VT_BYTE_ARRAY, VT_EMPTY, ""},
    {"\\x41", VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0x41"},
    {"4142", VT_BLOB, VT_BLOB, "0x4142"},
    {"0XabCD", VT_BYTE_ARRAY, VT_BYTE_ARRAY, "0xABCD"},
    {"0xZZ", VT_BYTE_ARRAY, 0, nullptr},
    {"text", VT_BSTR, VT_BSTR, "text"},
    {"-17", VT_INT, VT_INT, "-17"},
    {"12", VT_UINT, VT_UINT, "12"},
    {"abc", VT_UINT, 0, nullptr},
};

INSTANTIATE_TEST_SUITE_P(table, from_text, testing::ValuesIn(parse_cases));

// A text that is no number of the asked kind is refused: reading it as 0, or
// as its leading digits, would put a value into the row that was never there.
const parse_case not_a_number_cases[] = {
    {"x7", VT_I1, 0, nullptr},          {"x7", VT_UI1, 0, nullptr},     {"x7", VT_I2, 0, nullptr},
    {"x7", VT_UI2, 0, nullptr},         {"x7", VT_I4, 0, nullptr},      {"x7", VT_UI4, 0, nullptr},
    {"x7", VT_I8, 0, nullptr},          {"x7", VT_UI8, 0, nullptr},     {"x7", VT_R4, 0, nullptr},
    {"x7", VT_R8, 0, nullptr},          {"x7", VT_CY, 0, nullptr},      {"x7", VT_DECIMAL, 0, nullptr},
    {"maybe", VT_BOOL, 0, nullptr},     {"7x", VT_I4, 0, nullptr},      {" -17xyz", VT_I2, 0, nullptr},
    {"12,5", VT_I4, 0, nullptr},        {"1.5", VT_I8, 0, nullptr},     {"0x10", VT_I4, 0, nullptr},
    {"--1", VT_I8, 0, nullptr},         {"+", VT_UI8, 0, nullptr},      {" ", VT_I4, 0, nullptr},
    {"1.2.3", VT_DECIMAL, 0, nullptr},  {"1.5x", VT_R8, 0, nullptr},    {"+-1", VT_R8, 0, nullptr},
    {"12 345", VT_R4, 0, nullptr},      {"5 USD", VT_CY, 0, nullptr},   {"yes please", VT_BOOL, 0, nullptr},
};

INSTANTIATE_TEST_SUITE_P(not_a_number, from_text, testing::ValuesIn(not_a_number_cases));

TEST(ole_variant_from_text, refusal_is_the_cast_error)
{
    EXPECT_THROW(ole_variant::from_string("x7", VT_I4), ole_cast_exception);
    EXPECT_THROW(ole_variant::from_string("abc", VT_DECIMAL), ole_cast_exception);
}

TEST(ole_variant_from_text, empty_text_for_text_kind_is_an_empty_text)
{
    ole_variant v = ole_variant::from_string("", VT_BSTR);
    EXPECT_EQ(v.get_vt(), VT_BSTR);
    EXPECT_EQ(v.get_wstring(), L"");
    EXPECT_EQ(ole_variant::from_wstring(L"", VT_BSTR).get_vt(), VT_BSTR);
}

TEST(ole_variant_from_text, wide_text_keeps_characters)
{
    ole_variant v = ole_variant::from_wstring(std::wstring(L"\u65E5\u672C\0x", 4), VT_BSTR);
    EXPECT_EQ(v.get_wstring(), L"\u65E5\u672C");
    EXPECT_EQ(v.to_string(), "\xE6\x97\xA5\xE6\x9C\xAC");
    // A non-ASCII text read as a number goes through UTF-8 and is refused.
    EXPECT_THROW(ole_variant::from_wstring(L"12\u00E9", VT_I4), ole_cast_exception);
}

TEST(ole_variant_from_text, decimal_beyond_exact_range_is_refused_not_rounded)
{
    EXPECT_THROW(ole_variant::from_string(std::string(80, '9'), VT_DECIMAL), ole_cast_exception);
}

}  // namespace

namespace {

// Text attached as UTF-8 is kept as it came and made wide only when asked for; every way of
// reading or changing the value sees the same text as a wide one.
TEST(ole_variant_utf8_text, kept_text_reads_like_wide_text)
{
    const std::string bytes("Zo\xC3\xAB\t\xF0\x9F\x98\x80\0rest", 14);
    ole_variant v(bytes);
    ASSERT_NE(v.utf8_text(), nullptr);
    EXPECT_EQ(*v.utf8_text(), bytes);
    EXPECT_EQ(v.text_length(), 10u);
    EXPECT_EQ(v.to_string(), "Zo\xC3\xAB\t\xF0\x9F\x98\x80");  // up to the zero, as for wide text
    EXPECT_EQ(v.get_wstring(), std::wstring(L"Zo\u00EB\t\U0001F600\0rest", 10));

    // Copies and moves keep the text, also before its wide form was made.
    const ole_variant fresh(std::string("na\xC3\xAFve"));
    ole_variant copy(fresh);
    ole_variant moved(std::move(copy));
    EXPECT_EQ(moved.get_wstring(), L"na\u00EFve");
    EXPECT_EQ(fresh.get_wstring(), L"na\u00EFve");
    EXPECT_TRUE(copy.is_empty());

    // Changed in wide form, the kept bytes no longer stand for it.
    moved = std::wstring(L"other");
    EXPECT_EQ(moved.utf8_text(), nullptr);
    EXPECT_EQ(moved.to_string(), "other");
    moved.attach_string("again");
    moved.attach_wstring(L"wide");
    EXPECT_EQ(moved.utf8_text(), nullptr);
    EXPECT_EQ(moved.to_string(), "wide");

    // Kind changes read the text.
    ole_variant number(std::string("42.5"));
    number.change_type(VT_R8);
    EXPECT_EQ(number.get_vt(), VT_R8);
    EXPECT_EQ(number.get_double(), 42.5);
    EXPECT_EQ(ole_variant::from_string(std::string_view("12.5"), VT_R8).get_double(), 12.5);
    ole_variant blob(std::string("AB"));
    blob.change_type(VT_BYTE_ARRAY);
    EXPECT_EQ(blob.get_byte_vector(), (std::vector<std::uint8_t>{'A', 'B'}));
    EXPECT_EQ(blob.utf8_text(), nullptr);
}

TEST(ole_variant_utf8_text, invalid_utf8_is_not_kept_and_reads_as_before)
{
    for (const char* bad : {"a\xFF" "b", "\xC3", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        ole_variant v{std::string(bad)};
        EXPECT_EQ(v.utf8_text(), nullptr) << bad;
        EXPECT_EQ(v.get_wstring(), pf_utf8_to_wide(bad)) << bad;
    }
    // U+FFFD written as such is valid text.
    EXPECT_NE(ole_variant(std::string("\xEF\xBF\xBD")).utf8_text(), nullptr);
}

// A text kept as UTF-8 knows its length in characters and whether it holds a zero byte from the
// look that checked it: the same answers as its wide form gives, for every place of a
// multi-byte character or a zero among plain letters (words of eight bytes are read at once).
TEST(ole_variant, kept_text_length_and_zero_byte)
{
    const std::string pieces[] = {std::string(1, '\0'), "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\x7F"};
    for (std::size_t length = 0; length <= 24; ++length)
        for (std::size_t at = 0; at <= length; ++at)
            for (const std::string& piece : pieces) {
                std::string text(length, 'a');
                text.insert(at, piece);
                const ole_variant kept(text);
                ASSERT_NE(kept.utf8_text(), nullptr);
                const std::wstring wide = pf_utf8_to_wide(text);
                EXPECT_EQ(kept.text_length(), wide.size()) << length << " " << at;
                EXPECT_EQ(kept.utf8_has_zero(), wide.find(L'\0') != std::wstring::npos) << length << " " << at;
                EXPECT_EQ(kept.to_string(), text.substr(0, text.find('\0')));
            }
    // Bytes that are no UTF-8 are not kept (they go the wide way, as before).
    const ole_variant broken(std::string("abcdefgh\xC3(", 10));
    EXPECT_EQ(broken.utf8_text(), nullptr);
    EXPECT_EQ(broken.text_length(), broken.get_wstring().size());
}

// A field reused row after row gives back a large value's room; the next value, smaller or as
// large, is exactly itself.
// A writer done with a large value gives up its bytes; the value stays a (now empty) text or
// byte array, not NULL, and a value of another kind is left alone.
TEST(ole_variant, released_or_taken_content_leaves_an_empty_value_of_the_kind)
{
    ole_variant text;
    text.attach_string(std::string(100000, 'x') + "\xc3\xab");
    const char* held = text.utf8_text()->data();
    const std::string taken = text.take_utf8_text();
    EXPECT_EQ(taken.data(), held);  // the very bytes, not a copy
    EXPECT_EQ(taken.size(), 100002u);
    ole_variant blob(std::vector<std::uint8_t>(1000, 1));
    ole_variant wide(std::wstring(1000, L'\u00e9'));
    EXPECT_EQ(wide.take_utf8_text(), "");  // no UTF-8 kept: nothing handed over
    EXPECT_EQ(wide.text_length(), 1000u);
    wide.release_content();
    ole_variant number(42);
    number.release_content();
    EXPECT_EQ(number.to_long(), 42);
    blob.release_content();
    EXPECT_TRUE(blob.is_binary());
    EXPECT_TRUE(blob.get_byte_vector().empty());
    // A large byte array is read with room for its hexadecimal digits and handed over with it.
    ole_variant large;
    large.attach_binary(std::vector<std::uint8_t>(100000, 7));
    const std::uint8_t* bytes = large.get_byte_vector().data();
    const std::vector<std::uint8_t> taken_bytes = large.take_byte_vector();
    EXPECT_EQ(taken_bytes.data(), bytes);
    EXPECT_EQ(taken_bytes, std::vector<std::uint8_t>(100000, 7));
    EXPECT_GE(taken_bytes.capacity(), 200003u);
    EXPECT_TRUE(large.is_binary());
    EXPECT_TRUE(large.get_byte_vector().empty());
    EXPECT_TRUE(number.take_byte_vector().empty());
    EXPECT_EQ(number.to_long(), 42);
    for (const ole_variant* v : {&text, &wide}) {
        EXPECT_EQ(v->get_vt(), VT_BSTR);
        EXPECT_FALSE(v->is_empty());
        EXPECT_EQ(v->text_length(), 0u);
        EXPECT_EQ(v->get_wstring(), L"");
        EXPECT_EQ(v->to_string(), "");
    }
    // The value takes a new text as before.
    text.attach_string("next");
    EXPECT_EQ(text.to_string(), "next");
}

// Counted 16 bytes at a time with per-lane counters added up every 255 rounds: escapes at every
// place around those steps, and a text of only escapes long enough to overflow a lane.
TEST(ole_variant, escaped_bytes_are_counted_at_every_position)
{
    const auto by_byte = [](const std::string& t) {
        std::size_t n = 0;
        for (char c : t) n += c == '\\' || c == '\t' || c == '\n' || c == '\r';
        return n;
    };
    for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 33u, 255u * 16u + 7u}) {
        for (std::size_t at = 0; at < length; at += (length > 100 ? 97 : 1)) {
            std::string t(length, 'x');
            t[at] = "\\\t\n\r"[at % 4];
            t[length - 1] = '\xe9';  // bytes above 0x7f are no escapes
            if (at + 1 < length) t[at + 1] = '\\';
            EXPECT_EQ(ole_variant::count_escaped_bytes(t), by_byte(t)) << length << " " << at;
        }
    }
    const std::string escapes_only(3 * 255 * 16 + 5, '\n');
    EXPECT_EQ(ole_variant::count_escaped_bytes(escapes_only), escapes_only.size());
}

TEST(ole_variant, a_reused_value_after_a_large_one_is_exact)
{
    ole_variant v;
    const std::vector<std::uint8_t> large(1 << 20, 0xAB);
    v.attach_binary(large);
    v.attach_binary(std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_EQ(v.get_byte_vector(), (std::vector<std::uint8_t>{1, 2, 3}));
    v.attach_binary(large);
    EXPECT_EQ(v.get_byte_vector(), large);
    v.attach_string(std::string(1 << 20, 'x'));
    v.attach_string("small");
    ASSERT_NE(v.utf8_text(), nullptr);
    EXPECT_EQ(*v.utf8_text(), "small");
    EXPECT_EQ(v.text_length(), 5u);
    v.attach_wstring(std::wstring(1 << 18, L'\u00e9'));
    v.attach_wstring(L"\u00e9t\u00e9");
    EXPECT_EQ(v.get_wstring(), L"\u00e9t\u00e9");
}

}  // namespace

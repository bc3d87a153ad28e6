// The general conversions between kinds: each pair that the field values
// reach, with its result, as one table. Integers round half to even and never
// wrap; text uses '.' as the decimal point.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>

#include "platform/pf_variant.h"

namespace {

pf_variant make(VARTYPE vt, double x = 0)
{
    pf_variant v;
    v.vt = vt;
    switch (vt) {
    case VT_I1: v.cVal = std::int8_t(x); break;
    case VT_UI1: v.bVal = std::uint8_t(x); break;
    case VT_I2: v.iVal = std::int16_t(x); break;
    case VT_UI2: v.uiVal = std::uint16_t(x); break;
    case VT_I4: v.lVal = std::int32_t(x); break;
    case VT_UI4: v.ulVal = std::uint32_t(x); break;
    case VT_INT: v.intVal = std::int32_t(x); break;
    case VT_UINT: v.uintVal = std::uint32_t(x); break;
    case VT_R4: v.fltVal = float(x); break;
    case VT_R8: v.dblVal = x; break;
    case VT_BOOL: v.boolVal = x != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_CY: v.set_cy(CY{std::int64_t(std::llround(x * 10000))}); break;
    default: break;
    }
    return v;
}

pf_variant text(const wchar_t* t)
{
    pf_variant v;
    v.vt = VT_BSTR;
    v.bstrVal = t;
    return v;
}

pf_variant decimal(const char* t)
{
    pf_variant v;
    v.vt = VT_DECIMAL;
    EXPECT_EQ(pf_dec_from_str(std::string_view(t), v.decVal), pf_status::ok);
    return v;
}

// "KIND:value" of a converted value.
std::string describe(const pf_variant& v)
{
    std::string s;
    switch (v.vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_I1: return "I1:" + std::to_string(v.cVal);
    case VT_UI1: return "UI1:" + std::to_string(v.bVal);
    case VT_I2: return "I2:" + std::to_string(v.iVal);
    case VT_UI2: return "UI2:" + std::to_string(v.uiVal);
    case VT_I4: return "I4:" + std::to_string(v.lVal);
    case VT_UI4: return "UI4:" + std::to_string(v.ulVal);
    case VT_INT: return "INT:" + std::to_string(v.intVal);
    case VT_UINT: return "UINT:" + std::to_string(v.uintVal);
    case VT_I8: return "I8:" + std::to_string(v.llVal);
    case VT_UI8: return "UI8:" + std::to_string(v.ullVal);
    case VT_R4: pf_append_r4_text(s, v.fltVal); return "R4:" + s;
    case VT_R8: pf_append_r8_text(s, v.dblVal); return "R8:" + s;
    case VT_BOOL: return "BOOL:" + std::to_string(v.boolVal);
    case VT_CY: return "CY:" + pf_cy_to_str(v.cy());
    case VT_DECIMAL: return "DEC:" + pf_dec_to_str(v.decVal);
    case VT_BSTR: return "BSTR:" + std::string(v.bstrVal.begin(), v.bstrVal.end());
    default: return "?";
    }
}

struct pair_case {
    const char* name;
    pf_variant from;
    VARTYPE to;
    const char* result;  // describe() of the result, or "overflow" / "mismatch"
};

std::ostream& operator<<(std::ostream& os, const pair_case& c) { return os << c.name; }

class change_type_pairs : public testing::TestWithParam<pair_case> {};

TEST_P(change_type_pairs, result)
{
    const auto& c = GetParam();
    pf_variant v = c.from;
    pf_status st = pf_variant_change_type(v, c.to);
    std::string got = st == pf_status::ok ? describe(v) : st == pf_status::overflow ? "overflow" : "mismatch";
    EXPECT_EQ(got, c.result);
    if (st != pf_status::ok) {
        EXPECT_EQ(describe(v), describe(c.from)) << "a failed conversion leaves the value alone";
    }
}

// Every pair that falls through to the general conversion of field values.
const pair_case pairs[] = {
    // integers among themselves: range checked, never wrapped
    {"I4 to UI1", make(VT_I4, 200), VT_UI1, "UI1:200"},
    {"I4 300 to UI1", make(VT_I4, 300), VT_UI1, "overflow"},
    {"I2 -1 to UI1", make(VT_I2, -1), VT_UI1, "overflow"},
    {"UI4 to INT", make(VT_UI4, 4000000000.0), VT_INT, "overflow"},
    {"I4 to UINT", make(VT_I4, 7), VT_UINT, "UINT:7"},
    {"BOOL true to UI1", make(VT_BOOL, 1), VT_UI1, "overflow"},
    {"BOOL true to R8", make(VT_BOOL, 1), VT_R8, "R8:-1"},
    // doubles to integers: half to even
    {"R8 2.5 to UI1", make(VT_R8, 2.5), VT_UI1, "UI1:2"},
    {"R8 3.5 to UI1", make(VT_R8, 3.5), VT_UI1, "UI1:4"},
    {"R8 255.6 to UI1", make(VT_R8, 255.6), VT_UI1, "overflow"},
    {"R8 NaN to UI1", make(VT_R8, NAN), VT_UI1, "overflow"},
    // to floating point
    {"I4 to R8", make(VT_I4, -7), VT_R8, "R8:-7"},
    {"R8 to R4", make(VT_R8, 1.5), VT_R4, "R4:1.5"},
    {"R8 1e300 to R4", make(VT_R8, 1e300), VT_R4, "overflow"},
    {"CY to R8", make(VT_CY, 12.3456), VT_R8, "R8:12.3456"},
    {"DEC to R8", decimal("-0.125"), VT_R8, "R8:-0.125"},
    {"DEC to R4", decimal("0.5"), VT_R4, "R4:0.5"},
    // to currency
    {"I4 to CY", make(VT_I4, 12), VT_CY, "CY:12"},
    {"R8 to CY", make(VT_R8, 1.23456), VT_CY, "CY:1.2346"},
    {"DEC to CY", decimal("2.00005"), VT_CY, "CY:2"},
    {"DEC huge to CY", decimal("1e20"), VT_CY, "overflow"},
    {"BOOL to CY", make(VT_BOOL, 1), VT_CY, "CY:-1"},
    {"BSTR to CY", text(L" 12.5 "), VT_CY, "CY:12.5"},
    // to decimal
    {"I4 to DEC", make(VT_I4, -42), VT_DECIMAL, "DEC:-42"},
    {"R8 to DEC", make(VT_R8, 0.1), VT_DECIMAL, "DEC:0.1"},
    {"R4 to DEC", make(VT_R4, 0.5), VT_DECIMAL, "DEC:0.5"},
    {"CY to DEC", make(VT_CY, 1.5), VT_DECIMAL, "DEC:1.5000"},
    {"BOOL to DEC", make(VT_BOOL, 1), VT_DECIMAL, "DEC:-1"},
    {"BSTR to DEC", text(L"-12345678901234567890.000000001"), VT_DECIMAL, "DEC:-12345678901234567890.000000001"},
    {"BSTR abc to DEC", text(L"abc"), VT_DECIMAL, "mismatch"},
    // to boolean
    {"I4 to BOOL", make(VT_I4, 5), VT_BOOL, "BOOL:-1"},
    {"R8 0 to BOOL", make(VT_R8, 0), VT_BOOL, "BOOL:0"},
    {"DEC to BOOL", decimal("0.001"), VT_BOOL, "BOOL:-1"},
    {"CY 0 to BOOL", make(VT_CY, 0), VT_BOOL, "BOOL:0"},
    // to text
    {"I4 to BSTR", make(VT_I4, -5), VT_BSTR, "BSTR:-5"},
    {"UI4 to BSTR", make(VT_UI4, 4294967295.0), VT_BSTR, "BSTR:4294967295"},
    {"R8 to BSTR", make(VT_R8, 1.5), VT_BSTR, "BSTR:1.5"},
    {"R8 third to BSTR", make(VT_R8, 1.0 / 3), VT_BSTR, "BSTR:0.333333333333333"},
    {"R8 big to BSTR", make(VT_R8, 1e20), VT_BSTR, "BSTR:1E+20"},
    {"R4 to BSTR", make(VT_R4, 0.1), VT_BSTR, "BSTR:0.1"},
    {"CY to BSTR", make(VT_CY, -2.5), VT_BSTR, "BSTR:-2.5"},
    {"DEC to BSTR", decimal("1.50"), VT_BSTR, "BSTR:1.50"},
    {"BOOL to BSTR", make(VT_BOOL, 1), VT_BSTR, "BSTR:-1"},
    {"EMPTY to BSTR", make(VT_EMPTY), VT_BSTR, "BSTR:"},
    // from text
    {"BSTR to UI1", text(L"12"), VT_UI1, "UI1:12"},
    {"BSTR 12.5 to UI1", text(L"12.5"), VT_UI1, "UI1:12"},
    {"BSTR 256 to UI1", text(L"256"), VT_UI1, "overflow"},
    {"BSTR to R8", text(L"1.5e3"), VT_R8, "R8:1500"},
    {"BSTR comma to R8", text(L"1,5"), VT_R8, "mismatch"},
    {"BSTR abc to R8", text(L"abc"), VT_R8, "mismatch"},
    {"BSTR to INT", text(L"-17"), VT_INT, "INT:-17"},
    {"BSTR True to BOOL", text(L"True"), VT_BOOL, "BOOL:-1"},
    {"BSTR 0 to BOOL", text(L"0"), VT_BOOL, "BOOL:0"},
    // to nothing, and kinds it does not know
    {"I4 to EMPTY", make(VT_I4, 3), VT_EMPTY, "EMPTY"},
    {"I4 to NULL", make(VT_I4, 3), VT_NULL, "mismatch"},
    {"I4 to DATE", make(VT_I4, 3), VT_DATE, "mismatch"},
};

INSTANTIATE_TEST_SUITE_P(table, change_type_pairs, testing::ValuesIn(pairs));

TEST(pf_variant_text, exponent_form_matches_printf_in_the_classic_locale)
{
    struct {
        double v;
        int precision;
        const char* text;
    } cases[] = {{1.5, 16, "1.5000000000000000e+00"},
                 {-0.001, 16, "-1.0000000000000000e-03"},
                 {1e300, 16, "1.0000000000000001e+300"},
                 {1.5, 6, "1.500000e+00"},
                 {0, 16, "0.0000000000000000e+00"}};
    for (const auto& c : cases) {
        std::string s;
        pf_append_exp(s, c.v, c.precision);
        EXPECT_EQ(s, c.text);
    }
}

TEST(pf_variant_text, reading_numbers_like_atof_and_atoll)
{
    EXPECT_EQ(pf_atof("  12.5abc"), 12.5);
    EXPECT_EQ(pf_atof("+3"), 3);
    EXPECT_EQ(pf_atof("abc"), 0);
    EXPECT_EQ(pf_atof("12,5"), 12);
    EXPECT_TRUE(std::isinf(pf_atof("1e999")));
    bool overflow = false;
    EXPECT_EQ(pf_atoll(" -42x", &overflow), -42);
    EXPECT_FALSE(overflow);
    pf_atoll("99999999999999999999", &overflow);
    EXPECT_TRUE(overflow);
    std::uint64_t u = 0;
    EXPECT_TRUE(pf_atoull("18446744073709551615", u, &overflow));
    EXPECT_EQ(u, std::numeric_limits<std::uint64_t>::max());
    EXPECT_FALSE(overflow);
    EXPECT_FALSE(pf_atoull("x", u));
}

struct whole_text_case {
    const char* text;
    bool integer;  // pf_is_integer_text
    bool number;   // pf_atof_strict
    double value;  // when a number
};

// Whole-text readers: blanks may frame the number, nothing else may.
TEST(pf_variant_text, whole_text_numbers)
{
    const whole_text_case cases[] = {
        {"42", true, true, 42},       {" -7\t", true, true, -7},   {"+5\r\n", true, true, 5},
        {"1.5", false, true, 1.5},    {" 1e3 ", false, true, 1000}, {"x7", false, false, 0},
        {"7x", false, false, 0},      {"", false, false, 0},        {"  ", false, false, 0},
        {"-", false, false, 0},       {"+-1", false, false, 0},     {"--1", false, false, 0},
        {"1 2", false, false, 0},     {"0x10", false, false, 0},    {"12,5", false, false, 0},
        {"99999999999999999999999", true, true, 1e23},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(pf_is_integer_text(c.text), c.integer);
        double d = -1;
        EXPECT_EQ(pf_atof_strict(c.text, d), c.number);
        if (c.number) EXPECT_EQ(d, c.value);
    }
}

TEST(pf_variant_text, ignores_a_comma_locale)
{
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    std::string s;
    pf_append_exp(s, 1.5, 16);
    pf_append_r8_text(s, 0.25);
    EXPECT_EQ(s, "1.5000000000000000e+000.25");
    EXPECT_EQ(pf_atof("2.5"), 2.5);
    EXPECT_EQ(pf_atof("1e999"), HUGE_VAL);
    pf_variant v = text(L"3.75");
    ASSERT_EQ(pf_variant_change_type(v, VT_R8), pf_status::ok);
    EXPECT_EQ(v.dblVal, 3.75);
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace

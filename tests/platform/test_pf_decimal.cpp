// Exact decimals: texts round-trip digit for digit over the whole MySQL range,
// the 16-byte layout holds what fits, conversions round half to even and
// report overflow.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "platform/pf_decimal.h"

namespace {

pf_decimal dec(const char* text)
{
    pf_decimal d;
    EXPECT_EQ(pf_dec_from_str(std::string_view(text), d), pf_status::ok) << text;
    return d;
}

struct round_trip_case {
    const char* text;
    const char* printed;  // nullptr: the same text
    bool fits_16_bytes;
};

class dec_round_trip : public testing::TestWithParam<round_trip_case> {};

TEST_P(dec_round_trip, prints_exact_digits)
{
    const auto& c = GetParam();
    pf_decimal d = dec(c.text);
    EXPECT_EQ(pf_dec_to_str(d), c.printed ? c.printed : c.text);
    EXPECT_EQ(d.fits_decimal(), c.fits_16_bytes);
}

INSTANTIATE_TEST_SUITE_P(
    texts, dec_round_trip,
    testing::Values(
        round_trip_case{"0", nullptr, true}, round_trip_case{"1.50", nullptr, true},
        round_trip_case{"-0.001", nullptr, true}, round_trip_case{"-0.00", "0.00", true},
        round_trip_case{"  +12.5  ", "12.5", true}, round_trip_case{".5", "0.5", true},
        round_trip_case{"1.5e3", "1500", true}, round_trip_case{"15E-3", "0.015", true},
        // the largest 96-bit magnitude, and one past it
        round_trip_case{"79228162514264337593543950335", nullptr, true},
        round_trip_case{"79228162514264337593543950336", nullptr, false},
        // MySQL DECIMAL(65,30), at both ends of its range
        round_trip_case{"12345678901234567890123456789012345.123456789012345678901234567890", nullptr, false},
        round_trip_case{"-99999999999999999999999999999999999.999999999999999999999999999999", nullptr, false},
        round_trip_case{"0.000000000000000000000000000001", nullptr, false},
        // 77 digits, the full capacity
        round_trip_case{"99999999999999999999999999999999999999999999999999999999999999999999999999999", nullptr,
                        false}));

TEST(pf_decimal_text, refuses_what_is_not_a_number)
{
    pf_decimal d;
    for (const char* t : {"", "abc", "1.2.3", "1e", "--1", "1,5", "12 34", "."})
        EXPECT_EQ(pf_dec_from_str(std::string_view(t), d), pf_status::type_mismatch) << t;
    EXPECT_EQ(pf_dec_from_str(std::string_view(std::string(78, '9')), d), pf_status::overflow);
    EXPECT_EQ(pf_dec_from_str(std::string_view("1e80"), d), pf_status::overflow);
}

TEST(pf_decimal_text, rounds_fraction_digits_beyond_capacity)
{
    // 1 integer digit and 80 fraction digits: the last ones are rounded off.
    std::string t = "1." + std::string(75, '0') + "16";  // 78 significant digits
    pf_decimal d;
    ASSERT_EQ(pf_dec_from_str(std::string_view(t), d), pf_status::ok);
    EXPECT_EQ(pf_dec_to_str(d), "1." + std::string(75, '0') + "2");
}

TEST(pf_decimal_text, wide_text_reads_the_same)
{
    pf_decimal a, b;
    ASSERT_EQ(pf_dec_from_str(std::wstring_view(L"-123.4500"), a), pf_status::ok);
    ASSERT_EQ(pf_dec_from_str(std::string_view("-123.4500"), b), pf_status::ok);
    EXPECT_EQ(pf_dec_to_str(a), "-123.4500");
    EXPECT_TRUE(a == b);
}

TEST(pf_decimal_layout, keeps_the_16_byte_decimal_in_front)
{
    DECIMAL raw{};
    raw.scale = 2;
    raw.sign = DECIMAL_NEG;
    raw.Lo64 = 12345;
    pf_decimal d(raw);
    EXPECT_EQ(pf_dec_to_str(d), "-123.45");
    DECIMAL back = d.to_DECIMAL();
    EXPECT_EQ(back.scale, 2);
    EXPECT_EQ(back.sign, DECIMAL_NEG);
    EXPECT_EQ(back.Lo64, 12345u);
    EXPECT_EQ(back.Hi32, 0u);
    EXPECT_TRUE(dec("1.5") == dec("1.500"));
    EXPECT_FALSE(dec("1.5") == dec("-1.5"));
    EXPECT_TRUE(dec("0") == dec("-0.000"));
}

struct int_case {
    const char* text;
    pf_status status;
    std::int64_t value;
};

class dec_to_i8 : public testing::TestWithParam<int_case> {};

TEST_P(dec_to_i8, rounds_half_to_even_and_reports_overflow)
{
    std::int64_t v = 0;
    EXPECT_EQ(pf_i8_from_dec(dec(GetParam().text), v), GetParam().status);
    if (GetParam().status == pf_status::ok) {
        EXPECT_EQ(v, GetParam().value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, dec_to_i8,
    testing::Values(int_case{"2.5", pf_status::ok, 2}, int_case{"3.5", pf_status::ok, 4},
                    int_case{"-2.5", pf_status::ok, -2}, int_case{"2.5000001", pf_status::ok, 3},
                    int_case{"-0.4", pf_status::ok, 0},
                    int_case{"9223372036854775807", pf_status::ok, std::numeric_limits<std::int64_t>::max()},
                    int_case{"-9223372036854775808", pf_status::ok, std::numeric_limits<std::int64_t>::min()},
                    int_case{"9223372036854775808", pf_status::overflow, 0},
                    int_case{"12345678901234567890123456789012345.5", pf_status::overflow, 0}));

TEST(pf_decimal_convert, unsigned_and_32_bit)
{
    std::uint64_t u = 0;
    EXPECT_EQ(pf_ui8_from_dec(dec("18446744073709551615"), u), pf_status::ok);
    EXPECT_EQ(u, std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(pf_ui8_from_dec(dec("18446744073709551616"), u), pf_status::overflow);
    EXPECT_EQ(pf_ui8_from_dec(dec("-1"), u), pf_status::overflow);
    EXPECT_EQ(pf_ui8_from_dec(dec("-0.2"), u), pf_status::ok);
    EXPECT_EQ(u, 0u);
    std::int32_t i = 0;
    EXPECT_EQ(pf_i4_from_dec(dec("2147483647.4"), i), pf_status::ok);
    EXPECT_EQ(i, 2147483647);
    EXPECT_EQ(pf_i4_from_dec(dec("2147483647.5"), i), pf_status::overflow);
}

TEST(pf_decimal_convert, doubles_take_15_significant_digits)
{
    pf_decimal d;
    ASSERT_EQ(pf_dec_from_r8(0.1, d), pf_status::ok);
    EXPECT_EQ(pf_dec_to_str(d), "0.1");
    ASSERT_EQ(pf_dec_from_r8(-1234.5, d), pf_status::ok);
    EXPECT_EQ(pf_dec_to_str(d), "-1234.5");
    ASSERT_EQ(pf_dec_from_r8(1e20, d), pf_status::ok);
    EXPECT_EQ(pf_dec_to_str(d), "100000000000000000000");
    EXPECT_EQ(pf_dec_from_r8(std::numeric_limits<double>::quiet_NaN(), d), pf_status::overflow);
    double r = 0;
    ASSERT_EQ(pf_r8_from_dec(dec("12345678901234567890123456789012345.123456789012345678901234567890"), r),
              pf_status::ok);
    EXPECT_DOUBLE_EQ(r, 1.2345678901234568e34);
}

TEST(pf_currency, scale_of_ten_thousand)
{
    CY cy;
    ASSERT_EQ(pf_cy_from_str(std::string_view("12.34567"), cy), pf_status::ok);
    EXPECT_EQ(cy.int64, 123457);  // half to even at the fourth place: 1234567 -> 123457 (7 > 5)
    ASSERT_EQ(pf_cy_from_str(std::string_view("0.00005"), cy), pf_status::ok);
    EXPECT_EQ(cy.int64, 0);  // exactly half: to even
    ASSERT_EQ(pf_cy_from_str(std::string_view("0.00015"), cy), pf_status::ok);
    EXPECT_EQ(cy.int64, 2);
    EXPECT_EQ(pf_cy_from_str(std::string_view("922337203685477.5808"), cy), pf_status::overflow);
    ASSERT_EQ(pf_cy_from_str(std::string_view("-922337203685477.5808"), cy), pf_status::ok);
    EXPECT_EQ(pf_cy_to_str(cy), "-922337203685477.5808");
    EXPECT_EQ(pf_cy_to_str(CY{15000}), "1.5");
    EXPECT_EQ(pf_cy_to_str(CY{1000000}), "100");
    EXPECT_EQ(pf_cy_to_str(CY{-1}), "-0.0001");
    std::int32_t i = 0;
    EXPECT_EQ(pf_i4_from_cy(CY{25000}, i), pf_status::ok);
    EXPECT_EQ(i, 2);
    EXPECT_EQ(pf_i4_from_cy(CY{35000}, i), pf_status::ok);
    EXPECT_EQ(i, 4);
    EXPECT_EQ(pf_i4_from_cy(CY{-25001}, i), pf_status::ok);
    EXPECT_EQ(i, -3);
    EXPECT_EQ(pf_i4_from_cy(CY{std::int64_t(3000000000) * 10000}, i), pf_status::overflow);
    EXPECT_DOUBLE_EQ(pf_r8_from_cy(CY{-15000}), -1.5);
}

}  // namespace

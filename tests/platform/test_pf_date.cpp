// Date numbers (days since 1899-12-30) and the last-resort date reader.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/pf_date.h"

namespace {

SYSTEMTIME st_of(int y, int m, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    SYSTEMTIME st{};
    st.wYear = std::uint16_t(y);
    st.wMonth = std::uint16_t(m);
    st.wDay = std::uint16_t(d);
    st.wHour = std::uint16_t(h);
    st.wMinute = std::uint16_t(mi);
    st.wSecond = std::uint16_t(s);
    st.wMilliseconds = std::uint16_t(ms);
    return st;
}

TEST(pf_date_number, known_days)
{
    double d = -1;
    ASSERT_TRUE(pf_system_time_to_variant_time(st_of(1899, 12, 30), d));
    EXPECT_EQ(d, 0.0);
    ASSERT_TRUE(pf_system_time_to_variant_time(st_of(1900, 1, 1, 6), d));
    EXPECT_DOUBLE_EQ(d, 2.25);
    ASSERT_TRUE(pf_system_time_to_variant_time(st_of(1899, 12, 29, 6), d));
    EXPECT_DOUBLE_EQ(d, -1.25);  // the time runs forward from the day, the sign follows the day
    ASSERT_TRUE(pf_system_time_to_variant_time(st_of(2023, 1, 5), d));
    EXPECT_EQ(d, 44931.0);
    EXPECT_FALSE(pf_system_time_to_variant_time(st_of(2023, 2, 29), d));
    EXPECT_FALSE(pf_system_time_to_variant_time(st_of(0, 0, 0, 10), d));
    EXPECT_FALSE(pf_system_time_to_variant_time(st_of(2023, 1, 5, 24), d));
}

TEST(pf_date_number, round_trips_to_the_millisecond)
{
    for (SYSTEMTIME st : {st_of(2024, 2, 29, 23, 59, 59, 999), st_of(100, 1, 1), st_of(9999, 12, 31, 12, 0, 0, 1),
                          st_of(1899, 12, 29, 6, 30)}) {
        double d = 0;
        ASSERT_TRUE(pf_system_time_to_variant_time(st, d));
        SYSTEMTIME back{};
        ASSERT_TRUE(pf_variant_time_to_system_time(d, back));
        EXPECT_EQ(back.wYear, st.wYear);
        EXPECT_EQ(back.wMonth, st.wMonth);
        EXPECT_EQ(back.wDay, st.wDay);
        EXPECT_EQ(back.wHour, st.wHour);
        EXPECT_EQ(back.wMinute, st.wMinute);
        EXPECT_EQ(back.wSecond, st.wSecond);
        EXPECT_EQ(back.wMilliseconds, st.wMilliseconds);
    }
    SYSTEMTIME st{};
    ASSERT_TRUE(pf_variant_time_to_system_time(44931.0, st));
    EXPECT_EQ(st.wDayOfWeek, 4);  // 2023-01-05 was a Thursday
    EXPECT_FALSE(pf_variant_time_to_system_time(NAN, st));
}

TEST(pf_date_calendar, add_days_carries_months_and_years)
{
    SYSTEMTIME st = st_of(2023, 12, 31);
    pf_add_days(st, 1);
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 1);
    EXPECT_EQ(st.wDay, 1);
    st = st_of(2024, 2, 28);
    pf_add_days(st, 1);
    EXPECT_EQ(st.wDay, 29);
    EXPECT_EQ(pf_days_in_month(1900, 2), 28);
    EXPECT_EQ(pf_days_in_month(2000, 2), 29);
    // Years of 0 or below are raised by one first.
    EXPECT_FALSE(pf_is_leap_year(0));
    EXPECT_TRUE(pf_is_leap_year(-1));
}

struct fallback_case {
    const char* text;
    bool ok;
    int y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0, us = 0;
};

class pf_date_text : public testing::TestWithParam<fallback_case> {};

TEST_P(pf_date_text, reads_english_forms)
{
    const auto& c = GetParam();
    SYSTEMTIME st{};
    int us = -1;
    ASSERT_EQ(pf_date_from_str(c.text, st, &us), c.ok) << c.text;
    if (!c.ok) return;
    EXPECT_EQ(st.wYear, c.y);
    EXPECT_EQ(st.wMonth, c.m);
    EXPECT_EQ(st.wDay, c.d);
    EXPECT_EQ(st.wHour, c.h);
    EXPECT_EQ(st.wMinute, c.mi);
    EXPECT_EQ(st.wSecond, c.s);
    EXPECT_EQ(us, c.us);
}

INSTANTIATE_TEST_SUITE_P(
    forms, pf_date_text,
    testing::Values(fallback_case{"2023-01-05T10:20:30.25Z", true, 2023, 1, 5, 10, 20, 30, 250000},
                    fallback_case{"2023-01-05 10:20", true, 2023, 1, 5, 10, 20, 0, 0},
                    fallback_case{"5 Jan 2023", true, 2023, 1, 5, 0, 0, 0, 0},
                    fallback_case{"January 5, 2023 10:20:30", true, 2023, 1, 5, 10, 20, 30, 0},
                    fallback_case{"Jan 5 2023", true, 2023, 1, 5, 0, 0, 0, 0},
                    fallback_case{"05-Jan-2023", true, 2023, 1, 5, 0, 0, 0, 0},
                    fallback_case{"1/5/2023", true, 2023, 1, 5, 0, 0, 0, 0},
                    fallback_case{"2023-01-05 10:20:30+02:00", true, 2023, 1, 5, 10, 20, 30, 0},
                    fallback_case{"2023-02-29", false}, fallback_case{"hello world", false},
                    fallback_case{"2023-01-05 25:00", false}, fallback_case{"Foo 5 2023", false}));

}  // namespace

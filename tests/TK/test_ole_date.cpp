// Date texts as MySQL, PostgreSQL and users write them: which forms are read,
// how they print back, and the carries of fractions that round up.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "TK/ole_date.h"
#include "support/mysql_date_texts.h"

namespace {

struct date_case {
    const char* text;
    int type;
    const char* narrow;  // to_string(6)
    const char* wide;    // to_wstring(6) as narrow text; nullptr: same as narrow
};

std::ostream& operator<<(std::ostream& os, const date_case& c) { return os << '"' << c.text << '"'; }

class date_forms : public testing::TestWithParam<date_case> {};

TEST_P(date_forms, parse_and_print)
{
    const auto& c = GetParam();
    ole_date d(c.text);
    EXPECT_EQ(d.type, c.type);
    EXPECT_EQ(d.is_valid(), c.type != 0);
    EXPECT_EQ(d.to_string(6), c.narrow);
    std::wstring w = d.to_wstring(6);
    EXPECT_EQ(std::string(w.begin(), w.end()), c.wide ? c.wide : c.narrow);
    // The wide constructor reads the same.
    std::string t = c.text;
    ole_date dw(std::wstring(t.begin(), t.end()));
    EXPECT_TRUE(dw == d);
}

const date_case forms[] = {
    // run-together digits
    {"20230105102030", 1, "2023-01-05 10:20:30", nullptr},
    {"20230105", 2, "2023-01-05", nullptr},
    {"20230105000000", 1, "2023-01-05", nullptr},  // no refining in this form; midnight prints as the date
    {"20230105102061", 0, "", nullptr},  // second 61: no form reads it
    // the three separators
    {"2023-01-05 10:20:30.123456", 1, "2023-01-05 10:20:30.123456", nullptr},
    {"2023-01-05 10:20:30.5", 1, "2023-01-05 10:20:30.500000", nullptr},
    {"2023-01-05 10:20:30", 1, "2023-01-05 10:20:30", nullptr},
    {"2023-01-05", 2, "2023-01-05", nullptr},
    {"2023/01/05", 2, "2023-01-05", nullptr},
    {"2023.01.05 08:09:10", 1, "2023-01-05 08:09:10", nullptr},
    // day first: day and year swap
    {"05.01.2023", 2, "2023-01-05", nullptr},
    {"05/01/2023", 2, "2023-01-05", nullptr},
    {"05-01-2023 10:20:30", 1, "2023-01-05 10:20:30", nullptr},
    // midnight is refined to a date, but not when a fraction is there
    {"2023-01-05 00:00:00", 2, "2023-01-05", nullptr},
    {"2023-01-05 00:00:00.000400", 1, "2023-01-05 00:00:00.000400", nullptr},
    {"2023-01-05 00:00:00.5", 1, "2023-01-05 00:00:00.500000", nullptr},
    // times
    {"10:20", 3, "0000-00-00 10:20:00", "10:20:00"},
    {"10:20:30.25", 3, "0000-00-00 10:20:30.250000", "10:20:30.250000"},
    // hours beyond a day print as read (not as another time of day)
    {"25:00:00", 3, "0000-00-00 25:00:00", "25:00:00"},
    {"838:59:59", 3, "0000-00-00 838:59:59", "838:59:59"},
    {"-01:30:00", 3, "0000-00-00 -1:30:00", "-1:30:00"},
    {"2023-01-05 25:00:00", 1, "2023-01-05 25:00:00", nullptr},
    {"10:60", 3, "0000-00-00 10:60:00", "10:60:00"},
    // zero dates
    {"0000-00-00", 2, "0000-00-00", nullptr},
    {"0000-00-00 00:00:00", 3, "0000-00-00 00:00:00", "00:00:00"},
    // AM and PM
    {"10:00 PM", 3, "0000-00-00 22:00:00", "22:00:00"},
    {"12:30 AM", 3, "0000-00-00 00:30:00", "00:30:00"},
    {"12:30 PM", 3, "0000-00-00 12:30:00", "12:30:00"},
    {"2023-01-05 07:15:00 pm", 1, "2023-01-05 19:15:00", nullptr},
    {"2023-01-05 12:00:00 AM", 2, "2023-01-05", nullptr},
    {"1 PM", 0, "", nullptr},
    // blanks, the ISO 'T' and the last-resort reader
    {"  2023-01-05  ", 2, "2023-01-05", nullptr},
    {"2023-01-05T10:20:30.000001", 1, "2023-01-05 10:20:30.000001", nullptr},
    {"2023-01-05 10:20", 1, "2023-01-05 10:20:00", nullptr},
    {"5 Jan 2023", 2, "2023-01-05", nullptr},
    // refused
    {"2023-02-29", 0, "", nullptr},
    {"2023-13-01", 0, "", nullptr},
    {"2023-04-31", 0, "", nullptr},
    {"10:61", 0, "", nullptr},
    {"abcd", 0, "", nullptr},
    {"hello world", 0, "", nullptr},
    {"", 0, "", nullptr},
};

INSTANTIATE_TEST_SUITE_P(table, date_forms, testing::ValuesIn(forms));

TEST(ole_date, leap_day_only_in_leap_years)
{
    EXPECT_TRUE(ole_date("2024-02-29").is_valid());
    EXPECT_FALSE(ole_date("2023-02-29").is_valid());
    EXPECT_TRUE(ole_date("2000-02-29").is_valid());
    EXPECT_FALSE(ole_date("1900-02-29").is_valid());
}

TEST(ole_date, seconds_are_read_after_the_range_test_of_a_time)
{
    // The parse takes second 61, the validity test of the caller refuses it.
    ole_date d("10:20:61");
    EXPECT_EQ(d.type, ole_date::type_time);
    EXPECT_EQ(d.src.wSecond, 61);
    EXPECT_FALSE(d.is_valid());
}

TEST(ole_date, fraction_fields)
{
    ole_date d("2023-01-05 10:20:30.123456");
    EXPECT_EQ(d.src.wMilliseconds, 123);
    EXPECT_EQ(d.microseconds, 123456);
    EXPECT_EQ(d.to_string(0), "2023-01-05 10:20:30");
    EXPECT_EQ(d.to_string(3), "2023-01-05 10:20:30.123");
    ole_date e("2023-01-05 10:20:30.9995");
    EXPECT_EQ(e.microseconds, 999500);
    EXPECT_EQ(e.src.wSecond, 30);
    EXPECT_LE(e.src.wMilliseconds, 999);
}

struct carry_case {
    const char* text;
    const char* printed;
};

class date_carry : public testing::TestWithParam<carry_case> {};

TEST_P(date_carry, rounds_into_the_next_second)
{
    ole_date d(GetParam().text);
    ASSERT_TRUE(d.is_valid()) << GetParam().text;
    EXPECT_EQ(d.to_string(6), GetParam().printed);
    EXPECT_EQ(d.microseconds, 0);
    EXPECT_EQ(d.src.wMilliseconds, 0);
}

INSTANTIATE_TEST_SUITE_P(
    table, date_carry,
    testing::Values(carry_case{"2023-01-05 10:20:59.9999999", "2023-01-05 10:21:00"},
                    carry_case{"2023-01-05 10:59:59.9999995", "2023-01-05 11:00:00"},
                    // into the next day, month and year rather than back to 00:00 of the same day
                    carry_case{"2023-01-05 23:59:59.9999995", "2023-01-06"},
                    carry_case{"2023-01-31 23:59:59.9999999", "2023-02-01"},
                    carry_case{"2023-12-31 23:59:59.9999999", "2024-01-01"},
                    carry_case{"2024-02-28 23:59:59.9999999", "2024-02-29"},
                    // a time alone has no day to carry into
                    carry_case{"23:59:59.9999999", "0000-00-00 00:00:00"}));

TEST(ole_date, carry_into_next_day_keeps_the_date_and_time_kind)
{
    ole_date d("2023-01-05 23:59:59.9999995");
    EXPECT_EQ(d.src.wDay, 6);
    EXPECT_EQ(d.src.wHour, 0);
}

TEST(ole_date, record_is_the_binary_image)
{
    ole_date d = ole_date::make(ole_date::type_date_time, 2023, 1, 5, 10, 20, 30, 123456);
    const auto* p = reinterpret_cast<const unsigned char*>(&d);
    EXPECT_EQ(p[0], 1);    // type first
    EXPECT_EQ(p[8], 1);    // b_date_only_midnight
    EXPECT_EQ(p[16] | p[17] << 8, 2023);  // year at the start of the calendar fields
    EXPECT_EQ(d.to_string(), "2023-01-05 10:20:30.123456");
}

TEST(ole_date, time_zone_offset_only_with_the_options_object)
{
    ole_date plain("2023-01-05 10:20:30+02");
    EXPECT_EQ(plain.timezone, 0);
    EXPECT_EQ(plain.to_string(), "2023-01-05 10:20:30");
    timezone_options tz;
    ole_date east("2023-01-05 10:20:30+02");
    EXPECT_EQ(east.timezone, 2);
    EXPECT_EQ(east.to_string(), "2023-01-05 10:20:30 +02:00");
    ole_date west("10:20:30 -05");
    EXPECT_EQ(west.timezone, -5);
    EXPECT_EQ(west.to_string(), "0000-00-00 10:20:30 -05:00");
    ole_date dashes("2023-01-05 -3-4");
    EXPECT_EQ(dashes.timezone, 0);
}

// The fixed-place reader either declines a text or agrees with the general parser in every
// field, and its printed form is the general wide form.
TEST(ole_date, mysql_forms_read_as_the_general_parser_reads_them)
{
    int read_fixed = 0;
    for (const std::string& text : test_env::mysql_like_date_texts()) {
        ole_date fast;
        std::string form = "stale";
        if (!ole_date::read_mysql_form(text, fast, form)) continue;
        ++read_fixed;
        const ole_date general(text);
        ASSERT_TRUE(general.is_valid()) << text;
        EXPECT_TRUE(fast == general) << text;
        std::string wide;
        general.append_wide_form_to(wide, 6);
        EXPECT_EQ(form, wide) << text;
    }
    EXPECT_GT(read_fixed, 1000);  // the forms themselves are read at their fixed places
}

TEST(ole_date, mysql_forms_read_at_fixed_places)
{
    struct fixed_case {
        const char* text;
        bool read;
        const char* form;
    };
    const fixed_case cases[] = {
        {"2024-02-29", true, "2024-02-29"},
        {"0001-01-01", true, "0001-01-01"},
        {"2024-01-05 00:00:00", true, "2024-01-05"},
        {"2024-01-05 00:00:00.000", true, "2024-01-05"},
        {"2024-01-05 00:00:00.5", true, "2024-01-05 00:00:00.500000"},
        {"9999-12-31 23:59:59.999999", true, "9999-12-31 23:59:59.999999"},
        {"2024-01-05 10:20:30.000", true, "2024-01-05 10:20:30"},
        {"00:00:00", true, "00:00:00"},
        {"23:59:59.05", true, "23:59:59.050000"},
        // left to the general parser (which refuses or reads them its own way)
        {"0000-00-00", false, ""},
        {"2023-02-29", false, ""},
        {"24:00:00", false, ""},
        {"838:59:59", false, ""},
        {"10:20:30.1234567", false, ""},
        {"2024-01-05T10:20:30", false, ""},
    };
    for (const auto& c : cases) {
        ole_date d;
        std::string form;
        EXPECT_EQ(ole_date::read_mysql_form(c.text, d, form), c.read) << c.text;
        if (c.read) {
            EXPECT_EQ(form, c.form) << c.text;
        }
    }
    // Time-zone offsets are read by the general parser only.
    timezone_options tz;
    ole_date d;
    std::string form;
    EXPECT_FALSE(ole_date::read_mysql_form("2024-01-05", d, form));
}

}  // namespace

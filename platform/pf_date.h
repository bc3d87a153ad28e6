#pragma once
// Calendar helpers of the date values: the OLE date number (days since
// 1899-12-30 as a double, the time as the fraction of a day whose sign follows
// the day part) and a last-resort reader of date texts that the fixed forms of
// ole_date do not cover.

#include <string_view>

#include "platform/pf_value.h"

bool pf_is_leap_year(int year) noexcept;
// Days of the month (1-12) in that year; 0 for another month.
int pf_days_in_month(int year, int month) noexcept;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's method).
constexpr long long pf_days_from_civil(long long y, unsigned m, unsigned d) noexcept
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

// SYSTEMTIME to date number; false for a field out of range (month, day,
// hour above 23, minute or second above 59) or a year outside 100-9999.
bool pf_system_time_to_variant_time(const SYSTEMTIME& st, double& date) noexcept;
// The same for fields already known to be in range (month, day within its month, hour, minute,
// second, milliseconds): only the year is checked (false outside 100-9999). Inline: the dates of
// every row of a table come through here.
inline bool pf_fields_to_variant_time(const SYSTEMTIME& st, double& date) noexcept
{
    if (st.wYear < 100 || st.wYear > 9999) return false;
    const long long days = pf_days_from_civil(st.wYear, st.wMonth, st.wDay) + 25569;  // day 0: 1899-12-30
    if (st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0 && st.wMilliseconds == 0) {
        date = double(days);
        return true;
    }
    const double frac = (st.wHour * 3600000.0 + st.wMinute * 60000.0 + st.wSecond * 1000.0 + st.wMilliseconds) /
                        86400000.0;
    date = days >= 0 ? double(days) + frac : double(days) - frac;
    return true;
}

// Date number to SYSTEMTIME (rounded to the millisecond; the day of week is
// set); false outside the years 100-9999 or for a NaN.
bool pf_variant_time_to_system_time(double date, SYSTEMTIME& st) noexcept;

// Adds `days` to the calendar date in st (year, month, day), carrying over
// months and years.
void pf_add_days(SYSTEMTIME& st, int days) noexcept;

// Last-resort reading of date texts in English (United States) conventions:
// a numeric date (year first, or month first with '/' or '-', or day first
// with '.'), or one with a month name ("5 Jan 2023", "January 5, 2023",
// "Jan 5 2023"), optionally followed (after blanks or 'T') by a time
// "h:mm[:ss[.fraction]]" and a 'Z' or "+hh[:mm]" zone mark, which is not
// applied. True with the fields set when the whole text is read and valid;
// the fraction goes to milliseconds and, when given, to *microseconds.
bool pf_date_from_str(std::string_view text, SYSTEMTIME& st, int* microseconds = nullptr) noexcept;

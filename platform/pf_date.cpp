#include "platform/pf_date.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

long long days_from_civil(long long y, unsigned m, unsigned d) noexcept
{
    return pf_days_from_civil(y, m, d);
}

void civil_from_days(long long z, long long& y, unsigned& m, unsigned& d) noexcept
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = (long long)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// 1899-12-30, day 0 of the date numbers.
constexpr long long ole_epoch = -25569;

}  // namespace

bool pf_is_leap_year(int year) noexcept
{
    if (year <= 0) year += 1;
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int pf_days_in_month(int year, int month) noexcept
{
    static const int len[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && pf_is_leap_year(year) ? 29 : len[month - 1];
}

bool pf_system_time_to_variant_time(const SYSTEMTIME& st, double& date) noexcept
{
    if (st.wYear < 100 || st.wYear > 9999 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > pf_days_in_month(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59 || st.wMilliseconds > 999)
        return false;
    return pf_fields_to_variant_time(st, date);
}


bool pf_variant_time_to_system_time(double date, SYSTEMTIME& st) noexcept
{
    if (!std::isfinite(date) || date < -657435.0 || date >= 2958466.0) return false;
    double whole = std::trunc(date);
    double frac = std::fabs(date - whole);
    long long ms = std::llround(frac * 86400000.0);
    long long days = (long long)whole + ole_epoch;
    if (ms >= 86400000) {
        ms -= 86400000;
        days += 1;
    }
    long long y;
    unsigned m, d;
    civil_from_days(days, y, m, d);
    if (y < 100 || y > 9999) return false;
    st.wYear = std::uint16_t(y);
    st.wMonth = std::uint16_t(m);
    st.wDay = std::uint16_t(d);
    st.wDayOfWeek = std::uint16_t(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    st.wHour = std::uint16_t(ms / 3600000);
    st.wMinute = std::uint16_t(ms / 60000 % 60);
    st.wSecond = std::uint16_t(ms / 1000 % 60);
    st.wMilliseconds = std::uint16_t(ms % 1000);
    return true;
}

void pf_add_days(SYSTEMTIME& st, int days) noexcept
{
    long long z = days_from_civil(std::int16_t(st.wYear), st.wMonth, st.wDay) + days;
    long long y;
    unsigned m, d;
    civil_from_days(z, y, m, d);
    st.wYear = std::uint16_t(y);
    st.wMonth = std::uint16_t(m);
    st.wDay = std::uint16_t(d);
}

namespace {

struct cursor {
    std::string_view s;
    std::size_t i = 0;
    bool end() const { return i >= s.size(); }
    char peek() const { return end() ? '\0' : s[i]; }
    void blanks()
    {
        while (!end() && (s[i] == ' ' || s[i] == '\t')) ++i;
    }
    // Unsigned number; digit count in *ndig.
    bool number(long& v, int* ndig = nullptr)
    {
        std::size_t b = i;
        v = 0;
        while (!end() && s[i] >= '0' && s[i] <= '9' && i - b < 9) v = v * 10 + (s[i++] - '0');
        if (ndig) *ndig = int(i - b);
        return i > b;
    }
    bool word(std::string_view& w)
    {
        std::size_t b = i;
        while (!end() && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z'))) ++i;
        w = s.substr(b, i - b);
        return i > b;
    }
};

int month_of(std::string_view w) noexcept
{
    static const char* names[12] = {"january", "february", "march", "april", "may", "june",
                                    "july", "august", "september", "october", "november", "december"};
    if (w.size() < 3) return 0;
    char low[16];
    if (w.size() >= sizeof low) return 0;
    for (std::size_t k = 0; k < w.size(); ++k) low[k] = char(w[k] >= 'A' && w[k] <= 'Z' ? w[k] + 32 : w[k]);
    for (int m = 0; m < 12; ++m) {
        std::size_t n = std::strlen(names[m]);
        if (w.size() > n) continue;
        if (std::memcmp(low, names[m], w.size()) == 0 && (w.size() == n || w.size() == 3 || (m == 8 && w.size() == 4)))
            return m + 1;
    }
    return 0;
}

bool read_date(cursor& c, long& y, long& m, long& d)
{
    c.blanks();
    std::string_view w;
    long a, b, e;
    int na, nb, ne;
    if (c.word(w)) {  // "Jan 5 2023", "January 5, 2023"
        if (!(m = month_of(w))) return false;
        c.blanks();
        if (c.peek() == '-') ++c.i;
        if (!c.number(d)) return false;
        c.blanks();
        if (c.peek() == ',' || c.peek() == '-') ++c.i;
        c.blanks();
        if (!c.number(y, &ne) || ne < 3) return false;
        return true;
    }
    if (!c.number(a, &na)) return false;
    char sep = c.peek();
    if (sep == ' ' || (sep == '-' && c.i + 1 < c.s.size() && !(c.s[c.i + 1] >= '0' && c.s[c.i + 1] <= '9'))) {
        // "5 Jan 2023", "5-Jan-2023"
        if (sep == '-') ++c.i;
        c.blanks();
        if (!c.word(w) || !(m = month_of(w))) return false;
        c.blanks();
        if (c.peek() == '-' || c.peek() == ',') ++c.i;
        c.blanks();
        if (!c.number(y, &ne) || ne < 3) return false;
        d = a;
        return true;
    }
    if (sep != '-' && sep != '/' && sep != '.') return false;
    ++c.i;
    if (!c.number(b, &nb) || c.peek() != sep) return false;
    ++c.i;
    if (!c.number(e, &ne)) return false;
    if (na >= 3) {  // year first
        y = a, m = b, d = e;
    } else if (sep == '.') {  // day first
        d = a, m = b, y = e;
    } else {  // month first
        m = a, d = b, y = e;
    }
    if (ne <= 2 && na <= 2) y += y < 30 ? 2000 : 1900;
    return true;
}

}  // namespace

bool pf_date_from_str(std::string_view text, SYSTEMTIME& st, int* microseconds) noexcept
{
    cursor c{text};
    long y = 0, m = 0, d = 0;
    if (!read_date(c, y, m, d)) return false;
    long hh = 0, mi = 0, ss = 0, us = 0;
    std::size_t before = c.i;
    c.blanks();
    if (c.peek() == 'T' || c.peek() == 't') ++c.i;
    c.blanks();
    if (!c.end() && c.peek() >= '0' && c.peek() <= '9') {
        if (!c.number(hh) || c.peek() != ':') return false;
        ++c.i;
        if (!c.number(mi)) return false;
        if (c.peek() == ':') {
            ++c.i;
            if (!c.number(ss)) return false;
            if (c.peek() == '.' || c.peek() == ',') {
                ++c.i;
                int nd = 0;
                long scale = 100000;
                bool any = false;
                while (!c.end() && c.peek() >= '0' && c.peek() <= '9') {
                    int dig = c.peek() - '0';
                    if (nd < 6) us += dig * scale, scale /= 10;
                    else if (nd == 6 && dig >= 5) us += 1;
                    ++nd;
                    ++c.i;
                    any = true;
                }
                if (!any) return false;
            }
        }
        c.blanks();
        if (c.peek() == 'Z' || c.peek() == 'z') {
            ++c.i;
        } else if (c.peek() == '+' || c.peek() == '-') {
            ++c.i;
            long off;
            if (!c.number(off)) return false;
            if (c.peek() == ':') {
                ++c.i;
                if (!c.number(off)) return false;
            }
        }
    } else {
        c.i = before;
    }
    c.blanks();
    if (!c.end()) return false;
    if (us >= 1000000) {  // rounding at the seventh digit: leave it to the caller's carry
        us = 999999;
    }
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > pf_days_in_month(int(y), int(m)) || hh > 23 ||
        mi > 59 || ss > 59)
        return false;
    st = SYSTEMTIME{};
    st.wYear = std::uint16_t(y);
    st.wMonth = std::uint16_t(m);
    st.wDay = std::uint16_t(d);
    st.wHour = std::uint16_t(hh);
    st.wMinute = std::uint16_t(mi);
    st.wSecond = std::uint16_t(ss);
    st.wMilliseconds = std::uint16_t(us / 1000);
    long long z = days_from_civil(y, unsigned(m), unsigned(d));
    st.wDayOfWeek = std::uint16_t(((z % 7) + 7 + 4) % 7);
    if (microseconds) *microseconds = int(us);
    return true;
}

#include "TK/ole_date.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_date.h"

namespace {

std::string_view trim_blanks(std::string_view s) noexcept
{
    std::size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

bool is_ws(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// A small reader with the semantics of sscanf for the formats the date forms
// use ("%hd", "%4d", "%02d", "%s", literal characters and blanks), without
// the locale. A blank in the format also takes a single 'T' between two
// digits, so ISO texts ("2023-01-05T10:20:30") read like their blank form.
// Returns the number of items assigned.
int scan(std::string_view in, const char* fmt, int* nums, std::string_view* text)
{
    std::size_t i = 0;
    int assigned = 0;
    int num_index = 0;
    for (const char* f = fmt; *f; ++f) {
        if (*f == ' ') {
            std::size_t before = i;
            while (i < in.size() && is_ws(in[i])) ++i;
            if (i == before && i < in.size() && (in[i] == 'T' || in[i] == 't') && i > 0 && is_digit(in[i - 1]) &&
                i + 1 < in.size() && is_digit(in[i + 1]))
                ++i;
            continue;
        }
        if (*f != '%') {
            if (i >= in.size() || in[i] != *f) return assigned;
            ++i;
            continue;
        }
        ++f;
        int width = 0;
        while (is_digit(*f)) width = width * 10 + (*f++ - '0');
        bool is_short = false;
        if (*f == 'h') {
            is_short = true;
            ++f;
        }
        while (i < in.size() && is_ws(in[i])) ++i;
        if (*f == 'd') {
            std::size_t limit = width ? i + std::size_t(width) : in.size();
            if (limit > in.size()) limit = in.size();
            std::size_t j = i;
            bool neg = false;
            if (j < limit && (in[j] == '+' || in[j] == '-')) {
                neg = in[j] == '-';
                ++j;
            }
            std::size_t digits_start = j;
            long v = 0;
            while (j < limit && is_digit(in[j])) {
                if (v < 100000000) v = v * 10 + (in[j] - '0');
                ++j;
            }
            if (j == digits_start) return assigned;
            if (neg) v = -v;
            if (is_short && (v < -32768 || v > 32767)) return assigned;
            nums[num_index++] = int(v);
            ++assigned;
            i = j;
        } else if (*f == 's') {
            std::size_t j = i;
            while (j < in.size() && !is_ws(in[j])) ++j;
            if (j == i) return assigned;
            *text = in.substr(i, j - i);
            ++assigned;
            i = j;
        } else {
            return assigned;
        }
    }
    return assigned;
}

void swap_day_year(int& year, int& day) noexcept
{
    if (day > 31 && year < 32) {
        tk_write_log(2, "Swap day and year: day=%d, year=%d", day, year);
        std::swap(day, year);
    }
}

void set_ymd(SYSTEMTIME& st, int y, int m, int d) noexcept
{
    st.wYear = std::uint16_t(y);
    st.wMonth = std::uint16_t(m);
    st.wDay = std::uint16_t(d);
}

void set_hms(SYSTEMTIME& st, int h, int mi, int s) noexcept
{
    st.wHour = std::uint16_t(h);
    st.wMinute = std::uint16_t(mi);
    st.wSecond = std::uint16_t(s);
}

void log_invalid(std::string_view text)
{
    if (tk_log_wants(2)) tk_write_log(2, "Invalid date/time format: '%s'", std::string(text).c_str());
}

char* put2(char* p, unsigned v) noexcept
{
    p[0] = char('0' + v / 10 % 10);
    p[1] = char('0' + v % 10);
    return p + 2;
}

// "%04d" of a non-negative value (more digits when needed).
char* put4(char* p, unsigned v) noexcept
{
    if (v > 9999) return std::to_chars(p, p + 8, v).ptr;
    p[0] = char('0' + v / 1000);
    p[1] = char('0' + v / 100 % 10);
    p[2] = char('0' + v / 10 % 10);
    p[3] = char('0' + v % 10);
    return p + 4;
}

}  // namespace

ole_date::ole_date(const char* text) : ole_date(std::string_view(text ? text : "")) {}

ole_date::ole_date(std::string_view text)
{
    parse_text(text);
}

ole_date::ole_date(const wchar_t* text) : ole_date(std::wstring_view(text ? text : L"")) {}

ole_date::ole_date(std::wstring_view text)
{
    // Date texts are ASCII; anything else cannot be a date, but convert it
    // all the same so that the trace shows it.
    char small[64];
    bool ascii = text.size() < sizeof small;
    if (ascii) {
        for (std::size_t k = 0; k < text.size(); ++k) {
            if (text[k] < 0 || text[k] > 0x7f) {
                ascii = false;
                break;
            }
            small[k] = char(text[k]);
        }
    }
    if (ascii) {
        parse_text(std::string_view(small, text.size()));
        return;
    }
    std::string utf8;
    try {
        utf8 = tk_unicode_to_utf8(text);
    } catch (const std::exception&) {
        log_invalid("(not convertible)");
        return;
    }
    parse_text(utf8);
}

ole_date ole_date::make(int type_, int year, int month, int day, int hour, int minute, int second,
                        int micro) noexcept
{
    ole_date d;
    d.type = type_;
    set_ymd(d.src, year, month, day);
    set_hms(d.src, hour, minute, second);
    d.microseconds = micro;
    d.src.wMilliseconds = std::uint16_t(micro / 1000);
    return d;
}

namespace {

// Two digits at p; false when either is not a digit.
bool two_digits(const char* p, unsigned& v) noexcept
{
    if (!is_digit(p[0]) || !is_digit(p[1])) return false;
    v = unsigned(p[0] - '0') * 10 + unsigned(p[1] - '0');
    return true;
}

// "hh:mm:ss" and an optional fraction of 1 to 6 digits, which must end the text. Sets the
// fields as the general parser does (process_milliseconds for at most six digits: exact
// microseconds, milliseconds rounded half up from the fourth digit and kept below 1000).
bool read_fixed_time(std::string_view t, SYSTEMTIME& st, std::int32_t& micro) noexcept
{
    if (t.size() < 8 || t[2] != ':' || t[5] != ':') return false;
    unsigned h, mi, s;
    if (!two_digits(t.data(), h) || !two_digits(t.data() + 3, mi) || !two_digits(t.data() + 6, s)) return false;
    if (h > 23 || mi > 59 || s > 59) return false;
    unsigned us = 0, ms = 0;
    if (t.size() > 8) {
        const std::size_t digits = t.size() - 9;
        if (t[8] != '.' || digits < 1 || digits > 6) return false;
        char frac[6] = {'0', '0', '0', '0', '0', '0'};
        for (std::size_t k = 0; k < digits; ++k) {
            if (!is_digit(t[9 + k])) return false;
            frac[k] = t[9 + k];
        }
        for (int k = 0; k < 6; ++k) us = us * 10 + unsigned(frac[k] - '0');
        ms = us / 1000 + (frac[3] >= '5' ? 1 : 0);
        if (ms > 999) ms = 999;
    }
    st.wHour = std::uint16_t(h);
    st.wMinute = std::uint16_t(mi);
    st.wSecond = std::uint16_t(s);
    st.wMilliseconds = std::uint16_t(ms);
    micro = std::int32_t(us);
    return true;
}

// "hh:mm:ss" of the text and, when there are microseconds, ".dddddd" (always six digits).
void append_fixed_time(std::string& out, std::string_view t, std::int32_t micro)
{
    out.append(t.data(), 8);
    if (micro == 0) return;
    char frac[7] = {'.', '0', '0', '0', '0', '0', '0'};
    for (std::size_t k = 9; k < t.size(); ++k) frac[k - 8] = t[k];
    out.append(frac, 7);
}

}  // namespace

bool ole_date::read_mysql_form(std::string_view text, ole_date& out, std::string& form)
{
    if (timezone_options::has_instance()) return false;
    ole_date d;
    const std::size_t n = text.size();
    if (n >= 8 && text[2] == ':') {
        if (!read_fixed_time(text, d.src, d.microseconds)) return false;
        d.type = type_time;
        form.clear();
        append_fixed_time(form, text, d.microseconds);
        out = d;
        return true;
    }
    if (n < 10 || text[4] != '-' || text[7] != '-') return false;
    unsigned y1, y2, m, day;
    if (!two_digits(text.data(), y1) || !two_digits(text.data() + 2, y2) || !two_digits(text.data() + 5, m) ||
        !two_digits(text.data() + 8, day))
        return false;
    const unsigned y = y1 * 100 + y2;
    if (y == 0 || m < 1 || m > 12 || day < 1 || int(day) > pf_days_in_month(int(y), int(m))) return false;
    set_ymd(d.src, int(y), int(m), int(day));
    if (n == 10) {
        d.type = type_date;
        form.assign(text);
        out = d;
        return true;
    }
    if (text[10] != ' ' || !read_fixed_time(text.substr(11), d.src, d.microseconds)) return false;
    d.type = type_date_time;
    d.refine_type();  // midnight with no fraction is the date alone
    if (d.type == type_date) {
        form.assign(text.data(), 10);
    } else {
        form.assign(text.data(), 11);
        append_fixed_time(form, text.substr(11), d.microseconds);
    }
    out = d;
    return true;
}

void ole_date::parse_text(std::string_view text)
{
    src = SYSTEMTIME{};
    std::string_view buf = trim_blanks(text);
    if (timezone_options::has_instance()) process_timezone(buf);

    static const char* const markers[4] = {"AM", "PM", "am", "pm"};
    int marker = -1;
    for (int k = 0; k < 4; ++k) {
        std::size_t at = buf.find(markers[k]);
        if (at != std::string_view::npos) {
            marker = k;
            buf = trim_blanks(buf.substr(0, at));
            break;
        }
    }
    if (buf.size() < 5) {
        log_invalid(buf);
        type = type_invalid;
        return;
    }
    import_from_string(buf);
    if (type != type_invalid && marker >= 0) {
        bool pm = marker == 1 || marker == 3;
        if (pm && src.wHour < 12) src.wHour = std::uint16_t(src.wHour + 12);
        // 12 AM is the first hour of the day.
        if (!pm && src.wHour == 12) {
            src.wHour = 0;
            if (type == type_date_time) refine_type();
        }
    }
}

void ole_date::import_from_string(std::string_view text)
{
    int n[6] = {0, 0, 0, 0, 0, 0};
    std::string_view seconds;

    if (text.size() == 14) {
        if (scan(text, "%4d%02d%02d%02d%02d%02d", n, &seconds) == 6) {
            swap_day_year(n[0], n[2]);
            set_ymd(src, n[0], n[1], n[2]);
            set_hms(src, n[3], n[4], n[5]);
            type = type_date_time;
            if (is_valid()) return;
        }
        src = SYSTEMTIME{};
    } else if (text.size() == 8) {
        if (scan(text, "%4d%02d%02d", n, &seconds) == 3) {
            set_ymd(src, n[0], n[1], n[2]);
            type = type_date;
            if (is_valid()) return;
        }
        src = SYSTEMTIME{};
    }

    int items = scan(text, "%hd:%hd:%s", n, &seconds);
    if (items == 3 || items == 2) {
        set_hms(src, n[0], n[1], 0);
        type = type_time;
        if (is_valid()) {
            if (items == 3) process_milliseconds(seconds);
            return;
        }
    }
    src = SYSTEMTIME{};

    static const char* const forms[3] = {"%hd-%hd-%hd %hd:%hd:%s", "%hd/%hd/%hd %hd:%hd:%s",
                                         "%hd.%hd.%hd %hd:%hd:%s"};
    for (const char* form : forms) {
        int v[6] = {0, 0, 0, 0, 0, 0};
        items = scan(text, form, v, &seconds);
        if (items != 3 && items != 6) continue;
        swap_day_year(v[0], v[2]);
        src = SYSTEMTIME{};
        set_ymd(src, v[0], v[1], v[2]);
        if (items == 3) {
            type = type_date;
            if (is_valid()) return;
        } else {
            set_hms(src, v[3], v[4], 0);
            type = type_date_time;
            if (is_valid()) {
                process_milliseconds(seconds);
                refine_type();
                return;
            }
        }
        src = SYSTEMTIME{};
    }

    SYSTEMTIME st{};
    int micro = 0;
    if (pf_date_from_str(text, st, &micro)) {
        tk_write_log(1, "Got datetime using the platform parser");
        src = st;
        microseconds = micro;
        type = type_date_time;
        refine_type();
        return;
    }
    src = SYSTEMTIME{};
    microseconds = 0;
    type = type_invalid;
    log_invalid(text);
}

bool ole_date::is_valid() const noexcept
{
    if (type == type_invalid) return false;
    const int y = src.wYear, m = src.wMonth, d = src.wDay;
    if (y == 0 && m == 0 && d == 0) return src.wMinute <= 60 && src.wSecond <= 60;
    if (m < 1 || m > 12) return false;
    if (d > 31) return false;
    if (d > pf_days_in_month(std::int16_t(y), m)) return false;
    if (y == 0 || d == 0) return false;
    return src.wMinute <= 60 && src.wSecond <= 60;
}

void ole_date::process_milliseconds(std::string_view text)
{
    // Read exactly (not through a double, not with the locale's decimal
    // point): whole seconds, then the fraction rounded half away from zero
    // to microseconds and to milliseconds.
    std::size_t i = 0;
    while (i < text.size() && is_ws(text[i])) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    long sec = 0;
    while (i < text.size() && is_digit(text[i])) {
        if (sec < 100000) sec = sec * 10 + (text[i] - '0');
        ++i;
    }
    long micro = 0, milli = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        int nd = 0;
        char frac[7] = {'0', '0', '0', '0', '0', '0', '0'};
        while (i < text.size() && is_digit(text[i])) {
            if (nd < 7) frac[nd] = text[i];
            ++nd;
            ++i;
        }
        for (int k = 0; k < 6; ++k) micro = micro * 10 + (frac[k] - '0');
        if (frac[6] >= '5') ++micro;
        for (int k = 0; k < 3; ++k) milli = milli * 10 + (frac[k] - '0');
        if (frac[3] >= '5') ++milli;
    }
    if (sec > 65535) sec = 65535;
    src.wSecond = std::uint16_t(sec);
    if (micro >= 1000000 || (micro == 0 && milli >= 1000)) {
        micro = 0;
        milli = 0;
        unsigned s = src.wSecond + 1u;
        if (s >= 60) {
            s -= 60;
            unsigned mi = src.wMinute + 1u;
            if (mi >= 60) {
                mi -= 60;
                unsigned h = src.wHour + 1u;
                const bool has_date = src.wYear || src.wMonth || src.wDay;
                if (h >= 24 && has_date) {
                    // The fraction carried into the next day: the date moves
                    // on rather than the time wrapping to 00:00 of the same
                    // day.
                    pf_add_days(src, int(h / 24));
                    h %= 24;
                } else if (h == 24) {
                    // A time of day alone wraps to midnight; longer
                    // durations (hours read beyond 23) keep counting.
                    h = 0;
                }
                src.wHour = std::uint16_t(h);
            }
            src.wMinute = std::uint16_t(mi);
        }
        src.wSecond = std::uint16_t(s);
    }
    // A fraction such as .9995 rounds to 1000 ms without carrying (its
    // microseconds are 999,500): keep the milliseconds within the second.
    if (milli > 999) milli = 999;
    src.wMilliseconds = std::uint16_t(milli);
    microseconds = std::int32_t(micro);
}

void ole_date::process_timezone(std::string_view text)
{
    std::string_view offset;
    std::size_t plus = text.find('+');
    if (plus != std::string_view::npos) {
        offset = text.substr(plus);
    } else {
        std::size_t at = text.find(" -");
        if (at == std::string_view::npos) return;
        if (text.find('-', at + 2) != std::string_view::npos) return;
        offset = text.substr(at + 1);
    }
    // atoi: sign and digits; the minutes of "+05:30" are dropped.
    std::size_t i = 0;
    bool neg = false;
    if (i < offset.size() && (offset[i] == '+' || offset[i] == '-')) neg = offset[i++] == '-';
    int v = 0;
    while (i < offset.size() && is_digit(offset[i]) && v < 10000) v = v * 10 + (offset[i++] - '0');
    timezone = neg ? -v : v;
}

void ole_date::refine_type() noexcept
{
    const bool no_date = src.wYear == 0 && src.wMonth == 0 && src.wDay == 0;
    if (no_date) {
        type = type_time;
        return;
    }
    // Midnight is a date alone only when nothing at all is after it: a value
    // with microseconds (below one millisecond) keeps its time.
    if (src.wHour == 0 && src.wMinute == 0 && src.wSecond == 0 && src.wMilliseconds == 0 &&
        microseconds == 0 && src.wYear && src.wMonth && src.wDay)
        type = type_date;
}

void ole_date::append_form(std::string& out, int precision, bool wide_form) const
{
    char buf[64];
    char* p = buf;
    // The hour prints as read: an hour the databases cannot hold (MySQL TIME
    // runs to 838 hours and below zero) must reach them as it is and be
    // refused there, not arrive as another time of day.
    const int hour = std::int16_t(src.wHour);
    auto put_date = [&] {
        p = put4(p, src.wYear);
        *p++ = '-';
        p = put2(p, src.wMonth);
        *p++ = '-';
        p = put2(p, src.wDay);
    };
    auto put_time = [&] {
        if (hour >= 0 && hour < 100) p = put2(p, unsigned(hour));
        else p = std::to_chars(p, buf + sizeof buf, hour).ptr;
        *p++ = ':';
        p = put2(p, src.wMinute);
        *p++ = ':';
        p = put2(p, src.wSecond);
        if (precision != 0) {
            if (precision == 6 && microseconds != 0) {
                *p++ = '.';
                unsigned us = unsigned(microseconds) % 1000000u;
                for (int k = 5; k >= 0; --k) {
                    p[k] = char('0' + us % 10);
                    us /= 10;
                }
                p += 6;
            } else if (microseconds != 0 || src.wMilliseconds != 0) {
                *p++ = '.';
                unsigned ms = src.wMilliseconds % 1000u;
                p[0] = char('0' + ms / 100);
                p[1] = char('0' + ms / 10 % 10);
                p[2] = char('0' + ms % 10);
                p += 3;
            }
        }
    };
    switch (type) {
    case type_date_time:
        put_date();
        if (!(src.wHour == 0 && src.wMinute == 0 && src.wSecond == 0 && src.wMilliseconds == 0 &&
              microseconds == 0 && b_date_only_midnight)) {
            *p++ = ' ';
            put_time();
        }
        break;
    case type_date:
        put_date();
        break;
    case type_time:
        if (!wide_form) {
            std::memcpy(p, "0000-00-00 ", 11);
            p += 11;
        }
        put_time();
        break;
    default:
        return;
    }
    out.append(buf, p);
    if (timezone != 0 && timezone_options::has_instance()) {
        char tz[16];
        char* q = tz;
        *q++ = ' ';
        if (timezone > 0) {
            *q++ = '+';
            if (timezone < 10) *q++ = '0';
            q = std::to_chars(q, tz + sizeof tz, timezone).ptr;
        } else {
            // " %03d:00": the sign takes one of the three places.
            *q++ = '-';
            if (timezone > -10) *q++ = '0';
            q = std::to_chars(q, tz + sizeof tz, -timezone).ptr;
        }
        std::memcpy(q, ":00", 3);
        q += 3;
        out.append(tz, q);
    }
}

void ole_date::append_to(std::string& out, int precision) const { append_form(out, precision, false); }

void ole_date::append_wide_form_to(std::string& out, int precision) const { append_form(out, precision, true); }

std::string ole_date::to_string(int precision) const
{
    std::string s;
    append_form(s, precision, false);
    return s;
}

std::wstring ole_date::to_wstring(int precision) const
{
    std::string s;
    append_form(s, precision, true);
    return std::wstring(s.begin(), s.end());
}

bool operator==(const ole_date& a, const ole_date& b) noexcept
{
    return a.type == b.type && a.timezone == b.timezone && a.b_date_only_midnight == b.b_date_only_midnight &&
           a.microseconds == b.microseconds && std::memcmp(&a.src, &b.src, sizeof a.src) == 0;
}

#include "TK/tk_format.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string_view>

#include "platform/pf_text.h"

namespace {

struct spec {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = -1;
    int precision = -1;
    enum { none, hh, h, l, ll, j, z, t, big_l } length = none;
    bool narrow_text = false;  // %hs, %hc
    bool wide_text = false;    // %ls, %ws, %lc, %wc
};

// Appends ASCII (numbers) to either output kind.
void append_ascii(std::string& out, std::string_view s) { out.append(s); }
void append_ascii(std::wstring& out, std::string_view s)
{
    for (char c : s) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
}

void append_wide(std::string& out, std::wstring_view s) { out += pf_wide_to_utf8(s); }
void append_wide(std::wstring& out, std::wstring_view s) { out.append(s); }
void append_narrow(std::string& out, std::string_view s) { out.append(s); }
void append_narrow(std::wstring& out, std::string_view s) { out += pf_utf8_to_wide(s); }

template <class Out>
void pad_to(Out& out, std::size_t start, const spec& sp)
{
    std::size_t written = out.size() - start;
    if (sp.width < 0 || written >= static_cast<std::size_t>(sp.width)) return;
    std::size_t fill = static_cast<std::size_t>(sp.width) - written;
    if (sp.left)
        out.append(fill, typename Out::value_type(' '));
    else
        out.insert(start, fill, typename Out::value_type(' '));
}

// Integers through snprintf of the C locale's digits (locale-free: integer
// conversions never use the grouping or decimal point).
std::string format_integer(const spec& sp, char conv, long long sval, unsigned long long uval)
{
    char fmt[32];
    std::size_t n = 0;
    fmt[n++] = '%';
    if (sp.left) fmt[n++] = '-';
    if (sp.plus) fmt[n++] = '+';
    if (sp.space) fmt[n++] = ' ';
    if (sp.alt) fmt[n++] = '#';
    if (sp.zero) fmt[n++] = '0';
    fmt[n] = 0;
    std::string f(fmt);
    if (sp.width >= 0) f += std::to_string(sp.width);
    if (sp.precision >= 0) f += "." + std::to_string(sp.precision);
    f += "ll";
    f += conv;
    char buffer[128];
    int len;
    if (conv == 'd' || conv == 'i')
        len = std::snprintf(buffer, sizeof buffer, f.c_str(), sval);
    else
        len = std::snprintf(buffer, sizeof buffer, f.c_str(), uval);
    if (len < 0) return {};
    if (static_cast<std::size_t>(len) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(len));
    std::string big(static_cast<std::size_t>(len) + 1, '\0');
    if (conv == 'd' || conv == 'i')
        std::snprintf(big.data(), big.size(), f.c_str(), sval);
    else
        std::snprintf(big.data(), big.size(), f.c_str(), uval);
    big.resize(static_cast<std::size_t>(len));
    return big;
}

// Floating point through std::to_chars: '.' is the decimal point whatever the
// locale.
std::string format_floating(const spec& sp, char conv, double value)
{
    char lower = static_cast<char>(conv | 0x20);
    bool upper = conv != lower;
    int precision = sp.precision < 0 ? 6 : sp.precision;
    std::chars_format fmt = lower == 'f'   ? std::chars_format::fixed
                            : lower == 'e' ? std::chars_format::scientific
                            : lower == 'g' ? std::chars_format::general
                                           : std::chars_format::hex;
    if (lower == 'g' && precision == 0) precision = 1;
    std::string body(512, '\0');
    std::to_chars_result r;
    for (;;) {
        if (lower == 'a' && sp.precision < 0)
            r = std::to_chars(body.data(), body.data() + body.size(), value, fmt);
        else
            r = std::to_chars(body.data(), body.data() + body.size(), value, fmt, precision);
        if (r.ec == std::errc()) break;
        body.resize(body.size() * 4);
    }
    body.resize(static_cast<std::size_t>(r.ptr - body.data()));
    bool negative = !body.empty() && body[0] == '-';
    if (negative) body.erase(0, 1);
    bool finite = !body.empty() && body[0] >= '0' && body[0] <= '9';
    if (lower == 'a' && finite) body.insert(0, "0x");
    if (sp.alt && finite && lower != 'a' && body.find('.') == std::string::npos) {
        std::size_t e = body.find_first_of("eE");
        body.insert(e == std::string::npos ? body.size() : e, ".");
    }
    if (upper)
        for (auto& c : body) c = static_cast<char>((c >= 'a' && c <= 'z') ? c - 32 : c);
    std::string sign = negative ? "-" : sp.plus ? "+" : sp.space ? " " : "";
    std::string out;
    std::size_t len = sign.size() + body.size();
    std::size_t width = sp.width < 0 ? 0 : static_cast<std::size_t>(sp.width);
    if (len >= width) return sign + body;
    std::size_t fill = width - len;
    if (sp.left) return sign + body + std::string(fill, ' ');
    if (sp.zero && finite) {
        std::size_t prefix = (lower == 'a') ? 2 : 0;
        return sign + body.substr(0, prefix) + std::string(fill, '0') + body.substr(prefix);
    }
    return std::string(fill, ' ') + sign + body;
}

template <class Char, class Out>
void vformat_impl(Out& out, const Char* format, va_list args, bool wide_format)
{
    if (!format) return;
    const Char* p = format;
    while (*p) {
        if (*p != Char('%')) {
            out.push_back(static_cast<typename Out::value_type>(*p++));
            continue;
        }
        const Char* start = p++;
        if (*p == Char('%')) {
            out.push_back(typename Out::value_type('%'));
            ++p;
            continue;
        }
        spec sp;
        for (;; ++p) {
            if (*p == Char('-')) sp.left = true;
            else if (*p == Char('+')) sp.plus = true;
            else if (*p == Char(' ')) sp.space = true;
            else if (*p == Char('#')) sp.alt = true;
            else if (*p == Char('0')) sp.zero = true;
            else break;
        }
        if (*p == Char('*')) {
            sp.width = va_arg(args, int);
            if (sp.width < 0) { sp.left = true; sp.width = -sp.width; }
            ++p;
        } else {
            while (*p >= Char('0') && *p <= Char('9')) {
                sp.width = (sp.width < 0 ? 0 : sp.width) * 10 + static_cast<int>(*p - Char('0'));
                ++p;
            }
        }
        if (*p == Char('.')) {
            ++p;
            sp.precision = 0;
            if (*p == Char('*')) {
                sp.precision = va_arg(args, int);
                if (sp.precision < 0) sp.precision = -1;
                ++p;
            } else {
                while (*p >= Char('0') && *p <= Char('9')) {
                    sp.precision = sp.precision * 10 + static_cast<int>(*p - Char('0'));
                    ++p;
                }
            }
        }
        // Length modifiers, including the legacy I64 / I32 / I forms.
        if (*p == Char('h')) {
            ++p;
            sp.narrow_text = true;
            if (*p == Char('h')) { sp.length = spec::hh; ++p; } else sp.length = spec::h;
        } else if (*p == Char('l')) {
            ++p;
            sp.wide_text = true;
            if (*p == Char('l')) { sp.length = spec::ll; ++p; } else sp.length = spec::l;
        } else if (*p == Char('w')) {
            ++p;
            sp.wide_text = true;
            sp.length = spec::l;
        } else if (*p == Char('q') || *p == Char('L')) {
            sp.length = *p == Char('L') ? spec::big_l : spec::ll;
            ++p;
        } else if (*p == Char('j')) { sp.length = spec::j; ++p; }
        else if (*p == Char('z')) { sp.length = spec::z; ++p; }
        else if (*p == Char('t')) { sp.length = spec::t; ++p; }
        else if (*p == Char('I')) {
            if (p[1] == Char('6') && p[2] == Char('4')) { sp.length = spec::ll; p += 3; }
            else if (p[1] == Char('3') && p[2] == Char('2')) { sp.length = spec::none; p += 3; }
            else { sp.length = spec::z; ++p; }
        }
        Char conv = *p;
        if (!conv) {
            // A format ending inside a conversion: print it as it stands.
            for (const Char* q = start; q < p; ++q) out.push_back(static_cast<typename Out::value_type>(*q));
            break;
        }
        ++p;
        std::size_t mark = out.size();
        switch (conv) {
        case Char('d'):
        case Char('i'): {
            long long v;
            switch (sp.length) {
            case spec::hh: v = static_cast<signed char>(va_arg(args, int)); break;
            case spec::h: v = static_cast<short>(va_arg(args, int)); break;
            case spec::l: v = va_arg(args, long); break;
            case spec::ll: case spec::big_l: v = va_arg(args, long long); break;
            case spec::j: v = static_cast<long long>(va_arg(args, std::intmax_t)); break;
            case spec::z: v = static_cast<long long>(va_arg(args, std::ptrdiff_t)); break;
            case spec::t: v = static_cast<long long>(va_arg(args, std::ptrdiff_t)); break;
            default: v = va_arg(args, int); break;
            }
            append_ascii(out, format_integer(sp, 'd', v, 0));
            break;
        }
        case Char('u'):
        case Char('o'):
        case Char('x'):
        case Char('X'): {
            unsigned long long v;
            switch (sp.length) {
            case spec::hh: v = static_cast<unsigned char>(va_arg(args, unsigned)); break;
            case spec::h: v = static_cast<unsigned short>(va_arg(args, unsigned)); break;
            case spec::l: v = va_arg(args, unsigned long); break;
            case spec::ll: case spec::big_l: v = va_arg(args, unsigned long long); break;
            case spec::j: v = static_cast<unsigned long long>(va_arg(args, std::uintmax_t)); break;
            case spec::z: case spec::t: v = va_arg(args, std::size_t); break;
            default: v = va_arg(args, unsigned); break;
            }
            append_ascii(out, format_integer(sp, static_cast<char>(conv), 0, v));
            break;
        }
        case Char('f'): case Char('F'): case Char('e'): case Char('E'):
        case Char('g'): case Char('G'): case Char('a'): case Char('A'): {
            double v = sp.length == spec::big_l ? static_cast<double>(va_arg(args, long double))
                                                : va_arg(args, double);
            append_ascii(out, format_floating(sp, static_cast<char>(conv), v));
            break;
        }
        case Char('p'): {
            void* v = va_arg(args, void*);
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%p", v);
            append_ascii(out, buffer);
            pad_to(out, mark, sp);
            break;
        }
        case Char('c'):
        case Char('C'): {
            // Which kind of character the argument is: the format's own kind for
            // %c, the other one for %C; h and l override.
            bool wide_arg = sp.wide_text ? true : sp.narrow_text ? false : ((conv == Char('c')) == wide_format);
            if (wide_arg) {
                wchar_t c = static_cast<wchar_t>(va_arg(args, wint_t));
                append_wide(out, std::wstring_view(&c, 1));
            } else {
                char c = static_cast<char>(va_arg(args, int));
                append_narrow(out, std::string_view(&c, 1));
            }
            pad_to(out, mark, sp);
            break;
        }
        case Char('s'):
        case Char('S'): {
            bool wide_arg = sp.wide_text ? true : sp.narrow_text ? false : ((conv == Char('s')) == wide_format);
            if (wide_arg) {
                const wchar_t* s = va_arg(args, const wchar_t*);
                std::wstring_view v = s ? std::wstring_view(s) : std::wstring_view(L"(null)");
                if (sp.precision >= 0 && v.size() > static_cast<std::size_t>(sp.precision))
                    v = v.substr(0, static_cast<std::size_t>(sp.precision));
                append_wide(out, v);
            } else {
                const char* s = va_arg(args, const char*);
                std::string_view v = s ? std::string_view(s) : std::string_view("(null)");
                if (sp.precision >= 0 && v.size() > static_cast<std::size_t>(sp.precision))
                    v = v.substr(0, static_cast<std::size_t>(sp.precision));
                append_narrow(out, v);
            }
            pad_to(out, mark, sp);
            break;
        }
        case Char('n'):
            // Writing through a pointer from a format is never wanted: skip it.
            (void)va_arg(args, void*);
            break;
        default:
            for (const Char* q = start; q < p; ++q) out.push_back(static_cast<typename Out::value_type>(*q));
            break;
        }
    }
}

}  // namespace

std::string tk_vformat(const char* format, va_list args)
{
    std::string out;
    va_list copy;
    va_copy(copy, args);
    vformat_impl<char>(out, format, copy, false);
    va_end(copy);
    return out;
}

std::wstring tk_vwformat(const wchar_t* format, va_list args)
{
    std::wstring out;
    va_list copy;
    va_copy(copy, args);
    vformat_impl<wchar_t>(out, format, copy, true);
    va_end(copy);
    return out;
}

std::string tk_format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string r = tk_vformat(format, args);
    va_end(args);
    return r;
}

std::wstring tk_wformat(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring r = tk_vwformat(format, args);
    va_end(args);
    return r;
}

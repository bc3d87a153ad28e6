#include "platform/pf_variant.h"

#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>

void pf_variant_clear(pf_variant& v) noexcept
{
    v.vt = VT_EMPTY;
    v.llVal = 0;
    v.decVal = pf_decimal();
    std::wstring().swap(v.bstrVal);
    std::vector<std::uint8_t>().swap(v.parray.data);
    v.parray.lower_bound = 0;
    v.parray.dims = 1;
}

void pf_variant_copy(pf_variant& dst, const pf_variant& src)
{
    if (&dst == &src) return;
    dst.vt = src.vt;
    dst.llVal = src.llVal;
    dst.decVal = src.decVal;
    if (src.vt == VT_BSTR) dst.bstrVal = src.bstrVal;
    else dst.bstrVal.clear();
    if (pf_is_byte_array_kind(src.vt) || src.vt == VT_SAFEARRAY || src.vt == VT_BLOB_OBJECT)
        dst.parray = src.parray;
    else {
        dst.parray.data.clear();
        dst.parray.lower_bound = 0;
        dst.parray.dims = 1;
    }
}

// ---------------------------------------------------------------------------
// Number texts

void pf_append_exp(std::string& out, double v, int precision)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision);
    out.append(buf, res.ptr);
}

namespace {

void append_general(std::string& out, double v, int digits)
{
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
    for (char* p = buf; p != res.ptr; ++p)
        if (*p == 'e') *p = 'E';
    out.append(buf, res.ptr);
}

// The C locale, made once: the fallback of pf_atof for texts that
// from_chars reports out of range (strtod_l then gives the same infinity or
// zero that atof gives).
locale_t c_locale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return loc;
}

bool is_space(int c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Strict reading of a whole text as a double (blanks around allowed);
// false when anything else is in the text.
bool parse_double_strict(std::string_view s, double& out) noexcept
{
    std::size_t i = 0, n = s.size();
    while (i < n && is_space(s[i])) ++i;
    while (n > i && is_space(s[n - 1])) --n;
    if (i < n && s[i] == '+') {
        ++i;
        if (i < n && s[i] == '-') return false;
    }
    if (i >= n) return false;
    double v = 0;
    auto res = std::from_chars(s.data() + i, s.data() + n, v);
    if (res.ptr != s.data() + n) return false;
    if (res.ec == std::errc::result_out_of_range) {
        std::string tmp(s.substr(i, n - i));
        v = strtod_l(tmp.c_str(), nullptr, c_locale());
    } else if (res.ec != std::errc()) {
        return false;
    }
    out = v;
    return true;
}

// A wide text made narrow when it is plain ASCII (numbers always are).
bool ascii_of(std::wstring_view w, std::string& out)
{
    out.clear();
    out.reserve(w.size());
    for (wchar_t c : w) {
        if (c < 0 || c > 0x7f) return false;
        out.push_back(char(c));
    }
    return true;
}

void set_ascii_text(pf_variant& v, std::string_view s)
{
    // One allocation at most: assign from iterators of another character
    // type would build a temporary first.
    v.bstrVal.resize(s.size());
    for (std::size_t k = 0; k < s.size(); ++k) v.bstrVal[k] = wchar_t(static_cast<unsigned char>(s[k]));
}

bool is_integer_kind(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8:
        return true;
    default:
        return false;
    }
}

void integer_range(VARTYPE vt, __int128& lo, __int128& hi) noexcept
{
    switch (vt) {
    case VT_I1: lo = INT8_MIN; hi = INT8_MAX; break;
    case VT_UI1: lo = 0; hi = UINT8_MAX; break;
    case VT_I2: lo = INT16_MIN; hi = INT16_MAX; break;
    case VT_UI2: lo = 0; hi = UINT16_MAX; break;
    case VT_I4: case VT_INT: lo = INT32_MIN; hi = INT32_MAX; break;
    case VT_UI4: case VT_UINT: lo = 0; hi = UINT32_MAX; break;
    case VT_I8: lo = INT64_MIN; hi = INT64_MAX; break;
    default: lo = 0; hi = UINT64_MAX; break;
    }
}


// The source value in one of three exact forms.
struct number {
    enum { integer, real, decimal } kind = integer;
    __int128 i = 0;
    double r = 0;
    pf_decimal d;
};

pf_status read_number(const pf_variant& v, VARTYPE target, number& n)
{
    switch (v.vt) {
    case VT_EMPTY: n.kind = number::integer; n.i = 0; return pf_status::ok;
    case VT_I1: n.i = v.cVal; return pf_status::ok;
    case VT_UI1: n.i = v.bVal; return pf_status::ok;
    case VT_I2: n.i = v.iVal; return pf_status::ok;
    case VT_UI2: n.i = v.uiVal; return pf_status::ok;
    case VT_I4: n.i = v.lVal; return pf_status::ok;
    case VT_INT: n.i = v.intVal; return pf_status::ok;
    case VT_UI4: n.i = v.ulVal; return pf_status::ok;
    case VT_UINT: n.i = v.uintVal; return pf_status::ok;
    case VT_I8: n.i = v.llVal; return pf_status::ok;
    case VT_UI8: n.i = v.ullVal; return pf_status::ok;
    case VT_BOOL: n.i = v.boolVal ? -1 : 0; return pf_status::ok;
    case VT_R4: n.kind = number::real; n.r = v.fltVal; return pf_status::ok;
    case VT_R8: n.kind = number::real; n.r = v.dblVal; return pf_status::ok;
    case VT_DATE: n.kind = number::real; n.r = v.date; return pf_status::ok;
    case VT_CY: n.kind = number::decimal; n.d = pf_decimal::from_cy(v.cy()); return pf_status::ok;
    case VT_DECIMAL: n.kind = number::decimal; n.d = v.decVal; return pf_status::ok;
    case VT_BSTR: {
        std::string s;
        if (!ascii_of(v.bstrVal, s)) return pf_status::type_mismatch;
        if (target == VT_BOOL) {
            std::string t;
            std::size_t a = 0, b = s.size();
            while (a < b && is_space(s[a])) ++a;
            while (b > a && is_space(s[b - 1])) --b;
            for (std::size_t k = a; k < b; ++k) t.push_back(char(s[k] >= 'A' && s[k] <= 'Z' ? s[k] + 32 : s[k]));
            if (t == "true") { n.i = -1; return pf_status::ok; }
            if (t == "false") { n.i = 0; return pf_status::ok; }
        }
        if (target == VT_R4 || target == VT_R8) {
            n.kind = number::real;
            return parse_double_strict(s, n.r) ? pf_status::ok : pf_status::type_mismatch;
        }
        n.kind = number::decimal;
        pf_status st = pf_dec_from_str(std::string_view(s), n.d);
        if (st == pf_status::overflow && target != VT_BSTR) {
            // A number too long for a decimal may still be a double.
            double r;
            if (parse_double_strict(s, r)) {
                n.kind = number::real;
                n.r = r;
                return pf_status::ok;
            }
        }
        return st;
    }
    default:
        return pf_status::type_mismatch;
    }
}

}  // namespace

void pf_append_r8_text(std::string& out, double v) { append_general(out, v, 15); }

bool pf_is_integer_text(std::string_view s) noexcept
{
    std::size_t i = 0, n = s.size();
    while (i < n && is_space(s[i])) ++i;
    while (n > i && is_space(s[n - 1])) --n;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (i >= n) return false;
    for (; i < n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

bool pf_atof_strict(std::string_view s, double& out) noexcept
{
    return parse_double_strict(s, out);
}
void pf_append_r4_text(std::string& out, float v) { append_general(out, double(v), 7); }

double pf_atof(std::string_view s) noexcept
{
    std::size_t i = 0, n = s.size();
    while (i < n && is_space(s[i])) ++i;
    bool plus = false;
    if (i < n && s[i] == '+') {
        plus = true;
        ++i;
    }
    if (plus && i < n && s[i] == '-') return 0;
    double v = 0;
    auto res = std::from_chars(s.data() + i, s.data() + n, v);
    if (res.ec == std::errc::result_out_of_range) {
        std::string tmp(s.substr(i, std::size_t(res.ptr - (s.data() + i))));
        return strtod_l(tmp.c_str(), nullptr, c_locale());
    }
    if (res.ec != std::errc()) return 0;
    return v;
}

std::int64_t pf_atoll(std::string_view s, bool* overflow) noexcept
{
    if (overflow) *overflow = false;
    std::size_t i = 0, n = s.size();
    while (i < n && is_space(s[i])) ++i;
    bool neg = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        neg = s[i] == '-';
        ++i;
    }
    unsigned __int128 mag = 0;
    bool big = false;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) {
        mag = mag * 10 + unsigned(s[i] - '0');
        if (mag > (unsigned __int128)1 << 64) {
            big = true;
            mag = (unsigned __int128)1 << 64;
        }
    }
    __int128 v = neg ? -__int128(mag) : __int128(mag);
    if (big || v < INT64_MIN || v > INT64_MAX) {
        if (overflow) *overflow = true;
        return neg ? INT64_MIN : INT64_MAX;
    }
    return std::int64_t(v);
}

bool pf_atoull(std::string_view s, std::uint64_t& out, bool* overflow) noexcept
{
    if (overflow) *overflow = false;
    std::size_t i = 0, n = s.size();
    while (i < n && is_space(s[i])) ++i;
    if (i < n && s[i] == '+') ++i;
    if (i >= n || s[i] < '0' || s[i] > '9') return false;
    std::uint64_t v = 0;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i) {
        unsigned d = unsigned(s[i] - '0');
        if (v > (UINT64_MAX - d) / 10) {
            if (overflow) *overflow = true;
            out = UINT64_MAX;
            return true;
        }
        v = v * 10 + d;
    }
    out = v;
    return true;
}

pf_status pf_variant_change_type(pf_variant& v, VARTYPE to)
{
    if (v.vt == to) return pf_status::ok;
    if (to == VT_EMPTY) {
        pf_variant_clear(v);
        return pf_status::ok;
    }
    const bool known_target = is_integer_kind(to) || to == VT_BOOL || to == VT_R4 || to == VT_R8 ||
                              to == VT_CY || to == VT_DECIMAL || to == VT_BSTR;
    if (!known_target) return pf_status::type_mismatch;

    if (to == VT_BSTR) {
        std::string s;
        switch (v.vt) {
        case VT_EMPTY: break;
        case VT_R8: pf_append_r8_text(s, v.dblVal); break;
        case VT_R4: pf_append_r4_text(s, v.fltVal); break;
        case VT_CY: s = pf_cy_to_str(v.cy()); break;
        case VT_DECIMAL: v.decVal.append_to(s); break;
        case VT_BOOL: s = v.boolVal ? "-1" : "0"; break;
        default: {
            if (!is_integer_kind(v.vt)) return pf_status::type_mismatch;
            number n;
            read_number(v, to, n);
            char buf[48];
            auto res = n.i < 0 ? std::to_chars(buf, buf + sizeof buf, std::int64_t(n.i))
                               : std::to_chars(buf, buf + sizeof buf, std::uint64_t(n.i));
            s.assign(buf, res.ptr);
        }
        }
        pf_variant r;
        r.vt = VT_BSTR;
        set_ascii_text(r, s);
        v = std::move(r);
        return pf_status::ok;
    }

    number n;
    pf_status st = read_number(v, to, n);
    if (st != pf_status::ok) return st;

    pf_variant r;
    r.vt = to;
    if (is_integer_kind(to)) {
        __int128 lo, hi;
        integer_range(to, lo, hi);
        __int128 x = 0;
        if (n.kind == number::integer) {
            x = n.i;
        } else if (n.kind == number::real) {
            if (std::isnan(n.r)) return pf_status::overflow;
            double rounded = std::nearbyint(n.r);  // half to even
            if (rounded < -9.3e18 || rounded > 1.9e19) return pf_status::overflow;
            if (rounded < 0) x = -__int128((unsigned __int128)(-rounded));
            else x = __int128((unsigned __int128)rounded);
        } else {
            if (to == VT_UI8) {
                std::uint64_t u;
                st = pf_ui8_from_dec(n.d, u);
                x = u;
            } else {
                std::int64_t s64;
                st = pf_int_from_dec(n.d, std::int64_t(lo), std::int64_t(hi), s64);
                x = s64;
            }
            if (st != pf_status::ok) return st;
        }
        if (x < lo || x > hi) return pf_status::overflow;
        pf_store_integer(r, to, x);
    } else if (to == VT_BOOL) {
        bool t = n.kind == number::integer ? n.i != 0
                 : n.kind == number::real  ? n.r != 0
                                           : !n.d.is_zero();
        r.boolVal = t ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (to == VT_R8 || to == VT_R4) {
        double d = 0;
        if (n.kind == number::integer) d = double(n.i);
        else if (n.kind == number::real) d = n.r;
        else if ((st = pf_r8_from_dec(n.d, d)) != pf_status::ok) return st;
        if (to == VT_R4) {
            if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return pf_status::overflow;
            r.llVal = 0;
            r.fltVal = float(d);
        } else {
            r.dblVal = d;
        }
    } else if (to == VT_CY) {
        CY cy;
        if (n.kind == number::integer) {
            __int128 c = n.i * pf_cy_scale;
            if (c < INT64_MIN || c > INT64_MAX) return pf_status::overflow;
            cy.int64 = std::int64_t(c);
        } else if (n.kind == number::real) {
            if ((st = pf_cy_from_r8(n.r, cy)) != pf_status::ok) return st;
        } else if ((st = pf_cy_from_dec(n.d, cy)) != pf_status::ok) {
            return st;
        }
        r.set_cy(cy);
    } else {  // VT_DECIMAL
        if (n.kind == number::integer) {
            r.decVal = n.i < 0 ? pf_decimal::from_i8(std::int64_t(n.i)) : pf_decimal::from_ui8(std::uint64_t(n.i));
        } else if (n.kind == number::real) {
            if ((st = pf_dec_from_r8(n.r, r.decVal)) != pf_status::ok) return st;
        } else {
            r.decVal = n.d;
        }
    }
    v = std::move(r);
    return pf_status::ok;
}

void pf_store_integer(pf_variant& v, VARTYPE vt, __int128 x) noexcept
{
    v.llVal = 0;
    switch (vt) {
    case VT_I1: v.cVal = std::int8_t(x); break;
    case VT_UI1: v.bVal = std::uint8_t(x); break;
    case VT_I2: v.iVal = std::int16_t(x); break;
    case VT_UI2: v.uiVal = std::uint16_t(x); break;
    case VT_I4: v.lVal = std::int32_t(x); break;
    case VT_INT: v.intVal = std::int32_t(x); break;
    case VT_UI4: v.ulVal = std::uint32_t(x); break;
    case VT_UINT: v.uintVal = std::uint32_t(x); break;
    case VT_BOOL: v.boolVal = std::int16_t(x); break;
    case VT_I8: v.llVal = std::int64_t(x); break;
    default: v.ullVal = std::uint64_t(x); break;
    }
}

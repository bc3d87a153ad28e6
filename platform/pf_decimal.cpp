#include "platform/pf_decimal.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

using words_t = std::array<std::uint32_t, pf_decimal::magnitude_words>;

bool words_zero(const words_t& w) noexcept
{
    for (auto x : w)
        if (x) return false;
    return true;
}

// w = w * m + a; false when the result does not fit 256 bits (w is then
// unspecified).
bool mul_add(words_t& w, std::uint32_t m, std::uint32_t a) noexcept
{
    std::uint64_t carry = a;
    for (auto& x : w) {
        std::uint64_t v = std::uint64_t(x) * m + carry;
        x = std::uint32_t(v);
        carry = v >> 32;
    }
    return carry == 0;
}

bool add_one(words_t& w) noexcept
{
    for (auto& x : w) {
        if (++x != 0) return true;
    }
    return false;
}

// w = w / D; returns the remainder. The divisor is a constant so that the
// compiler turns each step into a multiplication; leading zero words are
// skipped.
template <std::uint32_t D>
std::uint32_t div_small(words_t& w) noexcept
{
    int top = pf_decimal::magnitude_words - 1;
    while (top >= 0 && w[top] == 0) --top;
    std::uint64_t rem = 0;
    for (int i = top; i >= 0; --i) {
        std::uint64_t cur = (rem << 32) | w[i];
        w[i] = std::uint32_t(cur / D);
        rem = cur % D;
    }
    return std::uint32_t(rem);
}

// Decimal digits of w, most significant first, into buf (no leading zeros;
// "0" for zero). Returns the digit count. buf needs 78 characters.
int to_digits(words_t w, char* buf) noexcept
{
    if (words_zero(w)) {
        buf[0] = '0';
        return 1;
    }
    // Chunks of nine digits, least significant first.
    std::uint32_t chunks[10];
    int nc = 0;
    while (!words_zero(w)) chunks[nc++] = div_small<1000000000u>(w);
    char* p = buf;
    // The leading chunk without leading zeros, the others with nine digits.
    char tmp[10];
    int len = 0;
    for (std::uint32_t v = chunks[nc - 1]; v; v /= 10) tmp[len++] = char('0' + v % 10);
    for (int i = len - 1; i >= 0; --i) *p++ = tmp[i];
    for (int c = nc - 2; c >= 0; --c) {
        std::uint32_t v = chunks[c];
        for (int i = 8; i >= 0; --i) {
            p[i] = char('0' + v % 10);
            v /= 10;
        }
        p += 9;
    }
    return int(p - buf);
}

bool fits_u64(const words_t& w) noexcept
{
    for (int i = 2; i < pf_decimal::magnitude_words; ++i)
        if (w[i]) return false;
    return true;
}

std::uint64_t low_u64(const words_t& w) noexcept
{
    return std::uint64_t(w[0]) | (std::uint64_t(w[1]) << 32);
}

// Removes `count` trailing digits, rounding half to even (or half away from
// zero when half_even is false).
void drop_digits(words_t& w, int count, bool half_even) noexcept
{
    if (count <= 0) return;
    bool sticky = false;
    std::uint32_t last = 0;
    for (int i = 0; i < count; ++i) {
        if (last) sticky = true;
        last = div_small<10>(w);
        if (words_zero(w) && i + 1 < count) {
            // Everything left is dropped: the result is 0 unless rounding
            // lifts it, which needs the dropped part to be at least one half
            // of the last place; with more digits to drop that cannot be.
            if (last || sticky) sticky = true;
            last = 0;
            for (++i; i < count; ++i) {}
            break;
        }
    }
    bool up;
    if (last > 5) up = true;
    else if (last < 5) up = false;
    else if (sticky) up = true;
    else up = half_even ? (w[0] & 1u) != 0 : true;
    if (up) add_one(w);
}

void strip_trailing_zeros(words_t& w, int& scale) noexcept
{
    while (scale > 0) {
        words_t t = w;
        if (div_small<10>(t) != 0) break;
        w = t;
        --scale;
    }
}

template <class Char>
pf_status parse_decimal(std::basic_string_view<Char> text, pf_decimal& out)
{
    std::size_t i = 0, n = text.size();
    auto blank = [](Char c) { return c == ' ' || c == '\t'; };
    while (i < n && blank(text[i])) ++i;
    bool neg = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        neg = text[i] == '-';
        ++i;
    }
    char digits[128];  // significant digits kept (leading zeros skipped)
    int ndig = 0;
    long long dropped_int_digits = 0;  // integer digits beyond the buffer
    bool any_digit = false;
    long long frac_digits = 0;
    bool in_frac = false;
    for (; i < n; ++i) {
        Char c = text[i];
        if (c >= '0' && c <= '9') {
            any_digit = true;
            if (ndig == 0 && c == '0') {
                if (in_frac) ++frac_digits;
                continue;
            }
            if (ndig < int(sizeof digits)) {
                digits[ndig++] = char(c);
                if (in_frac) ++frac_digits;
            } else {
                // Too many digits to keep: integer digits still count (the
                // value is then too large anyway), fraction digits only round.
                if (!in_frac) ++dropped_int_digits;
            }
        } else if (c == '.' && !in_frac) {
            in_frac = true;
        } else {
            break;
        }
    }
    if (!any_digit) return pf_status::type_mismatch;
    long long exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        bool eneg = false;
        if (j < n && (text[j] == '+' || text[j] == '-')) {
            eneg = text[j] == '-';
            ++j;
        }
        if (j >= n || text[j] < '0' || text[j] > '9') return pf_status::type_mismatch;
        for (; j < n && text[j] >= '0' && text[j] <= '9'; ++j)
            if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
        if (eneg) exponent = -exponent;
        i = j;
    }
    while (i < n && blank(text[i])) ++i;
    if (i != n) return pf_status::type_mismatch;

    // value = digits * 10^(exp10)
    long long exp10 = exponent - frac_digits + dropped_int_digits;
    long long int_digits = ndig + exp10;  // digits before the point
    if (int_digits > pf_decimal::max_digits) return pf_status::overflow;
    // Trailing fraction digits that cannot be kept: beyond the capacity, or
    // beyond a scale of 255. They round the rest half away from zero.
    long long drop = 0;
    if (ndig > pf_decimal::max_digits) drop = ndig - pf_decimal::max_digits;
    if (exp10 + drop < -255) drop = -255 - exp10;

    words_t w{};
    int keep = int(std::max<long long>(0, ndig - drop));
    // Nine digits at a time: one pass over the words per chunk.
    static const std::uint32_t pow10[10] = {1,      10,      100,      1000,      10000,
                                            100000, 1000000, 10000000, 100000000, 1000000000};
    for (int k = 0; k < keep;) {
        int take = std::min(9, keep - k);
        std::uint32_t chunk = 0;
        for (int j = 0; j < take; ++j) chunk = chunk * 10 + std::uint32_t(digits[k + j] - '0');
        if (!mul_add(w, pow10[take], chunk)) return pf_status::overflow;
        k += take;
    }
    if (drop > 0 && drop <= ndig && digits[keep] >= '5') {
        if (!add_one(w)) return pf_status::overflow;
    }
    exp10 += drop;
    bool check_capacity = keep >= pf_decimal::max_digits;
    if (exp10 > 0) {
        for (long long k = 0; k < exp10; ++k)
            if (!mul_add(w, 10, 0)) return pf_status::overflow;
        exp10 = 0;
        check_capacity = true;
    }
    if (check_capacity) {
        // Keep the promise of 77 digits: a 78-digit magnitude may fit the
        // words, but not every one does.
        char buf[96];
        if (to_digits(w, buf) > pf_decimal::max_digits) return pf_status::overflow;
    }
    pf_decimal r;
    r.set_words(w);
    r.set_scale(std::uint8_t(-exp10));
    r.set_negative(neg);
    out = r;
    return pf_status::ok;
}

}  // namespace

pf_decimal::pf_decimal(const DECIMAL& d) noexcept : m_dec(d)
{
    m_dec.wReserved = 0;
    m_dec.sign &= DECIMAL_NEG;
}

pf_decimal pf_decimal::from_i8(std::int64_t v) noexcept
{
    pf_decimal r;
    std::uint64_t mag = v < 0 ? std::uint64_t(0) - std::uint64_t(v) : std::uint64_t(v);
    r.m_dec.Lo64 = mag;
    r.set_negative(v < 0);
    return r;
}

pf_decimal pf_decimal::from_ui8(std::uint64_t v) noexcept
{
    pf_decimal r;
    r.m_dec.Lo64 = v;
    return r;
}

pf_decimal pf_decimal::from_cy(CY v) noexcept
{
    pf_decimal r = from_i8(v.int64);
    r.set_scale(4);
    return r;
}

bool pf_decimal::fits_decimal() const noexcept
{
    for (auto x : m_ext)
        if (x) return false;
    return m_dec.scale <= DECIMAL_MAX_SCALE;
}

bool pf_decimal::is_zero() const noexcept
{
    return words_zero(words());
}

std::array<std::uint32_t, pf_decimal::magnitude_words> pf_decimal::words() const noexcept
{
    words_t w;
    w[0] = std::uint32_t(m_dec.Lo64);
    w[1] = std::uint32_t(m_dec.Lo64 >> 32);
    w[2] = m_dec.Hi32;
    for (int i = 0; i < 5; ++i) w[3 + i] = m_ext[i];
    return w;
}

void pf_decimal::set_words(const std::array<std::uint32_t, magnitude_words>& w) noexcept
{
    m_dec.Lo64 = std::uint64_t(w[0]) | (std::uint64_t(w[1]) << 32);
    m_dec.Hi32 = w[2];
    for (int i = 0; i < 5; ++i) m_ext[i] = w[3 + i];
}

bool operator==(const pf_decimal& a, const pf_decimal& b) noexcept
{
    words_t wa = a.words(), wb = b.words();
    bool za = words_zero(wa), zb = words_zero(wb);
    if (za || zb) return za && zb;
    if (a.is_negative() != b.is_negative()) return false;
    int sa = a.scale(), sb = b.scale();
    strip_trailing_zeros(wa, sa);
    strip_trailing_zeros(wb, sb);
    return sa == sb && wa == wb;
}

namespace {
// The text into buf (at least 340 characters); returns its length.
std::size_t format_decimal(const pf_decimal& d, char* buf)
{
    char digits[96];
    int n = to_digits(d.words(), digits);
    int scale = d.scale();
    char* p = buf;
    if (d.is_negative() && !(n == 1 && digits[0] == '0')) *p++ = '-';
    if (scale == 0) {
        std::memcpy(p, digits, std::size_t(n));
        p += n;
    } else if (n <= scale) {
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', std::size_t(scale - n));
        p += scale - n;
        std::memcpy(p, digits, std::size_t(n));
        p += n;
    } else {
        std::memcpy(p, digits, std::size_t(n - scale));
        p += n - scale;
        *p++ = '.';
        std::memcpy(p, digits + (n - scale), std::size_t(scale));
        p += scale;
    }
    return std::size_t(p - buf);
}
}  // namespace

void pf_decimal::append_to(std::string& out) const
{
    char buf[352];
    out.append(buf, format_decimal(*this, buf));
}

void pf_decimal::append_to(std::wstring& out) const
{
    char buf[352];
    std::size_t n = format_decimal(*this, buf);
    out.append(buf, buf + n);
}

std::string pf_decimal::to_string() const
{
    std::string s;
    append_to(s);
    return s;
}

pf_status pf_dec_from_str(std::string_view text, pf_decimal& out) { return parse_decimal(text, out); }
pf_status pf_dec_from_str(std::wstring_view text, pf_decimal& out) { return parse_decimal(text, out); }

std::string pf_dec_to_str(const pf_decimal& d) { return d.to_string(); }

pf_status pf_dec_from_r8(double v, pf_decimal& out)
{
    if (!std::isfinite(v) || std::fabs(v) >= 1e77) return pf_status::overflow;
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    pf_decimal d;
    pf_status st = pf_dec_from_str(std::string_view(buf, std::size_t(res.ptr - buf)), d);
    if (st != pf_status::ok) return st;
    words_t w = d.words();
    int scale = d.scale();
    strip_trailing_zeros(w, scale);
    d.set_words(w);
    d.set_scale(std::uint8_t(scale));
    out = d;
    return pf_status::ok;
}

pf_status pf_r8_from_dec(const pf_decimal& d, double& out)
{
    std::string text;
    text.reserve(96);
    d.append_to(text);
    double v = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    if (res.ec != std::errc()) return pf_status::overflow;
    out = v;
    return pf_status::ok;
}

pf_decimal pf_dec_round(const pf_decimal& d, int scale)
{
    if (scale < 0) scale = 0;
    if (d.scale() <= scale) return d;
    words_t w = d.words();
    drop_digits(w, d.scale() - scale, true);
    pf_decimal r = d;
    r.set_words(w);
    r.set_scale(std::uint8_t(scale));
    return r;
}

pf_status pf_int_from_dec(const pf_decimal& d, std::int64_t lo, std::int64_t hi, std::int64_t& out)
{
    words_t w = d.words();
    drop_digits(w, d.scale(), true);
    if (!fits_u64(w)) return pf_status::overflow;
    std::uint64_t mag = low_u64(w);
    __int128 v = d.is_negative() ? -__int128(mag) : __int128(mag);
    if (v < lo || v > hi) return pf_status::overflow;
    out = std::int64_t(v);
    return pf_status::ok;
}

pf_status pf_i8_from_dec(const pf_decimal& d, std::int64_t& out)
{
    return pf_int_from_dec(d, std::numeric_limits<std::int64_t>::min(),
                           std::numeric_limits<std::int64_t>::max(), out);
}

pf_status pf_ui8_from_dec(const pf_decimal& d, std::uint64_t& out)
{
    words_t w = d.words();
    drop_digits(w, d.scale(), true);
    if (!fits_u64(w)) return pf_status::overflow;
    std::uint64_t mag = low_u64(w);
    if (d.is_negative() && mag != 0) return pf_status::overflow;
    out = mag;
    return pf_status::ok;
}

pf_status pf_i4_from_dec(const pf_decimal& d, std::int32_t& out)
{
    std::int64_t v = 0;
    pf_status st = pf_int_from_dec(d, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max(), v);
    if (st == pf_status::ok) out = std::int32_t(v);
    return st;
}

pf_status pf_cy_from_dec(const pf_decimal& d, CY& out)
{
    words_t w = d.words();
    int scale = d.scale();
    if (scale > 4) drop_digits(w, scale - 4, true);
    for (; scale < 4; ++scale)
        if (!mul_add(w, 10, 0)) return pf_status::overflow;
    if (!fits_u64(w)) return pf_status::overflow;
    std::uint64_t mag = low_u64(w);
    __int128 v = d.is_negative() ? -__int128(mag) : __int128(mag);
    if (v < std::numeric_limits<std::int64_t>::min() || v > std::numeric_limits<std::int64_t>::max())
        return pf_status::overflow;
    out.int64 = std::int64_t(v);
    return pf_status::ok;
}

pf_status pf_cy_from_str(std::string_view text, CY& out)
{
    pf_decimal d;
    pf_status st = pf_dec_from_str(text, d);
    return st == pf_status::ok ? pf_cy_from_dec(d, out) : st;
}

pf_status pf_cy_from_str(std::wstring_view text, CY& out)
{
    pf_decimal d;
    pf_status st = pf_dec_from_str(text, d);
    return st == pf_status::ok ? pf_cy_from_dec(d, out) : st;
}

pf_status pf_cy_from_r8(double v, CY& out)
{
    if (!std::isfinite(v)) return pf_status::overflow;
    double scaled = std::nearbyint(v * double(pf_cy_scale));
    if (scaled < -9223372036854775808.0 || scaled >= 9223372036854775808.0) return pf_status::overflow;
    out.int64 = std::int64_t(scaled);
    return pf_status::ok;
}

double pf_r8_from_cy(CY v) noexcept
{
    return double(v.int64) / double(pf_cy_scale);
}

pf_status pf_i4_from_cy(CY v, std::int32_t& out) noexcept
{
    std::int64_t q = v.int64 / pf_cy_scale;
    std::int64_t r = v.int64 % pf_cy_scale;  // same sign as the value
    std::int64_t ar = r < 0 ? -r : r;
    if (ar > pf_cy_scale / 2 || (ar == pf_cy_scale / 2 && (q & 1)))
        q += v.int64 < 0 ? -1 : 1;
    if (q < std::numeric_limits<std::int32_t>::min() || q > std::numeric_limits<std::int32_t>::max())
        return pf_status::overflow;
    out = std::int32_t(q);
    return pf_status::ok;
}

std::string pf_cy_to_str(CY v)
{
    std::uint64_t mag = v.int64 < 0 ? std::uint64_t(0) - std::uint64_t(v.int64) : std::uint64_t(v.int64);
    std::uint64_t ip = mag / pf_cy_scale;
    unsigned frac = unsigned(mag % pf_cy_scale);
    char buf[48];
    char* p = buf;
    if (v.int64 < 0) *p++ = '-';
    p = std::to_chars(p, buf + sizeof buf, ip).ptr;
    if (frac) {
        *p++ = '.';
        char f[4] = {char('0' + frac / 1000), char('0' + frac / 100 % 10), char('0' + frac / 10 % 10),
                     char('0' + frac % 10)};
        int len = 4;
        while (len > 0 && f[len - 1] == '0') --len;
        std::memcpy(p, f, std::size_t(len));
        p += len;
    }
    return std::string(buf, p);
}

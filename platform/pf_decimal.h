#pragma once
// Exact decimal numbers for field values. A MySQL DECIMAL(65,30) must arrive
// digit for digit, which the 16-byte decimal layout (96-bit magnitude, scale
// up to 28) cannot hold, so pf_decimal keeps that layout in front for values
// that fit and extends the magnitude to 256 bits (77 decimal digits) and the
// scale to 255 for the rest. No path goes through a double.
//
// All texts use '.' as the decimal point whatever the process locale.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/pf_value.h"

class pf_decimal {
public:
    static constexpr int magnitude_words = 8;  // 32-bit words, 256 bits
    static constexpr int max_digits = 77;      // every 77-digit magnitude fits

    constexpr pf_decimal() noexcept = default;
    // From the 16-byte layout (any scale up to 255 is kept as given).
    explicit pf_decimal(const DECIMAL& d) noexcept;

    static pf_decimal from_i8(std::int64_t v) noexcept;
    static pf_decimal from_ui8(std::uint64_t v) noexcept;
    // Currency: the stored count with scale 4.
    static pf_decimal from_cy(CY v) noexcept;

    // True when the value fits the 16-byte layout (magnitude below 2^96 and
    // scale at most 28); then to_DECIMAL gives it exactly.
    bool fits_decimal() const noexcept;
    // The 16-byte layout; only meaningful when fits_decimal().
    DECIMAL to_DECIMAL() const noexcept { return m_dec; }

    bool is_negative() const noexcept { return (m_dec.sign & DECIMAL_NEG) != 0; }
    bool is_zero() const noexcept;
    std::uint8_t scale() const noexcept { return m_dec.scale; }

    // Magnitude words, least significant first (words 0-1 are Lo64, word 2
    // Hi32, words 3-7 the extension).
    std::array<std::uint32_t, magnitude_words> words() const noexcept;
    void set_words(const std::array<std::uint32_t, magnitude_words>& w) noexcept;
    void set_scale(std::uint8_t s) noexcept { m_dec.scale = s; }
    void set_negative(bool neg) noexcept { m_dec.sign = neg ? DECIMAL_NEG : 0; }

    // Numeric equality (1.50 == 1.5).
    friend bool operator==(const pf_decimal& a, const pf_decimal& b) noexcept;
    friend bool operator!=(const pf_decimal& a, const pf_decimal& b) noexcept { return !(a == b); }

    // Text with exactly scale() fraction digits, '.' point, '-' for a negative
    // non-zero value: appended without other allocation.
    void append_to(std::string& out) const;
    void append_to(std::wstring& out) const;
    std::string to_string() const;

private:
    DECIMAL m_dec{};
    std::uint32_t m_ext[5] = {0, 0, 0, 0, 0};
};

// Reads a decimal number: optional blanks, sign, digits with an optional '.'
// fraction, an optional exponent (e or E), optional trailing blanks. Fraction
// digits beyond the 77-digit capacity are rounded off (half away from zero);
// an integer part that does not fit is overflow; anything else is a mismatch.
pf_status pf_dec_from_str(std::string_view text, pf_decimal& out);
pf_status pf_dec_from_str(std::wstring_view text, pf_decimal& out);
// Text form (see pf_decimal::append_to).
std::string pf_dec_to_str(const pf_decimal& d);

// Conversions with the OLE rounding: to integers round half to even and
// report overflow; from a double the value is taken to 15 significant digits.
pf_status pf_dec_from_r8(double v, pf_decimal& out);
pf_status pf_r8_from_dec(const pf_decimal& d, double& out);
pf_status pf_i8_from_dec(const pf_decimal& d, std::int64_t& out);
pf_status pf_ui8_from_dec(const pf_decimal& d, std::uint64_t& out);
pf_status pf_i4_from_dec(const pf_decimal& d, std::int32_t& out);
// The value rounded half to even to an integer within [lo, hi].
pf_status pf_int_from_dec(const pf_decimal& d, std::int64_t lo, std::int64_t hi, std::int64_t& out);
// The value rounded half to even to `scale` fraction digits (fewer digits
// than now only; more leaves it unchanged).
pf_decimal pf_dec_round(const pf_decimal& d, int scale);

// Currency (count of 1/10,000).
pf_status pf_cy_from_dec(const pf_decimal& d, CY& out);
pf_status pf_cy_from_str(std::string_view text, CY& out);
pf_status pf_cy_from_str(std::wstring_view text, CY& out);
pf_status pf_cy_from_r8(double v, CY& out);
double pf_r8_from_cy(CY v) noexcept;
pf_status pf_i4_from_cy(CY v, std::int32_t& out) noexcept;
// Shortest text: up to four fraction digits, trailing zeros dropped
// ("1.5", "100", "-0.0001").
std::string pf_cy_to_str(CY v);

#pragma once
// The tagged field value of the platform layer: a kind code (pf_value.h) and
// the payload of that kind. Numbers, currency, decimals and date numbers live
// inline; only text and byte arrays own heap memory, and only their own.
// Text is wide (one wchar_t per character); byte arrays carry a lower bound
// and a dimension count like the arrays they stand for.
//
// pf_variant_change_type implements the conversions between kinds that the
// field values need (the general pairs; ole_variant handles its special rules
// before it comes here). All texts use '.' as the decimal point whatever the
// process locale.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pf_decimal.h"
#include "platform/pf_value.h"

struct pf_byte_array {
    std::vector<std::uint8_t> data;
    std::int32_t lower_bound = 0;
    std::uint16_t dims = 1;
};

struct pf_variant {
    VARTYPE vt = VT_EMPTY;
    union {
        std::int8_t cVal;
        std::uint8_t bVal;
        std::int16_t iVal;
        std::uint16_t uiVal;
        std::int32_t lVal;
        std::uint32_t ulVal;
        std::int32_t intVal;
        std::uint32_t uintVal;
        std::int64_t llVal;
        std::uint64_t ullVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        double date;
        std::int64_t cyInt64;
    };
    pf_decimal decVal;
    std::wstring bstrVal;
    pf_byte_array parray;

    pf_variant() noexcept : llVal(0) {}

    CY cy() const noexcept { return CY{cyInt64}; }
    void set_cy(CY v) noexcept { cyInt64 = v.int64; }
};

// Back to VT_EMPTY; releases text and bytes (keeps no capacity).
// Stores an integer already known to fit into the payload of integer kind vt (VT_BOOL takes
// the 16-bit form); the rest of the payload is cleared.
void pf_store_integer(pf_variant& v, VARTYPE vt, __int128 x) noexcept;

void pf_variant_clear(pf_variant& v) noexcept;
// Deep copy of kind and payload.
void pf_variant_copy(pf_variant& dst, const pf_variant& src);

// Converts v in place to kind `to`. Handles every pair among VT_EMPTY,
// VT_I1..VT_UI8, VT_INT, VT_UINT, VT_R4, VT_R8, VT_CY, VT_DECIMAL, VT_BOOL and
// VT_BSTR (VT_EMPTY as a target clears). Integers round half to even and
// overflow is reported, never wrapped. On failure v is unchanged.
pf_status pf_variant_change_type(pf_variant& v, VARTYPE to);

// Text forms used by the conversions to VT_BSTR (UTF-8, '.' point):
// doubles with 15 significant digits and floats with 7, in the shortest of
// plain or exponent form ("1.5", "0.001", "1E+20"), booleans "-1"/"0",
// currency by pf_cy_to_str, decimals by pf_dec_to_str.
void pf_append_r8_text(std::string& out, double v);
void pf_append_r4_text(std::string& out, float v);

// Locale-independent number printing for the field value text forms:
// "%.16e" / "%.6e" exactly as printf gives them in the classic locale.
void pf_append_exp(std::string& out, double v, int precision);

// Locale-independent reading in the manner of atof: leading blanks, an
// optional sign, the longest prefix that is a number ("12.5abc" gives 12.5,
// no number gives 0). ',' is not a decimal point here.
double pf_atof(std::string_view text) noexcept;
// In the manner of atoll: leading blanks, sign, digits; stops at the first
// other character; `overflow` set when the digits do not fit 64 bits.
std::int64_t pf_atoll(std::string_view text, bool* overflow = nullptr) noexcept;
// Unsigned in the manner of sscanf "%llu": leading blanks, optional '+',
// digits; false when no digit was read or the number does not fit.
bool pf_atoull(std::string_view text, std::uint64_t& out, bool* overflow = nullptr) noexcept;

// Whole-text checks for values that arrive as text: blanks (space, tab, line
// ends) may surround the number, nothing else may follow or precede it.
// An integer text is an optional sign and at least one digit (any length:
// the caller checks the range). A number text is what pf_atof reads, using all
// of the text; `out` receives its value.
bool pf_is_integer_text(std::string_view text) noexcept;
bool pf_atof_strict(std::string_view text, double& out) noexcept;

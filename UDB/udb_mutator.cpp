#include "UDB/udb_mutator.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include "TK/tk_strings.h"
#include "UDB/udb_db_mutator.h"

const char* const udb_conversion_not_supported_text = "Data conversion is not supported for given type mapping";

namespace {

using wide_int = __int128;

// The range of an integer kind; false for kinds that are not integers.
bool integer_range(VARTYPE vt, wide_int& lo, wide_int& hi)
{
    switch (vt) {
    case VT_I1: lo = INT8_MIN; hi = INT8_MAX; return true;
    case VT_UI1: lo = 0; hi = UINT8_MAX; return true;
    case VT_I2: lo = INT16_MIN; hi = INT16_MAX; return true;
    case VT_UI2: lo = 0; hi = UINT16_MAX; return true;
    case VT_I4:
    case VT_INT: lo = INT32_MIN; hi = INT32_MAX; return true;
    case VT_UI4:
    case VT_UINT: lo = 0; hi = UINT32_MAX; return true;
    case VT_I8: lo = INT64_MIN; hi = INT64_MAX; return true;
    case VT_UI8: lo = 0; hi = UINT64_MAX; return true;
    default: return false;
    }
}

// The exact value of an integer-kind value; false for other kinds.
bool integer_value(const ole_variant& v, wide_int& out)
{
    const pf_variant& s = v.src;
    switch (s.vt) {
    case VT_I1: out = s.cVal; return true;
    case VT_UI1: out = s.bVal; return true;
    case VT_I2: out = s.iVal; return true;
    case VT_UI2: out = s.uiVal; return true;
    case VT_I4: out = s.lVal; return true;
    case VT_INT: out = s.intVal; return true;
    case VT_UI4: out = s.ulVal; return true;
    case VT_UINT: out = s.uintVal; return true;
    case VT_I8: out = v.hyper_value; return true;
    case VT_UI8: out = v.uhyper_value; return true;
    default: return false;
    }
}

bool real_fits(long double rounded, wide_int lo, wide_int hi)
{
    return rounded >= static_cast<long double>(lo) && rounded <= static_cast<long double>(hi);
}

}  // namespace

bool udb_value_fits(const ole_variant& value, VARTYPE target)
{
    const VARTYPE source = value.get_type();
    if (source == target)
        return true;

    if (target == VT_R4) {
        // A double beyond a float's range would become infinity.
        if (source == VT_R8 && std::isfinite(value.get_double()))
            return std::fabs(value.get_double()) <= FLT_MAX;
        return true;
    }

    wide_int lo = 0, hi = 0;
    if (!integer_range(target, lo, hi))
        return true;

    wide_int n = 0;
    if (integer_value(value, n))
        return n >= lo && n <= hi;

    // An integer kind holds whole numbers only: a fraction would be rounded away without a
    // word, so such a value is refused like one out of range.
    switch (source) {
    case VT_R4:
    case VT_R8: {
        const double d = source == VT_R4 ? value.get_float() : value.get_double();
        if (std::isnan(d) || std::trunc(d) != d)
            return false;
        return real_fits(static_cast<long double>(d), lo, hi);
    }
    case VT_CY: {
        const std::int64_t units = value.get_cy().int64;
        if (units % pf_cy_scale != 0)
            return false;
        const wide_int whole = units / pf_cy_scale;
        return whole >= lo && whole <= hi;
    }
    case VT_DECIMAL: {
        if (pf_dec_round(value.get_decimal(), 0) != value.get_decimal())
            return false;
        if (target == VT_UI8) {
            std::uint64_t u = 0;
            return pf_succeeded(pf_ui8_from_dec(value.get_decimal(), u));
        }
        std::int64_t out = 0;
        return pf_succeeded(pf_int_from_dec(value.get_decimal(), static_cast<std::int64_t>(lo),
                                            static_cast<std::int64_t>(hi), out));
    }
    default:
        return true;
    }
}

namespace {

// The refusal names the value so the user can find the row; a long text or a
// large byte array is cut short (the message goes into reports line by line).
[[noreturn]] void conversion_refused(const ole_variant& value)
{
    constexpr std::size_t shown = 60;
    std::string text;
    try {
        text = value.to_string();
    } catch (const std::exception&) {
        text.clear();
    }
    std::string message = udb_conversion_not_supported_text;
    message += ": '";
    if (text.size() > shown) {
        std::size_t cut = shown;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a UTF-8 sequence
        message.append(text, 0, cut);
        message += "...";
    } else {
        message += text;
    }
    message += "'";
    throw tk_exception(message, 0);
}

}  // namespace

void udb_change_value_type(ole_variant& value, VARTYPE target)
{
    if (!udb_value_fits(value, target)) {
        tk_write_log(2, "Value of kind %d does not fit kind %d", static_cast<int>(value.get_type()),
                     static_cast<int>(target));
        conversion_refused(value);
    }
    // A refused conversion leaves the value as it was, so it can be named.
    try {
        value.change_type(target);
    } catch (const ole_cast_exception&) {
        conversion_refused(value);
    }
}

std::int64_t udb_read_decimal(const std::wstring& text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == L' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
        negative = text[i++] == L'-';
    std::int64_t n = 0;
    constexpr std::int64_t limit = static_cast<std::int64_t>(INT32_MAX) + 1;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
        n = std::min<std::int64_t>(n * 10 + (text[i] - L'0'), limit);
    if (negative)
        return -n;
    return std::min<std::int64_t>(n, INT32_MAX);
}

std::set<std::wstring>& udb_types_map_exclusions()
{
    static std::set<std::wstring> exclusions;  // initialised once, thread-safe
    return exclusions;
}

namespace udb_type_mappings_detail {

bool starts_with(const std::wstring& line, const wchar_t* prefix)
{
    return std::wstring_view(line).starts_with(prefix);
}

std::wstring rest_of(const std::wstring& line, const wchar_t* prefix)
{
    return tk_trim(std::wstring_view(line).substr(std::wstring_view(prefix).size()));
}

bool split_property(const std::wstring& line, std::wstring& key, std::wstring& value)
{
    const std::vector<std::wstring> parts = tk_split(line, L':');
    if (parts.size() != 2)
        return false;
    key = tk_trim(parts[0]);
    value = tk_trim(parts[1]);
    return true;
}

}  // namespace udb_type_mappings_detail

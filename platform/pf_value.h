#pragma once
// Kind codes and fixed layouts of field values. The numbers and layouts are
// those of the OLE Automation standard, because stored settings, type maps and
// the binary images of values carry them; the code here is our own.

#include <cstdint>

using VARTYPE = std::uint16_t;

constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I2 = 2;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_R4 = 4;
constexpr VARTYPE VT_R8 = 5;
constexpr VARTYPE VT_CY = 6;
constexpr VARTYPE VT_DATE = 7;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_ERROR = 10;
constexpr VARTYPE VT_BOOL = 11;
constexpr VARTYPE VT_VARIANT = 12;
constexpr VARTYPE VT_UNKNOWN = 13;
constexpr VARTYPE VT_DECIMAL = 14;
constexpr VARTYPE VT_I1 = 16;
constexpr VARTYPE VT_UI1 = 17;
constexpr VARTYPE VT_UI2 = 18;
constexpr VARTYPE VT_UI4 = 19;
constexpr VARTYPE VT_I8 = 20;
constexpr VARTYPE VT_UI8 = 21;
constexpr VARTYPE VT_INT = 22;
constexpr VARTYPE VT_UINT = 23;
constexpr VARTYPE VT_SAFEARRAY = 27;
constexpr VARTYPE VT_LPSTR = 30;
constexpr VARTYPE VT_LPWSTR = 31;
constexpr VARTYPE VT_BLOB = 65;
constexpr VARTYPE VT_BLOB_OBJECT = 70;
constexpr VARTYPE VT_ARRAY = 0x2000;
constexpr VARTYPE VT_BYTE_ARRAY = VT_ARRAY | VT_UI1;  // 8209

// Boolean payload: -1 true, 0 false.
using VARIANT_BOOL = std::int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Currency: a signed 64-bit count of 1/10,000.
struct CY {
    std::int64_t int64 = 0;
};
constexpr std::int64_t pf_cy_scale = 10000;

// The 16-byte decimal layout: reserved word, scale (0-28), sign (0x80
// negative), 96-bit magnitude as Hi32:Lo64. Values that do not fit it travel
// as pf_decimal (pf_decimal.h), which keeps these 16 bytes in front.
struct DECIMAL {
    std::uint16_t wReserved = 0;
    std::uint8_t scale = 0;
    std::uint8_t sign = 0;
    std::uint32_t Hi32 = 0;
    std::uint64_t Lo64 = 0;
};
static_assert(sizeof(DECIMAL) == 16, "DECIMAL keeps its 16-byte layout");
constexpr std::uint8_t DECIMAL_NEG = 0x80;
constexpr std::uint8_t DECIMAL_MAX_SCALE = 28;

// Calendar date and time; the field order is part of the binary image of a
// date value.
struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is eight 16-bit fields");

// Outcome of a platform value conversion.
enum class pf_status {
    ok,
    type_mismatch,  // the source cannot be read as the target kind (e.g. "abc" as a number)
    overflow,       // the value does not fit the target kind
};

inline bool pf_succeeded(pf_status s) noexcept { return s == pf_status::ok; }

// True for the two byte-array kinds (8209 and VT_BLOB).
inline bool pf_is_byte_array_kind(VARTYPE vt) noexcept
{
    return vt == VT_BYTE_ARRAY || vt == VT_BLOB;
}

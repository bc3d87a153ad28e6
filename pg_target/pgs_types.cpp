#include "pg_target/pgs_types.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "TK/ole_variant.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_validators.h"

namespace {

enum class size_rule : std::uint8_t {
    any,
    sized_text,      // text of 1 to pgs_max_varchar_size characters
    zero_precision,  // decimal without precision
};

// One row of the forward mapping. Type texts may hold {s} (size), {p} (precision) and {c}
// (scale), filled in when the row is chosen.
struct type_row {
    std::array<VARTYPE, 3> vts;    // value kinds of the row (unused places VT_EMPTY)
    std::uint32_t subtype_mask;    // sub-type bits tested; 0: any sub-type
    std::uint32_t subtype_value;   // the value those bits must have
    size_rule size;
    const wchar_t* full;           // CREATE TABLE form
    const wchar_t* name_only;      // default type name of the types-map dialog
    const wchar_t* serial;         // auto-increment form, or nullptr
    pgs_value_kind kind;
};

using pgs_value_kind::bytea;
using pgs_value_kind::date;
using pgs_value_kind::number;
using pgs_value_kind::text;
using pgs_value_kind::uuid_text;
using pgs_value_kind::boolean;

// Text sub-types are codes, except the flags 0x10 (empty default) and 0x20 (bit value), which may
// accompany any of them.
constexpr std::uint32_t text_code = ~(pgs_subtype::empty_default | pgs_subtype::bit_text);

// First matching row wins.
constexpr type_row type_rows[] = {
    {{VT_I2, VT_I1, VT_UI1}, 0, 0, size_rule::any, L"SMALLINT", L"SMALLINT", L"SMALLSERIAL", number},
    {{VT_I4, VT_UI2, VT_INT}, 0, 0, size_rule::any, L"INTEGER", L"INTEGER", L"SERIAL", number},
    {{VT_UI4, VT_I8, VT_UINT}, 0, 0, size_rule::any, L"BIGINT", L"BIGINT", L"BIGSERIAL", number},
    // BIGINT holds only half of BIGINT UNSIGNED: values above 2^63-1 need NUMERIC(20). An
    // auto-increment key stays BIGSERIAL (its sequence never gets that far).
    {{VT_UI8}, 0, 0, size_rule::any, L"NUMERIC(20)", L"NUMERIC", L"BIGSERIAL", number},
    {{VT_R4}, 0, 0, size_rule::any, L"REAL", L"REAL", nullptr, number},
    {{VT_R8}, 0, 0, size_rule::any, L"DOUBLE PRECISION", L"DOUBLE PRECISION", nullptr, number},
    {{VT_CY}, 0, 0, size_rule::any, L"DECIMAL(19, 4)", L"DECIMAL", nullptr, number},
    {{VT_DATE}, pgs_subtype::date_kind_mask, pgs_subtype::date_only, size_rule::any, L"DATE", L"DATE", nullptr, date},
    {{VT_DATE}, pgs_subtype::date_kind_mask, pgs_subtype::time_only, size_rule::any, L"TIME", L"TIME", nullptr, date},
    {{VT_DATE}, pgs_subtype::time_zone, pgs_subtype::time_zone, size_rule::any,
     L"TIMESTAMP({c}) WITH TIME ZONE", L"TIMESTAMP({c}) WITH TIME ZONE", nullptr, date},
    {{VT_DATE}, 0, 0, size_rule::any, L"TIMESTAMP({c})", L"TIMESTAMP({c})", nullptr, date},
    {{VT_BSTR, VT_LPWSTR}, text_code, pgs_subtype::uuid, size_rule::any, L"UUID", L"UUID", nullptr, uuid_text},
    {{VT_BSTR, VT_LPWSTR}, text_code, pgs_subtype::geometry, size_rule::any, L"geometry", L"geometry", nullptr, text},
    {{VT_BSTR, VT_LPWSTR}, text_code, pgs_subtype::geography, size_rule::any, L"geography", L"geography", nullptr, text},
    {{VT_BSTR, VT_LPWSTR}, text_code, pgs_subtype::fixed_text, size_rule::sized_text, L"CHAR({s}) ", L"CHAR", nullptr, text},
    {{VT_BSTR, VT_LPWSTR}, 0, 0, size_rule::sized_text, L"VARCHAR({s}) ", L"VARCHAR", nullptr, text},
    {{VT_BSTR, VT_LPWSTR}, 0, 0, size_rule::any, L"TEXT", L"TEXT", nullptr, text},
    {{VT_BOOL}, 0, 0, size_rule::any, L"BOOLEAN", L"BOOLEAN", nullptr, boolean},
    {{VT_DECIMAL}, 0, 0, size_rule::zero_precision, L"NUMERIC", L"DOUBLE PRECISION", nullptr, number},
    {{VT_DECIMAL}, 0, 0, size_rule::any, L"DECIMAL({p},{c})", L"DECIMAL", nullptr, number},
    {{VT_BLOB, VT_BYTE_ARRAY}, 0, 0, size_rule::any, L"BYTEA", L"BYTEA", nullptr, bytea},
};

bool row_matches(const type_row& row, const pgs_column_shape& c)
{
    bool vt_ok = false;
    for (VARTYPE v : row.vts) vt_ok = vt_ok || (v != VT_EMPTY && v == c.vt);
    if (!vt_ok) return false;
    if (row.subtype_mask && (c.subtype & row.subtype_mask) != row.subtype_value) return false;
    switch (row.size) {
    case size_rule::any: return true;
    case size_rule::sized_text: return c.size >= 1 && c.size <= pgs_max_varchar_size;
    case size_rule::zero_precision: return c.precision == 0;
    }
    return false;
}

std::wstring fill_sizes(const wchar_t* pattern, const pgs_column_shape& c)
{
    std::wstring r;
    for (const wchar_t* p = pattern; *p; ++p) {
        if (p[0] == L'{' && p[1] && p[2] == L'}') {
            long long v = p[1] == L's' ? static_cast<long long>(c.size)
                        : p[1] == L'p' ? c.precision
                                       : c.scale;
            char digits[24];
            auto res = std::to_chars(digits, digits + sizeof digits, v);
            r.append(digits, res.ptr);
            p += 2;
        } else {
            r += *p;
        }
    }
    return r;
}

// Reverse mapping by name: exact, case-sensitive names; first hit decides.
struct name_row {
    std::string_view name;
    VARTYPE vt;
};
constexpr name_row name_rows[] = {
    {"bool", VT_BOOL}, {"boolean", VT_BOOL}, {"bit", VT_BOOL},
    {"time_stamp", VT_DATE}, {"timestamp", VT_DATE}, {"timestampz", VT_DATE},
    {"abstime", VT_DATE}, {"date", VT_DATE}, {"time without time zone", VT_DATE},
    {"time", VT_DATE}, {"timestamp without time zone", VT_DATE},
    {"timestamp with time zone", VT_DATE},
    // The catalog's own spellings of the zoned types (pg_type names, information_schema).
    {"timestamptz", VT_DATE}, {"timetz", VT_DATE}, {"time with time zone", VT_DATE},
    {"character varying", VT_BSTR}, {"\"char\"", VT_BSTR}, {"character_data", VT_BSTR},
    {"char", VT_BSTR}, {"text", VT_BSTR}, {"xml", VT_BSTR}, {"macaddt", VT_BSTR},
    {"bigint", VT_I8}, {"bigserial", VT_I8}, {"int8", VT_I8},
    {"integer", VT_I4}, {"int4", VT_I4}, {"serial", VT_I4},
    {"smallint", VT_I2}, {"int2", VT_I2},
    {"float4", VT_R4},
    {"real", VT_R8}, {"money", VT_R8}, {"double precision", VT_R8}, {"float8", VT_R8},
    {"numeric", VT_DECIMAL}, {"decimal", VT_DECIMAL},
    {"anyarray", VT_BSTR}, {"cardinal_number", VT_BSTR}, {"interval", VT_BSTR},
    {"name", VT_BSTR}, {"oid", VT_BSTR}, {"cid", VT_BSTR}, {"xid", VT_BSTR}, {"tid", VT_BSTR},
    {"uuid", VT_BSTR}, {"oidvector", VT_BSTR}, {"regproc", VT_BSTR}, {"sql_identifier", VT_BSTR},
    {"bytea", VT_BYTE_ARRAY},
};

struct oid_row {
    std::uint32_t oid;
    VARTYPE vt;
};
constexpr oid_row oid_rows[] = {
    {16, VT_BOOL},    {17, VT_BYTE_ARRAY}, {20, VT_I8},     {21, VT_I2},     {23, VT_I4},
    {700, VT_R4},     {701, VT_R8},        {790, VT_R8},    {702, VT_DATE},  {1082, VT_DATE},
    {1083, VT_DATE},  {1114, VT_DATE},     {1184, VT_DATE}, {1266, VT_DATE}, {1700, VT_DECIMAL},
};

}  // namespace

pgs_type_choice pgs_map_type(const pgs_column_shape& shape, bool name_only)
{
    for (const auto& row : type_rows) {
        if (!row_matches(row, shape)) continue;
        const wchar_t* pattern = name_only ? row.name_only : row.full;
        if (shape.auto_increment && row.serial) pattern = row.serial;
        if (row.kind == pgs_value_kind::date) {
            // A date's scale is its count of fractional second digits; PostgreSQL keeps 0 to 6
            // and refuses a negative count, so anything else a source reports is brought in range.
            pgs_column_shape fitted = shape;
            fitted.scale = std::clamp(shape.scale, 0, pgs_max_time_precision);
            return {fill_sizes(pattern, fitted), row.kind};
        }
        return {fill_sizes(pattern, shape), row.kind};
    }
    throw tk_mail_assertion("pgs_util", 207);
}

pgs_value_kind pgs_get_value_kind(VARTYPE vt, std::uint32_t subtype)
{
    switch (vt) {
    case VT_NULL: return pgs_value_kind::null_only;
    case VT_DATE: return pgs_value_kind::date;
    case VT_BSTR:
    case VT_LPWSTR:
        return (subtype & text_code) == pgs_subtype::uuid ? pgs_value_kind::uuid_text
                                                          : pgs_value_kind::text;
    case VT_BOOL: return pgs_value_kind::boolean;
    case VT_BLOB:
    case VT_BLOB_OBJECT:
    case VT_BYTE_ARRAY: return pgs_value_kind::bytea;
    default: return pgs_value_kind::number;
    }
}

std::wstring pgs_get_native_type1(const t_ftd& column, bool name_only)
{
    tk_write_wlog(1, L"pgs_get_native_type1(name=%s,vt=%d)", column.name.c_str(), int(column.vartype));
    if (!column.nativetype.empty()) return column.nativetype;
    pgs_column_shape shape;
    shape.vt = column.vartype;
    shape.subtype = static_cast<std::uint32_t>(column.dw_reserved);
    shape.size = column.size;
    shape.precision = column.precision;
    shape.scale = column.scale;
    shape.auto_increment = column.auto_increment;
    return pgs_map_type(shape, name_only).type_text;
}

std::wstring pgs_get_native_type2(const pgs_native_type& native)
{
    tk_write_wlog(1, L"pgs_get_native_type2(%s)", native.type.c_str());
    const std::wstring& name = native.type;
    // A name that already carries its size keeps it: a second one would make the type invalid.
    if (name.find(L'(') != std::wstring::npos) return name;
    char digits[48];
    // VARCHAR without a length is unbounded and CHAR without one is CHAR(1); a length of 0
    // would be refused, so those keep the bare name. CHAR on its own would refuse every value
    // longer than one character, so a fixed-width text keeps its length as VARCHAR does.
    const bool varchar = name.size() >= 7 && name.compare(0, 7, L"VARCHAR") == 0;
    const bool fixed_char = name.size() >= 4 && name.compare(0, 4, L"CHAR") == 0;
    if (varchar || fixed_char) {
        if (native.length == 0) return name;
        auto res = std::to_chars(digits, digits + sizeof digits, native.length);
        std::wstring r = name + L"(";
        r.append(digits, res.ptr);
        return r + L")";
    }
    // NUMERIC is the same type under its other name: its sizes must not be dropped.
    if ((name.size() >= 7 && name.compare(0, 7, L"DECIMAL") == 0) ||
        (name.size() >= 7 && name.compare(0, 7, L"NUMERIC") == 0)) {
        if (native.precision <= 0) return name;  // unbounded; precision 0 would be refused
        std::wstring r = name + L"(";
        auto res = std::to_chars(digits, digits + sizeof digits, native.precision);
        r.append(digits, res.ptr);
        r += L",";
        res = std::to_chars(digits, digits + sizeof digits, native.scale);
        r.append(digits, res.ptr);
        return r + L")";
    }
    return name;
}

VARTYPE pgs_get_vartype1(std::string_view name)
{
    tk_write_log(1, "pgs_get_vartype1(%s)", std::string(name).c_str());
    // A size or precision does not change the kind: "timestamp(6) with time zone" is read as
    // "timestamp with time zone", "numeric(20)" as "numeric".
    std::string bare;
    if (name.find('(') != std::string_view::npos) {
        int depth = 0;
        for (char c : name) {
            if (c == '(') ++depth;
            else if (c == ')' && depth > 0) --depth;
            else if (depth == 0 && !(c == ' ' && (bare.empty() || bare.back() == ' '))) bare += c;
        }
        while (!bare.empty() && bare.back() == ' ') bare.pop_back();
        name = bare;
    }
    for (const auto& row : name_rows)
        if (row.name == name) return row.vt;
    return VT_BSTR;
}

VARTYPE pgs_get_vartype2(std::uint32_t oid)
{
    tk_write_log(1, "pgs_get_vartype2(%d)", static_cast<int>(oid));
    for (const auto& row : oid_rows)
        if (row.oid == oid) return row.vt;
    return VT_BSTR;
}

VARTYPE pgs_native_type::get_udb_type() const
{
    tk_write_log(1, "pgs_native_type::get_udb_type");
    return pgs_get_vartype1(tk_to_lower(tk_unicode_to_ansi(type)));
}

ole_variant pgs_get_variant(VARTYPE vt, const char* text)
{
    tk_write_log(1, "pgs_get_variant(char)");
    if (!text) return ole_variant();
    tk_write_log(1, "Type=%d, src=%s", int(vt), text);
    if (vt == VT_BOOL) {
        std::string_view t(text);
        if (t.empty() || tk_equal_no_case(t, "false")) return ole_variant(false);
        if (tk_equal_no_case(t, "true")) return ole_variant(true);
        if (tk_equal_no_case(t, "(0)::bit(1)")) {
            tk_write_log(1, "Got bit-form of 'false'");
            return ole_variant(false);
        }
        if (tk_equal_no_case(t, "(1)::bit(1)")) {
            tk_write_log(1, "Got bit-form of 'true'");
            return ole_variant(true);
        }
        return ole_variant(true);
    }
    try {
        return ole_variant::from_string(text, vt);
    } catch (const ole_cast_exception&) {
        // A catalog default that is an expression ("(2 * 3)", "nextval(...)") has no value
        // of the column's kind.
        tk_write_log(1, "Not a value of the column's kind: %s", text);
        return ole_variant();
    } catch (const ole_type_exception&) {
        tk_write_log(1, "Not a value of the column's kind: %s", text);
        return ole_variant();
    }
}

std::wstring pgs_get_safe_substr(std::wstring_view name, int budget)
{
    tk_write_wlog(1, L"pgs_get_safe_substr(%s,%d)", std::wstring(name).c_str(), budget);
    if (budget <= 1) return {};
    std::wstring r = pgs_cut_to_bytes(name, static_cast<std::size_t>(budget - 1));
    tk_write_log(1, "wlen=%d\n", static_cast<int>(r.size()));
    return r;
}

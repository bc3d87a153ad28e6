#include "SQL/sql_types.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>

#include "SQL/sql_engine.h"
#include "SQL/sql_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_field.h"
#include "UDB/udb_schema.h"

namespace {

// Reading kinds by type code: one row per code, signed and unsigned kind, and the path the
// value's bytes take. String and blob codes are decided by the character set (see below).
struct type_rule {
    int type;
    VARTYPE signed_vt;
    VARTYPE unsigned_vt;
    sql_value_path path;
};

constexpr type_rule k_type_rules[] = {
    {MYSQL_TYPE_DECIMAL, VT_DECIMAL, VT_DECIMAL, sql_value_path::decimal},
    {MYSQL_TYPE_NEWDECIMAL, VT_DECIMAL, VT_DECIMAL, sql_value_path::decimal},
    {MYSQL_TYPE_TINY, VT_I1, VT_UI1, sql_value_path::integer},
    {MYSQL_TYPE_SHORT, VT_I2, VT_UI2, sql_value_path::integer},
    {MYSQL_TYPE_LONG, VT_I4, VT_UI4, sql_value_path::integer},
    // MEDIUMINT UNSIGNED (at most 16777215) fits the signed 32-bit kind.
    {MYSQL_TYPE_INT24, VT_I4, VT_I4, sql_value_path::integer},
    {MYSQL_TYPE_LONGLONG, VT_I8, VT_UI8, sql_value_path::integer},
    {MYSQL_TYPE_FLOAT, VT_R4, VT_R4, sql_value_path::real},
    {MYSQL_TYPE_DOUBLE, VT_R8, VT_R8, sql_value_path::real},
    {MYSQL_TYPE_TIMESTAMP, VT_DATE, VT_DATE, sql_value_path::date},
    {MYSQL_TYPE_DATE, VT_DATE, VT_DATE, sql_value_path::date},
    {MYSQL_TYPE_TIME, VT_DATE, VT_DATE, sql_value_path::time_of_day},
    {MYSQL_TYPE_DATETIME, VT_DATE, VT_DATE, sql_value_path::date},
    {MYSQL_TYPE_YEAR, VT_UI2, VT_UI2, sql_value_path::integer},
    {MYSQL_TYPE_BIT, VT_BOOL, VT_BOOL, sql_value_path::boolean_bit},
};

const type_rule* find_rule(int type) noexcept
{
    for (const auto& r : k_type_rules)
        if (r.type == type) return &r;
    return nullptr;
}

bool is_blob_type(int type) noexcept { return type >= MYSQL_TYPE_TINY_BLOB && type <= MYSQL_TYPE_BLOB; }
bool is_string_type(int type) noexcept
{
    return is_blob_type(type) || type == MYSQL_TYPE_VAR_STRING || type == MYSQL_TYPE_STRING ||
           type == MYSQL_TYPE_VARCHAR;
}

bool engine_blob_to_text()
{
    return sql_engine::instance()->is_blob_to_text();
}

bool is_unsigned_kind(VARTYPE vt) noexcept
{
    return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT;
}

// An integer of the plan's kind; false when the text is not a plain integer that fits.
bool make_integer(VARTYPE vt, std::string_view s, ole_variant& out)
{
    const char* b = s.data();
    const char* e = b + s.size();
    if (is_unsigned_kind(vt)) {
        std::uint64_t u = 0;
        auto r = std::from_chars(b, e, u);
        if (r.ec != std::errc() || r.ptr != e) return false;
        switch (vt) {
        case VT_UI1: if (u > 0xFF) return false; out = static_cast<unsigned char>(u); return true;
        case VT_UI2: if (u > 0xFFFF) return false; out = static_cast<unsigned short>(u); return true;
        case VT_UI4:
        case VT_UINT: if (u > 0xFFFFFFFFu) return false; out = static_cast<unsigned int>(u); return true;
        default: out = static_cast<unsigned long long>(u); return true;
        }
    }
    std::int64_t v = 0;
    auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e) return false;
    switch (vt) {
    case VT_I1: if (v < -128 || v > 127) return false; out = static_cast<signed char>(v); return true;
    case VT_I2: if (v < -32768 || v > 32767) return false; out = static_cast<short>(v); return true;
    case VT_I4:
    case VT_INT:
        if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) return false;
        out = static_cast<int>(v);
        return true;
    case VT_I8: out = static_cast<long long>(v); return true;
    default: return false;
    }
}

bool make_bits(VARTYPE vt, const char* v, unsigned long length, ole_variant& out)
{
    if (length > 8) return false;
    std::uint64_t u = 0;
    for (unsigned long i = 0; i < length; ++i) u = (u << 8) | static_cast<unsigned char>(v[i]);
    switch (vt) {
    case VT_UI1: if (u > 0xFF) return false; out = static_cast<unsigned char>(u); return true;
    case VT_UI2: if (u > 0xFFFF) return false; out = static_cast<unsigned short>(u); return true;
    case VT_UI4: if (u > 0xFFFFFFFFu) return false; out = static_cast<unsigned int>(u); return true;
    case VT_I8: out = static_cast<long long>(u); return true;
    default: out = static_cast<unsigned long long>(u); return true;
    }
}

// MySQL writes an unknown date as zeros; such a value has no calendar meaning.
bool is_zero_date(std::string_view s) noexcept
{
    return s.size() >= 10 && s.substr(0, 10) == "0000-00-00" &&
           s.find_first_not_of("0-: .", 10) == std::string_view::npos;
}

std::string_view text_of(const char* v, unsigned long length) noexcept
{
    // For conversions to other kinds the text ends at its first zero byte.
    const void* z = std::memchr(v, 0, length);
    return std::string_view(v, z ? static_cast<const char*>(z) - v : length);
}

[[noreturn]] void throw_value_error(const sql_column_plan& plan, std::string_view text, const char* what)
{
    std::string msg = "Column '" + tk_unicode_to_utf8(plan.name) + "': the value '" + std::string(text) + "' " + what;
    throw sql_exception(0u, msg);
}

}  // namespace

// --- kinds ---------------------------------------------------------------------------------

VARTYPE sql_bits_kind(unsigned long bits) noexcept
{
    if (bits <= 8) return VT_UI1;
    if (bits <= 16) return VT_UI2;
    if (bits <= 32) return VT_UI4;
    return VT_UI8;
}

bool sql_is_binary_column(const MYSQL_FIELD& field) noexcept
{
    // BINARY_FLAG is also set for text with a binary collation (utf8mb4_bin, JSON); only the
    // "binary" character set marks bytes.
    if (field.type == MYSQL_TYPE_GEOMETRY) return true;
    return is_string_type(field.type) && field.charsetnr == sql_charset_binary;
}

VARTYPE get_vartype(int type, unsigned flags)
{
    tk_write_log(1, "get_vartype(%d,%d)", type, static_cast<int>(flags));
    if (const type_rule* r = find_rule(type)) return (flags & UNSIGNED_FLAG) ? r->unsigned_vt : r->signed_vt;
    if (is_blob_type(type)) {
        bool b2t = engine_blob_to_text();
        tk_write_log(1, "Processing BLOB, blob_to_text=%d", b2t ? 1 : 0);
        return b2t ? VT_BSTR : VT_BYTE_ARRAY;
    }
    if (type == MYSQL_TYPE_VAR_STRING) return (flags & BINARY_FLAG) ? VT_BYTE_ARRAY : VT_BSTR;
    return VT_BSTR;
}

VARTYPE get_vartype(const MYSQL_FIELD& field)
{
    if (field.type == MYSQL_TYPE_BIT && field.length > 1) return sql_bits_kind(field.length);
    if (const type_rule* r = find_rule(field.type))
        return (field.flags & UNSIGNED_FLAG) ? r->unsigned_vt : r->signed_vt;
    if (sql_is_binary_column(field)) return engine_blob_to_text() ? VT_BSTR : VT_BYTE_ARRAY;
    return VT_BSTR;
}

// --- plans ---------------------------------------------------------------------------------

sql_column_plan sql_plan_for_field(const MYSQL_FIELD& field, bool blob_to_text)
{
    sql_column_plan p;
    p.name = tk_utf8_to_unicode(std::string_view(field.name, field.name_length));
    p.mysql_type = field.type;
    if (field.type == MYSQL_TYPE_GEOMETRY) {
        p.vt = VT_BSTR;
        p.path = sql_value_path::geometry;
    } else if (field.type == MYSQL_TYPE_BIT && field.length > 1) {
        p.vt = sql_bits_kind(field.length);
        p.path = sql_value_path::bits;
    } else if (const type_rule* r = find_rule(field.type)) {
        p.vt = (field.flags & UNSIGNED_FLAG) ? r->unsigned_vt : r->signed_vt;
        p.path = r->path;
    } else if (sql_is_binary_column(field) && !blob_to_text) {
        p.vt = VT_BYTE_ARRAY;
        p.path = sql_value_path::bytes;
    } else {
        p.vt = VT_BSTR;
        p.path = sql_value_path::text;
    }
    return p;
}

sql_column_plan sql_plan_for_column(const t_ftd& column, const MYSQL_FIELD& field, bool blob_to_text)
{
    sql_column_plan p;
    p.name = column.name;
    p.vt = column.vartype;
    p.mysql_type = field.type;
    if (field.type == MYSQL_TYPE_GEOMETRY) {
        // Its own bytes, never a text form: WKT rounds coordinates and drops the SRID.
        p.vt = VT_BSTR;
        p.path = sql_value_path::geometry;
        return p;
    }
    const bool bit = field.type == MYSQL_TYPE_BIT;
    switch (column.vartype) {
    case VT_BLOB:
    case VT_BLOB_OBJECT:
    case VT_BYTE_ARRAY:
        if (blob_to_text) {
            p.vt = VT_BSTR;
            p.path = sql_value_path::text;
        } else {
            p.vt = VT_BYTE_ARRAY;
            p.path = sql_value_path::bytes;
        }
        break;
    case VT_BSTR: p.path = sql_value_path::text; break;
    case VT_BOOL: p.path = bit ? sql_value_path::boolean_bit : sql_value_path::other; break;
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        p.path = bit ? sql_value_path::bits : sql_value_path::integer;
        break;
    case VT_R4: case VT_R8: p.path = sql_value_path::real; break;
    case VT_DECIMAL: p.path = sql_value_path::decimal; break;
    case VT_DATE:
        p.path = field.type == MYSQL_TYPE_TIME ? sql_value_path::time_of_day : sql_value_path::date;
        break;
    default: p.path = sql_value_path::other; break;
    }
    return p;
}

bool sql_time_in_day(std::string_view s) noexcept
{
    if (s.empty() || s.front() == '-') return false;
    std::size_t colon = s.find(':');
    if (colon == std::string_view::npos) colon = s.size();
    unsigned hours = 0;
    auto r = std::from_chars(s.data(), s.data() + colon, hours);
    if (r.ec != std::errc() || r.ptr != s.data() + colon) return false;
    return hours <= 23;
}

bool sql_is_end_of_day(std::string_view s) noexcept
{
    if (s.substr(0, 8) != "24:00:00") return false;
    s.remove_prefix(8);
    if (s.empty()) return true;
    if (s.front() != '.') return false;
    for (char c : s.substr(1))
        if (c != '0') return false;
    return true;
}

// --- values --------------------------------------------------------------------------------

void sql_read_value(const sql_column_plan& plan, const char* v, unsigned long length, udb_field& out)
{
    if (!v) {
        out.clear();
        out.set_size(0);
        return;
    }
    out.set_size(static_cast<std::uint32_t>(length));
    switch (plan.path) {
    case sql_value_path::text:
        // The whole value by its reported length: a zero byte inside is part of the text, and
        // cutting there would lose the rest without a word (the destination decides whether it
        // can hold it).
        out.attach_string(std::string_view(v, length));
        return;
    case sql_value_path::bytes:
        out.attach_binary(reinterpret_cast<const std::uint8_t*>(v), length);
        return;
    case sql_value_path::boolean_bit:
        out = length > 0 && v[0] != 0;
        return;
    case sql_value_path::bits:
        if (!make_bits(plan.vt, v, length, out)) throw_value_error(plan, "(bits)", "does not fit its kind");
        return;
    case sql_value_path::integer: {
        // Straight into the field (no value built and moved per row); the general reading
        // only for a text that is no plain integer of the kind.
        std::string_view s(v, length);
        if (!make_integer(plan.vt, s, out)) out.set_value(ole_variant::from_string(s, plan.vt));
        return;
    }
    case sql_value_path::real: {
        std::string_view s(v, length);
        if (plan.vt == VT_R4) {
            float f = 0;
            auto r = std::from_chars(s.data(), s.data() + s.size(), f);
            if (r.ec == std::errc() && r.ptr == s.data() + s.size()) {
                out = f;
                return;
            }
        } else if (plan.vt == VT_R8) {
            double d = 0;
            auto r = std::from_chars(s.data(), s.data() + s.size(), d);
            if (r.ec == std::errc() && r.ptr == s.data() + s.size()) {
                out = d;
                return;
            }
        }
        out.set_value(ole_variant::from_string(s, plan.vt));
        return;
    }
    case sql_value_path::decimal:
        out.set_value(ole_variant::from_string(std::string_view(v, length), plan.vt));
        return;
    case sql_value_path::date: {
        std::string_view s(v, length);
        if (is_zero_date(s)) {
            out.clear();
            return;
        }
        out.attach_date_text(s);
        // MySQL keeps dates with a zero month or day, the year 0 and (ALLOW_INVALID_DATES) a
        // day past the month's end. Unlike the all-zero date, which stands for "no date",
        // such a value holds a date that PostgreSQL has no form for: NULL in its place would
        // lose it without a word.
        if (out.is_empty()) throw_value_error(plan, s, "is no calendar date (a zero month or day, the year 0 or a day past the end of its month) and has no PostgreSQL form");
        return;
    }
    case sql_value_path::time_of_day: {
        std::string_view s(v, length);
        // MySQL's TIME is an interval of up to +-838:59:59; a time of day cannot hold more
        // than one day, and changing the value would corrupt it silently.
        if (!sql_time_in_day(s)) {
            // The end of the day is a time of day too (PostgreSQL takes it): carried as text.
            if (sql_is_end_of_day(s)) {
                out.set_value(ole_variant(std::wstring(L"24:00:00")));
                return;
            }
            throw_value_error(plan, s, "lies outside 00:00:00-24:00:00 and cannot be carried as a time of day");
        }
        out.attach_date_text(s);
        return;
    }
    case sql_value_path::geometry: {
        std::string hex;
        if (!sql_geometry_to_ewkb_hex(reinterpret_cast<const unsigned char*>(v), length, hex))
            throw_value_error(plan, "(bytes)", "is not a geometry value the reader knows");
        out.set_value(ole_variant(tk_utf8_to_unicode(hex)));
        return;
    }
    case sql_value_path::checked_text:
        // '=' then the text, or '!' then the column's own bytes in hexadecimal.
        if (length > 0 && v[0] == '=') {
            out.set_size(static_cast<std::uint32_t>(length - 1));
            out.attach_string(std::string_view(v + 1, length - 1));
            // UCS-2 and UTF-32 columns may hold a lone surrogate: it converts back to the same
            // bytes, so the check above passes it, but its "UTF-8" is no UTF-8 at all, and
            // reading it would put U+FFFD in its place without a word.
            if (!out.utf8_text()) {
                constexpr std::size_t shown = 64;  // bytes named in the message
                const std::size_t n = std::min<std::size_t>(length - 1, shown);
                std::string bytes = "0x" + tk_bin_to_hex(v + 1, n);
                if (length - 1 > shown) bytes += "...";
                throw_value_error(plan, bytes,
                                  "(as the server sends it) holds a character that has no UTF-8 form "
                                  "(a lone surrogate)");
            }
            return;
        }
        {
            constexpr std::size_t shown = 64;  // hexadecimal digits named in the message
            std::string bytes(v + (length > 0 ? 1 : 0), length > 0 ? length - 1 : 0);
            if (bytes.size() > shown) bytes = bytes.substr(0, shown) + "...";
            throw_value_error(plan, "0x" + bytes,
                              "holds bytes that its character set gives no UTF-8 form (the server would send "
                              "'?' in their place)");
        }
    case sql_value_path::other:
        out.set_value(ole_variant::from_string(text_of(v, length), plan.vt));
        return;
    }
}

// --- geometry ----------------------------------------------------------------------------

namespace {

constexpr std::uint32_t ewkb_srid_flag = 0x20000000u;

std::uint32_t read_u32(const unsigned char* p, bool little) noexcept
{
    return little ? (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                     std::uint32_t(p[3]) << 24)
                  : (std::uint32_t(p[3]) | std::uint32_t(p[2]) << 8 | std::uint32_t(p[1]) << 16 |
                     std::uint32_t(p[0]) << 24);
}

void put_u32(std::string& out, std::uint32_t v, bool little)
{
    for (int i = 0; i < 4; ++i) {
        const int shift = little ? 8 * i : 8 * (3 - i);
        out += static_cast<char>((v >> shift) & 0xFF);
    }
}

void append_hex(std::string& out, const unsigned char* p, std::size_t n)
{
    const std::size_t at = out.size();
    out.resize(at + 2 * n + 1);
    tk_bin_to_hex(n, p, out.data() + at);
    out.pop_back();  // the terminator
}

}  // namespace

bool sql_geometry_to_ewkb_hex(const unsigned char* value, std::size_t length, std::string& hex)
{
    hex.clear();
    // SRID, byte order, type word: the least a geometry holds.
    if (!value || length < 9) return false;
    const std::uint32_t srid = read_u32(value, true);
    const unsigned char* wkb = value + 4;
    const std::size_t wkb_length = length - 4;
    if (wkb[0] > 1) return false;
    const bool little = wkb[0] == 1;
    const std::uint32_t type = read_u32(wkb + 1, little);
    if (srid == 0 || (type & ewkb_srid_flag)) {
        append_hex(hex, wkb, wkb_length);
        return true;
    }
    std::string head;
    head += static_cast<char>(wkb[0]);
    put_u32(head, type | ewkb_srid_flag, little);
    put_u32(head, srid, little);
    hex.reserve(2 * (head.size() + wkb_length - 5));
    append_hex(hex, reinterpret_cast<const unsigned char*>(head.data()), head.size());
    append_hex(hex, wkb + 5, wkb_length - 5);
    return true;
}

bool sql_ewkb_hex_to_wkb(std::string_view hex, std::string& wkb, std::uint32_t& srid)
{
    wkb.clear();
    srid = 0;
    std::string bytes;
    if (hex.size() < 10 || !tk_hex_to_bin(hex, bytes)) return false;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    if (b[0] > 1) return false;
    const bool little = b[0] == 1;
    const std::uint32_t type = read_u32(b + 1, little);
    if (!(type & ewkb_srid_flag)) {
        wkb = std::move(bytes);
        return true;
    }
    if (bytes.size() < 9) return false;
    srid = read_u32(b + 5, little);
    wkb += bytes[0];
    put_u32(wkb, type & ~ewkb_srid_flag, little);
    wkb.append(bytes, 9, std::string::npos);
    return true;
}

// --- text whose bytes the server may not be able to show -----------------------------------

bool sql_charset_may_lose_bytes(std::string_view charset)
{
    if (charset.empty()) return false;
    for (std::string_view whole : {"utf8mb4", "utf8mb3", "utf8", "latin1", "binary"})
        if (tk_equal_no_case(charset, whole)) return false;
    return true;
}

std::string sql_checked_text_select(const std::string& quoted_name, std::string_view charset)
{
    // The character set name comes from the server's catalog; only plain names are used.
    std::string cs;
    for (char c : charset)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') cs += c;
    const std::string as_utf8 = "CONVERT(" + quoted_name + " USING utf8mb4)";
    return "CASE WHEN " + quoted_name + " IS NULL THEN NULL WHEN CAST(CONVERT(" + as_utf8 + " USING " + cs +
           ") AS BINARY) = CAST(" + quoted_name + " AS BINARY) THEN CONCAT('=', " + as_utf8 +
           ") ELSE CONCAT('!', HEX(" + quoted_name + ")) END AS " + quoted_name;
}

ole_variant get_variant(int type, unsigned long length, unsigned flags, const char* value)
{
    tk_write_log(1, "get_variant(2), type=%d, lenght=%d", type, static_cast<int>(length));
    MYSQL_FIELD f{};
    f.name = const_cast<char*>("");
    f.type = static_cast<enum_field_types>(type);
    f.flags = flags;
    f.length = 1;
    // Without a character set, BINARY_FLAG stands for bytes as the flags form of the rules has it.
    f.charsetnr = (flags & BINARY_FLAG) ? sql_charset_binary : 45;
    sql_column_plan plan = sql_plan_for_field(f, engine_blob_to_text());
    udb_field out;
    sql_read_value(plan, value, length, out);
    return std::move(out.value());
}

ole_variant get_variant(VARTYPE kind, const char* text)
{
    tk_write_log(1, "get_variant(char)");
    if (!text) return ole_variant();
    if (kind == VT_BOOL) return ole_variant(text[0] != 0);
    return ole_variant::from_string(std::string_view(text), kind);
}

ole_variant get_variant(VARTYPE kind, const wchar_t* text)
{
    tk_write_log(1, "get_variant(wchar_t)");
    if (!text) return ole_variant();
    if (kind == VT_BOOL) return ole_variant(text[0] != 0);
    return ole_variant::from_wstring(std::wstring_view(text), kind);
}

// --- writing side: column type texts --------------------------------------------------------

std::wstring get_mysql_type_name(int number)
{
    static const wchar_t* const names[] = {
        L"BINARY", L"BIT", L"TINYINT", L"TINYINT UNSIGNED", L"SMALLINT", L"SMALLINT UNSIGNED",
        L"INT", L"INT UNSIGNED", L"BIGINT", L"BIGINT UNSIGNED", L"FLOAT", L"DECIMAL", L"DOUBLE",
        L"CHAR", L"VARBINARY", L"VARCHAR", L"DATETIME", L"DATE", L"TIME", L"TIMESTAMP",
        L"LONGBLOB", L"TINYBLOB", L"BLOB", L"MEDIUMBLOB", L"TEXT", L"LONGTEXT", L"MEDIUMTEXT",
        L"TINYTEXT"};
    if (number < 0 || number >= static_cast<int>(std::size(names))) {
        tk_write_log(1, "Type %d wasn't found", number);
        return L"<Unknown type>";
    }
    return names[number];
}

std::wstring get_sql_native_type2(const t_ftd& column)
{
    tk_write_wlog(1, L"get_sql_native_type2: %s(%d,%d,%d)", column.name.c_str(), int(column.vartype),
                  int(column.size), int(column.dw_reserved));
    auto sized = [](int n, unsigned long s) { return get_mysql_type_name(n) + L"(" + std::to_wstring(s) + L")"; };
    const unsigned long s = column.size;
    switch (column.vartype) {
    case VT_I1: return get_mysql_type_name(2);
    case VT_UI1: return get_mysql_type_name(3);
    case VT_I2: return get_mysql_type_name(4);
    case VT_UI2: return get_mysql_type_name(5);
    case VT_I4: case VT_INT: return get_mysql_type_name(6);
    case VT_UI4: case VT_UINT: return get_mysql_type_name(7);
    case VT_I8: return get_mysql_type_name(8);
    case VT_UI8: return get_mysql_type_name(9);
    case VT_R4: return get_mysql_type_name(10);
    case VT_R8: return get_mysql_type_name(12);
    case VT_CY: return L"DECIMAL(19,4)";
    case VT_BOOL: return L"TINYINT(1)";
    case VT_DECIMAL:
        tk_write_log(1, "Scale/precision for decimal column: (%d, %d)", column.scale, column.precision);
        if (column.precision == 0) return get_mysql_type_name(12);
        return L"DECIMAL(" + std::to_wstring(column.precision) + L"," + std::to_wstring(column.scale) + L")";
    case VT_DATE: {
        std::wstring def = column.default_value.is_empty() ? std::wstring() : column.default_value.to_wstring();
        tk_write_wlog(1, L"Got date def.value: '%s'", def.c_str());
        for (const wchar_t* now : {L"NOW()", L"sysdate", L"getdate()", L"getutcdate()", L"CURRENT_TIMESTAMP"}) {
            if (column.dw_reserved == 9 || tk_equal_no_case(def, std::wstring_view(now))) {
                tk_write_log(2, "Customize date type due to NOW() def.value");
                return get_mysql_type_name(19);
            }
        }
        if (column.dw_reserved == 10 || tk_equal_no_case(def, std::wstring_view(L"date()"))) {
            tk_write_log(2, "Customize date type due to date() def.value");
            return get_mysql_type_name(17);
        }
        switch (column.dw_reserved % 4) {
        case 1: return get_mysql_type_name(16);
        case 2: return get_mysql_type_name(17);
        case 3: return get_mysql_type_name(18);
        default: return L"CHAR(19)";
        }
    }
    case VT_BSTR:
        tk_write_log(1, "process as text");
        if (column.dw_reserved == 2 || column.dw_reserved == 8) return L"geometry";
        if (column.dw_reserved == 16) return sized(13, s);
        if (s >= 1 && s <= 21845) {
            return sized(15, s) + (sql_engine::instance()->is_binary_text() ? L" BINARY" : L"");
        }
        if (s >= 21846 && s <= 5592405)
            return get_mysql_type_name(26) + (sql_engine::instance()->is_binary_text() ? L" BINARY" : L"");
        return get_mysql_type_name(25);
    case VT_BLOB:
    case VT_BYTE_ARRAY:
        tk_write_log(1, "process as blob");
        if (s >= 1 && s <= 255) return sized(14, s);
        if (s >= 256 && s <= 65535) return get_mysql_type_name(22);
        if (s >= 65536 && s <= 16777215) return get_mysql_type_name(23);
        return get_mysql_type_name(20);
    default: throw tk_mail_assertion("sql_util", 604);
    }
}

#include "SQL/sql_literals.h"

#include <charconv>
#include <cstdint>

#include "SQL/sql_engine.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_types.h"
#include "TK/ole_guid.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_custom_conversion.h"
#include "UDB/udb_field.h"
#include "UDB/udb_schema.h"
#include "platform/pf_text.h"

namespace {

// Literals are escaped for the session's character set and mode; before there is a session
// the library's default rules apply.
st_mysql* escape_connection() noexcept
{
    sql_engine* e = sql_engine::try_instance();
    return e && e->is_connected() ? e->connection() : nullptr;
}

bool is_binary_kind(VARTYPE kind) noexcept
{
    return kind == VT_BLOB || kind == VT_BLOB_OBJECT || kind == VT_BYTE_ARRAY;
}

bool is_hex_digit(char c) noexcept
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// A binary value given as text may already be a number or hexadecimal literal: 0x and at least
// one hexadecimal digit, or two or more decimal digits.
bool is_binary_literal_text(std::string_view t) noexcept
{
    if (t.size() < 2) return false;
    if (t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        if (t.size() == 2) return false;
        for (std::size_t i = 2; i < t.size(); ++i)
            if (!is_hex_digit(t[i])) return false;
        return true;
    }
    for (char c : t)
        if (!is_digit(c)) return false;
    return true;
}

// The printed form of a date for MySQL: a time of day alone prints without a date part (a
// TIME column would not read "0000-00-00 10:20:30" as its time).
void append_date_text(std::string& out, const ole_date& d)
{
    if (d.get_type() == ole_date::type_time) d.append_wide_form_to(out, 6);
    else d.append_to(out, 6);
}

ole_date read_date(std::string_view text)
{
    ole_date d(text);
    if (!d.is_valid() || d.get_type() == ole_date::type_invalid)
        throw tk_exception("The value '" + std::string(text) + "' cannot be read as a date", 0);
    return d;
}

// The whole text of a text value, zero characters included (the toolkit's text forms end at
// the first one).
std::string full_utf8_text(const udb_field& f)
{
    if (f.get_type() == VT_BSTR) {
        if (const std::string* utf8 = f.utf8_text()) return *utf8;
        return pf_wide_to_utf8(f.get_wstring());
    }
    return f.to_string();
}

template <class Int>
bool reprints_as(std::string_view text)
{
    Int v{};
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
    char buf[32];
    auto w = std::to_chars(buf, buf + sizeof buf, v);
    return std::string_view(buf, static_cast<std::size_t>(w.ptr - buf)) == text;
}

}  // namespace

bool sql_is_number_text(std::string_view t) noexcept
{
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < t.size() && is_digit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && is_digit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < t.size() && is_digit(t[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == t.size();
}

void sql_append_value(std::string& out, std::string_view text, VARTYPE kind)
{
    tk_write_log(1, "to_mysql_str(%.*s)", static_cast<int>(text.size() > 200 ? 200 : text.size()), text.data());
    if (kind == VT_EMPTY || kind == VT_NULL) {
        tk_write_log(1, "******* NULL VALUE ******");
        out += "NULL";
        return;
    }
    if (text.empty()) {
        out += "''";
        return;
    }
    if (kind == VT_DATE) {
        std::string printed;
        append_date_text(printed, read_date(text));
        sql_append_literal(out, escape_connection(), printed);
        return;
    }
    if (kind == VT_BSTR) {
        // A text holding a GUID is written whole like any text: the GUID may be only part of
        // the value, and a value is never cut.
        sql_append_literal(out, escape_connection(), text);
        return;
    }
    if (is_binary_kind(kind)) {
        tk_write_log(1, "GOT BLOB");
        if (is_binary_literal_text(text)) {
            tk_write_log(1, "BLOB IS VALID");
            out += text;
        } else {
            sql_append_literal(out, escape_connection(), text);
        }
        return;
    }
    if (ole_variant::is_numeric_type(kind) && sql_is_number_text(text)) {
        out += text;
        return;
    }
    // A numeric kind whose text is no plain number, and every other kind: quoted, so that
    // nothing in the text can change the statement.
    sql_append_literal(out, escape_connection(), text);
}

std::string to_mysql_str(std::string_view text, VARTYPE kind)
{
    std::string out;
    sql_append_value(out, text, kind);
    return out;
}

std::wstring to_mysql_wstr(std::wstring_view text, VARTYPE kind)
{
    return pf_utf8_to_wide(to_mysql_str(pf_wide_to_utf8(text), kind));
}

void sql_append_field(std::string& out, const udb_field& f)
{
    tk_write_log(1, "to_mysql_str");
    if (f.is_binary()) {
        tk_write_log(1, "special processing for BLOBs");
        const auto& bytes = f.get_byte_vector();
        if (bytes.empty()) {
            // An empty byte string is a value, not NULL.
            out += "''";
            return;
        }
        out += "0x";
        const std::size_t at = out.size();
        out.resize(at + bytes.size() * 2 + 1);
        tk_bin_to_hex(bytes.size(), bytes.data(), out.data() + at);
        out.resize(at + bytes.size() * 2);
        tk_write_log(1, "to_mysql_str - at the END");
        return;
    }
    if (f.get_type() == VT_DATE) {
        std::string printed;
        append_date_text(printed, f.get_date());
        sql_append_literal(out, escape_connection(), printed);
        return;
    }
    if (f.is_empty()) {
        out += "NULL";
        return;
    }
    sql_append_value(out, full_utf8_text(f), f.get_type());
}

std::string to_mysql_str(const udb_field& field)
{
    std::string out;
    sql_append_field(out, field);
    return out;
}

void sql_append_fld_value(std::string& out, const udb_field& field, const t_ftd& column, bool prepared)
{
    tk_write_log(1, "get_fld_append_str");
    const VARTYPE fkind = field.get_type();
    if (prepared && fkind != VT_EMPTY && field.get_data_size() > sql_long_data_threshold) {
        tk_write_log(1, "Returns placeholder for prepared statement");
        out += '?';
        return;
    }
    if (udb_custom_conversion::is_acceptable2(field)) {
        out += tk_unicode_to_utf8(udb_custom_conversion::handle2(field));
        return;
    }
    const std::size_t at = out.size();
    if (field.is_empty()) {
        out += "NULL";
    } else if (column.vartype == VT_BSTR && !field.is_binary()) {
        if (column.dw_reserved == udb_subtype::geometry || column.dw_reserved == udb_subtype::geography) {
            // A geometry read from a server travels as EWKB in hexadecimal; a text form (WKT)
            // may come from elsewhere.
            const std::string text = full_utf8_text(field);
            std::string wkb;
            std::uint32_t srid = 0;
            if (sql_ewkb_hex_to_wkb(text, wkb, srid)) {
                out += "ST_GeomFromWKB(X'" + tk_bin_to_hex(wkb.data(), wkb.size()) + "', " + std::to_string(srid) + ")";
            } else {
                out += "ST_GeomFromText(";
                sql_append_literal(out, escape_connection(), text);
                out += ')';
            }
        } else {
            sql_append_value(out, full_utf8_text(field), fkind);
        }
    } else if (ole_variant::is_numeric_type(column.vartype) && !ole_variant::is_numeric_type(fkind) &&
               !field.is_binary()) {
        // A text bound for a numeric column goes bare when it is a number.
        sql_append_value(out, full_utf8_text(field), column.vartype);
    } else {
        sql_append_field(out, field);
    }
    const std::string_view literal(out.data() + at, out.size() - at);
    const bool no_value = field.is_empty() || literal.empty() || literal == "\"\"" || literal == "''";
    if (!no_value) return;
    if (is_binary_kind(column.vartype)) return;
    // An empty text is a value of a text column.
    if (column.vartype == VT_BSTR && !field.is_empty()) return;
    out.resize(at);
    if (!column.b_not_null) {
        tk_write_log(1, "Put NULL-field");
        out += "NULL";
    } else {
        // The server puts in the column's default (the next number of an auto-increment
        // column); a column without one refuses the row, as it should.
        tk_write_log(1, "Put default value");
        out += "DEFAULT";
    }
}

std::string get_fld_append_str(const udb_field& field, const t_ftd& column, bool prepared)
{
    std::string out;
    sql_append_fld_value(out, field, column, prepared);
    return out;
}

std::wstring make_mysql_def_val(const t_ftd& column)
{
    const ole_variant& dv = column.default_value;
    std::wstring text = dv.is_empty() ? std::wstring() : dv.to_wstring();
    tk_write_wlog(1, L"make_mysql_def_val(%d,%s)", static_cast<int>(column.vartype), text.c_str());
    if (text == L"to_char(sysdate,'yyyy-mm-dd hh24:mi:ss')") {
        tk_write_log(3, "Cannot set def.value as current timetsamp for varchar column");
        return {};
    }
    const VARTYPE kind = column.vartype;
    if (kind == VT_DATE) {
        if (column.dw_reserved == udb_subtype::current_timestamp) return L"CURRENT_TIMESTAMP";
        if (column.dw_reserved == 10) return L"CURRENT_DATE()";
        if (column.dw_reserved == 11) return L"CURRENT_TIME()";
    }
    if (kind == VT_BSTR && !text.empty()) return to_mysql_wstr(text, VT_BSTR);
    if (text.empty()) return {};
    if (tk_equal_no_case(std::wstring_view(text), std::wstring_view(L"newid()"))) return {};

    const std::string narrow = tk_unicode_to_utf8(text);
    switch (kind) {
    case VT_I2: case VT_I4: case VT_BOOL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_INT:
    case VT_UINT:
        return reprints_as<std::int32_t>(narrow) ? text : std::wstring();
    case VT_I8:
        return reprints_as<std::int64_t>(narrow) ? text : std::wstring();
    case VT_UI8:
        return reprints_as<std::uint64_t>(narrow) ? text : std::wstring();
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: {
        // Used only when the whole text is a number (a comma read as the decimal point); the
        // text goes bare into the statement.
        std::string number = narrow;
        if (number.find('.') == std::string::npos && number.find(',') != std::string::npos &&
            number.find(',') == number.rfind(','))
            number[number.find(',')] = '.';
        if (!sql_is_number_text(number)) {
            tk_write_wlog(1, L"Default value '%s' is no number, dropped", text.c_str());
            return {};
        }
        return tk_utf8_to_unicode(number);
    }
    case VT_DATE: {
        tk_write_log(2, "Got DATE def value");
        for (const wchar_t* now : {L"getdate()", L"sysdate()", L"sysdate"})
            if (tk_equal_no_case(std::wstring_view(text), std::wstring_view(now))) return L"CURRENT_TIMESTAMP";
        ole_date d = dv.get_type() == VT_DATE ? dv.get_date() : ole_date(narrow);
        if (!d.is_valid() || d.get_type() == ole_date::type_invalid) {
            tk_write_wlog(2, L"Default value '%s' is no date, dropped", text.c_str());
            return {};
        }
        if ((column.dw_reserved & 3) == 2) d.type = ole_date::type_date;
        else if ((column.dw_reserved & 3) == 3) d.type = ole_date::type_time;
        std::string printed;
        d.append_wide_form_to(printed, 6);
        tk_write_log(2, "After canonization: %s", printed.c_str());
        if (printed.empty()) return {};
        return tk_utf8_to_unicode(sql_quote_literal(escape_connection(), printed));
    }
    default:
        return {};
    }
}

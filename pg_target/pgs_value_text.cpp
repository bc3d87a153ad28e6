#include "pg_target/pgs_value_text.h"

#include <charconv>
#include <cmath>

#include "TK/ole_date.h"
#include "TK/ole_guid.h"
#include "TK/ole_variant.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_field.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"

namespace {

// Scratch text for the rare values that are first printed and then escaped; kept per thread so
// its capacity is reused from row to row.
std::string& scratch()
{
    thread_local std::string s;
    s.clear();
    return s;
}

void append_null(std::string& out, bool sql)
{
    if (sql)
        out += "NULL";
    else
        pgs_append_copy_null(out);
}

// Text of a column in the mode: escaped COPY field or quoted literal.
void append_text(std::string& out, std::wstring_view text, bool sql)
{
    if (sql)
        pgs_append_literal(out, text);
    else
        pgs_append_copy_text(out, text);
}


bool is_plain_number(std::string_view s) { return pgs_is_plain_number(s); }

bool is_plain_number(std::wstring_view s)
{
    if (s.size() > 400) return false;
    char buf[401];
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (static_cast<std::uint32_t>(s[i]) >= 0x80) return false;
        buf[i] = static_cast<char>(s[i]);
    }
    return is_plain_number(std::string_view(buf, s.size()));
}

// A number's text: unquoted when it is a plain number; otherwise a literal in SQL (the server
// decides what it makes of it) and an escaped field in COPY.
void append_number_text(std::string& out, std::string_view text, bool sql)
{
    if (text.empty()) {
        append_null(out, sql);
    } else if (!sql) {
        pgs_append_copy_text(out, text);
    } else if (is_plain_number(text)) {
        out += text;
    } else {
        pgs_append_literal(out, text);
    }
}

template <class Int>
void append_int(std::string& out, Int v)
{
    char digits[24];
    auto r = std::to_chars(digits, digits + sizeof digits, v);
    out.append(digits, r.ptr);
}

template <class Float>
void append_float(std::string& out, Float v, bool sql)
{
    if (std::isnan(v)) {
        out += sql ? "'NaN'" : "NaN";
    } else if (std::isinf(v)) {
        out += v > 0 ? (sql ? "'Infinity'" : "Infinity") : (sql ? "'-Infinity'" : "-Infinity");
    } else {
        // Shortest text that reads back as the same value: exact, locale-free.
        char digits[48];
        auto r = std::to_chars(digits, digits + sizeof digits, v);
        out.append(digits, r.ptr);
    }
}

bool is_ascii_space(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// Whether a text means false for a boolean column: a numeric zero, or f/false/n/no/off.
bool is_false_text(std::wstring_view t)
{
    while (!t.empty() && is_ascii_space(t.front())) t.remove_prefix(1);
    while (!t.empty() && is_ascii_space(t.back())) t.remove_suffix(1);
    if (is_plain_number(t)) {
        for (wchar_t c : t) {
            if (c == L'e' || c == L'E') break;
            if (c >= L'1' && c <= L'9') return false;
        }
        return true;
    }
    static constexpr std::wstring_view false_words[] = {L"f", L"false", L"n", L"no", L"off"};
    for (auto w : false_words)
        if (tk_equal_no_case(t, w)) return true;
    return false;
}

void append_bool(std::string& out, bool v, bool sql)
{
    if (sql)
        out += v ? "'t'" : "'f'";
    else
        out += v ? 't' : 'f';
}

bool is_hex_digit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

void append_bytea(std::string& out, const std::uint8_t* data, std::size_t size, bool sql)
{
    if (sql)
        pgs_append_bytea_literal(out, data, size);
    else
        pgs_append_copy_bytea(out, data, size);
}

// A text for a bytea column: 0x followed by hexadecimal digits is the bytes it spells (the text
// form of a binary value); any other text is stored as its UTF-8 bytes.
void append_bytea_text(std::string& out, std::wstring_view text, bool sql)
{
    bool hex = text.size() >= 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    for (std::size_t i = 2; hex && i < text.size(); ++i) hex = is_hex_digit(text[i]);
    if (hex) {
        std::string& digits = scratch();
        for (std::size_t i = 2; i < text.size(); ++i) digits += static_cast<char>(text[i]);
        if (sql) {
            pgs_append_bytea_literal_hex(out, digits);
        } else {
            out += "\\\\x";
            out += digits;
        }
        return;
    }
    std::string& bytes = scratch();
    pgs_append_utf8(bytes, text);
    append_bytea(out, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), sql);
}

// A date in the column's date kind; invalid and zero dates are NULL.
void append_date(std::string& out, ole_date d, std::uint32_t subtype, bool sql)
{
    if (!d.is_valid()) {
        tk_write_log(3, "Date '%s' is not valid", d.to_string(6).c_str());
        append_null(out, sql);
        return;
    }
    // The zero date (0000-00-00, with or without a time) has no PostgreSQL form; a column with a
    // date part stores NULL for it. The parser reads 0000-00-00 hh:mm:ss as a bare time of day,
    // so any value without a date counts as the zero date there.
    if ((subtype & pgs_subtype::date_kind_mask) != pgs_subtype::time_only && d.year() == 0 &&
        d.month() == 0 && d.day() == 0) {
        tk_write_log(1, "0000-00-00 date has been found");
        append_null(out, sql);
        return;
    }
    switch (subtype & pgs_subtype::date_kind_mask) {
    case 1: d.type = ole_date::type_date_time; break;
    case 2: d.type = ole_date::type_date; break;
    case 3: d.type = ole_date::type_time; break;
    default: break;
    }
    std::size_t at = out.size();
    if (sql) out += '\'';
    std::size_t text_at = out.size();
    d.append_wide_form_to(out, 6);
    if (std::string_view(out).substr(text_at).find("0000-00-00") != std::string_view::npos) {
        tk_write_log(1, "0000-00-00 date has been found");
        out.resize(at);
        append_null(out, sql);
        return;
    }
    if (sql) out += '\'';
}

// A date value that keeps its printed form (read from a MySQL form): the form, or the part of
// it, that append_date would print, written without printing the date again. False where
// append_date must decide (another date kind, or a value it writes as NULL).
bool append_kept_date(std::string& out, const ole_variant& v, std::uint32_t subtype, bool sql)
{
    const std::string* form = v.date_text();
    if (!form) return false;
    // The kept form is the value's wide form in its own type; append_date prints that form
    // after setting the type to the column's date kind. The value is valid and not the zero
    // date (year 1-9999), and a time alone is the zero date in any column with a date part.
    std::size_t length = form->size();
    const std::uint32_t kind = subtype & pgs_subtype::date_kind_mask;
    switch (v.get_date().type) {
    case ole_date::type_date:
        if (kind == pgs_subtype::time_only) return false;
        break;
    case ole_date::type_date_time:
        if (kind == pgs_subtype::time_only) return false;
        if (kind == pgs_subtype::date_only) length = 10;  // "yyyy-mm-dd"
        break;
    case ole_date::type_time:
        if (kind != pgs_subtype::time_only) return false;
        break;
    default:
        return false;
    }
    if (sql) out += '\'';
    out.append(*form, 0, length);
    if (sql) out += '\'';
    return true;
}

void append_text_kind(std::string& out, std::wstring_view text, const pgs_value_column& col, bool sql)
{
    if (col.kind == pgs_value_kind::uuid_text && text.size() >= 36 && text.size() < 91) {
        ole_guid_extractor guid(text);
        if (guid.b_valid) {
            append_text(out, guid.get_guid_wstr(), sql);
            return;
        }
    }
    // A BIT(1) value read as text arrives as the character U+0001. Only a column read from a
    // bit column takes it so: any other text keeps its first character.
    if ((col.subtype & pgs_subtype::bit_text) && !text.empty() && text[0] == 1) {
        out += sql ? "'1'" : "1";
        return;
    }
    append_text(out, text, sql);
}

}  // namespace

pgs_value_column pgs_make_value_column(VARTYPE vt, std::uint32_t subtype)
{
    return {vt, subtype, pgs_get_value_kind(vt, subtype)};
}

pgs_value_column pgs_make_value_column(const t_ftd& column)
{
    return pgs_make_value_column(column.vartype, static_cast<std::uint32_t>(column.dw_reserved));
}

void pgs_append_text_value(std::string& out, std::wstring_view text, const pgs_value_column& col,
                           bool sql)
{
    bool text_column = col.kind == pgs_value_kind::text || col.kind == pgs_value_kind::uuid_text;
    if (col.kind == pgs_value_kind::null_only || (text.empty() && !text_column)) {
        append_null(out, sql);
        return;
    }
    switch (col.kind) {
    case pgs_value_kind::text:
    case pgs_value_kind::uuid_text: append_text_kind(out, text, col, sql); return;
    case pgs_value_kind::boolean: append_bool(out, !is_false_text(text), sql); return;
    case pgs_value_kind::date:
        // A time of day may be the end of the day, which no date value holds.
        if ((col.subtype & pgs_subtype::date_kind_mask) == pgs_subtype::time_only && text == L"24:00:00") {
            append_text(out, text, sql);
            return;
        }
        append_date(out, ole_date(text), col.subtype, sql);
        return;
    case pgs_value_kind::bytea: append_bytea_text(out, text, sql); return;
    case pgs_value_kind::number:
    case pgs_value_kind::null_only: break;
    }
    std::string& utf8 = scratch();
    pgs_append_utf8(utf8, text);
    append_number_text(out, utf8, sql);
}

namespace {

void append_value(std::string& out, const ole_variant& v, const pgs_value_column& col, bool sql)
{
    VARTYPE vt = v.get_vt();
    if (vt == VT_EMPTY || vt == VT_NULL || col.kind == pgs_value_kind::null_only) {
        append_null(out, sql);
        return;
    }
    if (vt == VT_BSTR) {
        if (col.kind == pgs_value_kind::bytea) {
            // A text into a bytea column (a table of the user's) is its UTF-8 bytes, whatever it
            // spells: "0x41" stays four bytes, and an empty text no bytes rather than NULL.
            if (const std::string* utf8 = v.utf8_text()) {
                append_bytea(out, reinterpret_cast<const std::uint8_t*>(utf8->data()), utf8->size(), sql);
            } else {
                std::string& bytes = scratch();
                pgs_append_utf8(bytes, v.get_wstring());
                append_bytea(out, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), sql);
            }
            return;
        }
        // Text as it was read: plain text and numbers pass on as the same bytes.
        if (const std::string* utf8 = v.utf8_text()) {
            if (col.kind == pgs_value_kind::text) {
                if ((col.subtype & pgs_subtype::bit_text) && !utf8->empty() && (*utf8)[0] == '\x01')
                    out += sql ? "'1'" : "1";
                else if (sql)
                    pgs_append_literal(out, std::string_view(*utf8));
                else
                    pgs_append_copy_text(out, std::string_view(*utf8));
                return;
            }
            if (col.kind == pgs_value_kind::number) {
                if (utf8->empty())
                    append_null(out, sql);
                else
                    append_number_text(out, *utf8, sql);
                return;
            }
        }
        pgs_append_text_value(out, v.get_wstring(), col, sql);
        return;
    }
    switch (col.kind) {
    case pgs_value_kind::number:
        switch (vt) {
        case VT_I1: append_int(out, static_cast<int>(v.src.cVal)); return;
        case VT_UI1: append_int(out, static_cast<unsigned>(v.src.bVal)); return;
        case VT_I2: append_int(out, v.src.iVal); return;
        case VT_UI2: append_int(out, v.src.uiVal); return;
        case VT_I4: append_int(out, v.src.lVal); return;
        case VT_UI4: append_int(out, v.src.ulVal); return;
        case VT_INT: append_int(out, v.src.intVal); return;
        case VT_UINT: append_int(out, v.src.uintVal); return;
        case VT_I8: append_int(out, v.hyper_value); return;
        case VT_UI8: append_int(out, v.uhyper_value); return;
        case VT_R4: append_float(out, v.get_float(), sql); return;
        case VT_R8: append_float(out, v.get_double(), sql); return;
        default: {
            std::string& t = scratch();
            v.append_string(t);
            append_number_text(out, t, sql);
            return;
        }
        }
    case pgs_value_kind::boolean:
        if (vt == VT_BOOL) {
            append_bool(out, v.get_bool(), sql);
            return;
        }
        break;
    case pgs_value_kind::date:
        if (vt == VT_DATE) {
            if (!append_kept_date(out, v, col.subtype, sql)) append_date(out, v.get_date(), col.subtype, sql);
            return;
        }
        break;
    case pgs_value_kind::bytea:
        if (v.is_binary()) {
            const auto& bytes = v.get_byte_vector();
            append_bytea(out, bytes.data(), bytes.size(), sql);
            return;
        }
        break;
    case pgs_value_kind::text:
        // A float or a date into a text column (a table of the user's): the float's shortest
        // exact digits (the general text keeps only 7 digits of a FLOAT), a date in its own
        // kind (a time of day without the zero date before it).
        if (vt == VT_R4 || vt == VT_R8 || (vt == VT_DATE && v.get_date().is_valid())) {
            std::string& t = scratch();
            if (vt == VT_R4)
                append_float(t, v.get_float(), false);
            else if (vt == VT_R8)
                append_float(t, v.get_double(), false);
            else if (const std::string* form = v.date_text())
                t = *form;
            else
                v.get_date().append_wide_form_to(t, 6);
            if (sql)
                pgs_append_literal(out, std::string_view(t));
            else
                pgs_append_copy_text(out, std::string_view(t));
            return;
        }
        break;
    case pgs_value_kind::uuid_text:
    case pgs_value_kind::null_only: break;
    }
    // Any other pairing goes through the value's text, by the text rules of the column.
    std::string& utf8 = scratch();
    v.append_wstring_utf8(utf8);
    std::wstring wide = tk_utf8_to_unicode(utf8);
    pgs_append_text_value(out, wide, col, sql);
}

}  // namespace

bool pgs_has_zero_char(const ole_variant& value, const pgs_value_column& column)
{
    if (value.get_vt() != VT_BSTR) return false;
    switch (column.kind) {
    case pgs_value_kind::text:
    case pgs_value_kind::uuid_text:
    case pgs_value_kind::number: break;
    case pgs_value_kind::boolean:
    case pgs_value_kind::date:
    case pgs_value_kind::bytea:
    case pgs_value_kind::null_only: return false;
    }
    if (value.utf8_text()) return value.utf8_has_zero();
    return value.get_wstring().find(L'\0') != std::wstring::npos;
}

void pgs_check_zero_char(const ole_variant& value, const pgs_value_column& column, std::string_view what)
{
    if (!pgs_has_zero_char(value, column)) return;
    throw pgs_exception(std::string(what) + " contains a zero character, which PostgreSQL text cannot hold");
}

void pgs_append_copy_value(std::string& line, const ole_variant& value, const pgs_value_column& column)
{
    append_value(line, value, column, false);
}

void pgs_append_sql_value(std::string& statement, const ole_variant& value, const pgs_value_column& column)
{
    append_value(statement, value, column, true);
}

std::wstring to_pgs_str2(std::wstring_view text, VARTYPE vt, std::uint32_t subtype, bool sql)
{
    if (tk_log_wants(1))
        tk_write_wlog(1, L"to_pgs_str2(%d,%d,%d,'%s')", int(vt), int(subtype), int(sql),
                      std::wstring(text).c_str());
    std::string out;
    pgs_append_text_value(out, text, pgs_make_value_column(vt, subtype), sql);
    return tk_utf8_to_unicode(out);
}

std::wstring to_pgs_str(const udb_field* field)
{
    tk_write_log(1, "to_pgs_str(const udb_field *)");
    if (!field) throw tk_mail_assertion("pgs_util", 405);
    // A key literal must equal what the row stored: a text is not rewritten as a GUID (a uuid
    // column accepts every GUID spelling anyway), a date keeps a time of day as a time.
    VARTYPE vt = field->get_type();
    std::uint32_t subtype = 0;
    if (vt == VT_DATE)
        subtype = field->get_date().type == ole_date::type_time ? pgs_subtype::time_only : pgs_subtype::date_time;
    std::string out;
    pgs_append_sql_value(out, *field, pgs_make_value_column(vt, subtype));
    return tk_utf8_to_unicode(out);
}

// [+-] digits [. digits] [e [+-] digits], at least one digit before the exponent.
bool pgs_is_plain_number(std::string_view s)
{
    std::size_t i = 0, n = s.size();
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == n;
}

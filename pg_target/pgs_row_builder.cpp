#include "pg_target/pgs_row_builder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "TK/tk_strings.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_row_batch.h"
#include "pg_target/pgs_validators.h"

namespace {

// A type as the checks see it: its base name in lower case with single blanks
// ("character varying"), and the numbers in its parentheses.
struct type_shape {
    std::string name;
    std::vector<std::int64_t> args;
    bool trailing = false;  // text after the parentheses ("[]", "WITH TIME ZONE"): none of ours
};

type_shape shape_of(std::wstring_view text)
{
    type_shape s;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != L'('; ++i) {
        const wchar_t c = text[i];
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
            if (!s.name.empty() && s.name.back() != ' ') s.name += ' ';
        } else if (c < 0x80) {
            s.name += static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
        } else {
            s.name += '?';  // no type we check has such a letter
        }
    }
    while (!s.name.empty() && s.name.back() == ' ') s.name.pop_back();
    if (i == text.size()) return s;
    std::int64_t n = 0;
    bool digits = false;
    for (++i; i < text.size() && text[i] != L')'; ++i) {
        const wchar_t c = text[i];
        if (c >= L'0' && c <= L'9') {
            n = std::min<std::int64_t>(n * 10 + (c - L'0'), std::numeric_limits<std::int32_t>::max());
            digits = true;
        } else if (c == L',') {
            s.args.push_back(digits ? n : -1);
            n = 0;
            digits = false;
        } else if (c != L' ') {
            s.trailing = true;  // not a plain list of numbers
        }
    }
    s.args.push_back(digits ? n : -1);
    for (++i; i < text.size(); ++i)
        if (text[i] != L' ') s.trailing = true;
    return s;
}

bool is_one_of(const std::string& name, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

// The check of a type; length, precision and scale are what the type allows
// (0 or less: unbounded). The message names the type as the server does.
void set_check(pgs_column_plan& p, const std::string& name, std::int64_t length, std::int64_t precision,
               std::int64_t scale)
{
    if (is_one_of(name, {"smallint", "int2", "smallserial", "serial2"})) {
        p.check = pgs_fit_check::int16;
        p.type_name = "smallint";
    } else if (is_one_of(name, {"integer", "int", "int4", "serial", "serial4"})) {
        p.check = pgs_fit_check::int32;
        p.type_name = "integer";
    } else if (is_one_of(name, {"bigint", "int8", "bigserial", "serial8"})) {
        p.check = pgs_fit_check::int64;
        p.type_name = "bigint";
    } else if (is_one_of(name, {"numeric", "decimal"}) && precision > 0 && scale >= 0 && scale <= precision) {
        p.check = pgs_fit_check::numeric;
        p.int_digits = static_cast<std::int32_t>(precision - scale);
        p.scale = static_cast<std::int32_t>(scale);
        p.type_name = "numeric(" + std::to_string(precision) + "," + std::to_string(scale) + ")";
    } else if (is_one_of(name, {"real", "float4"})) {
        p.check = pgs_fit_check::real;
        p.type_name = "real";
    } else if (is_one_of(name, {"character varying", "varchar", "character", "char", "bpchar"}) && length > 0) {
        p.check = pgs_fit_check::chars;
        p.max_chars = static_cast<std::uint32_t>(length);
        const bool varying = name == "character varying" || name == "varchar";
        p.type_name = std::string(varying ? "character varying(" : "character(") + std::to_string(length) + ")";
    }
}

pgs_column_plan base_plan(const t_ftd& column, std::wstring name)
{
    pgs_column_plan p;
    p.value = pgs_make_value_column(column);
    p.not_null = column.b_not_null;
    p.label = "Column \"" + tk_unicode_to_utf8(name) + "\"";
    p.name = std::move(name);
    return p;
}

[[noreturn]] void throw_not_fitting(std::string_view value, const pgs_column_plan& col)
{
    std::string v(value.substr(0, 200));
    if (value.size() > 200) v += "...";
    throw pgs_exception("Value '" + v + "' does not fit column \"" + tk_unicode_to_utf8(col.name) + "\" (" +
                        col.type_name + ")");
}

// Checks a written number against the column's range; text is the value as it
// was written (COPY field or unquoted SQL literal). Texts that are not plain
// numbers are left to the server, whose message names them.
void check_number(std::string_view text, const pgs_column_plan& col)
{
    if (text.empty() || text.front() == '\'' || text == "\\N" || text == "NULL") return;
    switch (col.check) {
    case pgs_fit_check::int16:
    case pgs_fit_check::int32:
    case pgs_fit_check::int64: {
        std::int64_t v = 0;
        const char* b = text.data();
        const char* e = b + text.size();
        auto [ptr, ec] = std::from_chars(b, e, v);
        if (ec == std::errc::result_out_of_range) {
            bool digits = std::all_of(b + (*b == '-' ? 1 : 0), e, [](char c) { return c >= '0' && c <= '9'; });
            if (digits) throw_not_fitting(text, col);
            return;
        }
        if (ec != std::errc() || ptr != e) return;
        if (col.check == pgs_fit_check::int16 &&
            (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max()))
            throw_not_fitting(text, col);
        if (col.check == pgs_fit_check::int32 &&
            (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()))
            throw_not_fitting(text, col);
        return;
    }
    case pgs_fit_check::numeric: {
        std::size_t i = (text.front() == '-' || text.front() == '+') ? 1 : 0;
        while (i < text.size() && text[i] == '0') ++i;  // leading zeros take no place
        std::int32_t digits = 0;
        for (; i < text.size() && text[i] != '.'; ++i) {
            if (text[i] < '0' || text[i] > '9') return;  // an exponent or NaN: the server decides
            ++digits;
        }
        if (digits > col.int_digits) throw_not_fitting(text, col);
        if (i == text.size()) return;
        // Digits beyond the scale that are not zeros would be rounded away by the server (and
        // 999.995 in numeric(5,2) would even become 1000.00): the value would change.
        const std::string_view fraction = text.substr(i + 1);
        for (char c : fraction)
            if (c < '0' || c > '9') return;
        for (std::size_t k = std::size_t(col.scale); k < fraction.size(); ++k)
            if (fraction[k] != '0') throw_not_fitting(text, col);
        return;
    }
    case pgs_fit_check::real: {
        // The server keeps a real as a float: a value it would show otherwise than it was
        // written (more digits than a float holds, beyond its range) would change.
        const char* b = text.data();
        const char* e = b + text.size();
        double exact = 0;
        if (auto [ptr, ec] = std::from_chars(b, e, exact); ec != std::errc() || ptr != e || !std::isfinite(exact))
            return;  // not a plain number: the server decides
        float kept = 0;
        if (auto [ptr, ec] = std::from_chars(b, e, kept); ec == std::errc::result_out_of_range)
            throw_not_fitting(text, col);
        char shown[32];
        const auto [end, ec] = std::to_chars(shown, shown + sizeof shown, kept);
        double back = 0;
        if (ec != std::errc() || std::from_chars(shown, end, back).ec != std::errc() || back != exact)
            throw_not_fitting(text, col);
        return;
    }
    default:
        return;
    }
}

// A text value against the column's length. As the server does, characters
// beyond the length that are all blanks are cut off rather than refused.
void check_chars(const ole_variant& value, const pgs_column_plan& col)
{
    if (col.check != pgs_fit_check::chars || value.get_vt() != VT_BSTR) return;
    if (value.text_length() <= col.max_chars) return;  // no wide text made for a value that fits
    const std::wstring& s = value.get_wstring();
    if (std::all_of(s.begin() + col.max_chars, s.end(), [](wchar_t c) { return c == L' '; })) return;
    throw_not_fitting(tk_unicode_to_utf8(s), col);
}

// The same for a value of another kind, from the text it was written as (a
// COPY field, whose backslash escapes stand for one character each, or an SQL
// literal in apostrophes).
void check_written_chars(std::string_view text, const pgs_column_plan& col, bool sql)
{
    if (text == "\\N" || text == "NULL") return;
    std::string_view body = text;
    if (sql && body.size() >= 2 && body.front() == '\'' && body.back() == '\'') body = body.substr(1, body.size() - 2);
    std::uint32_t chars = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(body[i]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte
        if (!sql && c == '\\') ++i;        // an escape pair
        else if (sql && c == '\'') ++i;     // a doubled apostrophe
        ++chars;
    }
    if (chars > col.max_chars) throw_not_fitting(body, col);
}

// Whether every value of the kind fits the integer column whatever it is (an INT read into an
// integer column): its text need not be read again.
bool fits_by_kind(VARTYPE vt, pgs_fit_check check) noexcept
{
    switch (vt) {
    case VT_I1:
    case VT_UI1: return check == pgs_fit_check::int16 || check == pgs_fit_check::int32 || check == pgs_fit_check::int64;
    case VT_I2: return check == pgs_fit_check::int16 || check == pgs_fit_check::int32 || check == pgs_fit_check::int64;
    case VT_UI2:
    case VT_I4:
    case VT_INT: return check == pgs_fit_check::int32 || check == pgs_fit_check::int64;
    case VT_UI4:
    case VT_UINT:
    case VT_I8: return check == pgs_fit_check::int64;
    case VT_R4: return check == pgs_fit_check::real;
    default: return false;
    }
}

// The checks that read the value's written text.
void check_written(std::string_view text, const ole_variant& value, const pgs_column_plan& col, bool sql)
{
    if (col.check == pgs_fit_check::chars) {
        if (value.get_vt() != VT_BSTR) check_written_chars(text, col, sql);
    } else if (col.check != pgs_fit_check::none && !fits_by_kind(value.get_vt(), col.check)) {
        check_number(text, col);
    }
}

}  // namespace

pgs_column_plan pgs_plan_catalog_column(const t_ftd& column, std::string_view type_name)
{
    pgs_column_plan p = base_plan(column, column.name);
    const type_shape shape = shape_of(tk_utf8_to_unicode(std::string(type_name)));
    if (!shape.trailing) {
        // The catalog's name carries no size: the column's own numbers are the type's.
        const std::int64_t length = shape.args.empty() ? column.size : shape.args[0];
        const std::int64_t precision = shape.args.empty() ? column.precision : shape.args[0];
        const std::int64_t scale = shape.args.size() > 1 ? shape.args[1] : shape.args.empty() ? column.scale : 0;
        set_check(p, shape.name, length, precision, scale);
    }
    return p;
}

pgs_column_plan pgs_plan_declared_column(const t_ftd& column, std::wstring name, std::wstring_view type_text)
{
    pgs_column_plan p = base_plan(column, std::move(name));
    const type_shape shape = shape_of(type_text);
    if (shape.trailing || shape.name.empty()) return p;
    std::int64_t length = shape.args.empty() ? 0 : shape.args[0];
    // CHAR without a length is CHAR(1); VARCHAR without one is unbounded.
    if (shape.args.empty() && (shape.name == "char" || shape.name == "character")) length = 1;
    const std::int64_t precision = shape.args.empty() ? 0 : shape.args[0];
    const std::int64_t scale = shape.args.size() > 1 ? shape.args[1] : 0;
    set_check(p, shape.name, length, precision, scale);
    return p;
}

bool pgs_record_layout::matches(const udb_record& record) const
{
    if (record.size() != field_names.size()) return false;
    for (std::size_t i = 0; i < field_names.size(); ++i) {
        const udb_field* f = record.get(i);
        if (!f || f->get_name() != field_names[i]) return false;
    }
    return true;
}

pgs_record_layout pgs_match_fields(const udb_record& record, const udb_schema& columns)
{
    pgs_record_layout l;
    pgs_fn_validator validator(record);
    std::vector<std::wstring> safe_names;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field* f = record.get(i);
        std::wstring n = f ? f->get_name() : std::wstring();
        l.field_names.push_back(n);
        safe_names.push_back(validator.next_column_name(n));
    }
    l.field_of_column.assign(columns.size(), -1);
    l.column_of_field.assign(record.size(), -1);
    for (std::size_t c = 0; c < columns.size(); ++c) {
        // The last field of a name wins, as a map keyed by the name would have it.
        for (std::size_t i = safe_names.size(); i-- > 0;) {
            if (tk_equal_no_case(safe_names[i], columns[c].name)) {
                l.field_of_column[c] = int(i);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < safe_names.size(); ++i) l.column_of_field[i] = columns.get_field_idx(safe_names[i]);
    return l;
}

// ---------------------------------------------------------------------------

void pgs_row_builder::refuse_null(const pgs_column_plan& col) const
{
    throw pgs_exception("null value in column \"" + tk_unicode_to_utf8(col.name) + "\" of relation \"" +
                            m_relation + "\" violates not-null constraint",
                        "23502");
}

void pgs_row_builder::check_large_value(const udb_field& field, const pgs_column_plan& col, bool sql)
{
    // The caller writes this value in pieces after the start of its row: every
    // check that reads its text runs now, before anything of the row is out.
    const bool encode = m_encoder && !(field.is_binary() && col.value.kind == pgs_value_kind::bytea);
    const bool written = col.check != pgs_fit_check::none &&
                         !(col.check == pgs_fit_check::chars && field.get_vt() == VT_BSTR);
    if (!encode && !written) return;
    m_scratch.clear();
    if (sql)
        pgs_append_sql_value(m_scratch, field, col.value);
    else
        pgs_append_copy_value(m_scratch, field, col.value);
    try {
        if (encode) m_encoder->check(m_scratch, col.label);
        if (written) check_written(m_scratch, field, col, sql);
    } catch (...) {
        std::string().swap(m_scratch);
        throw;
    }
    // A large value's text is not kept around between rows.
    std::string().swap(m_scratch);
}

namespace {

constexpr std::size_t large = pgs_row_builder::hand_over_size;

bool is_large_value(const udb_field& field) noexcept
{
    if (const std::string* utf8 = field.utf8_text()) return utf8->size() >= large;
    return field.is_binary() && field.get_byte_vector().size() >= large;
}

// A large text or binary value (is_large_value) gets the room its written form takes at once:
// the buffer is not grown (and copied) by doubling while the value is written, which would hold
// it twice and leave room for twice its size.
void reserve_for_large_value(std::string& out, const udb_field& field)
{
    std::size_t need = 0;
    if (const std::string* utf8 = field.utf8_text())
        need = utf8->size() + utf8->size() / 64 + 64;  // a few escaped characters
    else
        need = 2 * field.get_byte_vector().size() + 64;  // hexadecimal digits
    if (out.capacity() - out.size() < need) out.reserve(out.size() + need);
}

}  // namespace

template <bool Sql>
[[gnu::noinline]] void pgs_row_builder::append_large_value(std::string& out, udb_field& field,
                                                           std::size_t field_index, const pgs_column_plan& col,
                                                           pgs_row_batch& batch)
{
    // A field that fills more than one column (names alike but for case) is written for each.
    bool once = true;
    if constexpr (!Sql)
        once = std::count(m_copy_layout->field_of_column.begin(), m_copy_layout->field_of_column.end(),
                          int(field_index)) == 1;
    const std::string* utf8 = field.utf8_text();
    if (!Sql && once && utf8 && col.value.kind == pgs_value_kind::text &&
        !((col.value.subtype & pgs_subtype::bit_text) && (*utf8)[0] == '\x01')) {
        // Escaped where it stands (the reader left room for its escapes) and handed over.
        std::string text = field.take_utf8_text();
        pgs_escape_copy_text(text);
        if (m_encoder) m_encoder->check(text, col.label);
        check_written(text, field, col, Sql);
        batch.add_piece(std::move(text));
        return;
    }
    if (!Sql && once && field.is_binary() && col.value.kind == pgs_value_kind::bytea) {
        // Turned into its COPY field where it stands (the reader left room for the hexadecimal
        // digits) and handed over; the digits need no encoding check.
        std::vector<std::uint8_t> bytes = field.take_byte_vector();
        pgs_make_copy_bytea(bytes);
        const std::string_view digits(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        check_written(digits, field, col, Sql);
        batch.add_piece(std::move(bytes));
        return;
    }
    reserve_for_large_value(out, field);
    append_written<Sql>(out, field, col);
    if (once) field.release_content();
}

template <bool Sql>
inline void pgs_row_builder::append_written(std::string& out, const udb_field& field, const pgs_column_plan& col)
{
    const std::size_t at = out.size();
    if constexpr (Sql)
        pgs_append_sql_value(out, field, col.value);
    else
        pgs_append_copy_value(out, field, col.value);
    const std::string_view text = std::string_view(out).substr(at);
    if (m_refuse_nulls && col.not_null && text == (Sql ? "NULL" : "\\N")) refuse_null(col);
    if (m_encoder) m_encoder->check(text, col.label);
    check_written(text, field, col, Sql);
}

template <bool Sql>
void pgs_row_builder::append_value(std::string& out, const udb_field& field, std::size_t field_index,
                                   std::size_t column, udb_field* own, pgs_row_batch* batch)
{
    const pgs_column_plan& col = m_columns[column];
    pgs_check_zero_char(field, col.value, col.label);
    check_chars(field, col);
    if (m_large_value_size && !field.is_empty() && field.get_data_size() > m_large_value_size) {
        check_large_value(field, col, Sql);
        m_large.push_back({out.size(), field_index, column});
        return;
    }
    if constexpr (!Sql) {
        if (m_empty_text_for_missing && col.not_null && field.is_empty() && col.value.vt == VT_BSTR) return;
    }
    if (is_large_value(field)) [[unlikely]] {
        if (own) {
            append_large_value<Sql>(out, *own, field_index, col, *batch);
            return;
        }
        reserve_for_large_value(out, field);
    }
    append_written<Sql>(out, field, col);
}

void pgs_row_builder::append_copy_line(std::string& out, const udb_record& record, const pgs_record_layout& layout)
{
    const std::size_t start = out.size();
    m_large.clear();
    try {
        for (std::size_t c = 0; c < m_columns.size(); ++c) {
            if (c) out += '\t';
            const std::size_t f = std::size_t(layout.field_of_column[c]);
            append_value<false>(out, record[f], f, c);
        }
    } catch (...) {
        out.resize(start);
        m_large.clear();
        throw;
    }
    out += '\n';
}

void pgs_row_builder::append_sql_values(std::string& out, const udb_record& record, const pgs_record_layout& layout)
{
    const std::size_t start = out.size();
    m_large.clear();
    try {
        out += '(';
        for (std::size_t i = 0; i < record.size(); ++i) {
            if (i) out += ", ";
            append_value<true>(out, record[i], i, std::size_t(layout.column_of_field[i]));
        }
        out += ')';
    } catch (...) {
        out.resize(start);
        m_large.clear();
        throw;
    }
}

void pgs_row_builder::append_copy_line(pgs_row_batch& batch, udb_record& record, const pgs_record_layout& layout)
{
    std::string& out = batch.text;
    const std::size_t start = out.size();
    m_large.clear();
    m_copy_layout = &layout;
    try {
        for (std::size_t c = 0; c < m_columns.size(); ++c) {
            if (c) out += '\t';
            const std::size_t f = std::size_t(layout.field_of_column[c]);
            append_value<false>(out, record[f], f, c, &record[f], &batch);
        }
    } catch (...) {
        batch.cut_to(start);
        m_large.clear();
        throw;
    }
    out += '\n';
}

void pgs_row_builder::append_sql_values(pgs_row_batch& batch, udb_record& record, const pgs_record_layout& layout)
{
    std::string& out = batch.text;
    const std::size_t start = out.size();
    m_large.clear();
    try {
        out += '(';
        for (std::size_t i = 0; i < record.size(); ++i) {
            if (i) out += ", ";
            append_value<true>(out, record[i], i, std::size_t(layout.column_of_field[i]), &record[i], &batch);
        }
        out += ')';
    } catch (...) {
        out.resize(start);
        m_large.clear();
        throw;
    }
}

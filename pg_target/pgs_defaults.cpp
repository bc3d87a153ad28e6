#include "pg_target/pgs_defaults.h"

#include <charconv>
#include <cmath>
#include <cwctype>
#include <cstdint>
#include <limits>
#include <string_view>

#include "TK/ole_variant.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_types.h"
#include "pg_target/pgs_value_text.h"
#include "platform/pf_text.h"

namespace {

// ASCII form of a wide text, or empty when it holds anything else (no number or keyword does).
std::string ascii(std::wstring_view text)
{
    std::string r;
    r.reserve(text.size());
    for (wchar_t c : text) {
        if (static_cast<std::uint32_t>(c) >= 0x80) return {};
        r += static_cast<char>(c);
    }
    return r;
}

// The whole text is the decimal form of an integer within [lo, hi] as it prints back (no sign
// other than '-', no leading zeros, no blanks).
template <class Int>
bool is_integer_in(std::string_view text, Int lo, Int hi)
{
    Int v{};
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || v < lo || v > hi) return false;
    char back[24];
    auto b = std::to_chars(back, back + sizeof back, v);
    return std::string_view(back, static_cast<std::size_t>(b.ptr - back)) == text;
}

bool is_plain_number(std::string_view s) { return pgs_is_plain_number(s); }

// A float default: the whole text is a number that the column's type holds as a finite value.
template <class Float>
bool is_finite_number(std::string_view text)
{
    if (!is_plain_number(text)) return false;
    std::string_view t = text.front() == '+' ? text.substr(1) : text;
    Float v{};
    auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    return r.ec == std::errc() && r.ptr == t.data() + t.size() && std::isfinite(v);
}

bool is_current_timestamp(std::wstring_view t)
{
    // MySQL spells it CURRENT_TIMESTAMP, MariaDB current_timestamp() or current_timestamp(6).
    for (std::wstring_view kw : {std::wstring_view(L"CURRENT_TIMESTAMP"), std::wstring_view(L"NOW"),
                                 std::wstring_view(L"LOCALTIMESTAMP")}) {
        if (t.size() < kw.size() || !tk_equal_no_case(t.substr(0, kw.size()), kw)) continue;
        std::wstring_view rest = t.substr(kw.size());
        if (rest.empty() && kw != L"NOW") return true;
        if (rest.size() >= 2 && rest.front() == L'(' && rest.back() == L')') {
            bool digits = true;
            for (wchar_t c : rest.substr(1, rest.size() - 2)) digits = digits && c >= L'0' && c <= L'9';
            if (digits) return true;
        }
    }
    return false;
}

std::wstring bool_default(std::wstring_view text)
{
    // The texts PostgreSQL reads as a boolean; anything else would make CREATE TABLE fail.
    static constexpr std::wstring_view words[] = {L"0", L"1", L"t", L"f", L"true", L"false", L"y",
                                                  L"n", L"yes", L"no", L"on", L"off"};
    for (auto w : words)
        if (tk_equal_no_case(text, w)) return pgs_quote_literal(text);
    // A BIT(1) default as the source prints it.
    if (tk_equal_no_case(text, L"b'0'")) return L"'0'";
    if (tk_equal_no_case(text, L"b'1'")) return L"'1'";
    tk_write_log(2, "Invalid boolean def.value");
    return {};
}

// A function call of the source without arguments (or with digits only, a precision):
// "uuid()", "curdate()", "current_timestamp(3)", or the bare word.
bool is_call_of(std::wstring_view t, std::wstring_view word)
{
    if (t.size() < word.size() || !tk_equal_no_case(t.substr(0, word.size()), word)) return false;
    std::wstring_view rest = t.substr(word.size());
    if (rest.empty()) return true;
    if (rest.size() < 2 || rest.front() != L'(' || rest.back() != L')') return false;
    for (wchar_t c : rest.substr(1, rest.size() - 2))
        if (c < L'0' || c > L'9') return false;
    return true;
}

// --- expressions of the source that PostgreSQL evaluates alike --------------------------------
//
// A source expression is read as tokens; it is carried only when every token has the same
// meaning in PostgreSQL: numbers, string literals (re-quoted from their value), + - * % and
// parentheses, and calls of functions PostgreSQL has under the same name with the same result.
// Division is left out (MySQL divides integers into decimals, PostgreSQL truncates), as are
// names of columns, variables and anything else. An expression the column's type could not take
// by assignment would stop CREATE TABLE, so text functions go only into text columns.

enum class expr_token : std::uint8_t { number, text, name, open, close, comma, op, hex, end, bad };

struct expr_lexer {
    explicit expr_lexer(std::wstring_view text) : in(text) {}

    std::wstring_view in;
    std::size_t at = 0;
    std::wstring value;  // the token's text (a literal's value, a name, a number, hex digits)

    expr_token next()
    {
        while (at < in.size() && (in[at] == L' ' || in[at] == L'\t' || in[at] == L'\n' || in[at] == L'\r')) ++at;
        value.clear();
        if (at >= in.size()) return expr_token::end;
        const wchar_t c = in[at];
        if ((c == L'x' || c == L'X') && at + 1 < in.size() && in[at + 1] == L'\'') {
            const std::size_t close = in.find(L'\'', at + 2);
            if (close == std::wstring_view::npos) return expr_token::bad;
            value = in.substr(at + 2, close - at - 2);
            at = close + 1;
            return expr_token::hex;
        }
        if (c == L'0' && at + 1 < in.size() && (in[at + 1] == L'x' || in[at + 1] == L'X')) {
            std::size_t e = at + 2;
            while (e < in.size() && std::iswxdigit(in[e])) ++e;
            value = in.substr(at + 2, e - at - 2);
            at = e;
            return value.empty() ? expr_token::bad : expr_token::hex;
        }
        if ((c >= L'0' && c <= L'9') || (c == L'.' && at + 1 < in.size() && in[at + 1] >= L'0' && in[at + 1] <= L'9')) {
            std::size_t e = at;
            while (e < in.size() && ((in[e] >= L'0' && in[e] <= L'9') || in[e] == L'.')) ++e;
            if (e < in.size() && (in[e] == L'e' || in[e] == L'E')) {
                ++e;
                if (e < in.size() && (in[e] == L'+' || in[e] == L'-')) ++e;
                while (e < in.size() && in[e] >= L'0' && in[e] <= L'9') ++e;
            }
            value = in.substr(at, e - at);
            at = e;
            return pgs_is_plain_number(ascii(value)) ? expr_token::number : expr_token::bad;
        }
        if (c == L'\'') return read_text();
        if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_') {
            std::size_t e = at;
            while (e < in.size() && ((in[e] >= L'a' && in[e] <= L'z') || (in[e] >= L'A' && in[e] <= L'Z') ||
                                     (in[e] >= L'0' && in[e] <= L'9') || in[e] == L'_'))
                ++e;
            value = in.substr(at, e - at);
            at = e;
            return expr_token::name;
        }
        ++at;
        value = c;
        switch (c) {
        case L'(': return expr_token::open;
        case L')': return expr_token::close;
        case L',': return expr_token::comma;
        case L'+': case L'-': case L'*': case L'%': return expr_token::op;
        default: return expr_token::bad;
        }
    }

    // A MySQL string literal: '' and backslash escapes.
    expr_token read_text()
    {
        for (++at; at < in.size(); ++at) {
            const wchar_t c = in[at];
            if (c == L'\'') {
                if (at + 1 < in.size() && in[at + 1] == L'\'') {
                    value += L'\'';
                    ++at;
                    continue;
                }
                ++at;
                return expr_token::text;
            }
            if (c == L'\\' && at + 1 < in.size()) {
                const wchar_t e = in[++at];
                switch (e) {
                case L'0': return expr_token::bad;  // a zero character has no PostgreSQL text form
                case L'b': value += L'\b'; break;
                case L'n': value += L'\n'; break;
                case L'r': value += L'\r'; break;
                case L't': value += L'\t'; break;
                case L'Z': value += wchar_t(26); break;
                case L'%': case L'_': value += L'\\'; value += e; break;
                default: value += e; break;
                }
                continue;
            }
            value += c;
        }
        return expr_token::bad;
    }
};

// Functions that give the same result in both systems, by the source's name; the names the
// server writes for lower() and upper() (lcase, ucase) are read as those.
struct same_function {
    std::wstring_view source;
    std::wstring_view target;
    bool text_result;
};
constexpr same_function same_functions[] = {
    {L"concat", L"concat", true},          {L"concat_ws", L"concat_ws", true}, {L"lower", L"lower", true},
    {L"lcase", L"lower", true},            {L"upper", L"upper", true},         {L"ucase", L"upper", true},
    {L"left", L"left", true},              {L"right", L"right", true},         {L"lpad", L"lpad", true},
    {L"rpad", L"rpad", true},              {L"ltrim", L"ltrim", true},         {L"rtrim", L"rtrim", true},
    {L"trim", L"trim", true},              {L"replace", L"replace", true},     {L"repeat", L"repeat", true},
    {L"reverse", L"reverse", true},        {L"md5", L"md5", true},             {L"char_length", L"char_length", false},
    {L"character_length", L"character_length", false},                          {L"abs", L"abs", false},
    {L"ceil", L"ceil", false},             {L"ceiling", L"ceiling", false},    {L"floor", L"floor", false},
    {L"mod", L"mod", false},
};

const same_function* find_same_function(std::wstring_view name)
{
    for (const auto& f : same_functions)
        if (tk_equal_no_case(name, f.source)) return &f;
    return nullptr;
}

// The expression rewritten token by token; empty when a token has no same-meaning form. `text`
// tells whether the expression yields text anywhere at its top (a call of a text function or
// a string literal).
std::wstring translate_expression(std::wstring_view source, bool& text)
{
    expr_lexer lex(source);
    std::wstring out;
    text = false;
    int depth = 0;
    bool need_call = false;  // a function name was just read: "(" must follow
    expr_token before = expr_token::end;
    for (;;) {
        const expr_token t = lex.next();
        if (need_call && t != expr_token::open) return {};
        // Where the two read an argument otherwise: MySQL's CONCAT is NULL with a NULL
        // argument (PostgreSQL's skips it), LEFT, RIGHT and LPAD give '' or NULL for a
        // negative length (PostgreSQL cuts from the other end, or gives '').
        if (depth > 0 && t == expr_token::name && tk_equal_no_case(std::wstring_view(lex.value), std::wstring_view(L"NULL")))
            return {};
        if (t == expr_token::op && lex.value == L"-" && before == expr_token::comma) return {};
        before = t;
        switch (t) {
        case expr_token::end:
            return depth == 0 && !out.empty() ? out : std::wstring();
        case expr_token::bad:
        case expr_token::hex:
            return {};
        case expr_token::number:
            out += lex.value;
            break;
        case expr_token::text:
            if (depth == 0) text = true;
            out += pgs_quote_literal(std::wstring_view(lex.value));
            break;
        case expr_token::name: {
            if (tk_equal_no_case(std::wstring_view(lex.value), std::wstring_view(L"NULL"))) {
                out += L"NULL";
                break;
            }
            const same_function* f = find_same_function(lex.value);
            if (!f) return {};
            if (depth == 0 && f->text_result) text = true;
            out += f->target;
            need_call = true;
            break;
        }
        case expr_token::open:
            need_call = false;
            ++depth;
            out += L'(';
            break;
        case expr_token::close:
            if (--depth < 0) return {};
            out += L')';
            break;
        case expr_token::comma:
            out += L", ";
            break;
        case expr_token::op:
            out += L' ';
            out += lex.value;
            out += L' ';
            break;
        }
    }
}

// A lone hexadecimal literal (X'4142', 0x4142): bytes for a binary column, text for a text
// column when they are UTF-8, a number for an integer column. Empty when it fits none.
std::wstring hex_literal_default(std::wstring_view source, VARTYPE vt)
{
    expr_lexer lex(source);
    if (lex.next() != expr_token::hex) return {};
    const std::wstring digits = lex.value;
    if (lex.next() != expr_token::end || digits.size() % 2) return {};
    std::string bytes;
    if (!tk_hex_to_bin(ascii(digits), bytes)) return {};
    switch (vt) {
    case VT_BLOB:
    case VT_BYTE_ARRAY: {
        std::string sql;
        pgs_append_bytea_literal(sql, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        return tk_utf8_to_unicode(sql);
    }
    case VT_BSTR:
        if (!pf_is_valid_utf8(bytes) || bytes.find('\0') != std::string::npos) return {};
        return pgs_quote_literal(std::wstring_view(tk_utf8_to_unicode(bytes)));
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: {
        if (bytes.size() > 8) return {};
        std::uint64_t v = 0;
        for (unsigned char b : bytes) v = v << 8 | b;
        return std::to_wstring(v);
    }
    default:
        return {};
    }
}

bool is_number_kind(VARTYPE vt)
{
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8: case VT_UI8: case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL:
        return true;
    default:
        return false;
    }
}

// The PostgreSQL form of a source expression default; empty when there is none.
std::wstring source_expression_default(std::wstring_view t, VARTYPE vt, std::uint32_t subtype)
{
    // The server may keep an expression in parentheses: "(uuid())".
    while (t.size() >= 2 && t.front() == L'(' && t.back() == L')') t = t.substr(1, t.size() - 2);
    if (is_call_of(t, L"uuid")) return vt == VT_BSTR ? L"gen_random_uuid()" : std::wstring();
    if (is_current_timestamp(t) || is_call_of(t, L"localtime") || is_call_of(t, L"sysdate"))
        return L"CURRENT_TIMESTAMP";
    if (is_call_of(t, L"curdate") || is_call_of(t, L"current_date")) return L"CURRENT_DATE";
    if (is_call_of(t, L"curtime") || is_call_of(t, L"current_time")) return L"CURRENT_TIME";
    if (is_call_of(t, L"utc_timestamp")) return L"timezone('UTC'::text, now())";
    const bool plain_text = vt == VT_BSTR && (subtype & ~pgs_subtype::empty_default) == 0;
    if (std::wstring hex = hex_literal_default(t, plain_text || vt != VT_BSTR ? vt : VT_EMPTY); !hex.empty())
        return hex;
    if (!plain_text && !is_number_kind(vt)) return {};
    bool text = false;
    std::wstring pg = translate_expression(t, text);
    if (pg.empty() || (text && !plain_text)) return {};
    return L"(" + pg + L")";
}

}  // namespace

std::wstring make_pgs_def_val(const t_ftd* column)
{
    if (!column) throw tk_mail_assertion("pgs_util", 710);
    const std::wstring text = column->default_value.get_vt() == VT_EMPTY ? std::wstring()
                                                                         : column->default_value.to_wstring();
    const VARTYPE vt = column->vartype;
    const auto subtype = static_cast<std::uint32_t>(column->dw_reserved);
    tk_write_wlog(2, L"make_pgs_def_val(%s,%d,%d)", text.c_str(), int(vt), int(subtype));

    // A default chosen in a type mapping is a PostgreSQL expression already ('abc', true,
    // now()): quoting or checking it against the source kind again would spoil it.
    if (column->default_is_expression) {
        tk_write_log(2, "Default value is an expression, written as it is");
        return text;
    }

    if (column->default_is_source_expression && !text.empty()) {
        std::wstring pg = source_expression_default(text, vt, subtype);
        if (vt == VT_DATE && pg == L"CURRENT_DATE" && (subtype & pgs_subtype::date_kind_mask) == pgs_subtype::time_only)
            pg.clear();
        if (pg.empty()) tk_write_wlog(2, L"Expression default without a PostgreSQL form: %s", text.c_str());
        return pg;
    }
    if (vt == VT_DATE && (subtype & pgs_subtype::current_moment)) {
        if ((subtype & 0xb) == 0xb) return L"CURRENT_TIME";
        if ((subtype & 0xa) == 0xa) return L"CURRENT_DATE";
        if ((subtype & 0x9) == 0x9) return L"CURRENT_TIMESTAMP";
    }
    if ((vt == VT_BYTE_ARRAY || vt == VT_BLOB) && column->default_value.is_binary()) {
        // Bytes, also none at all (DEFAULT '' of a VARBINARY).
        const std::vector<std::uint8_t>& bytes = column->default_value.get_byte_vector();
        std::string sql;
        pgs_append_bytea_literal(sql, bytes.data(), bytes.size());
        return tk_utf8_to_unicode(sql);
    }
    if (text.empty()) {
        tk_write_log(2, "Got empty def value");
        return {};
    }
    const std::string a = ascii(text);

    switch (vt) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_I4:
    case VT_UI2:
    case VT_INT:
    case VT_UI4:
    case VT_UINT: {
        tk_write_log(2, "Integer def.value");
        // The range of the PostgreSQL type the column becomes (SMALLINT, INTEGER or BIGINT).
        std::int64_t lo = std::numeric_limits<std::int32_t>::min(), hi = std::numeric_limits<std::int32_t>::max();
        if (vt == VT_I1 || vt == VT_UI1 || vt == VT_I2) lo = -32768, hi = 32767;
        if (vt == VT_UI4 || vt == VT_UINT) lo = 0, hi = std::numeric_limits<std::uint32_t>::max();
        if (is_integer_in<std::int64_t>(a, lo, hi)) return text;
        tk_write_log(2, "Invalid int def.value");
        return {};
    }
    case VT_BOOL:
        tk_write_log(2, "Integer def.value");
        tk_write_log(2, "Special processing for boolean");
        return bool_default(text);
    case VT_R4: {
        // Written as the float the column will hold, in its shortest exact text. A float value
        // is taken as it is: its own text keeps only some of its digits.
        float v = 0;
        if (column->default_value.get_vt() == VT_R4) {
            v = column->default_value.get_float();
            if (!std::isfinite(v)) return {};
        } else {
            if (!is_finite_number<float>(a)) return {};
            std::string_view t = a.front() == '+' ? std::string_view(a).substr(1) : std::string_view(a);
            std::from_chars(t.data(), t.data() + t.size(), v);
        }
        char digits[32];
        auto r = std::to_chars(digits, digits + sizeof digits, v);
        return tk_utf8_to_unicode(std::string_view(digits, static_cast<std::size_t>(r.ptr - digits)));
    }
    case VT_R8:
        return is_finite_number<double>(a) ? text : std::wstring();
    case VT_CY:
    case VT_DECIMAL:
        return is_plain_number(a) ? text : std::wstring();
    case VT_DATE:
        tk_write_log(2, "Got DATE def value");
        if (tk_equal_no_case(text, L"getutcdate()")) {
            tk_write_log(2, "Special processing for getutcdate()");
            return L"timezone('UTC'::text, now())";
        }
        if (is_current_timestamp(text)) {
            tk_write_log(2, "Special processing for CURRENT_TIMESTAMP/CURRENT_DATE/etc");
            return L"CURRENT_TIMESTAMP";
        }
        return to_pgs_str2(text, VT_DATE, subtype, true);
    case VT_BSTR:
        if ((subtype & ~pgs_subtype::empty_default) == pgs_subtype::uuid) {
            tk_write_log(2, "Got UUID def value");
            if (tk_equal_no_case(text, L"newid()") || tk_equal_no_case(text, L"uuid_generate_v4()"))
                return L"uuid_generate_v4()";
            return {};
        }
        tk_write_wlog(2, L"Got BSTR or DATE def value: %s", text.c_str());
        if (tk_equal_no_case(text, L"suser_sname()")) {
            tk_write_log(2, "Special processing for suser_sname()");
            return L"CURRENT_USER";
        }
        if (tk_equal_no_case(text, L"N'") || tk_equal_no_case(text, L"N''")) {
            tk_write_log(2, "Special processing for N''");
            return L"''";
        }
        // PostgreSQL text cannot hold a zero character: the default would end before it.
        if (pgs_has_zero_char(column->default_value, pgs_make_value_column(VT_BSTR, 0))) return {};
        // The text as written (cut to the column's size), also when it looks like a GUID: this
        // is no uuid column, so the default must be the source's text.
        if (column->size > 0 && text.size() > column->size)
            return to_pgs_str2(std::wstring_view(text).substr(0, column->size), VT_BSTR, 0, true);
        return to_pgs_str2(text, VT_BSTR, 0, true);
    case VT_I8:
        tk_write_log(2, "Got VT_I8 def.value");
        if (is_integer_in<std::int64_t>(a, std::numeric_limits<std::int64_t>::min(),
                                        std::numeric_limits<std::int64_t>::max()))
            return text;
        tk_write_log(2, "Invalid VT_I8 def.value");
        return {};
    case VT_UI8:
        tk_write_log(2, "Got VT_UI8 def.value");
        if (is_integer_in<std::uint64_t>(a, 0, std::numeric_limits<std::uint64_t>::max())) return text;
        tk_write_log(2, "Invalid VT_UI8 def.value");
        return {};
    default:
        return {};
    }
}

bool pgs_default_is_lost(const t_ftd& column)
{
    if (column.auto_increment || column.default_is_expression) return false;
    const VARTYPE vt = column.default_value.get_vt();
    // An empty text is DEFAULT '' (the sub-type carries it), never a lost default.
    const bool has_default = column.default_is_source_expression || column.default_value.is_binary() ||
                             (vt != VT_EMPTY && vt != VT_NULL && !column.default_value.to_wstring().empty());
    return has_default && make_pgs_def_val(column).empty();
}

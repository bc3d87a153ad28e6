#include "pg_target/pgs_quote.h"

#include "TK/ole_variant.h"
#include "TK/tk_strings.h"

namespace {

constexpr char32_t replacement_char = 0xFFFD;

// Reads one code point from wide text at i (advancing i); joins a UTF-16 surrogate pair when the
// text holds one, replaces anything not encodable.
inline char32_t next_code_point(std::wstring_view text, std::size_t& i)
{
    char32_t c = static_cast<char32_t>(text[i++]);
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (i < text.size()) {
            char32_t low = static_cast<char32_t>(text[i]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                ++i;
                return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        return replacement_char;
    }
    if ((c >= 0xDC00 && c <= 0xDFFF) || c > 0x10FFFF) return replacement_char;
    return c;
}

inline void put_code_point(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        char b[2] = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        out.append(b, 2);
    } else if (c < 0x10000) {
        char b[3] = {static_cast<char>(0xE0 | (c >> 12)),
                     static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                     static_cast<char>(0x80 | (c & 0x3F))};
        out.append(b, 3);
    } else {
        char b[4] = {static_cast<char>(0xF0 | (c >> 18)),
                     static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                     static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                     static_cast<char>(0x80 | (c & 0x3F))};
        out.append(b, 4);
    }
}

// Copies narrow text doubling one quote character; runs without it go in one append.
template <class Str, class View, class Ch>
void append_doubling(Str& out, View text, Ch quote)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == quote) {
            out.append(text.data() + start, i - start + 1);
            out += quote;
            start = i + 1;
        }
    }
    out.append(text.data() + start, text.size() - start);
}

// Wide text into UTF-8, doubling one ASCII quote character.
void append_utf8_doubling(std::string& out, std::wstring_view text, char quote)
{
    out.reserve(out.size() + text.size() + 2);
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = next_code_point(text, i);
        if (c < 0x80) {
            out += static_cast<char>(c);
            if (c == static_cast<char32_t>(quote)) out += quote;
        } else {
            put_code_point(out, c);
        }
    }
}

// The COPY escape of one ASCII byte, or 0 when the byte is copied as it is.
inline char copy_escape(unsigned c)
{
    switch (c) {
    case '\\': return '\\';
    case '\t': return 't';
    case '\n': return 'n';
    case '\r': return 'r';
    default: return 0;
    }
}

constexpr char hex_digits[] = "0123456789ABCDEF";

}  // namespace

void pgs_append_utf8(std::string& out, std::wstring_view text)
{
    for (std::size_t i = 0; i < text.size();) put_code_point(out, next_code_point(text, i));
}

std::size_t pgs_utf8_length(std::wstring_view text)
{
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = next_code_point(text, i);
        n += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    }
    return n;
}

// ---- identifiers ---------------------------------------------------------------------------

void pgs_append_identifier(std::string& out, std::string_view name)
{
    out += '"';
    append_doubling(out, name, '"');
    out += '"';
}

void pgs_append_identifier(std::string& out, std::wstring_view name)
{
    out += '"';
    append_utf8_doubling(out, name, '"');
    out += '"';
}

void pgs_append_identifier(std::wstring& out, std::wstring_view name)
{
    out += L'"';
    append_doubling(out, name, L'"');
    out += L'"';
}

std::string pgs_quote_identifier(std::string_view name)
{
    std::string r;
    r.reserve(name.size() + 2);
    pgs_append_identifier(r, name);
    return r;
}

std::wstring pgs_quote_identifier(std::wstring_view name)
{
    std::wstring r;
    r.reserve(name.size() + 2);
    pgs_append_identifier(r, name);
    return r;
}

void pgs_append_qualified_name(std::string& out, std::string_view schema, std::string_view name)
{
    if (!schema.empty()) {
        pgs_append_identifier(out, schema);
        out += '.';
    }
    pgs_append_identifier(out, name);
}

std::wstring pgs_quote_qualified_name(std::wstring_view schema, std::wstring_view name)
{
    std::wstring r;
    if (!schema.empty()) {
        pgs_append_identifier(r, schema);
        r += L'.';
    }
    pgs_append_identifier(r, name);
    return r;
}

// ---- string literals -----------------------------------------------------------------------

void pgs_append_literal(std::string& out, std::string_view text)
{
    out.reserve(out.size() + text.size() + 2);
    out += '\'';
    append_doubling(out, text, '\'');
    out += '\'';
}

void pgs_append_literal(std::string& out, std::wstring_view text)
{
    out += '\'';
    append_utf8_doubling(out, text, '\'');
    out += '\'';
}

void pgs_append_literal(std::wstring& out, std::wstring_view text)
{
    out.reserve(out.size() + text.size() + 2);
    out += L'\'';
    append_doubling(out, text, L'\'');
    out += L'\'';
}

std::string pgs_quote_literal(std::string_view text)
{
    std::string r;
    pgs_append_literal(r, text);
    return r;
}

std::wstring pgs_quote_literal(std::wstring_view text)
{
    std::wstring r;
    pgs_append_literal(r, text);
    return r;
}

std::wstring pgs_dollar_quote(std::wstring_view text)
{
    // The closing tag must be the first occurrence of the tag after the opening one, also
    // where the text's end and the tag overlap (a text ending in "$q").
    auto closes_early = [&](const std::wstring& tag) {
        return (std::wstring(text) + tag).find(tag) != text.size();
    };
    std::wstring tag = L"$q$";
    for (int n = 1; closes_early(tag); ++n) tag = L"$q" + std::to_wstring(n) + L"$";
    std::wstring r;
    r.reserve(text.size() + 2 * tag.size());
    r += tag;
    r += text;
    r += tag;
    return r;
}

// ---- bytea -----------------------------------------------------------------------------

void pgs_append_hex(std::string& out, const std::uint8_t* data, std::size_t size)
{
    std::size_t at = out.size();
    out.resize(at + 2 * size);
    char* p = out.data() + at;
    for (std::size_t i = 0; i < size; ++i) {
        *p++ = hex_digits[data[i] >> 4];
        *p++ = hex_digits[data[i] & 0x0F];
    }
}

void pgs_append_bytea_literal(std::string& out, const std::uint8_t* data, std::size_t size)
{
    out += "DECODE('";
    pgs_append_hex(out, data, size);
    out += "','hex')";
}

void pgs_append_bytea_literal_hex(std::string& out, std::string_view hex)
{
    out += "DECODE('";
    // Hex digits never hold an apostrophe, but the text comes from outside: quote it anyway.
    append_doubling(out, hex, '\'');
    out += "','hex')";
}

void pgs_append_copy_bytea(std::string& out, const std::uint8_t* data, std::size_t size)
{
    out += "\\\\x";
    pgs_append_hex(out, data, size);
}

void pgs_make_copy_bytea(std::vector<std::uint8_t>& bytes)
{
    const std::size_t size = bytes.size();
    bytes.resize(3 + 2 * size);
    std::uint8_t* p = bytes.data();
    // From the end backwards: byte i goes to 3 + 2i and 4 + 2i, past every byte not yet read.
    for (std::size_t i = size; i-- > 0;) {
        const std::uint8_t b = p[i];
        p[3 + 2 * i] = std::uint8_t(hex_digits[b >> 4]);
        p[4 + 2 * i] = std::uint8_t(hex_digits[b & 0x0F]);
    }
    p[0] = '\\';
    p[1] = '\\';
    p[2] = 'x';
}

// ---- COPY text format ------------------------------------------------------------------------

void pgs_append_copy_null(std::string& out)
{
    out += "\\N";
}

void pgs_append_copy_text(std::string& out, std::string_view text)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char e = copy_escape(static_cast<unsigned char>(text[i]));
        if (e) {
            out.append(text.data() + start, i - start);
            char pair[2] = {'\\', e};
            out.append(pair, 2);
            start = i + 1;
        }
    }
    out.append(text.data() + start, text.size() - start);
}

void pgs_escape_copy_text(std::string& text)
{
    // The bytes copy_escape escapes.
    const std::size_t extra = ole_variant::count_escaped_bytes(text);
    if (!extra) return;
    const std::size_t size = text.size();
    if (text.capacity() < size + extra) {
        std::string escaped;
        escaped.reserve(size + extra);
        pgs_append_copy_text(escaped, std::string_view(text));
        text.swap(escaped);
        return;
    }
    // From the end backwards: every byte moves by the escapes before it, so none is
    // overwritten before it is read.
    text.resize(size + extra);
    char* p = text.data();
    std::size_t to = size + extra;
    for (std::size_t from = size; from-- > 0 && to != from + 1;) {
        const char e = copy_escape(static_cast<unsigned char>(p[from]));
        if (e) {
            p[--to] = e;
            p[--to] = '\\';
        } else {
            p[--to] = p[from];
        }
    }
}

void pgs_append_copy_text(std::string& out, std::wstring_view text)
{
    out.reserve(out.size() + text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = next_code_point(text, i);
        if (c < 0x80) {
            char e = copy_escape(static_cast<unsigned>(c));
            if (e) {
                char pair[2] = {'\\', e};
                out.append(pair, 2);
            } else {
                out += static_cast<char>(c);
            }
        } else {
            put_code_point(out, c);
        }
    }
}

void pgs_append_copy_text(std::wstring& out, std::wstring_view text)
{
    out.reserve(out.size() + text.size());
    for (wchar_t c : text) {
        char e = (static_cast<unsigned>(c) < 0x80) ? copy_escape(static_cast<unsigned>(c)) : 0;
        if (e) {
            out += L'\\';
            out += static_cast<wchar_t>(e);
        } else {
            out += c;
        }
    }
}

// ---- libpq connection string -----------------------------------------------------------------

void pgs_append_conninfo_value(std::string& out, std::string_view value)
{
    out += '\'';
    for (char c : value) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    out += '\'';
}

std::string pgs_quote_conninfo_value(std::string_view value)
{
    std::string r;
    r.reserve(value.size() + 2);
    pgs_append_conninfo_value(r, value);
    return r;
}

std::string pgs_comment_text(std::string_view text)
{
    const std::string visible = tk_visible_text(text);
    std::string out;
    out.reserve(visible.size() + 4);
    for (char c : visible) {
        if (!out.empty() && ((out.back() == '/' && c == '*') || (out.back() == '*' && c == '/')))
            out += ' ';
        out += c;
    }
    return out;
}

#include "SQL/sql_quote.h"

#include <mysql.h>

#include "platform/pf_text.h"

void sql_append_quoted_name(std::string& out, std::string_view utf8_name)
{
    out.reserve(out.size() + utf8_name.size() + 2);
    out += '`';
    for (char c : utf8_name) {
        if (c == '`') out += '`';
        out += c;
    }
    out += '`';
}

std::string sql_quote_name(std::string_view utf8_name)
{
    std::string out;
    sql_append_quoted_name(out, utf8_name);
    return out;
}

std::wstring sql_quote_wname(std::wstring_view name)
{
    std::wstring out;
    out.reserve(name.size() + 2);
    out += L'`';
    for (wchar_t c : name) {
        if (c == L'`') out += L'`';
        out += c;
    }
    out += L'`';
    return out;
}

bool sql_is_quoted_name(std::wstring_view name)
{
    if (name.size() < 2 || name.front() != L'`' || name.back() != L'`') return false;
    std::wstring_view inner = name.substr(1, name.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] != L'`') continue;
        if (i + 1 >= inner.size() || inner[i + 1] != L'`') return false;
        ++i;
    }
    return true;
}

namespace {

// The client library's own escaping rules in its default (backslash) mode, for texts escaped
// before there is a session: its connection-free function cannot be used without a
// character set.
void append_escaped_default(std::string& out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '\0': out += "\\0"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\\': out += "\\\\"; break;
        case '\'': out += "\\'"; break;
        case '"': out += "\\\""; break;
        case '\x1a': out += "\\Z"; break;
        default: out += c; break;
        }
    }
}

}  // namespace

void sql_append_escaped(std::string& out, st_mysql* connection, std::string_view utf8_text)
{
    if (!connection) {
        append_escaped_default(out, utf8_text);
        return;
    }
    // The client library needs up to 2n+1 bytes.
    const std::size_t at = out.size();
    out.resize(at + utf8_text.size() * 2 + 1);
    const unsigned long n = mysql_real_escape_string(connection, out.data() + at, utf8_text.data(),
                                                     static_cast<unsigned long>(utf8_text.size()));
    out.resize(at + n);
}

void sql_append_literal(std::string& out, st_mysql* connection, std::string_view utf8_text)
{
    out.reserve(out.size() + utf8_text.size() * 2 + 3);
    out += '\'';
    sql_append_escaped(out, connection, utf8_text);
    out += '\'';
}

std::string sql_quote_literal(st_mysql* connection, std::string_view utf8_text)
{
    std::string out;
    sql_append_literal(out, connection, utf8_text);
    return out;
}

std::wstring sql_quote_wliteral(st_mysql* connection, std::wstring_view text)
{
    // The whole text, zero characters included: the escaping turns them into \0.
    return pf_utf8_to_wide(sql_quote_literal(connection, pf_wide_to_utf8(text)));
}

bool sql_is_plain_word(std::wstring_view s)
{
    if (s.empty()) return false;
    for (wchar_t c : s)
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_'))
            return false;
    return true;
}

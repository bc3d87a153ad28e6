#pragma once
// The one place where names and values are put into MySQL statement text. A backtick or a
// quote glued into SQL anywhere else is a bug: it bypasses the doubling and escaping here.
#include <string>
#include <string_view>

struct st_mysql;

// `name` with every backtick inside doubled: the server's lexer reads a doubled backtick as
// one backtick inside a quoted identifier, so any name (even a hostile one) stays one name.
std::string sql_quote_name(std::string_view utf8_name);
std::wstring sql_quote_wname(std::wstring_view name);

// Appends the quoted name to `out` (hot paths build their statements without temporaries).
void sql_append_quoted_name(std::string& out, std::string_view utf8_name);

// True when the text is exactly one well-formed backtick-quoted identifier (opening and
// closing backtick, every inner backtick doubled). Callers that accept names "already in
// quotes" must test with this, never with the first character alone.
bool sql_is_quoted_name(std::wstring_view name);

// A name that may go into a statement bare (a character set, a table type):
// not empty, only ASCII letters, digits and '_'.
bool sql_is_plain_word(std::wstring_view s);

// A string literal between apostrophes, escaped by the client library for the connection's
// character set and its NO_BACKSLASH_ESCAPES mode. Every byte survives: quotes, backslashes,
// zero bytes and line ends are escaped, so the server reads back exactly `utf8_text`.
// A null connection (no session yet) escapes by the default rules of a backslash-escaping session.
std::string sql_quote_literal(st_mysql* connection, std::string_view utf8_text);
std::wstring sql_quote_wliteral(st_mysql* connection, std::wstring_view text);
// Appends the literal to `out` (statements built in one buffer, no temporaries).
void sql_append_literal(std::string& out, st_mysql* connection, std::string_view utf8_text);
// The escaped text alone, without the apostrophes around it.
void sql_append_escaped(std::string& out, st_mysql* connection, std::string_view utf8_text);

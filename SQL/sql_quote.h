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

// A string literal between apostrophes, escaped by the client library for the connection's
// character set and its NO_BACKSLASH_ESCAPES mode.
std::string sql_quote_literal(st_mysql* connection, std::string_view utf8_text);

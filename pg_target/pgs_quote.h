#pragma once
// The one place where text is made safe for PostgreSQL: identifiers, string literals, bytea
// values, COPY text-format fields and libpq connection-string values.
//
// Every other unit of the PostgreSQL side builds statements through these functions; a quote
// glued into SQL anywhere else is a bug.
//
// Literals assume standard_conforming_strings = on (the session sets it): a backslash inside
// '...' is an ordinary character and only the apostrophe needs doubling.
//
// The append_* forms write into a caller's buffer, which keeps its capacity between rows, so
// the per-row paths (COPY lines, INSERT statements) allocate nothing once warm. Wide input
// (std::wstring holds code points) is encoded to UTF-8 on the way, in the same pass.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---- UTF-8 -------------------------------------------------------------------------------

// Appends the UTF-8 form of wide text. A code point that cannot be encoded (a lone surrogate,
// a value above U+10FFFF) becomes U+FFFD; a surrogate pair is joined into one code point.
void pgs_append_utf8(std::string& out, std::wstring_view text);

// Length in bytes of the UTF-8 form of wide text (with the same replacements as above).
std::size_t pgs_utf8_length(std::wstring_view text);

// ---- identifiers ---------------------------------------------------------------------------

// "name" with every inner double quote doubled. Case is kept: folding is the caller's choice.
void pgs_append_identifier(std::string& out, std::string_view name);
void pgs_append_identifier(std::string& out, std::wstring_view name);
void pgs_append_identifier(std::wstring& out, std::wstring_view name);
std::string pgs_quote_identifier(std::string_view name);
std::wstring pgs_quote_identifier(std::wstring_view name);

// "schema"."name", or just "name" when the schema is empty.
void pgs_append_qualified_name(std::string& out, std::string_view schema, std::string_view name);
std::wstring pgs_quote_qualified_name(std::wstring_view schema, std::wstring_view name);

// ---- string literals -----------------------------------------------------------------------

// 'text' with every apostrophe doubled; backslashes and control characters are kept as they
// are (standard_conforming_strings = on).
void pgs_append_literal(std::string& out, std::string_view text);
void pgs_append_literal(std::string& out, std::wstring_view text);
void pgs_append_literal(std::wstring& out, std::wstring_view text);
std::string pgs_quote_literal(std::string_view text);
std::wstring pgs_quote_literal(std::wstring_view text);

// $tag$text$tag$ with a tag that the text does not contain ($q$, $q1$, $q2$ ...), so the text
// needs no escaping at all.
std::wstring pgs_dollar_quote(std::wstring_view text);

// ---- bytea -----------------------------------------------------------------------------

// Two upper-case hexadecimal digits per byte.
void pgs_append_hex(std::string& out, const std::uint8_t* data, std::size_t size);

// SQL form of a bytea value: DECODE('4142','hex'). Independent of bytea_output and of
// standard_conforming_strings.
void pgs_append_bytea_literal(std::string& out, const std::uint8_t* data, std::size_t size);

// SQL form from hexadecimal digits already made (without the 0x prefix).
void pgs_append_bytea_literal_hex(std::string& out, std::string_view hex_digits);

// COPY text-format field of a bytea value: \\x4142 (the COPY reader turns the doubled backslash
// into one, and the bytea input reads the hexadecimal form).
// The bytes replaced by their COPY field (what pgs_append_copy_bytea writes for them), made
// where they stand: for a large value that is not copied. Room for it is used when the vector
// has it.
void pgs_make_copy_bytea(std::vector<std::uint8_t>& bytes);
void pgs_append_copy_bytea(std::string& out, const std::uint8_t* data, std::size_t size);

// ---- COPY text format ------------------------------------------------------------------------

// The NULL marker of a COPY text-format field: \N
void pgs_append_copy_null(std::string& out);

// A text field of a COPY data line: backslash, tab, line feed and carriage return are written as
// \\, \t, \n and \r; everything else is copied. The field keeps the line structure intact
// whatever the data holds, and the text arrives unchanged.
void pgs_append_copy_text(std::string& out, std::string_view text);
void pgs_append_copy_text(std::string& out, std::wstring_view text);
void pgs_append_copy_text(std::wstring& out, std::wstring_view text);
// The same escapes made in the text itself, for a large value that is not copied: when its room
// holds the escaped form the text grows where it stands, otherwise it is replaced by its escaped
// form.
void pgs_escape_copy_text(std::string& text);

// ---- libpq connection string -----------------------------------------------------------------

// key='value' form of a conninfo value: apostrophes and backslashes escaped with a backslash,
// so a password with a blank, a quote or a backslash is read back exactly.
void pgs_append_conninfo_value(std::string& out, std::string_view value);
std::string pgs_quote_conninfo_value(std::string_view value);

// ---- comments --------------------------------------------------------------------------------

// Text (UTF-8) put inside a script comment, made inert: control characters become visible
// escapes (no line break can end a -- comment), and a blank goes between '/' and '*' and between
// '*' and '/' wherever they meet, so the text neither opens a nested /* */ comment nor closes
// the one it is in.
std::string pgs_comment_text(std::string_view text);

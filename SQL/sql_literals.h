#pragma once
// Values in MySQL statement text: the literal of a value text of a given kind, the text that
// stands for one field in INSERT (or "?" for a value sent apart as long data), and the DEFAULT
// text of a column for CREATE TABLE. Stateless; every quoted literal goes through the
// quoting unit (sql_quote), escaped for the engine's connection.
//
// Literal rules, by kind:
//  - VT_EMPTY / VT_NULL: NULL. An empty text of any other kind: ''.
//  - VT_DATE: the text read as a date and printed in full (microseconds), quoted; a text that
//    is no date is a tk_exception (level 0), never a guessed value.
//  - VT_BSTR and every other non-numeric kind: quoted and escaped, the whole text.
//  - numeric kinds: bare when the text is a plain number, else quoted and escaped (the server
//    converts a quoted number; a bare non-number could change the statement).
//  - binary kinds (VT_BLOB, VT_BLOB_OBJECT, byte array) given as text: bare when the text is a
//    hexadecimal literal (0x...) or decimal digits, else quoted and escaped. A byte-array field
//    is written as 0x and two hexadecimal digits per byte; an empty one as ''.
#include <string>
#include <string_view>

#include "TK/ole_variant.h"

class udb_field;
struct t_ftd;

// Data size above which the single-row writer sends a value as long data.
constexpr std::uint32_t sql_long_data_threshold = 1048576;

std::string to_mysql_str(std::string_view utf8_text, VARTYPE kind);
std::wstring to_mysql_wstr(std::wstring_view text, VARTYPE kind);
// The literal of a field by its own kind.
std::string to_mysql_str(const udb_field& field);
// Appending forms for statements built in one buffer.
void sql_append_value(std::string& out, std::string_view utf8_text, VARTYPE kind);
void sql_append_field(std::string& out, const udb_field& field);

// The text for one field of an INSERT into `column` (UTF-8). With `prepared`, a field of more
// than sql_long_data_threshold bytes or characters gives "?". A custom conversion rule that
// takes the field decides its text. A NULL field bound for a NOT NULL column gives DEFAULT
// (the server fills in the column's default, or the next number of an auto-increment column);
// an empty text bound for a text or binary column stays an empty text.
std::string get_fld_append_str(const udb_field& field, const t_ftd& column, bool prepared);
void sql_append_fld_value(std::string& out, const udb_field& field, const t_ftd& column, bool prepared);

// The DEFAULT text of a column; empty when the column gets no default (a default that does not
// suit the column's kind is dropped, never an error).
std::wstring make_mysql_def_val(const t_ftd& column);

// Whether the text is a plain decimal number: optional sign, digits with at most one '.',
// optional exponent. Nothing else, not even blanks.
bool sql_is_number_text(std::string_view text) noexcept;

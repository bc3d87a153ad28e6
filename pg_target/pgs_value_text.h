#pragma once
// The text PostgreSQL receives for one field value: a field of a COPY text-format line, or an SQL
// literal for INSERT, UPDATE, DELETE and DEFAULT clauses. The destination column decides the
// form (its value kind and sub-type, prepared once per table as a pgs_value_column); the value
// supplies the data.
//
// Rules by column kind (pgs_value_kind):
//  - a missing value (VT_EMPTY/VT_NULL) is NULL (COPY \N, SQL NULL); an empty text is '' in a
//    text column and NULL in every other column;
//  - text: COPY escapes backslash, tab, LF and CR (\\, \t, \n, \r); SQL doubles apostrophes. The
//    text arrives unchanged, carriage returns included. A text starting with the character
//    U+0001 (a BIT(1) read as text) is written as 1;
//  - uuid_text: a GUID in any accepted form is written canonically, other text as text;
//  - boolean: false for 0 (any numeric zero) and for f/false/n/no/off, true otherwise;
//  - date: printed in the column's date kind with microseconds; an invalid date and the zero
//    date 0000-00-00 are NULL;
//  - bytea: bytes in hexadecimal (COPY \\x4142, SQL DECODE('4142','hex')); a text value stores
//    its UTF-8 bytes (an empty text none), while a text given to the text forms below
//    (pgs_append_text_value, to_pgs_str2) is taken as 0x-prefixed hexadecimal when it is one;
//  - number: the value's digits unquoted (floats in their shortest exact form, decimals digit
//    for digit). A text that is not a plain number is written as a quoted literal in SQL, so no
//    value can change the statement around it; the server then accepts it (NaN, Infinity) or
//    refuses the row with its own error.
//
// The append_* forms are the hot path: they write into the caller's reused buffer and allocate
// nothing for numbers, texts and bytes; a COPY field comes out complete (the caller only joins
// fields with tabs and ends the line).
#include <cstdint>
#include <string>
#include <string_view>

#include "pg_target/pgs_types.h"

class ole_variant;
class udb_field;
struct t_ftd;

// How values of one destination column are written; make it once per table.
struct pgs_value_column {
    VARTYPE vt = VT_BSTR;        // the column's value kind
    std::uint32_t subtype = 0;   // its sub-type code (dw_reserved)
    pgs_value_kind kind = pgs_value_kind::text;
};

pgs_value_column pgs_make_value_column(VARTYPE vt, std::uint32_t subtype);
pgs_value_column pgs_make_value_column(const t_ftd& column);

// Whether the value would reach PostgreSQL as text holding the character U+0000, which no
// PostgreSQL text can hold: a text value for a column whose values are written as text (text,
// uuid, number). A bytea column takes any byte, and the other kinds never write the text itself.
bool pgs_has_zero_char(const ole_variant& value, const pgs_value_column& column);
// Throws pgs_exception (level 0) "<what> contains a zero character, which PostgreSQL text cannot
// hold" when pgs_has_zero_char says so; `what` names the column ("Column \"name\""). The row
// writers call it for every field before any of the row is sent or written, so the row fails
// whole instead of arriving with its text cut short.
void pgs_check_zero_char(const ole_variant& value, const pgs_value_column& column, std::string_view what);

// One value as a COPY text-format field (NULL included).
void pgs_append_copy_value(std::string& line, const ole_variant& value, const pgs_value_column& column);
// One value as an SQL literal (NULL included).
void pgs_append_sql_value(std::string& statement, const ole_variant& value, const pgs_value_column& column);

// The same from the value's text (the text form of the value kind; a binary value's text is
// 0x followed by hexadecimal digits). An empty text is the empty text of a text column and
// NULL otherwise.
void pgs_append_text_value(std::string& out, std::wstring_view text, const pgs_value_column& column,
                           bool sql);

// Wide-text forms. sql false: COPY field; true: SQL literal.
std::wstring to_pgs_str2(std::wstring_view text, VARTYPE vt, std::uint32_t subtype, bool sql);
// SQL literal of a field (key conditions of UPDATE and DELETE), typed by the field's own value
// kind: a text as it is (also when it looks like a GUID, so it equals the stored text), a date
// with its date and time, a time of day as a time. A null field is an internal error.
std::wstring to_pgs_str(const udb_field* field);

// Whether the text is a plain decimal number: [+-] digits [. digits] [e [+-] digits], with at
// least one digit before the exponent. Such a text goes into SQL unquoted.
bool pgs_is_plain_number(std::string_view s);

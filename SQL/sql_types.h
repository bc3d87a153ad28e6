#pragma once
// Translation between MySQL column types and the model's value kinds. Reading: the kind of a
// result column, and one value of a row (the client library's text or bytes) turned into a
// field value. Writing: the MySQL column type text of a column descriptor.
//
// The rules live in one table (`sql_type_rules`), looked up by type code; the reading of one
// row value goes by a per-column plan made once per result, never per row.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <mysql.h>

#include "TK/ole_variant.h"

class t_ftd;
class udb_field;

constexpr unsigned sql_charset_binary = 63;  // the "binary" character set number

// Kind of a result column by type code and flags alone (UNSIGNED_FLAG, BINARY_FLAG).
VARTYPE get_vartype(int type, unsigned flags);
// Kind of a result column from its full description: tells binary strings (character set
// "binary") from text with a binary collation, and sizes BIT(n) values.
VARTYPE get_vartype(const MYSQL_FIELD& field);
// Whether the column holds bytes (BINARY, VARBINARY, BLOB): character set "binary".
bool sql_is_binary_column(const MYSQL_FIELD& field) noexcept;
// The unsigned kind that holds n bits (BIT(n), n > 1).
VARTYPE sql_bits_kind(unsigned long bits) noexcept;

// How one column's bytes become a value.
enum class sql_value_path : std::uint8_t {
    text,         // UTF-8 text -> VT_BSTR
    bytes,        // raw bytes -> byte array, exactly `length` bytes
    boolean_bit,  // BIT(1): first byte non-zero
    bits,         // BIT(n), n > 1: big-endian bytes -> unsigned integer
    integer,      // decimal text -> the integer kind of the plan
    real,         // decimal text -> VT_R4 / VT_R8
    decimal,      // decimal text -> exact VT_DECIMAL
    date,         // date / datetime / timestamp text -> VT_DATE (a zero date reads as empty)
    time_of_day,  // TIME text -> VT_DATE time only; outside 00:00:00-23:59:59 the row fails
    geometry,     // the server's geometry bytes (SRID, then WKB) -> EWKB as hexadecimal text
    checked_text, // text read with its round trip through UTF-8 checked (sql_checked_text_select)
    other,        // any other kind: the value layer's conversion from text
};

struct sql_column_plan {
    std::wstring name;
    VARTYPE vt = VT_BSTR;
    sql_value_path path = sql_value_path::text;
    int mysql_type = MYSQL_TYPE_STRING;
};

// Plan of a result read by its column descriptions (statement results, queries).
sql_column_plan sql_plan_for_field(const MYSQL_FIELD& field, bool blob_to_text);
// Plan of a table column whose kind the table reader decided (it may have been refined:
// a FLOAT(M,D) read as decimal, a BLOB read as text).
sql_column_plan sql_plan_for_column(const t_ftd& column, const MYSQL_FIELD& field, bool blob_to_text);

// Sets `out` (value and size) from one row value; a null pointer is SQL NULL (empty value,
// size 0). Throws sql_exception for a value the kind cannot carry faithfully.
void sql_read_value(const sql_column_plan& plan, const char* value, unsigned long length, udb_field& out);

// The row-value and text forms of the reading rules.
ole_variant get_variant(int type, unsigned long length, unsigned flags, const char* value);
ole_variant get_variant(VARTYPE kind, const char* text);
ole_variant get_variant(VARTYPE kind, const wchar_t* text);

// The MySQL column type text of a descriptor (CREATE TABLE side).
std::wstring get_sql_native_type2(const t_ftd& column);
// The name of one of the engine's own type numbers; "<Unknown type>" for others.
std::wstring get_mysql_type_name(int number);

// --- geometry ----------------------------------------------------------------------------
// The server keeps a geometry as its SRID (4 bytes, little-endian) followed by the WKB. EWKB
// is WKB whose type word carries 0x20000000 and is followed by the SRID (in the WKB's byte
// order); without an SRID (0) it is the plain WKB. Both directions work on whole values and
// fail (false) on bytes that are not such a value.
bool sql_geometry_to_ewkb_hex(const unsigned char* value, std::size_t length, std::string& hex);
// From EWKB (or WKB) hexadecimal text back to the plain WKB bytes and the SRID.
bool sql_ewkb_hex_to_wkb(std::string_view hex, std::string& wkb, std::uint32_t& srid);

// --- text whose bytes the server may not be able to show -----------------------------------
// Whether a character set can hold bytes that have no UTF-8 form (ascii with 0x80, undefined
// codes of 8-bit sets, ill-formed multi-byte sequences): the server sends '?' in their place.
// utf8mb4, utf8mb3, latin1 and binary cannot.
bool sql_charset_may_lose_bytes(std::string_view charset);
// The select item (with its alias) that reads column `quoted_name` of character set `charset`
// so that a value the conversion to UTF-8 would change is seen: such a value arrives as its
// bytes in hexadecimal and fails its row (path checked_text) instead of arriving with '?'.
std::string sql_checked_text_select(const std::string& quoted_name, std::string_view charset);

// Whether a TIME text lies inside one day (00:00:00 to 23:59:59.999999).
bool sql_time_in_day(std::string_view text) noexcept;
// Whether a TIME text is exactly the end of a day, 24:00:00 (with zero fractions at most).
bool sql_is_end_of_day(std::string_view text) noexcept;

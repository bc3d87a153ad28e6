#pragma once
// The PostgreSQL type mapping: which PostgreSQL column type a neutral column becomes (and in
// which form its values are written), and which value kind a PostgreSQL type name or type
// number is read back as.
//
// The forward mapping is one constexpr table (pgs_type_rows in pgs_types.cpp) walked by a
// loop: a row matches a value kind, a sub-type condition and a size condition, and gives the
// type text in full (CREATE TABLE) and name-only (types-map defaults) form, the serial type
// for auto-increment columns and the value-text kind. New mappings are new rows.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/pf_value.h"

struct t_ftd;
class ole_variant;

// Sub-type codes of a column descriptor (dw_reserved) that the mapping reads.
namespace pgs_subtype {
constexpr std::uint32_t date_kind_mask = 0x3;  // VT_DATE: low two bits
constexpr std::uint32_t date_time = 1;         //   date and time (0 as well)
constexpr std::uint32_t date_only = 2;
constexpr std::uint32_t time_only = 3;
constexpr std::uint32_t current_moment = 0x8;  // VT_DATE: the default is the current moment
constexpr std::uint32_t time_zone = 0x10;      // VT_DATE: the timestamp carries a time zone
constexpr std::uint32_t uuid = 1;              // text: a UUID
constexpr std::uint32_t geometry = 2;          // text: a geometry value
constexpr std::uint32_t fixed_text = 4;        // text: fixed-length
constexpr std::uint32_t geography = 8;         // text: a geography value
constexpr std::uint32_t empty_default = 0x10;  // text: the source default is ''
constexpr std::uint32_t bit_text = 0x20;       // text: a BIT value read as text (U+0001 is 1)
}  // namespace pgs_subtype

// Longest text that still becomes VARCHAR(n); longer or unsized text becomes TEXT.
constexpr std::uint32_t pgs_max_varchar_size = 32672;

// Most fractional second digits a PostgreSQL timestamp keeps. A VT_DATE column's scale is its
// count of fractional digits (DATETIME(6) has 6); the mapping writes TIMESTAMP(scale), brought
// into 0..6.
constexpr std::int32_t pgs_max_time_precision = 6;

// How the values of a column are written into a COPY line or an SQL statement.
enum class pgs_value_kind : std::uint8_t {
    number,     // the value's text as it is (unquoted in SQL)
    text,       // escaped COPY text / quoted literal
    uuid_text,  // a GUID in any accepted form is written canonically, else as text
    boolean,    // t / f
    date,       // parsed as a date, written in the column's date kind; invalid or zero -> NULL
    bytea,      // hexadecimal bytea form
    null_only,  // VT_NULL: always NULL
};

// A PostgreSQL column type as a field mutator keeps it (the user's or the default choice).
struct pgs_native_type {
    std::wstring type;           // type name without size: "VARCHAR", "DECIMAL", "INTEGER"
    std::wstring default_value;  // DEFAULT expression as text
    std::wstring character_set;
    std::uint64_t length = 0;
    std::int32_t scale = 0;
    std::int32_t precision = 0;

    // The value kind in which values of this type travel (the type name lower-cased, then
    // pgs_get_vartype1). Never VT_NULL.
    VARTYPE get_udb_type() const;
    void get_udb_type(VARTYPE& vt) const { vt = get_udb_type(); }
};

// What the mapping reads of a column.
struct pgs_column_shape {
    VARTYPE vt = VT_EMPTY;
    std::uint32_t subtype = 0;
    std::uint32_t size = 0;
    std::int32_t precision = 0;
    std::int32_t scale = 0;
    bool auto_increment = false;
};

// The mapping of one column shape; an internal error (tk_mail_assertion "pgs_util", 207) when
// no row holds its value kind.
struct pgs_type_choice {
    std::wstring type_text;    // full or name-only text, per the request
    pgs_value_kind kind;
};
pgs_type_choice pgs_map_type(const pgs_column_shape& shape, bool name_only);

// The value-text kind of a destination column (vt, sub-type): decided once per table.
// Kinds that the type table does not map (VT_NULL, VT_BLOB_OBJECT, ...) answer the kind their
// values are written in.
pgs_value_kind pgs_get_value_kind(VARTYPE vt, std::uint32_t subtype);

// The PostgreSQL type of a column: its native type text when set, else the table's choice in
// full ("VARCHAR(40) ") or name-only ("VARCHAR") form.
std::wstring pgs_get_native_type1(const t_ftd& column, bool name_only);

// The full type text from a user's type name and the sizes kept beside it: VARCHAR... and
// CHAR... get (length), DECIMAL... gets (precision,scale); a name that already has a size, or a
// size of 0, gets none. Names are compared case-sensitively (a lower-case name stays as it is).
std::wstring pgs_get_native_type2(const pgs_native_type& native);

// PostgreSQL type name (exact case) -> value kind; unknown names give VT_BSTR. A size in
// parentheses is ignored ("timestamp(6)" is a timestamp), so a type text the mapping offers
// with its precision travels in the kind of its name.
VARTYPE pgs_get_vartype1(std::string_view name);
// PostgreSQL type number (OID) -> value kind; unknown numbers give VT_BSTR.
VARTYPE pgs_get_vartype2(std::uint32_t oid);

// A default value text from the catalog as a value of the given kind (null text: VT_EMPTY).
ole_variant pgs_get_variant(VARTYPE vt, const char* text);

// The longest prefix of a name whose UTF-8 form takes at most budget - 1 bytes (the callers pass
// 64: PostgreSQL's 63-byte identifier budget), cut on a character boundary.
std::wstring pgs_get_safe_substr(std::wstring_view name, int budget);

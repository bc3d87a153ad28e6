#pragma once
// Column descriptors (t_ftd) and the ordered list of them that describes a
// table (udb_schema), with the table's auto-increment seed and increment and
// the conformance test that decides whether rows of one table can be appended
// to another.
//
// Descriptors are shared: a schema holds them through shared pointers, so a
// copy of a schema (the conversion copies a recordset's schema) refers to the
// same descriptors and stays valid after the schema it was copied from is gone.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TK/ole_variant.h"

// Kind groups used by the conformance rules.
bool udb_is_numeric_kind(VARTYPE vt) noexcept;  // I1..UI8, R4, R8, CY, BOOL, DECIMAL (not INT/UINT)
bool udb_is_text_kind(VARTYPE vt) noexcept;     // BSTR, LPSTR, LPWSTR
bool udb_is_binary_kind(VARTYPE vt) noexcept;   // BLOB, BLOB_OBJECT, ARRAY|UI1

// Sub-type codes kept in t_ftd::dw_reserved.
namespace udb_subtype {
constexpr std::int32_t date_only = 2;           // VT_DATE, low two bits
constexpr std::int32_t time_only = 3;           // VT_DATE, low two bits
constexpr std::int32_t current_timestamp = 9;   // VT_DATE whose default is CURRENT_TIMESTAMP
constexpr std::int32_t mysql_date_only = 10;    // VT_DATE for the MySQL column-type writer
constexpr std::int32_t with_time_zone = 16;     // VT_DATE, bit value
constexpr std::int32_t uuid = 1;                // VT_BSTR
constexpr std::int32_t geometry = 2;            // VT_BSTR
constexpr std::int32_t fixed_pgs = 4;           // VT_BSTR: CHAR on the PostgreSQL side
constexpr std::int32_t geography = 8;           // VT_BSTR
constexpr std::int32_t fixed_mysql = 16;        // VT_BSTR: CHAR for the MySQL column-type writer
constexpr std::int32_t empty_text_default = 16; // VT_BSTR bit: the source default is '' (PostgreSQL side)
constexpr std::int32_t bit = 32;                // bit value: read as text, U+0001 stands for 1
constexpr std::int32_t int64_signed = 1;        // 64-bit integer from MySQL
constexpr std::int32_t int64_unsigned = 2;
}  // namespace udb_subtype

// The description of one column.
struct t_ftd {
    // The empty descriptor: size 0, no name, VT_EMPTY, no flags, no default.
    t_ftd() = default;
    // Arguments in this order (it differs from the member order).
    t_ftd(std::uint32_t size, std::wstring name, VARTYPE vartype, bool b_not_null, bool auto_increment,
          const ole_variant& default_value = ole_variant(), std::int32_t dw_reserved = 0,
          std::wstring nativetype = std::wstring());
    t_ftd(const t_ftd&) = default;
    t_ftd(t_ftd&&) noexcept = default;
    t_ftd& operator=(const t_ftd&) = default;
    t_ftd& operator=(t_ftd&&) noexcept = default;

    // Same value type (VT_DECIMAL and VT_CY count as the same) and, for
    // VT_BSTR, the same size. Names, flags and defaults play no part.
    bool operator==(const t_ftd& that) const noexcept;
    // Whether values of this (source) column fit the destination column `that`; never when the
    // destination would round them (see narrows).
    bool conform_to(const t_ftd& that) const;
    // Whether the destination column `that` would keep less of this column's values than they
    // hold: fractions in an integer, more decimal digits than its scale (or a FLOAT's or
    // DOUBLE's in a NUMERIC of fixed scale), a REAL for wider numbers, a DATE for a date and
    // time, a TIME for a date, a date or timestamp for a TIME, fewer fractional second digits,
    // a DOUBLE for 64-bit integers and decimals of more than 15 digits, a BOOLEAN for anything
    // but a boolean. A NUMERIC of more than 38 digits or without precision is read as VT_R8
    // with a negative precision: it keeps every digit, up to its scale (-1 without precision).
    bool narrows(const t_ftd& that) const;

    std::uint32_t size = 0;      // characters for text, bytes for binary; 0 = no limit
    std::int32_t precision = 0;
    std::int32_t scale = 0;
    std::wstring name;
    VARTYPE vartype = VT_EMPTY;  // the kind in which the column's values travel
    std::wstring nativetype;     // the column's type in a database's own terms; empty when unset
    bool auto_increment = false;
    bool b_not_null = false;
    ole_variant default_value;
    std::int32_t dw_reserved = 0;  // sub-type code (udb_subtype)
    std::wstring comment;
    // The default value is already an expression in the destination's terms
    // (a field mutator set it from the user's type mapping) and is written as
    // it stands instead of being turned into a literal again.
    bool default_is_expression = false;
    // The default is an expression of the source (uuid(), curdate(), 1 + 2), its text kept in
    // default_value: a destination writes the ones it has a form of and reports the rest.
    bool default_is_source_expression = false;
    // NOT NULL in the source, though b_not_null is off so that values without a form in the
    // destination (zero dates) can arrive as NULL: set again after the rows when none did.
    bool not_null_after_rows = false;
    // A MySQL ENUM or SET: MySQL sorts its values by their place in the type, a text column of
    // the destination by the text.
    bool sorts_by_place = false;
    // What of the source column's definition no destination gets (an ON UPDATE clause, a
    // default the source server cannot show whole), one sentence per item naming it: the run
    // reports each, so the column never arrives changed without a word.
    std::vector<std::wstring> not_carried;
};

class udb_schema {
public:
    using column_ptr = std::shared_ptr<t_ftd>;
    using list_type = std::vector<column_ptr>;
    using iterator = list_type::iterator;
    using const_iterator = list_type::const_iterator;

    explicit udb_schema(int mode = 0);
    // Copies share the descriptors.
    udb_schema(const udb_schema&) = default;
    udb_schema(udb_schema&&) noexcept = default;
    udb_schema& operator=(const udb_schema&) = default;
    udb_schema& operator=(udb_schema&&) noexcept = default;
    virtual ~udb_schema();

    std::size_t size() const noexcept { return m_columns.size(); }
    bool empty() const noexcept { return m_columns.empty(); }
    void reserve(std::size_t n) { m_columns.reserve(n); }
    void clear() noexcept { m_columns.clear(); }

    // The descriptor at position i; the entry must not be null.
    t_ftd& operator[](std::size_t i) noexcept { return *m_columns[i]; }
    const t_ftd& operator[](std::size_t i) const noexcept { return *m_columns[i]; }
    // The shared entry at position i (may be null).
    const column_ptr& get(std::size_t i) const noexcept { return m_columns[i]; }

    void push_back(column_ptr column) { m_columns.push_back(std::move(column)); }
    // Adds a new descriptor at the end and returns it.
    t_ftd& add_column(t_ftd column);

    iterator begin() noexcept { return m_columns.begin(); }
    iterator end() noexcept { return m_columns.end(); }
    const_iterator begin() const noexcept { return m_columns.begin(); }
    const_iterator end() const noexcept { return m_columns.end(); }
    // The list itself (a mutator replaces it with its rewritten columns).
    list_type& columns() noexcept { return m_columns; }
    const list_type& columns() const noexcept { return m_columns; }

    // Lookups by column name ignoring case; null entries are skipped.
    bool find_field(const std::wstring& name) const;
    // The first column of that name; an empty descriptor when none has it (a
    // per-thread placeholder, emptied on every miss).
    t_ftd& get_field1(const std::wstring& name);
    const t_ftd& get_field1(const std::wstring& name) const;
    t_ftd& get_field2(const std::wstring& name);
    const t_ftd& get_field2(const std::wstring& name) const;
    // Position of the first column of that name, or -1.
    int get_field_idx(const std::wstring& name) const;
    // size of the column, or 0xFFFFFFFF when there is none.
    std::uint32_t get_field_size(const std::wstring& name) const;
    // vartype of the column, or VT_NULL when there is none.
    VARTYPE get_field_type(const std::wstring& name) const;

    // Whether rows of this (source) schema can be appended to `that`: same
    // column count and every column conforms, paired by position or by name.
    bool conform_to(const udb_schema& that, bool by_name) const;

    int mode = 0;
    std::int64_t seed = 1;       // the auto-increment column continues from here
    std::int64_t increment = 1;  // step of the auto-increment column

private:
    const t_ftd* find_ptr(const std::wstring& name) const;
    t_ftd& lookup(const std::wstring& name, const wchar_t* trace);

    list_type m_columns;
};

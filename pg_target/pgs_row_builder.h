#pragma once
// One row of a table as PostgreSQL receives it: a COPY text-format line or an
// SQL value list "(v1, v2)", written straight into the caller's buffer. The
// live table (COPY batches and INSERT batches) and the script file build their
// rows here, so a value one of them refuses the other refuses with the same
// message, and both write the same text.
//
// Prepared once per table: a plan per destination column (how its values are
// written, what they must fit) and, per record layout, which record field fills
// which column. Per row, every field is checked before the row is complete:
//  - a text holding the character U+0000 (no PostgreSQL text can hold it);
//  - a value that cannot fit its column: an integer outside smallint, integer
//    or bigint, more digits before the point than a numeric(p,s) allows (after
//    rounding to its scale), a text longer than its varchar(n) or char(n);
//  - with an encoder set, a text the client encoding cannot represent;
//  - optionally (refuse_nulls) a NULL for a NOT NULL column.
// A failed check throws pgs_exception (level 0) naming the value or the column,
// and takes the row's text back out of the buffer, so the buffer holds only
// whole rows. Nothing is allocated per value once the buffer is warm.
//
// The client library stays out of this header.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pg_target/pgs_value_text.h"

class pgs_encoder;
struct pgs_row_batch;
class udb_field;
class udb_record;
class udb_schema;
struct t_ftd;

// What a value must fit beyond its value kind.
enum class pgs_fit_check : std::uint8_t { none, int16, int32, int64, numeric, real, chars };

// How one destination column takes values; made once per table.
struct pgs_column_plan {
    std::wstring name;              // the column's name, plain (for messages)
    pgs_value_column value;         // how its values are written
    pgs_fit_check check = pgs_fit_check::none;
    std::int32_t int_digits = 0;    // numeric: digits allowed before the point
    std::int32_t scale = 0;         // numeric: digits kept after it
    std::uint32_t max_chars = 0;    // chars: the declared length
    bool not_null = false;
    std::string type_name;          // the server's name of the checked type, for messages
    std::string label;              // "Column \"name\"", for messages
};

// The plan of a column of an existing table: type_name is the catalog's type
// name (information_schema data_type: "smallint", "character varying",
// "numeric" ...), the length, precision and scale are the column's own.
pgs_column_plan pgs_plan_catalog_column(const t_ftd& column, std::string_view type_name);

// The plan of a column as a CREATE TABLE statement declares it: type_text is
// the declared type ("VARCHAR(3) ", "DECIMAL(10,2)", "SMALLSERIAL", "int2"),
// any case; its own length, precision and scale count, and a type declared
// without them is unbounded (CHAR alone is CHAR(1)). An empty type_text (a
// table this side did not make) checks no fit. name is the plain column name.
pgs_column_plan pgs_plan_declared_column(const t_ftd& column, std::wstring name, std::wstring_view type_text);

// Which record field goes to which column, made once per record layout: record
// fields and columns are matched by name (case ignored), a field taken under
// the name the field validator makes safe.
struct pgs_record_layout {
    std::vector<std::wstring> field_names;  // the record's names it was made for
    std::vector<int> field_of_column;       // per column, its field (-1 when none)
    std::vector<int> column_of_field;       // per field, its column (-1 when none)

    // Whether the record has the names this layout was made for.
    bool matches(const udb_record& record) const;
};

// Matched by the names the field validator makes safe; when several fields
// take one name, the last one fills the column.
pgs_record_layout pgs_match_fields(const udb_record& record, const udb_schema& columns);

class pgs_row_builder {
public:
    pgs_row_builder() = default;
    explicit pgs_row_builder(std::vector<pgs_column_plan> columns) : m_columns(std::move(columns)) {}

    const std::vector<pgs_column_plan>& columns() const noexcept { return m_columns; }

    // The client encoding every written value is checked against; null (the
    // default) checks nothing. Not owned.
    void set_encoder(pgs_encoder* encoder) noexcept { m_encoder = encoder; }

    // A NULL written for a NOT NULL column fails the row with the server's own
    // report for it (SQLSTATE 23502), naming relation. For a script only: a
    // live server checks this itself, after the table's BEFORE triggers, which
    // may still fill the value.
    void refuse_nulls(std::string relation)
    {
        m_refuse_nulls = true;
        m_relation = std::move(relation);
    }

    // COPY lines write the empty text for a missing value of a NOT NULL text
    // column (the script's COPY form; its INSERT form refuses it).
    void set_empty_text_for_missing(bool on) noexcept { m_empty_text_for_missing = on; }

    // Values larger than this many units (bytes, characters) are checked but
    // not written: their place in the row is noted (large_values()) for the
    // caller, which writes them itself. 0 (the default): every value is written.
    void set_large_value_size(std::uint64_t size) noexcept { m_large_value_size = size; }

    struct large_value {
        std::size_t position;  // offset in the buffer where the value belongs
        std::size_t field;     // the record's field
        std::size_t column;    // the column it fills
    };
    // The values of the last row that were left out for the caller, in row order.
    const std::vector<large_value>& large_values() const noexcept { return m_large; }

    // Appends the row as a COPY line ending in '\n': per column, the field
    // layout.field_of_column names (every column must have one).
    void append_copy_line(std::string& out, const udb_record& record, const pgs_record_layout& layout);
    // Appends the row as "(v1, v2, ...)": per record field, the column
    // layout.column_of_field names (every field must have one).
    void append_sql_values(std::string& out, const udb_record& record, const pgs_record_layout& layout);

    // The same rows written into a live batch's text, where a text or byte array of
    // hand_over_size bytes or more is not held twice: a text of a text column kept as UTF-8
    // goes into a COPY line without a copy (escaped where it stands and handed over to the
    // batch as one of its pieces), and so does a byte array of a bytea column (turned into its
    // hexadecimal COPY field where it stands); any other is released once it is written. Either way its
    // field is left an empty text or an empty byte array (ole_variant::release_content): the
    // caller makes no further use of the record's values beyond whether they are NULL. A field
    // that fills more than one column keeps its value.
    static constexpr std::size_t hand_over_size = 64 * 1024;
    void append_copy_line(pgs_row_batch& batch, udb_record& record, const pgs_record_layout& layout);
    void append_sql_values(pgs_row_batch& batch, udb_record& record, const pgs_record_layout& layout);

private:
    // own: the field itself when its large value may be handed over or released (a live
    // batch's row), otherwise null.
    template <bool Sql>
    void append_value(std::string& out, const udb_field& field, std::size_t field_index, std::size_t column,
                      udb_field* own = nullptr, pgs_row_batch* batch = nullptr);
    // A value written as it is, then checked (NULL in a NOT NULL column, the client encoding).
    template <bool Sql>
    void append_written(std::string& out, const udb_field& field, const pgs_column_plan& col);
    template <bool Sql>
    void append_large_value(std::string& out, udb_field& field, std::size_t field_index, const pgs_column_plan& col,
                            pgs_row_batch& batch);
    void check_large_value(const udb_field& field, const pgs_column_plan& col, bool sql);
    [[noreturn]] void refuse_null(const pgs_column_plan& col) const;

    std::vector<pgs_column_plan> m_columns;
    pgs_encoder* m_encoder = nullptr;
    bool m_refuse_nulls = false;
    bool m_empty_text_for_missing = false;
    std::string m_relation;
    std::uint64_t m_large_value_size = 0;
    std::vector<large_value> m_large;
    std::string m_scratch;  // a large value's text while it is checked
    const pgs_record_layout* m_copy_layout = nullptr;  // of the COPY line written into a batch
};

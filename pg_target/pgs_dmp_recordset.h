#pragma once
// The rows of one table in a PostgreSQL script file: a COPY block ("COPY t(cols) FROM stdin;",
// one tab-separated line per record, "\." at the end) or one INSERT statement per record, as
// the engine's fast_insert switch says for each record. Field texts come from the same value
// text functions as the live rows (pgs_value_text.h).
//
// COPY lines collect in a buffer that goes to the file whenever it holds more than 1,000,000
// bytes; a value larger than 1,048,576 units never enters the buffer but goes straight to the
// file (binary data as hexadecimal in chunks), so memory stays bounded.
//
// A switch from COPY to INSERT within a table ends the open COPY block first, so no statement
// lands inside it. When the rows are done (finish(), or the destructor) an open COPY block is
// ended and, for a table with an auto-increment column that received rows, its sequence is set
// to the highest value loaded (or kept where the source's seed put it, when that is further),
// so inserting without an id after loading the script never collides.
//
// A value written as NULL for a column the table has NOT NULL (a zero date becomes NULL, for
// one) fails its record alone with the report the server gives such a row (pgs_exception, level
// 0, SQLSTATE 23502), so a COPY block never holds a line the server refuses. A text holding the
// character U+0000 fails its record the same way (pgs_check_zero_char).
//
// When the script declared a client encoding other than UTF8, every value of a record is checked
// against it before any byte of the record reaches the file: a value the encoding cannot hold
// fails that record alone (pgs_exception, level 0) and the rows before and after it stay.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "UDB/udb_recordset.h"
#include "pg_target/pgs_value_text.h"

class pgs_dmp_database;
class pgs_script_writer;

class pgs_dmp_recordset : public udb_recordset {
public:
    // table: the name as the script database received it (possibly schema-qualified);
    // columns: the table's columns with their final names, plain or already quoted (a deep
    // copy is kept); source_names: per column, the name the source gave it (a record's field
    // is matched by it first), or empty to use the column names.
    pgs_dmp_recordset(pgs_script_writer& out, pgs_dmp_database* database, const std::wstring& table,
                      const udb_schema& columns, std::vector<std::wstring> source_names = {});
    ~pgs_dmp_recordset() override;

    // tk_exception (level 0) "The structure of data source does not conform to the
    // destination table." when the record does not match the table; nothing of it is
    // written then. tk_exception (level 1) when the file cannot be written.
    void append_record(udb_record& record) override;

    // Ends an open COPY block and writes the sequence reset; checked (the destructor does
    // the same without throwing).
    void finish();

    // Rows go as INSERT statements whatever the engine's fast_insert says.
    void set_rows_by_insert(bool on) noexcept { m_rows_by_insert = on; }

    // Values larger than this many units (bytes, characters) bypass the row buffer.
    static constexpr std::uint32_t large_value_size = 1048576;
    // The row buffer goes to the file when it holds more than this many bytes.
    static constexpr std::size_t flush_size = 1000000;

private:
    void copy_append(const udb_record& record);
    void insert_append(const udb_record& record);
    void end_copy_block();
    void emit_with_large_values(std::string& text, const udb_record& record, bool sql);
    void write_large_value(const ole_variant& value, const pgs_value_column& column, bool sql);
    void prepare_insert_columns(const udb_record& record);
    void check_large_values(const udb_record& record, bool sql);
    int find_column(const std::wstring& name) const;
    // A NULL written for a column the table has NOT NULL: the server would refuse the row, and
    // in a COPY block the whole block with it (psql stops there). The row fails here instead,
    // with the server's own words, and the rows around it stay loadable.
    [[noreturn]] void refuse_null(std::size_t column) const;

    pgs_script_writer* m_out;                   // the database's writer; not owned
    std::string m_table_ident;                  // the table as an SQL name, UTF-8
    std::string m_relation;                     // the table's own name (no schema), UTF-8
    std::vector<std::string> m_column_idents;   // quoted column names, UTF-8, schema order
    std::vector<pgs_value_column> m_value_columns;
    std::vector<std::wstring> m_plain_names;    // final column names without quotes
    std::vector<std::wstring> m_source_names;   // the source's names of the columns
    std::vector<std::string> m_column_labels;   // "Column \"name\"", for encoding messages
    int m_serial_column = -1;                   // position of the auto-increment column

    bool m_copy_open = false;     // the COPY head has been put into the buffer
    bool m_rows_written = false;  // a row reached the script (the sequence needs a reset)
    bool m_finished = false;
    bool m_rows_by_insert = false;
    std::string m_buffer;         // COPY lines not yet in the file
    std::string m_statement;      // INSERT statement under construction (reused)
    std::string m_scratch;        // a large value's text (reused, released after use)
    struct large_value {
        std::size_t position;  // where the value belongs in the line or statement
        std::size_t field;     // the record's field
    };
    std::vector<large_value> m_large;  // large values of the record being written

    // INSERT column list of the last record layout: the record's field names and, per field,
    // the schema column it fills; rebuilt only when the layout changes.
    std::vector<std::wstring> m_insert_names;
    std::vector<int> m_insert_columns;
    std::string m_insert_head;    // "INSERT INTO t(c1, c2) VALUES ("
};

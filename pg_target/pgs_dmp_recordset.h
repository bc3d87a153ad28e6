#pragma once
// The rows of one table in a PostgreSQL script file: a COPY block ("COPY t(cols) FROM stdin;",
// one tab-separated line per record, "\." at the end) or one INSERT statement per record, as
// the engine's fast_insert switch says for each record. Rows are built by the same row builder
// as the live rows (pgs_row_builder.h): the same text, the same checks, the same messages.
//
// COPY lines collect in a buffer that goes to the file whenever it holds more than 1,000,000
// bytes; a value larger than 1,048,576 units never enters the buffer but goes straight to the
// file (binary data as hexadecimal in chunks), so memory stays bounded.
//
// A switch from COPY to INSERT within a table ends the open COPY block first, so no statement
// lands inside it. When the rows are done (finish(), or the destructor) an open COPY block is
// ended and, for a table with an auto-increment column that received rows, its sequence is set
// past the highest value loaded (or kept where the source's seed put it, when that is further;
// at the end of its range it stays there), so inserting without an id after loading the script
// never collides.
//
// Staged (stage_rows, for a script that keeps existing tables): the rows go into a temporary
// table first, outside the table's conditional block; finish() then moves them into the table
// the script created, or merges them into the table that was there (pgs_dump.h).
//
// Routed (route_rows, for a script that overwrites tables): the rows go, outside the table's
// conditional block, into the relation a psql variable names: the table when the script
// created it, else a temporary table made for them and dropped after them, so a table that
// was left as it was gets none of them.
//
// A row the server would refuse when the script is loaded fails its record alone here, before
// any byte of it reaches the file (pgs_exception, level 0), so a COPY block never holds a line
// that would stop the load, and the rows before and after it stay:
//  - a value written as NULL for a column the table has NOT NULL (a zero date becomes NULL, for
//    one), with the server's report for such a row (SQLSTATE 23502);
//  - a text holding the character U+0000 (pgs_check_zero_char);
//  - a value that does not fit the column's declared type (an integer out of range, too many
//    digits for a NUMERIC, a text longer than its VARCHAR), with the message a live run gives;
//    checked for the tables whose CREATE TABLE the script holds (column_types);
//  - when the script declared a client encoding other than UTF8, a value that encoding cannot
//    hold.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "UDB/udb_recordset.h"
#include "pg_target/pgs_dump_options.h"
#include "pg_target/pgs_row_builder.h"
#include "pg_target/pgs_value_text.h"

class pgs_dmp_database;
class pgs_script_writer;

class pgs_dmp_recordset : public udb_recordset {
public:
    // table: the name as the script database received it (possibly schema-qualified);
    // columns: the table's columns with their final names, plain or already quoted (a deep
    // copy is kept); source_names: per column, the name the source gave it (a record's field
    // is matched by it first), or empty to use the column names; column_types: per column, the
    // type the script's CREATE TABLE declared, which values must fit (none are checked for a
    // column without one).
    pgs_dmp_recordset(pgs_script_writer& out, pgs_dmp_database* database, const std::wstring& table,
                      const udb_schema& columns, std::vector<std::wstring> source_names = {},
                      const std::vector<std::wstring>& column_types = {});
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

    // Before the first row: the rows are staged. rule: what happens to a table that was there
    // (keep, merge or synchronize); variable: the psql variable that is true when the script
    // created the table; key: positions of the columns a merge names in ON CONFLICT (empty:
    // the table has no key, its rows are appended to a table that was there).
    void stage_rows(pgs_existing_table rule, std::string variable, std::vector<std::size_t> key);

    // Before the first row: the rows are routed. variable: the psql variable that is true when
    // the script created the table; into: the psql variable naming where the rows go, the
    // table or stage_ident.
    void route_rows(std::string variable, std::string into);

    // The temporary table staged or thrown-away rows go into: one at a time, dropped after its
    // table's rows.
    static constexpr const char* stage_ident = "pg_temp.quindrel_rows";

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
    int find_column(const std::wstring& name) const;
    // The statement that sets the auto-increment column's sequence past the rows.
    std::string sequence_statement() const;
    // Staged rows: the temporary table, before the first row; the move or merge, at the end.
    std::string open_stage() const;
    std::string close_stage() const;
    std::string merge_block() const;
    // A name for the stage's own column that none of the table's columns has.
    std::string unused_column_name() const;

    pgs_script_writer* m_out;                   // the database's writer; not owned
    std::string m_table_ident;                  // the table as an SQL name, UTF-8
    std::string m_target_ident;                 // where COPY and INSERT put the rows: the table or the stage
    std::string m_relation;                     // the table's own name (no schema), UTF-8
    std::vector<std::string> m_column_idents;   // quoted column names, UTF-8, schema order
    std::vector<std::wstring> m_plain_names;    // final column names without quotes
    std::vector<std::wstring> m_source_names;   // the source's names of the columns
    int m_serial_column = -1;                   // position of the auto-increment column
    pgs_row_builder m_rows;                     // the row text and its checks
    pgs_record_layout m_copy_layout;            // COPY: field i fills column i
    std::vector<std::string> m_column_types;    // per column, the declared type, UTF-8

    // Staged rows (stage_rows).
    pgs_dmp_database* m_database = nullptr;
    bool m_staged = false;
    bool m_stage_open = false;                  // the temporary table is in the script
    bool m_routed = false;                      // route_rows
    pgs_existing_table m_rule = pgs_existing_table::replace;
    std::string m_variable;
    std::vector<std::size_t> m_key;
    std::string m_order_ident;                  // the stage's column numbering its rows

    bool m_copy_open = false;     // the COPY head has been put into the buffer
    bool m_rows_written = false;  // a row reached the script (the sequence needs a reset)
    bool m_finished = false;
    bool m_rows_by_insert = false;
    std::string m_buffer;         // COPY lines not yet in the file
    std::string m_statement;      // INSERT statement under construction (reused)
    std::string m_scratch;        // a large value's text (reused, released after use)

    // INSERT column list of the last record layout: per field, the schema column it fills;
    // rebuilt only when the layout changes.
    pgs_record_layout m_insert_layout;
    std::string m_insert_head;    // "INSERT INTO t(c1, c2) VALUES "
};

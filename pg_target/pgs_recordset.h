#pragma once
// One table (or one SQL query) of a live PostgreSQL database as a recordset:
//  - writing rows, the destination side of a conversion: COPY lines, or
//    multi-row INSERT statements that keep (ON CONFLICT (key) DO NOTHING) or replace
//    (ON CONFLICT (key) DO UPDATE) a row whose key exists, committed in batches
//    (COPY: 10,000 rows or 512 KB; INSERT: 1000 rows, fewer when they are large:
//    a refused batch is replayed in halves); the engine's fast_insert switch
//    chooses COPY, and a single row over a million bytes goes by INSERT
//    between two COPY batches;
//  - reading the table's description (columns, primary key, indexes, foreign
//    keys, row count) when it is built, and its rows through a cursor;
//  - updating and deleting a row by its key.
//
// Each batch keeps its rows until it is committed. When the server refuses a
// batch (COPY or INSERT alike), the batch is rolled back and replayed in
// smaller pieces under savepoints, in row order, so the rows stored are those
// a transaction per row would have stored and only the rows the server
// refuses are left out. While the next rows are read, full batches of a table
// without keys (a table the run creates gets its keys after its rows) are
// stored by the database's writer threads on connections of their own, several
// at once; flush_rows(), reading the table and the destructor wait for all of
// them first. Those rows are reported by a
// pgs_rows_rejected_exception (record numbers are the 1-based numbers of the
// append_record calls of this recordset) from the next append_record or from
// flush_rows(). A value that cannot fit its column (an integer out of range, a
// text longer than its VARCHAR, too many digits for a NUMERIC) fails its own
// append_record at once with a pgs_exception naming the value.
//
// A row the server refuses carries the server's SQLSTATE (pgs_exception::
// sqlstate, pgs_rejected_row::sqlstate), so a caller can tell a duplicate key
// (23505) from every other refusal.
//
// The client library stays out of this header.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "UDB/udb_index.h"
#include "UDB/udb_recordset.h"

class pgs_database;
class pgs_connection;

// What an INSERT does with a row whose key (primary key or unique index)
// already exists in the table.
enum class pgs_key_conflict : std::uint8_t {
    // INSERT ... ON CONFLICT (key columns) DO NOTHING: the existing row stays as
    // it is. A row that collides with another unique index is refused (23505)
    // like any other; a table without a key the server can match gets a plain
    // INSERT.
    skip,
    // INSERT ... ON CONFLICT (key columns) DO UPDATE SET the other columns: the
    // existing row takes the record's values, in the one statement. A table
    // without a primary or unique key gets a plain INSERT.
    replace,
};

class pgs_recordset : public udb_recordset {
public:
    // Over a query: the schema describes the result columns, the record count
    // is the query's row count.
    pgs_recordset(pgs_database* database, std::wstring name, std::wstring sql_text,
                  std::vector<udb_relationship>* foreign_keys);
    // Over a table (name possibly schema-qualified): columns, and unless mode
    // has both 0x20 and 0x40, primary key, indexes and foreign keys.
    pgs_recordset(pgs_database* database, std::wstring name,
                  std::vector<udb_relationship>* foreign_keys, std::int32_t mode);
    // Sends nothing (a failure here could not be reported): rows not stored by
    // flush_rows() are dropped, as an uncommitted transaction is, and batches
    // already with the writer threads are waited for (their refusals logged).
    // Finish a table with flush_rows() and set_sequence_after_rows().
    ~pgs_recordset() override;

    void append_record(udb_record& record) override;
    void update2(udb_record& record, const std::wstring& key) override;
    void update1(udb_record& record) override;
    udb_record* get_item() override;
    bool is_eof() override;
    void next() override;
    void reset() override;
    void delete_key(const std::wstring& key) override;
    void delete_key(udb_record& record) override;

    // How later INSERT statements treat an existing key (skip by default).
    // COPY lines cannot replace rows: a row of a COPY batch whose key exists
    // is refused with SQLSTATE 23505 whatever this says.
    void set_key_conflict(pgs_key_conflict form);
    pgs_key_conflict get_key_conflict() const noexcept { return m_key_conflict; }

    // The client encoding chosen for the conversion. Texts still travel as
    // UTF-8 (exact), but a row holding a text that encoding cannot represent
    // fails with a level-0 pgs_exception before anything of it is sent. UTF8
    // (the default) checks nothing. Throws tk_exception for an unknown name.
    void set_client_encoding(const std::wstring& pg_name);

    // Completes and commits the open batch now. Throws
    // pgs_rows_rejected_exception when rows were refused and not reported yet,
    // pgs_exception when the batch could not be stored at all.
    void flush_rows();

    // After the rows (flush_rows() first: rows still on their way are stored
    // here, their refusals kept for it): sets the sequence of the
    // auto-increment column past the column's highest value, so the next value
    // drawn never collides. Nothing to do for a query, a database opened
    // read-only or a table without such a column. Throws pgs_exception (with
    // the server's SQLSTATE and the statement) when the server refuses it.
    void set_sequence_after_rows();

    const std::wstring& get_schema_name() const noexcept { return m_schema_name; }
    const std::wstring& get_table_name() const noexcept { return m_table_name; }
    const std::wstring& get_auto_increment_column() const noexcept { return m_auto_increment; }
    const std::vector<std::wstring>& get_pk_columns() const noexcept { return m_pk_columns; }
    // Rows sent by COPY through this recordset.
    std::int64_t get_copy_count() const noexcept { return m_copy_count; }
    // Rows appended with a conflict clause while NULL stood in the key it names:
    // such a row matches no row there, so it was appended whatever the table held.
    // Rows the server refused are not among them.
    std::uint64_t get_rows_with_null_key() const noexcept;

    // Rows go by INSERT whatever the engine's fast_insert says (a table that
    // already holds rows a new one may collide with).
    void set_rows_by_insert(bool on) noexcept { m_rows_by_insert = on; }

    // Rows per COPY batch (one transaction each; a batch also ends at 512 KB of text).
    static constexpr std::int64_t copy_batch_rows = 10000;
    // Rows per INSERT batch, and the statement text after which a batch of
    // large rows is committed early.
    static constexpr std::int64_t insert_batch_rows = 1000;
    static constexpr std::size_t max_insert_batch_bytes = 1024 * 1024;

    struct impl;  // the row builder, the batches on their way, the reading cursor

private:
    void fast_append(udb_record& record, std::uint64_t record_number);
    void slow_append(udb_record& record, std::uint64_t record_number);
    void build_conflict_clause();
    void init_schema();
    void init_schema2();
    void init_indexes(pgs_database& database);
    std::uint64_t get_rec_count();
    void reset_sequence();
    pgs_database& owner() const;
    pgs_connection& conn() const;

    std::int64_t m_copy_count = 0;
    std::vector<udb_relationship>* m_foreign_keys = nullptr;  // the database's list, not owned
    bool m_eof = false;
    std::wstring m_schema_name;
    std::wstring m_table_name;
    std::wstring m_auto_increment;   // column whose default draws from a sequence
    std::wstring m_auto_increment_default;  // that default, e.g. nextval('t_id_seq'::regclass)
    std::vector<std::wstring> m_pk_columns;
    std::uint64_t m_append_calls = 0;  // numbers the records given to append_record
    pgs_key_conflict m_key_conflict = pgs_key_conflict::skip;
    std::uint64_t m_rows_with_null_key = 0;
    bool m_rows_by_insert = false;
    std::unique_ptr<udb_record> m_current;
    std::unique_ptr<impl> m_impl;
};

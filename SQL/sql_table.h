#pragma once
// One MySQL table opened as a recordset: its rows stream as sql_recordset reads them; its
// constructor also refines the column descriptors from SHOW COLUMNS (declared VARCHAR/CHAR
// length, FLOAT(M,D) as decimal, TEXT types, defaults), reads the indexes from SHOW INDEX
// (which also decides the key index) and hands SHOW CREATE TABLE to the foreign-key parser.
// Writing: rows are collected into one multi-row INSERT IGNORE (or REPLACE) of at most about
// 1,000,000 bytes, sent when the next row does not fit, the field count changes, flush() is
// called or the table object goes; after a row of more than 1,000,000 bytes every later row of
// the engine goes as a statement of its own, its values above 1,048,576 bytes as long data.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SQL/sql_recordset.h"

class sql_table : public sql_recordset {
public:
    // Table modes whose bits all lie inside 0x60 read no indexes and no foreign keys.
    sql_table(sql_database* database, const std::wstring& name, std::vector<udb_relationship>& relationships,
              std::int32_t mode);
    ~sql_table() override;

    void append_record(udb_record& record) override;
    void update2(udb_record& record, const std::wstring& key) override;
    void update1(udb_record& record) override;
    void delete_key(const std::wstring& key) override;
    void delete_key(udb_record& record) override;

    // Sends the pending multi-row statement; its rows are lost when the server refuses it, and
    // the sql_exception leaves. The destructor flushes too and reports a failure through
    // udb_report_failure (a row failure of the table).
    void flush();
    bool has_pending_rows() const noexcept { return !pending_insert.empty(); }
    // The size of the multi-row statement and the limit of a row for it (bytes).
    static std::uint32_t get_max_buffer_size();

private:
    struct column_pair {
        const udb_field* field;
        const t_ftd* column;
    };
    // Pairs the record's fields with the table's columns; tk_exception (level 0) when a field
    // (fewer fields than columns) or a column (otherwise) has no partner.
    void match_columns(const udb_record& record, std::vector<column_pair>& pairs);
    // The pairing itself: (field position, column position) in statement order.
    void pair_columns(const udb_record& record, std::vector<std::pair<std::size_t, std::size_t>>& out) const;
    void fast_append(const udb_record& record);
    void slow_append(const udb_record& record);
    // The SET part of an UPDATE from the record's fields; with a key index, the key's fields
    // make the condition (`where`) instead.
    void build_set_part(const udb_record& record, const udb_index* key, std::string& set_part,
                        std::string& where) const;
    std::string quoted_table_name() const;
    void append_version_quoted(std::string& out, const std::wstring& name) const;

    void initialize(std::int32_t mode);
    void read_columns();
    // Names on its columns the source's check constraints, which the destination does not carry.
    void read_check_constraints();
    // Whether the source server is MariaDB (its catalog quotes string defaults).
    bool mariadb_catalog();
    // The bytes of a column's default as the server evaluates it (UTF-8 for text); false when
    // they cannot be read.
    bool read_default_exactly(const std::wstring& column, bool binary, std::vector<std::uint8_t>& bytes);
    // A FLOAT column's default as the server holds it, in every digit of its double form: the
    // catalog shows six digits only. False when it cannot be read (a NOT NULL column of an
    // empty table).
    bool read_float_default_exactly(const std::wstring& column, std::wstring& digits);
    // The first answer `take` accepts of the server's DEFAULT() of a column, read as `form`
    // (an expression in which '@' stands for the column).
    bool read_server_default(const std::wstring& column, const std::string& form,
                             const std::function<bool(const std::string&)>& take);
    void read_indexes();
    void read_foreign_keys();

    std::uint32_t cached_rec_size = 0;
    std::string pending_insert;
    std::string pending_head;  // "INSERT IGNORE INTO `t`(`a`, `b`" of the pending statement
    std::vector<column_pair> pairs;  // reused per row
    std::vector<std::wstring> matched_names;  // field names of the last paired record
    std::vector<std::pair<std::size_t, std::size_t>> matched;  // its pairing
    std::string row_head, row_values;  // reused per row
};

#pragma once
// The pieces of a MySQL CREATE TABLE statement, shaped for the connected server's version:
// sql_schema_initializer gives one column definition per column, sql_indexes_initializer one
// key or index clause per index it keeps, plus an index for the auto-increment column when no
// index covers it. Both first make every name acceptable to MySQL (the version's validators),
// and the index builder follows the column renames. One-shot builders on the caller's stack;
// the index builder refers to the schema builder's columns and names map, so it must be
// destroyed first.
#include <memory>
#include <string>
#include <vector>

#include "SQL/sql_schema.h"
#include "UDB/udb_index.h"
#include "UDB/udb_names_map.h"

class udb_properties;
class udb_validator;

class sql_schema_initializer {
public:
    // Copies the source columns under acceptable, unique names. `auto_increment_target` (owned
    // by the caller) receives the new name of the auto-increment column in get_init_chunks.
    sql_schema_initializer(const std::wstring& table_name, const udb_schema& source_columns,
                           const udb_indexes& source_indexes, std::wstring& auto_increment_target);
    ~sql_schema_initializer();
    sql_schema_initializer(const sql_schema_initializer&) = delete;
    sql_schema_initializer& operator=(const sql_schema_initializer&) = delete;

    // Empties the auto-increment target, then appends one column definition per column in
    // column order. `table_mutator` (may be null) gives per-column character sets.
    // tk_mail_assertion for a second auto-increment column of an integer kind.
    void get_init_chunks(std::vector<std::wstring>& chunks, udb_properties* table_mutator);

    // The columns under their new names (the list every later step reads).
    const sql_schema& get_columns() const noexcept { return columns; }
    // Source column name -> new name, for the columns that were renamed.
    const t_names_map& get_names_map() const;

private:
    std::wstring table_name;
    sql_schema columns;
    std::wstring* auto_increment_target;
    const udb_indexes* source_indexes;
    std::unique_ptr<udb_validator> validator;
    const udb_schema* source_columns;
};

class sql_indexes_initializer {
public:
    static constexpr std::size_t max_index_columns = 16;

    // Renames the indexes (acceptable, unique names) and their columns (through names_map).
    sql_indexes_initializer(const udb_schema& columns, const udb_indexes& source_indexes,
                            const std::wstring& auto_increment_column, const t_names_map& names_map);
    ~sql_indexes_initializer();
    sql_indexes_initializer(const sql_indexes_initializer&) = delete;
    sql_indexes_initializer& operator=(const sql_indexes_initializer&) = delete;

    // Appends one clause per kept index, then the auto-increment column's index when needed.
    // Indexes the server cannot take (no columns, more than 16, LOB columns, too long, beyond
    // the server's index count) are left out and traced.
    void get_init_chunks(std::vector<std::wstring>& chunks);

    const udb_indexes& get_indexes() const noexcept { return indexes; }

private:
    udb_indexes indexes;
    std::wstring auto_increment_column;
    const udb_schema* columns;
    const t_names_map* names_map;
};

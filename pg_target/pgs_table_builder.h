#pragma once
// CREATE TABLE of one table: settles the final (quoted) name of every column, records which
// source name became which final name, and hands the statements to a database's query(): the
// live database runs them, the script database writes them, so both get the same text.
//
// Statements, in order: CREATE [UNLOGGED] TABLE (with any CREATE EXTENSION lines it needs in
// front and, for a range-partitioned table, PARTITION BY RANGE); one CREATE TABLE ... PARTITION
// OF per partition; when the source's seed (its last value) or step is not 1, the step and a
// setval() that puts the auto-increment column's sequence on the seed (at most the end of its
// range); one COMMENT per column that has a comment. Every name is quoted with inner
// double quotes doubled and every text literal has its apostrophes doubled.
#include <string>
#include <string_view>
#include <vector>

#include "UDB/udb_database.h"
#include "UDB/udb_index.h"
#include "UDB/udb_names_map.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_validators.h"

// The statement that sets an auto-increment column's sequence once rows have arrived: the next
// value lies past the highest one in the table and never behind where the sequence stands (a
// start taken from the source's counter, values drawn before). Past the end of the sequence's
// range it stays on its last value, called, so the next insert fails as it would in the source,
// and the statement itself never fails. `sequence` is an SQL expression naming the sequence
// (text or regclass; NULL: nothing is done); table and column are quoted identifiers.
std::string pgs_sequence_after_rows(std::string_view sequence, std::string_view table, std::string_view column);

// The engine's switches that shape DDL.
struct pgs_ddl_settings {
    bool case_sens = false;  // names keep their case; off folds A-Z to lower case
    bool unlogged = false;   // CREATE UNLOGGED TABLE

    // The switches of the process's pgs_engine (internal error when there is none).
    static pgs_ddl_settings from_engine();
};

class pgs_schema_initializer {
public:
    // table: the table's name as the database uses it (folded already when names are not
    // case-sensitive; may be schema.table). columns and indexes must outlive the builder.
    // original_names, when given, holds per column (same order) the name the column had before
    // the caller renamed it (the database makes unsafe names safe before it builds the table):
    // those names then map to the final names too, so indexes and the primary key that name a
    // column by its original name still find it.
    pgs_schema_initializer(std::wstring table, const udb_schema& columns, const udb_indexes& indexes,
                           const pgs_ddl_settings& settings = pgs_ddl_settings::from_engine(),
                           const std::vector<std::wstring>* original_names = nullptr);
    // A range-partitioned table; with an empty column or no partitions a plain table.
    pgs_schema_initializer(std::wstring table, const udb_schema& columns, const udb_indexes& indexes,
                           const udb_partition& partition,
                           const pgs_ddl_settings& settings = pgs_ddl_settings::from_engine(),
                           const std::vector<std::wstring>* original_names = nullptr);

    pgs_schema_initializer(const pgs_schema_initializer&) = delete;
    pgs_schema_initializer& operator=(const pgs_schema_initializer&) = delete;

    // Sends the statements through db.query(). A failed CREATE TABLE throws pgs_exception
    // ("Cannot create table: " + statement + ". " + server text); a failed partition falls back
    // to the plain table; failed sequence and comment statements are logged and skipped.
    void build_schema(udb_database& db);

    // The final columns (names quoted), in source order.
    const udb_schema& get_columns() const noexcept { return m_columns; }
    udb_schema& get_columns() noexcept { return m_columns; }
    // Source (and original) column name -> final quoted name, for every column.
    const t_names_map& get_names_map() const noexcept { return m_validator.names_map; }
    // The final name of the auto-increment column (empty when none).
    const std::wstring& get_serial_column() const noexcept { return m_serial; }
    const std::wstring& get_table_name() const noexcept { return m_table; }

    // The statement texts as build_schema sends them (for tests and the script writer's log).
    std::wstring make_create_statement(bool with_partitions) const;

    // The type CREATE TABLE gives a column: a user rule's type text, else the
    // column's native type text, else the type mapped from its value kind.
    static std::wstring column_type(const t_ftd& column);

private:
    void add_column(const t_ftd& source, const std::wstring* original);
    bool in_primary_key(const std::wstring& name) const;

    std::wstring m_table;
    udb_schema m_columns{1};
    std::wstring m_serial;
    VARTYPE m_serial_vt = VT_EMPTY;  // the source's type of the auto-increment column
    pgs_fn_validator m_validator;
    std::wstring m_partition_column;
    std::vector<udb_partition::range> m_partitions;
    const udb_indexes& m_indexes;
    const udb_schema& m_source;
    pgs_ddl_settings m_settings;
    std::vector<std::wstring> m_final_plain;  // final names without quotes, for uniqueness
};

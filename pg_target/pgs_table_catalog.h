#pragma once
// What the catalog says of one table of the live database, read when a
// recordset opens it: its columns (from information_schema, as descriptors),
// its indexes and foreign keys (from pg_catalog, by schema and name, so a
// table of the same name in another schema never lends its keys), its row
// count; and the result columns of a query. Library errors are thrown as
// pgs_exception.
//
// pg_target only: takes the live connection.

#include <cstdint>
#include <string>
#include <vector>

class pgs_connection;
class udb_schema;

// What the column reading finds beside the descriptors.
struct pgs_catalog_columns {
    std::vector<std::string> data_types;   // per column, the catalog's type name (data_type)
    std::wstring auto_increment;           // the column whose default draws from a sequence
    std::wstring auto_increment_default;   // that default, e.g. nextval('t_id_seq'::regclass)
};

// Appends the table's columns, in their order, to columns (descriptors of type
// pgs_t_ftd). A table without columns the user may see throws
// "Insufficient privileges to read table metadata.".
pgs_catalog_columns pgs_read_table_columns(pgs_connection& conn, const std::wstring& schema_name,
                                           const std::wstring& table_name, udb_schema& columns);

// Runs the query, appends its result columns to columns and answers its row count.
std::uint64_t pgs_read_query_columns(pgs_connection& conn, const std::wstring& sql, udb_schema& columns);

// SELECT COUNT(*) of the table (an SQL name); name only names it in the message.
std::uint64_t pgs_count_rows(pgs_connection& conn, const std::string& table_sql, const std::wstring& name);

struct pgs_catalog_index {
    std::wstring name;
    bool unique = false;
    bool primary = false;
    std::vector<std::wstring> columns;  // in the index's order; expression columns left out
};

struct pgs_catalog_foreign_key {
    std::wstring name;
    std::wstring ref_table;                 // "schema.table"
    std::vector<std::wstring> columns, ref_columns;
    std::wstring rule;                      // "ON DELETE CASCADE ON UPDATE ..." (either may be empty)
};

struct pgs_catalog_keys {
    std::vector<pgs_catalog_index> indexes;  // the primary key first, then by name
    std::vector<pgs_catalog_foreign_key> foreign_keys;
};

// The table's indexes and, with with_foreign_keys, its foreign keys.
pgs_catalog_keys pgs_read_table_keys(pgs_connection& conn, const std::wstring& schema_name,
                                     const std::wstring& table_name, bool with_foreign_keys);

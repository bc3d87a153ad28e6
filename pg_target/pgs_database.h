#pragma once
// The PostgreSQL databases seen through the neutral database interface.
//
// pgs_base_db: the common base of the live database (pgs_database, below)
// and the script-file database (pgs_dmp_database): handling of full table
// names (schema.table) that both use.
//
// pgs_database: one live database. When it is built it reads the tables it
// holds, its sequences, its views and the index names already in use in its
// schema; every statement runs in a short transaction of its own on the
// engine's connection. The client library stays out of this header.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "UDB/udb_database.h"
#include "UDB/udb_schema.h"

class pgs_connection;

class pgs_base_db : public udb_database {
public:
    pgs_base_db(std::wstring name, std::int32_t mode, bool case_sensitive);
    ~pgs_base_db() override;

    // schema.table: a name with a '.' is split at its first one, any other
    // name goes into "public"; the full name is appended to the table-name
    // list and returned. Case is kept.
    std::wstring add_full_name1(const std::wstring& name);
    // The name with "public." in front when it has no schema.
    static std::wstring get_full_name(const std::wstring& name);
    // schema + "." + table, or the table alone when the schema is empty.
    static std::wstring make_safe_tname(const std::wstring& table, const std::wstring& schema);
    // The quoted, schema-qualified name of DROP TABLE: "public"."t" for a bare
    // name, "s"."t" for s.t (folded unless names are case-sensitive).
    std::wstring get_safe_name(const std::wstring& name) const;
};

// A column as the catalog describes it: the descriptor plus the PostgreSQL
// type name of the column (information_schema data_type).
struct pgs_t_ftd : public t_ftd {
    pgs_t_ftd(std::uint32_t size, std::wstring name, VARTYPE vartype, bool not_null,
              std::string orig_type, bool auto_increment, const ole_variant& default_value,
              std::int32_t subtype);
    std::string orig_type;
};

class pgs_database : public pgs_base_db {
public:
    // Reads the table list (its failure is thrown), then the sequences and,
    // unless mode bit 0x80 is set, the views (their failures are only logged),
    // and tells the engine's index-name validator the index names of the
    // schema. An empty schema means every user schema.
    pgs_database(std::wstring name, std::wstring schema, std::int32_t mode, bool case_sensitive);
    ~pgs_database() override;

    void create_schema(const std::wstring& name) override;
    std::unique_ptr<udb_recordset> create_table1(const std::wstring& name, udb_schema& schema,
                                                 udb_indexes& indexes) override;
    std::unique_ptr<udb_recordset> create_table2(const std::wstring& name, udb_schema& schema,
                                                 udb_indexes& indexes,
                                                 const udb_partition& partition) override;
    void create_index(const std::wstring& table, const udb_index& index) override;
    bool delete_tab(const std::wstring& name) override;
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& sql_text,
                                             std::int32_t mode) override;
    void get_schema_info(std::vector<std::wstring>& schemas) override;
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, std::int32_t mode) override;
    // Runs the statement in its own transaction and commits it; errors of the
    // client library pass to the caller unchanged. Returns nullptr.
    std::unique_ptr<udb_recordset> query(const std::wstring& statement) override;
    // True when the statement runs; it is rolled back either way.
    bool test_query(const std::wstring& statement) override;

    // The table list of the constructor: schema.table of each table found.
    void add_full_name2(const std::wstring& schema, const std::wstring& table);
    // (schema, table) of a name: "s"."t", s.t, or a bare name in the
    // database's schema (public when it has none).
    std::pair<std::wstring, std::wstring> split_name(const std::wstring& name) const;
    // One of the catalog tables pg_catalog.pg_* (exact, case-sensitive).
    static bool is_system_table(const std::wstring& name);
    void init_sequencies(const std::wstring& schema);
    void init_views(const std::wstring& schema);
    // UIDX_<fields joined by '_'>, with a five-digit counter when the
    // recordset already has an index of that name.
    static std::wstring gen_idx_name(const udb_recordset* recordset,
                                     const std::vector<std::wstring>& fields);

    const std::wstring& get_schema_name() const noexcept { return m_schema; }
    // The connection of this database's transactions (the engine's unless set).
    pgs_connection& connection() const;
    void set_connection(pgs_connection* conn) noexcept { m_connection = conn; }

private:
    std::unique_ptr<udb_recordset> create_table(const std::wstring& name, udb_schema& schema,
                                                udb_indexes& indexes, const udb_partition* partition);
    void read_tables(const std::wstring& schema);
    void register_index_names();

    std::wstring m_schema;
    pgs_connection* m_connection = nullptr;  // not owned
};

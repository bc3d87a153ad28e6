#pragma once
// The destination half of the convertor: the PostgreSQL connection settings,
// the target schema and client encoding, the script-file options and the
// PostgreSQL engine (one per process, owned here).

#include <memory>
#include <string>
#include <vector>

#include "pg_target/pgs_dump_options.h"
#include "pg_target/pgs_engine.h"

class udb_profile;

class pgs_converter_impl {
public:
    pgs_converter_impl();
    ~pgs_converter_impl();
    pgs_converter_impl(const pgs_converter_impl&) = delete;
    pgs_converter_impl& operator=(const pgs_converter_impl&) = delete;

    // Connects the engine with the stored settings to the named database.
    void connect_pgs_server(const std::string& database_name);
    // The schemas of a database; errors are logged and the list read so far
    // returned (empty when the database cannot be opened).
    std::vector<std::wstring> get_pgs_schemas(const std::wstring& database_name);
    // Whether the database has the schema (ignoring case).
    bool is_schema_exist(const std::wstring& database_name, const std::wstring& schema);
    void set_pgs_schema(const std::wstring& schema);

    // "PostgreSQL Settings" of a profile (the direct flag is the convertor's).
    // load throws tk_exception "Invalid port number" (level 1) for a port
    // that reads as 0.
    bool load_profile(udb_profile& profile);
    bool store_profile(udb_profile& profile);

    pgs_engine& get_pgs_engine() noexcept { return *m_engine; }

    int pgs_port = 0;  // 0 leaves the port out of the connection
    std::wstring pgs_schema = L"public";
    std::wstring client_encoding = L"UTF8";
    pgs_dump_options script_options;
    std::string pgs_host;
    std::string pgs_user;
    std::string pgs_password;

private:
    std::unique_ptr<pgs_engine> m_engine;
};

#pragma once
// The one object through which the system reaches a PostgreSQL server: the
// user's PostgreSQL switches, the parameters of the last connection, the live
// connection, the server-wide operations (connect, create/open/test/drop a
// database, client encodings, script files) and the name forms that follow
// the case switch. Registered as the process-wide instance.
//
// This header keeps the client library out: the connection is a pimpl
// (pgs_connection, pg_target only).

#include <memory>
#include <string>
#include <vector>

#include "TK/tk_singleton.h"
#include "pg_target/pgs_exception.h"

class pgs_connection;
class pgs_database;
class pgs_dmp_database;
class pgs_in_validator;
struct pgs_dump_options;

class pgs_engine : public tk_singleton<pgs_engine> {
public:
    pgs_engine();
    ~pgs_engine() override;

    // --- The user's switches; written directly by the settings code. ---
    bool ssl_use = false;   // the connection string opens with the SSL keys
    bool ssl_auth = false;  // a client certificate and key are given (with ssl_use)
    std::wstring ssl_rcert;  // root (CA) certificate file
    std::wstring ssl_revoc;  // certificate revocation list file
    std::wstring ssl_ccert;  // client certificate file
    std::wstring ssl_clkey;  // client key file
    bool unlogged = false;      // tables are created UNLOGGED
    bool fast_insert = false;   // rows go by COPY (on) or INSERT (off)
    bool is_case_sens = false;  // names keep their case; off folds them to lower case
    // Seconds a connection attempt may take (libpq's connect_timeout; it counts 2 at
    // least): a host that does not answer must not hold the caller for ever.
    int connect_timeout = 10;

    // Connects to the server; the connection's client encoding is UTF8 and
    // standard_conforming_strings is on. Without a database name the first
    // attempt goes to "postgres" and, when that fails, a second one lets the
    // server pick its default. Failures throw pgs_exception; the previous
    // connection then stays.
    void connect(const std::string& host, const std::string& user, const std::string& password,
                 const std::string& database, int port);

    // The connection string connect() uses: every value quoted as libpq wants
    // it (apostrophes, with backslash and apostrophe escaped), so blanks,
    // quotes and backslashes in a password or path work. An empty database
    // gives dbname='postgres'; with omit_dbname no dbname element at all.
    std::string make_conn_string(const std::string& host, const std::string& user,
                                 const std::string& password, const std::string& database,
                                 int port, bool omit_dbname = false) const;

    // The database operations below refuse a name the server would cut
    // (check_name_fits) before they send anything.

    // Reconnects to the named database with the remembered parameters and
    // returns the database object (owned by the caller).
    std::unique_ptr<pgs_database> open_db(const std::wstring& name, int mode,
                                          const std::wstring& schema);
    // CREATE DATABASE (UTF8), then open_db(name, 2, "").
    std::unique_ptr<pgs_database> create_db(const std::wstring& name);
    // DROP DATABASE IF EXISTS.
    void delete_db(const std::wstring& name);
    // A non-template database of exactly this name exists.
    bool is_db_exist(const std::wstring& name);
    // The 30 client-encoding names offered to the user, "UTF8" first.
    static const std::vector<std::wstring>& get_encodings();
    // A script-file database instead of a live one.
    std::unique_ptr<pgs_dmp_database> create_dump(const std::wstring& file,
                                                  const pgs_dump_options& options);
    // A file path as a connection-string value: backslashes become '/', double
    // quotes apostrophes, the whole enclosed in apostrophes (inner apostrophes
    // and backslashes escaped).
    static std::string preprocess_path(const std::wstring& path);

    // Whether the server keeps the name whole: at most 63 bytes of UTF-8. It
    // cuts a longer one silently, and the cut name may be another object's.
    static bool name_fits(const std::wstring& name);
    // Throws tk_exception (level 1) naming `what` ("database", "schema") and
    // the name when the name does not fit.
    static void check_name_fits(const char* what, const std::wstring& name);

    // --- Name forms; they follow is_case_sens. ---
    std::wstring make_name3(const std::wstring& name, bool split) const;
    std::string make_name1(const std::string& name, bool split) const;
    std::wstring make_name2(const std::wstring& name) const;
    std::wstring make_idx_name(const std::wstring& name) const;

    // The index names already in use in the destination.
    pgs_in_validator& in_validator() noexcept { return *m_in_validator; }

    // The live connection; null before the first successful connect.
    pgs_connection* connection() noexcept { return m_connection.get(); }
    // Whether the connection was made and has since been lost (the server went
    // away or closed it); false before any connection.
    // (Asks the server with a trivial statement when the connection still looks open.)
    bool is_connection_lost() noexcept;
    // Before a run on a connection made earlier (the wizard connects pages before it runs): a
    // connection the server ended meanwhile (an idle timeout, a restart) is opened again, with
    // the same settings. A server that cannot be reached now throws.
    void reconnect_if_lost();
    bool is_connected() const noexcept { return m_connection != nullptr; }

    // --- Parameters of the last connection. ---
    const std::string& remembered_db() const noexcept { return m_db; }
    const std::string& remembered_host() const noexcept { return m_host; }
    const std::string& remembered_user() const noexcept { return m_user; }
    const std::string& remembered_password() const noexcept { return m_password; }
    int remembered_port() const noexcept { return m_port; }

private:
    std::string m_db;
    std::string m_host;
    std::string m_user;
    std::string m_password;
    int m_port = 0;
    std::unique_ptr<pgs_connection> m_connection;
    std::unique_ptr<pgs_in_validator> m_in_validator;
};

#pragma once
// The one MySQL engine of a run: owns the single connection to the server, sets the session
// up (utf8mb4, idle time-out of at least 8 hours, foreign key checks off), learns the server
// version and offers the database-level operations of the engine interface. Every other MySQL
// class reaches the connection, the server version and the engine flags through the singleton.
// One thread uses the engine at a time.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TK/tk_singleton.h"
#include "UDB/udb_engine.h"

struct st_mysql;
class udb_record;
class udb_schema;
class udb_index;
class udb_validator;

class sql_engine : public udb_engine, public tk_singleton<sql_engine> {
public:
    // Packed version major << 16 | minor << 8 | patch of the thresholds the MySQL side tests.
    static constexpr std::uint32_t version_4_1_0 = 0x040100;
    static constexpr std::uint32_t version_5_0_1 = 0x050001;
    static constexpr std::uint32_t version_3_23_44 = 0x03172C;

    sql_engine();
    ~sql_engine() override;

    // Seconds a connect waits for the server (the TCP connect and its greeting) before it
    // gives up: a host that does not answer must not hold the caller for ever.
    unsigned connect_timeout = 10;

    // Prepares the client object (option group, connect time-out); also run before a
    // reconnect.
    void initialize();
    // Closes an open connection first. Throws sql_exception when the server refuses
    // (message from the client library, code 0x400000 + error number),
    // sql_auth_not_supported_exception for a 4.1.0 server with a password.
    void connect(const std::string& host, const std::string& user, const std::string& password, int port);

    std::unique_ptr<udb_database> create_db(const std::wstring& name) override;
    std::unique_ptr<udb_database> open_db(const std::wstring& name, std::int32_t mode,
                                          const std::wstring& schema) override;
    void db_delete(const std::wstring& name) override;
    bool is_db_exist(const std::wstring& name) override;
    void set_properties(udb_properties* properties) override;

    // Names of the server's databases in the server's order; errors are logged and the
    // names read so far returned.
    std::vector<std::wstring> get_contents();
    // max_allowed_packet in bytes (read once, then cached); 0 when not connected.
    std::int32_t get_max_allowed_packet();
    // The name between backticks (inner backticks doubled); a name over 64 characters is cut
    // to 63; an empty name, or one that already is a well-formed quoted name, is unchanged.
    std::wstring get_safe_name(const std::wstring& name) const;

    // Name validators fitting the server version, owned by the caller; the given names are
    // registered as taken.
    std::unique_ptr<udb_validator> create_fn_validator(const udb_record& record) const;
    std::unique_ptr<udb_validator> create_fn_validator(const udb_schema& schema) const;
    std::unique_ptr<udb_validator> create_in_validator(const std::vector<udb_index>& indexes) const;
    std::unique_ptr<udb_validator> create_tn_validator(const std::vector<std::wstring>& names1,
                                                       const std::vector<std::wstring>& names2) const;

    void set_blob_to_text(bool on);
    bool is_blob_to_text() const noexcept { return blob_to_text; }
    bool is_binary_text() const noexcept { return binary_text; }
    bool is_use_fast_append() const noexcept { return use_fast_append; }
    void set_use_fast_append(bool on) noexcept { use_fast_append = on; }
    bool is_connected() const noexcept { return connected; }
    std::uint32_t get_server_version() const noexcept { return server_version; }
    // Below 4.1.0: the old name rules and unquoted names.
    bool is_old_version() const;
    st_mysql* connection() const noexcept { return conn.get(); }
    const std::wstring& get_default_charset() const noexcept { return default_charset; }
    // The character set of created databases and text columns: the database properties' choice,
    // else utf8mb4 when the session runs it (the plain default utf8 refuses 4-byte characters).
    std::wstring get_effective_charset() const;
    const std::wstring& get_table_type() const noexcept { return table_type; }
    // The character set the session runs with ("utf8mb4", or "utf8" on servers without it).
    const std::string& get_session_charset() const noexcept { return session_charset; }

    // The catalog is read with the session's SQL mode without the modes that change how SQL
    // text is written or read (ANSI_QUOTES, NO_BACKSLASH_ESCAPES, ...); a query of the user's
    // own runs with the server's mode as it was. Each switches only when the modes differ.
    void use_plain_sql_text();
    void use_source_sql_text();

    // Sends one statement (UTF-8) that yields no rows; sql_exception on failure.
    void execute(const std::string& statement);

    // Reads "major.minor.patch" from the start of a version text; false with fewer than three
    // numbers.
    static bool parse_version(const char* text, std::uint32_t& version);

private:
    std::string database_name_in_statement(const std::wstring& name) const;
    void set_session_sql_mode(const std::string& modes);

    std::wstring default_charset = L"utf8";
    bool charset_from_properties = false;
    std::wstring table_type = L"InnoDB";
    bool connected = false;
    bool use_fast_append = true;
    bool blob_to_text = false;
    bool binary_text = false;
    std::uint32_t server_version = 0;
    // The client library's connection object (closed by mysql_close); this header keeps the
    // client library's own header out of its users.
    struct closer {
        void operator()(st_mysql* m) const noexcept;
    };
    std::unique_ptr<st_mysql, closer> conn;
    std::int32_t max_packet_size = 0;
    std::string session_charset;
    // The session's SQL mode as the server gave it, and without the text modes.
    std::string source_sql_mode;
    std::string plain_sql_mode;
    bool sql_mode_read = false;
    bool sql_mode_plain = true;
};

// Restores the engine's blob-to-text switch when a catalogue read ends, by any path.
class sql_blob_to_text_scope {
public:
    sql_blob_to_text_scope();
    ~sql_blob_to_text_scope();
    sql_blob_to_text_scope(const sql_blob_to_text_scope&) = delete;
    sql_blob_to_text_scope& operator=(const sql_blob_to_text_scope&) = delete;

private:
    bool saved_;
};

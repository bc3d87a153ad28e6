#include "SQL/sql_engine.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <cstdio>

#include "SQL/sql_database.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_handles.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_tmp_recordset.h"
#include "SQL/sql_validators.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"

void sql_engine::closer::operator()(st_mysql* m) const noexcept
{
    if (m) mysql_close(m);
}

sql_engine::sql_engine()
{
    initialize();
}

sql_engine::~sql_engine()
{
    tk_write_log(2, "sql_engine::dtor");
    if (connected) {
        try {
            execute("SET FOREIGN_KEY_CHECKS = 1");
        } catch (const std::exception& e) {
            tk_write_log(2, "Cannot turn ON foreign key check: %s", e.what());
        }
    }
    conn.reset();
    tk_write_log(2, "sql_engine::dtor - END");
}

void sql_engine::initialize()
{
    tk_write_log(1, "sql_engine::initialize");
    conn.reset(mysql_init(nullptr));
    if (!conn) throw tk_exception("The MySQL client library cannot allocate a connection", 1);
    tk_write_log(1, "sql_engine::initialize - 1");
    mysql_options(conn.get(), MYSQL_READ_DEFAULT_GROUP, "QV MySQL Lib");
    tk_write_log(1, "sql_engine::initialize - 2");
    mysql_options(conn.get(), MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
    // Ask for utf8mb4 in the handshake already; SET NAMES below settles it for the session.
    mysql_options(conn.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    tk_write_log(1, "sql_engine::initialize - END");
}

bool sql_engine::parse_version(const char* text, std::uint32_t& version)
{
    if (!text) return false;
    int major = 0, minor = 0, patch = 0;
    if (std::sscanf(text, "%d.%d.%d", &major, &minor, &patch) != 3) return false;
    if (major < 0 || minor < 0 || patch < 0 || major > 255 || minor > 255 || patch > 255) return false;
    version = (static_cast<std::uint32_t>(major) << 16) | (static_cast<std::uint32_t>(minor) << 8) |
              static_cast<std::uint32_t>(patch);
    return true;
}

void sql_engine::execute(const std::string& statement)
{
    if (mysql_real_query(conn.get(), statement.data(), static_cast<unsigned long>(statement.size())) != 0)
        throw sql_exception(conn.get(), statement);
    // A statement that unexpectedly yields rows must not leave them on the connection.
    sql_result_ptr r(mysql_store_result(conn.get()));
}

void sql_engine::connect(const std::string& host, const std::string& user, const std::string& password, int port)
{
    tk_write_log(2, "sql_engine::connect(%s,%s,%s,%d)", host.c_str(), user.c_str(), "********", port);
    if (connected) {
        tk_write_log(2, "Connection was established already - disconnecting first...");
        conn.reset();
        connected = false;
        initialize();
    }
    tk_write_log(3, "Connecting to MySQL server...");
    mysql_options(conn.get(), MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
    const auto started = std::chrono::steady_clock::now();
    if (!mysql_real_connect(conn.get(), host.c_str(), user.c_str(), password.c_str(), nullptr,
                            static_cast<unsigned int>(port), nullptr, CLIENT_REMEMBER_OPTIONS)) {
        sql_exception e(conn.get());
        // A host that never answered: the library's text ("Lost connection ... reading
        // initial communication packet") does not say so.
        if (connect_timeout > 0 &&
            std::chrono::steady_clock::now() - started >= std::chrono::seconds(connect_timeout)) {
            const std::string where = (host.empty() ? std::string("localhost") : host) +
                                      (port > 0 ? ":" + std::to_string(port) : std::string());
            e = sql_exception(e.mysql_errno_value(),
                              "The MySQL server at " + where + " did not answer within " +
                                  std::to_string(connect_timeout) + " seconds (" + e.get_message() + ")");
        }
        // Over TCP the client library reports a refused or unreachable host as a connection
        // error (2002) where other clients say "cannot connect to host" (2003); the error
        // table's text for a host that cannot be reached is keyed on the latter.
        if (e.mysql_errno_value() == 2002 && !host.empty() && host != "localhost")
            e.set_error_code(sql_error_code_base + 2003);
        // The failed handshake leaves the client object unusable for another attempt.
        conn.reset();
        initialize();
        throw e;
    }
    connected = true;
    sql_mode_read = false;

    // utf8mb4 carries every character (4-byte ones such as emoji included); "utf8" is the
    // fallback for servers that do not know it. mysql_set_character_set sends SET NAMES and
    // also tells the client library, whose escaping depends on the character set.
    tk_write_log(2, "Setting UTF-8 collation...");
    session_charset.clear();
    for (const char* cs : {"utf8mb4", "utf8"}) {
        if (mysql_set_character_set(conn.get(), cs) == 0) {
            session_charset = cs;
            break;
        }
        sql_exception e(conn.get(), std::string("SET NAMES ") + cs);
        tk_write_log(3, "Failed to set UTF-8 collation");
        tk_write_log(2, "Cannot set UTF-8 collation: %s", e.what());
    }

    tk_write_log(2, "Setting wait_timeout...");
    try {
        execute("set session wait_timeout=cast(if(@@session.wait_timeout < 28800,28800,@@session.wait_timeout) as unsigned);");
    } catch (const tk_exception& e) {
        tk_write_log(3, "Failed to set wait_timeout");
        tk_write_log(2, "Cannot set wait_timeout: %s", e.what());
    }

    const char* info = mysql_get_server_info(conn.get());
    if (!info || !*info) return;
    tk_write_log(2, "Got MySQL server version: %s", info);
    std::uint32_t v = 0;
    if (!parse_version(info, v)) {
        tk_write_log(3, "Invalid MySQL version: %s", info);
        throw tk_mail_assertion("sql_engi", 375);
    }
    server_version = v;
    tk_write_log(1, "Hex version: %08X", server_version);
    if (server_version == version_4_1_0 && !password.empty()) throw sql_auth_not_supported_exception();

    try {
        execute("SET FOREIGN_KEY_CHECKS = 0");
    } catch (const tk_exception& e) {
        tk_write_log(2, "Cannot turn off foreign key check: %s", e.what());
    }
}

bool sql_engine::is_old_version() const
{
    tk_write_log(1, "is_old_version(%08X)", server_version);
    return server_version < version_4_1_0;
}

std::string sql_engine::database_name_in_statement(const std::wstring& name) const
{
    std::string utf8 = tk_unicode_to_utf8(name);
    return is_old_version() ? utf8 : sql_quote_name(utf8);
}

std::unique_ptr<udb_database> sql_engine::create_db(const std::wstring& name)
{
    tk_write_wlog(2, L"sql_engine::create_db (%s)", name.c_str());
    tk_write_wlog(3, L"Creating MySQL database '%s'", name.c_str());
    const std::wstring charset = get_effective_charset();
    if (!sql_is_plain_word(charset)) throw tk_exception(L"Invalid character set name '" + charset + L"'", 1);
    std::string stmt = "CREATE DATABASE " + database_name_in_statement(name) + " character set " +
                       tk_unicode_to_utf8(charset);
    tk_write_log(2, "Run SQL-query: %s", stmt.c_str());
    execute(stmt);
    return open_db(name, 2, std::wstring());
}

void sql_engine::set_session_sql_mode(const std::string& modes)
{
    tk_write_log(2, "Session sql_mode: %s", modes.c_str());
    try {
        execute("SET SESSION sql_mode = '" + modes + "'");
    } catch (const tk_exception& e) {
        tk_write_log(2, "Cannot set sql_mode: %s", e.what());
    }
}

void sql_engine::use_plain_sql_text()
{
    if (sql_mode_read) {
        if (source_sql_mode != plain_sql_mode && !sql_mode_plain) set_session_sql_mode(plain_sql_mode);
        sql_mode_plain = true;
        return;
    }
    // The server's SQL mode changes how it shows the catalog (ANSI_QUOTES quotes the names of
    // SHOW CREATE TABLE with ", ORACLE writes functions with a schema) and how it reads the
    // statements the catalog is read with (NO_BACKSLASH_ESCAPES, PIPES_AS_CONCAT,
    // EMPTY_STRING_IS_NULL): the catalog is read without those modes, the others kept.
    static constexpr std::string_view k_text_modes[] = {
        "ANSI", "ANSI_QUOTES", "DB2", "EMPTY_STRING_IS_NULL", "MAXDB", "MSSQL", "NO_BACKSLASH_ESCAPES",
        "NO_FIELD_OPTIONS", "NO_KEY_OPTIONS", "NO_TABLE_OPTIONS", "ORACLE", "PIPES_AS_CONCAT", "POSTGRESQL"};
    static constexpr std::string_view query = "SELECT @@SESSION.sql_mode";
    if (mysql_real_query(conn.get(), query.data(), static_cast<unsigned long>(query.size())) != 0) {
        tk_write_log(2, "Cannot read sql_mode: %s", mysql_error(conn.get()));
        return;
    }
    sql_result_ptr r(mysql_store_result(conn.get()));
    MYSQL_ROW row = r ? mysql_fetch_row(r.get()) : nullptr;
    if (!row || !row[0]) return;
    const std::string_view modes(row[0]);
    std::string kept;
    for (std::size_t start = 0; start <= modes.size();) {
        std::size_t end = modes.find(',', start);
        if (end == std::string_view::npos) end = modes.size();
        const std::string_view mode = modes.substr(start, end - start);
        // A mode is a word of letters, digits and underscores: safe between quotes.
        if (!mode.empty() && std::find(std::begin(k_text_modes), std::end(k_text_modes), mode) == std::end(k_text_modes)) {
            if (!kept.empty()) kept += ',';
            kept += mode;
        }
        start = end + 1;
    }
    source_sql_mode.assign(modes);
    plain_sql_mode = kept;
    sql_mode_read = true;
    sql_mode_plain = true;
    if (source_sql_mode != plain_sql_mode) set_session_sql_mode(plain_sql_mode);
}

void sql_engine::use_source_sql_text()
{
    // A query of the user's own is read as the server reads it for its other sessions.
    if (!sql_mode_read || source_sql_mode == plain_sql_mode || !sql_mode_plain) return;
    set_session_sql_mode(source_sql_mode);
    sql_mode_plain = false;
}

std::unique_ptr<udb_database> sql_engine::open_db(const std::wstring& name, std::int32_t mode, const std::wstring&)
{
    tk_write_wlog(2, L"sql_engine::open_db (%s)", name.c_str());
    tk_write_wlog(3, L"Opening MySQL database '%s'", name.c_str());
    use_plain_sql_text();
    if (mysql_select_db(conn.get(), tk_unicode_to_utf8(name).c_str()) != 0) throw sql_exception(conn.get());
    return std::make_unique<sql_database>(name, conn.get(), mode);
}

void sql_engine::db_delete(const std::wstring& name)
{
    tk_write_wlog(2, L"sql_engine::db_delete(%s)", name.c_str());
    tk_write_wlog(3, L"Deleting MySQL database '%s'", name.c_str());
    try {
        execute("SET FOREIGN_KEY_CHECKS = 0");
    } catch (const tk_exception& e) {
        tk_write_log(2, "Cannot turn off foreign key check: %s", e.what());
    }
    execute("DROP DATABASE " + database_name_in_statement(name));
    try {
        execute("SET FOREIGN_KEY_CHECKS = 1");
    } catch (const tk_exception& e) {
        tk_write_log(2, "Cannot turn on foreign key check: %s", e.what());
    }
}

bool sql_engine::is_db_exist(const std::wstring& name)
{
    tk_write_wlog(1, L"sql_engine::is_db_exist(%s)", name.c_str());
    int n = mysql_select_db(conn.get(), tk_unicode_to_utf8(name).c_str());
    tk_write_log(1, "n_result=%d", n);
    return n == 0;
}

void sql_engine::set_properties(udb_properties* props)
{
    tk_write_log(1, "sql_engine::set_properties");
    properties = props;
    if (!props) return;
    auto& map = props->get_properties();
    auto e = map.find(L"engine");
    if (e != map.end()) {
        tk_write_wlog(1, L"Set tab.type='%s'", e->second.c_str());
        table_type = e->second;
    } else {
        tk_write_log(1, "Set InnoDB as default");
        table_type = L"InnoDB";
    }
    auto c = map.find(L"character set");
    if (c != map.end()) {
        default_charset = c->second;
        charset_from_properties = true;
    }
}

std::wstring sql_engine::get_effective_charset() const
{
    if (!charset_from_properties && default_charset == L"utf8" && session_charset == "utf8mb4") return L"utf8mb4";
    return default_charset;
}

std::vector<std::wstring> sql_engine::get_contents()
{
    tk_write_log(2, "sql_engine::get_contents");
    std::vector<std::wstring> names;
    try {
        sql_list_databases_rs rs(conn.get());
        rs.reset();
        while (!rs.is_eof()) {
            udb_record* r = rs.get_item();
            if (r && r->size() > 0) {
                std::wstring n = (*r)[0].to_wstring();
                tk_write_wlog(2, L"Got database (1): %s", n.c_str());
                names.push_back(std::move(n));
            }
            rs.next();
        }
    } catch (const std::exception& e) {
        tk_write_log(2, "ERROR: %s", e.what());
    }
    return names;
}

std::int32_t sql_engine::get_max_allowed_packet()
{
    tk_write_log(1, "sql_engine::get_max_allowed_packet");
    if (max_packet_size != 0) return max_packet_size;
    if (!connected) return 0;
    sql_tmp_recordset rs(conn.get(), std::string("SHOW VARIABLES LIKE 'max_allowed_packet'"));
    rs.initialize();
    if (rs.is_eof()) throw std::out_of_range("invalid vector subscript");
    udb_record* r = rs.get_item();
    if (!r || r->size() < 2) throw std::out_of_range("invalid vector subscript");
    max_packet_size = static_cast<std::int32_t>(std::stoll(tk_unicode_to_utf8((*r)[1].to_wstring())));
    tk_write_log(1, "max_packet_size=%d", max_packet_size);
    return max_packet_size;
}

std::wstring sql_engine::get_safe_name(const std::wstring& name) const
{
    tk_write_wlog(1, L"sql_engine::get_safe_name(%s)", name.c_str());
    if (name.empty() || sql_is_quoted_name(name)) {
        tk_write_log(1, "Preserve the original name");
        return name;
    }
    std::wstring n = name.size() > 64 ? name.substr(0, 63) : name;
    std::wstring r = sql_quote_wname(n);
    tk_write_wlog(1, L"Returns [%s]", r.c_str());
    return r;
}

std::unique_ptr<udb_validator> sql_engine::create_fn_validator(const udb_record& record) const
{
    tk_write_log(1, "sql_engine::create_fn_validator( const udb_record& )");
    if (is_old_version()) return std::make_unique<sql_old_fn_validator>(record);
    return std::make_unique<sql_new_fn_validator>(record);
}

std::unique_ptr<udb_validator> sql_engine::create_fn_validator(const udb_schema& schema) const
{
    tk_write_log(1, "sql_engine::create_fn_validator( const udb_schema& )");
    if (is_old_version()) return std::make_unique<sql_old_fn_validator>(schema);
    return std::make_unique<sql_new_fn_validator>(schema);
}

std::unique_ptr<udb_validator> sql_engine::create_in_validator(const std::vector<udb_index>& indexes) const
{
    tk_write_log(1, "sql_engine::create_in_validator");
    if (is_old_version()) return std::make_unique<sql_old_in_validator>(indexes);
    return std::make_unique<sql_new_in_validator>(indexes);
}

std::unique_ptr<udb_validator> sql_engine::create_tn_validator(const std::vector<std::wstring>& names1,
                                                               const std::vector<std::wstring>& names2) const
{
    tk_write_log(1, "sql_engine::create_tn_validator");
    if (is_old_version()) return std::make_unique<sql_old_tn_validator>(names1, names2);
    return std::make_unique<sql_new_tn_validator>(names1, names2);
}

void sql_engine::set_blob_to_text(bool on)
{
    tk_write_log(2, "sql_engine::set_blob_to_text(%d)", on ? 1 : 0);
    blob_to_text = on;
}

sql_blob_to_text_scope::sql_blob_to_text_scope() : saved_(sql_engine::instance()->is_blob_to_text())
{
    sql_engine::instance()->set_blob_to_text(true);
}

sql_blob_to_text_scope::~sql_blob_to_text_scope()
{
    if (sql_engine* e = sql_engine::try_instance()) e->set_blob_to_text(saved_);
}

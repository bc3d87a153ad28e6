#include "pg_target/pgs_engine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "TK/tk_exception.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_validators.h"

namespace {

// key=value for the connection string, the value quoted as libpq reads it.
void append_conn_value(std::string& out, std::string_view key, std::string_view value)
{
    out += key;
    out += '=';
    pgs_append_conninfo_value(out, value);
}

// The connection string with the password hidden, for the trace log.
std::string masked(const std::string& conn, const std::string& password)
{
    if (password.empty()) return conn;
    std::string quoted = "password=" + pgs_quote_conninfo_value(password);
    std::string out = conn;
    auto pos = out.find(quoted);
    if (pos != std::string::npos) out.replace(pos, quoted.size(), "password=*****");
    return out;
}

}  // namespace

pgs_engine::pgs_engine() : m_in_validator(std::make_unique<pgs_in_validator>())
{
    tk_write_log(2, "pgs_engine::ctor");
}

pgs_engine::~pgs_engine()
{
    tk_write_log(2, "pgs_engine::dtor");
    m_in_validator.reset();
    m_connection.reset();
}

std::string pgs_engine::preprocess_path(const std::wstring& path)
{
    tk_write_wlog(1, L"pgs_engine::preprocess_path(%s)", path.c_str());
    std::wstring p = path;
    tk_wstring::replace_all(p, L"\\", L"/");
    tk_wstring::replace_all(p, L"\"", L"'");
    // A path the user already enclosed in apostrophes keeps them: the inner
    // text is what is quoted, once.
    std::wstring_view inner = p;
    if (!inner.empty() && inner.front() == L'\'') inner.remove_prefix(1);
    if (!inner.empty() && inner.back() == L'\'') inner.remove_suffix(1);
    std::string result = pgs_quote_conninfo_value(tk_unicode_to_ansi(inner));
    tk_write_log(1, "result=%s", result.c_str());
    return result;
}

namespace {

// The SSL files named for the connection must be there and readable: the
// client library would otherwise go on without them (no check of the server's
// certificate against that authority, no revocation list) or fail later with
// a text that does not name the file.
void check_ssl_file(const char* what, const std::wstring& path)
{
    if (path.empty()) return;
    std::wstring_view inner = path;
    if (inner.size() >= 2 && (inner.front() == L'\'' || inner.front() == L'"') && inner.back() == inner.front())
        inner = inner.substr(1, inner.size() - 2);
    const std::string file = tk_unicode_to_ansi(inner);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    std::string reason;
    if (fd < 0) {
        reason = std::strerror(errno);
    } else {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) reason = "not a regular file";
        ::close(fd);
    }
    if (!reason.empty())
        throw tk_exception(std::string("The SSL ") + what + " '" + file + "' cannot be read: " + reason, 1);
}

}  // namespace

std::string pgs_engine::make_conn_string(const std::string& host, const std::string& user,
                                         const std::string& password, const std::string& database,
                                         int port, bool omit_dbname) const
{
    std::string conn;
    if (ssl_use) {
        conn += "sslmode=verify-full ";
        auto add_path = [&](const char* key, const std::wstring& path) {
            if (path.empty()) return;
            conn += key;
            conn += '=';
            conn += preprocess_path(path);
            conn += ' ';
        };
        add_path("sslrootcert", ssl_rcert);
        add_path("sslcrl", ssl_revoc);
        if (ssl_auth) {
            add_path("sslcert", ssl_ccert);
            add_path("sslkey", ssl_clkey);
        }
    }
    append_conn_value(conn, "user", user);
    conn += ' ';
    append_conn_value(conn, "password", password);
    if (!host.empty()) {
        conn += ' ';
        append_conn_value(conn, "host", host);
    }
    if (!omit_dbname) {
        conn += ' ';
        append_conn_value(conn, "dbname", database.empty() ? std::string("postgres") : database);
    }
    if (port != 0) conn += " port=" + std::to_string(port);
    return conn;
}

void pgs_engine::connect(const std::string& host, const std::string& user,
                         const std::string& password, const std::string& database, int port)
{
    tk_write_log(2, "pgs_engine::connect(%s,%s,%s,%d)", host.c_str(), user.c_str(), "*****", port);
    tk_write_log(1, "database=%s", database.c_str());

    m_user = user;
    m_password = password;
    if (!host.empty()) m_host = host;
    m_db = database.empty() ? std::string("postgres") : database;
    if (port != 0) m_port = port;

    if (ssl_use) {
        check_ssl_file("root certificate file", ssl_rcert);
        check_ssl_file("certificate revocation list", ssl_revoc);
    }
    const std::string timeout =
        connect_timeout > 0 ? " connect_timeout=" + std::to_string(connect_timeout) : std::string();
    const std::string conn = make_conn_string(host, user, password, database, port) + timeout;
    tk_write_log(3, "Connecting to PostgreSQL server (1)...");
    tk_write_log(2, "strConn=%s", masked(conn, password).c_str());
    // A host that never answered is said so: libpq's own text is "timeout expired".
    auto started = std::chrono::steady_clock::now();
    auto timed_out = [&] {
        return connect_timeout > 0 &&
               std::chrono::steady_clock::now() - started >= std::chrono::seconds(std::max(connect_timeout, 2));
    };
    auto failure = [&](const pqxx::pqxx_exception& e) {
        if (!timed_out()) return pgs_exception::from_current();
        std::string text = e.base().what();
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        const std::string where = (host.empty() ? std::string("localhost") : host) +
                                  (port != 0 ? ":" + std::to_string(port) : std::string());
        return pgs_exception("The PostgreSQL server at " + where + " did not answer within " +
                             std::to_string(std::max(connect_timeout, 2)) + " seconds (" + text + ")");
    };
    try {
        auto fresh = std::make_unique<pgs_connection>(conn);
        // An open COPY batch on the old connection is committed before the
        // connection goes away under it.
        if (m_connection) m_connection->make_room();
        m_connection = std::move(fresh);
        tk_write_log(1, "The connection has been established");
        return;
    } catch (const pqxx::pqxx_exception& e) {
        // A server that did not answer will not answer a second attempt either.
        if (!database.empty() || timed_out()) throw failure(e);
    }
    // No database was named and "postgres" was refused: let the server pick.
    tk_write_log(3, "Connecting to PostgreSQL server (2)...");
    started = std::chrono::steady_clock::now();
    try {
        auto fresh = std::make_unique<pgs_connection>(
            make_conn_string(host, user, password, database, port, true) + timeout);
        if (m_connection) m_connection->make_room();
        m_connection = std::move(fresh);
        tk_write_log(1, "The connection has been established");
    } catch (const pqxx::pqxx_exception& e) {
        throw failure(e);
    }
}

bool pgs_engine::name_fits(const std::wstring& name)
{
    return tk_unicode_to_utf8(name).size() <= pgs_max_name_bytes;
}

void pgs_engine::check_name_fits(const char* what, const std::wstring& name)
{
    if (name_fits(name)) return;
    const std::string text = tk_unicode_to_utf8(name);
    throw tk_exception(std::string("The PostgreSQL ") + what + " name '" + tk_visible_text(std::string_view(text)) +
                           "' is " + std::to_string(text.size()) + " bytes long: PostgreSQL keeps " +
                           std::to_string(pgs_max_name_bytes) +
                           " bytes of a name, and the shorter name may be another one's. Nothing was touched.",
                       1);
}

std::unique_ptr<pgs_database> pgs_engine::open_db(const std::wstring& name, int mode,
                                                  const std::wstring& schema)
{
    tk_write_wlog(2, L"pgs_engine::open_db(%s,%d,%s)", name.c_str(), mode, schema.c_str());
    check_name_fits("database", name);
    connect(m_host, m_user, m_password, tk_unicode_to_utf8(name), m_port);
    return std::make_unique<pgs_database>(name, schema, mode, is_case_sens);
}

std::unique_ptr<pgs_database> pgs_engine::create_db(const std::wstring& name)
{
    tk_write_wlog(2, L"pgs_engine::create_db(%s)", name.c_str());
    tk_write_wlog(3, L"Creating PostgreSQL database '%s'", name.c_str());
    check_name_fits("database", name);
    if (!m_connection) throw pgs_exception("Not connected to a PostgreSQL server");
    std::string sql = "CREATE DATABASE ";
    pgs_append_identifier(sql, std::wstring_view(name));
    sql += " WITH ENCODING 'UTF8'";
    tk_write_log(2, "query=%s", sql.c_str());
    try {
        m_connection->make_room();
        pqxx::nontransaction tx(m_connection->get(), "create_db");
        tx.exec(sql);
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception::from_current();
    }
    return open_db(name, 2, std::wstring());
}

void pgs_engine::delete_db(const std::wstring& name)
{
    tk_write_wlog(2, L"pgs_engine::delete_db(%s)", name.c_str());
    tk_write_wlog(3, L"Deleting PostgreSQL database '%s'", name.c_str());
    check_name_fits("database", name);
    if (!m_connection) throw pgs_exception("Not connected to a PostgreSQL server");
    std::string sql = "DROP DATABASE IF EXISTS ";
    pgs_append_identifier(sql, std::wstring_view(name));
    try {
        m_connection->make_room();
        pqxx::nontransaction tx(m_connection->get(), "delete_db");
        tx.exec(sql);
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception::from_current();
    }
}

void pgs_engine::reconnect_if_lost()
{
    if (!m_connection || !is_connection_lost()) return;
    tk_write_log(3, "The PostgreSQL connection was ended by the server: connecting again");
    try {
        m_connection = std::make_unique<pgs_connection>(m_connection->conninfo());
    } catch (const pqxx::pqxx_exception&) {
        throw pgs_exception::from_current();
    }
}

bool pgs_engine::is_connection_lost() noexcept
{
    if (!m_connection) return false;
    pqxx::connection& c = m_connection->get();
    if (!c.is_open()) return true;
    // A connection learns that the server went away only when it is used: one
    // trivial statement tells.
    try {
        m_connection->make_room();
        pqxx::nontransaction tx(c, "alive");
        tx.exec("SELECT 1");
        return false;
    } catch (const std::exception&) {
        return !c.is_open();
    }
}

bool pgs_engine::is_db_exist(const std::wstring& name)
{
    tk_write_wlog(2, L"pgs_engine::is_db_exist(%s,%d)", name.c_str(), int(is_case_sens));
    check_name_fits("database", name);
    if (!m_connection) throw pgs_exception("Not connected to a PostgreSQL server");
    std::string sql = "SELECT datname FROM pg_database WHERE datistemplate = false and datname = ";
    pgs_append_literal(sql, std::wstring_view(name));
    tk_write_log(2, "query=%s", sql.c_str());
    try {
        m_connection->make_room();
        pqxx::work tx(m_connection->get(), "get_contents");
        pqxx::result r = tx.exec(sql);
        tk_write_log(2, "result.size=%d", int(r.size()));
        return !r.empty();
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception::from_current();
    }
}

const std::vector<std::wstring>& pgs_engine::get_encodings()
{
    tk_write_log(2, "pgs_engine::get_encodings");
    static const std::vector<std::wstring> encodings = {
        L"UTF8",      L"BIG5",      L"EUC_CN",    L"EUC_JP",    L"EUC_KR",    L"EUC_TW",
        L"GB18030",   L"GBK",       L"ISO8859-1", L"ISO8859-2", L"ISO8859-3", L"ISO8859-4",
        L"ISO8859-5", L"ISO8859-6", L"ISO8859-7", L"ISO8859-8", L"ISO8859-9", L"KOI8R",
        L"KOI8U",     L"SJIS",      L"UHC",       L"WIN1250",   L"WIN1251",   L"WIN1252",
        L"WIN1253",   L"WIN1254",   L"WIN1255",   L"WIN1256",   L"WIN1257",   L"WIN1258"};
    return encodings;
}

std::wstring pgs_engine::make_name3(const std::wstring& name, bool split) const
{
    tk_write_wlog(1, L"pgs_engine::make_name3(%s,%d)", name.c_str(), int(is_case_sens));
    return pgs_make_name3(name, split, is_case_sens);
}

std::string pgs_engine::make_name1(const std::string& name, bool split) const
{
    tk_write_log(1, "pgs_engine::make_name1(%s,%d)", name.c_str(), int(is_case_sens));
    return pgs_make_name1(name, split, is_case_sens);
}

std::wstring pgs_engine::make_name2(const std::wstring& name) const
{
    tk_write_wlog(1, L"pgs_engine::make_name2(%s)", name.c_str());
    return pgs_make_name2(name);
}

std::wstring pgs_engine::make_idx_name(const std::wstring& name) const
{
    tk_write_wlog(1, L"pgs_engine::make_idx_name(%s)", name.c_str());
    return pgs_make_idx_name(name, is_case_sens);
}

std::unique_ptr<pgs_dmp_database> pgs_engine::create_dump(const std::wstring& file,
                                                         const pgs_dump_options& options)
{
    tk_write_wlog(2, L"pgs_engine::create_dump (%s)", file.c_str());
    tk_write_wlog(3, L"Creating PostgreSQL dump file '%s'", file.c_str());
    return std::make_unique<pgs_dmp_database>(file, options);
}

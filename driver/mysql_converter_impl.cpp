#include "driver/mysql_converter_impl.h"

#include <cctype>
#include <climits>

#include "SQL/sql_engine.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_database.h"

mysql_converter_impl::mysql_converter_impl() : m_engine(std::make_unique<sql_engine>())
{
    tk_write_log(2, "mysql_converter_impl::ctor");
}

mysql_converter_impl::~mysql_converter_impl()
{
    tk_write_log(2, "mysql_converter_impl::dtor");
}

void mysql_converter_impl::store_mysql_settings(const std::string& host, const std::string& user,
                                                const std::string& password, const std::string& port)
{
    tk_write_log(2, "mysql_converter_impl::store_mysql_settings(%s,%s,***,%s)", host.c_str(), user.c_str(),
                 port.c_str());
    (void)password;  // never written to the log
    mysql_host = tk_trim(host);
    mysql_user = tk_trim(user);
    // A blank at either end of a password is part of it.
    mysql_password = password;
    mysql_port = tk_trim(port);
    if (mysql_port.empty())
        mysql_port = "3306";
}

int mysql_converter_impl::parse_port(const std::string& text) noexcept
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            return 0;  // no port; also keeps a long digit run from overflowing
    }
    return static_cast<int>(negative ? -value : value);
}

void mysql_converter_impl::connect_mysql_server()
{
    tk_write_log(2, "mysql_converter_impl::connect_mysql_server");
    const int port = parse_port(mysql_port);
    // A negative number or one past 65535 cannot be a TCP port either.
    if (port <= 0 || port > 65535)
        throw tk_exception("Invalid port number", 1);
    m_engine->connect(mysql_host, mysql_user, mysql_password, port);
}

bool mysql_converter_impl::is_mysql_base_exist(const std::wstring& name)
{
    tk_write_wlog(2, L"mysql_converter_impl::is_mysql_base_exist( %s )", name.c_str());
    return m_engine->is_db_exist(name);
}

bool mysql_converter_impl::test_query(const std::wstring& database_name, const std::wstring& query_text)
{
    try {
        std::unique_ptr<udb_database> db = m_engine->open_db(database_name, 1, std::wstring());
        return db && db->test_query(query_text);
    } catch (...) {
        return false;
    }
}

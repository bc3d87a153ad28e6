#include "pg_target/pgs_connection.h"

pgs_connection::pgs_connection(const std::string& conninfo)
    : m_conninfo(conninfo), m_conn(std::make_unique<pqxx::connection>(conninfo))
{
    // A broken connection stays broken: the library would otherwise open a new
    // session behind the caller's back on the next statement, and work that
    // belonged to the old one (an open batch, a cursor, a session setting)
    // would silently be gone. Whoever can go on after a break opens a new
    // connection itself (the writer threads, the table finisher).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    m_conn->inhibit_reactivation(true);
#pragma GCC diagnostic pop
    m_conn->set_client_encoding("UTF8");
    m_conn->set_variable("standard_conforming_strings", "on");
}

pgs_connection::~pgs_connection() = default;

void pgs_connection::make_room() noexcept
{
    if (pgs_batch_owner* owner = m_batch_owner) {
        m_batch_owner = nullptr;
        owner->close_batch_for_other_work();
    }
}

std::string pgs_sqlstate_of(const pqxx::pqxx_exception& e)
{
    const auto* server = dynamic_cast<const pqxx::sql_error*>(&e.base());
    return server ? server->sqlstate() : std::string();
}

bool pgs_is_connection_break(pqxx::connection_base& c, const std::exception& e) noexcept
{
    if (dynamic_cast<const pqxx::broken_connection*>(&e)) return true;
    // A session ended by the server (pg_terminate_backend, a shutdown, an idle
    // timeout) answers with an error of its own before the socket closes.
    if (const auto* server = dynamic_cast<const pqxx::sql_error*>(&e)) {
        const std::string& state = server->sqlstate();
        if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0 || state == "25P03") return true;
    }
    return !c.is_open();
}

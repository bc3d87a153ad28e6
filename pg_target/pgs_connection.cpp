#include "pg_target/pgs_connection.h"

pgs_connection::pgs_connection(const std::string& conninfo)
    : m_conninfo(conninfo), m_conn(std::make_unique<pqxx::connection>(conninfo))
{
    m_conn->set_client_encoding("UTF8");
    // Remembered by the library and sent again should it reconnect.
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

#pragma once
// The live connection of the PostgreSQL engine, kept out of the headers that
// the driver includes: only pg_target/ sources include this file (and pqxx).
//
// One transaction at a time may be open on a connection. A recordset that
// keeps a COPY batch open between rows registers itself as the batch owner;
// everything else that wants to open a transaction calls make_room() first, so
// the batch is completed and committed before the other work starts.

#include <memory>
#include <string>

#include <pqxx/pqxx>

class pgs_batch_owner {
public:
    // Complete and commit the open batch; must not throw (failures are kept by
    // the owner and reported on its own next call).
    virtual void close_batch_for_other_work() noexcept = 0;

protected:
    ~pgs_batch_owner() = default;
};

class pgs_connection {
public:
    // Connects at once (throws the library's exception on failure), turns the
    // library's silent reconnection off, then sets
    // the client encoding to UTF8 and standard_conforming_strings on, so a
    // backslash in a '...' literal is an ordinary character.
    explicit pgs_connection(const std::string& conninfo);
    ~pgs_connection();

    pgs_connection(const pgs_connection&) = delete;
    pgs_connection& operator=(const pgs_connection&) = delete;

    pqxx::connection& get() noexcept { return *m_conn; }
    // The connection string it was opened with (for more connections alike).
    const std::string& conninfo() const noexcept { return m_conninfo; }

    // Lets an open COPY batch finish before another transaction opens.
    void make_room() noexcept;

    void set_batch_owner(pgs_batch_owner* owner) noexcept { m_batch_owner = owner; }
    void clear_batch_owner(pgs_batch_owner* owner) noexcept
    {
        if (m_batch_owner == owner) m_batch_owner = nullptr;
    }
    pgs_batch_owner* batch_owner() const noexcept { return m_batch_owner; }

private:
    std::string m_conninfo;
    std::unique_ptr<pqxx::connection> m_conn;
    pgs_batch_owner* m_batch_owner = nullptr;
};

// Whether the failure `e` of a statement on `c` is the connection breaking (the
// socket closed, the session ended by the server) rather than a refusal of the
// statement. A broken connection is never reopened by itself: reconnecting is
// its owner's explicit choice.
bool pgs_is_connection_break(pqxx::connection_base& c, const std::exception& e) noexcept;

// The server's SQLSTATE carried by a library error ("" when the error has
// none: a lost connection, a usage error of the library).
std::string pgs_sqlstate_of(const pqxx::pqxx_exception& e);

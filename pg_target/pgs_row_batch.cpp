#include "pg_target/pgs_row_batch.h"

#include <algorithm>
#include <cstring>

#include "TK/tk_log.h"
#include "pg_target/pgs_connection.h"

#include <libpq-fe.h>
#include <pqxx/largeobject>

std::string pgs_row_error_text(const char* what)
{
    std::string text = what ? what : "";
    auto ctx = text.find("\nCONTEXT:");
    if (ctx != std::string::npos) text.erase(ctx);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (text.rfind("ERROR:  ", 0) == 0) text.erase(0, 8);
    return text;
}

namespace {

// A batch goes to the client library itself, not through the wrapper: the
// wrapper copies every statement it runs (twice in this version) and takes
// COPY data a line at a time, so one large value would be held several times
// over. The statements still run in the wrapper's transactions; a failure is
// thrown as the wrapper's own exceptions, so the callers tell refusals and
// broken connections apart as for any statement.
struct raw_connection_of : pqxx::largeobject {
    static PGconn* get(const pqxx::dbtransaction& t) { return raw_connection(t); }
};

// COPY data goes out in pieces of this size: the client library's send
// buffer stays at about one piece whatever the size of the rows.
constexpr std::size_t copy_piece = 256 * 1024;

[[noreturn]] void throw_failure(PGconn* c, PGresult* r, std::string_view statement)
{
    std::string message = r ? PQresultErrorMessage(r) : "";
    if (message.empty()) message = PQerrorMessage(c);
    const char* field = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const std::string state = field ? field : "";
    if (r) PQclear(r);
    if (PQstatus(c) != CONNECTION_OK) throw pqxx::broken_connection(message);
    // The statement is named by its head only: it may hold megabytes of rows.
    std::string head(statement.substr(0, 200));
    if (statement.size() > head.size()) head += "...";
    throw pqxx::sql_error(message, head, state.empty() ? nullptr : state.c_str());
}

// Reads every result of the statement sent last; the first failure is thrown.
void finish_results(PGconn* c, std::string_view statement)
{
    PGresult* failed = nullptr;
    while (PGresult* r = PQgetResult(c)) {
        const ExecStatusType st = PQresultStatus(r);
        if (!failed && st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK)
            failed = r;
        else
            PQclear(r);
    }
    if (failed) throw_failure(c, failed, statement);
    if (PQstatus(c) != CONNECTION_OK) throw_failure(c, nullptr, statement);
}

void run_statement(PGconn* c, const char* statement, std::size_t length = 0)
{
    if (!length) length = std::strlen(statement);
    if (!PQsendQuery(c, statement)) throw_failure(c, nullptr, std::string_view(statement, length));
    finish_results(c, std::string_view(statement, length));
}

void put_copy_data(PGconn* c, std::string_view data, const std::string& command)
{
    for (std::size_t at = 0; at < data.size(); at += copy_piece) {
        const std::size_t n = std::min(copy_piece, data.size() - at);
        if (PQputCopyData(c, data.data() + at, int(n)) != 1) throw_failure(c, nullptr, command);
    }
}

// The COPY rows whose text is [begin, end) of the batch's text, with the pieces standing there.
void copy_in(PGconn* c, const pgs_row_batch& b, std::size_t begin, std::size_t end)
{
    const std::string command = "COPY " + b.table_sql + " FROM STDIN";
    if (!PQsendQuery(c, command.c_str())) throw_failure(c, nullptr, command);
    PGresult* r = PQgetResult(c);
    if (PQresultStatus(r) != PGRES_COPY_IN) {
        while (PGresult* more = PQgetResult(c)) PQclear(more);
        throw_failure(c, r, command);
    }
    PQclear(r);
    const std::string_view text(b.text);
    auto p = std::lower_bound(b.pieces.begin(), b.pieces.end(), begin,
                              [](const pgs_row_batch::piece& x, std::size_t at) { return x.at < at; });
    std::size_t at = begin;
    for (; p != b.pieces.end() && p->at < end; ++p) {
        put_copy_data(c, text.substr(at, p->at - at), command);
        put_copy_data(c, p->view(), command);
        at = p->at;
    }
    put_copy_data(c, text.substr(at, end - at), command);
    if (PQputCopyEnd(c, nullptr) != 1) throw_failure(c, nullptr, command);
    finish_results(c, command);
}

class batch_sender {
public:
    batch_sender(pgs_row_batch& b, std::vector<pgs_rejected_row>& rejected) : m_b(b), m_rejected(rejected) {}

    // The rows [lo, hi) in one statement (INSERT) or one COPY.
    void send(pqxx::dbtransaction& t, std::size_t lo, std::size_t hi)
    {
        PGconn* c = raw_connection_of::get(t);
        const std::size_t b = m_b.begin_of(lo);
        const std::size_t e = m_b.ends[hi - 1];
        if (!m_b.inserts) {
            copy_in(c, m_b, b, e);
            return;
        }
        if (lo == 0 && hi == m_b.rows()) {
            // The whole batch: its text is the statement once the suffix is on.
            m_b.text += m_b.suffix;
            try {
                run_statement(c, m_b.text.c_str(), m_b.text.size());
            } catch (...) {
                m_b.text.resize(e);
                throw;
            }
            m_b.text.resize(e);
            return;
        }
        m_statement = m_b.prefix;
        m_statement.append(m_b.text, b, e - b);
        m_statement += m_b.suffix;
        run_statement(c, m_statement.c_str(), m_statement.size());
    }

    // The rows [lo, hi) under one savepoint; on refusal split in halves until
    // the refused rows are single rows. The halves go in row order.
    void replay_range(pqxx::work& w, std::size_t lo, std::size_t hi)
    {
        // The savepoint is the server's own: the statements go around the
        // wrapper, which would only send its savepoint with a statement of its own.
        PGconn* c = raw_connection_of::get(w);
        try {
            run_statement(c, "SAVEPOINT copy_rows");
            send(w, lo, hi);
            run_statement(c, "RELEASE SAVEPOINT copy_rows");
        } catch (const pqxx::broken_connection&) {
            throw;
        } catch (const pqxx::pqxx_exception& e) {
            if (pgs_is_connection_break(w.conn(), e.base())) throw;  // the session ended: no refusal of these rows
            run_statement(c, "ROLLBACK TO SAVEPOINT copy_rows");
            run_statement(c, "RELEASE SAVEPOINT copy_rows");
            if (hi - lo == 1) {
                m_rejected.push_back({m_b.records[lo], pgs_row_error_text(e.base().what()), pgs_sqlstate_of(e)});
                tk_write_log(3, "Record #%llu rejected: %s", (unsigned long long)m_b.records[lo],
                             m_rejected.back().message.c_str());
                return;
            }
            const std::size_t mid = lo + (hi - lo) / 2;
            replay_range(w, lo, mid);
            replay_range(w, mid, hi);
        }
    }

private:
    pgs_row_batch& m_b;
    std::vector<pgs_rejected_row>& m_rejected;
    std::string m_statement;
};

}  // namespace

namespace {

// The connection broke under the batch: nothing of it is stored (a break
// before COMMIT rolls the transaction back), and its rows stay for the caller
// to send again.
[[noreturn]] void throw_lost(const pgs_row_batch& b, const std::exception& e)
{
    const auto* lib = dynamic_cast<const pqxx::pqxx_exception*>(&e);
    const std::string text = pgs_row_error_text(lib ? lib->base().what() : e.what());
    tk_write_log(3, "The connection broke while %llu rows were stored: %s", (unsigned long long)b.rows(),
                 text.c_str());
    throw pgs_connection_lost_exception(text.empty() ? std::string("the connection to the server was lost") : text);
}

// The connection broke while COMMIT was on its way: the server may have stored
// the rows or not. Said once for the batch, under its first record.
void report_in_doubt(pgs_row_batch& b, const std::exception& e, std::vector<pgs_rejected_row>& rejected)
{
    const auto* lib = dynamic_cast<const pqxx::pqxx_exception*>(&e);
    const std::string text = "the connection broke while records #" + std::to_string(b.records.front()) + " to #" +
                             std::to_string(b.records.back()) +
                             " were committed: whether the server stored them is not known (" +
                             pgs_row_error_text(lib ? lib->base().what() : e.what()) + ")";
    tk_write_log(3, "%s", text.c_str());
    rejected.push_back({b.records.front(), text, std::string(), static_cast<std::uint64_t>(b.rows())});
}

}  // namespace

void pgs_store_batch(pgs_connection& c, pgs_row_batch& b, std::vector<pgs_rejected_row>& rejected)
{
    if (b.empty()) {
        b.clear_rows();
        return;
    }
    batch_sender sender(b, rejected);
    std::string failure;
    for (;;) {
        try {
            c.make_room();
            // One transaction: a connection that breaks before COMMIT leaves
            // nothing of the batch behind, so it can be sent again whole.
            pqxx::work w(c.get(), b.inserts ? "slow_append" : "fast_append");
            sender.send(w, 0, b.rows());
            w.commit();
            b.clear_rows();
            return;
        } catch (const pqxx::in_doubt_error& e) {
            report_in_doubt(b, e, rejected);
            b.clear_rows();
            return;
        } catch (const pqxx::pqxx_exception& e) {
            if (pgs_is_connection_break(c.get(), e.base())) throw_lost(b, e.base());
            // The conflict clause names no unique index the server can use (an
            // index over expressions, a partial one): the rows are sent again
            // without it.
            if (b.inserts && b.has_fallback && !b.fell_back && pgs_sqlstate_of(e) == "42P10") {
                b.fell_back = true;
                b.suffix = b.fallback_suffix;
                continue;
            }
            failure = e.base().what();
        } catch (const std::exception& e) {
            if (pgs_is_connection_break(c.get(), e)) throw_lost(b, e);
            failure = e.what();
        }
        break;
    }
    tk_write_log(3, "%s batch refused, replaying it row by row: %s", b.inserts ? "INSERT" : "COPY", failure.c_str());
    const std::size_t first_new = rejected.size();
    try {
        c.make_room();
        pqxx::work w(c.get(), "fast_append_replay");
        sender.replay_range(w, 0, b.rows());
        w.commit();
    } catch (const pqxx::in_doubt_error& e) {
        rejected.resize(first_new);
        report_in_doubt(b, e, rejected);
    } catch (const std::exception& e) {
        const auto* lib = dynamic_cast<const pqxx::pqxx_exception*>(&e);
        const std::exception& base = lib ? lib->base() : e;
        if (pgs_is_connection_break(c.get(), base)) {
            rejected.resize(first_new);
            throw_lost(b, base);
        }
        // The commit failed otherwise: nothing of the batch is stored, and
        // every row of it is reported as refused, once.
        const std::string text = "the batch could not be stored (" + pgs_row_error_text(failure.c_str()) +
                                 "): " + pgs_row_error_text(base.what());
        tk_write_log(3, "%s", text.c_str());
        rejected.resize(first_new);
        for (std::uint64_t r : b.records) rejected.push_back({r, text, std::string()});
    }
    b.clear_rows();
}


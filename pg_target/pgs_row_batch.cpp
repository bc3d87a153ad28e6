#include "pg_target/pgs_row_batch.h"

#include <algorithm>

#include "TK/tk_log.h"
#include "pg_target/pgs_connection.h"

// The COPY writer of libpqxx 6.4 is deprecated there but is the one that takes
// whole pre-formatted lines; its warnings are silenced where it is used.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <pqxx/tablewriter>

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

class batch_sender {
public:
    batch_sender(pgs_row_batch& b, std::vector<pgs_rejected_row>& rejected) : m_b(b), m_rejected(rejected) {}

    // The rows [lo, hi) in one statement (INSERT) or one COPY.
    void send(pqxx::transaction_base& t, std::size_t lo, std::size_t hi)
    {
        if (m_b.inserts) {
            m_statement = m_b.prefix;
            for (std::size_t i = lo; i < hi; ++i) {
                if (i != lo) m_statement += ", ";
                m_statement.append(m_b.text, m_b.begin_of(i), m_b.ends[i] - m_b.begin_of(i));
            }
            m_statement += m_b.suffix;
            t.exec(m_statement);
            return;
        }
        pqxx::tablewriter tw(t, m_b.table_sql);
        const std::size_t b = m_b.begin_of(lo);
        m_statement.assign(m_b.text, b, m_b.ends[hi - 1] - b - 1);  // the library ends it with '\n'
        tw.write_raw_line(m_statement);
        tw.complete();
    }

    // The rows [lo, hi) under one savepoint; on refusal split in halves until
    // the refused rows are single rows. The halves go in row order.
    void replay_range(pqxx::work& w, std::size_t lo, std::size_t hi)
    {
        try {
            pqxx::subtransaction sub(w, "copy_rows");
            send(sub, lo, hi);
            sub.commit();
        } catch (const pqxx::broken_connection&) {
            throw;
        } catch (const pqxx::pqxx_exception& e) {
            if (pgs_is_connection_break(w.conn(), e.base())) throw;  // the session ended: no refusal of these rows
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
    rejected.push_back({b.records.front(), text, std::string()});
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

#pragma GCC diagnostic pop

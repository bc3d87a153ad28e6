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
            // The batch is one statement (one COPY, or one INSERT of every
            // row), which the server runs as a transaction of its own: no
            // BEGIN and COMMIT round trips around it.
            pqxx::nontransaction w(c.get(), b.inserts ? "slow_append" : "fast_append");
            sender.send(w, 0, b.rows());
            b.clear_rows();
            return;
        } catch (const pqxx::pqxx_exception& e) {
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
    } catch (const std::exception& e) {
        // The connection is gone (or the commit failed): nothing of the batch
        // is stored, and every row of it is reported as refused, once.
        const auto* lib = dynamic_cast<const pqxx::pqxx_exception*>(&e);
        const std::string text = "the batch could not be stored (" + pgs_row_error_text(failure.c_str()) +
                                 "): " + pgs_row_error_text(lib ? lib->base().what() : e.what());
        tk_write_log(3, "%s", text.c_str());
        rejected.resize(first_new);
        for (std::uint64_t r : b.records) rejected.push_back({r, text, std::string()});
    }
    b.clear_rows();
}

#pragma GCC diagnostic pop

#include "pg_target/pgs_table_finisher.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_exception.h"

pgs_table_finisher::pgs_table_finisher(std::unique_ptr<pgs_connection> conn)
    : m_conninfo(conn->conninfo()), m_conn(std::move(conn))
{
    m_thread = std::thread([this] { thread_main(); });
}

pgs_table_finisher::~pgs_table_finisher()
{
    {
        std::lock_guard lock(m_mutex);
        // A failure met from here on could only be logged: the steps not started are
        // dropped (the run waits for them with wait() where it wants them).
        for (const auto& step : m_queue)
            tk_write_log(3, "%s: not built, the run ended first", tk_unicode_to_utf8(step.what).c_str());
        m_queue.clear();
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
    for (const auto& f : m_failures)
        tk_write_log(3, "%s: %s", tk_unicode_to_utf8(f.failure.where()).c_str(), f.failure.text.c_str());
}

bool pgs_table_finisher::worth_having()
{
    return std::thread::hardware_concurrency() > 1;
}

void pgs_table_finisher::submit(std::vector<pgs_finish_step> steps)
{
    if (steps.empty()) return;
    {
        std::lock_guard lock(m_mutex);
        for (auto& s : steps) m_queue.push_back(std::move(s));
    }
    m_changed.notify_all();
}

std::vector<pgs_finish_failure> pgs_table_finisher::collect()
{
    std::lock_guard lock(m_mutex);
    std::vector<pgs_finish_failure> out;
    out.swap(m_failures);
    return out;
}

std::vector<pgs_finish_failure> pgs_table_finisher::wait()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_queue.empty() && !m_running_step; });
    std::vector<pgs_finish_failure> out;
    out.swap(m_failures);
    return out;
}

void pgs_table_finisher::cancel() noexcept
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.clear();
        m_failures.clear();
    }
    m_changed.notify_all();
}

bool pgs_table_finisher::run_step(const pgs_finish_step& step, pgs_finish_failure& failure)
{
    failure.failure.kind = step.kind;
    failure.failure.table = step.table;
    failure.failure.object = step.what;
    failure.failure.statement = step.sql;
    // The one place this connection is opened again: a broken one is never
    // used for the next step.
    if (!m_conn || !m_conn->get().is_open()) {
        m_conn.reset();
        try {
            m_conn = std::make_unique<pgs_connection>(m_conninfo);
        } catch (const std::exception& e) {
            const auto* lib = dynamic_cast<const pqxx::pqxx_exception*>(&e);
            failure.failure.text = step.failure_prefix + "the connection to the server was lost and could not be opened again: " +
                                   (lib ? lib->base().what() : e.what());
            failure.lost = true;
            return false;
        }
    }
    if (!step.before.empty()) {
        try {
            pqxx::work tx(m_conn->get(), "finish_before");
            tx.exec(step.before);
            tx.commit();
        } catch (const std::exception&) {
            // A refusal is of no matter; a break is met again, and reported,
            // by the statement itself.
        }
    }
    tk_write_log(3, "%s: %s", tk_unicode_to_utf8(step.what).c_str(), step.sql.c_str());
    try {
        pqxx::work tx(m_conn->get(), "finish_table");
        tx.exec(step.sql);
        tx.commit();
        return true;
    } catch (const pqxx::pqxx_exception& e) {
        failure.failure.text = step.failure_prefix + e.base().what();
        if (pgs_is_connection_break(m_conn->get(), e.base())) {
            failure.lost = true;
            return false;
        }
        if (const auto* server = dynamic_cast<const pqxx::sql_error*>(&e.base()))
            failure.failure.sqlstate = server->sqlstate();
    } catch (const std::exception& e) {
        failure.failure.text = step.failure_prefix + e.what();
        failure.lost = pgs_is_connection_break(m_conn->get(), e);
    }
    return false;
}

void pgs_table_finisher::thread_main()
{
    for (;;) {
        pgs_finish_step step;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty()) return;
            step = std::move(m_queue.front());
            m_queue.pop_front();
            m_running_step = true;
        }
        pgs_finish_failure failure;
        const bool built = run_step(step, failure);
        {
            std::lock_guard lock(m_mutex);
            if (!built) {
                tk_write_log(3, "%s: %s", tk_unicode_to_utf8(step.what).c_str(), failure.failure.text.c_str());
                m_failures.push_back(std::move(failure));
            }
            m_running_step = false;
        }
        m_changed.notify_all();
    }
}

#include "pg_target/pgs_table_finisher.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_exception.h"

pgs_table_finisher::pgs_table_finisher(std::unique_ptr<pgs_connection> conn) : m_conn(std::move(conn))
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
        failure.failure.kind = step.kind;
        failure.failure.table = step.table;
        failure.failure.object = step.what;
        failure.failure.statement = step.sql;
        bool failed = false;
        if (!step.before.empty()) {
            try {
                pqxx::work tx(m_conn->get(), "finish_before");
                tx.exec(step.before);
                tx.commit();
            } catch (const pqxx::broken_connection&) {
                // Seen again, and reported, by the statement itself.
            } catch (const std::exception&) {
            }
        }
        tk_write_log(3, "%s: %s", tk_unicode_to_utf8(step.what).c_str(), step.sql.c_str());
        try {
            pqxx::work tx(m_conn->get(), "finish_table");
            tx.exec(step.sql);
            tx.commit();
        } catch (const pqxx::broken_connection& e) {
            failure.failure.text = step.failure_prefix + e.what();
            failure.lost = true;
            failed = true;
        } catch (const pqxx::sql_error& e) {
            failure.failure.text = step.failure_prefix + e.what();
            failure.failure.sqlstate = e.sqlstate();
            failed = true;
        } catch (const std::exception&) {
            try {
                failure.failure.text = step.failure_prefix + pgs_failure_text(std::current_exception());
            } catch (const std::exception& e) {
                failure.failure.text = step.failure_prefix + e.what();
            }
            failed = true;
        }
        {
            std::lock_guard lock(m_mutex);
            if (failed) {
                tk_write_log(3, "%s: %s", tk_unicode_to_utf8(step.what).c_str(), failure.failure.text.c_str());
                m_failures.push_back(std::move(failure));
                // Nothing more can be built without the server.
                if (m_failures.back().lost) m_queue.clear();
            }
            m_running_step = false;
        }
        m_changed.notify_all();
    }
}

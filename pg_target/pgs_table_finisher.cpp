#include "pg_target/pgs_table_finisher.h"

#include <algorithm>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_exception.h"

pgs_table_finisher::pgs_table_finisher(std::unique_ptr<pgs_connection> conn, unsigned connections)
    : m_conninfo(conn->conninfo())
{
    m_threads.emplace_back([this, c = conn.release()] { thread_main(std::unique_ptr<pgs_connection>(c)); });
    for (unsigned i = 1; i < connections; ++i) {
        std::unique_ptr<pgs_connection> more;
        try {
            more = std::make_unique<pgs_connection>(m_conninfo);
        } catch (const std::exception& e) {
            tk_write_log(3, "A connection for finishing tables could not be opened: %s", e.what());
            break;
        }
        m_threads.emplace_back([this, c = more.release()] { thread_main(std::unique_ptr<pgs_connection>(c)); });
    }
}

pgs_table_finisher::~pgs_table_finisher()
{
    {
        std::lock_guard lock(m_mutex);
        // A failure met from here on could only be logged: the steps not started are
        // dropped (the run waits for them with wait() where it wants them).
        for (const auto& q : m_queue)
            tk_write_log(3, "%s: not built, the run ended first", tk_unicode_to_utf8(q.step.what).c_str());
        m_queue.clear();
        m_stop = true;
    }
    m_changed.notify_all();
    for (auto& t : m_threads) t.join();
    for (const auto& [order, f] : m_failures)
        tk_write_log(3, "%s: %s", tk_unicode_to_utf8(f.failure.where()).c_str(), f.failure.text.c_str());
}

bool pgs_table_finisher::worth_having()
{
    return std::thread::hardware_concurrency() > 1;
}

unsigned pgs_table_finisher::connections_for_this_machine()
{
    return std::clamp(std::thread::hardware_concurrency() / 2, 2u, 4u);
}

void pgs_table_finisher::submit(std::vector<pgs_finish_step> steps)
{
    if (steps.empty()) return;
    {
        std::lock_guard lock(m_mutex);
        for (auto& s : steps) m_queue.push_back({m_next_order++, std::move(s)});
    }
    m_changed.notify_all();
}

std::vector<pgs_finish_failure> pgs_table_finisher::take_failures()
{
    // In the order the steps were given, whichever connection met them first.
    std::sort(m_failures.begin(), m_failures.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<pgs_finish_failure> out;
    for (auto& [order, f] : m_failures) out.push_back(std::move(f));
    m_failures.clear();
    return out;
}

std::vector<pgs_finish_failure> pgs_table_finisher::collect()
{
    std::lock_guard lock(m_mutex);
    return take_failures();
}

std::vector<pgs_finish_failure> pgs_table_finisher::wait()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_queue.empty() && m_running == 0; });
    return take_failures();
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

void pgs_table_finisher::drop_returnable()
{
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_queue.begin(); it != m_queue.end();) {
            if (!it->step.returnable) {
                ++it;
                continue;
            }
            pgs_finish_failure back;
            back.failure.kind = it->step.kind;
            back.failure.table = it->step.table;
            back.failure.object = it->step.what;
            back.failure.statement = it->step.sql;
            back.failure.text = it->step.failure_prefix + "not started";
            back.returned = true;
            tk_write_log(3, "%s: handed back, not started", tk_unicode_to_utf8(it->step.what).c_str());
            m_failures.emplace_back(it->order, std::move(back));
            it = m_queue.erase(it);
        }
    }
    // Steps they held back may run now.
    m_changed.notify_all();
}

std::vector<std::pair<std::wstring, std::string>> pgs_table_finisher::take_back_statements()
{
    std::lock_guard lock(m_mutex);
    std::sort(m_made.begin(), m_made.end(), [](const made_step& a, const made_step& b) { return a.order > b.order; });
    std::vector<std::pair<std::wstring, std::string>> out;
    for (made_step& m : m_made) out.emplace_back(std::move(m.what), std::move(m.take_back));
    m_made.clear();
    return out;
}

bool pgs_table_finisher::settled(const std::string& target)
{
    std::lock_guard lock(m_mutex);
    if (auto running = m_tables.find(target); running != m_tables.end() && running->second.running_own != 0)
        return false;
    for (const queued& q : m_queue)
        if (key_of(q.step) == target) return false;
    auto failed = m_failed.lower_bound({target, std::wstring()});
    return failed == m_failed.end() || failed->first != target;
}

std::string pgs_table_finisher::key_of(const pgs_finish_step& step)
{
    return step.target.empty() ? tk_unicode_to_utf8(step.table) : step.target;
}

std::vector<std::string> pgs_table_finisher::keys_of(const pgs_finish_step& step)
{
    std::vector<std::string> keys{key_of(step)};
    keys.insert(keys.end(), step.more_targets.begin(), step.more_targets.end());
    return keys;
}

std::deque<pgs_table_finisher::queued>::iterator pgs_table_finisher::next_ready()
{
    // Tables whose earlier steps hold a later one back: an ALTER TABLE waits for every
    // earlier step of its table, any step waits for an earlier ALTER TABLE of its table. A
    // step of several tables does so for each of them.
    std::set<std::string> held_alone, held_any;
    for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
        const pgs_finish_step& step = it->step;
        const bool alone = !step.side_by_side || !step.more_targets.empty();
        const std::vector<std::string> keys = keys_of(step);
        bool ready = true;
        for (const std::string& key : keys) {
            auto running = m_tables.find(key);
            if (alone)
                ready = ready && (running == m_tables.end() || running->second.running == 0) &&
                        !held_any.count(key) && !held_alone.count(key);
            else
                ready = ready && (running == m_tables.end() || !running->second.running_alone) &&
                        !held_alone.count(key);
        }
        if (ready) return it;
        for (const std::string& key : keys) (alone ? held_alone : held_any).insert(key);
    }
    return m_queue.end();
}
bool pgs_table_finisher::run_step(std::unique_ptr<pgs_connection>& conn, const pgs_finish_step& step,
                                  pgs_finish_failure& failure, bool& made)
{
    made = false;
    failure.failure.kind = step.kind;
    failure.failure.table = step.table;
    failure.failure.object = step.what;
    failure.failure.statement = step.sql;
    // The one place this connection is opened again: a broken one is never
    // used for the next step.
    if (!conn || !conn->get().is_open()) {
        conn.reset();
        try {
            conn = std::make_unique<pgs_connection>(m_conninfo);
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
            pqxx::work tx(conn->get(), "finish_before");
            tx.exec(step.before);
            tx.commit();
        } catch (const std::exception&) {
            // A refusal is of no matter; a break is met again, and reported,
            // by the statement itself.
        }
    }
    tk_write_log(3, "%s: %s", tk_unicode_to_utf8(step.what).c_str(), step.sql.c_str());
    try {
        pqxx::work tx(conn->get(), "finish_table");
        tx.exec(step.sql);
        tx.commit();
        made = true;
        return true;
    } catch (const pqxx::pqxx_exception& e) {
        failure.failure.text = step.failure_prefix + e.base().what();
        if (pgs_is_connection_break(conn->get(), e.base())) {
            failure.lost = true;
            return false;
        }
        if (const auto* server = dynamic_cast<const pqxx::sql_error*>(&e.base()))
            failure.failure.sqlstate = server->sqlstate();
        if (!step.exists_sqlstate.empty() && failure.failure.sqlstate == step.exists_sqlstate) {
            tk_write_log(3, "%s: already there", tk_unicode_to_utf8(step.what).c_str());
            return true;
        }
    } catch (const std::exception& e) {
        failure.failure.text = step.failure_prefix + e.what();
        failure.lost = pgs_is_connection_break(conn->get(), e);
    }
    return false;
}

void pgs_table_finisher::thread_main(std::unique_ptr<pgs_connection> conn)
{
    for (;;) {
        queued q;
        std::vector<std::string> keys;
        bool alone = false;
        bool skip = false;
        {
            std::unique_lock lock(m_mutex);
            std::deque<queued>::iterator it;
            m_changed.wait(lock, [&] { return m_stop || (it = next_ready()) != m_queue.end(); });
            if (m_stop) return;
            q = std::move(*it);
            m_queue.erase(it);
            keys = keys_of(q.step);
            alone = !q.step.side_by_side || keys.size() > 1;
            for (const std::string& key : keys) {
                table_state& t = m_tables[key];
                ++t.running;
                t.running_alone = alone;
            }
            ++m_tables[keys.front()].running_own;
            ++m_running;
            skip = q.step.completes_earlier && m_failed.count({keys.front(), q.step.what});
        }
        pgs_finish_failure failure;
        bool made = false;
        const bool built = skip || run_step(conn, q.step, failure, made);
        {
            std::lock_guard lock(m_mutex);
            if (made && !q.step.take_back.empty()) m_made.push_back({q.order, q.step.what, q.step.take_back});
            if (!built) {
                failure.returned = q.step.returnable && failure.lost;
                tk_write_log(3, "%s: %s%s", tk_unicode_to_utf8(q.step.what).c_str(), failure.failure.text.c_str(),
                             failure.returned ? " (handed back)" : "");
                if (!failure.returned) m_failed.insert({keys.front(), q.step.what});
                m_failures.emplace_back(q.order, std::move(failure));
            }
            --m_tables[keys.front()].running_own;
            for (const std::string& key : keys) {
                table_state& t = m_tables[key];
                if (--t.running == 0) m_tables.erase(key);
                else if (alone) t.running_alone = false;
            }
            --m_running;
        }
        m_changed.notify_all();
    }
}

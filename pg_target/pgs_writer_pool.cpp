#include "pg_target/pgs_writer_pool.h"

#include <algorithm>
#include <memory>

#include "TK/tk_log.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_exception.h"

namespace {

// Queued batch text beyond which submit waits (at least one batch is always let in).
constexpr std::size_t max_queued_bytes = 24 * 1024 * 1024;

}  // namespace

unsigned pgs_writer_pool::writers_for_this_machine()
{
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores <= 1) return 0;
    return std::clamp(cores / 2, 1u, 4u);
}

pgs_writer_pool::pgs_writer_pool(std::string conninfo, unsigned writers)
    : m_conninfo(std::move(conninfo)), m_max_queued(std::max(1u, writers))
{
    // Connected here, so a server without free connections gives fewer
    // writers (or none: size() is 0) rather than batches that cannot be stored.
    for (unsigned i = 0; i < writers; ++i) {
        std::unique_ptr<pgs_connection> conn;
        try {
            conn = std::make_unique<pgs_connection>(m_conninfo);
        } catch (const std::exception& e) {
            tk_write_log(3, "A writer connection could not be opened: %s", e.what());
            break;
        }
        m_threads.emplace_back([this, c = conn.release()] { writer_main(std::unique_ptr<pgs_connection>(c)); });
    }
    tk_write_log(2, "%u writer connections", unsigned(m_threads.size()));
}

pgs_writer_pool::~pgs_writer_pool()
{
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_queue.empty(); });
        m_stop = true;
    }
    m_changed.notify_all();
    for (auto& t : m_threads) t.join();
}

void pgs_writer_pool::submit(const void* owner, pgs_row_batch&& batch)
{
    const std::size_t bytes = batch.bytes();
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] {
            return m_queue.empty() || (m_queue.size() < m_max_queued && m_queued_bytes + bytes <= max_queued_bytes);
        });
        if (!m_lost.empty()) {
            m_owners[owner].rows_lost += batch.rows();
            return;
        }
        ++m_owners[owner].in_flight;
        m_queued_bytes += bytes;
        m_queue.push_back({owner, std::move(batch)});
    }
    m_changed.notify_all();
}

pgs_writer_pool::news pgs_writer_pool::take(std::map<const void*, owner_state>::iterator it, bool forget)
{
    news n;
    n.lost = m_lost;
    if (it == m_owners.end()) return n;
    n.rejected.swap(it->second.rejected);
    n.rows_lost = it->second.rows_lost;
    it->second.rows_lost = 0;
    if (forget) m_owners.erase(it);
    return n;
}

pgs_writer_pool::news pgs_writer_pool::wait(const void* owner)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] {
        auto it = m_owners.find(owner);
        return it == m_owners.end() || it->second.in_flight == 0;
    });
    news n = take(m_owners.find(owner), true);
    // In record order, whichever writer met them first.
    std::stable_sort(n.rejected.begin(), n.rejected.end(),
                     [](const pgs_rejected_row& a, const pgs_rejected_row& b) { return a.record_number < b.record_number; });
    return n;
}

pgs_writer_pool::news pgs_writer_pool::collect(const void* owner)
{
    std::lock_guard lock(m_mutex);
    return take(m_owners.find(owner), false);
}

std::string pgs_writer_pool::lost() const
{
    std::lock_guard lock(m_mutex);
    return m_lost;
}

bool pgs_writer_pool::store(std::unique_ptr<pgs_connection>& conn, pgs_row_batch& batch,
                            std::vector<pgs_rejected_row>& rejected, std::string& why)
{
    // The one place a writer reconnects: a connection that broke is never
    // used again, the batch goes whole on a new one, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (!conn || !conn->get().is_open()) {
                conn.reset();
                conn = std::make_unique<pgs_connection>(m_conninfo);
            }
            pgs_store_batch(*conn, batch, rejected);
            return true;
        } catch (const pqxx::pqxx_exception& e) {
            why = pgs_row_error_text(e.base().what());  // no new connection
        } catch (const std::exception& e) {
            why = pgs_row_error_text(e.what());
        }
        conn.reset();
        if (attempt == 0)
            tk_write_log(3, "A writer connection broke (%s); its batch of %llu rows is sent again on a new one",
                         why.c_str(), (unsigned long long)batch.rows());
    }
    return false;
}

void pgs_writer_pool::writer_main(std::unique_ptr<pgs_connection> conn)
{
    for (;;) {
        job j;
        bool send = true;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty()) return;
            j = std::move(m_queue.front());
            m_queue.pop_front();
            m_queued_bytes -= j.batch.bytes();
            send = m_lost.empty();
        }
        m_changed.notify_all();

        std::vector<pgs_rejected_row> rejected;
        std::string why;
        const std::size_t rows = j.batch.rows();
        const bool stored = send && store(conn, j.batch, rejected, why);
        {
            std::lock_guard lock(m_mutex);
            owner_state& s = m_owners[j.owner];
            if (stored) {
                s.rejected.insert(s.rejected.end(), rejected.begin(), rejected.end());
            } else {
                // Nothing of the batch is stored.
                s.rows_lost += rows;
                if (m_lost.empty()) {
                    m_lost = why;
                    tk_write_log(3, "The writer connections are lost: %s", why.c_str());
                }
            }
            if (!stored || !rejected.empty()) m_news.fetch_add(1, std::memory_order_release);
            --s.in_flight;
        }
        m_changed.notify_all();
    }
}

#include "pg_target/pgs_writer_pool.h"

#include <algorithm>
#include <memory>

#include "TK/tk_log.h"
#include "pg_target/pgs_connection.h"

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
    const std::size_t bytes = batch.text.size();
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] {
            return m_queue.empty() || (m_queue.size() < m_max_queued && m_queued_bytes + bytes <= max_queued_bytes);
        });
        ++m_owners[owner].in_flight;
        m_queued_bytes += bytes;
        m_queue.push_back({owner, std::move(batch)});
    }
    m_changed.notify_all();
}

std::vector<pgs_rejected_row> pgs_writer_pool::wait(const void* owner)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] {
        auto it = m_owners.find(owner);
        return it == m_owners.end() || it->second.in_flight == 0;
    });
    std::vector<pgs_rejected_row> rows;
    auto it = m_owners.find(owner);
    if (it != m_owners.end()) {
        rows.swap(it->second.rejected);
        m_owners.erase(it);
    }
    return rows;
}

std::vector<pgs_rejected_row> pgs_writer_pool::collect(const void* owner)
{
    std::lock_guard lock(m_mutex);
    std::vector<pgs_rejected_row> rows;
    auto it = m_owners.find(owner);
    if (it != m_owners.end()) rows.swap(it->second.rejected);
    return rows;
}

void pgs_writer_pool::writer_main(std::unique_ptr<pgs_connection> conn)
{
    for (;;) {
        job j;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty()) return;
            j = std::move(m_queue.front());
            m_queue.pop_front();
            m_queued_bytes -= j.batch.text.size();
        }
        m_changed.notify_all();

        std::vector<pgs_rejected_row> rejected;
        try {
            if (!conn || !conn->get().is_open()) {
                conn.reset();
                conn = std::make_unique<pgs_connection>(m_conninfo);
            }
            pgs_store_batch(*conn, j.batch, rejected);
        } catch (const std::exception& e) {
            // No connection to store it on: every row of the batch is reported.
            const auto* lib = dynamic_cast<const pqxx::pqxx_exception*>(&e);
            const std::string text =
                "the batch could not be stored: " + pgs_row_error_text(lib ? lib->base().what() : e.what());
            tk_write_log(3, "%s", text.c_str());
            rejected.clear();
            for (std::uint64_t r : j.batch.records) rejected.push_back({r, text, std::string()});
        }
        {
            std::lock_guard lock(m_mutex);
            owner_state& s = m_owners[j.owner];
            s.rejected.insert(s.rejected.end(), rejected.begin(), rejected.end());
            if (!rejected.empty()) m_refused.fetch_add(rejected.size(), std::memory_order_release);
            --s.in_flight;
        }
        m_changed.notify_all();
    }
}

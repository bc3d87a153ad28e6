#include "pg_target/pgs_batch_sender.h"

#include <algorithm>
#include <iterator>

#include "TK/tk_log.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_writer_pool.h"

void pgs_batch_sender::release_connection() noexcept
{
    if (m_owned_conn) m_owned_conn->clear_batch_owner(this);
    m_owned_conn = nullptr;
}

// Whatever else wants the main connection lets these rows go first.
void pgs_batch_sender::claim_connection()
{
    pgs_connection& c = m_db.connection();
    if (c.batch_owner() == this) return;
    c.make_room();
    c.set_batch_owner(this);
    m_owned_conn = &c;
}

void pgs_batch_sender::take_rejected(std::vector<pgs_rejected_row> rows)
{
    rejected.insert(rejected.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
}

void pgs_batch_sender::count_null_key_refusals(std::size_t first) noexcept
{
    if (null_key_rows.empty()) return;
    for (std::size_t i = first; i < rejected.size(); ++i) {
        const std::uint64_t from = rejected[i].record_number;
        const auto b = std::lower_bound(null_key_rows.begin(), null_key_rows.end(), from);
        const auto e = std::lower_bound(b, null_key_rows.end(), from + rejected[i].rows);
        null_key_rows_not_stored += std::uint64_t(e - b);
    }
    null_key_rows.clear();
}

void pgs_batch_sender::take(pgs_writer_pool_news&& news)
{
    take_rejected(std::move(news.rejected));
    rows_lost += news.rows_lost;
    if (lost.empty() && !news.lost.empty()) lost = "a writer connection broke and could not be opened again: " + news.lost;
}

void pgs_batch_sender::collect()
{
    // Asked for every row: the pool's lock only when a writer had news since the last look.
    if (!m_pool) return;
    const std::uint64_t news = m_pool->news_so_far();
    if (news == m_news_seen) return;
    m_news_seen = news;
    take(m_pool->collect(this));
}

void pgs_batch_sender::hand_on(bool may_use_writers)
{
    if (pending.empty()) return;
    release_connection();
    if (!m_pool && may_use_writers) m_pool = m_db.writer_pool();
    if (m_pool) {
        // The next batch keeps the statement form, not the rows.
        pgs_row_batch next;
        next.inserts = pending.inserts;
        next.table_sql = pending.table_sql;
        next.prefix = pending.prefix;
        next.suffix = pending.suffix;
        // A batch made of large values handed over holds little text in the room reserved for a
        // batch of small rows: it waits in the queue without that room.
        if (pending.text.capacity() > 2 * pending.text.size() + 64 * 1024) pending.text.shrink_to_fit();
        m_pool->submit(this, std::move(pending));
        pending = std::move(next);
        pending.clear_rows();
        null_key_rows.clear();  // a table with a key keeps its batches here
        return;
    }
    store_here();
}

void pgs_batch_sender::store_here()
{
    release_connection();
    if (before_store) before_store();
    const std::size_t refused_before = rejected.size();
    try {
        pgs_store_batch(m_db.connection(), pending, rejected);
    } catch (const pgs_connection_lost_exception& e) {
        // The run's own connection: not opened again here, the run ends.
        if (lost.empty()) lost = e.what();
        rows_lost += pending.rows();
        pending.clear_rows();
        null_key_rows_not_stored += null_key_rows.size();
        null_key_rows.clear();
        return;
    }
    count_null_key_refusals(refused_before);
    if (pending.fell_back && !key_unusable) {
        key_unusable = true;
        if (on_key_unusable) on_key_unusable();
    }
}

void pgs_batch_sender::commit()
{
    if (m_pool) {
        if (!pending.empty()) {
            release_connection();
            m_pool->submit(this, std::move(pending));
            pending = pgs_row_batch();
            null_key_rows.clear();
        }
        take(m_pool->wait(this));
        // Refused rows in record order, whichever writer met them first.
        std::stable_sort(rejected.begin(), rejected.end(), [](const pgs_rejected_row& a, const pgs_rejected_row& b) {
            return a.record_number < b.record_number;
        });
        return;
    }
    store_here();
}

void pgs_batch_sender::commit_keep_errors() noexcept
{
    try {
        commit();
    } catch (const std::exception& e) {
        tk_write_log(3, "ERROR: %s", e.what());
    }
}

void pgs_batch_sender::abandon() noexcept
{
    if (!pending.empty())
        tk_write_log(3, "%llu rows were not stored: their table was not finished",
                     static_cast<unsigned long long>(pending.rows()));
    pending.clear_rows();
    null_key_rows_not_stored += null_key_rows.size();
    null_key_rows.clear();
    release_connection();
    if (m_pool) {
        // The writers hold this sender's batches by its address: it must outlive them.
        take(m_pool->wait(this));
        m_pool = nullptr;
    }
    if (rows_lost)
        tk_write_log(3, "%llu rows were not stored: %s", static_cast<unsigned long long>(rows_lost), lost.c_str());
    for (const auto& r : rejected)
        tk_write_log(3, "Record #%llu rejected: %s", static_cast<unsigned long long>(r.record_number),
                     r.message.c_str());
    rejected.clear();
}

void pgs_batch_sender::close_batch_for_other_work() noexcept
{
    m_owned_conn = nullptr;
    commit_keep_errors();
}

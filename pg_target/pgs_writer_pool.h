#pragma once
// Writer threads that store ready row batches on connections of their own, so
// the run's thread reads and formats the next rows while earlier batches are
// sent and committed, several at a time. Each batch is stored exactly as on
// the main connection (pgs_store_batch: one transaction, replay when refused).
//
// Batches are queued per owner (one table's recordset); the queue is bounded
// in batches and bytes, so memory stays flat however big the table is. An
// owner waits for all its batches before anything else touches its table
// (reading it, its sequence, its indexes), and collects the rows refused.
//
// A writer whose connection breaks opens a new one and sends the batch once
// more (the batch is one transaction: a break before COMMIT leaves nothing of
// it). When that fails too, the pool is lost: no batch is sent any more, and
// every owner learns it, with the rows of its batches that were not stored, on
// its next wait() or collect(). A broken connection never makes a row refused.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pg_target/pgs_row_batch.h"

class pgs_connection;

// What became of an owner's batches since its last wait() or collect().
struct pgs_writer_pool_news {
    std::vector<pgs_rejected_row> rejected;  // rows the server refused, as they came
    std::uint64_t rows_lost = 0;  // rows of batches not stored because the pool is lost
    std::string lost;             // why the pool is lost; empty while it is not
};

class pgs_writer_pool {
public:
    // Up to `writers` threads, each with a connection opened here with
    // conninfo (as many as the server lets open).
    pgs_writer_pool(std::string conninfo, unsigned writers);
    // Waits for every queued batch, then ends the threads and their connections.
    ~pgs_writer_pool();

    pgs_writer_pool(const pgs_writer_pool&) = delete;
    pgs_writer_pool& operator=(const pgs_writer_pool&) = delete;

    using news = pgs_writer_pool_news;

    // Queues the batch (taken over) for the owner; waits while the queue is full.
    // Once the pool is lost the batch is not sent: its rows count as lost.
    void submit(const void* owner, pgs_row_batch&& batch);
    // Waits until every batch of the owner is stored (or lost), then forgets the
    // owner; the refused rows come in record order.
    news wait(const void* owner);
    // The same without waiting for the batches still on their way.
    news collect(const void* owner);
    // Why the pool is lost, or empty.
    std::string lost() const;
    // How many times a writer had news for some owner (rows refused, a batch not stored), for
    // every owner: a caller that saw the same count before has nothing to collect (read
    // without the lock).
    std::uint64_t news_so_far() const noexcept { return m_news.load(std::memory_order_acquire); }

    // Writer threads worth having on this machine: none on a single core (the
    // run's thread stores its own batches, in order), otherwise half the
    // cores, at most 4.
    static unsigned writers_for_this_machine();
    // The writer threads running.
    std::size_t size() const noexcept { return m_threads.size(); }

private:
    struct job {
        const void* owner;
        pgs_row_batch batch;
    };
    struct owner_state {
        std::size_t in_flight = 0;
        std::vector<pgs_rejected_row> rejected;
        std::uint64_t rows_lost = 0;
    };
    void writer_main(std::unique_ptr<pgs_connection> conn);
    // Stores the batch, reconnecting and sending it again once when the
    // connection breaks; false when that failed too (`why` says why).
    bool store(std::unique_ptr<pgs_connection>& conn, pgs_row_batch& batch, std::vector<pgs_rejected_row>& rejected,
               std::string& why);
    news take(std::map<const void*, owner_state>::iterator it, bool forget);

    std::string m_conninfo;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<job> m_queue;
    std::size_t m_queued_bytes = 0;
    std::map<const void*, owner_state> m_owners;
    bool m_stop = false;
    std::string m_lost;  // set once, when a batch could not be stored for a broken connection
    std::size_t m_max_queued;
    std::atomic<std::uint64_t> m_news{0};  // see news_so_far (raised under m_mutex)
    std::vector<std::thread> m_threads;
};

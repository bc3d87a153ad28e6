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

class pgs_writer_pool {
public:
    // Up to `writers` threads, each with a connection opened here with
    // conninfo (as many as the server lets open).
    pgs_writer_pool(std::string conninfo, unsigned writers);
    // Waits for every queued batch, then ends the threads and their connections.
    ~pgs_writer_pool();

    pgs_writer_pool(const pgs_writer_pool&) = delete;
    pgs_writer_pool& operator=(const pgs_writer_pool&) = delete;

    // Queues the batch (taken over) for the owner; waits while the queue is full.
    void submit(const void* owner, pgs_row_batch&& batch);
    // Waits until every batch of the owner is stored; returns the rows refused
    // and not yet collected.
    std::vector<pgs_rejected_row> wait(const void* owner);
    // The rows refused so far and not yet collected (does not wait).
    std::vector<pgs_rejected_row> collect(const void* owner);
    // How many rows the writers have refused so far, for every owner: a caller that saw the
    // same count before has nothing to collect (read without the lock).
    std::uint64_t refused_so_far() const noexcept { return m_refused.load(std::memory_order_acquire); }

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
    };
    void writer_main(std::unique_ptr<pgs_connection> conn);

    std::string m_conninfo;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<job> m_queue;
    std::size_t m_queued_bytes = 0;
    std::map<const void*, owner_state> m_owners;
    bool m_stop = false;
    std::size_t m_max_queued;
    std::atomic<std::uint64_t> m_refused{0};  // rows refused so far (raised under m_mutex)
    std::vector<std::thread> m_threads;
};

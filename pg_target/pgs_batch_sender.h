#pragma once
// The rows of one live recordset on their way to the server: the open batch
// (COPY lines or INSERT value lists), its hand-over when it is full, and the
// rows the server refused that were not reported yet.
//
// A full batch goes to the database's writer threads when the caller says the
// order in which batches land cannot matter; otherwise it is stored on the
// database's own connection (pgs_store_batch: one transaction, replayed in
// pieces when refused) before the next row is read. While a batch is open it
// holds the main connection: whatever else wants the connection lets it be
// committed first (pgs_batch_owner).
//
// pg_target only.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_row_batch.h"

class pgs_database;
class pgs_writer_pool;
struct pgs_writer_pool_news;

class pgs_batch_sender final : public pgs_batch_owner {
public:
    explicit pgs_batch_sender(pgs_database& database) : m_db(database) {}
    // Lets the connection go; an open batch is not stored (commit() first).
    ~pgs_batch_sender() { release_connection(); }
    pgs_batch_sender(const pgs_batch_sender&) = delete;
    pgs_batch_sender& operator=(const pgs_batch_sender&) = delete;

    // Runs before a batch is stored on the main connection: a transaction the
    // owner keeps open there (a reading cursor) must end first.
    std::function<void()> before_store;
    // Runs once, when the server matched no unique index to an INSERT batch's
    // conflict clause and the batch went with its fallback suffix.
    std::function<void()> on_key_unusable;

    pgs_row_batch pending;                   // the rows not handed on yet
    std::vector<pgs_rejected_row> rejected;  // refused rows not reported yet
    bool key_unusable = false;               // see on_key_unusable
    // A connection that stores these rows broke for good (the writer threads'
    // after their one resend, or the main one): why, and the rows handed on
    // that were not stored and not counted out yet. Nothing more is stored.
    std::string lost;
    std::uint64_t rows_lost = 0;
    // The record numbers of pending rows with NULL in the key a merge names (in order), and
    // how many such rows the server refused or never got: those were not appended.
    std::vector<std::uint64_t> null_key_rows;
    std::uint64_t null_key_rows_not_stored = 0;

    // After a row was added to pending: the first row of a batch claims the
    // main connection.
    void row_added()
    {
        if (pending.rows() == 1) claim_connection();
    }
    // The full batch is on its way: to a writer thread when the owner allows
    // writers (asked once; a sender that has them keeps them), otherwise
    // stored here.
    void hand_on(bool may_use_writers);
    // Every row given so far is stored (or refused) when this returns; the
    // refused ones are in rejected, in record order.
    void commit();
    // The same, only logging a failure (the rows stay reported in rejected).
    void commit_keep_errors() noexcept;
    // Takes over the rows refused by writer threads so far (does not wait).
    void collect();
    // Drops the rows not handed on (nothing is sent) and waits for the batches
    // already with the writer threads, logging the rows they refused.
    void abandon() noexcept;

    void close_batch_for_other_work() noexcept override;

private:
    void claim_connection();
    void release_connection() noexcept;
    void store_here();
    void take_rejected(std::vector<pgs_rejected_row> rows);
    // After the pending rows were stored here: counts the NULL-key rows among those refused
    // from position first of rejected on.
    void count_null_key_refusals(std::size_t first) noexcept;
    void take(pgs_writer_pool_news&& news);

    pgs_database& m_db;
    pgs_connection* m_owned_conn = nullptr;  // where this is the batch owner
    pgs_writer_pool* m_pool = nullptr;       // batches handed to writer threads
    std::uint64_t m_news_seen = 0;           // the pool's news count at the last collect()
};

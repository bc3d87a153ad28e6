#pragma once
// Finishing a table after its rows, on a connection of its own: the statements that make a
// column NOT NULL again and build the table's primary key and indexes run on a thread here
// while the run's thread loads the next table, so the server sorts one table's keys while it
// takes in the next one's rows.
//
// Steps run one at a time, in the order given, each in a transaction of its own. A refused
// step is kept as a failure (udb_failure: its table and object, the server's text, SQLSTATE
// and statement) for the run's thread to report;
// nothing is reported from this thread. A step whose connection breaks is a failure marked
// lost (never sent again: its outcome may be unknown); the next step opens a new connection,
// and every step that cannot have one is a failure marked lost too, each under its own table.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "UDB/udb_failure.h"

class pgs_connection;

struct pgs_finish_step {
    std::wstring table;           // the table finished, as reports name it
    std::wstring what;            // the object, as reports name it
    std::string before;           // run first, a failure ignored (DROP INDEX IF EXISTS ...); may be empty
    std::string sql;              // the statement
    std::string failure_prefix;   // put before the server's text in a report
    udb_failure_kind kind = udb_failure_kind::index;  // what a refusal leaves out
};

struct pgs_finish_failure {
    udb_failure failure;  // the step's object, the server's text, SQLSTATE and statement
    bool lost = false;    // no answer: the connection is gone
};

class pgs_table_finisher {
public:
    // Takes over the connection and starts the thread.
    explicit pgs_table_finisher(std::unique_ptr<pgs_connection> conn);
    // Drops the steps not started (logged), lets the one running end, then ends the thread;
    // failures not collected are logged. Call wait() first to have every step run.
    ~pgs_table_finisher();

    pgs_table_finisher(const pgs_table_finisher&) = delete;
    pgs_table_finisher& operator=(const pgs_table_finisher&) = delete;

    void submit(std::vector<pgs_finish_step> steps);
    // The failures so far, not yet collected (does not wait).
    std::vector<pgs_finish_failure> collect();
    // Waits until every step given is run; the failures not yet collected.
    std::vector<pgs_finish_failure> wait();
    // Drops the steps not started and the failures (their server is gone).
    void cancel() noexcept;

    // Worth a thread of its own: more than one core (a single core keeps the tables' order:
    // each one finished before the next is loaded).
    static bool worth_having();

private:
    void thread_main();
    // Runs the step; false with `failure` filled in when it was not built.
    bool run_step(const pgs_finish_step& step, pgs_finish_failure& failure);

    std::string m_conninfo;
    std::unique_ptr<pgs_connection> m_conn;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<pgs_finish_step> m_queue;
    bool m_running_step = false;
    bool m_stop = false;
    std::vector<pgs_finish_failure> m_failures;
    std::thread m_thread;
};

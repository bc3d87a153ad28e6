#pragma once
// Finishing a table after its rows, on a connection of its own: the statements that make a
// column NOT NULL again and build the table's primary key and indexes run on a thread here
// while the run's thread loads the next table, so the server sorts one table's keys while it
// takes in the next one's rows.
//
// Each step runs in a transaction of its own. With more than one connection, steps marked
// side_by_side (a CREATE INDEX) run at the same time as the other such steps of their table
// and any step of other tables; every other step of a table (an ALTER TABLE: NOT NULL again,
// a primary key) waits for the table's earlier steps and holds back its later ones. So the
// time after a table's rows is about that of its largest index. With one connection the
// steps run one at a time, in the order given. A refused
// step is kept as a failure (udb_failure: its table and object, the server's text, SQLSTATE
// and statement) for the run's thread to report;
// nothing is reported from this thread. A step whose connection breaks is a failure marked
// lost (never sent again: its outcome may be unknown); the next step opens a new connection,
// and every step that cannot have one is a failure marked lost too, each under its own table.
// A step the run can still do itself (returnable: a foreign key) is handed back instead of
// failed when its connection breaks, or when the run drops it before it starts.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
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
    // The destination table the statement changes, as its SQL names it: the steps of one
    // table keep their order by it (empty: `table` is used).
    std::string target;
    bool side_by_side = false;  // may run beside the table's other side_by_side steps
    // Completes the earlier step of the same target and object (a primary key made of its
    // unique index): left out, without a failure of its own, when that step failed.
    bool completes_earlier = false;
    // More names the step keeps its order among, as among the steps of its target: the other
    // tables the statement locks (a foreign key's referenced table), or a name shared by steps
    // that must run one at a time. Such a step runs alone (never side_by_side).
    std::vector<std::string> more_targets;
    // The SQLSTATE with which the server says the object is there already (a key the table
    // got in an earlier run): the step is then done, without a failure.
    std::string exists_sqlstate;
    // The run can do the step itself later: when its connection breaks, or when it is dropped
    // before it starts (drop_returnable()), it is handed back (pgs_finish_failure::returned)
    // rather than failed.
    bool returnable = false;
    // The statement that takes the step back (a foreign key made beside the rows of a run that
    // then stops), for take_back_statements(): kept for a step that made its object, not for one
    // whose object was there already.
    std::string take_back;
};

struct pgs_finish_failure {
    udb_failure failure;  // the step's object, the server's text, SQLSTATE and statement
    bool lost = false;    // no answer: the connection is gone
    // Not a failure: a returnable step handed back undone (`lost` tells whether its
    // connection broke; then whether the server is still there is for the caller to ask).
    bool returned = false;
};

class pgs_table_finisher {
public:
    // Takes over the connection and starts its thread; with `connections` > 1, that many
    // connections alike in all (as many as the server lets open), a thread each.
    explicit pgs_table_finisher(std::unique_ptr<pgs_connection> conn, unsigned connections = 1);
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
    // Hands back the returnable steps not started (a run that stops makes no more of them).
    void drop_returnable();
    // The steps made so far that can be taken back, the last made first, as (what, take_back);
    // forgotten here.
    std::vector<std::pair<std::wstring, std::string>> take_back_statements();
    // Whether every step given so far whose target is `target` has run and none failed (the
    // steps that only name it among their more_targets do not count).
    bool settled(const std::string& target);

    // Worth a thread of its own: more than one core (a single core keeps the tables' order:
    // each one finished before the next is loaded).
    static bool worth_having();
    // Connections worth having on this machine: half the cores, 2 to 4.
    static unsigned connections_for_this_machine();
    // The connections (threads) steps run on.
    std::size_t connections() const noexcept { return m_threads.size(); }

private:
    struct queued {
        std::uint64_t order;
        pgs_finish_step step;
    };
    struct table_state {
        std::size_t running = 0;
        bool running_alone = false;
        std::size_t running_own = 0;  // of those, steps whose own target it is
    };
    void thread_main(std::unique_ptr<pgs_connection> conn);
    // The next step a thread may take, or m_queue.end().
    std::deque<queued>::iterator next_ready();
    // The table a step changes, for its order among that table's steps.
    static std::string key_of(const pgs_finish_step& step);
    // Every name a step keeps its order among: key_of() first, then its more_targets.
    static std::vector<std::string> keys_of(const pgs_finish_step& step);
    // Runs the step; false with `failure` filled in when it was not built. `made`: the step
    // made its object (not one there already).
    bool run_step(std::unique_ptr<pgs_connection>& conn, const pgs_finish_step& step, pgs_finish_failure& failure,
                  bool& made);
    std::vector<pgs_finish_failure> take_failures();

    std::string m_conninfo;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<queued> m_queue;
    std::uint64_t m_next_order = 0;
    std::map<std::string, table_state> m_tables;  // tables with a step running
    std::size_t m_running = 0;
    bool m_stop = false;
    std::vector<std::pair<std::uint64_t, pgs_finish_failure>> m_failures;
    std::set<std::pair<std::string, std::wstring>> m_failed;  // (target, object) of failed steps
    struct made_step {
        std::uint64_t order;
        std::wstring what;
        std::string take_back;
    };
    std::vector<made_step> m_made;
    std::vector<std::thread> m_threads;
};

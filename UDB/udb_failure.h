#pragma once
// A failure of a conversion run as one value: what kind of thing was left out, where (its
// table, the object, the row), and why (the server's text, SQLSTATE and statement). One call,
// udb_report_failure, both counts it in the run's counts and shows it through the reporter the
// program installed, so nothing can be shown without being counted or counted without being
// shown.
//
// The database sides (SQL/, pg_target/) and the run (driver/) all raise failures this way; the
// front ends read the counts at the end (the console's summary line and exit status, the
// wizard's finish page). A failure carries its own table: reports from several threads never
// share a "current table".

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class tk_exception;

enum class udb_failure_kind : std::uint8_t {
    row,            // a row refused by the destination or not convertible
    table,          // a work item (table or query) that failed, or a listed table the source lacks
    index,          // an index, primary or unique key, or a NOT NULL restoration not made
    foreign_key,    // a foreign key not created
    view,           // a view not created
    sequence,       // a sequence not created, or not set past its column's values
    column,         // a column default or property the destination table does not carry
    keyless_merge,  // a merge into a table without a key: its rows were appended, not merged
};

struct udb_failure {
    udb_failure_kind kind = udb_failure_kind::table;
    // The table (or query) the failure belongs to, as the user listed it; empty for an object
    // of no table (a view).
    std::wstring table;
    // The object as the user reads it, its table named where it has one ("Index 'i' of table
    // 't'", "View 'v'"); empty when the failure is the table's own or one of its rows.
    std::wstring object;
    // What went wrong, in the server's words where the server answered.
    std::string text;
    std::string sqlstate;   // the server's SQLSTATE, "" when it gave none
    std::string statement;  // the statement refused, "" when there was none
    std::int64_t record = -1;  // a row's 1-based number in its source table; -1: no row
    int level = 0;             // as tk_exception: 0 the run goes on, 1 error, 2 internal error
    int code = 0;              // an error code that selects a user text (tk_exception's code)
    // How many of its kind the failure stands for: 1, or for one report of a batch of rows
    // whose fate is not known, every row of it.
    std::uint64_t count = 1;

    // Where, as a report's prefix: the object, else the table (", record #N" for a row).
    std::wstring where() const;
};

// A failure of `kind` from an exception: its text, level and code (the caller adds the
// SQLSTATE and statement where the exception has them).
udb_failure udb_failure_of(udb_failure_kind kind, std::wstring table, std::wstring object, const tk_exception& e);

// How many failures of each kind a run met. Written by the run's threads, read by others:
// atomic.
struct udb_failure_counts {
    std::atomic<std::uint64_t> rows{0};
    std::atomic<std::uint64_t> tables{0};
    std::atomic<std::uint64_t> indexes{0};
    std::atomic<std::uint64_t> keys{0};  // foreign keys
    std::atomic<std::uint64_t> views{0};
    std::atomic<std::uint64_t> sequences{0};
    std::atomic<std::uint64_t> columns{0};
    std::atomic<std::uint64_t> keyless_merges{0};

    std::atomic<std::uint64_t>& of(udb_failure_kind kind) noexcept;
    const std::atomic<std::uint64_t>& of(udb_failure_kind kind) const noexcept;
    void clear() noexcept;
    bool any() const noexcept;
};

inline constexpr udb_failure_kind udb_failure_kinds[] = {
    udb_failure_kind::row,      udb_failure_kind::table,    udb_failure_kind::index,
    udb_failure_kind::foreign_key, udb_failure_kind::view,  udb_failure_kind::sequence,
    udb_failure_kind::column,   udb_failure_kind::keyless_merge,
};

// Shows one failure. It may throw tk_final_exception when the user chooses to abort, which
// ends the batch operation at hand.
using udb_failure_reporter = std::function<void(const udb_failure&)>;

// Installs the reporter (an empty function removes it): the program does so at start-up. Without
// one a failure is written to the trace log (level 3) and the work goes on.
void udb_set_failure_reporter(udb_failure_reporter reporter);

// The counts failures go into from now on (nullptr: none, failures are only shown); returns the
// counts installed before. A run installs its own for its length (udb_failure_counting).
udb_failure_counts* udb_set_failure_counts(udb_failure_counts* counts) noexcept;

// Counts the failure by its kind, then shows it. Thread-safe.
void udb_report_failure(const udb_failure& failure);

// Installs counts for the length of a scope, putting back what was installed before.
class udb_failure_counting {
public:
    explicit udb_failure_counting(udb_failure_counts& counts) noexcept;
    ~udb_failure_counting();
    udb_failure_counting(const udb_failure_counting&) = delete;
    udb_failure_counting& operator=(const udb_failure_counting&) = delete;

private:
    udb_failure_counts* m_before;
};

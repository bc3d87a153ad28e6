#pragma once
// The one exception of the PostgreSQL side: errors of the client library (its
// message text) and the few failures this side names itself. Level 0: the run
// treats it as the error of the row or item at hand and may go on.
//
// An error the server raised keeps the server's SQLSTATE (five characters,
// e.g. "23505" for a duplicate key), so callers decide by the error's class,
// never by its message text, and the statement it refused, for the log.
// Failures this side names itself, and library errors without a server answer
// (a lost connection), have an empty SQLSTATE.

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "TK/tk_exception.h"
#include "UDB/udb_failure.h"

class pgs_exception : public tk_exception {
public:
    // An empty message becomes tk_exception's default text.
    explicit pgs_exception(const std::string& message);
    explicit pgs_exception(const char* message);
    pgs_exception(const std::string& message, std::string sqlstate, std::string statement = std::string());

    // The exception in flight (a client-library error or a pgs_exception) as a pgs_exception
    // whose message is `prefix` and the error's own text, keeping its SQLSTATE and statement.
    // Call inside a catch block only; any other exception passes on.
    static pgs_exception from_current(const std::string& prefix = std::string());

    // The server's SQLSTATE, or "" when the server gave none.
    const std::string& sqlstate() const noexcept { return m_sqlstate; }
    // The statement the server refused, or "" when unknown.
    const std::string& statement() const noexcept { return m_statement; }

private:
    std::string m_sqlstate;
    std::string m_statement;
};

// A connection of the run broke (or could not be opened again) while it stored rows: not a
// refusal of anything, the run cannot go on without it. No SQLSTATE.
class pgs_connection_lost_exception : public pgs_exception {
public:
    explicit pgs_connection_lost_exception(const std::string& message) : pgs_exception(message) {}
};

// A failure of `kind` from a pgs_exception: its text, level, SQLSTATE and statement.
udb_failure pgs_failure_of(udb_failure_kind kind, std::wstring table, std::wstring object, const pgs_exception& e);

// SQLSTATE of a row whose unique key (primary key or unique index) already exists.
inline constexpr const char* pgs_sqlstate_unique_violation = "23505";

// One row that the server refused while a COPY batch was replayed row by row.
struct pgs_rejected_row {
    std::uint64_t record_number = 0;  // 1-based number of the append_record call that sent it
    std::string message;              // the server's text for this row
    std::string sqlstate;             // the server's SQLSTATE for this row ("" when none)
    // The rows the entry stands for: 1, or every row of a batch whose COMMIT broke (whether
    // the server stored them is not known, so none of them counts as stored).
    std::uint64_t rows = 1;
};

// Thrown when rows of an earlier COPY batch were refused: the batch was rolled
// back, replayed row by row, the good rows are stored and only these rows are
// missing. The row of the call that throws it has been written. The message
// names every refused row ("Record #N rejected: ..."), one per line.
class pgs_rows_rejected_exception : public pgs_exception {
public:
    explicit pgs_rows_rejected_exception(std::vector<pgs_rejected_row> rows);
    const std::vector<pgs_rejected_row>& rows() const noexcept { return m_rows; }

private:
    std::vector<pgs_rejected_row> m_rows;
};

// The message of a statement that failed with a client-library error or a pgs_exception
// (given as the exception in flight); any other exception passes on.
std::string pgs_failure_text(const std::exception_ptr& e);

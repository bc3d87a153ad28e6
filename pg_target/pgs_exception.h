#pragma once
// The one exception of the PostgreSQL side: errors of the client library (its
// message text) and the few failures this side names itself. Level 0: the run
// treats it as the error of the row or item at hand and may go on.

#include <cstdint>
#include <string>
#include <vector>

#include "TK/tk_exception.h"

class pgs_exception : public tk_exception {
public:
    // An empty message becomes tk_exception's default text.
    explicit pgs_exception(const std::string& message);
    explicit pgs_exception(const char* message);
};

// One row that the server refused while a COPY batch was replayed row by row.
struct pgs_rejected_row {
    std::uint64_t record_number = 0;  // 1-based number of the append_record call that sent it
    std::string message;              // the server's text for this row
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

#pragma once
// Reading the rows of a table or a query of the live database: a cursor in a
// transaction of its own on the database's connection, fetched in blocks of
// 100 rows, and each row turned into the fields of one reused record.
//
// The client library stays out of this header.

#include <memory>
#include <string>
#include <vector>

class pgs_connection;
class udb_record;
class udb_schema;

// The select list that reads a table's columns back in the forms the record
// fields take: dates as text with microseconds (a zone-bearing one in UTC),
// booleans as 1/0, money as numeric. data_types: per column, the catalog's
// type name (may be shorter than columns).
std::string pgs_select_list(const udb_schema& columns, const std::vector<std::string>& data_types);

class pgs_row_cursor {
public:
    pgs_row_cursor();
    ~pgs_row_cursor();
    pgs_row_cursor(const pgs_row_cursor&) = delete;
    pgs_row_cursor& operator=(const pgs_row_cursor&) = delete;

    // Closes what is open, then runs the query in a new transaction on the
    // connection (after make_room()) and fetches the first block. Throws
    // pgs_exception.
    void open(pgs_connection& connection, const std::string& sql);
    // Ends the transaction (nothing was changed in it). Never throws.
    void close() noexcept;

    bool is_open() const noexcept;
    // No row is left (or nothing is open).
    bool at_end() const noexcept;
    // On to the next row, fetching the next block when needed.
    void next();
    // Gives the fields of record (one per column, made by the caller) the
    // values of the current row.
    void fill(udb_record& record, const udb_schema& columns) const;

private:
    struct state;  // the transaction first, so the cursor is destroyed first
    std::unique_ptr<state> m;
};

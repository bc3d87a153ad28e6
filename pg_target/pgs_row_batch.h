#pragma once
// A batch of rows ready for the server, already in its wire form (COPY lines or
// INSERT value lists), and the one way it is stored: one transaction; when the
// server refuses it, the batch is rolled back and replayed in smaller pieces
// under savepoints, in row order, so the rows stored are those a transaction
// per row would have stored and only the refused rows are left out.
//
// The client library stays out of this header.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pg_target/pgs_exception.h"

class pgs_connection;

struct pgs_row_batch {
    bool inserts = false;    // INSERT value lists "(...)" rather than COPY lines
    std::string table_sql;   // COPY: the table, "schema"."table"
    std::string prefix;      // INSERT: the text before the value lists ("INSERT INTO t(a, b) VALUES ")
    std::string suffix;      // INSERT: the text after them (" on conflict do nothing")
    // INSERT: when the server finds no unique index for the conflict clause
    // (SQLSTATE 42P10), the batch is sent once more with this suffix instead.
    bool has_fallback = false;
    std::string fallback_suffix;
    bool fell_back = false;  // set when the fallback was used

    // COPY: the rows one after the other, each line ending in '\n'. INSERT: the
    // statement without its suffix, prefix and value lists joined by ", ", so
    // the whole batch is sent from here without being joined again.
    std::string text;
    std::vector<std::size_t> ends;       // end offset of each row in text
    std::vector<std::uint64_t> records;  // record number of each row

    // COPY: large values handed over whole rather than copied into text. Each stands before
    // the byte of text at its offset (inside its row's range: a row's line ends after them);
    // they are in row order.
    // A piece is a text or, for a byte array turned into its COPY field where it stood, the
    // vector that held the bytes.
    struct piece {
        std::size_t at;
        std::string text;
        std::vector<std::uint8_t> bytes;
        std::string_view view() const noexcept
        {
            if (!bytes.empty()) return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
            return text;
        }
    };
    std::vector<piece> pieces;
    std::size_t piece_bytes = 0;  // the bytes of the pieces

    bool empty() const noexcept { return ends.empty(); }
    std::size_t rows() const noexcept { return ends.size(); }
    // The bytes of the rows, pieces included.
    std::size_t bytes() const noexcept { return text.size() + piece_bytes; }
    // A value of the row being written, at the end of text.
    void add_piece(std::string value)
    {
        piece_bytes += value.size();
        pieces.push_back({text.size(), std::move(value), {}});
    }
    void add_piece(std::vector<std::uint8_t> value)
    {
        piece_bytes += value.size();
        pieces.push_back({text.size(), std::string(), std::move(value)});
    }
    // Takes text from `size` on out again, with the pieces that stand there.
    void cut_to(std::size_t size)
    {
        text.resize(size);
        while (!pieces.empty() && pieces.back().at >= size) {
            piece_bytes -= pieces.back().view().size();
            pieces.pop_back();
        }
    }
    std::size_t begin_of(std::size_t i) const noexcept
    {
        if (i == 0) return inserts ? prefix.size() : 0;
        return ends[i - 1] + (inserts ? 2 : 0);
    }
    // Before a row is written at the end of text: what a row written before
    // and not ended (it failed half way) is taken out, and an INSERT batch
    // gets its prefix or the separator.
    void start_row()
    {
        if (!inserts) {
            cut_to(ends.empty() ? 0 : ends.back());
        } else if (ends.empty()) {
            text.assign(prefix);
        } else {
            text.resize(ends.back());
            text += ", ";
        }
    }
    // Ends the row written at the end of text since start_row().
    void end_row(std::uint64_t record_number)
    {
        ends.push_back(text.size());
        records.push_back(record_number);
    }
    // Forgets the rows (the statement form stays).
    void clear_rows() noexcept
    {
        text.clear();
        pieces.clear();
        piece_bytes = 0;
        ends.clear();
        records.clear();
    }
};

// Stores the batch on the connection (after make_room()) in one transaction and
// clears its rows. Refused rows are appended to `rejected`; when the commit
// fails every row of it is. When the connection breaks before COMMIT nothing of
// the batch is stored: pgs_connection_lost_exception is thrown and the rows
// stay in the batch, to be sent again on another connection. A break during
// COMMIT (the outcome unknown) is one entry in `rejected`, under the batch's
// first record, and the rows are cleared.
void pgs_store_batch(pgs_connection& connection, pgs_row_batch& batch, std::vector<pgs_rejected_row>& rejected);

// The server's message without the COPY context line (which names a line of a
// replayed piece rather than the record) and without the "ERROR:  " head.
std::string pgs_row_error_text(const char* what);

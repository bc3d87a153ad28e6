#pragma once
// Pieces of a conversion run that others see: the scope object of a run and
// the texts the run writes.

#include <atomic>
#include <functional>
#include <string>
#include <unordered_set>

#include "TK/tk_exception.h"

// The scope of one run: logs the start and end lines, starts the front end's
// progress timer, and sets the finished flag as the last action of the run,
// whichever way it ends.
class init_conversion {
public:
    init_conversion(std::atomic<bool>& finished, int no_com);
    ~init_conversion();
    init_conversion(const init_conversion&) = delete;
    init_conversion& operator=(const init_conversion&) = delete;

private:
    std::atomic<bool>& m_finished;
    int m_no_com;
};

// The text of an item whose source does not fit the existing destination table.
inline constexpr const char* not_conform_message =
    "The structure of data source does not conform to the destination table.";

// Longest progress line, in characters (longer lines are cut, keeping "\r\n").
inline constexpr std::size_t progress_line_max = 255;

// The error that ends a run when the connection to a server was lost during an
// item (level 1): names the server, the table and how many of its rows were
// kept.
class connection_lost_exception : public tk_exception {
public:
    explicit connection_lost_exception(const std::string& message);
};

// The name the source gives a table the user listed (a line of a table list, a table of a
// profile's selection), or "" when the source has no such table: the listed name when the
// source has exactly that table; else the name without blanks at its ends when the source has
// that; else the one source table whose name equals it ignoring case, when `server_takes`
// answers that the server reads the listed spelling as a table (a server that compares table
// names ignoring case). A table is never converted under a name it does not have.
std::wstring source_table_name(const std::unordered_set<std::wstring>& source_tables, const std::wstring& listed,
                               const std::function<bool(const std::wstring&)>& server_takes);

#pragma once
// A MySQL view's text as PostgreSQL reads it, with the same meaning: rules on the tokens of the
// one reader of MySQL view text (UDB/udb_view_text.h).
//
//  - Every literal becomes a PostgreSQL literal holding the same characters (MySQL's backslash
//    escapes read as MySQL reads them); comments go; nothing inside a literal or a quoted name
//    is taken for code.
//  - Every table, view and column the text names is written as the name the conversion gave it
//    in the destination (folding, the 63-byte cut, safe names, system-column renames, the
//    user's renames), when the names of the run are given. A name that cannot be resolved with
//    certainty (a table the run does not create, a column it left out or that several tables
//    may hold, another database) refuses the view: it is never created over another table.
//  - A join without ON or USING becomes CROSS JOIN (and CROSS JOIN with ON a plain JOIN); the
//    current date and time is LOCALTIMESTAMP cut to the second (MySQL's DATETIME); an integer
//    divisor becomes numeric, since MySQL's / never cuts the fraction PostgreSQL's cuts between
//    integers, and NULL where it is 0 (for % and MOD too), since MySQL's division by zero is
//    NULL. A view's column that is a quotient (or an average) of integers and decimals whose
//    scales the text tells (a table's, a view's, a derived table's columns, numbers) is
//    rounded to the scale MySQL gives it, 4 decimals more than the dividend's (through SUM,
//    MIN, MAX, AVG, ABS, CASE and a scalar subquery too); COALESCE has
//    its arguments' largest scale; a truth value as a result column or in CONCAT is 1 or 0;
//    a table's integer column in + - * is bigint, since MySQL computes them in 64 bits, and
//    its FLOAT column in + - * and SUM float8, since MySQL computes them in doubles;
//    LENGTH counts bytes; ! is NOT of its operand; GROUP BY ... LIMIT orders by the groups;
//    1e0, SQRT, EXP, LN, LOG and POW compute in doubles; ROUND keeps an integer an integer.
//  - What PostgreSQL would read otherwise than MySQL refuses the view: a second statement, a
//    backslash or a /*! */ comment outside quotes, a binary literal (0x41, X'41', b'1'), ||, ^,
//    the bit operators and aggregates (MySQL's work on unsigned 64-bit integers), + and - on a
//    table's date or time column or on CAST(... AS DATE) (a number in MySQL: a date plus 1 is
//    20240132), TRIM of more than one character, EXTRACT of WEEK or MICROSECOND, ASCII, the
//    REGEXP_ functions, TO_CHAR of names, CAST to TIME or CONCAT of a date or time that may
//    hold a fraction of a second, ordering by an ENUM or SET column (by the values' place in
//    the type in MySQL).
#include <string>
#include <utility>
#include <vector>

#include "UDB/udb_names_map.h"

class pgs_table_mutator;
class udb_schema;

// The relations a run's views may read, under the names the run gave them.
class pgs_view_names {
public:
    struct relation {
        std::wstring source;  // its name in the source database
        std::wstring schema;  // its destination schema and name, as the server keeps them
        std::wstring name;
        bool is_view = false;
        // A table: the user's changes (may be null) and the names map its creation recorded
        // (column name after the user's changes -> final name, quoted).
        const pgs_table_mutator* mutator = nullptr;
        udb_names_map::name_map columns;
        // Its columns of dates and times (names as the keys of `columns`, or a view's outputs): MySQL reads them as
        // numbers in + and -, PostgreSQL as dates.
        std::vector<std::wstring> dates;
        // Its date and time columns without fractions of a second (names as the keys of
        // `columns`, or a view's outputs).
        std::vector<std::wstring> whole_seconds;
        // Its ENUM and SET columns (names as the keys of `columns`, or a view's outputs): MySQL
        // sorts them by the values' place in the type, PostgreSQL as text.
        std::vector<std::wstring> by_place;
        // Its columns of integers and decimals, with their scales (names as the keys of
        // `columns`): MySQL writes their quotient and average with 4 more decimals.
        std::vector<std::pair<std::wstring, int>> exact;
        // Its columns of signed integers of 64 bits or less and of unsigned ones of 32 (names
        // as the keys of `columns`): MySQL adds and multiplies them in 64 bits, PostgreSQL in
        // their own; MySQL's ROUND keeps them integers.
        std::vector<std::wstring> integers;
        // Its FLOAT columns (names as the keys of `columns`, or a view's outputs): MySQL
        // computes with them in doubles, PostgreSQL's real in real.
        std::vector<std::wstring> singles;
        // A view: its result columns' names, when every one is plain.
        std::vector<std::wstring> outputs;
        bool outputs_known = false;
    };

    void add(relation r);
    // The relation of a source name: the one of exactly that name, else the only one equal to
    // it ignoring case; nullptr when none or several match (`ambiguous` then says which).
    const relation* find(const std::wstring& source, bool& ambiguous) const;
    // Whether a relation of the run, or one the PostGIS extension keeps in that schema, has the
    // name (names as the server keeps them: folded unless case-sensitive, cut to 63 bytes).
    bool is_taken(const std::wstring& schema, const std::wstring& name) const;

    // The views created under another name than their own: (source name, destination name).
    std::vector<std::pair<std::wstring, std::wstring>> renamed;

private:
    std::vector<relation> m_relations;
};

// The names a table of these columns gets in the destination (the column's name, as the user's
// changes left it -> its final name, quoted), as creating the table gives them.
udb_names_map::name_map pgs_column_names_of(const udb_schema& columns, bool case_sens);

// The PostgreSQL text of a MySQL view's SELECT. `names` null: the names of the text are only
// folded (unless case_sens) and quoted. Throws pgs_exception saying why the text cannot be
// carried with its meaning.
std::wstring pgs_view_text(const std::wstring& mysql_text, const pgs_view_names* names, bool case_sens);

// The view's result columns that are dates, integers or decimals of a told scale (its dates,
// integers and exact), as the views that read it need them.
void pgs_view_output_kinds(const std::wstring& mysql_text, const pgs_view_names* names, bool case_sens,
                           pgs_view_names::relation& view);

// The names of a MySQL view's result columns; false when one of them is not plain (an
// expression without AS, t.*).
bool pgs_view_outputs(const std::wstring& mysql_text, std::vector<std::wstring>& outputs);

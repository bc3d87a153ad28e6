#pragma once
// The one reader of MySQL view text. A view's SELECT is cut into tokens once (backtick names
// with doubled backticks, '...' and "..." strings with backslash escapes and doubled quotes,
// /* */, "-- " and # comments, numbers, binary literals, words and single-character symbols),
// and a light pass over the tokens tells what each name stands for: a table read in a FROM
// clause, a table alias, a column, a result column's name, a function. Every rewrite of a view
// text (the database prefix on the MySQL side, the destination's names and spellings on the
// PostgreSQL side) is a rule on these tokens, so nothing inside a literal, a quoted name or a
// comment is ever taken for code.
//
// The reader follows the forms the server itself writes into information_schema.views (every
// name quoted, every result column named with AS, joins in parentheses) and the plain SQL a
// user types; it does not check the text: a text the server would refuse still gets tokens
// and roles, which the rewrites then refuse or pass on to the server.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class udb_token_kind : unsigned char {
    space,    // blanks, tabs, line ends
    comment,  // /* ... */, "-- " to the line end, # to the line end
    word,     // an unquoted word: a key word, a function's name or a name
    name,     // `name` (also [name]): value holds the name itself
    string,   // '...' or "..." (also N'...'): value holds the characters MySQL reads
    number,   // 12, 1.5, .5, 1e-3
    binary,   // 0x1F, X'1F', 0b101, B'101': a byte string, or a number in a numeric context
    symbol,   // one character of punctuation or of an operator
};

struct udb_token {
    udb_token_kind kind = udb_token_kind::symbol;
    std::wstring text;        // as written
    std::wstring value;       // name and string: decoded; otherwise the text
    bool closed = true;       // false: a quote or comment that the text does not close
    bool executable = false;  // a /*! ... */ comment, which MySQL runs as code
};

// The tokens of the text, in order; their texts put together give the text back.
std::vector<udb_token> udb_view_tokens(std::wstring_view text);

// What a name of the text stands for.
enum class udb_name_role : unsigned char {
    table,     // a table, view or common table expression read in a FROM clause
    alias,     // a table's alias in a FROM clause
    column,    // a column, maybe qualified (t.c), or all of a table's columns (t.*)
    output,    // the name of a result column (after AS), or of a common table expression
    function,  // the name of a called function
    other,     // a window's name and the like
};

// Where a name stands in its query block.
enum class udb_clause : unsigned char { none, select_list, from, join_condition, where, group_by, having, order_by, other };

struct udb_view_name {
    std::vector<std::size_t> parts;  // token indexes of the dotted parts (a '*' symbol for t.*)
    udb_name_role role = udb_name_role::other;
    int scope = -1;                  // the query block whose names it is resolved against
    udb_clause clause = udb_clause::none;
    bool whole_item = false;         // a column that is a whole result column without AS
};

// One relation of a FROM clause.
struct udb_view_source {
    int name = -1;     // index of its name (role table), or -1 for a derived table
    int derived = -1;  // the query block of a derived table (select ...) x
    int alias = -1;    // index of its alias (role alias), or -1
};

// One query block: SELECT ... [FROM ...] [WHERE ...] ..., each member of a UNION its own.
struct udb_view_scope {
    int parent = -1;                 // the enclosing block (a subquery sees its names)
    int union_first = -1;            // the first block of its UNION, which names its columns
    std::vector<udb_view_source> sources;
    std::vector<std::wstring> outputs;  // the names of its result columns, in order
    bool outputs_known = true;          // false: a result column's name is not plain (t.*, an expression)
    // The common table expressions it may read: name and the block of its body.
    std::vector<std::pair<std::wstring, int>> ctes;
};

// One JOIN key word of a FROM clause.
struct udb_view_join {
    std::size_t keyword = 0;                        // token index of JOIN
    std::size_t modifier = std::wstring_view::npos;  // token index of CROSS or INNER before it
    bool has_condition = false;                     // ON or USING follows its right side
    bool natural = false;
    bool outer = false;                             // LEFT, RIGHT or FULL
    int scope = -1;
};

class udb_view_reader {
public:
    explicit udb_view_reader(std::wstring_view text);

    const std::vector<udb_token>& tokens() const noexcept { return m_tokens; }
    const std::vector<udb_view_name>& names() const noexcept { return m_names; }
    const std::vector<udb_view_scope>& scopes() const noexcept { return m_scopes; }
    const std::vector<udb_view_join>& joins() const noexcept { return m_joins; }
    // The block whose result columns are the view's (the first of the outermost UNION); -1
    // when the text holds no SELECT.
    int main_scope() const noexcept { return m_main_scope; }

    // The token after / before index i that is neither space nor comment; npos when none.
    std::size_t next(std::size_t i) const noexcept;
    std::size_t previous(std::size_t i) const noexcept;
    // Whether token i is the unquoted word (ASCII letters compared ignoring case).
    bool is_word(std::size_t i, std::wstring_view word) const noexcept;
    // Whether token i is the symbol c.
    bool is_symbol(std::size_t i, wchar_t c) const noexcept;
    // The value of a name's part: a name's or word's text as the server reads it.
    const std::wstring& part(const udb_view_name& name, std::size_t k) const { return m_tokens[name.parts[k]].value; }

private:
    void read();

    std::vector<udb_token> m_tokens;
    std::vector<udb_view_name> m_names;
    std::vector<udb_view_scope> m_scopes;
    std::vector<udb_view_join> m_joins;
    int m_main_scope = -1;
};

#include "UDB/udb_view_text.h"

#include <algorithm>
#include <iterator>

#include "TK/tk_strings.h"

namespace {

constexpr std::size_t npos = std::wstring_view::npos;

bool is_space(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f' || c == L'\v';
}

// Characters of an unquoted MySQL word (a name may also begin with a digit).
bool is_word_char(wchar_t c) noexcept
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
           c == L'$' || c > 0x7f;
}

bool is_digit(wchar_t c) noexcept
{
    return c >= L'0' && c <= L'9';
}

bool is_hex_digit(wchar_t c) noexcept
{
    return is_digit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Position after a quoted run that opened at `open` (the quote character there): the quote
// doubled stands for itself, and with backslash escapes "\x" never ends the run. `value` gets
// the characters MySQL reads; `closed` says whether the run ends before the text does.
std::size_t read_quoted(std::wstring_view text, std::size_t open, bool backslash_escapes, std::wstring& value,
                        bool& closed)
{
    const wchar_t quote = text[open];
    const std::size_t n = text.size();
    std::size_t i = open + 1;
    closed = false;
    while (i < n) {
        const wchar_t c = text[i];
        if (backslash_escapes && c == L'\\') {
            if (i + 1 >= n) return n;
            switch (const wchar_t e = text[i + 1]) {
            case L'0': value += L'\0'; break;
            case L'b': value += L'\b'; break;
            case L'n': value += L'\n'; break;
            case L'r': value += L'\r'; break;
            case L't': value += L'\t'; break;
            case L'Z': value += wchar_t(0x1A); break;
            // Kept with their backslash: a LIKE pattern reads them as the plain characters.
            case L'%':
            case L'_':
                value += L'\\';
                value += e;
                break;
            default: value += e; break;  // \\, \', \" and any other character stand for themselves
            }
            i += 2;
            continue;
        }
        if (c == quote) {
            if (i + 1 < n && text[i + 1] == quote) {
                value += quote;
                i += 2;
                continue;
            }
            closed = true;
            return i + 1;
        }
        value += c;
        ++i;
    }
    return n;
}

}  // namespace

std::vector<udb_token> udb_view_tokens(std::wstring_view text)
{
    std::vector<udb_token> out;
    const std::size_t n = text.size();
    std::size_t i = 0;
    auto push = [&](udb_token_kind kind, std::size_t from, std::size_t to) -> udb_token& {
        udb_token t;
        t.kind = kind;
        t.text.assign(text.substr(from, to - from));
        t.value = t.text;
        out.push_back(std::move(t));
        return out.back();
    };
    while (i < n) {
        const wchar_t c = text[i];
        const wchar_t next = i + 1 < n ? text[i + 1] : L'\0';
        const std::size_t start = i;
        if (is_space(c)) {
            while (i < n && is_space(text[i])) ++i;
            push(udb_token_kind::space, start, i);
            continue;
        }
        // "--" opens a comment only when a blank or a control character follows (1--1 is 2).
        if (c == L'#' || (c == L'-' && next == L'-' && (i + 2 >= n || text[i + 2] <= L' '))) {
            while (i < n && text[i] != L'\n') ++i;
            push(udb_token_kind::comment, start, i);
            continue;
        }
        if (c == L'/' && next == L'*') {
            const std::size_t close = text.find(L"*/", i + 2);
            i = close == npos ? n : close + 2;
            udb_token& t = push(udb_token_kind::comment, start, i);
            t.closed = close != npos;
            t.executable = start + 2 < n && (text[start + 2] == L'!' ||
                                             (text[start + 2] == L'M' && start + 3 < n && text[start + 3] == L'!'));
            continue;
        }
        if (c == L'`') {
            std::wstring value;
            bool closed = false;
            i = read_quoted(text, i, false, value, closed);
            udb_token& t = push(udb_token_kind::name, start, i);
            t.value = std::move(value);
            t.closed = closed;
            continue;
        }
        if (c == L'[') {
            // Another dialect's quoted name; MySQL has no other use for a bracket outside literals.
            const std::size_t close = text.find(L']', i + 1);
            if (close != npos) {
                i = close + 1;
                udb_token& t = push(udb_token_kind::name, start, i);
                t.value.assign(text.substr(start + 1, close - start - 1));
                continue;
            }
        }
        const bool national = (c == L'N' || c == L'n') && next == L'\'';
        if (c == L'\'' || c == L'"' || national) {
            std::wstring value;
            bool closed = false;
            i = read_quoted(text, national ? i + 1 : i, true, value, closed);
            udb_token& t = push(udb_token_kind::string, start, i);
            t.value = std::move(value);
            t.closed = closed;
            continue;
        }
        if ((c == L'x' || c == L'X' || c == L'b' || c == L'B') && next == L'\'') {
            const std::size_t close = text.find(L'\'', i + 2);
            i = close == npos ? n : close + 1;
            push(udb_token_kind::binary, start, i).closed = close != npos;
            continue;
        }
        const bool after_name = start > 0 && (is_word_char(text[start - 1]) || text[start - 1] == L'`');
        if (is_digit(c) || (c == L'.' && is_digit(next) && !after_name)) {
            if (c == L'0' && (next == L'x' || next == L'X' || next == L'b' || next == L'B')) {
                const bool hex = next == L'x' || next == L'X';
                std::size_t j = i + 2;
                while (j < n && (hex ? is_hex_digit(text[j]) : (text[j] == L'0' || text[j] == L'1'))) ++j;
                if (j > i + 2 && (j >= n || !is_word_char(text[j]))) {
                    i = j;
                    push(udb_token_kind::binary, start, i);
                    continue;
                }
            }
            std::size_t j = i;
            while (j < n && is_digit(text[j])) ++j;
            bool plain = true;
            if (j < n && text[j] == L'.') {
                plain = false;
                ++j;
                while (j < n && is_digit(text[j])) ++j;
            }
            if (j < n && (text[j] == L'e' || text[j] == L'E')) {
                std::size_t k = j + 1;
                if (k < n && (text[k] == L'+' || text[k] == L'-')) ++k;
                if (k < n && is_digit(text[k])) {
                    plain = false;
                    j = k;
                    while (j < n && is_digit(text[j])) ++j;
                }
            }
            if (plain && j < n && is_word_char(text[j])) {
                // 1abc: a MySQL name may begin with digits.
                while (j < n && is_word_char(text[j])) ++j;
                i = j;
                push(udb_token_kind::word, start, i);
                continue;
            }
            i = j;
            push(udb_token_kind::number, start, i);
            continue;
        }
        if (is_word_char(c)) {
            while (i < n && is_word_char(text[i])) ++i;
            push(udb_token_kind::word, start, i);
            continue;
        }
        ++i;
        push(udb_token_kind::symbol, start, i);
    }
    return out;
}

// ---- the reader ---------------------------------------------------------------------------

namespace {

// Words that are never names in a MySQL query (its reserved words, and the key words of the
// clauses the reader follows). Sorted, for a binary search.
constexpr std::wstring_view key_words[] = {
    L"all", L"and", L"any", L"as", L"asc", L"between", L"binary", L"both", L"by", L"case", L"cast", L"char",
    L"character", L"collate", L"convert", L"cross", L"current", L"current_date", L"current_time",
    L"current_timestamp", L"current_user", L"day", L"day_hour", L"day_microsecond", L"day_minute", L"day_second",
    L"decimal", L"default", L"delete", L"desc", L"distinct", L"distinctrow", L"div", L"double", L"dual", L"else",
    L"end", L"escape", L"except", L"exists", L"false", L"first", L"following", L"for", L"force", L"from", L"full",
    L"group", L"having", L"high_priority", L"hour", L"hour_microsecond", L"hour_minute", L"hour_second", L"if",
    L"ignore", L"in", L"index", L"inner", L"insert", L"intersect", L"interval", L"into", L"is", L"join", L"key",
    L"last", L"lateral", L"leading", L"left", L"like", L"limit", L"localtime", L"localtimestamp", L"lock",
    L"low_priority", L"match", L"microsecond", L"minus", L"minute", L"minute_microsecond", L"minute_second",
    L"mod", L"month", L"natural", L"not", L"null", L"nulls", L"of", L"offset", L"on", L"or", L"order", L"outer",
    L"over", L"partition", L"preceding", L"procedure", L"quarter", L"range", L"recursive", L"regexp", L"replace",
    L"right", L"rlike", L"row", L"rows", L"second", L"second_microsecond", L"select", L"separator", L"share",
    L"some", L"sounds", L"sql_big_result", L"sql_buffer_result", L"sql_cache", L"sql_calc_found_rows",
    L"sql_no_cache", L"sql_small_result", L"straight_join", L"then", L"ties", L"to", L"trailing", L"true",
    L"unbounded", L"union", L"unknown", L"unsigned", L"update", L"use", L"using", L"utc_date", L"utc_time",
    L"utc_timestamp", L"values", L"week", L"when", L"where", L"window", L"with", L"xor", L"year", L"year_month",
    L"zerofill"};

static_assert(std::is_sorted(std::begin(key_words), std::end(key_words)));

bool is_key_word(const std::wstring& word)
{
    std::wstring lower = tk_to_lower(word);
    return std::binary_search(std::begin(key_words), std::end(key_words), std::wstring_view(lower));
}

enum class frame_kind : unsigned char { query, join_group, expression };
enum class with_state : unsigned char { none, expect_name, after_name, expect_body, after_body };

// One pair of parentheses (or the whole text) while the reader walks the tokens.
struct frame {
    frame_kind kind = frame_kind::query;
    int scope = -1;         // query: its current block (-1 before SELECT); others: the block they belong to
    int parent_scope = -1;  // query: the block that encloses it
    int first_scope = -1;   // query: the first block of its UNION
    udb_clause clause = udb_clause::none;
    bool in_condition = false;  // after ON or USING, until the next JOIN or ','
    bool expect_table = false;  // the next name is a table read in FROM
    bool expect_alias = false;  // the next name may be the alias of the last table
    int pending_join = -1;      // the JOIN whose condition may follow
    bool derived = false;       // query: a derived table, opened where a table was expected
    bool cte_body = false;      // query: the body of a common table expression
    bool cte_columns = false;   // expression: the column list of a common table expression
    with_state with = with_state::none;
    std::wstring cte_name;
    std::vector<std::pair<std::wstring, int>> ctes;  // query: the expressions its WITH defined
    // The result column being read in a select list.
    int item_tokens = 0;
    int item_name = -1;     // the name that is the whole item so far
    int item_alias = -1;    // the name after its AS
};

bool from_context(const frame& f)
{
    return (f.kind == frame_kind::query && f.clause == udb_clause::from) || f.kind == frame_kind::join_group;
}

}  // namespace

udb_view_reader::udb_view_reader(std::wstring_view text) : m_tokens(udb_view_tokens(text))
{
    read();
}

std::size_t udb_view_reader::next(std::size_t i) const noexcept
{
    for (std::size_t k = i + 1; k < m_tokens.size(); ++k)
        if (m_tokens[k].kind != udb_token_kind::space && m_tokens[k].kind != udb_token_kind::comment) return k;
    return npos;
}

std::size_t udb_view_reader::previous(std::size_t i) const noexcept
{
    for (std::size_t k = i; k-- > 0;)
        if (m_tokens[k].kind != udb_token_kind::space && m_tokens[k].kind != udb_token_kind::comment) return k;
    return npos;
}

bool udb_view_reader::is_word(std::size_t i, std::wstring_view word) const noexcept
{
    return i < m_tokens.size() && m_tokens[i].kind == udb_token_kind::word && tk_equal_no_case(m_tokens[i].text, word);
}

bool udb_view_reader::is_symbol(std::size_t i, wchar_t c) const noexcept
{
    return i < m_tokens.size() && m_tokens[i].kind == udb_token_kind::symbol && m_tokens[i].text.size() == 1 &&
           m_tokens[i].text[0] == c;
}

void udb_view_reader::read()
{
    std::vector<frame> frames(1);

    auto visible_ctes = [&](int parent) {
        std::vector<std::pair<std::wstring, int>> ctes;
        if (parent >= 0) ctes = m_scopes[static_cast<std::size_t>(parent)].ctes;
        for (const frame& f : frames) ctes.insert(ctes.end(), f.ctes.begin(), f.ctes.end());
        return ctes;
    };
    auto new_scope = [&](frame& f) {
        udb_view_scope s;
        s.parent = f.parent_scope;
        s.union_first = f.first_scope;
        s.ctes = visible_ctes(f.parent_scope);
        m_scopes.push_back(std::move(s));
        const int id = static_cast<int>(m_scopes.size()) - 1;
        if (f.first_scope < 0) f.first_scope = id;
        f.scope = id;
        f.clause = udb_clause::select_list;
        f.item_tokens = 0;
        f.item_name = f.item_alias = -1;
        f.expect_table = f.expect_alias = f.in_condition = false;
        f.pending_join = -1;
    };
    // Ends the result column being read: its name joins the block's outputs.
    auto finish_item = [&](frame& f) {
        if (f.kind != frame_kind::query || f.scope < 0 || f.clause != udb_clause::select_list) return;
        if (f.item_tokens == 0) return;
        udb_view_scope& s = m_scopes[static_cast<std::size_t>(f.scope)];
        if (f.item_alias >= 0) {
            s.outputs.push_back(part(m_names[static_cast<std::size_t>(f.item_alias)], 0));
        } else if (f.item_name >= 0) {
            udb_view_name& n = m_names[static_cast<std::size_t>(f.item_name)];
            n.whole_item = true;
            const std::size_t last = n.parts.back();
            if (is_symbol(last, L'*')) {
                s.outputs.emplace_back();
                s.outputs_known = false;
            } else {
                s.outputs.push_back(m_tokens[last].value);
            }
        } else {
            s.outputs.emplace_back();
            s.outputs_known = false;
        }
        f.item_tokens = 0;
        f.item_name = f.item_alias = -1;
    };
    auto count_item_token = [&](frame& f) {
        if (f.kind == frame_kind::query && f.clause == udb_clause::select_list && f.scope >= 0) {
            ++f.item_tokens;
            f.item_name = -1;
        }
    };
    auto current_clause = [](const frame& f) {
        if (from_context(f) && f.in_condition) return udb_clause::join_condition;
        return f.clause;
    };
    // Whether token k ends a value, so that a name right after it is an alias.
    auto ends_value = [&](std::size_t k) {
        if (k == npos) return false;
        const udb_token& t = m_tokens[k];
        switch (t.kind) {
        case udb_token_kind::name:
        case udb_token_kind::string:
        case udb_token_kind::number:
        case udb_token_kind::binary: return true;
        case udb_token_kind::word: return !is_key_word(t.text) || is_word(k, L"null") || is_word(k, L"true") ||
                                          is_word(k, L"false") || is_word(k, L"end");
        case udb_token_kind::symbol: return t.text == L")";
        default: return false;
        }
    };

    // next(npos) is the first token that counts.
    for (std::size_t i = next(npos); i != npos; i = next(i)) {
        const udb_token& t = m_tokens[i];
        frame& f = frames.back();

        if (is_symbol(i, L'(')) {
            const std::size_t after = next(i);
            frame nf;
            const bool subquery = is_word(after, L"select") || is_word(after, L"with");
            if (f.kind == frame_kind::query && f.with == with_state::after_name) {
                nf.kind = frame_kind::expression;
                nf.scope = f.scope;
                nf.clause = udb_clause::other;
                nf.cte_columns = true;
            } else if (subquery) {
                nf.kind = frame_kind::query;
                nf.parent_scope = f.scope;
                nf.derived = from_context(f) && f.expect_table && !f.in_condition;
                nf.cte_body = f.kind == frame_kind::query && f.with == with_state::expect_body;
            } else if (from_context(f) && f.expect_table && !f.in_condition) {
                nf.kind = frame_kind::join_group;
                nf.scope = f.scope;
                nf.clause = udb_clause::from;
                nf.expect_table = true;
            } else {
                nf.kind = frame_kind::expression;
                nf.scope = f.scope;
                nf.clause = current_clause(f);
            }
            count_item_token(f);
            f.expect_table = false;
            f.expect_alias = false;
            frames.push_back(std::move(nf));
            continue;
        }
        if (is_symbol(i, L')')) {
            if (frames.size() == 1) continue;  // unbalanced: the server will say so
            frame done = std::move(frames.back());
            frames.pop_back();
            frame& outer = frames.back();
            if (done.kind == frame_kind::query) {
                finish_item(done);
                // (SELECT ...) UNION (SELECT ...): the first parenthesized block names the columns.
                if (frames.size() == 1 && !done.cte_body && outer.scope < 0 && m_main_scope < 0)
                    m_main_scope = done.first_scope;
                if (done.derived && outer.scope >= 0) {
                    udb_view_source source;
                    source.derived = done.first_scope;
                    m_scopes[static_cast<std::size_t>(outer.scope)].sources.push_back(source);
                    outer.expect_alias = true;
                }
                if (done.cte_body) {
                    for (auto& [name, scope] : outer.ctes)
                        if (name == outer.cte_name) scope = done.first_scope;
                    outer.with = with_state::after_body;
                }
            }
            if (done.cte_columns) outer.with = with_state::after_name;
            continue;
        }

        // WITH name [(columns)] AS (body) [, ...]
        if (f.kind == frame_kind::query && f.with != with_state::none) {
            if (is_word(i, L"recursive")) continue;
            if (is_word(i, L"as") && f.with == with_state::after_name) {
                f.with = with_state::expect_body;
                continue;
            }
            if (is_symbol(i, L',') && f.with == with_state::after_body) {
                f.with = with_state::expect_name;
                continue;
            }
            if (f.with == with_state::expect_name && (t.kind == udb_token_kind::name || t.kind == udb_token_kind::word)) {
                udb_view_name n;
                n.parts.push_back(i);
                n.role = udb_name_role::output;
                n.scope = f.scope;
                m_names.push_back(std::move(n));
                f.cte_name = t.value;
                f.ctes.emplace_back(t.value, -1);  // a recursive body sees its own name
                f.with = with_state::after_name;
                continue;
            }
            if (!is_word(i, L"select")) continue;
            f.with = with_state::none;
        }

        if (t.kind == udb_token_kind::word) {
            if (is_word(i, L"select") && f.kind == frame_kind::query) {
                finish_item(f);
                new_scope(f);
                continue;
            }
            if (is_word(i, L"with") && f.kind == frame_kind::query && f.clause == udb_clause::none) {
                f.with = with_state::expect_name;
                continue;
            }
            if (f.kind == frame_kind::query && f.scope >= 0) {
                udb_clause clause = udb_clause::none;
                if (is_word(i, L"from") && f.clause == udb_clause::select_list) clause = udb_clause::from;
                else if (is_word(i, L"where")) clause = udb_clause::where;
                else if (is_word(i, L"having")) clause = udb_clause::having;
                else if ((is_word(i, L"group") || is_word(i, L"order")) && is_word(next(i), L"by"))
                    clause = is_word(i, L"group") ? udb_clause::group_by : udb_clause::order_by;
                else if (is_word(i, L"limit") || is_word(i, L"window") || is_word(i, L"procedure") ||
                         is_word(i, L"into") || is_word(i, L"lock") || (is_word(i, L"for") && f.clause != udb_clause::select_list))
                    clause = udb_clause::other;
                if (clause != udb_clause::none) {
                    finish_item(f);
                    f.clause = clause;
                    f.expect_table = clause == udb_clause::from;
                    f.expect_alias = f.in_condition = false;
                    f.pending_join = -1;
                    continue;
                }
                if (is_word(i, L"union") || is_word(i, L"except") || is_word(i, L"intersect") || is_word(i, L"minus")) {
                    finish_item(f);
                    f.clause = udb_clause::none;
                    continue;
                }
            }
            if (from_context(f)) {
                if (is_word(i, L"join") || is_word(i, L"straight_join")) {
                    udb_view_join j;
                    j.keyword = i;
                    j.scope = f.scope;
                    for (std::size_t k = previous(i); k != npos; k = previous(k)) {
                        if (is_word(k, L"outer")) continue;
                        if (is_word(k, L"cross") || is_word(k, L"inner")) j.modifier = k;
                        else if (is_word(k, L"left") || is_word(k, L"right") || is_word(k, L"full")) j.outer = true;
                        else if (is_word(k, L"natural")) {
                            j.natural = true;
                            continue;
                        }
                        break;
                    }
                    m_joins.push_back(j);
                    f.pending_join = static_cast<int>(m_joins.size()) - 1;
                    f.expect_table = true;
                    f.expect_alias = f.in_condition = false;
                    continue;
                }
                if (is_word(i, L"on") || is_word(i, L"using")) {
                    if (f.pending_join >= 0) m_joins[static_cast<std::size_t>(f.pending_join)].has_condition = true;
                    f.pending_join = -1;
                    f.in_condition = true;
                    f.expect_table = f.expect_alias = false;
                    continue;
                }
                if (is_word(i, L"as")) continue;  // an alias follows
            }
            if (is_key_word(t.text)) {
                count_item_token(f);
                if (from_context(f) && !f.in_condition) f.expect_alias = false;
                continue;
            }
        }
        if (is_symbol(i, L',')) {
            finish_item(f);
            if (from_context(f)) {
                f.expect_table = true;
                f.expect_alias = f.in_condition = false;
                f.pending_join = -1;
            }
            continue;
        }
        if (t.kind != udb_token_kind::word && t.kind != udb_token_kind::name) {
            count_item_token(f);
            if (from_context(f) && !f.in_condition) f.expect_alias = false;
            continue;
        }

        // A name, maybe dotted: a.b.c, a.*
        udb_view_name n;
        n.parts.push_back(i);
        std::size_t last = i;
        for (;;) {
            const std::size_t dot = next(last);
            if (!is_symbol(dot, L'.')) break;
            const std::size_t piece = next(dot);
            if (piece == npos) break;
            const udb_token& p = m_tokens[piece];
            if (p.kind == udb_token_kind::name || p.kind == udb_token_kind::word || is_symbol(piece, L'*')) {
                n.parts.push_back(piece);
                last = piece;
                if (p.kind == udb_token_kind::symbol) break;
                continue;
            }
            break;
        }
        n.scope = f.scope;
        n.clause = current_clause(f);
        const std::size_t before = previous(i);
        const std::size_t after = next(last);
        const bool single = n.parts.size() == 1;
        bool item_name = false;
        if (f.cte_columns) {
            n.role = udb_name_role::output;
        } else if (is_symbol(after, L'(') && !(from_context(f) && f.expect_table && !f.in_condition)) {
            n.role = udb_name_role::function;
            count_item_token(f);
        } else if (is_word(before, L"over") || (f.kind == frame_kind::query && f.clause == udb_clause::other &&
                                                  is_word(after, L"as"))) {
            n.role = udb_name_role::other;
        } else if (from_context(f) && f.expect_table && !f.in_condition) {
            n.role = udb_name_role::table;
            udb_view_source source;
            source.name = static_cast<int>(m_names.size());
            if (f.scope >= 0) m_scopes[static_cast<std::size_t>(f.scope)].sources.push_back(source);
            f.expect_table = false;
            f.expect_alias = true;
        } else if (from_context(f) && f.expect_alias && single && !f.in_condition) {
            n.role = udb_name_role::alias;
            if (f.scope >= 0 && !m_scopes[static_cast<std::size_t>(f.scope)].sources.empty())
                m_scopes[static_cast<std::size_t>(f.scope)].sources.back().alias = static_cast<int>(m_names.size());
            f.expect_alias = false;
        } else if (single && f.kind == frame_kind::query && f.clause == udb_clause::select_list &&
                   (is_word(before, L"as") || (f.item_tokens > 0 && ends_value(before)))) {
            n.role = udb_name_role::output;
            f.item_alias = static_cast<int>(m_names.size());
        } else if (single && is_word(before, L"as")) {
            n.role = udb_name_role::other;  // CAST(x AS type) and the like
        } else {
            n.role = udb_name_role::column;
            if (f.kind == frame_kind::query && f.clause == udb_clause::select_list && f.scope >= 0 &&
                f.item_tokens == 0)
                item_name = true;
        }
        if (n.role != udb_name_role::output || f.item_alias != static_cast<int>(m_names.size())) {
            count_item_token(f);
        }
        if (item_name) f.item_name = static_cast<int>(m_names.size());
        m_names.push_back(std::move(n));
        i = last;
    }
    if (frames.front().first_scope >= 0) m_main_scope = frames.front().first_scope;
    while (!frames.empty()) {
        finish_item(frames.back());
        frames.pop_back();
    }
}

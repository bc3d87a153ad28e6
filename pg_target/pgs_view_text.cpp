#include "pg_target/pgs_view_text.h"

#include <algorithm>
#include <cwchar>
#include <functional>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_view_text.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_mutator.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_table_builder.h"
#include "pg_target/pgs_validators.h"

// ---- pgs_view_names ---------------------------------------------------------------------------

void pgs_view_names::add(relation r)
{
    m_relations.push_back(std::move(r));
}

const pgs_view_names::relation* pgs_view_names::find(const std::wstring& source, bool& ambiguous) const
{
    ambiguous = false;
    // The latest entry of a name wins: a view made after a table of its name reads that view.
    for (auto it = m_relations.rbegin(); it != m_relations.rend(); ++it)
        if (it->source == source) return &*it;
    const relation* found = nullptr;
    for (const relation& r : m_relations) {
        if (!tk_equal_no_case(r.source, source)) continue;
        if (found && found->source != r.source) {
            ambiguous = true;
            return nullptr;
        }
        found = &r;
    }
    return found;
}

bool pgs_view_names::is_taken(const std::wstring& schema, const std::wstring& name) const
{
    if (pgs_is_extension_relation(schema, name)) return true;
    return std::any_of(m_relations.begin(), m_relations.end(),
                       [&](const relation& r) { return r.schema == schema && r.name == name; });
}

udb_names_map::name_map pgs_column_names_of(const udb_schema& columns, bool case_sens)
{
    // The steps of creating a table, live or in a script: names the server refuses are made
    // safe first, then the CREATE TABLE builder settles the final names.
    udb_schema renamed(1);
    std::vector<std::wstring> original_names;
    pgs_fn_validator validator(columns);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        t_ftd column = columns[i];
        original_names.push_back(column.name);
        column.name = validator.next_column_name(column.name);
        renamed.add_column(std::move(column));
    }
    const udb_indexes no_indexes;
    pgs_ddl_settings settings;
    settings.case_sens = case_sens;
    const pgs_schema_initializer builder(L"t", renamed, no_indexes, settings, &original_names);
    return builder.get_names_map().get_map();
}

// ---- the text ---------------------------------------------------------------------------------

namespace {

constexpr std::size_t npos = std::wstring::npos;

[[noreturn]] void refuse(const std::wstring& why)
{
    throw pgs_exception("The view cannot be converted: " + tk_unicode_to_utf8(why));
}

bool is_space_char(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\f' || c == L'\v';
}

bool is_word_char(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_' ||
           c == L'$' || c > 0x7f;
}

// A PostgreSQL literal of exactly these characters: 'text' with apostrophes doubled (the
// session keeps standard_conforming_strings on), or E'...' with escapes when a control
// character is there, so that no raw line break or tab ends up inside a script line.
std::wstring literal(const std::wstring& value)
{
    const bool control = std::any_of(value.begin(), value.end(), [](wchar_t c) { return c < 0x20 || c == 0x7f; });
    if (!control) return pgs_quote_literal(std::wstring_view(value));
    std::wstring out = L"E'";
    for (wchar_t c : value) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'\'': out += L"''"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\t': out += L"\\t"; break;
        case L'\b': out += L"\\b"; break;
        case L'\f': out += L"\\f"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                wchar_t hex[8];
                std::swprintf(hex, 8, L"\\x%02x", static_cast<unsigned>(c));
                out += hex;
            } else {
                out += c;
            }
        }
    }
    out += L'\'';
    return out;
}

// The block whose select list names the columns of `scope` (the first of its UNION).
const udb_view_scope& naming_scope(const std::vector<udb_view_scope>& scopes, int scope)
{
    const udb_view_scope& s = scopes[static_cast<std::size_t>(scope)];
    return s.union_first >= 0 ? scopes[static_cast<std::size_t>(s.union_first)] : s;
}

bool has_output(const udb_view_scope& s, const std::wstring& column)
{
    return std::any_of(s.outputs.begin(), s.outputs.end(),
                       [&](const std::wstring& o) { return tk_equal_no_case(o, column); });
}

// One relation a query block reads, as the rewriting sees it.
struct source_entry {
    std::wstring key;        // how the text names it: its alias, else its own name
    std::wstring label;      // for messages
    const pgs_view_names::relation* relation = nullptr;  // a table or view of the run
    int block = -1;          // a derived table's or common table expression's block
    bool known = false;      // relation or block found: its columns can be checked
    bool own_names = false;  // a block whose columns a list renames: (select ...) x(a, b), WITH c(a, b)
    const pgs_view_names::relation* kinds = nullptr;  // a block's columns' kinds
    std::wstring qualifier;  // how the PostgreSQL text names it
};

enum class probe_result { absent, found, left_out };

class view_rewriter {
public:
    view_rewriter(const std::wstring& text, const pgs_view_names* names, bool case_sens)
        : m_reader(text), m_names(names), m_case_sens(case_sens), m_out(m_reader.tokens().size()),
          m_given(m_reader.tokens().size(), false)
    {
    }

    // The kinds of the view's result columns, as a later view reads them: dates, integers and
    // decimals of a told scale (of its first query block; a UNION's other blocks may widen a
    // scale, so a union's columns get no scale).
    void output_kinds(pgs_view_names::relation& r)
    {
        tokens_alone();
        sources();
        block_kinds();
        if (m_reader.main_scope() >= 0) kinds_of(m_reader.main_scope(), r);
    }

    // The kinds of the result columns of every derived table and common table expression the
    // text reads, inner ones first.
    void block_kinds()
    {
        m_block_kinds.assign(m_reader.scopes().size(), pgs_view_names::relation());
        for (std::size_t s = 0; s < m_entries.size(); ++s)
            for (source_entry& e : m_entries[s])
                // Not a recursive common table expression's reading of itself.
                if (e.block >= 0 && !e.own_names && !encloses(e.block, static_cast<int>(s)))
                    e.kinds = &m_block_kinds[static_cast<std::size_t>(e.block)];
        // A block after the blocks it reads.
        std::vector<bool> placed(m_reader.scopes().size(), false);
        std::function<void(int)> place = [&](int block) {
            if (placed[static_cast<std::size_t>(block)]) return;
            placed[static_cast<std::size_t>(block)] = true;
            for (std::size_t s = 0; s < m_entries.size(); ++s)
                for (const source_entry& e : m_entries[s])
                    if (e.kinds && encloses(block, static_cast<int>(s))) place(e.block);
            kinds_of(block, m_block_kinds[static_cast<std::size_t>(block)]);
        };
        for (std::size_t s = 0; s < m_entries.size(); ++s)
            for (const source_entry& e : m_entries[s])
                if (e.kinds) place(e.block);
    }

    // Whether scope s is the block, a member of its UNION, or within one of them.
    bool encloses(int block, int s) const
    {
        for (int up = s; up >= 0; up = m_reader.scopes()[static_cast<std::size_t>(up)].parent)
            if (up == block || m_reader.scopes()[static_cast<std::size_t>(up)].union_first == block) return true;
        return false;
    }

    // The kinds of the result columns of the block (the first of its UNION).
    void kinds_of(int block, pgs_view_names::relation& r) const
    {
        const auto& scopes = m_reader.scopes();
        const bool union_ = std::any_of(scopes.begin(), scopes.end(),
                                        [&](const udb_view_scope& sc) { return sc.union_first == block; });
        for (const auto& [first, last, scope] : select_items()) {
            // The item's name: its alias (of this block), else the column it is.
            const std::size_t after = m_reader.next(last);
            std::size_t name = m_reader.is_word(after, L"as") ? m_reader.next(after) : after;
            std::wstring output;
            for (const udb_view_name& n : m_reader.names()) {
                if (n.role == udb_name_role::output && n.clause == udb_clause::select_list && n.parts.front() == name &&
                    n.scope == block)
                    output = tokens()[name].value;
                else if (n.role == udb_name_role::column && n.whole_item && n.scope == block && n.parts.front() == first &&
                         n.parts.back() == last && !m_reader.is_symbol(last, L'*'))
                    output = tokens()[last].value;
            }
            if (output.empty()) continue;
            const udb_view_name* column = nullptr;
            for (const udb_view_name& n : m_reader.names())
                if (n.role == udb_name_role::column && n.parts.front() == first && n.parts.back() == last) column = &n;
            const bool cast_date = m_reader.is_word(first, L"cast") && m_reader.is_word(m_reader.previous(last), L"date");
            if ((column && reads_dates(*column)) || cast_date) r.dates.push_back(output);
            if (column && reads_by_place(*column)) r.by_place.push_back(output);
            if (column && reads_whole_seconds(*column)) r.whole_seconds.push_back(output);
            if (column && reads_singles(*column)) r.singles.push_back(output);
            if (union_) continue;
            if (column && reads_small_integers(*column)) r.integers.push_back(output);
            // A quotient has its scale where it is a view's column; in a derived table MySQL
            // goes on with its unrounded digits.
            int scale = block == m_reader.main_scope() ? quotient_scale(first, last) : -1;
            if (scale < 0) scale = sum_scale(first, last);
            if (scale >= 0) r.exact.emplace_back(output, scale);
        }
    }

    std::wstring run()
    {
        tokens_alone();
        sources();
        block_kinds();
        columns();
        joins();
        time_functions();
        concatenations();
        functions_of_other_meaning();
        date_arithmetic();
        negations();
        wide_integers();
        divisions();
        coalesce_scales();
        exact_quotients();
        union_scales();
        truth_values();
        null_ordering();
        group_ordering();
        place_orderings();
        limit_offsets();
        repeated_arguments();
        return assemble();
    }

private:
    const std::vector<udb_token>& tokens() const { return m_reader.tokens(); }
    void put(std::size_t i, std::wstring text)
    {
        m_out[i] = std::move(text);
        m_given[i] = true;
    }
    // Tokens from..to (both included) give no text.
    void clear(std::size_t from, std::size_t to)
    {
        for (std::size_t k = from; k <= to && k < m_out.size(); ++k) put(k, std::wstring());
    }
    // What token i gives so far: a `name` its quoted form, a bare word itself.
    std::wstring output_of(std::size_t i) const { return m_given[i] ? m_out[i] : tokens()[i].text; }
    std::wstring folded(const std::wstring& name) const { return pgs_fold_name(name, m_case_sens); }
    std::wstring quoted(const std::wstring& name) const { return pgs_quote_identifier(std::wstring_view(folded(name))); }

    void tokens_alone()
    {
        const std::vector<udb_token>& t = tokens();
        for (std::size_t i = 0; i < t.size(); ++i) {
            switch (t[i].kind) {
            case udb_token_kind::comment:
                if (!t[i].closed) refuse(L"a comment is not closed");
                if (t[i].executable) refuse(L"it holds a /*! */ comment, which MySQL runs as code");
                break;
            case udb_token_kind::name:
                if (!t[i].closed) refuse(L"a quoted name is not closed");
                put(i, quoted(t[i].value));
                break;
            case udb_token_kind::string: {
                if (m_given[i]) break;  // joined to the literal before it
                // MySQL joins literals that follow one another ('a' 'b' is 'ab').
                std::wstring value = t[i].value;
                std::size_t last = i;
                for (std::size_t k = m_reader.next(i); k != npos && t[k].kind == udb_token_kind::string;
                     k = m_reader.next(k)) {
                    if (!t[k].closed) refuse(L"a quote is not closed");
                    value += t[k].value;
                    last = k;
                }
                if (!t[i].closed) refuse(L"a quote is not closed");
                if (value.find(L'\0') != std::wstring::npos)
                    refuse(L"a literal holds a zero character, which PostgreSQL text cannot hold");
                clear(i + 1, last);
                put(i, literal(value));
                break;
            }
            case udb_token_kind::binary:
                refuse(L"the literal " + t[i].text +
                       L" is a byte string or a number by its context in MySQL, which PostgreSQL does not read alike");
            case udb_token_kind::number:
                // 1e0 is a double in MySQL and numeric in PostgreSQL (0.1e0 + 0.2e0 is
                // 0.30000000000000004 there, 0.3 here).
                if (t[i].text.find_first_of(L"eE") != std::wstring::npos) put(i, L"(" + t[i].text + L"::float8)");
                break;
            case udb_token_kind::word:
                // $tag$ opens a quoted text in PostgreSQL.
                if (t[i].text.front() == L'$') refuse(L"the word " + t[i].text + L" would start a quoted text");
                break;
            case udb_token_kind::symbol:
                if (m_reader.is_symbol(i, L';')) {
                    if (m_reader.next(i) != npos) refuse(L"it holds more than one statement");
                    put(i, std::wstring());
                } else if (m_reader.is_symbol(i, L'\\')) {
                    refuse(L"it holds a backslash outside quotes");
                } else if (m_reader.is_symbol(i, L'|') && m_reader.is_symbol(i + 1, L'|')) {
                    refuse(L"|| is OR in MySQL and joins texts in PostgreSQL");
                } else if (m_reader.is_symbol(i, L'^')) {
                    refuse(L"^ is exclusive OR in MySQL and a power in PostgreSQL");
                } else if (m_reader.is_symbol(i, L'~') || m_reader.is_symbol(i, L'&') || m_reader.is_symbol(i, L'|') ||
                           ((m_reader.is_symbol(i, L'<') || m_reader.is_symbol(i, L'>')) &&
                            m_reader.is_symbol(i + 1, t[i].text[0]))) {
                    // ~7 is 18446744073709551608 in MySQL, -8 in PostgreSQL; 1 << 40 is 256 there.
                    refuse(L"the bit operator " + t[i].text +
                           L" works on unsigned 64-bit integers in MySQL and on the operand's own signed type "
                           L"in PostgreSQL");
                }
                break;
            default: break;
            }
        }
    }

    // The entries of every block's FROM clause, their table names written as the destination's.
    void sources()
    {
        const auto& scopes = m_reader.scopes();
        m_entries.resize(scopes.size());
        for (std::size_t s = 0; s < scopes.size(); ++s) {
            for (const udb_view_source& src : scopes[s].sources) {
                source_entry e;
                if (src.name >= 0) {
                    const udb_view_name& n = m_reader.names()[static_cast<std::size_t>(src.name)];
                    table_entry(n, scopes[s], e);
                } else {
                    e.block = src.derived;
                    e.known = src.derived >= 0;
                }
                if (src.alias >= 0) {
                    const udb_view_name& a = m_reader.names()[static_cast<std::size_t>(src.alias)];
                    e.key = m_reader.part(a, 0);
                    e.qualifier = output_of(a.parts[0]);
                    if (m_reader.is_symbol(m_reader.next(a.parts[0]), L'(')) e.own_names = true;
                }
                if (e.label.empty()) e.label = e.key;
                m_entries[s].push_back(std::move(e));
            }
        }
    }

    void table_entry(const udb_view_name& n, const udb_view_scope& scope, source_entry& e)
    {
        const std::wstring& first = m_reader.part(n, 0);
        e.key = m_reader.part(n, n.parts.size() - 1);
        e.label = e.key;
        e.qualifier = output_of(n.parts.back());
        if (n.parts.size() > 1) {
            if (m_names) refuse(L"it reads '" + first + L"." + e.key + L"' of another database");
            return;
        }
        for (const auto& [cte, block] : scope.ctes) {
            if (!tk_equal_no_case(cte, first)) continue;
            e.block = block;
            e.known = block >= 0;
            // WITH c(a, b) AS (...): the list names the columns.
            for (const udb_view_name& o : m_reader.names())
                if (o.role == udb_name_role::output && o.clause == udb_clause::none &&
                    tk_equal_no_case(tokens()[o.parts[0]].value, cte) && m_reader.is_symbol(m_reader.next(o.parts[0]), L'('))
                    e.own_names = true;
            return;
        }
        if (!m_names) return;
        bool ambiguous = false;
        e.relation = m_names->find(first, ambiguous);
        if (!e.relation) {
            if (ambiguous) refuse(L"it reads '" + first + L"', which names several converted tables but for case");
            refuse(L"it reads '" + first + L"', which this conversion does not create");
        }
        e.known = true;
        put(n.parts[0], pgs_quote_qualified_name(std::wstring_view(e.relation->schema),
                                                 std::wstring_view(e.relation->name)));
        e.qualifier = pgs_quote_identifier(std::wstring_view(e.relation->name));
    }

    // The destination name of column `column` of the entry.
    probe_result probe(const source_entry& e, const std::wstring& column, std::wstring& dest,
                       std::wstring* key = nullptr) const
    {
        dest = folded(column);
        if (key) key->clear();
        if (e.relation && !e.relation->is_view) {
            const pgs_view_names::relation& r = *e.relation;
            std::wstring name = column;
            if (r.mutator) {
                const pgs_field_mutator* fm = r.mutator->get_field_mutator(column);
                if (!fm) {
                    for (const auto& [source, mutator] : r.mutator->get_field_mutators())
                        if (tk_equal_no_case(source, column)) fm = mutator.get();
                }
                if (fm && fm->get_status() == udb_mutators::deleted) return probe_result::left_out;
                if (fm) name = fm->get_new_name();
            }
            auto it = r.columns.find(name);
            if (it == r.columns.end())
                it = std::find_if(r.columns.begin(), r.columns.end(),
                                  [&](const auto& pair) { return tk_equal_no_case(pair.first, name); });
            if (it == r.columns.end()) return probe_result::absent;
            dest = pgs_unquote_name(it->second);
            if (key) *key = it->first;
            return probe_result::found;
        }
        if (e.relation && e.relation->is_view) {
            if (!e.relation->outputs_known) return probe_result::found;
            const auto it = std::find_if(e.relation->outputs.begin(), e.relation->outputs.end(),
                                         [&](const std::wstring& o) { return tk_equal_no_case(o, column); });
            if (it == e.relation->outputs.end()) return probe_result::absent;
            if (key) *key = *it;
            return probe_result::found;
        }
        if (e.block >= 0) {
            const udb_view_scope& s = naming_scope(m_reader.scopes(), e.block);
            if (!s.outputs_known || has_output(s, column)) return probe_result::found;
            return probe_result::absent;
        }
        // Nothing is known of it (no names given, a recursive expression's own name): as written.
        return probe_result::found;
    }

    std::wstring column_of(const source_entry& e, const std::wstring& column) const
    {
        std::wstring dest;
        switch (probe(e, column, dest)) {
        case probe_result::found: return dest;
        case probe_result::left_out:
            refuse(L"its column '" + e.label + L"." + column + L"' was left out of the conversion");
        case probe_result::absent: break;
        }
        if (!m_names && !e.known) return dest;
        refuse(L"'" + e.label + L"' has no column '" + column + L"' in the destination");
    }

    const source_entry* entry_named(int scope, const std::wstring& key) const
    {
        for (int s = scope; s >= 0; s = m_reader.scopes()[static_cast<std::size_t>(s)].parent) {
            const auto& list = m_entries[static_cast<std::size_t>(s)];
            for (const source_entry& e : list)
                if (e.key == key) return &e;
            const source_entry* found = nullptr;
            for (const source_entry& e : list) {
                if (!tk_equal_no_case(e.key, key)) continue;
                if (found) refuse(L"it is not clear which of its tables '" + key + L"' names");
                found = &e;
            }
            if (found) return found;
        }
        return nullptr;
    }

    void columns()
    {
        for (const udb_view_name& n : m_reader.names()) {
            if (n.role == udb_name_role::function && n.parts.size() > 1 && m_names)
                refuse(L"it calls a function of another database");
            if (n.role != udb_name_role::column) continue;
            const std::size_t last = n.parts.back();
            const bool star = m_reader.is_symbol(last, L'*');
            if (n.parts.size() >= 3) {
                if (m_names) refuse(L"it names a column of another database");
                continue;
            }
            const std::wstring& column = tokens()[last].value;
            std::wstring dest;
            if (n.parts.size() == 2) {
                const std::wstring& key = m_reader.part(n, 0);
                const source_entry* e = entry_named(n.scope, key);
                if (!e) {
                    if (m_names) refuse(L"it names '" + key + L"." + column + L"', but reads no table '" + key + L"'");
                    continue;
                }
                dest = star ? std::wstring(L"*") : column_of(*e, column);
                // A bare word that keeps its name stays as written (PostgreSQL folds it alike).
                const bool as_written = star || (tokens()[last].kind == udb_token_kind::word && dest == folded(column));
                put(n.parts[0], e->qualifier + L"." + (as_written ? output_of(last) : pgs_quote_identifier(std::wstring_view(dest))));
                clear(n.parts[0] + 1, last);
            } else {
                const bool bare = tokens()[last].kind == udb_token_kind::word;
                if (!unqualified(n, column, bare, dest)) continue;
                if (bare && dest == folded(column)) continue;  // a key word may look like a name
                put(last, pgs_quote_identifier(std::wstring_view(dest)));
            }
            // A result column keeps its source name when its column was renamed.
            if (n.whole_item && !star && dest != folded(column)) m_out[last] += L" AS " + quoted(column);
        }
    }

    // The destination name of a column named without its table; false to leave it as written.
    bool unqualified(const udb_view_name& n, const std::wstring& column, bool bare, std::wstring& dest) const
    {
        const auto& scopes = m_reader.scopes();
        if (n.scope < 0) return false;
        const udb_view_scope& own = scopes[static_cast<std::size_t>(n.scope)];
        // ORDER BY reads the result columns first, GROUP BY and HAVING the tables first.
        if (n.clause == udb_clause::order_by && has_output(own, column)) return false;
        for (int s = n.scope; s >= 0; s = scopes[static_cast<std::size_t>(s)].parent) {
            bool any = false, left_out = false, several = false;
            std::wstring first;
            for (const source_entry& e : m_entries[static_cast<std::size_t>(s)]) {
                std::wstring d;
                const probe_result r = probe(e, column, d);
                if (r == probe_result::absent) continue;
                if (r == probe_result::left_out) {
                    left_out = true;
                    continue;
                }
                if (any && d != first) several = true;
                if (!any) first = d;
                any = true;
            }
            if (left_out && !bare) refuse(L"its column '" + column + L"' was left out of the conversion");
            if (several) refuse(L"its column '" + column + L"' may belong to several tables with other names");
            if (any) {
                dest = first;
                return true;
            }
        }
        // GROUP BY and HAVING may name a result column too.
        const bool may_name_output = n.clause == udb_clause::group_by || n.clause == udb_clause::having;
        if ((may_name_output && has_output(own, column)) || bare || !m_names) return false;
        refuse(L"no table it reads has a column '" + column + L"' in the destination");
    }

    void joins()
    {
        for (const udb_view_join& j : m_reader.joins()) {
            const bool straight = m_reader.is_word(j.keyword, L"straight_join");
            if (j.natural) {
                if (m_names && renamed_columns(j.scope)) refuse(L"it joins by NATURAL JOIN over renamed columns");
                continue;
            }
            if (j.outer) continue;  // LEFT/RIGHT JOIN without ON: the server says so
            if (!j.has_condition) {
                // MySQL writes a join without a condition (CROSS JOIN or a comma in the source)
                // as a plain JOIN, which PostgreSQL reads only with ON or USING.
                if (j.modifier != npos && m_reader.is_word(j.modifier, L"inner")) put(j.modifier, L"cross");
                else if (j.modifier == npos) put(j.keyword, straight ? L"cross join" : L"cross " + tokens()[j.keyword].text);
                else if (straight) put(j.keyword, L"join");
                continue;
            }
            if (straight) put(j.keyword, L"join");
            if (j.modifier != npos && m_reader.is_word(j.modifier, L"cross")) {
                // CROSS JOIN ... ON is MySQL's inner join; PostgreSQL wants it without CROSS.
                put(j.modifier, std::wstring());
                if (j.modifier + 1 < tokens().size() && tokens()[j.modifier + 1].kind == udb_token_kind::space)
                    put(j.modifier + 1, std::wstring());
            }
        }
    }

    bool renamed_columns(int scope) const
    {
        if (scope < 0) return false;
        for (const source_entry& e : m_entries[static_cast<std::size_t>(scope)]) {
            if (!e.relation || e.relation->is_view) continue;
            if (e.relation->mutator && !e.relation->mutator->get_field_mutators().empty()) return true;
            for (const auto& [source, dest] : e.relation->columns)
                if (pgs_unquote_name(dest) != folded(source)) return true;
        }
        return false;
    }

    // current_timestamp() and its kin, as MySQL stores NOW(): PostgreSQL takes them without
    // parentheses. MySQL's current date and time is a DATETIME of the session's zone, its
    // fraction cut (LOCALTIME too): PostgreSQL's LOCALTIMESTAMP cut to the second, where its
    // CURRENT_TIMESTAMP would print the fraction and the zone. MySQL cuts to a precision of 1 to
    // 5 digits where PostgreSQL's LOCALTIMESTAMP(n) rounds (.99996 would become the next
    // second): date_bin cuts to 10^(6-n) microseconds. CURRENT_TIME likewise is a TIME. SYSDATE
    // is the time of the call: clock_timestamp() in the session's zone, cut the same way.
    void time_functions()
    {
        static const wchar_t* const names[] = {L"current_timestamp", L"current_date", L"current_time", L"localtime",
                                              L"localtimestamp", L"now", L"sysdate", L"curdate", L"curtime"};
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (tokens()[i].kind != udb_token_kind::word) continue;
            if (!std::any_of(std::begin(names), std::end(names), [&](const wchar_t* w) { return m_reader.is_word(i, w); }))
                continue;
            if (m_reader.is_symbol(m_reader.previous(i), L'.')) continue;
            const std::size_t open = m_reader.next(i);
            const bool call = m_reader.is_symbol(open, L'(');
            const bool sysdate = m_reader.is_word(i, L"sysdate");
            if ((m_reader.is_word(i, L"now") || sysdate || m_reader.is_word(i, L"curdate") ||
                 m_reader.is_word(i, L"curtime")) && !call)
                continue;  // a column's name
            const std::size_t arg = m_reader.next(open);
            std::wstring digits = L"0";
            std::size_t close = arg;
            if (call && !m_reader.is_symbol(arg, L')')) {
                close = m_reader.next(arg);
                if (tokens()[arg].kind != udb_token_kind::number || tokens()[arg].text.size() != 1 ||
                    tokens()[arg].text[0] < L'0' || tokens()[arg].text[0] > L'6' || !m_reader.is_symbol(close, L')'))
                    refuse(L"it calls " + tokens()[i].text + L" with a precision that is not 0 to 6");
                digits = tokens()[arg].text;
            }
            if (m_reader.is_word(i, L"current_date") || m_reader.is_word(i, L"curdate")) {
                if (call) clear(i + 1, close);
                put(i, L"current_date");
                continue;
            }
            const bool time = m_reader.is_word(i, L"current_time") || m_reader.is_word(i, L"curtime");
            const std::wstring now = sysdate ? L"clock_timestamp()::timestamp" : L"localtimestamp";
            std::wstring cut;
            if (digits == L"0") cut = L"date_trunc('second', " + now + L")";
            else if (digits == L"6") cut = now;
            else {
                std::wstring step = L"1";
                step.append(static_cast<std::size_t>(6 - (digits[0] - L'0')), L'0');
                cut = L"date_bin('" + step + L" microseconds', " + now + L", timestamp '2000-01-01')::timestamp(" +
                      digits + L")";
            }
            if (time) cut += L"::time" + (digits == L"0" ? std::wstring() : L"(" + digits + L")");
            if (call) clear(i + 1, close);
            put(i, cut);
        }
    }

    // MySQL's CONCAT() is NULL when any argument is; PostgreSQL's skips NULL arguments. Each
    // argument becomes text joined by ||, which is NULL as in MySQL: CONCAT(a, b) is
    // ((a)::text || (b)::text).
    // A truth value among the arguments is 1 or 0 in MySQL's text, true or false in
    // PostgreSQL's: it becomes (...)::int (CONCAT_WS too).
    void concatenations()
    {
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            const bool ws = m_reader.is_word(i, L"concat_ws");
            if ((!ws && !m_reader.is_word(i, L"concat")) || m_reader.is_symbol(m_reader.previous(i), L'.')) continue;
            const std::size_t open = m_reader.next(i);
            if (!m_reader.is_symbol(open, L'(')) continue;
            const std::size_t close = group_end(open);
            if (close == npos) continue;
            for (const auto& [first, last] : arguments(open, close)) {
                if (first == npos) continue;
                for (const udb_view_name& n : m_reader.names())
                    if (n.role == udb_name_role::column && n.parts.front() == first && n.parts.back() == last &&
                        reads_dates(n) && !reads_whole_seconds(n))
                        refuse(L"it joins into a text a date or time column that may hold a fraction of a second, "
                               L"which MySQL writes with every digit of its type (10:20:30.500) and PostgreSQL "
                               L"without trailing zeros");
                if (is_truth(first, last)) {
                    put(first, L"(" + output_of(first));
                    put(last, output_of(last) + L")::int");
                }
            }
            if (ws) continue;
            put(i, std::wstring());
            put(open, L"((");
            int depth = 0;
            for (std::size_t k = m_reader.next(open); k != npos && k < close; k = m_reader.next(k)) {
                if (m_reader.is_symbol(k, L'(')) ++depth;
                else if (m_reader.is_symbol(k, L')')) --depth;
                else if (depth == 0 && m_reader.is_symbol(k, L',')) put(k, L")::text || (");
            }
            put(close, L")::text)");
        }
    }

    // Functions PostgreSQL has under the same name with another result: LOG(x) is the natural
    // logarithm in MySQL (PostgreSQL's is to base 10), VARIANCE and STD (STDDEV) the
    // population's (PostgreSQL's are the sample's). The others are refused where the result
    // could differ: FORMAT is a number's text in MySQL and printf in PostgreSQL; GREATEST and
    // LEAST are NULL in MySQL when an argument is, PostgreSQL skips it; SUBSTR counts a
    // negative position from the end and gives '' for 0, LEFT and RIGHT give '' for a negative
    // length, where PostgreSQL does otherwise.
    void functions_of_other_meaning()
    {
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (tokens()[i].kind != udb_token_kind::word || m_reader.is_symbol(m_reader.previous(i), L'.')) continue;
            const std::size_t open = m_reader.next(i);
            if (!m_reader.is_symbol(open, L'(')) continue;
            const std::size_t close = group_end(open);
            if (close == npos) continue;
            const std::wstring& name = tokens()[i].text;
            if (m_reader.is_word(i, L"log")) {
                const std::size_t count = arguments(open, close).size();
                if (count == 1) {
                    put(i, L"ln");
                    positive_double(open, close);
                } else if (count == 2) {
                    m_repeated.push_back(i);
                }
            } else if ((m_reader.is_word(i, L"ln") || m_reader.is_word(i, L"log10")) &&
                       arguments(open, close).size() == 1) {
                positive_double(open, close);
            } else if (m_reader.is_word(i, L"log2") && arguments(open, close).size() == 1) {
                // PostgreSQL has no log2: ln(x) / ln(2), as MySQL computes it.
                put(i, L"(ln");
                positive_double(open, close);
                put(close, output_of(close) + L" / ln(2::float8))");
            } else if ((m_reader.is_word(i, L"sqrt") || m_reader.is_word(i, L"acos") || m_reader.is_word(i, L"asin")) &&
                       arguments(open, close).size() == 1) {
                m_repeated.push_back(i);
            } else if (m_reader.is_word(i, L"sqrt") || m_reader.is_word(i, L"exp") || m_reader.is_word(i, L"ln") ||
                       m_reader.is_word(i, L"log10") || m_reader.is_word(i, L"pow") || m_reader.is_word(i, L"power")) {
                in_doubles(open, close);
            } else if (m_reader.is_word(i, L"round")) {
                integer_round(open, close);
            } else if (name.size() > 7 && tk_equal_no_case(name.substr(0, 7), L"regexp_")) {
                refuse(L"it calls " + name + L": MySQL's regular expressions are another dialect and match case "
                       L"as the collation does (its REGEXP_REPLACE replaces every match, PostgreSQL's the first)");
            } else if (m_reader.is_word(i, L"cast")) {
                time_cast(open, close);
            } else if (m_reader.is_word(i, L"to_char")) {
                const auto args = arguments(open, close);
                if (args.size() != 2 || args[1].first == npos || args[1].first != args[1].second ||
                    tokens()[args[1].first].kind != udb_token_kind::string ||
                    !is_plain_date_format(tokens()[args[1].first].value))
                    refuse(L"it calls to_char with a format that is not written out of numbers of the date and "
                           L"time alone (YYYY, MM, DD, HH24, MI, SS): MariaDB writes the names of months and "
                           L"days and reads several fields otherwise than PostgreSQL");
            } else if (m_reader.is_word(i, L"year") || m_reader.is_word(i, L"month") || m_reader.is_word(i, L"day") ||
                       m_reader.is_word(i, L"dayofmonth")) {
                // YEAR(d), MONTH(d) and DAY(d) of a table's date column: date_part(...)::int, of
                // the column as a timestamp (a TIME column is refused by the server).
                // Of anything else (a text MySQL reads as a date, or NULL when it is none) the
                // name is left to the server, which has no such function.
                const auto args = arguments(open, close);
                if (args.size() != 1 || !is_date_column(args[0].first, args[0].second)) continue;
                const bool day = m_reader.is_word(i, L"dayofmonth");
                put(i, L"date_part");
                put(open, L"('" + (day ? std::wstring(L"day") : tk_to_lower(name)) + L"', (");
                put(close, L")::timestamp)::int");
            } else if (is_deviation(i)) {
                deviation(i, open, close);
            } else if (m_reader.is_word(i, L"format")) {
                refuse(L"it calls format, which writes a number with group separators in MySQL and fills a "
                       L"pattern in PostgreSQL");
            } else if (m_reader.is_word(i, L"greatest") || m_reader.is_word(i, L"least")) {
                refuse(L"it calls " + name + L", which is NULL in MySQL when an argument is NULL and skips "
                       L"such arguments in PostgreSQL");
            } else if (m_reader.is_word(i, L"substr") || m_reader.is_word(i, L"substring") ||
                       m_reader.is_word(i, L"mid")) {
                const auto args = arguments(open, close);
                if (args.size() < 2 || !is_whole_number(args[1], 1))
                    refuse(L"it calls " + name + L" from a position that is not a positive number: MySQL counts "
                           L"a negative one from the end and gives '' for 0, PostgreSQL does neither");
                // A negative length gives '' in MySQL, an error in PostgreSQL.
                if (args.size() == 3 && args[2].first != npos && !is_whole_number(args[2], 0)) m_repeated.push_back(i);
            } else if (m_reader.is_word(i, L"left") || m_reader.is_word(i, L"right")) {
                const auto args = arguments(open, close);
                if (args.size() != 2 || !is_whole_number(args[1], 0))
                    refuse(L"it calls " + name + L" with a length that is not a number of 0 or more: MySQL "
                           L"gives '' for a negative one, PostgreSQL all but that many characters");
            } else if (m_reader.is_word(i, L"bit_and") || m_reader.is_word(i, L"bit_or") ||
                       m_reader.is_word(i, L"bit_xor") || m_reader.is_word(i, L"bit_count")) {
                refuse(L"it calls " + name + L", which works on unsigned 64-bit integers in MySQL (BIT_AND of no "
                       L"rows is 18446744073709551615) and otherwise in PostgreSQL");
            } else if (m_reader.is_word(i, L"length")) {
                // MySQL's LENGTH counts bytes, PostgreSQL's characters.
                put(i, L"octet_length");
            } else if (m_reader.is_word(i, L"lpad") || m_reader.is_word(i, L"rpad")) {
                // LPAD('ab', 4, '') is NULL in MySQL, 'ab' in PostgreSQL: the filler must be a
                // text that is not empty, as a column's could be. A negative length gives NULL in
                // MySQL, '' in PostgreSQL: any but a whole number becomes
                // nullif(greatest(n, -1), -1)::int (an int, as PostgreSQL's LPAD takes).
                const auto args = arguments(open, close);
                if (args.size() != 3 || args[2].first != args[2].second || args[2].first == npos ||
                    tokens()[args[2].first].kind != udb_token_kind::string || tokens()[args[2].first].value.empty())
                    refuse(L"it calls " + name + L" with a filler that is not a text written out, or empty, which "
                           L"gives NULL in MySQL and the text itself in PostgreSQL");
                if (args[1].first != npos && !is_whole_number(args[1], 0)) {
                    put(args[1].first, L"nullif(greatest(" + output_of(args[1].first));
                    put(args[1].second, output_of(args[1].second) + L", -1), -1)::int");
                }
            } else if (m_reader.is_word(i, L"ascii")) {
                refuse(L"it calls ascii, which gives the first byte in the column's character set in MySQL and "
                       L"the first character's code in PostgreSQL");
            } else if (m_reader.is_word(i, L"trim")) {
                trim_characters(open, close);
            } else if (m_reader.is_word(i, L"extract")) {
                extract_field(i, open, close);
            } else if (m_reader.is_word(i, L"mod")) {
                // MOD(x, 0) is NULL in MySQL, an error in PostgreSQL.
                const auto args = arguments(open, close);
                if (args.size() == 2 && args[1].first != npos) not_zero(args[1].first, args[1].second, false);
            }
        }
    }

    // SQRT, EXP, LN, LOG, LOG10 and POW compute in doubles in MySQL; PostgreSQL computes them
    // in numeric for a numeric argument, to other digits (POW(1.25, 2) is 1.5625000000000000,
    // POWER(2, 0.5) 1.4142135623730950 where MySQL gives 1.4142135623730951): each argument
    // becomes float8, within the call's own parentheses.
    void in_doubles(std::size_t open, std::size_t close)
    {
        put(open, output_of(open) + L"(");
        int depth = 0;
        for (std::size_t k = m_reader.next(open); k != npos && k < close; k = m_reader.next(k)) {
            if (m_reader.is_symbol(k, L'(')) ++depth;
            else if (m_reader.is_symbol(k, L')')) --depth;
            else if (depth == 0 && m_reader.is_symbol(k, L',')) put(k, L")::float8" + output_of(k) + L"(");
        }
        put(close, L")::float8" + output_of(close));
    }

    // LN, LOG, LOG2 and LOG10 of 0 or less are NULL in MySQL, an error in PostgreSQL: the one
    // argument, in doubles, becomes NULL unless it is above 0 (greatest is 0 for NULL too).
    void positive_double(std::size_t open, std::size_t close)
    {
        put(open, output_of(open) + L"nullif(greatest((");
        put(close, L")::float8, 0), 0)" + output_of(close));
    }

    // The calls that repeat an argument, written once every other pass is done and the
    // innermost first, so that an outer one repeats the inner one's rewritten text.
    // MySQL's LOG(B, X) is ln(X) / ln(B) in doubles, NULL for B = 1 and for B or X of 0 or
    // less; PostgreSQL's log(b, x) computes in numeric (LOG(10, 1000) is 2.9999999999999996 in
    // MySQL, 3.0000000000000000 there) and fails for 0 or less. SQRT of a negative number is
    // NULL in MySQL, an error in PostgreSQL, as are ACOS and ASIN outside -1..1; so is SUBSTR
    // with a negative length, '' in MySQL.
    // A repeated argument PostgreSQL would compute anew each time it is written (RAND()) is
    // refused.
    void repeated_arguments()
    {
        std::sort(m_repeated.begin(), m_repeated.end(), std::greater<>());
        for (std::size_t i : m_repeated) {
            const std::size_t open = m_reader.next(i), close = group_end(open);
            const auto args = arguments(open, close);
            const std::wstring& word = tokens()[i].text;
            const bool log = m_reader.is_word(i, L"log"), root = m_reader.is_word(i, L"sqrt");
            const bool arc = m_reader.is_word(i, L"acos") || m_reader.is_word(i, L"asin");
            const auto repeated = root || arc ? args[0] : args.back();
            if (!log && repeated.first != npos && is_volatile(repeated.first, repeated.second))
                refuse(L"it calls " + word + L" of a value computed anew on each call, which cannot be "
                       L"rewritten to give NULL where MySQL does");
            if (!log && !root && !arc) {
                // SUBSTR's length: 0 where negative, and an int, as PostgreSQL's SUBSTR takes (a
                // computed one is a bigint here, as MySQL computes it); past an int's range it
                // gives the rest of the text alike.
                const std::wstring length = L"(" + text_of(args[2].first, args[2].second) + L")";
                clear(args[2].first, args[2].second);
                put(args[2].first, L"CASE WHEN " + length + L" < 0 THEN 0 WHEN " + length +
                                       L" > 2147483647 THEN 2147483647 ELSE " + length + L"::int END");
                continue;
            }
            const std::wstring head = output_of(i), tail = output_of(close);
            bool plain = head.size() >= word.size() && head.compare(head.size() - word.size(), word.size(), word) == 0 &&
                         output_of(open) == L"(" && !tail.empty() && tail.front() == L')';
            for (std::size_t a = 0; a < args.size(); ++a) {
                if (args[a].first == npos) plain = false;
                else if (a + 1 < args.size() && (!m_reader.is_symbol(m_reader.next(args[a].second), L',') ||
                                                 output_of(m_reader.next(args[a].second)) != L","))
                    plain = false;
            }
            if (!plain) refuse(L"it calls " + word + L" in a form that cannot be rewritten");
            std::wstring call;
            if (log) {
                const std::wstring base = text_of(args[0].first, args[0].second);
                const std::wstring value = text_of(args[1].first, args[1].second);
                call = L"(ln(nullif(greatest((" + value + L")::float8, 0), 0)) / nullif(ln(nullif(greatest((" + base +
                       L")::float8, 0), 0)), 0)";
            } else {
                const std::wstring value = L"(" + text_of(args[0].first, args[0].second) + L")::float8";
                call = tk_to_lower(word) + L"(CASE WHEN " + value + (root ? L" >= 0" : L" BETWEEN -1 AND 1") +
                       L" THEN " + value + L" END";
            }
            clear(open, close);
            put(i, head.substr(0, head.size() - word.size()) + call + tail);
        }
    }

    // The text tokens from..to give so far, without comments.
    std::wstring text_of(std::size_t from, std::size_t to) const
    {
        std::wstring out;
        for (std::size_t k = from; k <= to; ++k)
            if (tokens()[k].kind != udb_token_kind::comment) out += output_of(k);
        return out;
    }

    // Whether tokens first..last call a function whose value differs from one call to the next.
    bool is_volatile(std::size_t first, std::size_t last) const
    {
        for (std::size_t k = first; k != npos && k <= last; k = m_reader.next(k))
            if ((m_reader.is_word(k, L"rand") || m_reader.is_word(k, L"uuid") || m_reader.is_word(k, L"uuid_short") ||
                 m_reader.is_word(k, L"sysdate") || m_reader.is_word(k, L"sys_guid")) &&
                m_reader.is_symbol(m_reader.next(k), L'('))
                return true;
        return false;
    }

    // ROUND(x, d) of an integer is that integer in MySQL for d of 0 or more (ROUND(15, 2) is
    // 15), numeric with d decimals in PostgreSQL (15.00): d becomes 0. A computed d may be
    // either: refused.
    void integer_round(std::size_t open, std::size_t close)
    {
        const auto args = arguments(open, close);
        if (args.size() != 2 || args[0].first == npos || args[1].first == npos ||
            !is_integer_operand(args[0].first, args[0].second))
            return;
        if (is_whole_number(args[1], 0)) {
            put(args[1].first, L"0");
            return;
        }
        const std::size_t digits = m_reader.next(args[1].first);
        if (m_reader.is_symbol(args[1].first, L'-') && digits == args[1].second && is_whole_number({digits, digits}, 0))
            return;  // a negative number of places rounds alike
        refuse(L"it rounds an integer to a computed number of places: MySQL keeps it an integer, PostgreSQL "
               L"writes the decimals");
    }

    // Whether first..last is an integer: a number without a fraction, a table's integer column,
    // COUNT(...).
    bool is_integer_operand(std::size_t first, std::size_t last) const
    {
        const udb_token& t = tokens()[first];
        if (first == last && t.kind == udb_token_kind::number)
            return t.text.find_first_not_of(L"0123456789") == std::wstring::npos;
        if (m_reader.is_word(first, L"count") && m_reader.is_symbol(m_reader.next(first), L'(') &&
            group_end(m_reader.next(first)) == last)
            return true;
        for (const udb_view_name& n : m_reader.names())
            if (n.role == udb_name_role::column && n.parts.front() == first && n.parts.back() == last)
                return reads_small_integers(n);
        return false;
    }

    // CAST(x AS TIME[(n)]): MariaDB cuts the fraction of a second to n digits (none without n),
    // MySQL rounds it, PostgreSQL's TIME keeps 6 digits and its TIME(n) rounds. They agree where x
    // holds no fraction: a table's date or time column of whole seconds, a text without one.
    void time_cast(std::size_t open, std::size_t close) const
    {
        std::size_t as = npos;
        int depth = 0;
        for (std::size_t k = m_reader.next(open); k != npos && k < close; k = m_reader.next(k)) {
            if (m_reader.is_symbol(k, L'(')) ++depth;
            else if (m_reader.is_symbol(k, L')')) --depth;
            else if (depth == 0 && m_reader.is_word(k, L"as")) as = k;
        }
        if (as == npos || !m_reader.is_word(m_reader.next(as), L"time")) return;
        const std::size_t first = m_reader.next(open), last = m_reader.previous(as);
        if (first == as) return;
        if (first == last && tokens()[first].kind == udb_token_kind::string &&
            tokens()[first].value.find(L'.') == std::wstring::npos)
            return;
        for (const udb_view_name& n : m_reader.names()) {
            if (n.role != udb_name_role::column || n.parts.front() != first || n.parts.back() != last) continue;
            if (reads_whole_seconds(n)) return;
        }
        refuse(L"it casts to TIME what may hold a fraction of a second, which MariaDB cuts, MySQL rounds and "
               L"PostgreSQL keeps or rounds");
    }

    // A to_char format of YYYY, YY, MM, DD, HH24, HH12, HH, MI and SS between - / : . , and
    // blanks, which MariaDB and PostgreSQL write alike.
    static bool is_plain_date_format(const std::wstring& format)
    {
        static const wchar_t* const fields[] = {L"YYYY", L"YY", L"MM", L"DD", L"HH24", L"HH12", L"HH", L"MI", L"SS"};
        for (std::size_t k = 0; k < format.size();) {
            if (std::wstring_view(L"-/:., ").find(format[k]) != std::wstring_view::npos) {
                ++k;
                continue;
            }
            const wchar_t* const* field = std::find_if(std::begin(fields), std::end(fields), [&](const wchar_t* f) {
                return format.compare(k, std::wcslen(f), f) == 0;
            });
            if (field == std::end(fields)) return false;
            k += std::wcslen(*field);
        }
        return true;
    }

    // STD, STDDEV, VARIANCE and their _POP and _SAMP forms: MySQL computes them in doubles,
    // PostgreSQL exactly in numeric for integers and decimals, which differs in the digits of
    // large values (a VARIANCE of INT values is 2308700804248205300.0000 in MySQL); and VARIANCE
    // and STD(DEV) are the population's. An exact argument becomes float8, the result numeric of the
    // double's shortest text, which round() and the scales of exact_quotients take. MariaDB's
    // window form gives other values: refused.
    bool is_deviation(std::size_t i) const
    {
        static const wchar_t* const names[] = {L"std", L"stddev", L"stddev_pop", L"stddev_samp",
                                              L"variance", L"var_pop", L"var_samp"};
        return std::any_of(std::begin(names), std::end(names), [&](const wchar_t* w) { return m_reader.is_word(i, w); });
    }
    void deviation(std::size_t name, std::size_t open, std::size_t close)
    {
        if (m_reader.is_word(m_reader.next(close), L"over"))
            refuse(L"it calls " + tokens()[name].text + L" over a window, which MariaDB computes otherwise");
        const std::size_t first = m_reader.next(open), last = m_reader.previous(close);
        if (first == close || m_reader.is_word(first, L"distinct")) return;  // left to the server
        if (m_reader.is_word(name, L"variance")) put(name, L"var_pop");
        else if (m_reader.is_word(name, L"std") || m_reader.is_word(name, L"stddev")) put(name, L"stddev_pop");
        // An integer or a decimal becomes a double; a double is one already, and anything else
        // (a text, which MySQL reads as a number) is left to the server, which refuses it.
        if (operand_scale(first, last) >= 0) {
            put(first, L"(" + output_of(first));
            put(last, output_of(last) + L")::float8");
        }
        put(close, output_of(close) + L"::text::numeric");
    }

    // TRIM([BOTH | LEADING | TRAILING] [remstr] FROM str): MySQL removes remstr as a whole text
    // (TRIM(BOTH 'ab' FROM 'abba') is 'ba'), PostgreSQL any of its characters (''). They agree
    // when remstr is one character.
    void trim_characters(std::size_t open, std::size_t close) const
    {
        std::size_t from = npos;
        int depth = 0;
        for (std::size_t k = m_reader.next(open); k != npos && k < close; k = m_reader.next(k)) {
            if (m_reader.is_symbol(k, L'(')) ++depth;
            else if (m_reader.is_symbol(k, L')')) --depth;
            else if (depth == 0 && m_reader.is_word(k, L"from")) {
                from = k;
                break;
            }
        }
        if (from == npos) return;  // TRIM(str): blanks in both
        std::size_t first = m_reader.next(open);
        if (m_reader.is_word(first, L"both") || m_reader.is_word(first, L"leading") || m_reader.is_word(first, L"trailing"))
            first = m_reader.next(first);
        if (first == from) return;  // blanks
        const std::size_t last = m_reader.previous(from);
        if (first != last || tokens()[first].kind != udb_token_kind::string || tokens()[first].value.size() != 1)
            refuse(L"it calls trim with what to remove that is not one character: MySQL removes it as a whole "
                   L"text, PostgreSQL any of its characters");
    }

    // EXTRACT(field FROM x): PostgreSQL's SECOND holds the fraction (30.500000), MySQL's is whole
    // (30) and becomes trunc(...); MySQL's WEEK counts from Sunday (PostgreSQL's is the ISO week)
    // and its MICROSECOND leaves the seconds out, which PostgreSQL's counts: both are refused.
    void extract_field(std::size_t name, std::size_t open, std::size_t close)
    {
        const std::size_t field = m_reader.next(open);
        if (m_reader.is_word(field, L"week") || m_reader.is_word(field, L"microsecond"))
            refuse(L"it extracts the " + tokens()[field].text + L" of a date, which PostgreSQL counts otherwise");
        if (m_reader.is_word(field, L"second")) {
            put(name, L"trunc(" + output_of(name));
            put(close, output_of(close) + L")");
        }
    }

    // The tables' columns the column name n may read: each table and the column's name there
    // (as the keys of its names map).
    std::vector<std::pair<const pgs_view_names::relation*, std::wstring>> table_columns(const udb_view_name& n) const
    {
        std::vector<std::pair<const pgs_view_names::relation*, std::wstring>> found;
        if (n.scope < 0) return found;
        const std::wstring& column = tokens()[n.parts.back()].value;
        std::wstring dest, key;
        auto add = [&](const source_entry& e) {
            if (e.kinds) {
                const auto& outputs = naming_scope(m_reader.scopes(), e.block).outputs;
                const auto it = std::find_if(outputs.begin(), outputs.end(),
                                             [&](const std::wstring& o) { return tk_equal_no_case(o, column); });
                if (it != outputs.end()) found.emplace_back(e.kinds, *it);
                return;
            }
            if (probe(e, column, dest, &key) == probe_result::found && !key.empty()) found.emplace_back(e.relation, key);
        };
        if (n.parts.size() == 2) {
            if (const source_entry* e = entry_named(n.scope, m_reader.part(n, 0))) add(*e);
        } else if (n.parts.size() == 1) {
            for (int s = n.scope; s >= 0 && found.empty(); s = m_reader.scopes()[static_cast<std::size_t>(s)].parent)
                for (const source_entry& e : m_entries[static_cast<std::size_t>(s)]) add(e);
        }
        return found;
    }

    using column_list = std::vector<std::wstring> pgs_view_names::relation::*;

    // Whether any of the tables the column name n may read lists it in its column list.
    bool reads_any(const udb_view_name& n, column_list list) const
    {
        for (const auto& [r, key] : table_columns(n))
            if (std::any_of((r->*list).begin(), (r->*list).end(), [&](const std::wstring& c) { return tk_equal_no_case(c, key); }))
                return true;
        return false;
    }

    // Whether the column name n reads a table, and every table it may read lists it.
    bool reads_only(const udb_view_name& n, column_list list) const
    {
        const auto found = table_columns(n);
        return !found.empty() && std::all_of(found.begin(), found.end(), [list](const auto& rk) {
            return std::any_of((rk.first->*list).begin(), (rk.first->*list).end(),
                               [&](const std::wstring& c) { return tk_equal_no_case(c, rk.second); });
        });
    }

    // Whether the column name n reads a table's date or time column (any of the tables it may
    // read, for a name without its table).
    bool reads_dates(const udb_view_name& n) const { return reads_any(n, &pgs_view_names::relation::dates); }

    // Whether first..last is just the name of a table's date or time column.
    bool is_date_column(std::size_t first, std::size_t last) const
    {
        if (first == npos) return false;
        for (const udb_view_name& n : m_reader.names())
            if (n.role == udb_name_role::column && n.parts.front() == first && n.parts.back() == last)
                return reads_dates(n);
        return false;
    }

    // Whether the column name n reads a table's FLOAT column.
    bool reads_singles(const udb_view_name& n) const { return reads_only(n, &pgs_view_names::relation::singles); }

    // Whether the column name n reads only date and time columns of whole seconds.
    bool reads_whole_seconds(const udb_view_name& n) const
    {
        return reads_only(n, &pgs_view_names::relation::whole_seconds);
    }

    // Whether the column name n reads a table's ENUM or SET column.
    bool reads_by_place(const udb_view_name& n) const { return reads_any(n, &pgs_view_names::relation::by_place); }

    // Whether first..last is an ENUM or SET column, or the name a select list gives one.
    bool sorts_by_place(std::size_t first, std::size_t last) const
    {
        for (const udb_view_name& n : m_reader.names())
            if (n.role == udb_name_role::column && n.parts.front() == first && n.parts.back() == last)
                return reads_by_place(n);
        if (first != last || (tokens()[first].kind != udb_token_kind::word && tokens()[first].kind != udb_token_kind::name))
            return false;
        for (const auto& [item_first, item_last, scope] : select_items()) {
            const std::size_t after = m_reader.next(item_last);
            const std::size_t alias = m_reader.is_word(after, L"as") ? m_reader.next(after) : after;
            if (alias == npos || !tk_equal_no_case(tokens()[alias].value, tokens()[first].value)) continue;
            for (const udb_view_name& n : m_reader.names())
                if (n.role == udb_name_role::column && n.parts.front() == item_first && n.parts.back() == item_last &&
                    reads_by_place(n))
                    return true;
        }
        return false;
    }

    // MySQL sorts an ENUM or SET column by the values' place in its type ('zz' before 'aa' in
    // ENUM('zz', 'aa')), PostgreSQL's text column by the text: a view that orders by one (ORDER
    // BY, a window's, GROUP BY ... LIMIT, which picks the first groups) is refused.
    void place_orderings() const
    {
        static const wchar_t* const ends[] = {L"union", L"except", L"intersect", L"for", L"lock", L"into",
                                              L"procedure", L"window", L"offset", L"fetch", L"rows", L"range",
                                              L"groups", L"order", L"with"};
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            const bool group = m_reader.is_word(i, L"group");
            if ((!group && !m_reader.is_word(i, L"order")) || !m_reader.is_word(m_reader.next(i), L"by")) continue;
            std::vector<std::pair<std::size_t, std::size_t>> items;
            std::size_t first = npos, last = npos;
            bool collecting = true, limit = false;
            int depth = 0;
            for (std::size_t k = m_reader.next(m_reader.next(i)); k != npos; k = m_reader.next(k)) {
                if (m_reader.is_symbol(k, L'(')) {
                    ++depth;
                } else if (m_reader.is_symbol(k, L')')) {
                    if (--depth < 0) break;
                } else if (depth == 0) {
                    if (m_reader.is_symbol(k, L';') ||
                        std::any_of(std::begin(ends), std::end(ends), [&](const wchar_t* w) { return m_reader.is_word(k, w); }))
                        break;
                    if (m_reader.is_word(k, L"limit")) {
                        limit = true;
                        break;
                    }
                    if (m_reader.is_word(k, L"having")) collecting = false;
                    if (!collecting) continue;
                    if (m_reader.is_symbol(k, L',')) {
                        items.emplace_back(first, last);
                        first = last = npos;
                        continue;
                    }
                    if (m_reader.is_word(k, L"asc") || m_reader.is_word(k, L"desc")) continue;
                }
                if (!collecting) continue;
                if (first == npos) first = k;
                last = k;
            }
            items.emplace_back(first, last);
            if (group && !limit) continue;
            for (const auto& [f, l] : items)
                if (f != npos && sorts_by_place(f, l))
                    refuse(L"it orders by an ENUM or SET column, which MySQL sorts by the values' place in the type "
                           L"and PostgreSQL as text");
        }
    }

    bool reads_small_integers(const udb_view_name& n) const
    {
        const auto found = table_columns(n);
        return !found.empty() && std::all_of(found.begin(), found.end(), [](const auto& rk) {
            return std::any_of(rk.first->integers.begin(), rk.first->integers.end(),
                               [&](const std::wstring& c) { return tk_equal_no_case(c, rk.second); });
        });
    }

    // The scale of COALESCE(...) whose parentheses are open..close when each argument's is told:
    // the largest; -1 otherwise.
    int coalesce_scale(std::size_t open, std::size_t close) const
    {
        int scale = -1;
        for (const auto& [first, last] : arguments(open, close)) {
            const int s = first == npos ? -1 : operand_scale(first, last);
            if (s < 0) return -1;
            scale = std::max(scale, s);
        }
        return scale;
    }

    // MySQL's COALESCE (IFNULL, and CASE) of integers and decimals has the largest scale of its arguments
    // (COALESCE(NULL, 0) of a DECIMAL(8,2) column prints 0.00); PostgreSQL's the value's: it is
    // rounded to that scale where the arguments' scales are told and differ.
    void coalesce_scales()
    {
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            const bool ifnull = m_reader.is_word(i, L"ifnull");
            if ((!ifnull && !m_reader.is_word(i, L"coalesce")) || m_reader.is_symbol(m_reader.previous(i), L'.'))
                continue;
            const std::size_t after = m_reader.next(i);
            // MySQL's IFNULL(a, b) is COALESCE(a, b), taken where its result is written alike:
            // integers and decimals whose scales are told. Otherwise (a text beside a date or
            // a double is a text in MySQL, that type in PostgreSQL) the server refuses the name.
            if (ifnull) {
                const std::size_t end = m_reader.is_symbol(after, L'(') ? group_end(after) : npos;
                if (end == npos || arguments(after, end).size() != 2 || coalesce_scale(after, end) < 0) continue;
                put(i, L"coalesce");
            }
            const std::size_t open = m_reader.next(i);
            if (!m_reader.is_symbol(open, L'(')) continue;
            const std::size_t close = group_end(open);
            if (close == npos) continue;
            const int scale = coalesce_scale(open, close);
            if (scale <= 0) continue;
            bool differ = false;
            for (const auto& [first, last] : arguments(open, close))
                if (operand_scale(first, last) != scale) differ = true;
            if (!differ) continue;
            put(i, L"round(" + output_of(i));
            put(close, output_of(close) + L", " + std::to_wstring(scale) + L")");
        }
        // CASE likewise, over its THEN and ELSE values (NULL among them).
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (!m_reader.is_word(i, L"case")) continue;
            const std::size_t end = group_end(i);
            if (end == npos) continue;
            std::vector<int> scales;
            std::size_t branch = npos;
            bool told = true;
            for (std::size_t k = m_reader.next(i); k != npos && k <= end; k = m_reader.next(k)) {
                const bool stop = k == end || m_reader.is_word(k, L"when") || m_reader.is_word(k, L"else");
                if (stop && branch != npos) {
                    const std::size_t last = m_reader.previous(k);
                    if (branch == last && m_reader.is_word(branch, L"null")) {
                        // no scale of its own
                    } else {
                        const int s = last >= branch ? sum_scale(branch, last) : -1;
                        if (s < 0) told = false;
                        scales.push_back(s);
                    }
                    branch = npos;
                }
                if (k == end) break;
                if (m_reader.is_word(k, L"then") || m_reader.is_word(k, L"else")) {
                    branch = m_reader.next(k);
                    continue;
                }
                if (m_reader.is_symbol(k, L'(') || m_reader.is_word(k, L"case")) {
                    const std::size_t close = group_end(k);
                    if (close == npos) break;
                    k = close;
                }
            }
            if (!told || scales.empty()) continue;
            const int scale = *std::max_element(scales.begin(), scales.end());
            if (scale <= 0 || std::all_of(scales.begin(), scales.end(), [&](int s) { return s == scale; })) continue;
            put(i, L"round(" + output_of(i));
            put(end, output_of(end) + L", " + std::to_wstring(scale) + L")");
        }
    }

    // MySQL adds, subtracts and multiplies integers in 64 bits (an INT of 2147483647 plus 1 is
    // 2147483648), PostgreSQL in the operands' own type, where that overflows: a table's
    // integer column beside + - *, after a minus sign or in ABS() becomes bigint. Likewise
    // MySQL computes FLOAT in doubles (a FLOAT of 1.1 times itself is 1.210000052452088, and
    // SUM of FLOAT a double), PostgreSQL's real in real (1.21): such a column beside + - *
    // and in SUM() becomes float8.
    void wide_integers()
    {
        std::vector<std::size_t> first_of(tokens().size(), npos);  // last part -> the name's first
        std::vector<bool> is_first(tokens().size(), false);
        std::vector<bool> single(tokens().size(), false);  // a FLOAT column: float8, not bigint
        for (const udb_view_name& n : m_reader.names()) {
            if (n.role != udb_name_role::column || m_reader.is_symbol(n.parts.back(), L'*')) continue;
            const bool is_single = reads_singles(n);
            if (!is_single && !reads_small_integers(n)) continue;
            first_of[n.parts.back()] = n.parts.front();
            is_first[n.parts.front()] = true;
            single[n.parts.back()] = is_single;
        }
        std::vector<std::size_t> widen;
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            // ABS of an INT column: its smallest value's is beyond INT too. SUM of a FLOAT
            // column adds in doubles in MySQL.
            const bool abs = m_reader.is_word(i, L"abs"), sum = m_reader.is_word(i, L"sum");
            if ((abs || sum) && !m_reader.is_symbol(m_reader.previous(i), L'.') && m_reader.is_symbol(m_reader.next(i), L'(')) {
                const std::size_t open = m_reader.next(i), close = group_end(open), last = m_reader.previous(close);
                if (close != npos && last != npos && first_of[last] == m_reader.next(open) && single[last] == sum)
                    widen.push_back(last);
                continue;
            }
            if (!m_reader.is_symbol(i, L'+') && !m_reader.is_symbol(i, L'-') && !m_reader.is_symbol(i, L'*')) continue;
            const std::size_t before = m_reader.previous(i), after = m_reader.next(i);
            const bool sign = before == npos || !ends_value(before);
            // -x of an INT's smallest value is beyond INT: a minus sign widens too.
            if (sign && !m_reader.is_symbol(i, L'-')) continue;  // a plus sign, or t.* and the like
            if (!sign && m_reader.is_symbol(i, L'*') && m_reader.is_symbol(before, L'.')) continue;
            if (!sign && first_of[before] != npos) widen.push_back(before);
            if (after != npos && is_first[after]) {
                std::size_t last = after;
                for (std::size_t dot = m_reader.next(last); m_reader.is_symbol(dot, L'.'); dot = m_reader.next(last))
                    last = m_reader.next(dot);
                if (last != npos && first_of[last] == after) widen.push_back(last);
            }
        }
        std::sort(widen.begin(), widen.end());
        widen.erase(std::unique(widen.begin(), widen.end()), widen.end());
        for (std::size_t k : widen) put(k, output_of(k) + (single[k] ? L"::float8" : L"::bigint"));
    }

    // MySQL's ! is NOT binding to its operand alone (!a = b is (NOT a) = b); MariaDB stores
    // NOT EXISTS as !exists(...). PostgreSQL has no such operator: (NOT operand).
    void negations()
    {
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (!m_reader.is_symbol(i, L'!') || m_reader.is_symbol(i + 1, L'=')) continue;
            const std::size_t end = operand_end(m_reader.next(i));
            if (end == npos) refuse(L"it negates with ! something that cannot be told apart");
            put(i, L"(not ");
            put(end, output_of(end) + L")");
        }
    }

    // Whether token k ends a value (so that + or - after it adds or subtracts).
    bool ends_value(std::size_t k) const
    {
        const udb_token& t = tokens()[k];
        switch (t.kind) {
        case udb_token_kind::name:
        case udb_token_kind::string:
        case udb_token_kind::number: return true;
        case udb_token_kind::symbol: return t.text == L")";
        case udb_token_kind::word:
            return m_reader.is_word(k, L"end") || m_reader.is_word(k, L"null") ||
                   std::any_of(m_reader.names().begin(), m_reader.names().end(), [&](const udb_view_name& n) {
                       return n.role == udb_name_role::column && n.parts.back() == k;
                   });
        default: return false;
        }
    }

    // The scale of the integer or decimal column n reads; -1 when it is not one, or not one
    // table's column.
    int exact_scale(const udb_view_name& n) const
    {
        const auto found = table_columns(n);
        if (found.size() != 1) return -1;
        const auto& [r, key] = found.front();
        for (const auto& [name, scale] : r->exact)
            if (tk_equal_no_case(name, key)) return scale;
        return -1;
    }

    // + and - read a date or time as a number in MySQL ('2024-01-31' + 1 is 20240132, and a
    // difference of dates one of such numbers), as a date in PostgreSQL (2024-02-01, a count of
    // days): refused where an operand is a table's date or time column, or CAST(... AS DATE).
    // With INTERVAL both add to the date (PostgreSQL reads MySQL's INTERVAL 1 DAY otherwise,
    // and refuses it).
    void date_arithmetic()
    {
        std::vector<bool> first(tokens().size(), false), last(tokens().size(), false);
        for (const udb_view_name& n : m_reader.names()) {
            if (n.role != udb_name_role::column || !reads_dates(n)) continue;
            first[n.parts.front()] = true;
            last[n.parts.back()] = true;
        }
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (!m_reader.is_word(i, L"cast") && !m_reader.is_word(i, L"date")) continue;
            const std::size_t open = m_reader.next(i);
            if (!m_reader.is_symbol(open, L'(') || m_reader.is_symbol(m_reader.previous(i), L'.')) continue;
            const std::size_t close = group_end(open);
            if (close == npos) continue;
            if (m_reader.is_word(i, L"cast") && !m_reader.is_word(m_reader.previous(close), L"date")) continue;
            first[i] = true;
            last[close] = true;
        }
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (!m_reader.is_symbol(i, L'+') && !m_reader.is_symbol(i, L'-')) continue;
            const std::size_t before = m_reader.previous(i), after = m_reader.next(i);
            if (m_reader.is_word(before, L"interval") || m_reader.is_word(after, L"interval")) continue;
            if ((before != npos && last[before]) || (after != npos && first[after]))
                refuse(L"it adds to or subtracts from a date or time with " + tokens()[i].text +
                       L", which MySQL reads as a number (a date plus 1 is 20240132) and PostgreSQL as a date");
        }
    }

    // The divisor first..last of / % MOD as NULL where it is 0: MySQL gives NULL for a division
    // by zero, PostgreSQL an error. `exact`: an integer divisor also becomes numeric (+ 0.0),
    // since MySQL's / never cuts the fraction PostgreSQL's cuts between integers; a double
    // stays a double, as MySQL divides it.
    void not_zero(std::size_t first, std::size_t last, bool exact)
    {
        put(first, L"nullif(" + output_of(first));
        put(last, output_of(last) + (exact ? L" + 0.0, 0)" : L", 0)"));
    }

    // The arguments of the call whose parentheses are open..close: each its first and last
    // token (spaces and comments left out).
    std::vector<std::pair<std::size_t, std::size_t>> arguments(std::size_t open, std::size_t close) const
    {
        std::vector<std::pair<std::size_t, std::size_t>> args;
        std::size_t first = npos, last = npos;
        int depth = 0;
        for (std::size_t k = m_reader.next(open); k != npos && k < close; k = m_reader.next(k)) {
            if (depth == 0 && m_reader.is_symbol(k, L',')) {
                args.emplace_back(first, last);
                first = last = npos;
                continue;
            }
            if (m_reader.is_symbol(k, L'(')) ++depth;
            else if (m_reader.is_symbol(k, L')')) --depth;
            if (first == npos) first = k;
            last = k;
        }
        if (first != npos || !args.empty()) args.emplace_back(first, last);
        return args;
    }

    // Whether an argument is one whole number of at least `least`, written in digits.
    bool is_whole_number(std::pair<std::size_t, std::size_t> arg, unsigned least) const
    {
        if (arg.first == npos || arg.first != arg.second || tokens()[arg.first].kind != udb_token_kind::number)
            return false;
        const std::wstring& digits = tokens()[arg.first].text;
        if (digits.empty() || digits.size() > 9 ||
            !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
            return false;
        return std::stoul(digits) >= least;
    }

    // The token that closes the group opened at i: the matching ')' of '(', the END of CASE.
    std::size_t group_end(std::size_t i) const
    {
        const bool parenthesis = m_reader.is_symbol(i, L'(');
        int depth = 0;
        for (std::size_t k = i; k != npos; k = m_reader.next(k)) {
            if (parenthesis ? m_reader.is_symbol(k, L'(') : m_reader.is_word(k, L"case")) ++depth;
            else if ((parenthesis ? m_reader.is_symbol(k, L')') : m_reader.is_word(k, L"end")) && --depth == 0) return k;
        }
        return npos;
    }

    // The last token of the operand that starts at token i (a literal, a name, a call, a
    // parenthesized expression, CASE ... END, each maybe after a sign); npos when none.
    std::size_t operand_end(std::size_t i) const
    {
        while (m_reader.is_symbol(i, L'-') || m_reader.is_symbol(i, L'+') || m_reader.is_symbol(i, L'~')) i = m_reader.next(i);
        if (i == npos) return npos;
        if (m_reader.is_symbol(i, L'(') || m_reader.is_word(i, L"case")) return group_end(i);
        const udb_token_kind kind = tokens()[i].kind;
        if (kind == udb_token_kind::number || kind == udb_token_kind::string) return i;
        if (kind != udb_token_kind::word && kind != udb_token_kind::name) return npos;
        std::size_t last = i;
        for (std::size_t dot = m_reader.next(last); m_reader.is_symbol(dot, L'.'); dot = m_reader.next(last))
            last = m_reader.next(dot);
        if (last == npos) return npos;
        const std::size_t open = m_reader.next(last);
        return m_reader.is_symbol(open, L'(') ? group_end(open) : last;
    }

    // MySQL's / never cuts a fraction (7 / 2 is 3.5000); PostgreSQL's does between integers.
    // An integer divisor becomes numeric, so both read 3.5; a divisor of 0 gives NULL in both
    // (for % too).
    void divisions()
    {
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            const bool divide = m_reader.is_symbol(i, L'/');
            if (!divide && !m_reader.is_symbol(i, L'%')) continue;
            const std::size_t first = m_reader.next(i);
            const std::size_t end = operand_end(first);
            if (end == npos) refuse(L"it divides by something that cannot be told apart");
            not_zero(first, end, divide);
        }
    }

    // The expressions of every select list, each its first and last token (its name after AS
    // left out).
    struct select_item {
        std::size_t first, last;
        int scope;  // its query block; -1 when not told
    };
    std::vector<select_item> select_items() const
    {
        std::vector<select_item> items;
        // The reader opens a block at each SELECT, in order.
        int block = -1;
        std::size_t selects = 0;
        for (std::size_t i = 0; i < tokens().size(); ++i)
            if (m_reader.is_word(i, L"select")) ++selects;
        const bool counted = selects == m_reader.scopes().size();
        std::vector<bool> alias(tokens().size(), false);
        for (const udb_view_name& n : m_reader.names())
            if (n.role == udb_name_role::output && n.clause == udb_clause::select_list) alias[n.parts.front()] = true;
        static const wchar_t* const modifiers[] = {L"distinct", L"distinctrow", L"all", L"high_priority",
                                                   L"straight_join", L"sql_small_result", L"sql_big_result",
                                                   L"sql_buffer_result", L"sql_no_cache", L"sql_cache",
                                                   L"sql_calc_found_rows"};
        static const wchar_t* const ends[] = {L"from", L"where", L"group", L"having", L"order", L"limit", L"union",
                                              L"except", L"intersect", L"into", L"for", L"lock", L"window"};
        auto one_of = [&](std::size_t k, const auto& words) {
            return std::any_of(std::begin(words), std::end(words), [&](const wchar_t* w) { return m_reader.is_word(k, w); });
        };
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (!m_reader.is_word(i, L"select")) continue;
            ++block;
            std::size_t k = m_reader.next(i);
            while (k != npos && one_of(k, modifiers)) k = m_reader.next(k);
            std::size_t first = npos, last = npos;
            auto finish = [&]() {
                if (first != npos) items.push_back({first, last, counted ? block : -1});
                first = last = npos;
            };
            for (; k != npos; k = m_reader.next(k)) {
                if (m_reader.is_symbol(k, L')') || m_reader.is_symbol(k, L';') || one_of(k, ends)) break;
                if (m_reader.is_symbol(k, L',') || m_reader.is_word(k, L"as") || alias[k]) {
                    finish();
                    continue;
                }
                if (first == npos) first = k;
                if (m_reader.is_symbol(k, L'(') || m_reader.is_word(k, L"case")) {
                    const std::size_t end = group_end(k);
                    if (end == npos) return items;
                    k = end;
                }
                last = k;
            }
            finish();
        }
        return items;
    }

    // A comparison (or AND, OR, NOT, IN, LIKE, IS, EXISTS, TRUE) that is a whole result column
    // is a number in MySQL, 1 or 0, and a boolean in PostgreSQL, which reads t or f: such a
    // column becomes (...)::int.
    void truth_values()
    {
        for (const auto& [first, last, scope] : select_items()) {
            if (m_reader.is_word(first, L"case") && group_end(first) == last) {
                case_truths(first, last);
                continue;
            }
            if (!is_truth(first, last)) continue;
            put(first, L"(" + output_of(first));
            put(last, output_of(last) + L")::int");
        }
    }

    // CASE ... THEN a > b ... END: each THEN and ELSE that is a truth value becomes a number.
    void case_truths(std::size_t open, std::size_t end)
    {
        std::size_t branch = npos;
        for (std::size_t k = m_reader.next(open); k != npos && k <= end; k = m_reader.next(k)) {
            const bool stop = k == end || m_reader.is_word(k, L"when") || m_reader.is_word(k, L"else");
            if (stop && branch != npos) {
                const std::size_t last = m_reader.previous(k);
                if (last >= branch && is_truth(branch, last)) {
                    put(branch, L"(" + output_of(branch));
                    put(last, output_of(last) + L")::int");
                }
                branch = npos;
            }
            if (k == end) break;
            if (m_reader.is_word(k, L"then") || m_reader.is_word(k, L"else")) {
                branch = m_reader.next(k);
                continue;
            }
            if (m_reader.is_symbol(k, L'(') || (k != open && m_reader.is_word(k, L"case"))) {
                const std::size_t close = group_end(k);
                if (close == npos) return;
                k = close;
            }
        }
    }

    bool is_truth_operator(std::size_t k) const
    {
        static const wchar_t* const truth_words[] = {L"is", L"like", L"in", L"between", L"not", L"and", L"or",
                                                     L"xor", L"exists", L"regexp", L"rlike", L"sounds", L"true",
                                                     L"false"};
        return m_reader.is_symbol(k, L'=') || m_reader.is_symbol(k, L'<') || m_reader.is_symbol(k, L'>') ||
               (m_reader.is_symbol(k, L'!') && m_reader.is_symbol(k + 1, L'=')) ||
               std::any_of(std::begin(truth_words), std::end(truth_words),
                           [&](const wchar_t* w) { return m_reader.is_word(k, w); });
    }

    // Whether the expression first..last is a truth value at its own level, or in the
    // parentheses around it (a > b) (not a call's, nor a subquery's).
    bool is_truth(std::size_t first, std::size_t last) const
    {
        if (m_reader.is_word(first, L"select") || m_reader.is_word(first, L"with")) return false;
        bool truth = false;
        for (std::size_t k = first; k != npos && k <= last; k = m_reader.next(k)) {
            if (m_reader.is_symbol(k, L'(') || m_reader.is_word(k, L"case")) {
                const std::size_t end = group_end(k);
                if (end == npos) return false;
                const std::size_t before = m_reader.previous(k);
                const bool call = k != first && before != npos &&
                                  (tokens()[before].kind == udb_token_kind::word ||
                                   tokens()[before].kind == udb_token_kind::name);
                if (m_reader.is_symbol(k, L'(') && !call && end > m_reader.next(k) &&
                    is_truth(m_reader.next(k), m_reader.previous(end)))
                    truth = true;
                k = end;
                continue;
            }
            if (is_truth_operator(k)) truth = true;
        }
        return truth;
    }

    // A UNION's column has the largest scale of its blocks' (SELECT 1 UNION SELECT 2.50 gives
    // 1.00 and 2.50 in MySQL): each block's value of a smaller scale is rounded to it, where
    // every block's scale is told.
    void union_scales()
    {
        const int main = m_reader.main_scope();
        if (main < 0) return;
        std::vector<int> members;
        for (std::size_t s = 0; s < m_reader.scopes().size(); ++s)
            if (static_cast<int>(s) == main || m_reader.scopes()[s].union_first == main) members.push_back(static_cast<int>(s));
        if (members.size() < 2) return;
        const auto items = select_items();
        std::vector<std::vector<std::pair<std::size_t, std::size_t>>> columns(members.size());
        for (const auto& [first, last, scope] : items)
            for (std::size_t m = 0; m < members.size(); ++m)
                if (scope == members[m]) columns[m].emplace_back(first, last);
        const std::size_t width = columns.front().size();
        if (std::any_of(columns.begin(), columns.end(), [&](const auto& c) { return c.size() != width; })) return;
        for (std::size_t p = 0; p < width; ++p) {
            std::vector<int> scales;
            for (const auto& c : columns) {
                const auto [first, last] = c[p];
                if (first == last && m_reader.is_word(first, L"null")) {
                    scales.push_back(-2);  // no scale of its own
                    continue;
                }
                bool inexact = false;
                scales.push_back(expr_scale(first, last, &inexact));
            }
            if (std::any_of(scales.begin(), scales.end(), [](int s) { return s == -1; })) continue;
            const int scale = *std::max_element(scales.begin(), scales.end());
            if (scale <= 0 || scale > 30) continue;
            for (std::size_t m = 0; m < columns.size(); ++m) {
                if (scales[m] == -2 || scales[m] == scale) continue;
                const auto [first, last] = columns[m][p];
                put(first, L"round(" + output_of(first));
                put(last, output_of(last) + L", " + std::to_wstring(scale) + L")");
            }
        }
    }

    // MySQL's quotient of integers and decimals is a decimal of 4 decimals more than the
    // dividend's (10 / 3 is 3.3333, 1.50 / 3 is 0.500000), rounded; so is an average
    // (AVG(1, 2, 2) is 1.6667), and arithmetic on them keeps MySQL's scales (10 / 3 * 100 is
    // 333.3333). PostgreSQL's numeric keeps 16 digits or more: a result column of such
    // arithmetic, of operands whose scale the text tells (a table's integer or decimal column,
    // a number, COUNT, SUM of such a column), is rounded to MySQL's scale. MySQL carries a
    // quotient on with 9 decimals, so a quotient multiplied by 100000 or more may still
    // differ in its last digits. Anything else is left as PostgreSQL computes it.
    void exact_quotients()
    {
        const int main = m_reader.main_scope();
        for (const auto& [first, last, scope] : select_items()) {
            // The view's columns (of each block of its UNION): a derived table's or a
            // subquery's quotient goes on with MySQL's unrounded digits.
            if (main < 0 || scope < 0 ||
                (scope != main && m_reader.scopes()[static_cast<std::size_t>(scope)].union_first != main))
                continue;
            const int scale = quotient_scale(first, last);
            if (scale < 0 || scale > 30) continue;
            put(first, L"round(" + output_of(first));
            put(last, output_of(last) + L", " + std::to_wstring(scale) + L")");
        }
        // An argument of CONCAT is written with MySQL's scale too (CONCAT(10 / 3) is '3.3333').
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if ((!m_reader.is_word(i, L"concat") && !m_reader.is_word(i, L"concat_ws")) ||
                m_reader.is_symbol(m_reader.previous(i), L'.'))
                continue;
            const std::size_t open = m_reader.next(i);
            if (!m_reader.is_symbol(open, L'(')) continue;
            const std::size_t close = group_end(open);
            if (close == npos) continue;
            for (const auto& [first, last] : arguments(open, close)) {
                const int scale = first == npos ? -1 : quotient_scale(first, last);
                if (scale < 0 || scale > 30) continue;
                put(first, L"round(" + output_of(first));
                put(last, output_of(last) + L", " + std::to_wstring(scale) + L")");
            }
        }
    }

    // MySQL's scale of the expression first..last when it is a quotient or an average of
    // operands whose scale the text tells; -1 otherwise.
    int quotient_scale(std::size_t first, std::size_t last) const
    {
        bool inexact = false;
        const int scale = expr_scale(first, last, &inexact);
        return inexact ? scale : -1;
    }

    // The scale of a + b * c ... of such operands: a sum's the largest of its terms', a
    // product's the sum of its factors'; -1 when an operand's is not told.
    int sum_scale(std::size_t first, std::size_t last) const { return expr_scale(first, last, nullptr); }

    // The same, with `inexact` given: also quotients (the dividend's scale and 4) and averages
    // (their argument's and 4), which set `inexact`.
    int expr_scale(std::size_t first, std::size_t last, bool* inexact) const
    {
        int sum = 0, product = 0;
        bool divide = false, start = true;
        for (std::size_t k = first; k != npos && k <= last;) {
            std::size_t end = operand_end(k);
            int scale = -1;
            if (inexact && (m_reader.is_word(k, L"avg") || is_deviation(k)) && m_reader.is_symbol(m_reader.next(k), L'(')) {
                // AVG([DISTINCT] x) [OVER (...) | OVER w]
                const std::size_t open = m_reader.next(k);
                const std::size_t close = group_end(open);
                if (close == npos) return -1;
                end = close;
                if (m_reader.is_word(m_reader.next(close), L"over")) {
                    const std::size_t window = m_reader.next(m_reader.next(close));
                    end = m_reader.is_symbol(window, L'(') ? group_end(window) : window;
                }
                std::size_t arg = m_reader.next(open);
                if (m_reader.is_word(arg, L"distinct")) arg = m_reader.next(arg);
                bool quotient = false;  // AVG(x / 2) has the quotient's scale and 4
                scale = expr_scale(arg, m_reader.previous(close), &quotient);
                if (scale >= 0) scale += 4;
                *inexact = true;
            } else if (end != npos && end <= last) {
                scale = operand_scale(k, end, inexact);
            }
            if (end == npos || end > last || scale < 0) return -1;
            if (start) product = scale;
            else if (divide) product += 4;  // the divisor's scale only had to be told
            else product += scale;
            start = false;
            if (end == last) break;
            const std::size_t op = m_reader.next(end);
            if (m_reader.is_symbol(op, L'+') || m_reader.is_symbol(op, L'-')) {
                sum = std::max(sum, product);
                start = true;
            } else if (m_reader.is_symbol(op, L'/') && inexact) {
                divide = true;
                *inexact = true;
            } else if (m_reader.is_symbol(op, L'*')) {
                divide = false;
            } else {
                return -1;
            }
            k = m_reader.next(op);
        }
        return std::max(sum, product);
    }

    // The scale of the operand first..last when it is an integer or a decimal the text tells:
    // a number, a table's integer or decimal column, COUNT(...), SUM of such a column, each
    // maybe signed; -1 otherwise.
    int operand_scale(std::size_t first, std::size_t last, bool* inexact = nullptr) const
    {
        while (first != npos && first < last && (m_reader.is_symbol(first, L'-') || m_reader.is_symbol(first, L'+')))
            first = m_reader.next(first);
        if (first == npos || last == npos || first > last) return -1;
        const udb_token& t = tokens()[first];
        if (first == last && t.kind == udb_token_kind::number) {
            if (t.text.find_first_of(L"eE") != std::wstring::npos) return -1;  // a double in MySQL
            const std::size_t dot = t.text.find(L'.');
            return dot == std::wstring::npos ? 0 : static_cast<int>(t.text.size() - dot - 1);
        }
        if (m_reader.is_symbol(first, L'(') && group_end(first) == last) {
            const std::size_t inner = m_reader.next(first);
            if (m_reader.is_word(inner, L"select")) return subquery_scale(first, last, inexact);
            return expr_scale(inner, m_reader.previous(last), inexact);
        }
        // CASE has the largest scale of its THEN and ELSE values (NULL has none).
        if (m_reader.is_word(first, L"case") && group_end(first) == last) {
            int scale = -1;
            for (const auto& [branch, end] : case_values(first, last)) {
                if (branch == end && m_reader.is_word(branch, L"null")) continue;
                const int s = expr_scale(branch, end, inexact);
                if (s < 0) return -1;
                scale = std::max(scale, s);
            }
            return scale;
        }
        const std::size_t open = m_reader.next(first);
        if (m_reader.is_symbol(open, L'(') && group_end(open) == last) {
            // Functions of an integer result (LENGTH(p) / 2 is 1.5000).
            static const wchar_t* const integer_functions[] = {
                L"count", L"length", L"char_length", L"character_length", L"octet_length", L"bit_length",
                L"year", L"month", L"day", L"dayofmonth"};
            if (std::any_of(std::begin(integer_functions), std::end(integer_functions),
                            [&](const wchar_t* w) { return m_reader.is_word(first, w); }))
                return 0;
            if (m_reader.is_word(first, L"coalesce") || m_reader.is_word(first, L"ifnull"))
                return coalesce_scale(open, last);
            if (m_reader.is_word(first, L"nullif")) {  // its first argument's
                const auto args = arguments(open, last);
                return args.size() == 2 && args[0].first != npos ? operand_scale(args[0].first, args[0].second) : -1;
            }
            if (m_reader.is_word(first, L"cast")) {
                // CAST(x AS DECIMAL(p, s)), as MySQL stores it
                const std::size_t type_close = m_reader.previous(last);
                if (!m_reader.is_symbol(type_close, L')')) return -1;
                std::size_t type = type_close;
                while (type != npos && type > open && !m_reader.is_symbol(type, L'(')) type = m_reader.previous(type);
                const std::size_t word = m_reader.previous(type);
                if (!m_reader.is_word(word, L"decimal") || !m_reader.is_word(m_reader.previous(word), L"as")) return -1;
                const auto args = arguments(type, type_close);
                if (args.size() == 1) return 0;
                if (args.size() != 2 || args[1].first != args[1].second) return -1;
                const udb_token& digits = tokens()[args[1].first];
                if (digits.kind != udb_token_kind::number || digits.text.size() > 2 ||
                    digits.text.find_first_not_of(L"0123456789") != std::wstring::npos)
                    return -1;
                return std::stoi(digits.text);
            }
            // SUM, MIN, MAX and ABS keep their argument's scale (a quotient's too).
            if (m_reader.is_word(first, L"sum") || m_reader.is_word(first, L"min") || m_reader.is_word(first, L"max") ||
                m_reader.is_word(first, L"abs")) {
                std::size_t arg = m_reader.next(open);
                if (m_reader.is_word(arg, L"distinct")) arg = m_reader.next(arg);
                return expr_scale(arg, m_reader.previous(last), inexact);
            }
            return -1;
        }
        for (const udb_view_name& n : m_reader.names())
            if (n.role == udb_name_role::column && n.parts.front() == first && n.parts.back() == last)
                return exact_scale(n);
        return -1;
    }

    // MySQL stores LIMIT n OFFSET m as LIMIT m,n, which PostgreSQL does not read.
    void limit_offsets()
    {
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (!m_reader.is_word(i, L"limit")) continue;
            const std::size_t offset = m_reader.next(i), comma = m_reader.next(offset), count = m_reader.next(comma);
            if (offset == npos || count == npos || !m_reader.is_symbol(comma, L',') ||
                tokens()[offset].kind != udb_token_kind::number || tokens()[count].kind != udb_token_kind::number)
                continue;
            put(offset, output_of(count));
            put(comma, L" offset ");
            put(count, tokens()[offset].text);
        }
    }

    // The THEN and ELSE values of CASE ... END (open..end): each its first and last token.
    std::vector<std::pair<std::size_t, std::size_t>> case_values(std::size_t open, std::size_t end) const
    {
        std::vector<std::pair<std::size_t, std::size_t>> values;
        std::size_t branch = npos;
        for (std::size_t k = m_reader.next(open); k != npos && k <= end; k = m_reader.next(k)) {
            const bool stop = k == end || m_reader.is_word(k, L"when") || m_reader.is_word(k, L"else");
            if (stop && branch != npos) {
                const std::size_t last = m_reader.previous(k);
                if (last != npos && last >= branch) values.emplace_back(branch, last);
                branch = npos;
            }
            if (k == end) break;
            if (m_reader.is_word(k, L"then") || m_reader.is_word(k, L"else")) {
                branch = m_reader.next(k);
                continue;
            }
            if (m_reader.is_symbol(k, L'(') || m_reader.is_word(k, L"case")) {
                const std::size_t close = group_end(k);
                if (close == npos) return {};
                k = close;
            }
        }
        return values;
    }

    // The scale of a scalar subquery (open..close its parentheses): its one column's, when
    // it is no UNION.
    int subquery_scale(std::size_t open, std::size_t close, bool* inexact) const
    {
        for (std::size_t k = open; k != npos && k <= close; k = m_reader.next(k))
            if (m_reader.is_word(k, L"union") || m_reader.is_word(k, L"except") || m_reader.is_word(k, L"intersect"))
                return -1;
        for (const auto& [first, last, scope] : select_items())
            if (first > open && last < close) return expr_scale(first, last, inexact);
        return -1;
    }

    // MySQL sorts NULL before every value, PostgreSQL after: each ORDER BY item (of a query or a
    // window) says where NULL goes, so a view with ORDER BY ... LIMIT keeps the rows MySQL gives.
    // A window's ORDER BY ends where its frame (ROWS, RANGE) begins.
    void null_ordering()
    {
        static const wchar_t* const clause_ends[] = {L"limit", L"union", L"except", L"intersect", L"for", L"lock",
                                                     L"into", L"procedure", L"window", L"offset", L"fetch",
                                                     L"rows", L"range", L"groups"};
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (!m_reader.is_word(i, L"order") || !m_reader.is_word(m_reader.next(i), L"by")) continue;
            std::size_t last = npos;  // the item's last token so far
            int depth = 0;
            std::size_t k = m_reader.next(m_reader.next(i));
            for (; k != npos; k = m_reader.next(k)) {
                if (m_reader.is_symbol(k, L'(')) {
                    ++depth;
                } else if (m_reader.is_symbol(k, L')')) {
                    if (--depth < 0) break;
                } else if (depth == 0) {
                    if (m_reader.is_symbol(k, L';')) break;
                    if (std::any_of(std::begin(clause_ends), std::end(clause_ends),
                                    [&](const wchar_t* w) { return m_reader.is_word(k, w); }))
                        break;
                    if (m_reader.is_symbol(k, L',')) {
                        place_nulls(last);
                        last = npos;
                        continue;
                    }
                }
                last = k;
            }
            place_nulls(last);
            if (k == npos) break;
            i = k - 1;
        }
    }

    // MariaDB returns groups in the order of GROUP BY (NULL first), so GROUP BY ... LIMIT without
    // ORDER BY picks the first groups: the PostgreSQL text says that order (MySQL's groups come
    // in no order, which this order is one of).
    void group_ordering()
    {
        static const wchar_t* const ends[] = {L"union", L"except", L"intersect", L"for", L"lock", L"into",
                                              L"procedure", L"window", L"offset", L"fetch", L"with"};
        for (std::size_t i = 0; i < tokens().size(); ++i) {
            if (!m_reader.is_word(i, L"group") || !m_reader.is_word(m_reader.next(i), L"by")) continue;
            std::vector<std::pair<std::size_t, std::size_t>> items;
            std::size_t first = npos, last = npos, limit = npos;
            bool in_items = true;
            std::size_t k = m_reader.next(m_reader.next(i));
            for (; k != npos; k = m_reader.next(k)) {
                if (m_reader.is_symbol(k, L'(') || m_reader.is_word(k, L"case")) {
                    const std::size_t end = group_end(k);
                    if (end == npos) break;
                    if (in_items) {
                        if (first == npos) first = k;
                        last = end;
                    }
                    k = end;
                    continue;
                }
                if (m_reader.is_symbol(k, L')') || m_reader.is_symbol(k, L';') || m_reader.is_word(k, L"order") ||
                    std::any_of(std::begin(ends), std::end(ends), [&](const wchar_t* w) { return m_reader.is_word(k, w); }))
                    break;
                if (m_reader.is_word(k, L"limit")) {
                    limit = k;
                    break;
                }
                if (m_reader.is_word(k, L"having")) {
                    in_items = false;
                } else if (in_items && m_reader.is_symbol(k, L',')) {
                    items.emplace_back(first, last);
                    first = last = npos;
                } else if (in_items) {
                    if (m_reader.is_word(k, L"with") || m_reader.is_word(k, L"asc") || m_reader.is_word(k, L"desc"))
                        break;  // WITH ROLLUP, GROUP BY a DESC: left to the server
                    if (first == npos) first = k;
                    last = k;
                }
            }
            if (first != npos) items.emplace_back(first, last);
            if (limit == npos || items.empty()) continue;
            std::wstring order = L"order by ";
            for (std::size_t n = 0; n < items.size(); ++n) {
                if (items[n].first == npos) return;
                if (n) order += L", ";
                for (std::size_t t = items[n].first; t <= items[n].second; ++t)
                    if (tokens()[t].kind != udb_token_kind::comment) order += output_of(t);
                order += L" NULLS FIRST";
            }
            put(limit, order + L" " + output_of(limit));
        }
    }

    void place_nulls(std::size_t last)
    {
        if (last == npos) return;
        if (!m_given[last]) put(last, tokens()[last].text);
        m_out[last] += m_reader.is_word(last, L"desc") ? L" NULLS LAST" : L" NULLS FIRST";
    }

    std::wstring assemble() const
    {
        const std::vector<udb_token>& t = tokens();
        std::wstring out;
        bool skip_space = false;
        for (std::size_t i = 0; i < t.size(); ++i) {
            if (t[i].kind == udb_token_kind::comment) {
                // Gone: a blank keeps its neighbours apart, and one blank stays of two.
                const bool blank_before = out.empty() || is_space_char(out.back());
                const bool blank_after = i + 1 >= t.size() || t[i + 1].kind == udb_token_kind::space;
                if (blank_before && blank_after) skip_space = true;
                else if (!blank_before && !blank_after) out += L' ';
                continue;
            }
            if (skip_space && t[i].kind == udb_token_kind::space) {
                skip_space = false;
                continue;
            }
            skip_space = false;
            const std::wstring& piece = m_given[i] ? m_out[i] : t[i].text;
            if (piece.empty()) continue;
            if (!out.empty()) {
                const wchar_t a = out.back(), b = piece.front();
                // Kept apart where PostgreSQL would read one token (a comment, an E'' string)
                // or a word running into the next.
                const bool glue = (a == L'-' && b == L'-') || (a == L'/' && b == L'*') || (a == L'*' && b == L'/') ||
                                  (a == L'"' && b == L'"') || (a == L'\'' && b == L'\'') ||
                                  (a == L'&' && (b == L'"' || b == L'\'')) ||
                                  (is_word_char(a) && (b == L'\'' || is_word_char(b)));
                if (glue) out += L' ';
            }
            out += piece;
        }
        std::size_t from = 0, to = out.size();
        while (from < to && is_space_char(out[from])) ++from;
        while (to > from && is_space_char(out[to - 1])) --to;
        return out.substr(from, to - from);
    }

    udb_view_reader m_reader;
    const pgs_view_names* m_names;
    bool m_case_sens;
    std::vector<std::wstring> m_out;
    std::vector<bool> m_given;
    std::vector<std::vector<source_entry>> m_entries;  // per block
    std::vector<pgs_view_names::relation> m_block_kinds;  // per block read as a table
    std::vector<std::size_t> m_repeated;  // the LOG(B, X), SQRT and SUBSTR calls repeating an argument
};

}  // namespace

std::wstring pgs_view_text(const std::wstring& mysql_text, const pgs_view_names* names, bool case_sens)
{
    tk_write_wlog(2, L"pgs_view_text(%s)", mysql_text.c_str());
    return view_rewriter(mysql_text.substr(0, mysql_text.find(L'\0')), names, case_sens).run();
}

void pgs_view_output_kinds(const std::wstring& mysql_text, const pgs_view_names* names, bool case_sens,
                           pgs_view_names::relation& view)
{
    auto forget = [&] {
        view.dates.clear();
        view.whole_seconds.clear();
        view.by_place.clear();
        view.exact.clear();
        view.integers.clear();
        view.singles.clear();
    };
    forget();
    try {
        view_rewriter(mysql_text.substr(0, mysql_text.find(L'\0')), names, case_sens).output_kinds(view);
    } catch (const pgs_exception&) {
        // A text the rewriting refuses was not created: nothing reads it.
        forget();
    }
}

bool pgs_view_outputs(const std::wstring& mysql_text, std::vector<std::wstring>& outputs)
{
    const udb_view_reader reader(mysql_text);
    outputs.clear();
    if (reader.main_scope() < 0) return false;
    const udb_view_scope& s = reader.scopes()[static_cast<std::size_t>(reader.main_scope())];
    outputs = s.outputs;
    return s.outputs_known;
}

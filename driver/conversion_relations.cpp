#include "driver/conversion_relations.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <queue>
#include <set>
#include <unordered_map>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_failure.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_mutator.h"
#include "pg_target/pgs_validators.h"
#include "pg_target/pgs_view_text.h"
#include "UDB/udb_view_text.h"

namespace {

// SQLSTATE of a constraint whose name the table already has.
constexpr const char* sqlstate_duplicate_object = "42710";

std::wstring key_label(const udb_relationship& key, const std::wstring& table)
{
    return L"Foreign key '" + key.name + L"' of table '" + table + L"'";
}

// A source column under the name the user's changes give it; false when they leave it out.
bool mutated_column(const pgs_table_mutator* mutator, const std::wstring& column, std::wstring& out)
{
    out = column;
    if (!mutator) return true;
    const pgs_field_mutator* fm = mutator->get_field_mutator(column);
    if (!fm) return true;
    if (fm->get_status() == udb_mutators::deleted) return false;
    out = fm->get_new_name();
    return true;
}

}  // namespace

void conversion_relations::add_table(const std::wstring& source, const std::wstring& dest,
                                     const pgs_table_mutator* mutator, bool with_keys, const udb_schema& columns)
{
    m_by_name.emplace(source, m_tables.size());  // the first stays, as find() takes it
    m_tables.push_back({source, dest, mutator, with_keys, columns});
}

const conversion_relations::table* conversion_relations::find(const std::wstring& source) const
{
    // The source's own spelling first; then ignoring case, as a server that folds table
    // names may write a reference.
    for (const table& t : m_tables)
        if (t.source == source) return &t;
    // A source table of that very name that the run does not convert is the one meant.
    if (m_source_tables.count(source)) return nullptr;
    for (const table& t : m_tables)
        if (tk_equal_no_case(t.source, source)) return &t;
    return nullptr;
}

bool conversion_relations::is_unsigned_bigint_serial(const std::wstring& source, const std::wstring& column) const
{
    const table* t = find(source);
    if (!t || t->mutator) return false;
    for (std::size_t i = 0; i < t->columns.size(); ++i) {
        const t_ftd& c = t->columns[i];
        if (c.name == column || tk_equal_no_case(c.name, column))
            return c.auto_increment && c.vartype == VT_UI8 && c.nativetype.empty();
    }
    return false;
}

const conversion_relations::table* conversion_relations::find_for_good(const std::wstring& source) const
{
    if (auto it = m_by_name.find(source); it != m_by_name.end()) return &m_tables[it->second];
    // A table of that very name still to come would be the one found at the end; one equal to
    // it but for case comes after the one found now.
    if (m_planned.count(source)) return nullptr;
    return find(source);
}

udb_relationship conversion_relations::mapped_key(const udb_relationship& key, const table& child,
                                                  const table& parent, std::wstring& missing)
{
    // Schema-qualified, so the destination's table map (keyed by bare names) cannot turn
    // a name into that of another table equal to it but for case.
    udb_relationship mapped(key.name, key.second_name, pgs_base_db::get_full_name(child.dest),
                            pgs_base_db::get_full_name(parent.dest), {}, {}, key.rule);
    missing.clear();
    for (const std::wstring& c : key.fk_flds) {
        std::wstring m;
        if (!mutated_column(child.mutator, c, m)) missing = c;
        mapped.fk_flds.push_back(m);
    }
    for (const std::wstring& c : key.pk_flds) {
        std::wstring m;
        if (!mutated_column(parent.mutator, c, m)) missing = c;
        mapped.pk_flds.push_back(m);
    }
    return mapped;
}

bool conversion_relations::in_one_cycle(const std::wstring& a, const std::wstring& b) const
{
    for (const std::vector<std::wstring>& cycle : m_cycles)
        if (std::find(cycle.begin(), cycle.end(), a) != cycle.end() &&
            std::find(cycle.begin(), cycle.end(), b) != cycle.end())
            return true;
    return false;
}

void conversion_relations::allow_early_keys(std::vector<std::wstring> planned,
                                            std::vector<std::vector<std::wstring>> cycles)
{
    m_early_allowed = true;
    for (std::wstring& name : planned) {
        m_planned_folded.insert(tk_to_lower(name));
        m_planned.insert(std::move(name));
    }
    m_cycles = std::move(cycles);
}

void conversion_relations::table_finished(const std::wstring& source)
{
    if (auto it = m_by_name.find(source); it != m_by_name.end()) m_tables[it->second].finished = true;
}

std::size_t conversion_relations::create_ready_keys(const std::vector<udb_relationship>& source_keys,
                                                    pgs_base_db& dest)
{
    if (!m_early_allowed) return 0;
    for (; m_keys_read < source_keys.size(); ++m_keys_read) m_undecided.push_back(m_keys_read);
    std::size_t handed = 0;
    std::set<key_id> seen;  // a table read twice gives its keys twice: the first decides
    std::vector<std::size_t> still;
    for (std::size_t at : m_undecided) {
        const udb_relationship& key = source_keys[at];
        // Decided: false while the key may still go early, true once it never will (or went).
        const bool decided = [&] {
            const table* child = find_for_good(key.table);
            if (!child) return !m_planned.count(key.table) && !m_planned_folded.count(tk_to_lower(key.table));
            if (!child->with_keys) return true;
            if (!child->finished) return false;
            const key_id id(child->source, key.name);
            if (m_handed_over.count(id) || m_at_the_end.count(id)) return true;
            if (!seen.insert(id).second) return false;  // its first listing waits
            const table* parent = find_for_good(key.ref_table);
            if (!parent) {
                // Still to come, or never (create_keys reports it).
                if (m_planned.count(key.ref_table) || m_planned_folded.count(tk_to_lower(key.ref_table))) return false;
                m_at_the_end.insert(id);
                return true;
            }
            // A table left alone, or a circle of tables: after the last table, as ever.
            if (!parent->with_keys || (parent != child && in_one_cycle(child->source, parent->source))) {
                m_at_the_end.insert(id);
                return true;
            }
            if (!parent->finished) return false;
            std::wstring missing;
            const udb_relationship mapped = mapped_key(key, *child, *parent, missing);
            bool rule_taken = true;
            try {
                pgs_base_db::checked_fk_rule(mapped);
            } catch (const pgs_exception&) {
                rule_taken = false;
            }
            if (!missing.empty() || !rule_taken) {
                m_at_the_end.insert(id);  // reported there, in its turn
                return true;
            }
            const std::wstring label = key_label(mapped, mapped.table);
            switch (dest.create_relationship_early(mapped, label)) {
            case pgs_key_timing::handed_over:
                m_handed_over.emplace(id, label);
                ++handed;
                return true;
            case pgs_key_timing::not_yet:
                return false;
            case pgs_key_timing::at_the_end:
                break;
            }
            m_at_the_end.insert(id);
            return true;
        }();
        if (!decided) still.push_back(at);
    }
    m_undecided = std::move(still);
    return handed;
}

std::uint64_t conversion_relations::create_keys(const std::vector<udb_relationship>& source_keys,
                                                pgs_base_db& dest)
{
    tk_write_log(2, "conversion_relations::create_keys(%d)", static_cast<int>(source_keys.size()));
    // A key handed back undone (its connection broke, the server stayed) is created here.
    for (const std::wstring& label : dest.take_returned_steps())
        for (auto it = m_handed_over.begin(); it != m_handed_over.end();)
            it = it->second == label ? m_handed_over.erase(it) : std::next(it);

    std::uint64_t failed = 0;
    auto leave_out = [&](const std::wstring& table, const std::wstring& label, const tk_exception& e) {
        ++failed;
        tk_write_wlog(3, L"%s was not created", label.c_str());
        udb_failure f = udb_failure_of(udb_failure_kind::foreign_key, table, label, e);
        if (const auto* pg = dynamic_cast<const pgs_exception*>(&e)) f = pgs_failure_of(f.kind, table, label, *pg);
        udb_report_failure(f);
    };

    std::vector<udb_relationship> keys;
    std::vector<key_id> seen;  // a table read twice gives its keys twice
    for (const udb_relationship& key : source_keys) {
        const table* child = find(key.table);
        if (!child || !child->with_keys) continue;
        if (std::find(seen.begin(), seen.end(), key_id(child->source, key.name)) != seen.end()) continue;
        seen.emplace_back(child->source, key.name);
        m_taken_up.emplace(tk_to_lower(pgs_base_db::get_full_name(child->dest)), tk_to_lower(key.name));
        // Created beside the rows (or reported there, as below).
        if (m_handed_over.count(key_id(child->source, key.name))) continue;

        const std::wstring label = key_label(key, child->source);
        const table* parent = find(key.ref_table);
        if (!parent) {
            // A table merged into may have the key already, made by an earlier run that
            // converted both tables: it stands, and nothing is left out. Where another source
            // table's name differs from the parent's only in case, the key there may refer to
            // either: it is reported.
            const bool one_of_its_name =
                std::count_if(m_source_tables.begin(), m_source_tables.end(),
                              [&](const std::wstring& t) { return tk_equal_no_case(t, key.ref_table); }) <= 1;
            if (auto* live = dynamic_cast<pgs_database*>(&dest); live && one_of_its_name) {
                bool stands = false;
                try {
                    stands = live->has_foreign_key(child->dest, key.name, key.ref_table);
                } catch (const pgs_exception& e) {
                    leave_out(child->source, label, e);
                    continue;
                }
                if (stands) {
                    tk_write_wlog(3, L"%s already exists", label.c_str());
                    continue;
                }
            }
            leave_out(child->source, label, tk_exception(L"The referenced table '" + key.ref_table +
                                              L"' was not converted; the key was not created.",
                                          0));
            continue;
        }
        std::wstring missing;
        udb_relationship mapped = mapped_key(key, *child, *parent, missing);
        if (!missing.empty()) {
            leave_out(child->source, label, tk_exception(L"Its column '" + missing + L"' was left out; the key was not created.", 0));
            continue;
        }
        try {
            // Checked before anything is written, so a script never holds half a list.
            pgs_base_db::checked_fk_rule(mapped);
        } catch (const pgs_exception& e) {
            leave_out(child->source, label, e);
            continue;
        }
        keys.push_back(std::move(mapped));
    }

    if (dynamic_cast<pgs_dmp_database*>(&dest)) {
        // Written together under one heading; each is guarded in the script itself.
        dest.create_relationships(keys);
        return failed;
    }
    // Live: one key at a time, so a refusal leaves out that key only.
    for (const udb_relationship& key : keys) {
        const std::wstring label = key_label(key, key.table);
        udb_failure failure;
        try {
            dest.create_relationships({key});
            continue;
        } catch (const pgs_exception& e) {
            // No answer to the statement, and none to the run's connection: the server is
            // gone, which is no failure of this key but the end of the run.
            if (e.sqlstate().empty() && tk_singleton<pgs_engine>::get_instance()->is_connection_lost())
                throw pgs_connection_lost_exception(e.what());
            if (e.sqlstate() == sqlstate_duplicate_object) {
                tk_write_wlog(3, L"%s already exists", label.c_str());
                continue;
            }
            failure = pgs_failure_of(udb_failure_kind::foreign_key, key.table, label, e);
        }
        // Reported outside the handler: an Abort chosen in the report leaves at once.
        ++failed;
        tk_write_wlog(3, L"%s was not created", label.c_str());
        udb_report_failure(failure);
    }
    return failed;
}

bool conversion_relations::took_up_key(const std::wstring& table, const std::wstring& name) const
{
    return m_taken_up.count({tk_to_lower(table), tk_to_lower(name)}) != 0;
}

std::vector<std::size_t> conversion_relations::load_order(
    const std::vector<std::wstring>& tables, const std::vector<std::pair<std::wstring, std::wstring>>& references,
    std::vector<std::vector<std::wstring>>& cycles)
{
    const std::size_t n = tables.size();
    std::unordered_map<std::wstring, std::size_t> exact, folded;
    for (std::size_t i = n; i-- > 0;) {
        exact[tables[i]] = i;
        folded[tk_to_lower(tables[i])] = i;
    }
    auto position = [&](const std::wstring& name) -> std::ptrdiff_t {
        if (auto it = exact.find(name); it != exact.end()) return static_cast<std::ptrdiff_t>(it->second);
        if (auto it = folded.find(tk_to_lower(name)); it != folded.end()) return static_cast<std::ptrdiff_t>(it->second);
        return -1;
    };
    // parents[i]: the tables table i refers to.
    std::vector<std::vector<std::size_t>> parents(n);
    for (const auto& [child, parent] : references) {
        const std::ptrdiff_t c = position(child), p = position(parent);
        if (c < 0 || p < 0 || c == p) continue;
        parents[std::size_t(c)].push_back(std::size_t(p));
    }

    // Tables that refer to each other in a circle load as one group (strongly connected
    // components, found without recursion so a long chain of references cannot exhaust the
    // stack).
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::vector<std::size_t> index(n, none), low(n, 0), group(n, none), open;
    std::vector<bool> is_open(n, false);
    std::size_t counter = 0, groups = 0;
    for (std::size_t root = 0; root < n; ++root) {
        if (index[root] != none) continue;
        std::vector<std::pair<std::size_t, std::size_t>> walk{{root, 0}};  // (table, next parent)
        index[root] = low[root] = counter++;
        open.push_back(root);
        is_open[root] = true;
        while (!walk.empty()) {
            const std::size_t v = walk.back().first;
            const std::size_t next = walk.back().second;
            if (next < parents[v].size()) {
                ++walk.back().second;
                const std::size_t w = parents[v][next];
                if (index[w] == none) {
                    index[w] = low[w] = counter++;
                    open.push_back(w);
                    is_open[w] = true;
                    walk.emplace_back(w, 0);
                } else if (is_open[w]) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            if (low[v] == index[v]) {
                std::size_t w;
                do {
                    w = open.back();
                    open.pop_back();
                    is_open[w] = false;
                    group[w] = groups;
                } while (w != v);
                ++groups;
            }
            walk.pop_back();
            if (!walk.empty()) low[walk.back().first] = std::min(low[walk.back().first], low[v]);
        }
    }

    std::vector<std::vector<std::size_t>> members(groups), children(groups);
    std::vector<std::size_t> waiting(groups, 0);  // references to other groups not loaded yet
    for (std::size_t v = 0; v < n; ++v) members[group[v]].push_back(v);  // ascending: the given order
    for (std::size_t v = 0; v < n; ++v)
        for (std::size_t p : parents[v])
            if (group[p] != group[v]) {
                children[group[p]].push_back(group[v]);
                ++waiting[group[v]];
            }
    // Of the groups whose parents are all loaded, the one listed first goes next.
    using entry = std::pair<std::size_t, std::size_t>;  // (first table's position, group)
    std::priority_queue<entry, std::vector<entry>, std::greater<entry>> ready;
    for (std::size_t g = 0; g < groups; ++g)
        if (waiting[g] == 0) ready.emplace(members[g].front(), g);
    std::vector<std::size_t> order;
    order.reserve(n);
    while (!ready.empty()) {
        const std::size_t g = ready.top().second;
        ready.pop();
        order.insert(order.end(), members[g].begin(), members[g].end());
        if (members[g].size() > 1) {
            cycles.emplace_back();
            for (std::size_t v : members[g]) cycles.back().push_back(tables[v]);
        }
        for (std::size_t c : children[g])
            if (--waiting[c] == 0) ready.emplace(members[c].front(), c);
    }
    return order;
}

udb_view_list conversion_relations::views_to_convert(const udb_view_list& source_views, bool all,
                                                     const udb_view_list& selected)
{
    if (all) return source_views;
    udb_view_list out;
    for (const udb_view& view : selected) {
        auto same = std::find_if(source_views.begin(), source_views.end(),
                                 [&](const udb_view& v) { return v.first == view.first; });
        if (same == source_views.end())
            same = std::find_if(source_views.begin(), source_views.end(),
                                [&](const udb_view& v) { return tk_equal_no_case(v.first, view.first); });
        const bool twice = std::any_of(out.begin(), out.end(), [&](const udb_view& v) {
            return v.first == (same != source_views.end() ? same->first : view.first);
        });
        if (twice) continue;
        out.push_back(same != source_views.end() ? *same : view);
    }
    return out;
}

udb_view_list conversion_relations::in_dependency_order(const udb_view_list& views)
{
    const std::size_t n = views.size();
    // reads[i][j]: view i reads view j (a table of its FROM clauses has j's name).
    std::vector<std::vector<bool>> reads(n, std::vector<bool>(n, false));
    for (std::size_t i = 0; i < n; ++i) {
        const udb_view_reader reader(views[i].second);
        for (const udb_view_name& name : reader.names()) {
            if (name.role != udb_name_role::table || name.parts.size() != 1) continue;
            for (std::size_t j = 0; j < n; ++j)
                if (i != j && reader.part(name, 0) == views[j].first) reads[i][j] = true;
        }
    }

    udb_view_list out;
    out.reserve(n);
    std::vector<bool> placed(n, false);
    while (out.size() < n) {
        bool progress = false;
        for (std::size_t i = 0; i < n; ++i) {
            if (placed[i]) continue;
            bool ready = true;
            for (std::size_t j = 0; j < n && ready; ++j)
                if (reads[i][j] && !placed[j]) ready = false;
            if (!ready) continue;
            placed[i] = true;
            out.push_back(views[i]);
            progress = true;
        }
        if (!progress) {
            // A cycle (not possible in a real source): the rest in their own order.
            for (std::size_t i = 0; i < n; ++i)
                if (!placed[i]) out.push_back(views[i]);
            break;
        }
    }
    return out;
}

udb_view_list conversion_relations::views_made_again(const udb_view_list& views, const std::vector<std::wstring>& tables)
{
    // What each view reads: the single names of its FROM clauses that are not its own common
    // table expressions; a name with a database before it can never be read.
    struct reads {
        std::vector<std::wstring> names;
        bool other_database = false;
    };
    std::vector<reads> read(views.size());
    for (std::size_t i = 0; i < views.size(); ++i) {
        const udb_view_reader reader(views[i].second);
        for (const udb_view_name& name : reader.names()) {
            if (name.role != udb_name_role::table) continue;
            if (name.parts.size() != 1) {
                read[i].other_database = true;
                continue;
            }
            const std::wstring& first = reader.part(name, 0);
            const bool cte = std::any_of(reader.scopes().begin(), reader.scopes().end(), [&](const udb_view_scope& s) {
                return std::any_of(s.ctes.begin(), s.ctes.end(),
                                   [&](const auto& c) { return tk_equal_no_case(c.first, first); });
            });
            if (!cte) read[i].names.push_back(first);
        }
    }
    // Names are matched as the views' names are found when they are made: ignoring case too.
    const auto among = [](const std::wstring& name, const std::vector<std::wstring>& list) {
        return std::any_of(list.begin(), list.end(), [&](const std::wstring& n) { return tk_equal_no_case(n, name); });
    };
    std::vector<bool> kept(views.size(), true);
    for (bool changed = true; changed;) {
        changed = false;
        std::vector<std::wstring> kept_views;
        for (std::size_t i = 0; i < views.size(); ++i)
            if (kept[i]) kept_views.push_back(views[i].first);
        for (std::size_t i = 0; i < views.size(); ++i) {
            if (!kept[i]) continue;
            const bool readable = !read[i].other_database &&
                                  std::all_of(read[i].names.begin(), read[i].names.end(), [&](const std::wstring& n) {
                                      return among(n, tables) || among(n, kept_views);
                                  });
            if (!readable) {
                kept[i] = false;
                changed = true;
            }
        }
    }
    udb_view_list out;
    for (std::size_t i = 0; i < views.size(); ++i)
        if (kept[i]) out.push_back(views[i]);
    return out;
}

std::unique_ptr<pgs_view_names> conversion_relations::view_names(const pgs_base_db& dest, const std::wstring& schema,
                                                                 bool case_sens) const
{
    auto names = std::make_unique<pgs_view_names>();
    const udb_names_map::field_maps& recorded = dest.get_names_map().get_fn_maps();
    for (const table& t : m_tables) {
        pgs_view_names::relation r;
        r.source = t.source;
        // The run names a table "schema.table", or "table" in the default schema.
        const std::size_t dot = t.dest.find(L'.');
        const std::wstring table_schema =
            dot == std::wstring::npos ? (schema.empty() ? std::wstring(L"public") : schema) : t.dest.substr(0, dot);
        const std::wstring table_name = dot == std::wstring::npos ? t.dest : t.dest.substr(dot + 1);
        r.schema = pgs_truncate_identifier(pgs_fold_name(table_schema, case_sens));
        r.name = pgs_truncate_identifier(pgs_fold_name(table_name, case_sens));
        r.mutator = t.mutator;
        // The column names the table's creation recorded (under the name it was given);
        // a table the run found in place got them from an earlier run by the same rules.
        auto it = recorded.find(pgs_fold_name(t.dest, case_sens));
        if (it == recorded.end()) it = recorded.find(t.dest);
        r.columns = it != recorded.end() ? it->second : pgs_column_names_of(t.columns, case_sens);
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            const t_ftd& c = t.columns[i];
            const pgs_field_mutator* fm = t.mutator ? t.mutator->get_field_mutator(c.name) : nullptr;
            const std::wstring name = fm ? fm->get_new_name() : c.name;
            if (c.vartype == VT_DATE) r.dates.push_back(name);
            if (c.sorts_by_place) r.by_place.push_back(name);
            if (fm) continue;  // its type is the user's
            if (c.vartype == VT_DATE && c.scale <= 0) r.whole_seconds.push_back(name);
            switch (c.vartype) {
            case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
            case VT_I8:
                r.integers.push_back(name);
                r.exact.emplace_back(name, 0);
                break;
            case VT_UI8: r.exact.emplace_back(name, 0); break;
            case VT_R4: r.singles.push_back(name); break;
            case VT_DECIMAL: case VT_CY: r.exact.emplace_back(name, c.scale); break;
            default: break;
            }
        }
        names->add(std::move(r));
    }
    return names;
}

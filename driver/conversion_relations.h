#pragma once
// The foreign keys and views of a run. They are created after the rows of every work item,
// so rows load in any order and a view finds its tables (and the views it reads) in place.
// Live, a foreign key may be created sooner, beside the rows of the tables still loading, as
// soon as both of its tables are finished (create_ready_keys); the rest follow the last table.
// Whatever cannot be created is reported and counted (udb_report_failure); the rest goes on.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "UDB/udb_database.h"
#include "UDB/udb_index.h"
#include "UDB/udb_schema.h"

class pgs_base_db;
class pgs_view_names;
class pgs_table_mutator;

class conversion_relations {
public:
    // A work item whose destination table is in place: `source` the source table's name,
    // `dest` its full destination name, `mutator` the user's changes of the table (may be
    // null; must outlive this object). `with_keys`: the run created or filled the table, so
    // its own keys are wanted; a table the run left alone (mode 2) is only a possible parent.
    // `columns`: the table's columns after the user's changes, which name the destination's
    // columns of a table the run did not create itself.
    void add_table(const std::wstring& source, const std::wstring& dest, const pgs_table_mutator* mutator,
                   bool with_keys, const udb_schema& columns);
    // Every table of the source: a key that refers to one of them by its very name refers to
    // that table, never to another the run converts whose name differs from it only in case.
    void set_source_tables(const std::vector<std::wstring>& names) { m_source_tables.insert(names.begin(), names.end()); }

    // Whether the column `column` of the table `source` (added before, without the user's
    // changes) is an unsigned BIGINT auto-increment column, which arrives as a bigint serial.
    bool is_unsigned_bigint_serial(const std::wstring& source, const std::wstring& column) const;

    // Creates the keys of the tables added with_keys, in the order the source gave them, each
    // with its tables and columns under their destination names. A key whose parent table is
    // not in place, whose column was left out, or that the destination refuses is reported
    // and counted (kind foreign_key) and left out; a key the table already has (a run
    // appending to existing tables) is kept without a word. Returns the number left out.
    // Keys handed over by create_ready_keys are left to the destination (which reports a
    // refusal as this would), except those it handed back undone.
    std::uint64_t create_keys(const std::vector<udb_relationship>& source_keys, pgs_base_db& dest);
    // Whether create_keys took up a key of that name (ignoring case) for the destination
    // table `table` (schema.name): it made it, or reported it.
    bool took_up_key(const std::wstring& table, const std::wstring& name) const;

    // Keys may be created before the last table (create_ready_keys): `planned` the source
    // names of every table the run converts, `cycles` the tables that refer to each other in a
    // circle (as load_order gives them). Without this call every key waits for create_keys.
    void allow_early_keys(std::vector<std::wstring> planned, std::vector<std::vector<std::wstring>> cycles);
    // The table (source name, added before) has its rows stored and the building of its keys
    // and indexes handed over: it failed in nothing that ends its item.
    void table_finished(const std::wstring& source);
    // Offers the destination (create_relationship_early) each key create_keys would create
    // whose tables are both finished and kept keys (added with_keys), unless they refer to
    // each other in a circle, taken as create_keys would take them: the same tables, columns
    // and rule. A key that create_keys would report, or that touches a table left alone, a
    // table not finished, or a table whose name a later table could still take, waits for
    // create_keys. `source_keys` is the same list at every call, only grown (the source adds
    // a table's keys when it reads the table); a key is looked at again only until it is
    // decided. Returns how many were handed over now.
    std::size_t create_ready_keys(const std::vector<udb_relationship>& source_keys, pgs_base_db& dest);

    // The order in which tables load so that each comes after the tables it refers to:
    // `tables` the source names in their given order, `references` (table, referenced table)
    // pairs of the source's foreign keys, matched by name (exactly first, then ignoring case).
    // A table's reference to itself and references to tables not listed do not count. Tables
    // that refer to each other in a circle keep their given order among themselves, each
    // circle is returned in `cycles` (names as given, in that order); otherwise the given
    // order is kept wherever the references allow. Returns positions into `tables`.
    static std::vector<std::size_t> load_order(const std::vector<std::wstring>& tables,
                                               const std::vector<std::pair<std::wstring, std::wstring>>& references,
                                               std::vector<std::vector<std::wstring>>& cycles);

    // The views a run converts: every source view when `all`, otherwise the selected ones,
    // each with the source's present text (the selection's own text when the source no longer
    // has the view).
    static udb_view_list views_to_convert(const udb_view_list& source_views, bool all,
                                          const udb_view_list& selected);
    // The views ordered so that each comes after the views its text reads, the order
    // otherwise kept.
    static udb_view_list in_dependency_order(const udb_view_list& views);
    // Of `views`, those a run converting the tables `tables` (source names) can make again:
    // each table a view reads in its FROM clauses is one of `tables` or another view kept.
    // A view reading anything else (a table the run leaves out, another database) is refused
    // when the views are made, so it is not among what an overwritten table may take along.
    static udb_view_list views_made_again(const udb_view_list& views, const std::vector<std::wstring>& tables);

    // The tables the views of the run may read: each source table under its destination name
    // (in `schema`, public when empty), with its columns as the destination named them.
    std::unique_ptr<pgs_view_names> view_names(const pgs_base_db& dest, const std::wstring& schema,
                                               bool case_sens) const;

private:
    struct table {
        std::wstring source;
        std::wstring dest;
        const pgs_table_mutator* mutator;
        bool with_keys;
        udb_schema columns;
        bool finished = false;
    };
    using key_id = std::pair<std::wstring, std::wstring>;  // (child's source name, key name)

    const table* find(const std::wstring& source) const;
    // find() when no table added later can change its answer, else null.
    const table* find_for_good(const std::wstring& source) const;
    // The key under the destination's names: its tables' full names, its columns as the
    // user's changes name them. `missing`: a column they leave out, else empty.
    static udb_relationship mapped_key(const udb_relationship& key, const table& child, const table& parent,
                                       std::wstring& missing);
    bool in_one_cycle(const std::wstring& a, const std::wstring& b) const;

    std::vector<table> m_tables;
    std::unordered_map<std::wstring, std::size_t> m_by_name;  // source name -> first position in m_tables
    bool m_early_allowed = false;
    std::unordered_set<std::wstring> m_planned, m_planned_folded;
    std::unordered_set<std::wstring> m_source_tables;
    std::size_t m_keys_read = 0;           // of the source keys given to create_ready_keys
    std::vector<std::size_t> m_undecided;  // their positions, still to be offered
    std::vector<std::vector<std::wstring>> m_cycles;
    std::map<key_id, std::wstring> m_handed_over;  // key -> its label
    std::set<std::pair<std::wstring, std::wstring>> m_taken_up;  // (table, key), both lowered
    std::set<key_id> m_at_the_end;                 // keys decided for create_keys
};

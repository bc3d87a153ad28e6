#pragma once
// The foreign keys and views of a run. They are created after the rows of every work item,
// so rows load in any order and a view finds its tables (and the views it reads) in place.
// Whatever cannot be created is reported and counted (udb_report_failure); the rest goes on.

#include <cstdint>
#include <memory>
#include <string>
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

    // Creates the keys of the tables added with_keys, in the order the source gave them, each
    // with its tables and columns under their destination names. A key whose parent table is
    // not in place, whose column was left out, or that the destination refuses is reported
    // and counted (kind foreign_key) and left out; a key the table already has (a run
    // appending to existing tables) is kept without a word. Returns the number left out.
    std::uint64_t create_keys(const std::vector<udb_relationship>& source_keys, pgs_base_db& dest) const;

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
    };
    const table* find(const std::wstring& source) const;

    std::vector<table> m_tables;
};

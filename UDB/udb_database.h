#pragma once
// One open database: its table names, views, names map, sequences and foreign
// keys, and the operations that create, open, query and drop its objects.
// Each side implements it (the MySQL database, the live PostgreSQL database
// and the PostgreSQL script). A database is created by an engine and owned by
// whoever asked for it; the recordsets it hands out are owned by the caller.
// The base gives every operation a default, so a side overrides only what it
// can do.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <unordered_map>
#include <vector>

#include "UDB/udb_index.h"
#include "UDB/udb_names_map.h"
#include "UDB/udb_recordset.h"
#include "UDB/udb_schema.h"

// The range partitioning of a table for create_table2: the partition column
// (used verbatim as the key expression) and the partitions in order, each a
// name (part of its table's name) and an upper bound (an SQL expression).
struct udb_partition {
    struct range {
        std::wstring name;
        std::wstring upper_bound;
    };
    std::wstring column;
    std::vector<range> partitions;
};

// A view: its name and its SELECT text.
using udb_view = std::pair<std::wstring, std::wstring>;
using udb_view_list = std::vector<udb_view>;

class udb_database {
public:
    udb_database(std::wstring name, std::int32_t mode, bool case_sensitive);
    udb_database(const udb_database&) = delete;
    udb_database& operator=(const udb_database&) = delete;
    virtual ~udb_database();

    // --- operations each side may override (base behaviour in brackets) ---
    virtual void create_schema(const std::wstring& name);  // [nothing]
    // A range-partitioned table [internal error: a side that is asked for it
    // must override it].
    virtual std::unique_ptr<udb_recordset> create_table2(const std::wstring& name, udb_schema& schema,
                                                         udb_indexes& indexes, const udb_partition& partition);
    // Creates the table with its indexes (or opens it where the side does so)
    // and returns its recordset.
    virtual std::unique_ptr<udb_recordset> create_table1(const std::wstring& name, udb_schema& schema,
                                                         udb_indexes& indexes) = 0;
    virtual void create_index(const std::wstring& table, const udb_index& index);  // [nothing]
    // create_index for each index in order.
    virtual void create_indexes(const std::wstring& table, const udb_indexes& indexes);
    virtual void create_sequences(const std::vector<udb_sequence>& sequences);  // [nothing]
    virtual void create_views(const udb_view_list& views);                      // [nothing]
    virtual void delete_fk(const std::wstring& key_name);                       // [nothing]
    virtual void delete_fk(const udb_relationship& key);                        // [nothing]
    virtual void delete_idx(const std::wstring& table, const std::wstring& index_name);  // [nothing]
    virtual void delete_idx(const std::wstring& table, const udb_index& index);          // [nothing]
    // Drops the table; the base only removes the name from the table-name list
    // (true when it was there). Sides drop the table, then call the base.
    virtual bool delete_tab(const std::wstring& name);
    // Runs "delete from " + quote_table_name(name) through query().
    virtual void empty_table(const std::wstring& name);
    // A recordset over an SQL text.
    virtual std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& sql_text,
                                                     std::int32_t mode) = 0;
    // Fills the list with the database's schema names [empties it].
    virtual void get_schema_info(std::vector<std::wstring>& schemas);
    // A recordset over an existing table.
    virtual std::unique_ptr<udb_recordset> get_table(const std::wstring& name, std::int32_t mode) = 0;
    // Runs a statement; a recordset over its result where the side makes one
    // [internal error].
    virtual std::unique_ptr<udb_recordset> query(const std::wstring& statement);
    // Whether the statement runs.
    virtual bool test_query(const std::wstring& statement) = 0;
    virtual void create_relationships(const std::vector<udb_relationship>& keys);  // [nothing]

    // --- the side's dialect: how its statements spell names and values ---
    // The base builds statements (empty_table) and conditions (udb_recordset::
    // get_filter_subquery) only through these, so it holds no quoting of its own.
    // A table name as one SQL identifier of this database (qualified where the side
    // qualifies names), safe for any text.
    virtual std::wstring quote_table_name(const std::wstring& name) const = 0;
    // One term of a WHERE condition that selects a row by a key value: the column's
    // name quoted, "=", and the value (decoded text from a record key) written so that
    // the column is compared with the whole of it; nothing in the value can change the
    // statement.
    virtual std::wstring key_condition_term(const t_ftd& column, const std::wstring& value) const = 0;

    // --- shared behaviour ---
    // The list for changing: find_table indexes it again at its next lookup.
    std::vector<std::wstring>& get_table_names() noexcept
    {
        m_name_index.data = nullptr;
        return table_names;
    }
    const std::vector<std::wstring>& get_table_names() const noexcept { return table_names; }
    // Whether the name is in the table-name list: exactly when the database is
    // case sensitive, else ignoring case.
    bool is_table_exist(const std::wstring& name) const;
    // Enters a table rename in the names map (the first one for a name stays).
    void add_tn_mapping(const std::wstring& old_name, const std::wstring& new_name);
    // True when the text starts with "select" (ignoring case), also after
    // leading blanks and opening parentheses.
    static bool is_select_query(const std::wstring& text);

    std::int32_t get_mode() const noexcept { return mode; }
    const std::wstring& get_name() const noexcept { return name; }
    const std::wstring& get_qualifier() const noexcept { return qualifier; }
    void set_qualifier(std::wstring q) { qualifier = std::move(q); }
    bool is_case_sensitive() const noexcept { return case_sensitive; }
    udb_view_list& get_views() noexcept { return views; }
    const udb_view_list& get_views() const noexcept { return views; }
    udb_names_map& get_names_map() noexcept { return names_map; }
    const udb_names_map& get_names_map() const noexcept { return names_map; }
    std::vector<udb_sequence>& get_sequences() noexcept { return sequences; }
    std::vector<udb_relationship>& get_relationships() noexcept { return relationships; }

protected:
    // Position of the name in the table-name list, or -1.
    int find_table(const std::wstring& name) const;
    // The form two names share when a database that ignores case takes them for one table
    // (every letter's case by default).
    virtual std::wstring fold_table_name(std::wstring_view name) const;

    std::int32_t mode;
    std::wstring name;
    std::wstring qualifier;  // put before the names of created sequences and views when not empty
    bool case_sensitive;
    udb_view_list views;
    std::vector<std::wstring> table_names;
    udb_names_map names_map;

private:
    // find_table's index of table_names: the first position of each name, exact and case-folded.
    // Names added at the end since the last lookup are indexed then; a list that shrank, moved or
    // holds another name where the indexed part ended is indexed again. A hit is checked against
    // the list itself.
    struct name_index {
        const std::wstring* data = nullptr;
        std::size_t count = 0;
        std::wstring last;  // the name at position count - 1 when indexed
        std::unordered_map<std::wstring, int> exact;
        std::unordered_map<std::wstring, int> folded;
    };
    void update_name_index() const;
    mutable name_index m_name_index;

protected:
    std::vector<udb_sequence> sequences;
    std::vector<udb_relationship> relationships;
};

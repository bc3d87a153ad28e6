#pragma once
// Bookkeeping of renames. udb_names_map holds one database's renames (old to
// new table names, and per table old to new field names) so that indexes,
// keys and views follow tables and fields to their new names; t_names_map is
// the plain old-to-new map a name validator keeps of the renames it made.
// Maps are ordered by the exact text of the old names, one entry per old name;
// the first pair entered for an old name stays.

#include <map>
#include <string>

class t_names_map {
public:
    using map_type = std::map<std::wstring, std::wstring>;

    // Enters the pair unless the old name (exactly) is already there.
    void add(const std::wstring& old_name, const std::wstring& new_name);
    // The new name of the first entry whose old name equals the name ignoring
    // case, else the name itself.
    std::wstring get_mapped_name(const std::wstring& name) const;

    const map_type& get_map() const noexcept { return m_map; }
    bool empty() const noexcept { return m_map.empty(); }
    void clear() noexcept { m_map.clear(); }

private:
    map_type m_map;
};

class udb_names_map {
public:
    using name_map = std::map<std::wstring, std::wstring>;       // old -> new
    using field_maps = std::map<std::wstring, name_map>;          // table -> (old field -> new field)

    // Enters the table rename unless the old name (exactly) already has one.
    void add_tn_mapping(const std::wstring& old_name, const std::wstring& new_name);
    // Enters a copy of the field map under the table unless the table
    // (exactly) already has one.
    void add_fn_map(const std::wstring& table, const name_map& fields);

    // The new name of a table: the first entry whose old name equals the name
    // (exactly, or ignoring case when exact is false); else the name itself.
    std::wstring get_tn_mapped_name(const std::wstring& name, bool exact) const;
    // The new name of a field of a table (table and field compared exactly);
    // else the field name itself.
    std::wstring get_fn_mapped_name(const std::wstring& table, const std::wstring& field) const;

    // Renames inside an SQL text: the table map, then each table's field map
    // (tables in name order), each applied to the previous result.
    std::wstring do_global_replace1(const std::wstring& text, const std::wstring& prefix,
                                    const std::wstring& suffix) const;
    // Whole-name replacement of each old name of the map by its new name.
    //  - A name is a run of name characters (letters, digits, '_', '$' and any
    //    character above U+007F, as unquoted identifiers are written); an
    //    occurrence inside a longer name is left alone (x_t1 is not t1).
    //  - Letters A-Z match regardless of case, every other character exactly.
    //  - A bare occurrence gets the prefix and suffix around the new name
    //    (unless the new name already begins/ends with them); an occurrence
    //    already enclosed in prefix and suffix is replaced inside its quotes.
    //    Quoted names other than the old name and string literals in single
    //    quotes are never touched.
    static std::wstring do_global_replace2(const std::wstring& text, const name_map& map,
                                           const std::wstring& prefix, const std::wstring& suffix);

    const name_map& get_tn_map() const noexcept { return m_tables; }
    const field_maps& get_fn_maps() const noexcept { return m_fields; }
    bool empty() const noexcept { return m_tables.empty() && m_fields.empty(); }

private:
    name_map m_tables;
    field_maps m_fields;
};

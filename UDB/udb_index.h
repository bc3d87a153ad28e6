#pragma once
// Descriptions that travel with tables between the two sides: a table's
// indexes (udb_index, and the list udb_indexes that merges same-named entries
// while it is filled), foreign keys (udb_relationship) and sequences
// (udb_sequence). Plain values, copied freely, used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class udb_index {
public:
    udb_index(std::wstring name, bool unique, bool primary, std::vector<std::wstring> fields);
    udb_index(const udb_index&) = default;
    udb_index(udb_index&&) noexcept = default;
    udb_index& operator=(const udb_index&) = default;
    udb_index& operator=(udb_index&&) noexcept = default;

    // Whether the field list begins with the given names in this order
    // (names compared ignoring case). An empty list always matches.
    bool starts_with_fields(const std::vector<std::wstring>& names) const;
    // How much of field i the index covers (0: the whole column).
    std::uint32_t prefix_of(std::size_t i) const noexcept
    {
        return i < prefix_lengths.size() ? prefix_lengths[i] : 0;
    }
    bool has_prefix() const noexcept;
    // Whether field i is kept in descending order.
    bool is_descending(std::size_t i) const noexcept { return i < descending.size() && descending[i]; }
    // Appends a field with the part of it that is indexed (0: the whole column) and its order.
    void add_field(std::wstring field, std::uint32_t prefix = 0, bool descends = false);

    std::wstring name;
    bool unique = false;
    bool primary = false;            // the table's primary key (readers also set unique)
    bool unique_constraint = false;  // no reader sets it; push_back honours it
    std::vector<std::wstring> fields;           // column names in index order
    // Per field, how much of the column the source indexes: the leading characters of a text,
    // the leading bytes of a binary column; 0 for the whole column. Empty when no field is a
    // prefix, otherwise as long as fields.
    std::vector<std::uint32_t> prefix_lengths;
    // Per field, whether the index keeps it in descending order. Empty when no field does,
    // otherwise as long as fields.
    std::vector<bool> descending;
    std::vector<std::wstring> included_fields;  // columns of an INCLUDE clause
};

// An ordered list of indexes in which no two names differ only in case: the
// stronger of two same-named indexes wins (primary over unique constraint over
// unique over plain; the earlier one on a tie).
class udb_indexes {
public:
    using list_type = std::vector<udb_index>;
    using iterator = list_type::iterator;
    using const_iterator = list_type::const_iterator;

    // Appends a copy, or merges it into the same-named index already listed.
    void push_back(const udb_index& index);

    // Whether an index of that name exists (ignoring case).
    bool find2(const std::wstring& name) const;
    // The first index of that name (ignoring case); an internal error when absent.
    udb_index& get_index(const std::wstring& name);
    const udb_index& get_index(const std::wstring& name) const;
    // True when no index has that name (ignoring case).
    bool is_acceptable_name(const std::wstring& name) const;
    // Whether the name is a field of some index (compared exactly); with
    // primary_only only primary keys are looked at.
    bool is_idx_field(const std::wstring& name, bool primary_only) const;
    // Whether some index starts with these fields (see starts_with_fields).
    bool has_index_on_fields(const std::vector<std::wstring>& names) const;

    std::size_t size() const noexcept { return m_list.size(); }
    bool empty() const noexcept { return m_list.empty(); }
    void clear() noexcept { m_list.clear(); }
    udb_index& operator[](std::size_t i) { return m_list[i]; }
    const udb_index& operator[](std::size_t i) const { return m_list[i]; }
    iterator begin() noexcept { return m_list.begin(); }
    iterator end() noexcept { return m_list.end(); }
    const_iterator begin() const noexcept { return m_list.begin(); }
    const_iterator end() const noexcept { return m_list.end(); }
    // The underlying list, for callers that rewrite or drop entries in place.
    list_type& list() noexcept { return m_list; }
    const list_type& list() const noexcept { return m_list; }

private:
    udb_index* find_ptr(const std::wstring& name);
    const udb_index* find_ptr(const std::wstring& name) const;

    list_type m_list;
};

// One foreign key as a table reader finds it.
class udb_relationship {
public:
    udb_relationship() = default;
    // Arguments in this order: name, second text, table, referenced table,
    // the key's columns, the referenced columns, rule.
    udb_relationship(std::wstring name, std::wstring second_name, std::wstring table,
                     std::wstring ref_table, std::vector<std::wstring> fk_flds,
                     std::vector<std::wstring> pk_flds, std::wstring rule);
    udb_relationship(const udb_relationship&) = default;
    udb_relationship(udb_relationship&&) noexcept = default;
    udb_relationship& operator=(const udb_relationship&) = default;
    udb_relationship& operator=(udb_relationship&&) noexcept = default;

    std::wstring name;         // the constraint's name
    std::wstring second_name;  // carried from the catalog reader; nothing reads it
    std::wstring table;        // the table that holds the key
    std::wstring ref_table;    // the referenced table
    std::wstring rule;         // ON DELETE / ON UPDATE clause as found
    std::vector<std::wstring> fk_flds;  // the key's columns in the table
    std::vector<std::wstring> pk_flds;  // the referenced columns, same order
};

// One sequence as a catalog yields it.
class udb_sequence {
public:
    udb_sequence() = default;
    // Arguments in this order: name, start, increment, minimum, maximum, cycle.
    udb_sequence(std::wstring name, std::int32_t start, std::int32_t increment,
                 std::int32_t minimum, std::int32_t maximum, bool cycle);

    std::wstring name;
    std::int32_t increment = 1;
    std::int32_t start = 1;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    bool cycle = false;
};

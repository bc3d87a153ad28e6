#pragma once
// One row in flight: an ordered list of fields that the record owns, with
// lookup by name ignoring case. A record belongs to whoever produced it (a
// recordset or a mutator); its users never free it. Producers are expected to
// reuse one record per table (assign new values to its fields) rather than
// build a new one per row.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "UDB/udb_field.h"

class udb_record {
public:
    using entry = std::unique_ptr<udb_field>;
    using list_type = std::vector<entry>;
    using iterator = list_type::iterator;
    using const_iterator = list_type::const_iterator;

    udb_record() = default;
    // Deep copy: every field is copied (as a udb_field), null entries stay null.
    udb_record(const udb_record& that);
    udb_record& operator=(const udb_record& that);
    udb_record(udb_record&&) noexcept = default;
    udb_record& operator=(udb_record&&) noexcept = default;
    virtual ~udb_record();

    std::size_t size() const noexcept { return m_fields.size(); }
    bool empty() const noexcept { return m_fields.empty(); }
    void reserve(std::size_t n) { m_fields.reserve(n); }
    // Grows with null entries or drops trailing fields.
    void resize(std::size_t n) { m_fields.resize(n); }

    // The field at position i; the entry must not be null.
    udb_field& operator[](std::size_t i) noexcept { return *m_fields[i]; }
    const udb_field& operator[](std::size_t i) const noexcept { return *m_fields[i]; }
    // The entry at position i, or nullptr for a null entry.
    udb_field* get(std::size_t i) noexcept { return m_fields[i].get(); }
    const udb_field* get(std::size_t i) const noexcept { return m_fields[i].get(); }

    void push_back(entry field) { m_fields.push_back(std::move(field)); }
    // Builds a field in place at the end and returns it.
    template <class... Args>
    udb_field& emplace_back(Args&&... args)
    {
        m_fields.push_back(std::make_unique<udb_field>(std::forward<Args>(args)...));
        return *m_fields.back();
    }
    void set(std::size_t i, entry field) { m_fields[i] = std::move(field); }
    entry release(std::size_t i) { return std::move(m_fields[i]); }

    iterator begin() noexcept { return m_fields.begin(); }
    iterator end() noexcept { return m_fields.end(); }
    const_iterator begin() const noexcept { return m_fields.begin(); }
    const_iterator end() const noexcept { return m_fields.end(); }

    // Whether a field has this name (ignoring case).
    bool find_field(const std::wstring& name) const;
    // Position of the first field of this name (ignoring case), or -1.
    int get_field_idx(const std::wstring& name) const;
    // The first field of this name (ignoring case), or nullptr.
    udb_field* find(const std::wstring& name);
    const udb_field* find(const std::wstring& name) const;
    // The first field of this name (ignoring case); an empty field when none
    // has it (ask find_field first to tell the two apart). The empty field is
    // a per-thread placeholder, emptied on every miss.
    udb_field& get_field(const std::wstring& name);
    const udb_field& get_field(const std::wstring& name) const;

    // Sum of get_data_size over the fields that are not VT_EMPTY (a VT_NULL
    // field adds its stored size); a null entry adds nothing.
    std::uint64_t get_total_size() const;

    // Deletes every field and empties the list.
    void reset() noexcept;

private:
    list_type m_fields;
};

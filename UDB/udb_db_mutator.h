#pragma once
// The database mutator: all changes one conversion applies between source and
// destination: database properties and one table mutator per source table or
// query that changes. It owns the "Type Mappings" section of a profile (reader
// and writer) and offers the default destination type of a source column.
//
// TM is the destination's table mutator class; Map and Typ are the narrow
// names of the destination's type-map files (for each source type the types it
// may map to; for each destination type which sizes it takes).

#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "UDB/udb_mutator.h"
#include "UDB/udb_profile.h"

// The process-wide set that get_types_map answers (created empty on first use,
// safely when two threads ask at once; nothing adds to it).
std::set<std::wstring>& udb_types_map_exclusions();

// Name of the profile's plain list that carries the mutators.
inline constexpr const wchar_t* udb_type_mappings_list = udb_profile::type_mappings_name;

template <class TM, const char* Map, const char* Typ>
class udb_db_mutator : public udb_properties {
public:
    using table_mutator_type = TM;
    using field_mutator_type = typename TM::field_mutator_type;
    using native_type = typename TM::native_type;
    using traits = udb_native_type_traits<native_type>;
    using table_map = std::map<std::wstring, std::unique_ptr<TM>>;

    udb_db_mutator() = default;
    udb_db_mutator(const udb_db_mutator&) = delete;
    udb_db_mutator& operator=(const udb_db_mutator&) = delete;
    ~udb_db_mutator() override { clear(); }

    // Table mutator by source name (exact), or nullptr.
    udb_properties* get_mutator(const std::wstring& name) override { return get_table_mutator3(name); }
    // Table mutator registered under that new name (exact), or nullptr.
    udb_properties* get_mutator_by_new_name(const std::wstring& name) override
    {
        auto it = m_by_new_name.find(name);
        return it == m_by_new_name.end() ? nullptr : it->second;
    }

    // The default destination type of a source column: the type name without
    // size, the column's size as length, the destination's DEFAULT expression,
    // and for decimal columns precision and scale. The column's
    // native type text becomes the full type text. The character set, and
    // precision and scale of other columns, stay as the caller set them.
    virtual void get_default_type(t_ftd& column, native_type& native)
    {
        native.type = traits::name_only_type(column);
        native.length = static_cast<decltype(native.length)>(column.size);
        native.default_value = traits::default_expression(column);
        if (column.vartype == VT_DECIMAL) {
            native.precision = static_cast<decltype(native.precision)>(column.precision);
            native.scale = static_cast<decltype(native.scale)>(column.scale);
        }
        column.nativetype = traits::type_text(native);
    }

    virtual std::set<std::wstring>& get_types_map() { return udb_types_map_exclusions(); }

    static const char* get_map_name() noexcept { return Map; }
    static const char* get_typ_name() noexcept { return Typ; }

    // The table mutator of the source name, created when missing (registered
    // under the source and the new name); an existing one only takes the new
    // name (its registration by new name stays as it was).
    TM* get_table_mutator2(const std::wstring& source_name, const std::wstring& new_name)
    {
        tk_write_wlog(1, L"get_table_mutator2(%s,%s)", source_name.c_str(), new_name.c_str());
        auto it = m_by_source.find(source_name);
        if (it != m_by_source.end()) {
            tk_write_wlog(2, L"udb_table_mutator::set_new_name(%s)", new_name.c_str());
            it->second->set_new_name(new_name);
            return it->second.get();
        }
        tk_write_wlog(1, L"udb_table_mutator::ctor(%s)", new_name.c_str());
        auto tm = std::make_unique<TM>(new_name);
        TM* raw = tm.get();
        m_by_source.emplace(source_name, std::move(tm));
        m_by_new_name.emplace(new_name, raw);
        return raw;
    }

    // The table mutator of the source name, or nullptr.
    TM* get_table_mutator3(const std::wstring& source_name) const
    {
        tk_write_wlog(1, L"get_table_mutator3(%s)", source_name.c_str());
        auto it = m_by_source.find(source_name);
        return it == m_by_source.end() ? nullptr : it->second.get();
    }

    // Deletes every table mutator; the database properties stay.
    void clear() noexcept
    {
        m_by_new_name.clear();
        m_by_source.clear();
    }

    // Table mutators by source name, in name order.
    const table_map& get_table_mutators() const noexcept { return m_by_source; }

    // Replaces all table mutators by those of the profile's "Type Mappings"
    // list. False when a line after "tables:" is not understood; then no table
    // mutator is left (database properties read before it stay).
    bool load(udb_profile& profile);

    // Appends the "Type Mappings" lines to the profile; always true.
    bool store(udb_profile& profile);

private:
    table_map m_by_source;
    std::map<std::wstring, TM*> m_by_new_name;
};

// The free spellings the front ends use.
template <class DBM>
auto* get_table_mutator2(DBM& db_mutator, const std::wstring& source_name, const std::wstring& new_name)
{
    return db_mutator.get_table_mutator2(source_name, new_name);
}
template <class DBM>
auto* get_table_mutator3(const DBM& db_mutator, const std::wstring& source_name)
{
    return db_mutator.get_table_mutator3(source_name);
}

// ---------------------------------------------------------------------------
// The "Type Mappings" layout, one list line each:
//   database:
//     <key>: <value>                      database properties
//   tables:
//     - name: <source table>
//       new_name: <new table>
//       fields:
//         - name:<source column>
//           new_name: <new column>
//           status: changed|deleted
//           type: / default_value: / character_set: <text>
//           length: / scale: / precision: <number>
//       properties:
//           <key>: <value>                table properties

namespace udb_type_mappings_detail {

bool starts_with(const std::wstring& line, const wchar_t* prefix);
// The text after the prefix, blanks trimmed at both ends.
std::wstring rest_of(const std::wstring& line, const wchar_t* prefix);
// "key: value" split at every ':'; exactly two parts give true with both trimmed.
bool split_property(const std::wstring& line, std::wstring& key, std::wstring& value);

}  // namespace udb_type_mappings_detail

template <class TM, const char* Map, const char* Typ>
bool udb_db_mutator<TM, Map, Typ>::load(udb_profile& profile)
{
    using namespace udb_type_mappings_detail;
    tk_write_log(2, "udb_db_mutator::load");
    clear();

    const std::vector<std::wstring>& lines = profile.get_list(udb_type_mappings_list);
    std::size_t i = 0;
    if (lines.empty())
        return true;

    if (lines[0] == L"database:") {
        for (i = 1; i < lines.size() && starts_with(lines[i], L"  "); ++i) {
            std::wstring key, value;
            if (split_property(lines[i], key, value))
                properties[key] = value;
        }
    }
    if (i >= lines.size())
        return true;
    if (lines[i] != L"tables:") {
        tk_write_wlog(1, L"Skipping %s", lines[i].c_str());
        return true;
    }
    ++i;

    struct field_entry {
        std::wstring new_name;
        native_type native{};
    };
    struct table_entry {
        std::wstring new_name;
        std::map<std::wstring, std::wstring> properties;
        std::map<std::wstring, field_entry> fields;
        std::set<std::wstring> deleted;
    };
    enum class state { table, named, fields, field, properties };
    using length_type = decltype(native_type::length);
    using scale_type = decltype(native_type::scale);
    using precision_type = decltype(native_type::precision);

    std::map<std::wstring, table_entry> tables;
    std::wstring table_name, field_name;
    state st = state::table;
    auto field = [&]() -> field_entry& { return tables[table_name].fields[field_name]; };

    for (; i < lines.size(); ++i) {
        const std::wstring& line = lines[i];
        tk_write_wlog(1, L"Processing '%s'", line.c_str());
        if (line.empty())
            continue;
        if (starts_with(line, L"  - name:")) {
            table_name = rest_of(line, L"  - name:");
            field_name.clear();
            st = state::table;
        } else if (starts_with(line, L"    properties:")) {
            st = state::properties;
        } else if (st == state::properties && starts_with(line, L"        ")) {
            std::wstring key, value;
            if (split_property(line, key, value))
                tables[table_name].properties[key] = value;
        } else if (starts_with(line, L"    new_name:") && st == state::table) {
            tables[table_name].new_name = rest_of(line, L"    new_name:");
            tk_write_wlog(1, L"tm_new_table_name=%s", tables[table_name].new_name.c_str());
            st = state::named;
        } else if (starts_with(line, L"    fields:") &&
                   (st == state::table || st == state::named || st == state::field)) {
            field_name.clear();
            st = state::fields;
        } else if (starts_with(line, L"      - name:") && (st == state::fields || st == state::field)) {
            field_name = rest_of(line, L"      - name:");
            st = state::field;
        } else if (st == state::field && starts_with(line, L"        new_name:")) {
            field().new_name = rest_of(line, L"        new_name:");
        } else if (st == state::field && starts_with(line, L"        status:")) {
            if (rest_of(line, L"        status:") == L"deleted") {
                field();  // a field marked deleted has an entry even without other lines
                tables[table_name].deleted.insert(field_name);
            }
        } else if (st == state::field && starts_with(line, L"        type:")) {
            field().native.type = rest_of(line, L"        type:");
        } else if (st == state::field && starts_with(line, L"        default_value:")) {
            field().native.default_value = rest_of(line, L"        default_value:");
        } else if (st == state::field && starts_with(line, L"        character_set:")) {
            field().native.character_set = rest_of(line, L"        character_set:");
        } else if (st == state::field && starts_with(line, L"        length:")) {
            // An unsigned length cannot be negative: a negative one reads as 0.
            const std::int64_t n = udb_read_decimal(rest_of(line, L"        length:"));
            field().native.length = static_cast<length_type>(std::is_unsigned_v<length_type> && n < 0 ? 0 : n);
        } else if (st == state::field && starts_with(line, L"        scale:")) {
            field().native.scale = static_cast<scale_type>(udb_read_decimal(rest_of(line, L"        scale:")));
        } else if (st == state::field && starts_with(line, L"        precision:")) {
            field().native.precision =
                static_cast<precision_type>(udb_read_decimal(rest_of(line, L"        precision:")));
        } else {
            return false;  // not understood: nothing is applied, no table mutator is left
        }
    }

    for (const auto& [source, entry] : tables) {
        TM* tm = get_table_mutator2(source, entry.new_name.empty() ? source : entry.new_name);
        for (const auto& [name, f] : entry.fields) {
            auto* fm = tm->update_field(name, f.new_name.empty() ? name : f.new_name, f.native);
            if (entry.deleted.count(name))
                fm->set_status(udb_mutators::deleted);
        }
        for (const auto& [key, value] : entry.properties)
            tm->get_properties()[key] = value;
    }
    return true;
}

template <class TM, const char* Map, const char* Typ>
bool udb_db_mutator<TM, Map, Typ>::store(udb_profile& profile)
{
    auto add = [&](const std::wstring& line) { profile.add_list_item(udb_type_mappings_list, line); };
    auto number = [](long long n) { return std::to_wstring(n); };

    add(L"database:");
    for (const auto& [key, value] : properties)
        add(L"  " + key + L": " + value);
    add(L"tables:");
    for (const auto& [source, tm] : m_by_source) {
        add(L"  - name: " + source);
        add(L"    new_name: " + tm->get_new_name());
        add(L"    fields:");
        for (const auto& [column, fm] : tm->get_field_mutators()) {
            const native_type& n = fm->get_native_type();
            add(L"      - name:" + column);
            add(L"        new_name: " + fm->get_new_name());
            add(std::wstring(L"        status: ") +
                (fm->get_status() == udb_mutators::deleted ? L"deleted" : L"changed"));
            add(L"        type: " + n.type);
            add(L"        default_value: " + n.default_value);
            add(L"        character_set: " + n.character_set);
            add(L"        length: " + number(static_cast<long long>(n.length)));
            add(L"        scale: " + number(static_cast<long long>(n.scale)));
            add(L"        precision: " + number(static_cast<long long>(n.precision)));
        }
        const auto& table_properties = tm->get_properties();
        if (!table_properties.empty()) {
            add(L"    properties:");
            for (const auto& [key, value] : table_properties)
                add(L"        " + key + L": " + value);
        }
    }
    return true;
}

#pragma once
// Field and table mutators: the user's per-table and per-field changes (new
// table and column names, columns left out, a chosen destination type with its
// length, scale, precision, default and character set), applied during a
// conversion to the source's index list, its schema and every row.
//
// The classes are templates over the destination's native type so that this
// library stays free of any one destination engine: what only the destination
// knows (its type texts, the kind its values travel in, its default
// expressions) comes from udb_native_type_traits<N>, which the destination
// engine specialises for its native type (the PostgreSQL side does so in
// pg_target/pgs_mutator.h). N is expected to carry the members type,
// default_value, character_set (wide texts) and length, scale, precision
// (integers).
//
// Mutator maps compare names exactly (case matters), unlike the lookups of
// records and schemas.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "TK/ole_variant.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "UDB/udb_index.h"
#include "UDB/udb_properties.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"

// Status of a field mutator (stored as a signed 32-bit value).
enum class udb_mutators : std::int32_t {
    changed = 1,  // the column gets its new name and its new type
    deleted = 2,  // the column is dropped from schemas, rows and indexes
    created = 3,  // a column to be added; only traced
};

// What a destination engine tells the mutators about its native type N:
//   static VARTYPE udb_type(const N&);             kind in which values of N travel
//   static std::wstring type_text(const N&);       full type text (name with sizes)
//   static std::wstring name_only_type(const t_ftd&);   default type name of a column
//   static std::wstring default_expression(const t_ftd&); DEFAULT expression of a column
// There is no generic definition: each destination engine supplies its own.
template <class N>
struct udb_native_type_traits;

// The message with which a row is failed (level 0, the user may go on) when a
// value cannot take the type its column was mapped to.
extern const char* const udb_conversion_not_supported_text;

// Converts a value in place into the kind a type mapping asks for. A numeric
// value that does not fit the target kind (an integer out of its range, a
// fraction bound for an integer kind, which would be rounded away, a
// fraction-less narrowing that would wrap, a double beyond a float's range) is
// refused instead of cut to the target's width. Refusals and failed
// conversions raise tk_exception with udb_conversion_not_supported_text (then
// ": " and the value quoted, cut after 60 bytes) at
// level 0; other exceptions pass unchanged.
void udb_change_value_type(ole_variant& value, VARTYPE target);

// Whether a numeric value fits the target kind without wrapping or overflowing
// (values that are not numeric, and targets that are not numeric, answer true:
// the conversion itself decides for them).
bool udb_value_fits(const ole_variant& value, VARTYPE target);

// Reads a decimal number the way the "Type Mappings" section writes them:
// optional blanks, an optional sign, digits up to the first other character;
// no digits give 0; values beyond 32 bits are held at the nearest limit.
std::int64_t udb_read_decimal(const std::wstring& text);

// ---------------------------------------------------------------------------
// The change of one column. The source name is not a member: it is the key
// under which the table mutator holds the field mutator.
template <class F, class N>
class udb_field_mutator : public udb_properties {
public:
    using field_type = F;
    using native_type = N;
    using traits = udb_native_type_traits<N>;

    // The variant type is set by udb_table_mutator::update_field right after.
    udb_field_mutator(std::wstring new_name, const N& native, udb_mutators status)
        : m_new_name(std::move(new_name)), m_native_type(native), m_status(status)
    {
        tk_write_wlog(1, L"udb_field_mutator::ctor1(%s)", m_new_name.c_str());
    }
    udb_field_mutator(const udb_field_mutator&) = delete;
    udb_field_mutator& operator=(const udb_field_mutator&) = delete;
    ~udb_field_mutator() override = default;

    // Refills the property map from the members (the status is no property).
    property_map& get_properties() override
    {
        properties.clear();
        properties[L"new_name"] = m_new_name;
        properties[L"type"] = m_native_type.type;
        properties[L"default_value"] = m_native_type.default_value;
        properties[L"character_set"] = m_native_type.character_set;
        properties[L"length"] = std::to_wstring(static_cast<long long>(m_native_type.length));
        properties[L"scale"] = std::to_wstring(static_cast<long long>(m_native_type.scale));
        properties[L"precision"] = std::to_wstring(static_cast<long long>(m_native_type.precision));
        return properties;
    }
    // A field mutator has no children.
    udb_properties* get_mutator(const std::wstring&) override { return nullptr; }
    udb_properties* get_mutator_by_new_name(const std::wstring&) override { return nullptr; }

    // A copy of the column whose native type text is this mutator's type; none
    // for none (then it only traces). The caller owns the copy.
    virtual std::unique_ptr<t_ftd> create2(const t_ftd* column) const
    {
        tk_write_log(1, "udb_field_mutator::create2");
        if (!column)
            return nullptr;
        auto copy = std::make_unique<t_ftd>(*column);
        copy->nativetype = traits::type_text(m_native_type);
        return copy;
    }

    // The column rule: new name, kind, type text, size, sub-type, default and
    // (when set) precision and scale. NOT NULL, auto-increment and the comment
    // stay. The mapped default is the destination's own expression already and
    // is marked as such (t_ftd::default_is_expression).
    void modify1(t_ftd& column) const
    {
        tk_write_log(2, "udb_field_mutator::modify1");
        if (!m_new_name.empty()) {
            tk_write_wlog(2, L"new_name=%s", m_new_name.c_str());
            column.name = m_new_name;
        }
        column.vartype = m_variant_type;
        column.nativetype = traits::type_text(m_native_type);
        tk_write_wlog(2, L"\tf.native_type=%s", column.nativetype.c_str());
        column.size = static_cast<decltype(column.size)>(m_native_type.length);
        tk_write_log(2, "\tf.size=%d", static_cast<int>(column.size));
        const auto old_reserved = column.dw_reserved;
        column.dw_reserved = 0;
        tk_write_log(2, "\told dw_reserved=%d, new dw_reserved=%d", static_cast<int>(old_reserved),
                     static_cast<int>(column.dw_reserved));
        // The mapped default is a destination expression already (a quoted text
        // stays quoted, a boolean is true or false): the flag tells the table
        // builders to write it into DEFAULT as it stands instead of turning it
        // into a literal a second time. An empty expression means no default.
        column.default_value = m_native_type.default_value;
        column.default_is_expression = true;
        if (m_native_type.precision != 0 || m_native_type.scale != 0) {
            tk_write_log(2, "Setting new prec/scale: (%d,%d)", static_cast<int>(m_native_type.precision),
                         static_cast<int>(m_native_type.scale));
            column.precision = static_cast<decltype(column.precision)>(m_native_type.precision);
            column.scale = static_cast<decltype(column.scale)>(m_native_type.scale);
        }
    }

    // The field rule: new name (when set), value converted to the mapped kind, size.
    // A value that cannot take the kind (or would not fit it) fails the row
    // with a level-0 tk_exception.
    void modify2(F& field) const
    {
        tk_write_log(2, "udb_field_mutator::modify2");
        // An empty new name keeps the column's name, as the schema rule does,
        // so rows and the table they go into agree.
        if (!m_new_name.empty())
            field.get_name() = m_new_name;
        udb_change_value_type(field, m_variant_type);
        field.set_size(static_cast<std::uint32_t>(m_native_type.length));
    }

    const std::wstring& get_new_name() const noexcept { return m_new_name; }
    void set_new_name(std::wstring name) { m_new_name = std::move(name); }
    VARTYPE get_variant_type() const noexcept { return m_variant_type; }
    void set_variant_type(VARTYPE vt) noexcept { m_variant_type = vt; }
    const N& get_native_type() const noexcept { return m_native_type; }
    void set_native_type(const N& native) { m_native_type = native; }
    udb_mutators get_status() const noexcept { return m_status; }
    void set_status(udb_mutators status) noexcept { m_status = status; }

private:
    std::wstring m_new_name;
    VARTYPE m_variant_type = VT_EMPTY;
    N m_native_type;
    udb_mutators m_status;
};

// ---------------------------------------------------------------------------
// The change of one table: its new name and one field mutator per source
// column that changes. FM is the destination's field mutator class.
template <class FM>
class udb_table_mutator : public udb_properties {
public:
    using field_mutator_type = FM;
    using native_type = typename FM::native_type;
    using traits = udb_native_type_traits<native_type>;
    using field_map = std::map<std::wstring, std::unique_ptr<FM>>;

    explicit udb_table_mutator(std::wstring new_name) : m_new_name(std::move(new_name)) {}
    udb_table_mutator(const udb_table_mutator&) = delete;
    udb_table_mutator& operator=(const udb_table_mutator&) = delete;
    ~udb_table_mutator() override = default;

    // Field mutator by source column name (exact), or nullptr.
    udb_properties* get_mutator(const std::wstring& name) override { return get_field_mutator(name); }
    // Field mutator by new column name (exact), or nullptr.
    udb_properties* get_mutator_by_new_name(const std::wstring& name) override
    {
        auto it = m_by_new_name.find(name);
        return it == m_by_new_name.end() ? nullptr : it->second;
    }

    FM* get_field_mutator(const std::wstring& source_name) const
    {
        auto it = m_by_source.find(source_name);
        return it == m_by_source.end() ? nullptr : it->second.get();
    }

    // The field mutator of the source column, created (status changed) when
    // missing; its new name and native type become the given ones, its status
    // stays. The map by new name keeps every name the mutator was given.
    FM* update_field(const std::wstring& source_name, const std::wstring& new_name, const native_type& native)
    {
        tk_write_wlog(2, L"udb_table_mutator::update_field(old_name=%s,new_name=%s,native_type=%s,length=%d)",
                      source_name.c_str(), new_name.c_str(), native.type.c_str(), static_cast<int>(native.length));
        auto& entry = m_by_source[source_name];
        m_plan_names.clear();  // the next row looks its field mutators up again
        m_plan.clear();
        if (!entry) {
            tk_write_wlog(2, L"create_field_mutator(%s)", new_name.c_str());
            entry = std::make_unique<FM>(new_name, native, udb_mutators::changed);
        }
        m_by_new_name.emplace(new_name, entry.get());
        entry->set_variant_type(traits::udb_type(native));
        entry->set_new_name(new_name);
        entry->set_native_type(native);
        return entry.get();
    }

    // Rewrites the schema in place and answers the new table name. The schema
    // keeps its own auto-increment seed and increment; its column list is
    // replaced by copies that this table mutator owns (valid until the next
    // modify1 or the mutator's end).
    virtual std::wstring modify1(udb_schema& schema)
    {
        tk_write_log(2, "udb_table_mutator::modify1()");
        if (!m_by_source.empty()) {
            tk_write_log(1, "create_modified_copy2");
            udb_schema::list_type copies;
            std::vector<const FM*> changed;  // the field mutator of each copy to apply, or nullptr
            copies.reserve(schema.size());
            changed.reserve(schema.size());
            for (const auto& entry : schema.columns()) {
                if (!entry)
                    continue;
                const FM* fm = get_field_mutator(entry->name);
                if (!fm) {
                    copies.push_back(std::make_shared<t_ftd>(*entry));
                } else if (fm->get_status() != udb_mutators::deleted) {
                    copies.push_back(std::shared_ptr<t_ftd>(fm->create2(entry.get())));
                } else {
                    continue;
                }
                changed.push_back(fm && fm->get_status() == udb_mutators::changed ? fm : nullptr);
            }
            tk_write_log(1, "create_modified_copy2 - END");
            // The schema now lists the copies; its seed and increment stay the
            // source table's, so its auto-increment column goes on where the
            // source left off.
            m_working_columns = copies;
            schema.columns() = std::move(copies);
            for (std::size_t i = 0; i < m_working_columns.size(); ++i)
                if (changed[i])
                    changed[i]->modify1(*m_working_columns[i]);
            for (const auto& [name, fm] : m_by_source)
                if (fm->get_status() == udb_mutators::created)
                    tk_write_log(1, "udb_field_mutator::create1");
        }
        tk_write_wlog(1, L"returning new_name=%s", m_new_name.c_str());
        return m_new_name;
    }

    // The record to write: the given one itself when there are no field
    // mutators, else the working record (owned here, valid until the next
    // modify2). The given record is not changed.
    virtual udb_record& modify2(udb_record& record)
    {
        tk_write_log(2, "udb_table_mutator::modify2()");
        if (m_by_source.empty()) {
            tk_write_log(2, "field_mutators.size == 0, nothing to do");
            return record;
        }
        tk_write_log(1, "create_modified_copy1");
        const bool trace = tk_log_wants(1);
        const row_plan& plan = plan_for(record);
        // The working record's fields are reused from row to row: once warm, a
        // row costs no allocation beyond what its values need.
        std::size_t out = 0;
        for (std::size_t i = 0; i < record.size(); ++i) {
            const udb_field* field = record.get(i);
            if (!field)
                continue;
            const FM* fm = plan[i];
            if (trace)
                tk_write_wlog(1, L"Field name='%s'", field->get_name().c_str());
            if (fm && fm->get_status() == udb_mutators::deleted) {
                if (trace)
                    tk_write_log(1, "status == udb_mutators::deleted, cotinue");
                continue;
            }
            udb_field& target = working_field(out++);
            target = *field;
            if (!fm) {
                if (trace)
                    tk_write_log(1, "Failed to find field");
            } else {
                if (trace)
                    tk_write_log(1, "udb_field_mutator::create1");
                fm->modify2(target);
            }
        }
        m_working_record.resize(out);
        tk_write_log(1, "create_modified_copy1 - END");
        if (trace)
            for (const auto& [name, fm] : m_by_source)
                if (fm->get_status() == udb_mutators::created)
                    fm->create2(nullptr);  // only traces
        tk_write_log(1, "udb_table_mutator::modify2 - END");
        return m_working_record;
    }

    // Rewrites the index list in place: deleted columns leave the column lists,
    // renamed columns take their new names. An index left without columns is
    // dropped; so is a primary or unique index that lost a column (with a
    // level-3 warning), since the narrower key would refuse rows the source
    // table holds. A plain index keeps its remaining columns.
    // key_pos, when given, is the position of the table's key index in the
    // list; it follows the index to its new position, or becomes -1 when the
    // key index is dropped.
    void modify3(udb_indexes& indexes, std::int32_t* key_pos = nullptr) const
    {
        tk_write_log(2, "udb_table_mutator::modify3()");
        auto& list = indexes.list();
        for (auto it = list.begin(); it != list.end();) {
            const auto position = static_cast<std::int32_t>(it - list.begin());
            udb_index& index = *it;
            const std::size_t before = index.fields.size();
            std::vector<std::wstring> kept;
            std::vector<std::uint32_t> kept_prefixes;  // stays beside the kept names
            std::vector<bool> kept_order;              // likewise
            kept.reserve(before);
            for (std::size_t k = 0; k < before; ++k) {
                std::wstring& name = index.fields[k];
                const FM* fm = get_field_mutator(name);
                if (fm && fm->get_status() == udb_mutators::deleted)
                    continue;
                kept.push_back(fm ? fm->get_new_name() : std::move(name));
                if (!index.prefix_lengths.empty())
                    kept_prefixes.push_back(index.prefix_of(k));
                if (!index.descending.empty())
                    kept_order.push_back(index.is_descending(k));
            }
            index.fields = std::move(kept);
            index.prefix_lengths = std::move(kept_prefixes);
            index.descending = std::move(kept_order);
            const bool lost_column = index.fields.size() != before;
            if (before != 0 && index.fields.empty()) {
                tk_write_wlog(2, L"Index '%s' has no columns left, dropped", index.name.c_str());
                it = list.erase(it);
                follow_key(key_pos, position);
            } else if (lost_column && (index.primary || index.unique || index.unique_constraint)) {
                tk_write_wlog(3,
                              L"Warning: %s '%s' is not created: a column of it is left out, and the "
                              L"remaining columns would reject rows the source table holds",
                              index.primary ? L"primary key" : L"unique index", index.name.c_str());
                it = list.erase(it);
                follow_key(key_pos, position);
            } else {
                ++it;
            }
        }
    }

    const std::wstring& get_new_name() const noexcept { return m_new_name; }
    void set_new_name(std::wstring name) { m_new_name = std::move(name); }
    bool has_field_mutators() const noexcept { return !m_by_source.empty(); }
    // Field mutators by source column name, in name order.
    const field_map& get_field_mutators() const noexcept { return m_by_source; }

private:
    using row_plan = std::vector<const FM*>;

    // Keeps a key position right after the index at `dropped` was erased from
    // the list (both positions in the list as it was just before the erase).
    static void follow_key(std::int32_t* key_pos, std::int32_t dropped)
    {
        if (!key_pos || *key_pos < 0)
            return;
        if (*key_pos == dropped)
            *key_pos = -1;
        else if (*key_pos > dropped)
            --*key_pos;
    }

    // The field mutator of each field position, looked up once per table (and
    // again only when a record comes with other field names).
    const row_plan& plan_for(const udb_record& record)
    {
        bool same = m_plan_names.size() == record.size();
        for (std::size_t i = 0; same && i < record.size(); ++i) {
            const udb_field* field = record.get(i);
            same = field ? field->get_name() == m_plan_names[i] : m_plan_names[i].empty();
        }
        if (!same) {
            m_plan_names.assign(record.size(), std::wstring());
            m_plan.assign(record.size(), nullptr);
            for (std::size_t i = 0; i < record.size(); ++i) {
                if (const udb_field* field = record.get(i)) {
                    m_plan_names[i] = field->get_name();
                    m_plan[i] = get_field_mutator(field->get_name());
                }
            }
        }
        return m_plan;
    }

    udb_field& working_field(std::size_t i)
    {
        if (i >= m_working_record.size())
            m_working_record.resize(i + 1);
        if (!m_working_record.get(i))
            m_working_record.set(i, std::make_unique<udb_field>());
        return m_working_record[i];
    }

    field_map m_by_source;
    std::map<std::wstring, FM*> m_by_new_name;
    udb_record m_working_record;
    row_plan m_plan;
    std::vector<std::wstring> m_plan_names;
    udb_schema::list_type m_working_columns;  // the rewritten columns this mutator owns
    std::wstring m_new_name;
};

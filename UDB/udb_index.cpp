#include "UDB/udb_index.h"

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

// ---------------------------------------------------------------- udb_index

udb_index::udb_index(std::wstring name_, bool unique_, bool primary_, std::vector<std::wstring> fields_)
    : name(std::move(name_)), unique(unique_), primary(primary_), fields(std::move(fields_))
{
    tk_write_wlog(1, L"udb_index::ctor('%s',%d,%d)", name.c_str(), int(unique), int(primary));
}

bool udb_index::starts_with_fields(const std::vector<std::wstring>& names) const
{
    tk_write_wlog(1, L"udb_index(%s)::starts_with_fields", name.c_str());
    tk_write_log(1, "this.size=%d, that.size=%d", int(fields.size()), int(names.size()));
    if (fields.size() < names.size()) {
        tk_write_log(1, "starts_with_fields returns false");
        return false;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!tk_equal_no_case(names[i], fields[i])) {
            tk_write_wlog(1, L"Field '%s' not found", names[i].c_str());
            return false;
        }
    }
    tk_write_log(1, "starts_with_fields returns true");
    return true;
}

bool udb_index::has_prefix() const noexcept
{
    for (std::uint32_t n : prefix_lengths)
        if (n) return true;
    return false;
}

void udb_index::add_field(std::wstring field, std::uint32_t prefix, bool descends)
{
    if (prefix || !prefix_lengths.empty()) prefix_lengths.resize(fields.size(), 0);
    if (descends || !descending.empty()) descending.resize(fields.size(), false);
    fields.push_back(std::move(field));
    if (prefix || !prefix_lengths.empty()) prefix_lengths.push_back(prefix);
    if (descends || !descending.empty()) descending.push_back(descends);
}

// ---------------------------------------------------------------- udb_indexes

udb_index* udb_indexes::find_ptr(const std::wstring& name)
{
    for (auto& idx : m_list)
        if (tk_equal_no_case(idx.name, name)) return &idx;
    return nullptr;
}

const udb_index* udb_indexes::find_ptr(const std::wstring& name) const
{
    for (const auto& idx : m_list)
        if (tk_equal_no_case(idx.name, name)) return &idx;
    return nullptr;
}

bool udb_indexes::find2(const std::wstring& name) const
{
    tk_write_log(1, "udb_indexes::find2");
    return find_ptr(name) != nullptr;
}

udb_index& udb_indexes::get_index(const std::wstring& name)
{
    tk_write_wlog(1, L"udb_indexes::get_index(%s)", name.c_str());
    udb_index* p = find_ptr(name);
    if (!p) throw tk_mail_assertion("..\\UDB/udb_idx", 179);
    return *p;
}

const udb_index& udb_indexes::get_index(const std::wstring& name) const
{
    tk_write_wlog(1, L"udb_indexes::get_index(%s)", name.c_str());
    const udb_index* p = find_ptr(name);
    if (!p) throw tk_mail_assertion("..\\UDB/udb_idx", 179);
    return *p;
}

bool udb_indexes::is_acceptable_name(const std::wstring& name) const
{
    tk_write_wlog(1, L"udb_indexes::is_acceptable_name(%s)", name.c_str());
    return find_ptr(name) == nullptr;
}

bool udb_indexes::is_idx_field(const std::wstring& name, bool primary_only) const
{
    tk_write_wlog(1, L"udb_indexes::is_idx_field(%s)", name.c_str());
    for (const auto& idx : m_list) {
        if (primary_only && !idx.primary) continue;
        for (const auto& f : idx.fields) {
            if (f == name) {
                tk_write_log(1, "index field");
                return true;
            }
        }
    }
    tk_write_log(1, "non-index field");
    return false;
}

bool udb_indexes::has_index_on_fields(const std::vector<std::wstring>& names) const
{
    tk_write_log(1, "udb_indexes::has_index_on_fields");
    for (const auto& idx : m_list)
        if (idx.starts_with_fields(names)) return true;
    return false;
}

void udb_indexes::push_back(const udb_index& index)
{
    tk_write_wlog(2, L"udb_indexes::push_back(%s)", index.name.c_str());
    udb_index* old = find_ptr(index.name);
    if (!old) {
        tk_write_log(2, "Index does not exist, add it");
        m_list.push_back(index);
        return;
    }
    if (old->primary) {
        tk_write_log(2, "Primary key with the same name exists, skip it.");
        return;
    }
    if (index.primary) {
        tk_write_log(2, "Upgrade existing index to primary key.");
        *old = index;
        return;
    }
    if (old->unique_constraint) {
        tk_write_log(2, "Unique constraint with the same name exists, skip it.");
        return;
    }
    if (index.unique_constraint) {
        tk_write_log(2, "Set unique constraint attributes for existing index.");
        *old = index;
        // The replaced entry is now a unique constraint: the rules below can
        // only trace, as the earlier rules would have stopped here.
        if (old->unique) tk_write_log(2, "Unique index with the same name exists, skip it.");
        return;
    }
    if (old->unique) {
        tk_write_log(2, "Unique index with the same name exists, skip it.");
        return;
    }
    if (index.unique) {
        tk_write_log(2, "Set unique attribute for existing index.");
        *old = index;
        return;
    }
    // Two plain indexes of one name: the earlier stays.
}

// ---------------------------------------------------------------- udb_relationship

udb_relationship::udb_relationship(std::wstring name_, std::wstring second_name_, std::wstring table_,
                                   std::wstring ref_table_, std::vector<std::wstring> fk_flds_,
                                   std::vector<std::wstring> pk_flds_, std::wstring rule_)
    : name(std::move(name_)),
      second_name(std::move(second_name_)),
      table(std::move(table_)),
      ref_table(std::move(ref_table_)),
      rule(std::move(rule_)),
      fk_flds(std::move(fk_flds_)),
      pk_flds(std::move(pk_flds_))
{
}

// ---------------------------------------------------------------- udb_sequence

udb_sequence::udb_sequence(std::wstring name_, std::int32_t start_, std::int32_t increment_,
                           std::int32_t minimum_, std::int32_t maximum_, bool cycle_)
    : name(std::move(name_)),
      increment(increment_),
      start(start_),
      minimum(minimum_),
      maximum(maximum_),
      cycle(cycle_)
{
    tk_write_wlog(2, L"udb_sequence::ctor(%s,%d,%d,%d,%d,%d)", name.c_str(), int(start), int(increment),
                  int(minimum), int(maximum), int(cycle));
}

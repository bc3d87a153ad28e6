#include "UDB/udb_record.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"

namespace {

udb_field& missing_field()
{
    thread_local udb_field empty;
    empty = udb_field();
    return empty;
}

}  // namespace

udb_record::udb_record(const udb_record& that)
{
    m_fields.reserve(that.m_fields.size());
    for (const auto& f : that.m_fields) m_fields.push_back(f ? std::make_unique<udb_field>(*f) : nullptr);
}

udb_record& udb_record::operator=(const udb_record& that)
{
    if (this != &that) {
        udb_record copy(that);
        m_fields = std::move(copy.m_fields);
    }
    return *this;
}

udb_record::~udb_record() = default;

void udb_record::reset() noexcept
{
    m_fields.clear();
}

int udb_record::get_field_idx(const std::wstring& name) const
{
    for (std::size_t i = 0; i < m_fields.size(); ++i)
        if (m_fields[i] && tk_equal_no_case(m_fields[i]->get_name(), name)) return int(i);
    return -1;
}

bool udb_record::find_field(const std::wstring& name) const
{
    tk_write_wlog(1, L"udb_record::find_field(%s)", name.c_str());
    return get_field_idx(name) >= 0;
}

udb_field* udb_record::find(const std::wstring& name)
{
    int i = get_field_idx(name);
    return i < 0 ? nullptr : m_fields[std::size_t(i)].get();
}

const udb_field* udb_record::find(const std::wstring& name) const
{
    int i = get_field_idx(name);
    return i < 0 ? nullptr : m_fields[std::size_t(i)].get();
}

udb_field& udb_record::get_field(const std::wstring& name)
{
    tk_write_wlog(1, L"udb_record::get_field(%s)", name.c_str());
    int i = get_field_idx(name);
    if (i < 0) return missing_field();
    tk_write_log(1, "Field found at pos=%d", i);
    return *m_fields[std::size_t(i)];
}

const udb_field& udb_record::get_field(const std::wstring& name) const
{
    return const_cast<udb_record*>(this)->get_field(name);
}

std::uint64_t udb_record::get_total_size() const
{
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        const udb_field* f = m_fields[i].get();
        if (!f) {
            tk_write_log(3, "Incorrect field #%d", int(i));
            continue;
        }
        if (f->get_type() != VT_EMPTY) total += f->get_data_size();
    }
    return total;
}

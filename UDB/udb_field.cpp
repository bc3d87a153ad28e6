#include "UDB/udb_field.h"

// No traces here: fields are built for every value of every row.

udb_field::udb_field(std::wstring name, std::uint32_t size, const ole_variant& value, bool not_null,
                     bool auto_increment)
    : ole_variant(value), m_size(size), m_name(std::move(name)), m_not_null(not_null),
      m_auto_increment(auto_increment)
{
}

udb_field::udb_field(std::wstring name, std::uint32_t size, ole_variant&& value, bool not_null,
                     bool auto_increment) noexcept
    : ole_variant(std::move(value)), m_size(size), m_name(std::move(name)), m_not_null(not_null),
      m_auto_increment(auto_increment)
{
}

udb_field::~udb_field() = default;

VARTYPE udb_field::get_type() const
{
    return src.vt;
}

std::uint32_t udb_field::get_data_size() const
{
    const VARTYPE vt = src.vt;
    if ((vt == VT_BYTE_ARRAY || vt == VT_BLOB || vt == VT_SAFEARRAY) && src.parray.dims == 1)
        return get_safe_array_size(src.parray);
    if (get_type() == VT_BSTR) return static_cast<std::uint32_t>(text_length());
    return m_size;
}

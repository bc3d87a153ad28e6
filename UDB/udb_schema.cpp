#include "UDB/udb_schema.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"

bool udb_is_numeric_kind(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_BOOL: case VT_DECIMAL:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8:
        return true;
    default:
        return false;
    }
}

bool udb_is_text_kind(VARTYPE vt) noexcept
{
    return vt == VT_BSTR || vt == VT_LPSTR || vt == VT_LPWSTR;
}

bool udb_is_binary_kind(VARTYPE vt) noexcept
{
    return vt == VT_BLOB || vt == VT_BLOB_OBJECT || vt == VT_BYTE_ARRAY;
}

// ---------------------------------------------------------------- t_ftd

t_ftd::t_ftd(std::uint32_t size_, std::wstring name_, VARTYPE vartype_, bool b_not_null_, bool auto_increment_,
             const ole_variant& default_value_, std::int32_t dw_reserved_, std::wstring nativetype_)
    : size(size_),
      name(std::move(name_)),
      vartype(vartype_),
      nativetype(std::move(nativetype_)),
      auto_increment(auto_increment_),
      b_not_null(b_not_null_),
      default_value(default_value_),
      dw_reserved(dw_reserved_)
{
    tk_write_log(1, "t_ftd::ctor2");
    tk_write_wlog(1, L"\tfield name='%s', vartype=%d, size=%d, b_not_null=%d, reserved=%d", name.c_str(),
                  int(vartype), int(size), int(b_not_null), int(dw_reserved));
}

bool t_ftd::operator==(const t_ftd& that) const noexcept
{
    if ((vartype == VT_DECIMAL && that.vartype == VT_CY) || (vartype == VT_CY && that.vartype == VT_DECIMAL))
        return true;
    if (vartype != that.vartype) return false;
    if (vartype == VT_BSTR) return size == that.size;
    return true;
}

namespace {

bool is_integer_kind(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
    case VT_INT: case VT_UINT:
        return true;
    default:
        return false;
    }
}

// Digits after the point a numeric column keeps (a currency four); -1 for a binary fraction
// (FLOAT, DOUBLE), which no count of decimal digits holds exactly.
int fraction_digits(const t_ftd& c) noexcept
{
    switch (c.vartype) {
    case VT_R4: case VT_R8: return -1;
    case VT_CY: return 4;
    case VT_DECIMAL: return c.scale;
    default: return 0;
    }
}

// Date and time kinds: 1 date and time (also 0, a TIMESTAMP), 2 date only, 3 time only.
int date_kind(const t_ftd& c) noexcept
{
    const int kind = c.dw_reserved & 3;
    return kind == 0 ? 1 : kind;
}

}  // namespace

bool t_ftd::narrows(const t_ftd& that) const
{
    const VARTYPE dest = that.vartype;
    const int digits = fraction_digits(*this);
    // The destination server rounds what its column cannot hold, without a word: a fraction
    // into an integer, more decimal digits than the column keeps, more digits than a REAL has.
    if (is_integer_kind(dest)) return digits != 0;
    // A boolean keeps only whether a number is zero: 5 and -1 would both arrive as true.
    if (dest == VT_BOOL) return vartype != VT_BOOL;
    if (dest == VT_DECIMAL && that.precision > 0) return digits < 0 || digits > that.scale;
    if (dest == VT_R4) return vartype != VT_R4 && vartype != VT_I1 && vartype != VT_UI1 && vartype != VT_I2 &&
                              vartype != VT_UI2 && vartype != VT_BOOL;
    // A double keeps 15 significant digits for sure and whole numbers up to 2^53. (A NUMERIC
    // with no precision or a larger one than values travel with is read as VT_R8 with a
    // negative precision: it keeps every digit, up to its scale where it has one.)
    if (dest == VT_R8 && that.precision >= 0)
        return vartype == VT_I8 || vartype == VT_UI8 || (vartype == VT_DECIMAL && precision > 15);
    if (dest == VT_R8) return that.scale >= 0 && (digits < 0 || digits > that.scale);
    if (dest == VT_DATE && vartype == VT_DATE) {
        // A date column drops the time of day, a time column the date; fewer fractional
        // second digits round the time.
        const int from = date_kind(*this), to = date_kind(that);
        if ((to == 2 && from != 2) || (to == 3 && from != 3)) return true;
        // A time of day has no date: a column with a date part would store NULL for it.
        if (from == 3 && to != 3) return true;
        return to != 2 && scale > that.scale;
    }
    return false;
}

bool t_ftd::conform_to(const t_ftd& that) const
{
    tk_write_log(1, "t_ftd::conform_to");
    if (narrows(that)) {
        tk_write_wlog(2, L"Column '%s' would lose digits or parts of its values in '%s'", name.c_str(),
                      that.name.c_str());
        return false;
    }
    if (*this == that) {
        tk_write_log(1, "Src and dest columns are identical");
        return true;
    }
    const VARTYPE dest = that.vartype;
    tk_write_log(1, "that.type=%d", int(dest));
    if (udb_is_numeric_kind(dest) || dest == VT_INT || dest == VT_UINT) return udb_is_numeric_kind(vartype);
    if (dest == VT_DATE) {
        tk_write_log(1, "Processing VT_DATE, size=%d", int(size));
        // A text of exactly "YYYY-MM-DD hh:mm:ss" length reads as a date.
        return vartype == VT_DATE || (vartype == VT_BSTR && size == 19);
    }
    if (udb_is_text_kind(dest)) {
        if (udb_is_text_kind(vartype)) {
            tk_write_log(1, "Src and dest columns are both text");
            return that.size == 0 || that.size >= size || that.size >= 65535;
        }
        return !udb_is_binary_kind(vartype);
    }
    if (udb_is_binary_kind(dest)) {
        if (udb_is_text_kind(vartype) || udb_is_binary_kind(vartype)) {
            tk_write_log(1, "Src is BLOB and dest is TEXT");
            return that.size == 0 || that.size >= size;
        }
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- udb_schema

namespace {

t_ftd& missing_column()
{
    thread_local t_ftd empty;
    empty = t_ftd();
    return empty;
}

}  // namespace

udb_schema::udb_schema(int mode_) : mode(mode_)
{
    tk_write_log(1, "udb_schema::ctor");
}

udb_schema::~udb_schema() = default;

t_ftd& udb_schema::add_column(t_ftd column)
{
    m_columns.push_back(std::make_shared<t_ftd>(std::move(column)));
    return *m_columns.back();
}

const t_ftd* udb_schema::find_ptr(const std::wstring& name) const
{
    for (const auto& c : m_columns)
        if (c && tk_equal_no_case(c->name, name)) return c.get();
    return nullptr;
}

bool udb_schema::find_field(const std::wstring& name) const
{
    tk_write_wlog(1, L"udb_schema::find_field(%s)", name.c_str());
    const bool found = find_ptr(name) != nullptr;
    tk_write_log(1, found ? "Field found!!!" : "Field NOT found!!!");
    return found;
}

t_ftd& udb_schema::lookup(const std::wstring& name, const wchar_t* trace)
{
    tk_write_wlog(1, trace, name.c_str());
    if (const t_ftd* p = find_ptr(name)) return const_cast<t_ftd&>(*p);
    tk_write_wlog(2, L"Field '%s' not found", name.c_str());
    return missing_column();
}

t_ftd& udb_schema::get_field1(const std::wstring& name)
{
    return lookup(name, L"udb_schema::get_field1(%s)");
}

const t_ftd& udb_schema::get_field1(const std::wstring& name) const
{
    return const_cast<udb_schema*>(this)->lookup(name, L"udb_schema::get_field1(%s)");
}

t_ftd& udb_schema::get_field2(const std::wstring& name)
{
    return lookup(name, L"udb_schema::get_field2(%s)");
}

const t_ftd& udb_schema::get_field2(const std::wstring& name) const
{
    return const_cast<udb_schema*>(this)->lookup(name, L"udb_schema::get_field2(%s)");
}

int udb_schema::get_field_idx(const std::wstring& name) const
{
    tk_write_wlog(1, L"udb_schema::get_field_idx(%s)", name.c_str());
    for (std::size_t i = 0; i < m_columns.size(); ++i)
        if (m_columns[i] && tk_equal_no_case(m_columns[i]->name, name)) return int(i);
    return -1;
}

std::uint32_t udb_schema::get_field_size(const std::wstring& name) const
{
    tk_write_wlog(1, L"udb_schema::get_field_size(%s)", name.c_str());
    if (const t_ftd* p = find_ptr(name)) return p->size;
    tk_write_wlog(3, L"Field '%s' not found", name.c_str());
    return 0xFFFFFFFFu;
}

VARTYPE udb_schema::get_field_type(const std::wstring& name) const
{
    tk_write_wlog(1, L"udb_schema::get_field_type(%s)", name.c_str());
    if (const t_ftd* p = find_ptr(name)) return p->vartype;
    tk_write_wlog(2, L"Field '%s' not found", name.c_str());
    return VT_NULL;
}

bool udb_schema::conform_to(const udb_schema& that, bool by_name) const
{
    tk_write_log(1, "udb_schema::conform_to");
    if (m_columns.size() != that.m_columns.size()) {
        tk_write_log(2, "Tables are not conformed: src_size=%d, dest_size=%d", int(m_columns.size()),
                     int(that.m_columns.size()));
        return false;
    }
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const t_ftd* src = m_columns[i].get();
        const t_ftd* dest = nullptr;
        if (!src) return false;  // a hole in the source list cannot be matched
        if (by_name) {
            dest = that.find_ptr(src->name);
            if (!dest) {
                tk_write_wlog(2, L"Field '%s' is not found in record", src->name.c_str());
                return false;
            }
        } else {
            dest = that.m_columns[i].get();
            if (!dest) return false;
        }
        if (!src->conform_to(*dest)) {
            tk_write_log(2, "Column #%d doesn't conform (src_vt=%d, src_size=%d, dest_vt=%d, dest_size=%d)",
                         int(i + 1), int(src->vartype), int(src->size), int(dest->vartype), int(dest->size));
            return false;
        }
    }
    return true;
}

#include "SQL/sql_sync.h"

#include "SQL/sql_database.h"
#include "SQL/sql_literals.h"
#include "SQL/sql_quote.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_text.h"

namespace {

bool is_bare_kind(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_BOOL: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_BLOB: case VT_BLOB_OBJECT:
    case VT_BYTE_ARRAY:
        return true;
    default:
        return false;
    }
}

std::wstring decode_entities(std::wstring value)
{
    tk_wstring::replace_all(value, L"&lt;", L"<");
    tk_wstring::replace_all(value, L"&gt;", L">");
    tk_wstring::replace_all(value, L"&amp;", L"&");
    return value;
}

}  // namespace

sql_sync::sql_sync(sql_database& database_) : database(&database_)
{
    tk_write_log(2, "sql_sync::ctor");
}

std::wstring sql_sync::get_filter_subquery(const std::wstring& table, const std::wstring& key)
{
    tk_write_wlog(1, L"sql_sync::get_filter_subquery(%s,%s)", table.c_str(), key.c_str());
    auto opened = database->get_table(table, 1);
    return get_filter_subquery(opened->get_schema(), key);
}

std::wstring sql_sync::get_filter_subquery(const udb_schema& columns, const std::wstring& key)
{
    std::wstring result;
    int open_count = 0;
    int close_toggle = 0;
    std::wstring name, value;
    auto emit = [&] {
        // Numbers of numeric columns and hexadecimal or decimal texts of binary columns go
        // bare; anything else, and any value that is not such a text, as an escaped literal
        // of the whole decoded value.
        const VARTYPE vt = columns.find_field(name) ? columns.get_field_type(name) : VT_BSTR;
        const std::wstring decoded = decode_entities(value);
        std::string literal = to_mysql_str(pf_wide_to_utf8(decoded), is_bare_kind(vt) ? vt : VT_BSTR);
        if (!literal.empty() && literal.front() == '\'') {
            result += L"=" + pf_utf8_to_wide(literal) + L" ";
        } else {
            tk_write_log(1, "No quotes for numeric or binary");
            result += L"=" + pf_utf8_to_wide(literal);
        }
    };
    for (std::size_t pos = 0; pos < key.size(); ++pos) {
        const wchar_t c = key[pos];
        if (c == L'<') {
            tk_write_log(1, "Open XML-tag at pos=%d", static_cast<int>(pos));
            if (++open_count == 2) {
                emit();
                name.clear();
                value.clear();
                open_count = 0;
            }
        } else if (c == L'>') {
            tk_write_log(1, "Close XML-tag at pos=%d", static_cast<int>(pos));
            if (close_toggle == 0) {
                if (!result.empty()) result += L" and ";
                result += sql_quote_wname(name);
            }
            close_toggle ^= 1;
        } else if (open_count == 1) {
            if (close_toggle == 1) value += c;
            else name += c;
        }
    }
    return result;
}

#include "UDB/udb_recordset.h"

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

udb_recordset::udb_recordset(udb_database* database_, std::wstring name_, std::wstring sql_text_,
                             int schema_mode)
    : sql_text(std::move(sql_text_)), name(std::move(name_)), schema(schema_mode), database(database_)
{
}

udb_recordset::udb_recordset(udb_database* database_, std::wstring name_)
    : udb_recordset(database_, std::move(name_), std::wstring(), 0)
{
}

udb_recordset::udb_recordset(udb_database* database_, std::wstring name_, int schema_mode)
    : udb_recordset(database_, std::move(name_), std::wstring(), schema_mode)
{
}

udb_recordset::udb_recordset(std::wstring name_) : name(std::move(name_))
{
    tk_write_log(2, "udb_recordset::ctor(default)");
}

udb_recordset::~udb_recordset()
{
    tk_write_log(1, "udb_recordset::dtor");
}

void udb_recordset::update2(udb_record&, const std::wstring&)
{
    tk_write_log(1, "udb_recordset::update2");
}

void udb_recordset::update1(udb_record&)
{
    tk_write_log(1, "udb_recordset::update1");
}

udb_record* udb_recordset::get_item()
{
    return nullptr;
}

bool udb_recordset::is_eof()
{
    return true;
}

void udb_recordset::move_to(std::int32_t position)
{
    tk_write_log(1, "udb_recordset::move_to(%d)", int(position));
}

void udb_recordset::next() {}
void udb_recordset::prev() {}
void udb_recordset::reset() {}
void udb_recordset::delete_key(const std::wstring&) {}
void udb_recordset::delete_key(udb_record&) {}

void udb_recordset::add_index(const udb_index& index)
{
    tk_write_wlog(2, L"udb_recordset::add_index(%s, %d)", index.name.c_str(), int(key_pos));
    if (!indexes.is_acceptable_name(index.name)) {
        tk_write_wlog(2, L"Index '%s' cannot be processed", index.name.c_str());
        return;
    }
    if (index.primary || (index.unique && key_pos == -1)) {
        tk_write_log(2, "Store primary/unique key");
        key_pos = std::int32_t(indexes.size());
    }
    indexes.push_back(index);
}

std::unique_ptr<udb_record> udb_recordset::get_key(const udb_record& record) const
{
    tk_write_log(1, "udb_recordset::get_key(that.size=%d)", int(record.size()));
    if (key_pos < 0 || std::size_t(key_pos) >= indexes.size())
        throw tk_exception("There's no primary/unique key", 1);
    const udb_index& key = indexes[std::size_t(key_pos)];
    tk_write_log(1, "u_k_flds.size=%d", int(key.fields.size()));
    auto result = std::make_unique<udb_record>();
    result->reserve(key.fields.size());
    for (const auto& field_name : key.fields) {
        const udb_field* f = record.find(field_name);
        if (!f) {
            tk_write_wlog(3, L"Key field '%s' is not found in record", field_name.c_str());
            return nullptr;
        }
        result->push_back(std::make_unique<udb_field>(*f));
    }
    tk_write_log(1, "Just before exit: result.size=%d", int(result->size()));
    return result;
}

namespace {

void append_doubled(std::wstring& out, const std::wstring& text, wchar_t quote)
{
    for (wchar_t c : text) {
        out += c;
        if (c == quote) out += c;
    }
}

// Whether a value can stand bare in the condition: a number or a hexadecimal
// text, nothing that could end the literal or the statement.
bool is_bare_value(const std::wstring& value)
{
    if (value.empty()) return false;
    for (wchar_t c : value) {
        const bool ok = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                        c == L'+' || c == L'-' || c == L'.';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

std::wstring udb_recordset::get_filter_subquery(const std::wstring& key)
{
    tk_write_wlog(1, L"udb_recordset::get_filter_subquery(%s)", key.c_str());
    std::wstring result;
    std::wstring field_name;
    std::wstring value;
    int tags = 0;
    int state = 0;  // 0 outside a value, 1 inside
    for (std::size_t pos = 0; pos < key.size(); ++pos) {
        const wchar_t c = key[pos];
        if (c == L'<') {
            tk_write_log(1, "Open XML-tag at pos=%d", int(pos));
            if (++tags < 2) continue;
            // The closing tag starts: the value is complete.
            const VARTYPE vt = schema.find_field(field_name) ? schema.get_field_type(field_name) : VT_EMPTY;
            // A value of a numeric or binary column goes bare, unless it is not
            // a plain number or hexadecimal text: then it goes quoted like text
            // and the server rejects it instead of running it.
            if ((udb_is_numeric_kind(vt) || udb_is_binary_kind(vt)) && is_bare_value(value)) {
                tk_write_log(1, "Special processing for binary");
                result += L"=";
                result += value;
            } else {
                tk_wstring::replace_all(value, L"&lt;", L"<");
                tk_wstring::replace_all(value, L"&gt;", L">");
                tk_wstring::replace_all(value, L"&amp;", L"&");
                result += L"='";
                append_doubled(result, value, L'\'');
                result += L"' ";
            }
            field_name.clear();
            value.clear();
            tags = 0;
        } else if (c == L'>') {
            tk_write_log(1, "Close XML-tag at pos=%d", int(pos));
            if (state == 1) {
                state = 0;
            } else {
                if (!result.empty()) result += L" and ";
                const int idx = schema.get_field_idx(field_name);
                if (idx < 0) {
                    tk_write_wlog(2, L"Field %s not found in the schema", field_name.c_str());
                    throw tk_exception("The structure of data source does not conform to the destination table.",
                                       0);
                }
                result += L'"';
                append_doubled(result, schema[std::size_t(idx)].name, L'"');
                result += L'"';
                state = 1;
            }
        } else if (tags == 1) {
            (state == 0 ? field_name : value) += c;
        }
    }
    return result;
}

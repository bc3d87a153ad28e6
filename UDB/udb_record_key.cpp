#include "UDB/udb_record_key.h"

#include "TK/tk_log.h"
#include "UDB/udb_recordset.h"
#include "UDB/udb_schema.h"

namespace {

bool is_white(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::size_t skip_white(std::wstring_view text, std::size_t pos) noexcept
{
    while (pos < text.size() && is_white(text[pos])) ++pos;
    return pos;
}

[[noreturn]] void malformed(const char* fault, std::size_t offset)
{
    throw udb_key_text_exception(fault, offset);
}

// The character an entity at `pos` (which holds '&') stands for, and its length; 0 for none.
std::size_t entity_at(std::wstring_view text, std::size_t pos, wchar_t& decoded) noexcept
{
    struct entity {
        std::wstring_view text;
        wchar_t stands_for;
    };
    static constexpr entity entities[] = {{L"&lt;", L'<'}, {L"&gt;", L'>'}, {L"&amp;", L'&'}};
    for (const entity& e : entities) {
        if (text.substr(pos, e.text.size()) == e.text) {
            decoded = e.stands_for;
            return e.text.size();
        }
    }
    return 0;
}

}  // namespace

udb_key_text_exception::udb_key_text_exception(const std::string& fault, std::size_t offset)
    : tk_exception("The record key is malformed at character " + std::to_string(offset + 1) + ": " + fault, 1),
      m_offset(offset)
{
}

std::vector<udb_key_element> udb_parse_record_key(std::wstring_view key)
{
    std::vector<udb_key_element> elements;
    std::size_t pos = skip_white(key, 0);
    while (pos < key.size()) {
        if (key[pos] != L'<') malformed("text outside an element", pos);
        const std::size_t name_end = key.find_first_of(L"<>", pos + 1);
        if (name_end == std::wstring_view::npos) malformed("an opening tag without its '>'", pos);
        if (key[name_end] == L'<') malformed("a '<' inside a tag", name_end);
        udb_key_element element;
        element.name.assign(key.substr(pos + 1, name_end - pos - 1));
        if (element.name.empty()) malformed("an element without a name", pos);
        if (element.name.front() == L'/') malformed("a closing tag without its element", pos);

        // The value runs to the next '<', which must open this element's closing tag. A '>'
        // needs no entity: only '<' can end the value.
        pos = name_end + 1;
        while (pos < key.size() && key[pos] != L'<') {
            if (key[pos] == L'&') {
                wchar_t decoded = 0;
                const std::size_t length = entity_at(key, pos, decoded);
                if (length == 0) malformed("an '&' that is not &lt;, &gt; or &amp;", pos);
                element.value += decoded;
                pos += length;
            } else {
                element.value += key[pos++];
            }
        }
        if (pos == key.size()) malformed("an element without its closing tag", pos);
        const std::size_t close_size = element.name.size() + 3;  // "</" name ">"
        if (key.substr(pos, 2) != L"</" || key.substr(pos + 2, element.name.size()) != element.name ||
            key.substr(pos + 2 + element.name.size(), 1) != L">")
            malformed("a value that is not followed by the closing tag of its element", pos);
        pos = skip_white(key, pos + close_size);
        elements.push_back(std::move(element));
    }
    return elements;
}

std::wstring udb_key_condition(const udb_schema& columns, std::wstring_view key, const udb_key_term_maker& make_term)
{
    std::wstring condition;
    for (const udb_key_element& element : udb_parse_record_key(key)) {
        const int idx = columns.get_field_idx(element.name);
        if (idx < 0) {
            tk_write_wlog(2, L"Field %s not found in the schema", element.name.c_str());
            throw udb_structure_exception();
        }
        if (!condition.empty()) condition += L" and ";
        condition += make_term(columns[std::size_t(idx)], element.value);
    }
    return condition;
}

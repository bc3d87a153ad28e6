#include "UDB/udb_profile.h"

#include <cerrno>
#include <cstdio>

#include "TK/tk_exception.h"
#include "TK/tk_list_file.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_files.h"

namespace {

constexpr const wchar_t* available_queries = L"Available Queries";
constexpr const wchar_t* selected_tables = L"Selected Tables";
constexpr const wchar_t* selected_views = L"Selected Views";
constexpr const wchar_t* generic_settings = L"Generic settings";

void append_line(std::string& out, const std::wstring& line)
{
    out += tk_unicode_to_utf8(line);
    out += "\r\n";
}

}  // namespace

udb_profile::udb_profile()
{
    add_section(available_queries);
    add_section(selected_tables);
    add_section(selected_views);
    add_section(generic_settings);
}

void udb_profile::set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    m_sections[section].emplace_back(key, value);
}

void udb_profile::add_section(const std::wstring& section)
{
    m_sections.try_emplace(section);
}

void udb_profile::add_list_item(const std::wstring& list, const std::wstring& text)
{
    m_lists[list].push_back(text);
}

std::wstring udb_profile::get_value(const std::wstring& section, const std::wstring& key) const
{
    auto s = m_sections.find(section);
    if (s == m_sections.end()) return {};
    for (const auto& [k, v] : s->second)
        if (k == key) return v;
    return {};
}

udb_profile::text_list& udb_profile::get_list(const std::wstring& list)
{
    return m_lists[list];
}

udb_profile::pair_list& udb_profile::required_section(const wchar_t* name)
{
    auto s = m_sections.find(name);
    if (s == m_sections.end()) throw tk_exception_ex("", 1, ENOENT);
    return s->second;
}

udb_profile::pair_list& udb_profile::get_available_queries()
{
    return required_section(available_queries);
}

udb_profile::pair_list& udb_profile::get_selected_tables()
{
    return required_section(selected_tables);
}

udb_profile::pair_list& udb_profile::get_selected_views()
{
    return required_section(selected_views);
}

std::string udb_profile::to_text() const
{
    std::string out;
    for (const auto& [name, pairs] : m_sections) {
        append_line(out, L"[" + name + L"]");
        const bool bare_keys = name == selected_tables;
        for (const auto& [key, value] : pairs) {
            if (bare_keys && value.empty())
                append_line(out, key);
            else
                append_line(out, key + L"=" + value);
        }
        out += "\r\n";
    }
    for (const auto& [name, items] : m_lists) {
        append_line(out, L"[" + name + L"]");
        for (const auto& item : items) append_line(out, item);
    }
    return out;
}

bool udb_profile::store(const std::wstring& path) const
{
    tk_write_wlog(2, L"udb_profile::store)");
    if (path.empty()) return false;
    const std::string target = tk_unicode_to_utf8(path);
    const std::string text = to_text();

    // A failed write never leaves a truncated profile behind; a new profile is
    // readable by its owner only (it can hold passwords), an existing one keeps its mode.
    if (!pf_replace_file(target, text, true)) {
        tk_write_wlog(3, L"Cannot write profile file '%s'", path.c_str());
        return false;
    }
    return true;
}

bool udb_profile::load(const std::wstring& path)
{
    tk_write_wlog(2, L"udb_profile::load(%s)", path.c_str());
    m_load_error.clear();
    const std::string file_name = tk_unicode_to_utf8(path);
    tk_small_file file = path.empty() ? tk_small_file{tk_small_file_status::missing, {}, 0}
                                      : tk_read_small_file(file_name, max_profile_bytes);
    if (file.status == tk_small_file_status::missing)
        throw tk_exception("Profile does not exist. Please verify the correct path/name was given.", 1);
    if (file.status != tk_small_file_status::ok) {
        m_load_error = file.reason();
        return false;
    }
    std::string_view text = file.bytes;
    if (tk_starts_as_utf16(text)) {
        m_load_error = "it is UTF-16 text; a profile is UTF-8 text";
        return false;
    }
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

    // Read into copies first: a profile refused part way changes nothing.
    std::map<std::wstring, pair_list> sections = m_sections;
    std::map<std::wstring, text_list> lists = m_lists;
    const std::wstring* current = nullptr;  // key in `sections` (stable)
    bool current_is_list = false;
    std::size_t line_number = 0;
    while (!text.empty()) {
        ++line_number;
        const std::size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (!tk_is_text_line(raw)) {
            m_load_error = "line " + std::to_string(line_number) +
                           " is not text (a zero byte, a control character or bytes that are not UTF-8)";
            return false;
        }
        const std::wstring line = tk_utf8_to_unicode(raw);
        const std::wstring trimmed = tk_trim(line);

        if (trimmed.size() >= 2 && trimmed.front() == L'[' && trimmed.back() == L']') {
            auto it = sections.try_emplace(trimmed.substr(1, trimmed.size() - 2)).first;
            current = &it->first;
            current_is_list = is_list_section(*current);
            continue;
        }
        if (trimmed.empty()) continue;
        // A comment of a hand-written profile. Lines of the list sections are names and
        // definitions, which may begin with these characters: they are always data.
        if (!current_is_list && (trimmed.front() == L';' || trimmed.front() == L'#')) continue;
        if (!current) {
            constexpr std::size_t shown = 60;
            m_load_error = "line " + std::to_string(line_number) + " \"" +
                           tk_visible_text(raw.substr(0, shown)) + (raw.size() > shown ? "..." : "") +
                           "\" comes before the first [section] header";
            return false;
        }

        const std::size_t eq = trimmed.find(L'=');
        // Type mappings are a plain list whatever their lines hold: a table
        // named a=b or a default 'x=y' must come back as it was stored.
        if (eq != std::wstring::npos && *current != type_mappings_name) {
            sections[*current].emplace_back(tk_trim(std::wstring_view(trimmed).substr(0, eq)),
                                            trimmed.substr(eq + 1));
            continue;
        }
        lists[*current].push_back(line);
        sections[*current].emplace_back(trimmed, std::wstring());
    }
    m_sections = std::move(sections);
    m_lists = std::move(lists);
    return true;
}

bool udb_profile::is_list_section(const std::wstring& section)
{
    return section == available_queries || section == selected_tables || section == selected_views ||
           section == type_mappings_name;
}

bool udb_profile::has_value(const std::wstring& section, const std::wstring& key) const
{
    auto s = m_sections.find(section);
    if (s == m_sections.end()) return false;
    for (const auto& [k, v] : s->second)
        if (k == key) return true;
    return false;
}

bool udb_profile::has_section(const std::wstring& section) const
{
    return m_sections.count(section) != 0;
}

void udb_profile::remove_value(const std::wstring& section, const std::wstring& key)
{
    auto s = m_sections.find(section);
    if (s == m_sections.end()) return;
    std::erase_if(s->second, [&](const auto& pair) { return pair.first == key; });
}

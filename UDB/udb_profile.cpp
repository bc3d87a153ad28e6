#include "UDB/udb_profile.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TK/tk_exception.h"
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
    const std::string file_name = tk_unicode_to_utf8(path);
    struct stat st {};
    if (path.empty() || ::stat(file_name.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        throw tk_exception("Profile does not exist. Please verify the correct path/name was given.", 1);

    std::ifstream in(file_name, std::ios::binary);
    if (!in) return false;

    const std::wstring type_mappings = type_mappings_name;
    const std::wstring* current = nullptr;  // key in m_sections (stable)
    std::string raw;
    bool first_line = true;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (first_line) {
            first_line = false;
            if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
        }
        const std::wstring line = tk_utf8_to_unicode(raw);
        const std::wstring trimmed = tk_trim(line);

        if (trimmed.size() >= 2 && trimmed.front() == L'[' && trimmed.back() == L']') {
            auto it = m_sections.try_emplace(trimmed.substr(1, trimmed.size() - 2)).first;
            current = &it->first;
            continue;
        }
        if (trimmed.empty()) continue;
        if (!current) return false;

        const std::size_t eq = trimmed.find(L'=');
        // Type mappings are a plain list whatever their lines hold: a table
        // named a=b or a default 'x=y' must come back as it was stored.
        if (eq != std::wstring::npos && *current != type_mappings) {
            m_sections[*current].emplace_back(tk_trim(std::wstring_view(trimmed).substr(0, eq)),
                                              trimmed.substr(eq + 1));
            continue;
        }
        m_lists[*current].push_back(line);
        m_sections[*current].emplace_back(trimmed, std::wstring());
    }
    return !in.bad();
}

#pragma once
// The profile file: the settings of a conversion kept for later runs. In
// memory a profile is a set of named sections, each an ordered list of
// key/value pairs, and a set of named plain lists; on disk it is UTF-8 text of
// "[name]" headers followed by "key=value" lines or plain lines, CR LF line
// ends. All name and key comparisons are exact (case matters).

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

class udb_profile {
public:
    using pair_list = std::vector<std::pair<std::wstring, std::wstring>>;
    using text_list = std::vector<std::wstring>;

    // The section whose lines are kept as a plain list whatever they hold
    // (the type mappings: table names or defaults may contain '=').
    static constexpr const wchar_t* type_mappings_name = L"Type Mappings";

    // Empty, then the sections "Available Queries", "Selected Tables",
    // "Selected Views" and "Generic settings".
    udb_profile();

    // Appends (key, value) to the section, creating it when missing; a pair
    // with the same key stays, so the key may then occur twice.
    void set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    void add_section(const std::wstring& section);
    void add_list_item(const std::wstring& list, const std::wstring& text);
    // The value of the first pair with that key; empty when section or key is missing.
    std::wstring get_value(const std::wstring& section, const std::wstring& key) const;
    // Whether the section holds a pair with that key (its value may be empty).
    bool has_value(const std::wstring& section, const std::wstring& key) const;
    bool has_section(const std::wstring& section) const;
    // Removes every pair with that key from the section.
    void remove_value(const std::wstring& section, const std::wstring& key);
    // The list by reference (created empty when missing).
    text_list& get_list(const std::wstring& list);

    // The pairs of these sections; a missing section is an error (level 1).
    pair_list& get_available_queries();
    pair_list& get_selected_tables();
    pair_list& get_selected_views();

    // Adds what the file holds. A missing file (or a folder) throws
    // tk_exception "Profile does not exist. ..."; a file that is not a regular
    // file or is larger than any profile, cannot be read, is UTF-16, holds a
    // line that is not text, or has a key/value or plain line before the first
    // header answers false, adds nothing and says why in load_error(). Lines
    // may be of any length; a leading UTF-8 byte-order mark is skipped. A line
    // that begins with ';' or '#' is a comment, except in the list sections
    // (the selections, the queries, the type mappings), whose lines are names
    // and definitions.
    bool load(const std::wstring& path);
    // Why the last load answered false, naming the line where there is one ("" after a
    // load that succeeded).
    const std::string& load_error() const noexcept { return m_load_error; }
    // Far more than any profile holds (queries and type mappings included).
    static constexpr std::size_t max_profile_bytes = 64 * 1024 * 1024;
    // Writes the whole profile: sections in name order (each followed by an
    // empty line), then the lists in name order. The text goes to a temporary
    // file beside the target, which then replaces it, so a failed store leaves
    // the old file intact; a new file is readable by its owner only (it holds
    // passwords). Answers false when anything could not be written.
    bool store(const std::wstring& path) const;
    // The file's text exactly as store writes it (UTF-8, CR LF).
    std::string to_text() const;

    const std::map<std::wstring, pair_list>& get_sections() const noexcept { return m_sections; }
    const std::map<std::wstring, text_list>& get_lists() const noexcept { return m_lists; }

private:
    pair_list& required_section(const wchar_t* name);
    static bool is_list_section(const std::wstring& section);

    std::map<std::wstring, pair_list> m_sections;
    std::map<std::wstring, text_list> m_lists;
    std::string m_load_error;
};

#pragma once
// The per-user settings store that stands in for the registry: one file per
// key path under $XDG_CONFIG_HOME (default ~/.config). A key path such as
// "Software\Maker\Product" names the file
// $XDG_CONFIG_HOME/Software/Maker/Product.conf. Each value keeps its name and
// its kind (number, narrow text, wide text); a missing value and an empty text
// are told apart. Saving writes a temporary file, syncs it and renames it over
// the old one, with mode 0600, so a crash leaves either the old or the new file.
//
// File format (UTF-8 lines): "<kind>\t<name>\t<data>" with kind "n" (unsigned
// 32-bit, decimal), "s" (narrow text, bytes as they are) or "w" (wide text as
// UTF-8); backslash, tab, CR, LF and other control bytes in names and data are
// written as \\, \t, \r, \n and \xHH.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

enum class pf_setting_kind { number, narrow_text, wide_text };

struct pf_setting {
    pf_setting_kind kind = pf_setting_kind::number;
    std::uint32_t number = 0;
    std::string text;  // narrow text bytes, or the UTF-8 form of a wide text
};

class pf_settings_file {
public:
    // The folder under which settings files live.
    static std::string config_home();
    // The file that holds a key path's settings.
    static std::string path_for_key(const std::string& key_path);

    explicit pf_settings_file(std::string file_path);

    // Reads the file; a missing file is an empty store. False when the file
    // exists but cannot be read (errno is set).
    bool load();
    // Writes the store atomically, creating missing folders (mode 0700).
    // False on any failure (errno is set); the old file then stays.
    bool save() const;

    const pf_setting* find(const std::string& name) const;
    void set(const std::string& name, pf_setting value);
    bool erase(const std::string& name);
    const std::string& file_path() const noexcept { return m_path; }
    const std::map<std::string, pf_setting>& values() const noexcept { return m_values; }

private:
    std::string m_path;
    std::map<std::string, pf_setting> m_values;
};

#include "platform/pf_settings.h"
#include "platform/pf_files.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

void escape_into(std::string& out, const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                out += "\\x";
                out.push_back(digits[c >> 4]);
                out.push_back(digits[c & 0x0F]);
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> unescape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i >= text.size()) return std::nullopt;
        switch (text[i]) {
        case '\\': out.push_back('\\'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'n': out.push_back('\n'); break;
        case 'x': {
            if (i + 2 >= text.size()) return std::nullopt;
            int hi = hex_value(text[i + 1]), lo = hex_value(text[i + 2]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
            break;
        }
        default: return std::nullopt;
        }
    }
    return out;
}

bool make_dirs(const std::string& dir)
{
    if (dir.empty()) return true;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? true : (errno = ENOTDIR, false);
    std::size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0 && !make_dirs(dir.substr(0, slash))) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}


}  // namespace

std::string pf_settings_file::config_home()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/') return xdg;  // the base directory spec ignores relative values
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.config";
    if (struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return std::string(pw->pw_dir) + "/.config";
    return "/tmp";
}

std::string pf_settings_file::path_for_key(const std::string& key_path)
{
    std::string relative;
    std::string part;
    auto flush = [&] {
        // "." and ".." would leave the settings folder; empty parts mean nothing.
        if (!part.empty() && part != "." && part != "..") {
            if (!relative.empty()) relative += '/';
            relative += part;
        }
        part.clear();
    };
    for (char c : key_path) {
        if (c == '\\' || c == '/')
            flush();
        else
            part.push_back(c);
    }
    flush();
    if (relative.empty()) relative = "settings";
    return config_home() + "/" + relative + ".conf";
}

pf_settings_file::pf_settings_file(std::string file_path) : m_path(std::move(file_path)) {}

bool pf_settings_file::load()
{
    m_values.clear();
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) return errno == ENOENT;
    std::ifstream in(m_path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::size_t t1 = line.find('\t');
        if (t1 == std::string::npos) continue;
        std::size_t t2 = line.find('\t', t1 + 1);
        if (t2 == std::string::npos) continue;
        std::string_view kind(line.data(), t1);
        auto name = unescape(std::string_view(line).substr(t1 + 1, t2 - t1 - 1));
        auto data = unescape(std::string_view(line).substr(t2 + 1));
        if (!name || !data) continue;  // a damaged line is skipped, the rest still loads
        pf_setting value;
        if (kind == "n") {
            value.kind = pf_setting_kind::number;
            auto r = std::from_chars(data->data(), data->data() + data->size(), value.number);
            if (r.ec != std::errc() || r.ptr != data->data() + data->size()) continue;
        } else if (kind == "s") {
            value.kind = pf_setting_kind::narrow_text;
            value.text = std::move(*data);
        } else if (kind == "w") {
            value.kind = pf_setting_kind::wide_text;
            value.text = std::move(*data);
        } else {
            continue;
        }
        m_values[*name] = std::move(value);
    }
    return !in.bad();
}

bool pf_settings_file::save() const
{
    std::size_t slash = m_path.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : m_path.substr(0, slash);
    if (slash != std::string::npos && !make_dirs(dir)) return false;

    std::string content = "# per-user settings; written by the program\n";
    for (const auto& [name, value] : m_values) {
        switch (value.kind) {
        case pf_setting_kind::number: content += "n\t"; break;
        case pf_setting_kind::narrow_text: content += "s\t"; break;
        case pf_setting_kind::wide_text: content += "w\t"; break;
        }
        escape_into(content, name);
        content += '\t';
        if (value.kind == pf_setting_kind::number)
            content += std::to_string(value.number);
        else
            escape_into(content, value.text);
        content += '\n';
    }

    return pf_replace_file(m_path, content, false);
}

const pf_setting* pf_settings_file::find(const std::string& name) const
{
    auto it = m_values.find(name);
    return it == m_values.end() ? nullptr : &it->second;
}

void pf_settings_file::set(const std::string& name, pf_setting value) { m_values[name] = std::move(value); }

bool pf_settings_file::erase(const std::string& name) { return m_values.erase(name) > 0; }

#include "TK/tk_list_file.h"

#include <fstream>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"

bool tk_yaml_config::load(tk_list_map& map, const std::string& path, const std::set<std::wstring>& exclusions)
{
    tk_write_log(2, "tk_yaml_config::load(%s)", path.c_str());
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;

    std::string current_key;
    std::string line;
    bool first_line = true;
    // getline also yields a last line that has no line end.
    while (std::getline(in, line)) {
        if (first_line) {
            first_line = false;
            if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        tk_write_log(1, "Got text line: %s", line.c_str());
        std::string text = tk_trim(line);
        if (text.empty()) {
            tk_write_log(1, "Skip empty line");
            continue;
        }
        if (text.back() == ':') {
            current_key = text.substr(0, text.size() - 1);
            continue;
        }
        if (text.front() != '-') continue;
        std::string item_utf8 = tk_trim(std::string_view(text).substr(1));
        std::wstring item = tk_utf8_to_unicode(item_utf8);
        if (exclusions.count(item)) {
            tk_write_log(1, "String '%s' has not passed the filter", item_utf8.c_str());
            continue;
        }
        map[tk_utf8_to_unicode(current_key)].push_back(std::move(item));
        tk_write_log(1, "String '%s' has been stored under key='%s'", item_utf8.c_str(), current_key.c_str());
    }
    return true;
}

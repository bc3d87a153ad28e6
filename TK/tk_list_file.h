#pragma once
// Reader of the small list files (the type-map files): UTF-8 text of key
// lines (ending in a colon) and dash item lines.
//
// After blanks are trimmed from both ends a line is empty (skipped), a key
// line (last character ':'; the key is everything before it), an item line
// (first character '-'; the item is the rest, trimmed) or anything else
// (ignored). Items before the first key belong to the empty key. Line ends
// may be LF or CR LF; a last line without line end counts; a UTF-8
// byte-order mark at the start of the file is skipped.

#include <map>
#include <set>
#include <string>
#include <vector>

using tk_list_map = std::map<std::wstring, std::vector<std::wstring>>;

class tk_yaml_config {
public:
    // Adds the file's items to the caller's map (a key met again continues its
    // list); items in the exclusion set are left out. False when the file
    // cannot be opened (the map is unchanged); true otherwise.
    static bool load(tk_list_map& map, const std::string& path, const std::set<std::wstring>& exclusions = {});
};

#pragma once
// The small text files a user hands the program (table lists, profiles, the
// type-map files): read whole only when they are regular files of a bounded
// size, and checked to be text line by line.
//
// tk_yaml_config reads the type-map files: UTF-8 text of key lines (ending in
// a colon) and dash item lines.
//
// After blanks are trimmed from both ends a line is empty (skipped), a key
// line (last character ':'; the key is everything before it), an item line
// (first character '-'; the item is the rest, trimmed) or anything else
// (ignored). Items before the first key belong to the empty key. Line ends
// may be LF or CR LF; a last line without line end counts; a UTF-8
// byte-order mark at the start of the file is skipped.

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// How reading a small file ended.
enum class tk_small_file_status {
    ok,
    missing,      // nothing of that name (or a folder)
    not_a_file,   // a device, pipe or socket: it could stream without end
    too_large,    // more bytes than the caller's bound
    unreadable,   // it could not be opened or read (error_number says why)
};

struct tk_small_file {
    tk_small_file_status status = tk_small_file_status::ok;
    std::string bytes;     // the whole file when status is ok
    int error_number = 0;  // errno of an unreadable file
    // Why the file was not read, in words ("" when it was): "it is not a regular file ...".
    std::string reason() const;
};

// Reads the file whole when it is a regular file of at most max_bytes bytes. Never reads
// more than max_bytes + 1 bytes, so a file that grows (or a special file that reports a size
// of 0) cannot make it hold more.
tk_small_file tk_read_small_file(const std::string& path, std::size_t max_bytes);

// Whether a line is text: valid UTF-8 (no overlong form, surrogate or code point past
// U+10FFFF) without a zero byte or another control character (a tab aside).
bool tk_is_text_line(std::string_view line);

// Whether the bytes begin with a UTF-16 byte-order mark (either byte order).
bool tk_starts_as_utf16(std::string_view bytes);

using tk_list_map = std::map<std::wstring, std::vector<std::wstring>>;

class tk_yaml_config {
public:
    // Adds the file's items to the caller's map (a key met again continues its
    // list); items in the exclusion set are left out. False when the file
    // cannot be opened (the map is unchanged); true otherwise.
    static bool load(tk_list_map& map, const std::string& path, const std::set<std::wstring>& exclusions = {});
};

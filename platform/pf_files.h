#pragma once
// File-system services the toolkit used to get from the operating system:
// the absolute form of a path, file kinds and access checks.

#include <optional>
#include <string>

// The absolute, lexically normalised form of a path ("." and ".." resolved,
// repeated separators merged; symbolic links are not followed). A relative
// path is taken against the current directory. A trailing '/' is kept.
// Nothing when the current directory cannot be read. No length limit.
std::optional<std::string> pf_full_path(const std::string& path);

enum class pf_file_kind { missing, directory, file };
pf_file_kind pf_kind_of(const std::string& path);

// Whether the process's effective user and group may read / write / execute
// (search) the path, as faccessat(AT_EACCESS) decides. A missing path answers
// false.
enum pf_access : unsigned { pf_access_read = 4, pf_access_write = 2, pf_access_execute = 1 };
bool pf_has_access(const std::string& path, unsigned access);

// True when the file carries no write permission bit at all, or the process
// may not write it: the closest thing to a read-only attribute. (Root may
// write any file, so the permission bits count as well.)
bool pf_is_read_only(const std::string& path);

// The current directory, or nothing.
std::optional<std::string> pf_current_dir();
bool pf_change_dir(const std::string& path);

// Replaces the file at path with content in one step: the bytes go to a temporary file in
// the same folder (fsync'd), which is then renamed over the target, and the folder is
// synced. A failed write, sync, close or rename answers false (errno tells why) and leaves
// the old file as it was and no temporary file. A new file gets mode 0600 (these files can
// hold passwords); an existing one keeps its mode when keep_mode is set, else gets 0600.
bool pf_replace_file(const std::string& path, const std::string& content, bool keep_mode);

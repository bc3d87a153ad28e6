#include "platform/pf_files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

std::optional<std::string> pf_current_dir()
{
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

bool pf_change_dir(const std::string& path) { return ::chdir(path.c_str()) == 0; }

std::optional<std::string> pf_full_path(const std::string& path)
{
    std::string absolute;
    if (!path.empty() && path[0] == '/') {
        absolute = path;
    } else {
        auto cwd = pf_current_dir();
        if (!cwd) return std::nullopt;
        absolute = *cwd + "/" + path;
    }
    bool trailing_slash = absolute.size() > 1 && absolute.back() == '/';
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < absolute.size()) {
        std::size_t j = absolute.find('/', i);
        if (j == std::string::npos) j = absolute.size();
        std::string part = absolute.substr(i, j - i);
        if (part.empty() || part == ".") {
            // nothing: "a//b" and "a/./b" are "a/b"
        } else if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::string result;
    for (const auto& p : parts) result += "/" + p;
    if (result.empty() || trailing_slash) result += "/";
    return result;
}

pf_file_kind pf_kind_of(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return pf_file_kind::missing;
    return S_ISDIR(st.st_mode) ? pf_file_kind::directory : pf_file_kind::file;
}

bool pf_has_access(const std::string& path, unsigned access)
{
    if (path.empty()) return false;
    int mode = 0;
    if (access & pf_access_read) mode |= R_OK;
    if (access & pf_access_write) mode |= W_OK;
    if (access & pf_access_execute) mode |= X_OK;
    if (mode == 0) mode = F_OK;
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

bool pf_is_read_only(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    return !pf_has_access(path, pf_access_write);
}

namespace {

// Writes all bytes, retrying short writes and interrupted calls.
bool write_all(int fd, const std::string& data)
{
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool pf_replace_file(const std::string& path, const std::string& content, bool keep_mode)
{
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string temp = path + ".XXXXXX";
    std::vector<char> temp_name(temp.begin(), temp.end());
    temp_name.push_back('\0');
    int fd = ::mkstemp(temp_name.data());  // created readable by its owner only
    if (fd < 0) return false;

    mode_t mode = 0600;
    struct stat st {};
    if (keep_mode && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;
    bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, content) && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp_name.data(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp_name.data());
        errno = saved;
        return false;
    }
    // Make the rename itself durable (best effort: some file systems refuse to sync a
    // folder, and the file's contents are already on disk).
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir_fd >= 0) {
        ::fsync(dir_fd);
        ::close(dir_fd);
    }
    return true;
}

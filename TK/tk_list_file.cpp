#include "TK/tk_list_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

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

std::string tk_small_file::reason() const
{
    switch (status) {
    case tk_small_file_status::ok: return std::string();
    case tk_small_file_status::missing: return "it does not exist";
    case tk_small_file_status::not_a_file: return "it is not a regular file (a folder, device, pipe or socket)";
    case tk_small_file_status::too_large: return "it is far larger than such a file can be";
    case tk_small_file_status::unreadable:
        return std::string("it cannot be read: ") + std::strerror(error_number ? error_number : EIO);
    }
    return std::string();
}

tk_small_file tk_read_small_file(const std::string& path, std::size_t max_bytes)
{
    tk_small_file result;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        result.status = err == ENOENT || err == ENOTDIR ? tk_small_file_status::missing
                                                        : tk_small_file_status::unreadable;
        result.error_number = err;
        return result;
    }
    // A folder, a device or a pipe: a device may never end (/dev/zero), and
    // none of them is read at all.
    if (!S_ISREG(st.st_mode)) {
        result.status = tk_small_file_status::not_a_file;
        return result;
    }
    if (static_cast<std::uint64_t>(st.st_size) > max_bytes) {
        result.status = tk_small_file_status::too_large;
        return result;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.status = tk_small_file_status::unreadable;
        result.error_number = errno;
        return result;
    }
    // Checked again on what was opened: the name may have been replaced since.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        result.status = tk_small_file_status::not_a_file;
        return result;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.status = tk_small_file_status::unreadable;
            result.error_number = errno;
            break;
        }
        if (n == 0) break;
        if (result.bytes.size() + static_cast<std::size_t>(n) > max_bytes) {
            result.status = tk_small_file_status::too_large;
            break;
        }
        result.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (result.status != tk_small_file_status::ok) result.bytes.clear();
    return result;
}

bool tk_is_text_line(std::string_view line)
{
    std::size_t i = 0;
    while (i < line.size()) {
        const auto b = static_cast<unsigned char>(line[i]);
        if (b < 0x80) {
            if ((b < 0x20 && b != '\t') || b == 0x7F) return false;
            ++i;
            continue;
        }
        int more = 0;
        std::uint32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + more >= line.size()) return false;
        for (int k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(line[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

bool tk_starts_as_utf16(std::string_view bytes)
{
    return bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
}

#include "pg_target/pgs_script_writer.h"

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_encoding.h"

namespace {

// Large enough that the file is written in big blocks, small enough to stay cheap.
constexpr std::size_t buffer_capacity = 256 * 1024;

std::string errno_text(int err)
{
    char buf[256];
    // GNU strerror_r returns the text (which need not be buf).
    const char* text = strerror_r(err, buf, sizeof buf);
    return text ? std::string(text) : std::string("error ") + std::to_string(err);
}

}  // namespace

pgs_script_writer::pgs_script_writer(const std::wstring& path)
    : m_path(tk_unicode_to_utf8(path)), m_uncaught_at_open(std::uncaught_exceptions())
{
    m_buffer.reserve(buffer_capacity);
    // The destination is replaced only by a finished script: until then the
    // bytes go to a file of their own beside it (same folder, so the final
    // rename cannot cross file systems). Whatever the path names now is kept
    // until that rename, and what is not a regular file is never replaced.
    m_target = m_path;
    struct stat st {};
    bool keep_mode = false;
    if (::stat(m_path.c_str(), &st) == 0) {
        if (S_ISCHR(st.st_mode)) {
            // A character device (a sink such as /dev/null) takes the bytes
            // as they come; there is nothing to replace, and it never is.
            m_fd = ::open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
            if (m_fd < 0) {
                const int err = errno;
                throw tk_exception("Cannot open the script file '" + m_path + "': " + errno_text(err), 1);
            }
            return;
        }
        if (!S_ISREG(st.st_mode))
            throw tk_exception("The script file '" + m_path +
                                   "' names something that is not a regular file (a folder, device, pipe or "
                                   "socket); it was left as it is.",
                               1);
        keep_mode = true;
        // A symbolic link keeps pointing where it did: its target is replaced.
        if (char* real = ::realpath(m_path.c_str(), nullptr)) {
            m_target = real;
            std::free(real);
        }
    }
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_temp = m_target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(attempt);
        m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST) break;
    }
    if (m_fd < 0) {
        const int err = errno;
        tk_write_log(2, "Failed to open file");
        m_temp.clear();
        throw tk_exception("Cannot open the script file '" + m_path + "': " + errno_text(err), 1);
    }
    if (keep_mode) (void)::fchmod(m_fd, st.st_mode & 07777);
}

pgs_script_writer::~pgs_script_writer()
{
    if (m_fd < 0) return;
    // Left while an error unwinds, or after a failed write: the script is not
    // whole, and the destination keeps what it held.
    if (std::uncaught_exceptions() > m_uncaught_at_open || !m_pending.empty()) {
        discard();
        return;
    }
    try {
        close();
    } catch (const std::exception& e) {
        tk_write_log(3, "%s", e.what());
    }
}

void pgs_script_writer::discard() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        tk_write_log(3, "The script file '%s' was not finished; it was left as it was", m_path.c_str());
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
    m_buffer.clear();
    if (m_pending.empty()) m_pending = "The script file '" + m_path + "' was not finished.";
}

void pgs_script_writer::fail(const char* what, int err)
{
    // Bytes may be missing from the file now: every later operation fails as well.
    std::string message = std::string(what) + " the script file '" + m_path + "': " + errno_text(err);
    if (m_pending.empty()) m_pending = message;
    throw tk_exception(message, 1);
}

void pgs_script_writer::check() const
{
    if (!m_pending.empty()) throw tk_exception(m_pending, 1);
}

void pgs_script_writer::write_through(const char* data, std::size_t size)
{
    if (m_fd < 0) fail("Cannot write", EBADF);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Cannot write", errno);
        }
        if (n == 0) fail("Cannot write", EIO);
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void pgs_script_writer::set_encoding(const std::wstring& pg_name)
{
    auto encoder = std::make_unique<pgs_encoder>(pg_name);
    if (encoder->is_utf8())
        m_encoder.reset();
    else
        m_encoder = std::move(encoder);
}

void pgs_script_writer::write(std::string_view bytes)
{
    check();
    if (m_encoder) {
        // Converted whole before anything is buffered: a refused text leaves no trace.
        m_converted.clear();
        m_encoder->append(m_converted, bytes);
        bytes = m_converted;
    }
    if (m_buffer.size() + bytes.size() <= buffer_capacity) {
        m_buffer.append(bytes);
    } else {
        flush();
        if (bytes.size() < buffer_capacity)
            m_buffer.append(bytes);
        else
            write_through(bytes.data(), bytes.size());
    }
    m_total += bytes.size();
    // A large value's conversion is not kept around between writes.
    if (m_converted.capacity() > buffer_capacity) std::string().swap(m_converted);
}

void pgs_script_writer::flush()
{
    check();
    if (m_buffer.empty()) return;
    write_through(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
}

void pgs_script_writer::close()
{
    if (m_fd < 0) {
        check();
        return;
    }
    try {
        flush();
        // On disk before it takes the destination's place.
        if (!m_temp.empty() && ::fsync(m_fd) != 0) fail("Cannot write", errno);
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) fail("Cannot close", errno);
        if (m_temp.empty()) return;  // a device: written in place
        if (::rename(m_temp.c_str(), m_target.c_str()) != 0) fail("Cannot replace", errno);
    } catch (...) {
        discard();
        throw;
    }
    m_temp.clear();
    // The rename itself is made durable by the folder's entry.
    const std::string::size_type slash = m_target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : m_target.substr(0, slash);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

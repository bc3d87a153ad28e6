#include "TK/tk_log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "TK/tk_format.h"
#include "TK/tk_strings.h"
#include "platform/pf_system.h"

namespace {

// One lock for the whole log: a line is opened, written and closed under it,
// so lines of two threads neither interleave nor get lost.
std::mutex& log_mutex()
{
    static std::mutex m;
    return m;
}

constexpr std::size_t wide_message_limit = 10239;

}  // namespace

tk_logger::tk_logger(const char* file_name, bool enabled, int min_level, bool time_stamps)
    : m_file_name(file_name ? std::string(file_name) : default_file_name()),
      m_min_level(min_level),
      m_enabled(enabled),
      m_time_stamps(time_stamps)
{
    if (enabled && try_instance() == this) truncate_once();
}

tk_logger::~tk_logger() = default;

std::string tk_logger::default_file_name()
{
    // No length limit: a long program path still gets its log beside it.
    std::string path = pf_module_path();
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        path.resize(dot);
    return path + ".log";
}

void tk_logger::truncate_once()
{
    // Checked without the lock first: every trace call passes here, also the
    // ones below the minimum level, and after the first line nothing is left
    // to do.
    if (m_emptied.load(std::memory_order_acquire) || !m_enabled.load()) return;
    std::lock_guard<std::mutex> lock(log_mutex());
    if (m_emptied.load(std::memory_order_relaxed)) return;
    if (std::FILE* f = std::fopen(m_file_name.c_str(), "wb")) {
        if (std::fclose(f) != 0) note_failure(errno);
    } else {
        note_failure(errno);
    }
    m_emptied.store(true, std::memory_order_release);
}

void tk_logger::set_file_name(const char* file_name)
{
    if (!file_name) throw tk_mail_assertion("..\\TK/tk_log", 82);
    std::lock_guard<std::mutex> lock(log_mutex());
    m_file_name = file_name;
    m_write_error.clear();
}

std::string tk_logger::get_file_name() const
{
    std::lock_guard<std::mutex> lock(log_mutex());
    return m_file_name;
}

void tk_logger::write_line(int level, const std::string& text)
{
    if (level < m_min_level) return;
    std::lock_guard<std::mutex> lock(log_mutex());
    std::FILE* f = std::fopen(m_file_name.c_str(), "ab");
    if (!f) {
        note_failure(errno);
        return;
    }
    bool written = true;
    if (m_time_stamps) {
        if (auto now = pf_now())
            written = std::fprintf(f, "%02d:%02d:%02d ", now->hour, now->minute, now->second) > 0;
    }
    written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && written;
    written = std::fwrite("\r\n", 1, 2, f) == 2 && written;
    // The bytes reach the file (or fail to: a full disk) when it is closed.
    const int err = written ? 0 : errno;
    if (std::fclose(f) != 0)
        note_failure(errno);
    else if (!written)
        note_failure(err);
}

void tk_logger::note_failure(int error_number)
{
    if (!m_write_error.empty()) return;
    m_write_error = "'" + m_file_name + "': " + std::strerror(error_number ? error_number : EIO);
}

std::string tk_logger::get_write_error() const
{
    std::lock_guard<std::mutex> lock(log_mutex());
    return m_write_error;
}

bool tk_log_wants(int level) noexcept
{
    tk_logger* logger = tk_logger::try_instance();
    return logger && logger->is_enabled() && level >= logger->get_min_level();
}

void tk_write_log(int level, const char* format, ...)
{
    tk_logger* logger = tk_logger::try_instance();
    if (!logger || !logger->is_enabled()) return;
    logger->truncate_once();
    if (level < logger->get_min_level() || !format) return;
    va_list args;
    va_start(args, format);
    std::string text = tk_vformat(format, args);
    va_end(args);
    logger->write_line(level, text);
}

void tk_write_wlog(int level, const wchar_t* format, ...)
{
    tk_logger* logger = tk_logger::try_instance();
    if (!logger || !logger->is_enabled()) return;
    logger->truncate_once();
    if (level < logger->get_min_level() || !format) return;
    va_list args;
    va_start(args, format);
    std::wstring text = tk_vwformat(format, args);
    va_end(args);
    if (text.size() > wide_message_limit) text.resize(wide_message_limit);
    logger->write_line(level, tk_unicode_to_utf8(text));
}

#include "platform/pf_system.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <sys/time.h>
#include <unistd.h>

std::string pf_module_path()
{
    // A path may be longer than any fixed buffer: grow until readlink fits.
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

int pf_last_error() noexcept { return errno; }

void pf_set_last_error(int code) noexcept { errno = code; }

namespace {
// glibc's strerror_r comes in two flavours; each overload picks its result.
[[maybe_unused]] const char* strerror_result(int rc, const char* buffer) { return rc == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* strerror_result(const char* text, const char*) { return text; }
}  // namespace

std::optional<std::string> pf_error_text(int code)
{
    char buffer[256] = {};
    const char* text = strerror_result(::strerror_r(code, buffer, sizeof buffer), buffer);
    if (!text || !*text) return std::nullopt;
    std::string_view view(text);
    if (view.starts_with("Unknown error")) return std::nullopt;
    return std::string(view);
}

std::optional<pf_local_time> pf_now()
{
    struct timeval tv {};
    if (::gettimeofday(&tv, nullptr) != 0) return std::nullopt;
    std::time_t seconds = tv.tv_sec;
    struct tm local {};
    if (!::localtime_r(&seconds, &local)) return std::nullopt;
    return pf_local_time{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                         local.tm_min,         local.tm_sec,     static_cast<int>(tv.tv_usec / 1000)};
}

#include "UDB/udb_error_report.h"

#include <mutex>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

namespace {

std::mutex reporter_mutex;
udb_error_reporter& installed_reporter()
{
    static udb_error_reporter reporter;
    return reporter;
}

}  // namespace

void udb_set_error_reporter(udb_error_reporter reporter)
{
    std::lock_guard<std::mutex> lock(reporter_mutex);
    installed_reporter() = std::move(reporter);
}

void udb_report_error(const std::wstring& prefix, const tk_exception& error)
{
    udb_error_reporter reporter;
    {
        std::lock_guard<std::mutex> lock(reporter_mutex);
        reporter = installed_reporter();
    }
    if (reporter) {
        reporter(prefix, error);
        return;
    }
    tk_write_log(3, "Error:\n%s: %s", tk_unicode_to_utf8(prefix).c_str(), error.what());
}

#include "UDB/udb_failure.h"

#include <mutex>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

namespace {

std::mutex reporter_mutex;
udb_failure_reporter& installed_reporter()
{
    static udb_failure_reporter reporter;
    return reporter;
}
std::atomic<udb_failure_counts*> installed_counts{nullptr};

}  // namespace

std::wstring udb_failure::where() const
{
    if (!object.empty())
        return object;
    if (record < 0)
        return table;
    return table + L", record #" + std::to_wstring(record);
}

udb_failure udb_failure_of(udb_failure_kind kind, std::wstring table, std::wstring object, const tk_exception& e)
{
    udb_failure f;
    f.kind = kind;
    f.table = std::move(table);
    f.object = std::move(object);
    f.text = e.what();
    f.level = e.get_level();
    f.code = e.get_error_code();
    return f;
}

std::atomic<std::uint64_t>& udb_failure_counts::of(udb_failure_kind kind) noexcept
{
    switch (kind) {
    case udb_failure_kind::row: return rows;
    case udb_failure_kind::table: return tables;
    case udb_failure_kind::index: return indexes;
    case udb_failure_kind::foreign_key: return keys;
    case udb_failure_kind::view: return views;
    case udb_failure_kind::sequence: return sequences;
    case udb_failure_kind::column: return columns;
    case udb_failure_kind::keyless_merge: return keyless_merges;
    }
    return tables;
}

const std::atomic<std::uint64_t>& udb_failure_counts::of(udb_failure_kind kind) const noexcept
{
    return const_cast<udb_failure_counts*>(this)->of(kind);
}

void udb_failure_counts::clear() noexcept
{
    for (udb_failure_kind k : udb_failure_kinds)
        of(k).store(0, std::memory_order_relaxed);
}

bool udb_failure_counts::any() const noexcept
{
    for (udb_failure_kind k : udb_failure_kinds)
        if (of(k).load() != 0)
            return true;
    return false;
}

void udb_set_failure_reporter(udb_failure_reporter reporter)
{
    std::lock_guard<std::mutex> lock(reporter_mutex);
    installed_reporter() = std::move(reporter);
}

udb_failure_counts* udb_set_failure_counts(udb_failure_counts* counts) noexcept
{
    return installed_counts.exchange(counts);
}

void udb_report_failure(const udb_failure& failure)
{
    // Counted before it is shown: an Abort chosen in the report leaves by exception, and what
    // the user saw is counted all the same.
    if (udb_failure_counts* counts = installed_counts.load())
        counts->of(failure.kind).fetch_add(failure.count, std::memory_order_relaxed);
    udb_failure_reporter reporter;
    {
        std::lock_guard<std::mutex> lock(reporter_mutex);
        reporter = installed_reporter();
    }
    if (reporter) {
        reporter(failure);
        return;
    }
    tk_write_log(3, "Error:\n%s: %s", tk_unicode_to_utf8(failure.where()).c_str(), failure.text.c_str());
}

udb_failure_counting::udb_failure_counting(udb_failure_counts& counts) noexcept
    : m_before(udb_set_failure_counts(&counts))
{
}

udb_failure_counting::~udb_failure_counting()
{
    udb_set_failure_counts(m_before);
}

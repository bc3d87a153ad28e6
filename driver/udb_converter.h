#pragma once
// The settings and progress counters common to any conversion: source and
// destination (tk_converter), the mode for an existing destination, the work
// items (tables and custom queries), the switches and the counters that a
// progress window reads while the run writes them (hence atomic).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TK/tk_thread.h"

class udb_profile;

// A work item: its name and SQL text; an empty SQL text stands for a table.
using udb_work_item = std::pair<std::wstring, std::wstring>;
using udb_work_list = std::vector<udb_work_item>;

// Modes for an existing destination.
enum udb_dest_mode : int {
    udb_mode_overwrite_db = 0,      // drop the whole destination database first
    udb_mode_overwrite_tables = 1,  // drop an existing table, create it anew
    udb_mode_skip_tables = 2,       // leave an existing table alone
    udb_mode_merge = 3,             // append; rows whose key exists are skipped
    udb_mode_synchronize = 4,       // append; rows whose key exists are updated
};

class udb_converter : public tk_converter {
public:
    udb_converter();
    ~udb_converter() override;

    // Runs a query text on the source to test it.
    virtual bool test_query(const std::wstring& query_text) = 0;

    // Logs the mode and keeps it. A mode outside 0 to 4 is refused with a
    // tk_exception (level 1) and the mode stays as it was.
    void set_mode(int mode);
    int get_mode() const noexcept { return n_mode; }

    // "Generic settings" and the three lists of a profile.
    bool load_profile(udb_profile& profile);
    bool store_profile(udb_profile& profile);

    // --- progress counters: written by the run, read by any thread ---
    std::uint32_t get_items_total() const noexcept { return items_total.load(std::memory_order_relaxed); }
    std::uint32_t get_items_done() const noexcept { return items_done.load(std::memory_order_relaxed); }
    std::uint64_t get_record_count() const noexcept { return record_count.load(std::memory_order_relaxed); }
    std::uint64_t get_records_done() const noexcept { return records_done.load(std::memory_order_relaxed); }
    std::wstring get_current_table() const;
    void set_current_table(const std::wstring& name);

    // --- settings (filled by the front ends before a run) ---
    int n_mode = 0;
    std::vector<std::wstring> selected_tables;
    udb_work_list query_list;          // custom queries and profile tables; the run appends the selected tables
    udb_work_list selected_views;      // (name, definition): views the run converts at its end
    udb_work_list available_queries;   // every custom query the user defined
    bool tab_def = false;              // only definitions: no row is copied
    bool skip_idx = false;             // tables are created without their indexes
    bool convert_views = false;        // the run converts every source view (selected_views aside)

protected:
    std::atomic<std::uint32_t> items_total{0};
    std::atomic<std::uint32_t> items_done{0};
    std::atomic<std::uint64_t> record_count{0};
    std::atomic<std::uint64_t> records_done{0};

private:
    mutable std::mutex m_current_mutex;
    std::wstring m_current_table;
};

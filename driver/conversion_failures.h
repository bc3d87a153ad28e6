#pragma once
// What the last run left out, by kind. The run counts; front ends read the
// counts at its end (the console's summary line and exit status, the wizard's
// finish page). Written by the run's threads, read by others: atomic.

#include <atomic>
#include <cstdint>

struct conversion_failures {
    std::atomic<std::uint64_t> rows{0};     // rows refused or not convertible
    std::atomic<std::uint64_t> tables{0};   // work items that failed
    std::atomic<std::uint64_t> indexes{0};  // indexes and primary keys not created
    std::atomic<std::uint64_t> keys{0};     // foreign keys not created
    std::atomic<std::uint64_t> views{0};    // views not created

    void clear() noexcept
    {
        for (auto* n : {&rows, &tables, &indexes, &keys, &views})
            n->store(0, std::memory_order_relaxed);
    }
    bool any() const noexcept
    {
        return rows.load() || tables.load() || indexes.load() || keys.load() || views.load();
    }
};

#pragma once
#include <cstddef>
#include <cstdint>

// A run of code points first, first + stride, ... (count of them) that each
// fold to themselves plus offset.
struct pf_case_fold_run {
    std::uint32_t first;
    std::uint16_t count;
    std::int32_t offset;
    std::uint8_t stride;
};

extern const pf_case_fold_run pf_case_fold_runs[];
extern const std::size_t pf_case_fold_run_count;

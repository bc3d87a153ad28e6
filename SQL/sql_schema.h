#pragma once
// A column list for MySQL CREATE TABLE that keeps one row within 65,535 bytes: text columns of
// up to 21,844 characters count four bytes per character, and when the row grows too big the
// longest of them become unlimited text (size 0), longest first.
#include <cstdint>
#include <vector>

#include "UDB/udb_schema.h"

class sql_schema : public udb_schema {
public:
    static constexpr std::uint32_t max_row_size = 65535;

    sql_schema();
    ~sql_schema() override;

    // Appends the (shared) descriptor and keeps the row size; a null column is an internal error.
    void push_back(column_ptr column);

    std::uint32_t get_total_size() const noexcept { return total_size; }
    const std::vector<std::uint32_t>& get_lobs() const noexcept { return lobs; }

private:
    std::uint32_t total_size = 0;
    std::vector<std::uint32_t> lobs;  // positions of 4-byte text columns, longest first
};

#pragma once
// Finds a field's position among a record's fields by the names MySQL accepts: each name is
// made acceptable and unique by the version's field-name validator, in field order.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "UDB/udb_validator.h"

class udb_record;

class sql_field_finder {
public:
    explicit sql_field_finder(const udb_record& record);

    // Position of the name (same length, ignoring case), -1 when absent.
    std::int32_t get_field_idx(const std::wstring& name) const;
    const std::vector<std::wstring>& get_names() const noexcept { return names; }

private:
    void initialize(const udb_record& record);

    std::unique_ptr<udb_validator> validator;
    std::vector<std::wstring> names;
};

#pragma once
// MySQL name rules. The new rules (servers from 4.1.0 on) forbid a short list of characters;
// the old rules allow only letters, digits, '_' and '$' and refuse the reserved words. Each
// rule set has a field, an index and a table form, which differ only in the names they
// register as taken. sql_engine hands out the form that fits the server version.
#include <string>
#include <vector>

#include "UDB/udb_validator.h"

class udb_record;
class udb_schema;
class udb_index;

class sql_new_validator : public udb_validator {
public:
    // table_names: also refuse | : < > ? / (characters a table's file name cannot hold).
    explicit sql_new_validator(bool table_names);
    bool is_acceptable(const std::wstring& name) override;
    std::wstring get_safe_name(const std::wstring& name) override;
};

class sql_new_fn_validator : public sql_new_validator {
public:
    explicit sql_new_fn_validator(const udb_record& record);
    explicit sql_new_fn_validator(const udb_schema& schema);
};

class sql_new_in_validator : public sql_new_validator {
public:
    explicit sql_new_in_validator(const std::vector<udb_index>& indexes);
};

class sql_new_tn_validator : public sql_new_validator {
public:
    sql_new_tn_validator(const std::vector<std::wstring>& names1, const std::vector<std::wstring>& names2);
};

class sql_old_validator : public udb_validator {
public:
    sql_old_validator();
    bool is_acceptable(const std::wstring& name) override;
    std::wstring get_safe_name(const std::wstring& name) override;
};

class sql_old_fn_validator : public sql_old_validator {
public:
    explicit sql_old_fn_validator(const udb_record& record);
    explicit sql_old_fn_validator(const udb_schema& schema);
};

class sql_old_in_validator : public sql_old_validator {
public:
    explicit sql_old_in_validator(const std::vector<udb_index>& indexes);
};

class sql_old_tn_validator : public sql_old_validator {
public:
    sql_old_tn_validator(const std::vector<std::wstring>& names1, const std::vector<std::wstring>& names2);
};

// The reserved words of the old rules, in their fixed order.
const std::vector<std::wstring>& sql_old_reserved_words();

// Letter or digit as the old rules count them: ASCII letters and digits and the letters of
// other scripts (everything from U+00C0 on that is not punctuation or a symbol block).
bool sql_is_name_char_alnum(wchar_t c) noexcept;

#include "pg_target/pgs_key_statements.h"

#include <algorithm>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_record.h"
#include "UDB/udb_recordset.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_validators.h"
#include "pg_target/pgs_value_text.h"

namespace {

// The field's name as these statements match it with the columns.
std::wstring safe_field_name(pgs_fn_validator& validator, const std::wstring& name, bool fold)
{
    std::wstring n = fold ? tk_to_lower(name) : name;
    if (!validator.is_acceptable(n)) n = validator.get_safe_name(n);
    return n;
}

void note_field_name(pgs_fn_validator& validator, const std::wstring& field_name, const std::wstring& column)
{
    if (field_name != column) validator.add_existing_name(column);
    validator.restricted_names.push_back(column);
}

bool in_key(const std::vector<std::wstring>& key, const std::wstring& column)
{
    return std::find(key.begin(), key.end(), column) != key.end();
}

}  // namespace

pgs_update_parts pgs_update_by_record(const udb_record& record, const udb_schema& columns,
                                      const std::vector<std::wstring>& key, bool fold)
{
    pgs_engine& eng = *pgs_engine::get_instance();
    pgs_update_parts parts;
    pgs_fn_validator validator(record);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& field = record[i];
        const std::wstring safe = safe_field_name(validator, field.get_name(), fold);
        tk_write_wlog(1, L"Got safe-name for field #%d: %s", int(i), safe.c_str());
        if (!columns.find_field(safe)) {
            tk_write_wlog(2, L"Field '%s' is not found in schema", field.get_name().c_str());
            throw udb_structure_exception();
        }
        const std::wstring column = columns.get_field1(safe).name;
        const bool key_field = in_key(key, column);
        std::wstring& list = key_field ? parts.where : parts.sets;
        if (!list.empty()) list += key_field ? L" AND " : L", ";
        list += eng.make_name2(column) + L"=" + to_pgs_str(&field);
        note_field_name(validator, field.get_name(), column);
    }
    return parts;
}

std::wstring pgs_update_sets(const udb_record& record, const udb_schema& columns,
                             const std::vector<std::wstring>& key, bool fold)
{
    pgs_engine& eng = *pgs_engine::get_instance();
    std::wstring sets;
    pgs_fn_validator validator(record);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& field = record[i];
        const std::wstring safe = safe_field_name(validator, field.get_name(), fold);
        tk_write_wlog(2, L"Got safe-name for field #%d: %s", int(i), safe.c_str());
        if (!columns.find_field(safe)) {
            tk_write_wlog(2, L"Field '%s' is not found in schema", field.get_name().c_str());
            continue;
        }
        const std::wstring column = columns.get_field1(safe).name;
        if (!in_key(key, column)) {
            if (!sets.empty()) sets += L", ";
            sets += eng.make_name2(column) + L"=" + to_pgs_str(&field);
        }
        note_field_name(validator, field.get_name(), column);
    }
    return sets;
}

std::wstring pgs_delete_condition(const udb_record& record, const udb_schema& columns, bool fold)
{
    std::wstring where;
    pgs_fn_validator validator(record);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& field = record[i];
        const std::wstring safe = safe_field_name(validator, field.get_name(), fold);
        const int idx = columns.get_field_idx(safe);
        if (idx < 0) {
            tk_write_wlog(1, L"Field '%s' is not found in schema", safe.c_str());
            continue;
        }
        if (!where.empty()) where += L" AND ";
        where += pgs_quote_identifier(std::wstring_view(columns[std::size_t(idx)].name)) + L"=" + to_pgs_str(&field);
    }
    return where;
}

std::string pgs_conflict_clause(bool replace, const std::vector<std::string>& key_idents,
                                const std::vector<std::string>& column_idents)
{
    if (key_idents.empty()) return std::string();
    std::string target, sets;
    for (const std::string& k : key_idents) {
        if (!target.empty()) target += ", ";
        target += k;
    }
    if (replace) {
        for (const std::string& c : column_idents) {
            if (std::find(key_idents.begin(), key_idents.end(), c) != key_idents.end()) continue;
            if (!sets.empty()) sets += ", ";
            sets += c + " = EXCLUDED." + c;
        }
    }
    // A row of key columns only has nothing to replace.
    return " ON CONFLICT (" + target + ")" + (sets.empty() ? std::string(" DO NOTHING") : " DO UPDATE SET " + sets);
}

std::string pgs_conflict_update_clause(const std::vector<std::wstring>& key, const udb_schema& columns,
                                       const std::vector<int>& column_of_field)
{
    std::vector<std::string> key_idents, column_idents;
    for (const std::wstring& k : key) {
        key_idents.emplace_back();
        pgs_append_identifier(key_idents.back(), std::wstring_view(k));
    }
    for (const int c : column_of_field) {
        if (c < 0) continue;
        column_idents.emplace_back();
        pgs_append_identifier(column_idents.back(), std::wstring_view(columns[std::size_t(c)].name));
    }
    return pgs_conflict_clause(true, key_idents, column_idents);
}

std::string pgs_conflict_skip_clause(const std::vector<std::wstring>& key)
{
    std::vector<std::string> key_idents;
    for (const std::wstring& k : key) {
        key_idents.emplace_back();
        pgs_append_identifier(key_idents.back(), std::wstring_view(k));
    }
    return pgs_conflict_clause(false, key_idents, {});
}

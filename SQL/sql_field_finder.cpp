#include "SQL/sql_field_finder.h"

#include "SQL/sql_engine.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_record.h"

sql_field_finder::sql_field_finder(const udb_record& record)
    : validator(sql_engine::instance()->create_fn_validator(record))
{
    tk_write_log(1, "sql_field_finder::ctor");
    initialize(record);
}

void sql_field_finder::initialize(const udb_record& record)
{
    tk_write_log(1, "sql_field_finder::initialize");
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field* f = record.get(i);
        std::wstring n = f ? f->get_name() : std::wstring();
        if (!validator->is_acceptable(n)) {
            std::wstring safe = validator->get_safe_name(n);
            tk_write_wlog(1, L"GOT SAFE NAME: %s->%s", n.c_str(), safe.c_str());
            validator->add_existing_name(safe);
            n = safe;
        }
        names.push_back(n);
        validator->restricted_names.push_back(n);
    }
}

std::int32_t sql_field_finder::get_field_idx(const std::wstring& name) const
{
    tk_write_wlog(1, L"sql_field_finder::get_field_idx(%s)", name.c_str());
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].size() == name.size() && tk_equal_no_case(names[i], name)) return static_cast<std::int32_t>(i);
    return -1;
}

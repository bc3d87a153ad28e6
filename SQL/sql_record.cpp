#include "SQL/sql_record.h"

#include "SQL/sql_engine.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_schema.h"

sql_field::sql_field(const std::wstring& name, int type, unsigned long length, unsigned flags, const char* value)
    : udb_field(name, static_cast<std::uint32_t>(value ? length : 0), get_variant(type, length, flags, value))
{
}

sql_field::sql_field(const std::wstring& name, int type, unsigned long length, unsigned flags, const wchar_t* value)
    : udb_field(name, static_cast<std::uint32_t>(value ? length : 0), ole_variant())
{
    if (value) set_value(get_variant(get_vartype(type, flags) == VT_BYTE_ARRAY ? VT_BSTR : get_vartype(type, flags), value));
}

sql_field::sql_field(const t_ftd& column, unsigned long length, const char* value)
{
    set_name(column.name);
    MYSQL_FIELD f{};
    f.type = MYSQL_TYPE_STRING;
    sql_read_value(sql_plan_for_column(column, f, sql_engine::instance()->is_blob_to_text()), value, length, *this);
}

std::vector<sql_column_plan> sql_make_plans(unsigned count, const MYSQL_FIELD* fields, const udb_schema* schema,
                                            bool blob_to_text)
{
    std::vector<sql_column_plan> plans;
    plans.reserve(count);
    const bool by_schema = schema && !schema->empty();
    for (unsigned i = 0; i < count; ++i) {
        if (by_schema) {
            if (i >= schema->size()) throw tk_mail_assertion("sql_rec", 35);
            plans.push_back(sql_plan_for_column((*schema)[i], fields[i], blob_to_text));
        } else {
            plans.push_back(sql_plan_for_field(fields[i], blob_to_text));
        }
    }
    return plans;
}

sql_record::sql_record(unsigned count, const MYSQL_FIELD* fields, const unsigned long* lengths, MYSQL_ROW row)
{
    tk_write_log(1, "sql_record::ctor1(n_fields=%d)", static_cast<int>(count));
    const bool b2t = sql_engine::instance()->is_blob_to_text();
    if (count == 0) return;
    if (!fields) throw tk_mail_assertion("sql_rec", 20);
    fill(sql_make_plans(count, fields, nullptr, b2t), lengths, row);
}

sql_record::sql_record(unsigned count, const udb_schema& schema, const unsigned long* lengths, MYSQL_ROW row)
{
    tk_write_log(1, "sql_record::ctor2(n_fields=%d)", static_cast<int>(count));
    if (schema.size() < count) throw tk_mail_assertion("sql_rec", 35);
    const bool b2t = sql_engine::instance()->is_blob_to_text();
    std::vector<sql_column_plan> plans;
    MYSQL_FIELD f{};
    f.type = MYSQL_TYPE_STRING;
    for (unsigned i = 0; i < count; ++i) plans.push_back(sql_plan_for_column(schema[i], f, b2t));
    fill(plans, lengths, row);
}

void sql_record::fill(const std::vector<sql_column_plan>& plans, const unsigned long* lengths, MYSQL_ROW row)
{
    const std::size_t n = plans.size();
    if (size() != n) {
        reset();
        reserve(n);
        for (std::size_t i = 0; i < n; ++i) emplace_back();
        named_by = nullptr;
    }
    if (named_by != &plans) {
        // Names are set when the record starts serving a result, not per row.
        for (std::size_t i = 0; i < n; ++i) (*this)[i].set_name(plans[i].name);
        named_by = &plans;
    }
    for (std::size_t i = 0; i < n; ++i) sql_read_value(plans[i], row[i], lengths[i], (*this)[i]);
}

void sql_record::fill_keeping_failure(const std::vector<sql_column_plan>& plans, const unsigned long* lengths,
                                      MYSQL_ROW row)
{
    row_failure = nullptr;
    try {
        fill(plans, lengths, row);
    } catch (const tk_exception&) {
        row_failure = std::current_exception();
    }
}

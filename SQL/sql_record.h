#pragma once
// The MySQL engine's row and field: plain udb_record / udb_field objects built from one row of a
// result. A field's size is the byte length the client library reported for the value (0 for
// NULL); its value follows the reading rules of sql_types.
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include <mysql.h>

#include "SQL/sql_types.h"
#include "UDB/udb_record.h"

class t_ftd;
class udb_schema;

class sql_field : public udb_field {
public:
    // Row-value form: the raw value of a result column (null for SQL NULL).
    sql_field(const std::wstring& name, int type, unsigned long length, unsigned flags, const char* value);
    // Text-path form: a value already converted to wide text (null for SQL NULL).
    sql_field(const std::wstring& name, int type, unsigned long length, unsigned flags, const wchar_t* value);
    // By a table column's descriptor.
    sql_field(const t_ftd& column, unsigned long length, const char* value);
};

class sql_record : public udb_record {
public:
    sql_record() = default;
    // With the result's column descriptions (statement results and queries).
    sql_record(unsigned count, const MYSQL_FIELD* fields, const unsigned long* lengths, MYSQL_ROW row);
    // With the table's schema (at least `count` columns); each value takes its column's kind.
    sql_record(unsigned count, const udb_schema& schema, const unsigned long* lengths, MYSQL_ROW row);

    // Sets the record to one row by prepared column plans, reusing its fields (the hot path:
    // no allocation per row once the fields hold their names).
    void fill(const std::vector<sql_column_plan>& plans, const unsigned long* lengths, MYSQL_ROW row);

    // The next fill sets the field names again (the record moves to another result).
    void forget_names() noexcept { named_by = nullptr; }

    // Like fill, but a value the row cannot carry (a tk_exception of the conversion) is kept as
    // the record's failure instead of thrown, so that it fails this row when the row is handed
    // out rather than the whole window being read.
    void fill_keeping_failure(const std::vector<sql_column_plan>& plans, const unsigned long* lengths,
                              MYSQL_ROW row);
    // The conversion error of the last fill_keeping_failure, null when the row is whole.
    const std::exception_ptr& failure() const noexcept { return row_failure; }

private:
    const std::vector<sql_column_plan>* named_by = nullptr;  // the plans the field names come from
    std::exception_ptr row_failure;
};

// Column plans of a result: by its descriptions, or (when the schema has columns) by the table's
// descriptors.
std::vector<sql_column_plan> sql_make_plans(unsigned count, const MYSQL_FIELD* fields, const udb_schema* schema,
                                            bool blob_to_text);

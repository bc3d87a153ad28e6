#pragma once
// Statement results the MySQL engine reads for itself (counts, SHOW statements, the view list,
// any statement run through sql_database::query) and the two list recordsets. The result is
// streamed (mysql_use_result) through a cache of at most 1000 records; it is released with the
// recordset on every path, so the connection is free again afterwards.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SQL/sql_handles.h"
#include "SQL/sql_record.h"
#include "UDB/udb_recordset.h"

class sql_tmp_recordset : public udb_recordset {
public:
    static constexpr std::size_t cache_size = 1000;

    // Sends the statement (UTF-8) and opens its result; sql_exception when the server rejects
    // it or it yields no result set. The cache is not filled: call initialize().
    sql_tmp_recordset(MYSQL* connection, const std::string& statement);
    // Takes an open result and fills the first cache.
    sql_tmp_recordset(MYSQL* connection, sql_result_ptr result);
    ~sql_tmp_recordset() override;

    void initialize();

    void append_record(udb_record& record) override;  // an internal error
    udb_record* get_item() override;
    bool is_eof() override;
    void next() override;
    void reset() override;  // back to the start of the loaded cache (the stream is not rewound)

    unsigned field_count() const noexcept { return n_fields; }
    MYSQL_FIELD* field_descriptions() noexcept { return fields; }

protected:
    void fill_cache();
    void clean_cache() noexcept;

    MYSQL* connection = nullptr;
    unsigned n_fields = 0;
    MYSQL_FIELD* fields = nullptr;  // owned by the result
    std::size_t pos = 0;
    sql_result_ptr result;
    std::vector<std::unique_ptr<sql_record>> records;
    std::size_t records_used = 0;  // records of the current cache (the rest are kept for reuse)
    std::vector<sql_column_plan> plans;
    bool plans_made = false;
    bool at_end = false;  // the stream has delivered its last row
};

// "SHOW DATABASES"; the single column's flags are cleared so names always read as text.
class sql_list_databases_rs : public sql_tmp_recordset {
public:
    explicit sql_list_databases_rs(MYSQL* connection);
};

// "show full tables where Table_type='BASE TABLE'" (views and sequences left out).
class sql_list_tables_rs : public sql_tmp_recordset {
public:
    explicit sql_list_tables_rs(MYSQL* connection);
};

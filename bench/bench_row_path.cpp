// The reading and converting thread's work for one row, without servers: a MySQL row (the texts
// the client library hands out, with their lengths) read into a record's fields by the column
// plans, sized as the live table sizes it, then written by the row builder into a batch, as the
// live table writes it, as a COPY line and as
// an INSERT value list. Three shapes: the salaries and employees tables of the HR-shaped set
// (bench/make_hr_db.sh) and a text-heavy table with a DATETIME(6).
//
// Counters: rows per second of one thread, and heap allocations per row once the record and the
// line are warm.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include <mysql.h>

#include "SQL/sql_record.h"
#include "SQL/sql_types.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_row_batch.h"
#include "pg_target/pgs_row_builder.h"
#include "pg_target/pgs_types.h"
#include "bench/counting_allocations.h"


namespace {

struct column {
    const char* name;
    enum_field_types mysql_type;
    unsigned flags;
    VARTYPE vt;
    std::int32_t subtype;   // the destination's date kind (pgs_subtype)
    const wchar_t* pg_type; // as CREATE TABLE declares it
};

struct table_shape {
    std::vector<column> columns;
    std::vector<std::vector<std::string>> rows;  // distinct rows, repeated in turn
};

std::string two(int v) { return std::string(1, char('0' + v / 10 % 10)) + char('0' + v % 10); }
std::string date_text(int n) { return std::to_string(1985 + n % 15) + "-" + two(1 + n % 12) + "-" + two(1 + n % 28); }

table_shape salaries()
{
    table_shape t;
    t.columns = {{"emp_no", MYSQL_TYPE_LONG, NOT_NULL_FLAG, VT_I4, 0, L"INTEGER"},
                 {"salary", MYSQL_TYPE_LONG, NOT_NULL_FLAG, VT_I4, 0, L"INTEGER"},
                 {"from_date", MYSQL_TYPE_DATE, NOT_NULL_FLAG, VT_DATE, pgs_subtype::date_only, L"DATE"},
                 {"to_date", MYSQL_TYPE_DATE, NOT_NULL_FLAG, VT_DATE, pgs_subtype::date_only, L"DATE"}};
    for (int n = 0; n < 4096; ++n)
        t.rows.push_back({std::to_string(10001 + n / 9), std::to_string(38000 + n * 31 % 90000), date_text(n),
                          n % 9 == 8 ? "9999-01-01" : date_text(n + 1)});
    return t;
}

table_shape employees()
{
    table_shape t;
    t.columns = {{"emp_no", MYSQL_TYPE_LONG, NOT_NULL_FLAG, VT_I4, 0, L"INTEGER"},
                 {"birth_date", MYSQL_TYPE_DATE, NOT_NULL_FLAG, VT_DATE, pgs_subtype::date_only, L"DATE"},
                 {"first_name", MYSQL_TYPE_VAR_STRING, NOT_NULL_FLAG, VT_BSTR, 0, L"VARCHAR(14)"},
                 {"last_name", MYSQL_TYPE_VAR_STRING, NOT_NULL_FLAG, VT_BSTR, 0, L"VARCHAR(16)"},
                 {"gender", MYSQL_TYPE_STRING, NOT_NULL_FLAG | ENUM_FLAG, VT_BSTR, 0, L"VARCHAR(1)"},
                 {"hire_date", MYSQL_TYPE_DATE, NOT_NULL_FLAG, VT_DATE, pgs_subtype::date_only, L"DATE"}};
    const char* first[] = {"Georgi", "Bezalel", "Parto", "Chirstian", "Kyoichi", "Anneke"};
    const char* last[] = {"Facello", "Simmel", "Bamford", "Koblick", "Maliniak", "Preusig", "Zielinski"};
    for (int n = 0; n < 4096; ++n)
        t.rows.push_back({std::to_string(10001 + n), date_text(n * 7), first[n % 6], last[n % 7], n % 5 < 3 ? "M" : "F",
                          date_text(n * 13)});
    return t;
}

table_shape texts()
{
    table_shape t;
    t.columns = {{"id", MYSQL_TYPE_LONG, NOT_NULL_FLAG, VT_I4, 0, L"INTEGER"},
                 {"name", MYSQL_TYPE_VAR_STRING, NOT_NULL_FLAG, VT_BSTR, 0, L"VARCHAR(100)"},
                 {"created", MYSQL_TYPE_DATETIME, NOT_NULL_FLAG, VT_DATE, pgs_subtype::date_time, L"TIMESTAMP(6)"},
                 {"body", MYSQL_TYPE_BLOB, NOT_NULL_FLAG, VT_BSTR, 0, L"TEXT"}};
    for (int n = 0; n < 4096; ++n) {
        std::string body;
        for (int k = 0; k <= n % 8; ++k) body += "lorem ipsum ";
        t.rows.push_back({std::to_string(n + 1), "name " + std::to_string(n) + " Zo\xC3\xAB",
                          date_text(n) + " " + two(n % 24) + ":" + two(n % 60) + ":" + two(n * 7 % 60) + "." +
                              std::to_string(100000 + n * 37 % 900000),
                          body + "\t" + std::to_string(n) + "\nend"});
    }
    return t;
}

// Runs the row path over the shape's rows; sql: INSERT value lists instead of COPY lines.
void row_path(benchmark::State& state, const table_shape& t, bool sql)
{
    std::vector<MYSQL_FIELD> fields(t.columns.size());
    udb_schema schema;
    std::vector<pgs_column_plan> column_plans;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const column& c = t.columns[i];
        MYSQL_FIELD& f = fields[i];
        f = MYSQL_FIELD{};
        f.name = const_cast<char*>(c.name);
        f.name_length = unsigned(std::char_traits<char>::length(c.name));
        f.type = c.mysql_type;
        f.flags = c.flags;
        f.charsetnr = 45;  // utf8mb4: text, not bytes
        const std::wstring name(c.name, c.name + f.name_length);
        t_ftd col(0, name, c.vt, true, false, ole_variant(), c.subtype);
        schema.add_column(col);
        column_plans.push_back(pgs_plan_declared_column(col, name, c.pg_type));
    }
    const std::vector<sql_column_plan> plans = sql_make_plans(unsigned(fields.size()), fields.data(), nullptr, false);
    pgs_row_builder builder(column_plans);

    // The client library's view of the rows: pointers and lengths.
    std::vector<std::vector<char*>> values;
    std::vector<std::vector<unsigned long>> lengths;
    std::vector<std::string> storage;
    storage.reserve(t.rows.size() * t.columns.size());
    for (const auto& r : t.rows) {
        values.emplace_back();
        lengths.emplace_back();
        for (const std::string& v : r) {
            storage.push_back(v);
            values.back().push_back(storage.back().data());
            lengths.back().push_back(static_cast<unsigned long>(v.size()));
        }
    }

    sql_record record;
    record.fill(plans, lengths[0].data(), values[0].data());
    const pgs_record_layout layout = pgs_match_fields(record, schema);
    // Written as the live table writes its rows: into a batch, row after row.
    pgs_row_batch batch;
    batch.inserts = sql;
    batch.prefix = "INSERT INTO t VALUES ";
    std::uint64_t total = 0;
    std::size_t next = 0;
    long long allocations = 0;
    std::int64_t rows = 0;
    for (auto _ : state) {
        const long long before = g_allocations.load(std::memory_order_relaxed);
        for (int k = 0; k < 1000; ++k) {
            record.fill(plans, lengths[next].data(), values[next].data());
            total += record.get_total_size();
            batch.start_row();
            if (sql)
                builder.append_sql_values(batch, record, layout);
            else
                builder.append_copy_line(batch, record, layout);
            batch.end_row(std::uint64_t(rows));
            if (batch.bytes() > 512 * 1024) batch.clear_rows();  // a batch handed on
            next = next + 1 == values.size() ? 0 : next + 1;
        }
        allocations += g_allocations.load(std::memory_order_relaxed) - before;
        rows += 1000;
    }
    benchmark::DoNotOptimize(total);
    state.SetItemsProcessed(rows);
    state.counters["allocs/row"] = benchmark::Counter(double(allocations) / double(rows ? rows : 1));
}

void salaries_copy(benchmark::State& s) { row_path(s, salaries(), false); }
void salaries_insert(benchmark::State& s) { row_path(s, salaries(), true); }
void employees_copy(benchmark::State& s) { row_path(s, employees(), false); }
void texts_copy(benchmark::State& s) { row_path(s, texts(), false); }
void texts_insert(benchmark::State& s) { row_path(s, texts(), true); }

}  // namespace

BENCHMARK(salaries_copy);
BENCHMARK(salaries_insert);
BENCHMARK(employees_copy);
BENCHMARK(texts_copy);
BENCHMARK(texts_insert);

BENCHMARK_MAIN();

// Writing rows through the MySQL engine: the multi-row INSERT path (statement building and
// sending), and the value texts alone.
//
// Run: source the test servers' environment (TEST_MYSQL_HOST/PORT/USER/PASSWORD), then
//   bench_mysql_write [--rows=N]       (or QUINDREL_BENCH_ROWS=N; default 200,000)
// The table is written in a fresh database that is dropped at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "SQL/sql_literals.h"
#include "SQL/sql_table.h"
#include "TK/tk_strings.h"
#include "UDB/udb_record.h"

namespace {

unsigned long long g_rows = 200000;

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    if (!v || !*v) throw std::runtime_error(std::string(name) + " is not set (source the test servers' env)");
    return v;
}

udb_schema bench_columns()
{
    udb_schema columns;
    columns.add_column(t_ftd(4, L"id", VT_I4, true, false));
    columns.add_column(t_ftd(40, L"name", VT_BSTR, false, false));
    columns.add_column(t_ftd(0, L"note", VT_BSTR, false, false));
    t_ftd& amount = columns.add_column(t_ftd(8, L"amount", VT_DECIMAL, false, false));
    amount.precision = 12;
    amount.scale = 2;
    columns.add_column(t_ftd(8, L"stamp", VT_DATE, false, false, ole_variant(), 1));
    return columns;
}

void fill(udb_record& r, std::int64_t i)
{
    r[0] = ole_variant(static_cast<int>(i));
    r[1] = ole_variant(L"name " + std::to_wstring(i) + L" O'Brien");
    r[2] = ole_variant(L"a longer note with a \\ backslash and \U0001F600 for row " + std::to_wstring(i));
    r[3] = ole_variant::from_string("12345.67", VT_DECIMAL);
    r[4] = ole_variant(ole_date("2024-05-06 07:08:09"));
}

udb_record make_row()
{
    udb_record r;
    for (const wchar_t* n : {L"id", L"name", L"note", L"amount", L"stamp"}) r.emplace_back(n, 8u, ole_variant());
    return r;
}

void BM_value_texts(benchmark::State& state)
{
    udb_schema columns = bench_columns();
    udb_record r = make_row();
    fill(r, 42);
    std::string out;
    for (auto _ : state) {
        out.clear();
        for (std::size_t i = 0; i < r.size(); ++i) sql_append_fld_value(out, r[i], columns[i], false);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_value_texts);

void BM_fast_append(benchmark::State& state)
{
    sql_engine engine;
    engine.connect(env("TEST_MYSQL_HOST"), env("TEST_MYSQL_USER"), env("TEST_MYSQL_PASSWORD"),
                   std::stoi(env("TEST_MYSQL_PORT")));
    const std::wstring name = L"qbench_write_" + std::to_wstring(::getpid());
    auto base = engine.create_db(name);
    auto* db = static_cast<sql_database*>(base.get());
    udb_schema columns = bench_columns();
    udb_indexes indexes;
    indexes.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    udb_record r = make_row();
    std::int64_t next = 0;
    try {
        for (auto _ : state) {
            state.PauseTiming();
            if (db->is_table_exist(L"t")) db->delete_tab(L"t");
            auto table = db->create_table1(L"t", columns, indexes);
            state.ResumeTiming();
            for (unsigned long long i = 0; i < g_rows; ++i) {
                fill(r, next++);
                table->append_record(r);
            }
            static_cast<sql_table*>(table.get())->flush();
        }
    } catch (...) {
        base.reset();
        engine.db_delete(name);
        throw;
    }
    base.reset();
    engine.db_delete(name);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * g_rows));
}
BENCHMARK(BM_fast_append)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv)
{
    if (const char* v = std::getenv("QUINDREL_BENCH_ROWS")) g_rows = std::strtoull(v, nullptr, 10);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rows=", 7) == 0) {
            g_rows = std::strtoull(argv[i] + 7, nullptr, 10);
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            --i;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}

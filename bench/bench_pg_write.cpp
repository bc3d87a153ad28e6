// Rows into a live PostgreSQL table through the recordset: generated records
// by COPY and by INSERT, next to psql's \copy of the same rows as text, all in
// one run against the same server. Reports rows/s.
//
// Row count: --rows=N (or BENCH_PG_ROWS), default 1,000,000; the INSERT run
// takes --insert-rows=N (or BENCH_PG_INSERT_ROWS), default the same. The
// server is the test server (TEST_PG_* variables, `source /tmp/qsrv/env`).
// The psql figure needs TEST_PG_BIN (or psql on the PATH).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TK/ole_variant.h"
#include "TK/tk_strings.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_recordset.h"
#include "tests/support/test_env.h"

namespace {

std::int64_t g_rows = 1000000;
std::int64_t g_insert_rows = -1;

std::unique_ptr<pgs_engine> g_engine;
std::unique_ptr<pgs_database> g_db;
std::string g_db_name;

udb_schema make_schema()
{
    udb_schema s;
    s.add_column(t_ftd(0, L"id", VT_I4, true, false));
    s.add_column(t_ftd(0, L"qty", VT_I8, false, false));
    s.add_column(t_ftd(0, L"price", VT_DECIMAL, false, false));
    s[2].precision = 12;
    s[2].scale = 2;
    s.add_column(t_ftd(60, L"name", VT_BSTR, false, false));
    s.add_column(t_ftd(0, L"note", VT_BSTR, false, false));
    s.add_column(t_ftd(0, L"ratio", VT_R8, false, false));
    s.add_column(t_ftd(0, L"stamp", VT_DATE, false, false, ole_variant(), 1));
    s[6].scale = 6;
    s.add_column(t_ftd(0, L"flag", VT_BOOL, false, false));
    s.add_column(t_ftd(0, L"data", VT_ARRAY | VT_UI1, false, false));
    return s;
}

// One record, reused for every row as a source recordset does; the values
// change a little per row.
struct row_source {
    udb_record record;
    std::vector<std::wstring> names;
    std::vector<std::wstring> notes;

    row_source()
    {
        const udb_schema s = make_schema();
        record.emplace_back(s[0].name, 0u, ole_variant(0));
        record.emplace_back(s[1].name, 0u, ole_variant(9876543210LL));
        record.emplace_back(s[2].name, 0u, ole_variant::from_wstring(L"1234.56", VT_DECIMAL));
        record.emplace_back(s[3].name, 0u, ole_variant(L"A product name of some length"));
        record.emplace_back(s[4].name, 0u, ole_variant(L"line one\r\nline two\twith tab and \\ backslash"));
        record.emplace_back(s[5].name, 0u, ole_variant(0.125));
        record.emplace_back(s[6].name, 0u, ole_variant::from_wstring(L"2024-05-06 07:08:09.123456", VT_DATE));
        record.emplace_back(s[7].name, 0u, ole_variant(true));
        record.emplace_back(s[8].name, 0u, ole_variant(std::vector<std::uint8_t>(32, 0x5A)));
        for (int i = 0; i < 16; ++i) {
            names.push_back(L"Product \u00e9 number " + std::to_wstring(i * 7919));
            notes.push_back(L"note " + std::to_wstring(i) + L" with 'quotes' and\ta tab");
        }
    }

    udb_record& row(std::int64_t i)
    {
        record[0].value() = ole_variant(int(i + 1));
        record[1].value() = ole_variant(static_cast<long long>(i) * 31);
        record[3].value() = names[std::size_t(i % 16)];
        record[4].value() = notes[std::size_t((i / 16) % 16)];
        record[7].value() = ole_variant(i % 3 == 0);
        return record;
    }
};

std::string table_name(const char* base)
{
    static int n = 0;
    return std::string(base) + "_" + std::to_string(++n);
}

void write_rows(benchmark::State& state, bool copy, std::int64_t rows, const char* base)
{
    row_source source;
    for (auto _ : state) {
        state.PauseTiming();
        g_engine->fast_insert = copy;
        udb_schema s = make_schema();
        udb_indexes none;
        auto rs = g_db->create_table1(tk_utf8_to_unicode(table_name(base)), s, none);
        state.ResumeTiming();
        for (std::int64_t i = 0; i < rows; ++i) rs->append_record(source.row(i));
        dynamic_cast<pgs_recordset&>(*rs).flush_rows();  // the last batch is committed here
        rs.reset();
    }
    state.counters["rows"] = double(rows);
    state.counters["rows/s"] = benchmark::Counter(double(rows), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_recordset_copy(benchmark::State& state) { write_rows(state, true, g_rows, "bench_copy"); }
void BM_recordset_insert(benchmark::State& state) { write_rows(state, false, g_insert_rows, "bench_insert"); }

// psql's \copy of the same rows as text: the rows are first written by the
// recordset, exported to a file, then loaded into an empty table by psql.
void BM_psql_copy(benchmark::State& state)
{
    const auto f = test_env::pg();
    const char* bin = std::getenv("TEST_PG_BIN");
    const std::string psql = bin ? std::string(bin) + "/psql" : std::string("psql");
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("bench_pg_write_" + std::to_string(::getpid()) + ".txt")).string();
    ::setenv("PGPASSWORD", f.password.c_str(), 1);
    const std::string base = psql + " -X -q -h " + f.host + " -p " + std::to_string(f.port) + " -U " + f.user +
                             " -d '" + g_db_name + "' -v ON_ERROR_STOP=1 -c ";
    {
        row_source source;
        g_engine->fast_insert = true;
        udb_schema s = make_schema();
        udb_indexes none;
        auto rs = g_db->create_table1(L"bench_source", s, none);
        for (std::int64_t i = 0; i < g_rows; ++i) rs->append_record(source.row(i));
        dynamic_cast<pgs_recordset&>(*rs).flush_rows();
    }
    if (std::system((base + "\"\\copy bench_source to '" + file + "'\"").c_str()) != 0) {
        state.SkipWithError("psql could not export the rows");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const std::string table = table_name("bench_psql");
        {
            pgs_connection* c = g_engine->connection();
            (void)c;
            g_db->query(tk_utf8_to_unicode("create table " + table + " (like bench_source)"));
        }
        const std::string command = base + "\"\\copy " + table + " from '" + file + "'\"";
        state.ResumeTiming();
        if (std::system(command.c_str()) != 0) state.SkipWithError("psql \\copy failed");
    }
    std::filesystem::remove(file);
    state.counters["rows"] = double(g_rows);
    state.counters["rows/s"] = benchmark::Counter(double(g_rows), benchmark::Counter::kIsIterationInvariantRate);
}

std::int64_t arg_value(int& argc, char** argv, const char* name, const char* env, std::int64_t fallback)
{
    std::int64_t value = fallback;
    if (const char* e = std::getenv(env)) value = std::atoll(e);
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            value = std::atoll(argv[i] + prefix.size());
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            --i;
        }
    }
    return value;
}

}  // namespace

int main(int argc, char** argv)
{
    g_rows = arg_value(argc, argv, "rows", "BENCH_PG_ROWS", 1000000);
    g_insert_rows = arg_value(argc, argv, "insert-rows", "BENCH_PG_INSERT_ROWS", g_rows);
    benchmark::Initialize(&argc, argv);
    try {
        g_engine = std::make_unique<pgs_engine>();
        const auto f = test_env::pg();
        g_engine->connect(f.host, f.user, f.password, "", f.port);
        g_db_name = test_env::unique_name("bench_pg_write");
        g_db = g_engine->create_db(tk_utf8_to_unicode(g_db_name));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot set up the benchmark database: %s\n", e.what());
        return 1;
    }
    benchmark::RegisterBenchmark("recordset_copy", BM_recordset_copy)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("psql_copy", BM_psql_copy)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("recordset_insert", BM_recordset_insert)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_db.reset();
    try {
        const auto f = test_env::pg();
        g_engine->connect(f.host, f.user, f.password, "", f.port);
        g_engine->delete_db(tk_utf8_to_unicode(g_db_name));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot drop the benchmark database: %s\n", e.what());
    }
    return 0;
}

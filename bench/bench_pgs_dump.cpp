// Rows of a PostgreSQL script file: records written through the script recordset as COPY lines
// and as INSERT statements into /dev/null, so the figure is the formatting and buffering cost
// alone. Reports rows/s and bytes/s.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "TK/ole_variant.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_engine.h"

namespace {

udb_schema make_schema()
{
    udb_schema s;
    s.add_column(t_ftd(0, L"id", VT_I4, true, true));
    s.add_column(t_ftd(0, L"qty", VT_I8, false, false));
    s.add_column(t_ftd(0, L"price", VT_DECIMAL, false, false));
    s[2].precision = 12;
    s[2].scale = 2;
    s.add_column(t_ftd(60, L"name", VT_BSTR, false, false));
    s.add_column(t_ftd(0, L"note", VT_BSTR, false, false));
    s.add_column(t_ftd(0, L"ratio", VT_R8, false, false));
    s.add_column(t_ftd(0, L"stamp", VT_DATE, false, false, ole_variant(), 1));
    s.add_column(t_ftd(0, L"flag", VT_BOOL, false, false));
    s.add_column(t_ftd(0, L"data", VT_ARRAY | VT_UI1, false, false));
    s.add_column(t_ftd(0, L"code", VT_BSTR, false, false));
    return s;
}

udb_record make_record(const udb_schema& s)
{
    udb_record r;
    r.emplace_back(s[0].name, 0u, ole_variant(12345));
    r.emplace_back(s[1].name, 0u, ole_variant(9876543210LL));
    r.emplace_back(s[2].name, 0u, ole_variant::from_wstring(L"1234.56", VT_DECIMAL));
    r.emplace_back(s[3].name, 0u, ole_variant(L"A product name of some length"));
    r.emplace_back(s[4].name, 0u, ole_variant(L"line one\r\nline two\twith tab and \\ backslash"));
    r.emplace_back(s[5].name, 0u, ole_variant(0.125));
    r.emplace_back(s[6].name, 0u, ole_variant::from_wstring(L"2024-05-06 07:08:09.123456", VT_DATE));
    r.emplace_back(s[7].name, 0u, ole_variant(true));
    r.emplace_back(s[8].name, 0u, ole_variant(std::vector<std::uint8_t>(32, 0x5A)));
    r.emplace_back(s[9].name, 0u, ole_variant(L"O'Hara"));
    return r;
}

void script_rows(benchmark::State& state, bool copy)
{
    pgs_engine engine;
    engine.fast_insert = copy;
    pgs_dump_options options;
    options.insert_comments = false;
    options.create_tables = false;
    pgs_dmp_database db(L"/dev/null", options);
    udb_schema s = make_schema();
    udb_indexes none;
    auto rs = db.create_table1(L"bench", s, none);
    udb_record r = make_record(s);
    const auto start = db.writer().bytes_written();
    for (auto _ : state) rs->append_record(r);
    rs.reset();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(db.writer().bytes_written() - start));
    db.close();
}

void BM_script_copy_rows(benchmark::State& state) { script_rows(state, true); }
void BM_script_insert_rows(benchmark::State& state) { script_rows(state, false); }

}  // namespace

BENCHMARK(BM_script_copy_rows);
BENCHMARK(BM_script_insert_rows);
BENCHMARK_MAIN();

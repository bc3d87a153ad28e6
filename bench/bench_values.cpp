// Field values on the hot path: every column of every row is read from the
// source's text into an ole_variant and printed again into a COPY line.
// Counters report heap allocations per row, which should come only from the
// values that own text or bytes.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "TK/ole_variant.h"
#include "bench/counting_allocations.h"


namespace {

struct field_text {
    const char* text;
    VARTYPE kind;
};

// One mixed row of ten columns as the MySQL text protocol delivers it.
const field_text row[10] = {
    {"123456", VT_I4},
    {"-9223372036854775807", VT_I8},
    {"18446744073709551615", VT_UI8},
    {"3.141592653589793", VT_R8},
    {"12345678901234567890123456789012345.123456789012345678901234567890", VT_DECIMAL},
    {"2023-01-05 10:20:30.123456", VT_DATE},
    {"2024-02-29", VT_DATE},
    {"a short text value", VT_BSTR},
    {"1", VT_BOOL},
    {"0x00AB10FF7F", VT_BYTE_ARRAY},
};

void parse_row(benchmark::State& state)
{
    std::vector<ole_variant> values(10);
    long long before = g_allocations.load();
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) values[i] = ole_variant::from_string(row[i].text, row[i].kind);
        benchmark::DoNotOptimize(values.data());
    }
    state.counters["allocs/row"] =
        benchmark::Counter(double(g_allocations.load() - before) / double(state.iterations()));
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(parse_row);

void print_row(benchmark::State& state)
{
    std::vector<ole_variant> values;
    for (const auto& f : row) values.push_back(ole_variant::from_string(f.text, f.kind));
    std::string line;
    line.reserve(1024);
    long long before = g_allocations.load();
    for (auto _ : state) {
        line.clear();  // keeps its capacity
        for (int i = 0; i < 10; ++i) {
            if (i) line += '\t';
            values[i].append_string(line);
        }
        benchmark::DoNotOptimize(line.data());
    }
    state.counters["allocs/row"] =
        benchmark::Counter(double(g_allocations.load() - before) / double(state.iterations()));
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(print_row);

void parse_and_print_row(benchmark::State& state)
{
    std::vector<ole_variant> values(10);
    std::string line;
    line.reserve(1024);
    long long before = g_allocations.load();
    for (auto _ : state) {
        line.clear();
        for (int i = 0; i < 10; ++i) {
            values[i] = ole_variant::from_string(row[i].text, row[i].kind);
            if (i) line += '\t';
            values[i].append_string(line);
        }
        benchmark::DoNotOptimize(line.data());
    }
    state.counters["allocs/row"] =
        benchmark::Counter(double(g_allocations.load() - before) / double(state.iterations()));
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(parse_and_print_row);

// The wide path of the PostgreSQL reader and the wide text form.
void parse_wide_print_wide_row(benchmark::State& state)
{
    std::vector<std::wstring> wide;
    for (const auto& f : row) {
        std::string t = f.text;
        wide.emplace_back(t.begin(), t.end());
    }
    std::vector<ole_variant> values(10);
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) {
            values[i] = ole_variant::from_wstring(wide[i], row[i].kind);
            std::wstring w = values[i].to_wstring();
            benchmark::DoNotOptimize(w.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(parse_wide_print_wide_row);

void change_type_row(benchmark::State& state)
{
    std::vector<ole_variant> values;
    for (const auto& f : row) values.push_back(ole_variant::from_string(f.text, f.kind));
    for (auto _ : state) {
        for (int i = 0; i < 10; ++i) {
            ole_variant v = values[i];
            v.change_type(VT_BSTR);
            benchmark::DoNotOptimize(v.get_wstring().data());
        }
    }
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(change_type_row);

}  // namespace

BENCHMARK_MAIN();

// Every failure a run meets is shown once, naming its table or object, and counted once under
// its own kind: the counts are what the exit status and the summary read, so a report that is
// not counted would let a run with losses end as if complete.
#include <random>

#include "driver/driver_test_support.h"

namespace {

struct failure_case {
    const char* name;
    const char* source;       // source statements
    const char* destination;  // destination statements run before (nullptr: none, the run creates it)
    int mode;
    std::vector<std::wstring> tables;
    udb_failure_kind kind;
    std::vector<std::string> report_names;  // parts of the one report: its place and the reason
};

std::ostream& operator<<(std::ostream& os, const failure_case& c)
{
    return os << c.name;
}

// 3000 characters no compression shortens: longer than a PostgreSQL index entry may be.
std::string incompressible_text()
{
    std::mt19937 random(7);
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "0123456789abcdef"[random() % 16];
    return text;
}

const failure_case failure_cases[] = {
    {"refused_row",
     "CREATE TABLE r (id INT PRIMARY KEY, v INT); INSERT INTO r VALUES (1, 1), (2, -1), (3, 3)",
     "CREATE TABLE r (id integer PRIMARY KEY, v integer CHECK (v >= 0))", 3, {L"r"}, udb_failure_kind::row,
     {"r, record #2: ", "check"}},
    {"default_not_carried",
     "CREATE TABLE d (id INT PRIMARY KEY, e INT DEFAULT (1 / 3)); INSERT INTO d (id) VALUES (1)", nullptr, 0,
     {L"d"}, udb_failure_kind::column, {"d: Column 'e': the default (1 / 3)"}},
    {"keyless_merge", "CREATE TABLE loose (v INT); INSERT INTO loose VALUES (1)",
     "CREATE TABLE loose (v integer); INSERT INTO loose VALUES (1)", 3, {L"loose"},
     udb_failure_kind::keyless_merge, {"loose: The table has no primary or unique key to merge on"}},
    // Built after the rows, on the finisher's connection: the server refuses the long entry.
    {"index_refused",
     "CREATE TABLE ix (id INT PRIMARY KEY, t VARCHAR(3000) CHARACTER SET latin1, INDEX t_long (t));"
     "INSERT INTO ix VALUES (1, @long)",
     nullptr, 0, {L"ix"}, udb_failure_kind::index, {"Index 't_long' of table 'public.ix'", "Cannot create index: ", "exceeds"}},
    // The parent's column holds a value twice: no unique index, so no key can refer to it.
    {"foreign_key_refused",
     "CREATE TABLE dup (code INT, KEY (code)); INSERT INTO dup VALUES (1), (1);"
     "CREATE TABLE duped (id INT PRIMARY KEY, code INT, CONSTRAINT fk_duped_dup FOREIGN KEY (code) "
     "REFERENCES dup (code)); INSERT INTO duped VALUES (1, 1)",
     nullptr, 0, {L"dup", L"duped"}, udb_failure_kind::foreign_key, {"Foreign key 'fk_duped_dup' of table"}},
    {"view_refused",
     "CREATE TABLE base (id INT PRIMARY KEY); INSERT INTO base VALUES (1);"
     "CREATE VIEW v_bad AS SELECT id, IF(id > 1, 'big', 'small') AS size FROM base",
     nullptr, 0, {L"base"}, udb_failure_kind::view, {"View 'v_bad': "}},
};

class failure_accounting_test : public driver_server_test, public ::testing::WithParamInterface<failure_case> {};

TEST_P(failure_accounting_test, one_report_naming_its_place_and_one_count_of_its_kind)
{
    const failure_case& c = GetParam();
    source("SET @long = '" + incompressible_text() + "'; " + c.source);
    if (c.destination)
        dest(c.destination);
    conv->set_mode(c.mode);
    conv->selected_tables = c.tables;
    conv->convert_views = true;
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);

    const std::vector<std::string> reports = hooks.reports();
    ASSERT_EQ(reports.size(), 1u) << testing::PrintToString(reports);
    const std::string& report = reports[0];
    for (const std::string& part : c.report_names)
        EXPECT_NE(report.find(part), std::string::npos) << report;
    for (udb_failure_kind kind : udb_failure_kinds)
        EXPECT_EQ(conv->failures.of(kind).load(), kind == c.kind ? 1u : 0u) << int(kind) << ": " << report;
}

INSTANTIATE_TEST_SUITE_P(failures, failure_accounting_test, ::testing::ValuesIn(failure_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

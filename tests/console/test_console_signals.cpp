// Ctrl-C or SIGTERM in the middle of a run: the program stops as a stop request does (after
// the current row, files and connections closed), says in one line how far it got and ends
// with status 255. A script's unfinished file goes; an earlier script stays as it was. Live,
// the count the line gives is what the destination holds.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "console_test_support.h"

namespace {

using namespace console_test;
using strings = std::vector<std::string>;

strings files_in(const std::string& folder)
{
    strings names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct signal_case {
    const char* name;
    bool live;
    bool copy;  // --fast_insert
    int signal;
};

std::ostream& operator<<(std::ostream& os, const signal_case& c) { return os << c.name; }

class console_signals_test : public ::testing::TestWithParam<signal_case> {};

TEST_P(console_signals_test, a_run_stops_after_the_current_row_and_says_how_far_it_got)
{
    const signal_case& c = GetParam();
    const char* signal_name = c.signal == SIGINT ? "SIGINT" : "SIGTERM";
    // Far more rows than go by before the signal; "later" loads after "big".
    mysql_source src;
    src.exec("CREATE TABLE big (id INT PRIMARY KEY, pad VARCHAR(40));"
             "INSERT INTO big SELECT seq, CONCAT('row ', seq) FROM seq_1_to_300000;"
             "CREATE TABLE later (id INT); INSERT INTO later VALUES (1)");
    pg_destination dst;
    scratch dir;
    const std::string earlier = "-- an earlier script\n";
    const std::string script = dir.write("out.sql", earlier);
    strings args = connection_options() + strings{"--src=" + src.name(), "--dest=" + (c.live ? dst.name() : script)};
    if (!c.live)
        args.push_back("--dump");
    if (c.copy)
        args.push_back("--fast_insert");
    background_run run(args, dir.path());

    // Underway: rows committed, or the new script grown well past its header.
    ASSERT_TRUE(wait_for([&] {
        if (!run.running())
            return true;
        if (!c.live) {
            for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
                if (entry.path().filename().string().starts_with("out.sql.tmp") && entry.file_size() > 1000000)
                    return true;
            return false;
        }
        try {
            return std::stol(dst.value("SELECT count(*) FROM big")) >= 1000;
        } catch (const std::exception&) {
            return false;  // the database or the table is not made yet
        }
    }));
    ASSERT_TRUE(run.running()) << "the run ended before the signal";
    run.signal(c.signal);
    const run_result r = run.wait();

    EXPECT_EQ(r.status, 255) << r.err;
    // One line, and no error met on the way out (no interrupted call taken for a lost server).
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    const std::string head = std::string("Stopped by ") + signal_name + " while converting table 'big'";
    ASSERT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("1 more table was not converted, foreign keys and views were not created."),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(" The conversion was ended.\n"), std::string::npos) << r.err;
    if (c.live) {
        std::smatch said;
        ASSERT_TRUE(std::regex_search(r.err, said, std::regex("^" + head + ": ([0-9]+) of its rows were committed, ")))
            << r.err;
        EXPECT_EQ(said[1].str(), dst.value("SELECT count(*) FROM big"));
        EXPECT_LT(std::stol(said[1].str()), 300000);
        EXPECT_EQ(dst.value("SELECT count(*) FROM pg_tables WHERE tablename = 'later'"), "0");
    } else {
        EXPECT_NE(r.err.find("The script file was not written: an earlier script of that name was left as it was."),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(files_in(dir.path()), (strings{"out.sql", "run.err", "run.out"}));
        EXPECT_TRUE(read_file(script) == earlier);
    }
}

INSTANTIATE_TEST_SUITE_P(console, console_signals_test,
                         ::testing::Values(signal_case{"live_insert_sigint", true, false, SIGINT},
                                           signal_case{"live_copy_sigterm", true, true, SIGTERM},
                                           signal_case{"script_sigint", false, false, SIGINT},
                                           signal_case{"script_copy_sigterm", false, true, SIGTERM}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

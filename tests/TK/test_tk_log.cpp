// The trace log: what reaches the file, in which form, and that two writing
// threads lose no line.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "TK/tk_log.h"
#include "test_tk_support.h"

namespace {

class trace_log : public ::testing::Test {
protected:
    tk_test::scratch_dir dir;
    std::string log_path = dir.file("trace.log");
};

TEST_F(trace_log, disabled_logger_touches_no_file)
{
    tk_logger logger(log_path.c_str(), false, 3, false);
    tk_write_log(3, "milestone %d", 1);
    tk_write_wlog(3, L"milestone %d", 2);
    EXPECT_FALSE(std::filesystem::exists(log_path));
}

TEST_F(trace_log, no_logger_writes_nothing_and_does_not_fail)
{
    ASSERT_FALSE(tk_logger::has_instance());
    tk_write_log(3, "nobody listens");
    tk_write_wlog(3, L"nobody listens");
}

TEST_F(trace_log, first_call_empties_file_once_and_only_level_three_lines_reach_it)
{
    tk_test::write_file(log_path, "old content of an earlier run\r\n");
    tk_logger logger(log_path.c_str(), false, 3, false);
    logger.enable(true);
    // The emptying comes before the level test: a level-1 call empties.
    tk_write_log(1, "trace %d", 1);
    EXPECT_EQ(tk_test::read_file(log_path), "");
    tk_write_log(2, "progress");
    tk_write_log(3, "milestone %s=%d", "rows", 42);
    tk_write_wlog(3, L"wide %s", L"milestone");
    EXPECT_EQ(tk_test::read_file(log_path), "milestone rows=42\r\nwide milestone\r\n");

    // A second name in the same run is appended to, not emptied.
    std::string second = dir.file("second.log");
    tk_test::write_file(second, "kept\r\n");
    logger.set_file_name(second);
    tk_write_log(3, "more");
    EXPECT_EQ(tk_test::read_file(second), "kept\r\nmore\r\n");
}

// A line that does not reach the file is remembered, so a program can tell that the log it
// promised is not there; naming another file starts afresh.
TEST_F(trace_log, a_line_that_cannot_be_written_is_remembered)
{
    tk_logger logger("/dev/full", true, 3, false);
    EXPECT_EQ(logger.get_write_error(), "");
    tk_write_log(3, "first line");
    EXPECT_EQ(logger.get_write_error(), "'/dev/full': No space left on device");
    tk_write_log(3, "second line");
    EXPECT_EQ(logger.get_write_error(), "'/dev/full': No space left on device");

    logger.set_file_name(log_path);
    EXPECT_EQ(logger.get_write_error(), "");
    tk_write_log(3, "third line");
    EXPECT_EQ(logger.get_write_error(), "");
    EXPECT_EQ(tk_test::read_file(log_path), "third line\r\n");

    logger.set_file_name(dir.file("no_such_folder/x.log"));
    tk_write_log(3, "lost");
    EXPECT_EQ(logger.get_write_error(), "'" + dir.file("no_such_folder/x.log") + "': No such file or directory");
}

TEST_F(trace_log, wide_text_is_written_as_utf8_in_the_c_locale)
{
    std::setlocale(LC_ALL, "C");
    tk_logger logger(log_path.c_str(), true, 3, false);
    // In a wide format %s is a wide text and %S a narrow (UTF-8) one.
    tk_write_wlog(3, L"%s|%S|%c", L"Zürich 東京 😀", "Grüße", L'é');
    // A narrow message goes byte for byte; %S there takes a wide text.
    tk_write_log(3, "%s|%S", "\xC3\xA9t\xC3\xA9", L"Ωmega");
    EXPECT_EQ(tk_test::read_file(log_path),
              "Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80|Gr\xC3\xBC\xC3\x9F" "e|\xC3\xA9\r\n"
              "\xC3\xA9t\xC3\xA9|\xCE\xA9mega\r\n");
}

TEST_F(trace_log, long_wide_message_is_cut_to_10239_characters)
{
    tk_logger logger(log_path.c_str(), true, 3, false);
    std::wstring long_text(20000, L'ä');
    tk_write_wlog(3, L"%s", long_text.c_str());
    std::string expected;
    for (int i = 0; i < 10239; ++i) expected += "\xC3\xA4";
    EXPECT_EQ(tk_test::read_file(log_path), expected + "\r\n");
}

TEST_F(trace_log, time_stamps_start_each_line)
{
    tk_logger logger(log_path.c_str(), true, 3, true);
    tk_write_log(3, "stamped");
    EXPECT_TRUE(std::regex_match(tk_test::read_file(log_path), std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9] stamped\r\n")));
}

TEST_F(trace_log, two_threads_lose_no_line)
{
    tk_logger logger(log_path.c_str(), true, 3, false);
    constexpr int lines_per_thread = 2000;
    auto writer = [](int id) {
        for (int i = 0; i < lines_per_thread; ++i) {
            if (id == 0)
                tk_write_log(3, "thread %d line %d", id, i);
            else
                tk_write_wlog(3, L"thread %d line %d", id, i);
        }
    };
    std::thread a(writer, 0), b(writer, 1);
    a.join();
    b.join();
    std::istringstream in(tk_test::read_file(log_path));
    std::vector<int> next(2, 0);
    std::string line;
    int count = 0;
    std::regex shape("thread ([01]) line ([0-9]+)\r");
    while (std::getline(in, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << "damaged line: " << line;
        int id = std::stoi(m[1]);
        EXPECT_EQ(std::stoi(m[2]), next[id]++) << "line out of order or lost";
        ++count;
    }
    EXPECT_EQ(count, 2 * lines_per_thread);
}

TEST_F(trace_log, default_file_name_is_the_program_path_with_log_extension)
{
    std::string name = tk_logger::default_file_name();
    std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
    std::filesystem::path expected(program);
    expected.replace_extension(".log");
    EXPECT_EQ(name, expected.string());
}

TEST_F(trace_log, null_file_name_is_an_internal_error)
{
    tk_logger logger(log_path.c_str(), false, 3, false);
    try {
        logger.set_file_name(static_cast<const char*>(nullptr));
        FAIL() << "no exception";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_level(), 2);
        // "..\TK/tk_log\82"
        EXPECT_STREQ(e.what(), "Internal error: \ncode=2e2e5c544b2f746b5f6c6f675c3832");
    }
}

}  // namespace

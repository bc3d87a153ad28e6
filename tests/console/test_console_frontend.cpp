// Console reports by level and the console form of progress lines, in process.
#include <gtest/gtest.h>

#include <string>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "console/console_frontend.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"

namespace {

TEST(console_progress, lines_end_as_on_this_platform_and_a_table_line_gets_an_empty_line)
{
    EXPECT_EQ(console_progress_text(L"Converting database 'shop' (2 tables)\r\n"),
              "Converting database 'shop' (2 tables)\n");
    EXPECT_EQ(console_progress_text(L"Creating schema if necessary: 'sales'\r\n"),
              "Creating schema if necessary: 'sales'\n");
    EXPECT_EQ(console_progress_text(L"Converting table 100%_Zoë (7 records)\r\n"),
              "Converting table 100%_Zoë (7 records)\n\n");
}

TEST(console_progress, control_characters_of_source_names_never_reach_the_terminal_raw)
{
    // An escape sequence, a line break and a C1 control character in a table name.
    EXPECT_EQ(console_progress_text(L"Converting table a\x1b[2Jb\nc\x9b (1 records)\r\n"),
              "Converting table a\\x1B[2Jb\\nc\\u009B (1 records)\n\n");
}

class console_report_test : public ::testing::Test {
protected:
    // Reports the exception; gives standard error and whether the program was
    // ended (with -1).
    std::pair<std::string, bool> report(const tk_exception& e)
    {
        return capture([&] { handler.handle(e, false); });
    }
    // The same for a failure of a run in `table` (record -1: the table's own).
    std::pair<std::string, bool> report(const wchar_t* table, std::int64_t record, const tk_exception& e)
    {
        udb_failure f = udb_failure_of(udb_failure_kind::row, table, L"", e);
        f.record = record;
        return capture([&] { udb_report_failure(f); });
    }
    template <class Act>
    std::pair<std::string, bool> capture(Act act)
    {
        ::testing::internal::CaptureStderr();
        bool ended = false;
        try {
            act();
        } catch (const console_exit& x) {
            ended = x.code == -1;
        }
        return {::testing::internal::GetCapturedStderr(), ended};
    }

    tk_logger logger{nullptr, false, 3, false};
    console_hooks_scope hooks;
    error_handler handler{pgs_error_table};
    pelmora_convertor conv{convertor_form::console};
};

TEST_F(console_report_test, level_0_is_printed_on_one_line_with_its_place_and_the_work_goes_on)
{
    handler.load_err_map(mysql_error_table);
    tk_exception e("first line\nsecond line", 0);
    EXPECT_EQ(report(L"orders", 7, e),
              std::make_pair(std::string("Error:\norders, record #7: first line second line\n"), false));

    // A code of the MySQL table gives its text, line feeds turned into blanks.
    tk_exception denied("server text", 0);
    denied.set_error_code(0x400415);
    EXPECT_EQ(report(L"orders", -1, denied).first,
              "Error:\norders: Access denied. Verify the user name and password are correct, and you have the "
              "necessary privileges to connect to the target MySQL server.\n");
}

TEST_F(console_report_test, level_1_is_printed_and_ends_the_program)
{
    EXPECT_EQ(report(tk_exception("Invalid port number", 1)),
              std::make_pair(std::string("Error:\nInvalid port number\n"), true));
}

TEST_F(console_report_test, silent_hides_level_0_but_never_an_error_that_ends_the_program)
{
    conv.set_silent(true);
    handler.set_suppressed(true);
    EXPECT_EQ(report(L"t", -1, tk_exception("row problem", 0)), std::make_pair(std::string(), false));
    EXPECT_EQ(report(L"t", -1, tk_exception("stop", 1)), std::make_pair(std::string("Error:\nt: stop\n"), true));
    EXPECT_EQ(report(tk_exception("broken\nstate", 2)),
              std::make_pair(std::string("Internal error: broken\nstate\n"), true));
}

TEST_F(console_report_test, exit_with_message_goes_to_standard_error_also_when_silent)
{
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(exit_with_message("100% wrong"), console_exit);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "100% wrong\n");
    conv.set_silent(true);
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(exit_with_message("fatal"), console_exit);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "fatal\n");
}

}  // namespace

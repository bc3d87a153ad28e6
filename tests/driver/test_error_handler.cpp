// The error handler: user texts by code, where a failure happened, and what each level does
// through the front end.
#include <gtest/gtest.h>

#include "SQL/sql_exception.h"
#include "UDB/udb_failure.h"
#include "driver/driver_test_support.h"

namespace {

class error_handler_test : public ::testing::Test {
protected:
    error_handler_test() : scope(hooks), handler(pgs_error_table) { handler.load_err_map(mysql_error_table); }

    tk_exception with_code(int code, int level, const char* text = "own text")
    {
        tk_exception e(text, level);
        e.set_error_code(code);
        return e;
    }

    recording_hooks hooks;
    hooks_scope scope;
    error_handler handler;
};

struct code_case {
    int mysql_errno;
    const char* starts_with;  // nullptr: the exception's own text
};

std::ostream& operator<<(std::ostream& os, const code_case& c)
{
    return os << c.mysql_errno;
}

class error_text_test : public error_handler_test, public ::testing::WithParamInterface<code_case> {};

TEST_P(error_text_test, the_code_selects_the_user_text_with_line_feeds_as_blanks)
{
    const code_case& c = GetParam();
    handler.handle(with_code(0x400000 + c.mysql_errno, 1), false);
    ASSERT_EQ(hooks.errors.size(), 1u);
    const std::string& shown = hooks.errors[0];
    EXPECT_EQ(shown.find('\n'), std::string::npos);
    if (c.starts_with)
        EXPECT_EQ(shown.rfind(c.starts_with, 0), 0u) << shown;
    else
        EXPECT_EQ(shown, "own text");
}

INSTANTIATE_TEST_SUITE_P(
    mysql_table, error_text_test,
    ::testing::Values(
        code_case{1044, "Access denied. Ask your system administrator to grant you the necessary"},
        code_case{1045, "Access denied. Verify the user name and password are correct, and you have the"},
        code_case{1062, "Duplicate field values being used for an unique index were found. See"},
        code_case{1071, "Primary key in the original database is too long. Restart the program with "
                        "\"Skip converting indexes\" checkbox"},
        code_case{1130, "You are not allowed to connect to the destination MySQL server."},
        code_case{1051, "Failed to overwrite MySQL database."},
        code_case{2003, "Cannot connect to the MySQL server. Check to verify that MySQL server is launched"},
        code_case{2005, "Cannot connect to the MySQL server. Check to verify that MySQL server is launched"},
        code_case{2006, "Transferred value is too big."},
        code_case{1249, "The program does not support authentication protocol requested by server."},
        code_case{1250, "The program does not support authentication protocol requested by server."},
        code_case{1251, "The program does not support authentication protocol requested by server."},
        code_case{1146, nullptr}),
    [](const auto& info) { return std::to_string(info.param.mysql_errno); });

TEST_F(error_handler_test, the_postgresql_table_keeps_its_texts)
{
    EXPECT_EQ(handler.form_message(with_code(-30082, 0)), "Incorrect username or password");
    EXPECT_EQ(handler.form_message(with_code(-1032, 0)).rfind("Cannot connect to pgs server.", 0), 0u);
}

TEST_F(error_handler_test, a_row_failure_names_table_and_record_and_the_log_form_keeps_line_feeds)
{
    udb_failure row = udb_failure_of(udb_failure_kind::row, L"orders", L"", with_code(0x400426, 0));
    row.record = 15;
    EXPECT_EQ(handler.form_message(row),
              "orders, record #15: Duplicate field values being used for an unique index were found.\n"
              "See 'Troubleshooting' article of the product documentation\nfor solution.");
    handler.report(row);
    ASSERT_EQ(hooks.continues.size(), 1u);
    EXPECT_EQ(hooks.continues[0],
              "orders, record #15: Duplicate field values being used for an unique index were found. "
              "See 'Troubleshooting' article of the product documentation for solution.");
    // Each failure carries its own place: nothing of it stays for the next report.
    EXPECT_EQ(handler.form_message(tk_exception("x", 0)), "x");
    EXPECT_EQ(handler.form_message(udb_failure_of(udb_failure_kind::table, L"Ünïcode", L"", tk_exception("x", 0))),
              "Ünïcode: x");
    EXPECT_EQ(handler.form_message(
                  udb_failure_of(udb_failure_kind::index, L"t", L"Index 'i' of table 't'", tk_exception("x", 0))),
              "Index 'i' of table 't': x");
}

TEST_F(error_handler_test, level_0_abort_throws_only_below_the_top_level)
{
    hooks.answer.abort = true;
    hooks.answer.do_not_show_again = true;
    EXPECT_THROW(handler.handle(tk_exception("row", 0), false), tk_final_exception);
    // Abort leaves later reports visible.
    EXPECT_FALSE(handler.is_suppressed());
    EXPECT_NO_THROW(handler.handle(tk_exception("top", 0), true));
    EXPECT_EQ(hooks.continues.size(), 2u);
}

// A failed view or foreign key of a batch reaches the handler through the reporter the handler
// installs, named by its object, and is counted in the counts installed; Abort there ends the
// batch, the failure counted all the same.
TEST_F(error_handler_test, database_sides_report_failed_items_through_the_handler)
{
    udb_failure_counts counts;
    udb_failure_counting counting(counts);
    udb_report_failure(udb_failure_of(udb_failure_kind::view, L"", L"View 'v1'", tk_exception("no such table", 1)));
    ASSERT_EQ(hooks.errors.size(), 1u);
    EXPECT_EQ(hooks.errors[0], "View 'v1': no such table");
    hooks.answer.abort = true;
    EXPECT_THROW(udb_report_failure(udb_failure_of(udb_failure_kind::foreign_key, L"t", L"Foreign key 'fk'",
                                                   tk_exception("refused", 0))),
                 tk_final_exception);
    EXPECT_EQ(counts.views.load(), 1u);
    EXPECT_EQ(counts.keys.load(), 1u);
    EXPECT_EQ(counts.rows.load(), 0u);
}

TEST_F(error_handler_test, continue_with_do_not_show_again_silences_levels_0_and_1_but_still_lists_them)
{
    hooks.answer.do_not_show_again = true;
    handler.handle(tk_exception("first", 0), false);
    EXPECT_TRUE(handler.is_suppressed());
    handler.handle(tk_exception("second", 0), false);
    handler.handle(tk_exception("third", 1), false);
    // A level 3 error behaves like level 0.
    handler.handle(tk_exception("fourth", 3), false);
    EXPECT_EQ(hooks.continues, std::vector<std::string>{"first"});
    EXPECT_TRUE(hooks.errors.empty());
    EXPECT_EQ(handler.get_error_list(), (std::vector<std::string>{"first", "second", "third", "fourth"}));
}

TEST_F(error_handler_test, the_error_list_holds_the_first_20_reports)
{
    for (int i = 0; i < 25; ++i)
        handler.handle(tk_exception("e" + std::to_string(i), 0), false);
    const auto list = handler.get_error_list();
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(list.back(), "e19");
    EXPECT_EQ(hooks.continues.size(), 25u);
    EXPECT_EQ(handler.get_report_count(), 25u);
}

TEST_F(error_handler_test, level_1_ends_the_program_only_where_the_front_end_says_so)
{
    handler.handle(tk_exception("stay", 1), false);
    EXPECT_EQ(hooks.errors, std::vector<std::string>{"stay"});
    hooks.level1_ends = true;
    try {
        handler.handle(tk_exception("go", 1), true);
        FAIL() << "a level-1 error in the console ends the program";
    } catch (const process_end& end) {
        EXPECT_EQ(end.exit_code, -1);
    }
}

TEST_F(error_handler_test, an_internal_error_is_shown_unprefixed_and_ends_the_program_even_when_silenced)
{
    handler.set_suppressed(true);
    try {
        handler.handle(tk_mail_assertion("sql_db", 75), false);
        FAIL() << "an internal error ends the program";
    } catch (const process_end& end) {
        EXPECT_EQ(end.exit_code, -1);
    }
    ASSERT_EQ(hooks.internal.size(), 1u);
    EXPECT_EQ(hooks.internal[0], make_err_meggase("sql_db", 75));
    EXPECT_TRUE(handler.get_error_list().empty());
}

TEST_F(error_handler_test, the_first_handler_built_is_the_instance)
{
    EXPECT_EQ(error_handler::try_instance(), &handler);
    {
        error_handler second(pgs_error_table);
        EXPECT_EQ(error_handler::try_instance(), &handler);
    }
    EXPECT_EQ(error_handler::try_instance(), &handler);
}

// A real refusal of the MySQL test server reaches the user with the table's text.
TEST(error_handler_server, a_wrong_mysql_password_gives_the_access_denied_text)
{
    recording_hooks hooks;
    hooks_scope scope(hooks);
    error_handler handler(pgs_error_table);
    handler.load_err_map(mysql_error_table);
    pelmora_convertor conv(convertor_form::console);
    auto my = test_env::mysql();
    conv.store_mysql_settings(my.host, my.user, my.password + "x", std::to_string(my.port));
    try {
        conv.connect_mysql_server();
        FAIL() << "the server accepted a wrong password";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_error_code(), 0x400415);
        handler.handle(e, true);
    }
    ASSERT_EQ(hooks.reports().size(), 1u);
    EXPECT_EQ(hooks.reports()[0],
              "Access denied. Verify the user name and password are correct, and you have the necessary "
              "privileges to connect to the target MySQL server.");
}

}  // namespace

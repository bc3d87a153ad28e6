// Singletons, the exception family, internal-error texts and the error-code map.
#include <gtest/gtest.h>

#include <cerrno>

#include "TK/tk_exception.h"
#include "TK/tk_singleton.h"

namespace {

struct probe : tk_singleton<probe> {
    int id;
    explicit probe(int i) : id(i) {}
};

std::string internal_error_text(const tk_exception& e) { return e.what(); }

TEST(tk_singleton_test, first_object_wins_and_only_it_unregisters)
{
    probe first(1);
    EXPECT_EQ(probe::instance(), &first);
    {
        probe second(2);
        EXPECT_EQ(probe::get_instance()->id, 1);
    }
    // Destroying the short-lived second object must not leave the first
    // unreachable.
    ASSERT_TRUE(probe::has_instance());
    EXPECT_EQ(probe::instance()->id, 1);
}

TEST(tk_singleton_test, accessors_of_an_empty_singleton_are_internal_errors_with_their_lines)
{
    ASSERT_FALSE(probe::has_instance());
    EXPECT_EQ(probe::try_instance(), nullptr);
    try {
        probe::instance();
        FAIL();
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(e.get_level(), 2);
        EXPECT_EQ(e.get_error_code(), 0);
        // "..\TK/tk_singl\64"
        EXPECT_EQ(internal_error_text(e), "Internal error: \ncode=2e2e5c544b2f746b5f73696e676c5c3634");
    }
    try {
        probe::get_instance();
        FAIL();
    } catch (const tk_mail_assertion& e) {
        EXPECT_EQ(internal_error_text(e), "Internal error: \ncode=2e2e5c544b2f746b5f73696e676c5c3731");
    }
}

struct message_case {
    const char* name;
    tk_exception exception;
    std::string message;
    int level;
};

TEST(tk_exception_test, messages_codes_and_levels_of_the_constructors)
{
    const message_case cases[] = {
        {"narrow text", tk_exception("Invalid port number", 1), "Invalid port number", 1},
        {"empty narrow text", tk_exception("", 0), "Unknown exception", 0},
        {"null narrow text", tk_exception(static_cast<const char*>(nullptr), 1), "Unknown exception", 1},
        {"level only", tk_exception(2), "Unknown exception", 2},
        {"wide text as UTF-8", tk_exception(L"Tabelle «Größe» 表", 0), "Tabelle \xC2\xAB" "Gr\xC3\xB6\xC3\x9F" "e\xC2\xBB \xE8\xA1\xA8", 0},
        {"empty wide text stays empty", tk_exception(std::wstring(), 1), "", 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.exception.what(), c.message) << c.name;
        EXPECT_EQ(c.exception.get_level(), c.level) << c.name;
        EXPECT_EQ(c.exception.get_error_code(), 0) << c.name;
    }
}

TEST(tk_exception_test, copy_keeps_message_code_and_level)
{
    tk_exception original("text", 0);
    original.set_error_code(0x400000 + 1045);
    tk_exception copy = original;
    EXPECT_STREQ(copy.what(), "text");
    EXPECT_EQ(copy.get_error_code(), 0x400000 + 1045);
    EXPECT_EQ(copy.get_level(), 0);
    tk_mail_assertion assertion("tk_errco", 43);
    tk_mail_assertion assertion_copy = assertion;
    EXPECT_STREQ(assertion_copy.what(), assertion.what());
    EXPECT_EQ(assertion_copy.get_level(), 2);
}

TEST(tk_exception_test, system_error_appends_the_system_text_and_keeps_the_code)
{
    errno = EACCES;
    tk_exception_ex e("Cannot create file: ", 0);
    EXPECT_EQ(e.get_error_code(), EACCES);
    EXPECT_EQ(e.get_level(), 0);
    EXPECT_STREQ(e.what(), "Cannot create file: Permission denied\r\n");

    errno = ENOENT;
    tk_exception_ex bare;
    EXPECT_EQ(bare.get_level(), 1);
    EXPECT_STREQ(bare.what(), "No such file or directory\r\n");
}

TEST(tk_exception_test, system_error_without_text_stays_unknown_but_keeps_its_code)
{
    errno = 98765;
    tk_exception_ex e("prefix that is dropped: ", 0);
    EXPECT_STREQ(e.what(), "Unknown exception");
    EXPECT_EQ(e.get_error_code(), 98765);
}

TEST(tk_exception_test, internal_error_encodes_file_and_line_in_hex)
{
    tk_mail_assertion e("tk_errco", 43);
    EXPECT_STREQ(e.what(), "Internal error: \ncode=746b5f657272636f5c3433");
    EXPECT_EQ(e.get_level(), 2);
    EXPECT_EQ(e.get_error_code(), 0);
}

TEST(tk_exception_test, final_exception_is_no_tk_exception)
{
    try {
        throw tk_final_exception();
    } catch (const tk_exception&) {
        FAIL() << "caught as tk_exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Unknown exception");
    }
}

TEST(tk_error_converter_test, first_table_wins_and_missing_code_gives_empty_text)
{
    const error_code_entry pg_table[] = {{1, "first text"}, {-5, "negative code"}};
    const error_code_entry mysql_table[] = {{1, "second text"}, {0x400000 + 1045, "Access denied"}};
    tk_error_converter map(pg_table);
    map.load_map(mysql_table);
    EXPECT_EQ(map.convert(1), "first text");
    EXPECT_EQ(map.convert(-5), "negative code");
    EXPECT_EQ(map.convert(0x400000 + 1045), "Access denied");
    EXPECT_EQ(map.convert(2), "");
    try {
        map.load_map(3, nullptr);
        FAIL();
    } catch (const tk_mail_assertion& e) {
        EXPECT_STREQ(e.what(), "Internal error: \ncode=746b5f657272636f5c3433");
    }
}

}  // namespace

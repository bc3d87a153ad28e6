// Bug mail, clipboard and library version services through their hooks.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <unistd.h>

#include "TK/tk_desktop.h"

namespace {

class desktop : public ::testing::Test {
protected:
    void TearDown() override
    {
        tk_set_bug_mail_hook(nullptr);
        tk_set_clipboard_hook(nullptr);
        tk_register_dll_version(L"Qt6Widgets", nullptr);
    }
};

TEST_F(desktop, services_without_hooks_only_trace)
{
    tk_send_bug("crash", "body");
    tk_copy_to_clipboard2(L"text");
    EXPECT_EQ(get_dll_version(L"Qt6Widgets"), 0u);
}

TEST_F(desktop, bug_mail_goes_to_the_support_address_and_keeps_the_current_directory)
{
    tk_bug_mail sent;
    int calls = 0;
    const auto before = std::filesystem::current_path();
    tk_set_bug_mail_hook([&](const tk_bug_mail& mail) {
        sent = mail;
        ++calls;
        ::chdir("/");  // a mail program may move the process elsewhere
        return 0;
    });
    tk_send_bug("Internal error: code=2e2e", "Steps:\n1 & 2");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_EQ(sent.recipient, tk_support_address);
    EXPECT_EQ(sent.subject, "Bug report on Internal error: code=2e2e");
    EXPECT_EQ(sent.body, "Steps:\n1 & 2");
    EXPECT_TRUE(std::regex_match(sent.date, std::regex("[0-9]{4}/[0-9]{1,2}/[0-9]{1,2} [0-9]{1,2}:[0-9]{1,2}")))
        << sent.date;
    EXPECT_EQ(tk_bug_mail_link(sent),
              "mailto:support%40quindrel.invalid?subject=Bug%20report%20on%20Internal%20error%3A%20code%3D2e2e"
              "&body=Steps%3A%0A1%20%26%202");
}

TEST_F(desktop, clipboard_gets_the_text_up_to_its_first_nul)
{
    std::wstring copied = L"untouched";
    tk_set_clipboard_hook([&](const std::wstring& text) {
        copied = text;
        return true;
    });
    tk_copy_to_clipboard2(std::wstring(L"Grüße\0rest", 10));
    EXPECT_EQ(copied, L"Grüße");
    tk_copy_to_clipboard2(L"");
    EXPECT_EQ(copied, L"");
}

TEST_F(desktop, library_version_words)
{
    EXPECT_EQ(tk_version_word("6.4.2"), 0x00060004u);
    EXPECT_EQ(tk_version_word("5.80"), (5u << 16) | 80u);
    EXPECT_EQ(tk_version_word("6"), 0u);
    EXPECT_EQ(tk_version_word("x.y"), 0u);
    EXPECT_EQ(tk_version_word(""), 0u);

    std::optional<std::string> run_time = "6.4.2";
    tk_register_dll_version(L"Qt6Widgets", [&] { return run_time; });
    EXPECT_EQ(get_dll_version(L"Qt6Widgets"), tk_version_word(6, 4));
    EXPECT_GE(get_dll_version(L"Qt6Widgets"), tk_version_word("6.4.0"));  // the start-up check
    EXPECT_LT(get_dll_version(L"Qt6Widgets"), tk_version_word("6.5.0"));
    run_time.reset();  // a library without version
    EXPECT_EQ(get_dll_version(L"Qt6Widgets"), 0u);
    EXPECT_EQ(get_dll_version(L"NotRegistered"), 0u);
}

}  // namespace

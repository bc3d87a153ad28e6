// Name validators: acceptance, taken names and the making of safe names.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_validator.h"

namespace {

// A validator with the rules a database side would set.
class test_validator : public udb_validator {
public:
    explicit test_validator(std::uint32_t max_len) : udb_validator(max_len)
    {
        illegal_chars = {L'-', L' '};
        restricted_names = {L"select", L"table"};
    }
};

}  // namespace

TEST(udb_validator, acceptance)
{
    test_validator v(63);
    EXPECT_TRUE(v.is_acceptable(std::wstring(63, L'a')));
    EXPECT_FALSE(v.is_acceptable(std::wstring(64, L'a')));
    EXPECT_FALSE(v.is_acceptable(L"SELECT"));
    EXPECT_FALSE(v.is_acceptable(L"order-items"));
    EXPECT_TRUE(v.is_acceptable(L"orders"));
    // Characters, not UTF-16 units: 63 letters outside the BMP are 63 long.
    EXPECT_TRUE(v.is_acceptable(std::wstring(63, wchar_t(0x1F600))));
    EXPECT_TRUE(udb_validator(0).is_acceptable(std::wstring(500, L'a')));
}

TEST(udb_validator, duplicates_ignore_case)
{
    test_validator v(63);
    v.add_existing_name(L"ORDERS");
    EXPECT_TRUE(v.is_duplicated(L"orders"));
    EXPECT_FALSE(v.is_duplicated(L"order"));
}

TEST(udb_validator, safe_name_lowercases_and_replaces_illegal_characters)
{
    test_validator v(63);
    EXPECT_EQ(v.get_safe_name(L"Orders"), L"orders");
    EXPECT_EQ(v.get_safe_name(L"Order-Items"), L"order_items");
    // Only A-Z are lower-cased.
    EXPECT_EQ(v.get_safe_name(L"\u00c4rger"), L"\u00c4rger");
    // The result is not recorded.
    EXPECT_TRUE(v.existing_names.empty());
}

TEST(udb_validator, safe_name_counter_suffix)
{
    test_validator v(63);
    v.add_existing_name(L"orders");
    EXPECT_EQ(v.get_safe_name(L"Orders"), L"orders00000");
    v.add_existing_name(L"orders00000");
    EXPECT_EQ(v.get_safe_name(L"Orders"), L"orders00001");
    // A reserved word gets a counter too.
    EXPECT_EQ(v.get_safe_name(L"Select"), L"select00000");
}

TEST(udb_validator, safe_name_length_cut)
{
    test_validator v(63);
    const std::wstring long_name = L"A" + std::wstring(69, L'b');  // 70 characters
    const std::wstring cut = v.get_safe_name(long_name);
    EXPECT_EQ(cut, L"a" + std::wstring(61, L'b'));
    v.add_existing_name(cut);
    const std::wstring numbered = v.get_safe_name(long_name);
    EXPECT_EQ(numbered, L"a" + std::wstring(56, L'b') + L"00000");
    EXPECT_EQ(numbered.size(), 62u);

    // A limit below six cuts no stem: every numbered name is too long, and
    // running out of candidates is an internal error.
    test_validator tiny(4);
    tiny.add_existing_name(L"abc");
    EXPECT_THROW(tiny.get_safe_name(L"abc"), tk_mail_assertion);
}

TEST(udb_validator, released_through_the_base)
{
    std::unique_ptr<udb_validator> v = std::make_unique<test_validator>(10);
    release_validator(v);
    EXPECT_EQ(v, nullptr);
}

namespace {

// The naming rule spelled out the slow way: every candidate from counter 0 on, each compared
// with every restricted and taken name.
std::wstring safe_name_by_scan(const test_validator& v, const std::wstring& name)
{
    auto refused = [&](const std::wstring& n) {
        if (v.max_length != 0 && n.size() > v.max_length) return true;
        for (const auto& r : v.restricted_names)
            if (tk_equal_no_case(r, n)) return true;
        for (wchar_t c : v.illegal_chars)
            if (n.find(c) != std::wstring::npos) return true;
        for (const auto& e : v.existing_names)
            if (tk_equal_no_case(e, n)) return true;
        return false;
    };
    std::wstring copy = tk_to_lower(name);
    if (copy.size() > v.max_length) copy.resize(v.max_length - 1);
    for (wchar_t bad : v.illegal_chars)
        for (auto& c : copy)
            if (c == bad) c = L'_';
    if (!refused(copy)) return copy;
    std::wstring stem = copy;
    if (copy.size() > v.max_length - 5) stem.resize(v.max_length - 6);
    for (int n = 0; n <= 99999; ++n) {
        wchar_t digits[8];
        std::swprintf(digits, 8, L"%05d", n);
        if (!refused(stem + digits)) return stem + digits;
    }
    return L"<none>";
}

std::wstring upper(std::wstring s)
{
    for (auto& c : s)
        if (c >= L'a' && c <= L'z') c = wchar_t(c - 32);
    return s;
}

}  // namespace

// The names handed out do not depend on how the taken names are looked up: a long random mix
// of names taken through add_existing_name and straight into the lists, reserved words added,
// lists replaced and emptied, with names in changing case, gives the names the plain scan
// gives, in the same order.
TEST(udb_validator, safe_names_equal_those_of_a_plain_scan)
{
    test_validator v(12);
    std::mt19937 rng(7);
    const std::vector<std::wstring> stems = {L"PRIMARY", L"primary", L"Orders", L"a-b", L"idx", L"averylongname12"};
    for (int step = 0; step < 1500; ++step) {
        const std::wstring& stem = stems[rng() % stems.size()];
        const std::wstring expected = safe_name_by_scan(v, stem);
        const std::wstring got = v.get_safe_name(stem);
        ASSERT_EQ(tk_unicode_to_utf8(got), tk_unicode_to_utf8(expected)) << "step " << step;
        switch (rng() % 10) {
        case 0: v.restricted_names.push_back(upper(got)); break;
        case 1: v.existing_names.push_back(got); break;
        case 2:
            if (step % 500 == 0) v.existing_names = {L"orders", L"primary"};  // replaced, not grown
            break;
        case 3:
            if (step % 700 == 0) v.restricted_names.clear();
            break;
        default: v.add_existing_name(got); break;
        }
    }
}

// A thousand tables whose primary keys are all called PRIMARY name them in counter order.
TEST(udb_validator, numbered_names_follow_each_other)
{
    test_validator v(63);
    v.add_existing_name(L"primary");
    for (int n = 0; n < 1000; ++n) {
        wchar_t digits[8];
        std::swprintf(digits, 8, L"%05d", n);
        const std::wstring name = v.get_safe_name(L"PRIMARY");
        ASSERT_EQ(name, std::wstring(L"primary") + digits);
        v.add_existing_name(name);
    }
    EXPECT_TRUE(v.is_duplicated(L"PRIMARY00999"));
    EXPECT_FALSE(v.is_duplicated(L"primary01000"));
}

// A released name is free once no use of it is left, in either list; a released numbered
// name is found again by the next search for its stem, and the searches after it go on past
// the names still taken.
TEST(udb_validator, released_names_come_back_in_counter_order)
{
    test_validator v(63);
    for (const wchar_t* n : {L"primary", L"primary00000", L"primary00001", L"primary00002", L"ix", L"IX"})
        v.add_existing_name(n);
    v.restricted_names.push_back(L"ix_r");
    EXPECT_EQ(v.get_safe_name(L"PRIMARY"), L"primary00003");

    v.release_name(L"PRIMARY00001");
    v.release_name(L"ix");
    v.release_name(L"ix_r");
    v.release_name(L"unknown");
    EXPECT_FALSE(v.is_duplicated(L"primary00001"));
    EXPECT_EQ(v.get_safe_name(L"PRIMARY"), L"primary00001");
    v.add_existing_name(L"primary00001");
    EXPECT_EQ(v.get_safe_name(L"PRIMARY"), L"primary00003");
    EXPECT_TRUE(v.is_duplicated(L"ix"));  // one use is left
    EXPECT_TRUE(v.is_acceptable(L"ix_r"));
}

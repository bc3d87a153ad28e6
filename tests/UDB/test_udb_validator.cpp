// Name validators: acceptance, taken names and the making of safe names.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TK/tk_exception.h"
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

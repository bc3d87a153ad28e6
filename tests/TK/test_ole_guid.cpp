// GUID texts: only the 8-4-4-4-12 hexadecimal layout, alone, in braces, or in
// braces after the word guid/GUID.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "TK/ole_guid.h"

namespace {

struct guid_case {
    const wchar_t* text;
    bool valid;
    const wchar_t* raw;        // get_raw_guid_wstr
    const wchar_t* canonical;  // get_guid_wstr
};

std::ostream& operator<<(std::ostream& os, const guid_case& c)
{
    std::wstring w = c.text;
    return os << '"' << std::string(w.begin(), w.end()) << '"';
}

class guid_texts : public testing::TestWithParam<guid_case> {};

TEST_P(guid_texts, recognised_and_cut)
{
    const auto& c = GetParam();
    ole_guid_extractor g{std::wstring_view(c.text)};
    EXPECT_EQ(g.b_valid, c.valid);
    EXPECT_EQ(g.get_raw_guid_wstr(), c.valid ? c.raw : L"");
    EXPECT_EQ(g.get_guid_wstr(), c.valid ? c.canonical : L"");
    std::wstring w = c.text;
    ole_guid_extractor narrow{std::string(w.begin(), w.end())};
    EXPECT_EQ(narrow.b_valid, c.valid);
    std::wstring raw = c.valid ? c.raw : L"";
    EXPECT_EQ(narrow.get_raw_guid_str(), std::string(raw.begin(), raw.end()));
}

#define G L"00112233-4455-6677-8899-AABBCCDDEEFF"
#define C L"00112233445566778899AABBCCDDEEFF"

const guid_case cases[] = {
    {G, true, G, C},
    {L"{" G L"}", true, G, C},
    {L"  {" G L"}  ", true, G, C},
    {L"guid {" G, true, G, C},
    {L"guid {" G L"}", true, G, C},
    {L"GUID{" G L"}", true, G, C},
    {L"a guid{" G L"}", true, G, C},
    {L"id guid {" G L"}", false, nullptr, nullptr},  // 46 characters
    {L"00112233-4455-6677-8899-aabbccddeeff", true, L"00112233-4455-6677-8899-aabbccddeeff",
     L"00112233445566778899aabbccddeeff"},
    // not the layout
    {L"------------------------------------", false, nullptr, nullptr},
    {L"0011223344556677889900AABBCCDDEEFF--", false, nullptr, nullptr},
    {L"00112233-4455-6677-8899-AABBCCDDEEFG", false, nullptr, nullptr},
    {L"{00112233-4455-6677-8899-AABBCCDDEE-F}", false, nullptr, nullptr},
    {L"guid {------------------------------------}", false, nullptr, nullptr},
    {L"guid {" G L"x", false, nullptr, nullptr},
    // the keyword is case-sensitive: guid or GUID
    {L"Guid {" G, false, nullptr, nullptr},
    // lengths
    {L"00112233-4455-6677-8899-AABBCCDDEEF", false, nullptr, nullptr},
    {L"", false, nullptr, nullptr},
};

INSTANTIATE_TEST_SUITE_P(table, guid_texts, testing::ValuesIn(cases));

TEST(ole_guid, length_limit_applies_before_trimming)
{
    std::wstring text = std::wstring(27, L' ') + G + std::wstring(28, L' ');  // 91 characters
    ASSERT_EQ(text.size(), 91u);
    EXPECT_FALSE(ole_guid_extractor{text}.b_valid);
    text.pop_back();
    EXPECT_TRUE(ole_guid_extractor{text}.b_valid);
}

TEST(ole_guid, layout_helper)
{
    EXPECT_TRUE(ole_is_guid_layout(G));
    EXPECT_FALSE(ole_is_guid_layout(L"001122334-455-6677-8899-AABBCCDDEEFF"));
}

}  // namespace

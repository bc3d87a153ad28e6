// Platform text services: UTF-8 decoding and case folding.
#include <gtest/gtest.h>

#include "platform/pf_text.h"

namespace {

TEST(pf_text, case_folding_samples)
{
    struct {
        char32_t in, out;
    } cases[] = {
        {U'A', U'a'},  {U'z', U'z'},      {U'\u00C4', U'\u00E4'}, {U'\u00DF', U'\u00DF'},
        {U'\u1E9E', U'\u00DF'},           {U'\u03A3', U'\u03C3'}, {U'\u03C2', U'\u03C3'},
        {U'\u0130', U'\u0130'},           {U'\u212A', U'k'},       {U'\u0100', U'\u0101'},
        {U'\u0101', U'\u0101'},           {U'\U00010400', U'\U00010428'},  // Deseret
        {U'\u0410', U'\u0430'},           {U'1', U'1'},            {U'\uFFFD', U'\uFFFD'},
    };
    for (auto& c : cases) EXPECT_EQ(pf_fold_case(c.in), c.out) << std::hex << static_cast<unsigned>(c.in);
}

TEST(pf_text, utf8_round_trip_of_every_plane)
{
    std::wstring all;
    for (char32_t c = 1; c <= 0x10FFFF; c += 97)
        if (c < 0xD800 || c > 0xDFFF) all.push_back(static_cast<wchar_t>(c));
    EXPECT_EQ(pf_utf8_to_wide(pf_wide_to_utf8(all)), all);
}

TEST(pf_text, compare_folded_orders_by_folded_code_points)
{
    EXPECT_EQ(pf_compare_folded(L"ABC", L"abc"), 0);
    EXPECT_LT(pf_compare_folded(L"ab", L"ABC"), 0);
    EXPECT_GT(pf_compare_folded(L"b", L"A"), 0);
    // The UTF-8 form agrees, invalid bytes counting as U+FFFD.
    EXPECT_EQ(pf_compare_folded_utf8("\xC3\x84rger", "\xC3\xA4RGER"), 0);
    EXPECT_EQ(pf_compare_folded_utf8("a\xFF", "A\xFE"), 0);
    EXPECT_LT(pf_compare_folded_utf8("ab", "ABC"), 0);
    EXPECT_GT(pf_compare_folded_utf8("abc", "AB"), 0);
}

}  // namespace

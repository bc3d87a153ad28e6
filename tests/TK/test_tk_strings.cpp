// The text toolkit: trimming and splitting, replacing, lower-casing,
// case-insensitive comparison, conversions (in the C locale) and formatting.
#include <gtest/gtest.h>

#include <clocale>
#include <ostream>

#include "TK/tk_exception.h"
#include "TK/tk_format.h"
#include "TK/tk_strings.h"

namespace {

// --- trimming ---

struct trim_case {
    const char* text;
    const char* rtrimmed;
    const char* trimmed;
};
std::ostream& operator<<(std::ostream& os, const trim_case& c) { return os << '"' << c.text << '"'; }

class trimming : public ::testing::TestWithParam<trim_case> {};

TEST_P(trimming, narrow_and_wide_agree)
{
    const trim_case& c = GetParam();
    EXPECT_EQ(tk_rtrim(std::string_view(c.text)), c.rtrimmed);
    EXPECT_EQ(tk_trim(std::string_view(c.text)), c.trimmed);
    std::wstring wide = tk_utf8_to_unicode(c.text);
    EXPECT_EQ(tk_trim(std::wstring_view(wide)), tk_utf8_to_unicode(c.trimmed));
    tk_wstring in_place(wide);
    EXPECT_EQ(in_place.trim(), tk_utf8_to_unicode(c.trimmed));
}

INSTANTIATE_TEST_SUITE_P(
    tk_strings, trimming,
    ::testing::Values(trim_case{"", "", ""},                              // empty stays empty
                      trim_case{"   ", "", ""},                           // all blanks
                      trim_case{"  a b  ", "  a b", "a b"},               // inner blank kept
                      trim_case{"\tx\t", "\tx\t", "\tx\t"},               // tabs are no blanks
                      trim_case{" line\r\n ", " line\r\n", "line\r\n"},   // nor are line ends
                      trim_case{"x", "x", "x"}, trim_case{" \xC3\xA9 ", " \xC3\xA9", "\xC3\xA9"}));

// --- splitting ---

struct split_case {
    std::string text;
    char separator;
    std::vector<std::string> items;
};
std::ostream& operator<<(std::ostream& os, const split_case& c) { return os << '"' << c.text << '"'; }

class splitting : public ::testing::TestWithParam<split_case> {};

TEST_P(splitting, narrow_and_wide_agree)
{
    const split_case& c = GetParam();
    EXPECT_EQ(tk_split(std::string_view(c.text), c.separator), c.items);
    std::vector<std::wstring> wide_items;
    tk_wstring wide(tk_utf8_to_unicode(c.text.substr(0, c.text.find('\0'))));
    EXPECT_TRUE(wide.split(static_cast<wchar_t>(c.separator), wide_items));
    ASSERT_EQ(wide_items.size(), c.items.size());
    for (std::size_t i = 0; i < c.items.size(); ++i) EXPECT_EQ(wide_items[i], tk_utf8_to_unicode(c.items[i]));
}

INSTANTIATE_TEST_SUITE_P(tk_strings, splitting,
                         ::testing::Values(split_case{"", ',', {}},                      // no items
                                           split_case{"a", ',', {"a"}},                  // no separator
                                           split_case{",", ',', {"", ""}},               // only a separator
                                           split_case{"a,b,", ',', {"a", "b", ""}},      // trailing empty item
                                           split_case{"a,,b", ',', {"a", "", "b"}},      // empty inner item
                                           split_case{",a", ',', {"", "a"}},
                                           split_case{std::string("a;b\0;c", 6), ';', {"a", "b"}},  // ends at NUL
                                           split_case{"x y", ' ', {"x", "y"}}));

// --- replacing and lower-casing ---

TEST(tk_strings_test, replace_all_goes_on_after_each_replacement)
{
    struct {
        std::string text, search, replacement, result;
    } cases[] = {
        {"it's", "'", "''", "it''s"},         // quote doubled once
        {"'a'b'", "'", "''", "''a''b''"},
        {"aab", "ab", "b", "ab"},             // search resumes after the inserted text
        {"abc", "abcd", "x", "abc"},          // search longer than text
        {"abc", "", "x", "abc"},              // empty search changes nothing
        {"xxx", "x", "xx", "xxxxxx"},
    };
    for (auto& c : cases) {
        tk_string text(c.text);
        EXPECT_EQ(text.replace_all(c.search, c.replacement), c.result) << c.text;
        EXPECT_EQ(text, c.result);
        tk_wstring wide(tk_utf8_to_unicode(c.text));
        EXPECT_EQ(wide.replace_all(tk_utf8_to_unicode(c.search), tk_utf8_to_unicode(c.replacement)),
                  tk_utf8_to_unicode(c.result));
    }
}

TEST(tk_strings_test, to_lower_changes_only_a_to_z)
{
    tk_wstring wide(L"ÀBÇ Straße ÉZ [@]");
    EXPECT_EQ(wide.to_lower(), L"ÀbÇ straße Éz [@]");
    EXPECT_EQ(wide, L"ÀbÇ straße Éz [@]");
    tk_string narrow("\xC3\x80" "ABC\xC3\x89");
    EXPECT_EQ(narrow.to_lower(), "\xC3\x80" "abc\xC3\x89");
    std::wstring caller(L"AB\0CD", 5);
    EXPECT_EQ(tk_wstring::to_lower(caller), L"ab");  // a NUL ends the text
}

// --- case-insensitive comparison ---

TEST(tk_strings_test, compare_no_case_folds_whole_texts)
{
    struct {
        const wchar_t* a;
        const wchar_t* b;
        bool equal;
    } cases[] = {
        {L"Customers", L"CUSTOMERS", true},
        {L"Ärger", L"äRGER", true},
        {L"ΣΑΣ", L"σας", true},           // final sigma folds like sigma
        {L"ẞ", L"ß", true},               // capital sharp s folds to ß
        {L"Straße", L"STRASSE", false},   // simple folding: no expansion
        {L"Kelvin\u212A", L"kelvink", true},
        {L"abc", L"abcd", false},          // whole texts: a prefix is not equal
        {L"", L"", true},
        {L"i", L"I", true},
        {L"\u0130", L"i", false},          // dotted capital I has no simple fold
    };
    for (auto& c : cases) {
        EXPECT_EQ(tk_equal_no_case(std::wstring_view(c.a), std::wstring_view(c.b)), c.equal)
            << tk_unicode_to_utf8(c.a) << " / " << tk_unicode_to_utf8(c.b);
        EXPECT_EQ(tk_string::compare_no_case(tk_unicode_to_utf8(c.a), tk_unicode_to_utf8(c.b)), c.equal);
    }
    EXPECT_LT(tk_compare_no_case(std::wstring_view(L"apple"), std::wstring_view(L"BANANA")), 0);
    EXPECT_GT(tk_compare_no_case(std::wstring_view(L"abcd"), std::wstring_view(L"ABC")), 0);
}

TEST(tk_strings_test, starts_and_ends_with)
{
    tk_wstring text(L"Tabelle_Größe");
    EXPECT_TRUE(text.starts_with(L"TABELLE", false));
    EXPECT_FALSE(text.starts_with(L"TABELLE", true));
    EXPECT_TRUE(text.starts_with(L"Tabelle", true));
    EXPECT_FALSE(text.ends_with(L"GRÖSSE", false));  // no expansion of ß
    EXPECT_TRUE(text.ends_with(L"GRÖßE", false));
    EXPECT_TRUE(text.ends_with(L"", true));
    EXPECT_TRUE(text.starts_with(L"", false));
    EXPECT_FALSE(text.ends_with(L"xTabelle_Größe", false));  // longer than the text
    EXPECT_TRUE(tk_wstring::ends_with(L"name.SQL", L".sql", false));
}

// --- conversions ---

TEST(tk_strings_test, conversions_of_non_ascii_text_work_in_the_c_locale)
{
    std::setlocale(LC_ALL, "C");
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80 \xE2\x82\xAC";
    const std::wstring wide = L"Grüße 東京 😀 €";
    EXPECT_EQ(tk_utf8_to_unicode(utf8), wide);
    EXPECT_EQ(tk_ansi_to_unicode(utf8), wide);
    EXPECT_EQ(tk_unicode_to_utf8(wide), utf8);
    EXPECT_EQ(tk_unicode_to_ansi(wide, -1), utf8);

    // Texts needing more than two bytes per character fit: room follows the
    // real encoding.
    std::wstring cjk(5000, L'漢');
    EXPECT_EQ(tk_unicode_to_utf8(cjk).size(), 15000u);
    std::string out;
    EXPECT_TRUE(tk_unicode_to_ansi2(L"😀😀", out));
    EXPECT_EQ(out, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80");
    std::wstring back;
    EXPECT_TRUE(tk_ansi_to_unicode2(out.c_str(), back));
    EXPECT_EQ(back, L"😀😀");
    EXPECT_FALSE(tk_ansi_to_unicode2(nullptr, back));
    EXPECT_EQ(back, L"😀😀");  // untouched
}

TEST(tk_strings_test, invalid_utf8_becomes_replacement_characters)
{
    struct {
        std::string input;
        std::wstring output;
    } cases[] = {
        {"a\xFF" "b", L"a\uFFFDb"},                    // a byte that starts nothing
        {"\xC3", L"\uFFFD"},                          // cut short at the end
        {"\xC3(", L"\uFFFD("},                        // cut short by a plain byte
        {"\xC0\xAF", L"\uFFFD"},                      // overlong form
        {"\xED\xA0\x80", L"\uFFFD"},                  // encoded surrogate
        {"\xF4\x90\x80\x80", L"\uFFFD"},              // above U+10FFFF
        {"ok\xE2\x82\xAC", L"ok€"},
    };
    for (auto& c : cases) EXPECT_EQ(tk_utf8_to_unicode(c.input), c.output) << c.input;
    // An invalid code point in wide text becomes U+FFFD on the way out.
    std::wstring bad;
    bad.push_back(static_cast<wchar_t>(0xD800));
    EXPECT_EQ(tk_unicode_to_utf8(bad), "\xEF\xBF\xBD");
}

TEST(tk_strings_test, conversion_results_end_at_the_first_nul)
{
    EXPECT_EQ(tk_utf8_to_unicode(std::string("ab\0cd", 5)), L"ab");
    EXPECT_EQ(tk_unicode_to_utf8(std::wstring(L"ab\0cd", 5)), "ab");
}

TEST(tk_strings_test, bool_conversions_into_caller_buffers)
{
    std::string result = "old";
    EXPECT_FALSE(tk_unicode_to_ansi3(L"", result));
    EXPECT_EQ(result, "");
    EXPECT_TRUE(tk_unicode_to_ansi3(L"é", result));
    EXPECT_EQ(result, "\xC3\xA9");

    // The caller's buffer is never overrun: a text that does not fit fails.
    char buffer[8] = {};
    EXPECT_TRUE(tk_unicode_to_ansi1(L"東京", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "\xE6\x9D\xB1\xE4\xBA\xAC");
    char small[6] = {};
    EXPECT_FALSE(tk_unicode_to_ansi1(L"東京", small, sizeof small));
    EXPECT_FALSE(tk_unicode_to_ansi1(nullptr, buffer, sizeof buffer));
}

TEST(tk_strings_test, bin_to_hex)
{
    const unsigned char bytes[] = {0x0A, 0xFF, 0x00, 0x7B};
    char narrow[9];
    tk_bin_to_hex(2, bytes, narrow);
    EXPECT_STREQ(narrow, "0AFF");
    wchar_t wide[9];
    tk_bin_to_hex(4, bytes, wide);
    EXPECT_STREQ(wide, L"0AFF007B");
    tk_bin_to_hex(0, bytes, narrow);
    EXPECT_STREQ(narrow, "");
    EXPECT_EQ(tk_bin_to_hex(bytes, 4), "0AFF007B");
    try {
        tk_bin_to_hex(2, bytes, static_cast<char*>(nullptr));
        FAIL();
    } catch (const tk_mail_assertion& e) {
        EXPECT_STREQ(e.what(), "Internal error: \ncode=746b5f7574696c735c393033");  // tk_utils\903
    }
}

// --- formatting ---

TEST(tk_format_test, conventions_of_narrow_and_wide_formats)
{
    EXPECT_EQ(tk_format("%s=%S", "a", L"ü"), "a=\xC3\xBC");
    EXPECT_EQ(tk_wformat(L"%s=%S", L"ü", "\xC3\xBC"), L"ü=ü");
    EXPECT_EQ(tk_wformat(L"%hs|%ls|%ws", "n", L"w", L"x"), L"n|w|x");
    EXPECT_EQ(tk_format("%I64d %I64u %lld", -9000000000LL, 18000000000ULL, 5LL), "-9000000000 18000000000 5");
    EXPECT_EQ(tk_format("%08X|%-4d|%+d|%5.2s|%%", 0xBEEFu, 7, 3, "abc"), "0000BEEF|7   |+3|   ab|%");
    EXPECT_EQ(tk_format("%02d/%02d/%04d", 3, 7, 2024), "03/07/2024");
    EXPECT_EQ(tk_format("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(tk_wformat(L"'%c'", L'东'), L"'东'");
}

TEST(tk_format_test, floating_point_uses_a_dot_whatever_the_locale)
{
    // With a locale whose decimal point is a comma, if the machine has one.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    bool comma_locale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(tk_format("%.16e", 0.1), "1.0000000000000001e-01");
    EXPECT_EQ(tk_format("%.3f|%g|%8.2f|%-8.1f|%08.2f", 2.5, 0.0001, -3.14159, 1.25, -1.5),
              "2.500|0.0001|   -3.14|1.2     |-0001.50");
    EXPECT_EQ(tk_wformat(L"%.2f", 1234.5), L"1234.50");
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (!comma_locale) GTEST_LOG_(INFO) << "no comma locale here: checked in the C locale only";
}

}  // namespace

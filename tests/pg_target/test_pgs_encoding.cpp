// Client encodings: the server's names, the statement that sets one, and
// UTF-8 texts converted into them or refused naming the character.
#include <gtest/gtest.h>

#include <string>

#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"

TEST(pgs_encoding, every_offered_encoding_has_a_converter_on_this_system)
{
    for (const std::wstring& name : pgs_engine::get_encodings()) {
        ASSERT_NE(pgs_iconv_name(name), nullptr) << std::string(name.begin(), name.end());
        EXPECT_NO_THROW(pgs_encoder e(name)) << std::string(name.begin(), name.end());
    }
    EXPECT_EQ(pgs_iconv_name(L"klingon"), nullptr);
    EXPECT_THROW(pgs_encoder e(L"klingon"), tk_exception);
    // The server's own spellings of the same encodings.
    EXPECT_STREQ(pgs_iconv_name(L"LATIN1"), "ISO-8859-1");
    EXPECT_STREQ(pgs_iconv_name(L"iso_8859_1"), "ISO-8859-1");
    EXPECT_TRUE(pgs_is_utf8_encoding(L"utf-8"));
    EXPECT_TRUE(pgs_is_utf8_encoding(L"UNICODE"));
    EXPECT_FALSE(pgs_is_utf8_encoding(L"WIN1252"));
}

struct conversion_case {
    const char* name;
    const wchar_t* encoding;
    std::string utf8;
    std::string expected;  // the converted bytes, or the message when refused
    bool refused;
};
std::ostream& operator<<(std::ostream& os, const conversion_case& c) { return os << c.name; }

class pgs_encoding_conversion : public ::testing::TestWithParam<conversion_case> {};

TEST_P(pgs_encoding_conversion, converts_or_names_the_first_character_that_does_not_fit)
{
    const conversion_case& c = GetParam();
    pgs_encoder encoder(c.encoding);
    std::string out = "kept|";
    if (!c.refused) {
        encoder.append(out, c.utf8);
        EXPECT_EQ(out, "kept|" + c.expected);
        EXPECT_NO_THROW(encoder.check(c.utf8));
        return;
    }
    try {
        encoder.append(out, c.utf8, "Column \"name\"");
        ADD_FAILURE() << "accepted";
    } catch (const pgs_exception& e) {
        EXPECT_EQ(std::string(e.what()), c.expected);
        EXPECT_EQ(e.get_level(), 0);
    }
    EXPECT_EQ(out, "kept|");  // nothing of a refused text
    EXPECT_THROW(encoder.check(c.utf8), pgs_exception);
    // The converter is usable again after a refusal.
    out.clear();
    encoder.append(out, "ok");
    EXPECT_EQ(out, "ok");
}

INSTANTIATE_TEST_SUITE_P(
    cases, pgs_encoding_conversion,
    ::testing::Values(
        conversion_case{"utf8_unchanged", L"UTF8", "Zo\xc3\xab \xf0\x9f\x98\x80", "Zo\xc3\xab \xf0\x9f\x98\x80", false},
        conversion_case{"ascii_with_escapes", L"SJIS", "a\\tb\\\\N'", "a\\tb\\\\N'", false},
        conversion_case{"latin1", L"ISO8859-1", "Zo\xc3\xab \xc3\x85", "Zo\xeb \xc5", false},
        conversion_case{"win1252_euro", L"WIN1252", "\xe2\x82\xac", "\x80", false},
        conversion_case{"gb18030_emoji", L"GB18030", "\xf0\x9f\x98\x80", "\x94" "9" "\xfc" "6", false},
        conversion_case{"koi8r", L"KOI8R", "\xd0\x96", "\xf6", false},
        conversion_case{"euro_not_in_latin1", L"ISO8859-1", "price \xe2\x82\xac" "5",
                        "Column \"name\": character '\xe2\x82\xac' (U+20AC) cannot be represented in encoding ISO8859-1",
                        true},
        conversion_case{"emoji_not_in_win1251", L"WIN1251", "ok \xf0\x9f\x98\x80",
                        "Column \"name\": character '\xf0\x9f\x98\x80' (U+1F600) cannot be represented in encoding "
                        "WIN1251",
                        true},
        conversion_case{"first_of_several", L"ISO8859-1", "\xc3\xab\xe6\x97\xa5\xe2\x82\xac",
                        "Column \"name\": character '\xe6\x97\xa5' (U+65E5) cannot be represented in encoding "
                        "ISO8859-1",
                        true},
        conversion_case{"not_utf8_input", L"ISO8859-1", "a\xff",
                        "Column \"name\": byte 0xFF (not UTF-8) cannot be represented in encoding ISO8859-1", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pgs_encoding, a_long_text_grows_the_output_as_needed)
{
    // Two-byte UTF-8 characters that become four bytes each.
    std::string in;
    for (int i = 0; i < 5000; ++i) in += "\xc2\x80";
    pgs_encoder encoder(L"GB18030");
    std::string out;
    encoder.append(out, in);
    EXPECT_EQ(out.size(), 20000u);
}

struct statement_case {
    const wchar_t* statement;
    const wchar_t* encoding;  // nullptr: not a client-encoding statement
};

TEST(pgs_encoding, the_client_encoding_statement_is_recognised)
{
    const statement_case cases[] = {
        {L"set client_encoding to 'LATIN1'", L"LATIN1"},
        {L"  SET Client_Encoding TO 'ISO8859-1' ; ", L"ISO8859-1"},
        {L"set client_encoding = WIN1252", L"WIN1252"},
        {L"set client_encoding to 'UTF8'", L"UTF8"},
        {L"set client_min_messages to 'warning'", nullptr},
        {L"set client_encoding to 'LATIN1' ; select 1", nullptr},
        {L"set client_encoding to 'LATIN1", nullptr},
        {L"select 'set client_encoding to x'", nullptr},
    };
    for (const statement_case& c : cases) {
        const auto found = pgs_client_encoding_of(c.statement);
        if (!c.encoding) {
            EXPECT_FALSE(found.has_value()) << std::wstring(c.statement).size();
        } else {
            ASSERT_TRUE(found.has_value()) << std::wstring(c.statement).size();
            EXPECT_EQ(*found, c.encoding);
        }
    }
}

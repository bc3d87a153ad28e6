// The record-key text: its elements, the entities of values decoded once, and every kind of
// malformed text refused with the place of the fault. The conditions built from it are tested
// with each side (the base recordset here, MySQL and PostgreSQL with their servers).
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "UDB/udb_record_key.h"

namespace {

struct key_case {
    const char* label;
    const wchar_t* key;
    std::vector<udb_key_element> elements;  // when fault_at is empty
    std::optional<std::size_t> fault_at;    // offset of a malformed text's fault
};

std::ostream& operator<<(std::ostream& os, const key_case& c)
{
    return os << c.label;
}

class record_key : public ::testing::TestWithParam<key_case> {};

TEST_P(record_key, parses_or_names_the_fault)
{
    const key_case& c = GetParam();
    if (!c.fault_at) {
        EXPECT_EQ(udb_parse_record_key(c.key), c.elements);
        return;
    }
    try {
        udb_parse_record_key(c.key);
        FAIL() << "no exception";
    } catch (const udb_key_text_exception& e) {
        EXPECT_EQ(e.offset(), *c.fault_at);
        EXPECT_EQ(e.get_level(), 1);
        // The message counts characters from 1, for the user.
        EXPECT_NE(std::string(e.what()).find("at character " + std::to_string(*c.fault_at + 1) + ":"),
                  std::string::npos)
            << e.what();
    }
}

constexpr std::nullopt_t ok = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    keys, record_key,
    ::testing::ValuesIn(std::vector<key_case>{
        {"empty", L"", {}, ok},
        {"white_space_only", L" \r\n\t", {}, ok},
        {"one_element", L"<id>5</id>", {{L"id", L"5"}}, ok},
        {"several_elements_in_order", L"<b>2</b><a>1</a><c>3</c>", {{L"b", L"2"}, {L"a", L"1"}, {L"c", L"3"}}, ok},
        {"white_space_between_elements", L"\n<a>1</a>  <b> x </b>\r\n", {{L"a", L"1"}, {L"b", L" x "}}, ok},
        {"empty_value", L"<name></name><id>1</id>", {{L"name", L""}, {L"id", L"1"}}, ok},
        {"entities_decoded", L"<n>a&lt;b&gt;c&amp;d</n>", {{L"n", L"a<b>c&d"}}, ok},
        {"entities_decoded_once", L"<n>&amp;lt;&amp;amp;</n>", {{L"n", L"&lt;&amp;"}}, ok},
        {"raw_gt_in_value", L"<n>a>b</n>", {{L"n", L"a>b"}}, ok},
        {"quotes_and_backslash_kept", L"<n>O'Brien \"x\" \\</n>", {{L"n", L"O'Brien \"x\" \\"}}, ok},
        {"name_taken_as_written", L"<My Col&1>v</My Col&1>", {{L"My Col&1", L"v"}}, ok},
        {"wide_characters", L"<\u540d>\u00e9\u20ac\U0001F600</\u540d>", {{L"\u540d", L"\u00e9\u20ac\U0001F600"}}, ok},
        {"same_name_twice", L"<a>1</a><a>2</a>", {{L"a", L"1"}, {L"a", L"2"}}, ok},

        {"bare_text", L"id=5", {}, 0},
        {"text_after_an_element", L"<a>1</a>x", {}, 8},
        {"text_before_an_element", L"x<a>1</a>", {}, 0},
        {"opening_tag_not_closed", L"<a", {}, 0},
        {"lt_inside_a_tag", L"<a<b>1</a>", {}, 2},
        {"empty_name", L"<>1</>", {}, 0},
        {"closing_tag_first", L"</a>", {}, 0},
        {"value_not_closed", L"<a>123", {}, 6},
        {"closing_tag_of_another_element", L"<a>1</b>", {}, 4},
        {"closing_tag_differs_in_case", L"<a>1</A>", {}, 4},
        {"closing_tag_without_gt", L"<a>1</a", {}, 4},
        {"closing_tag_without_slash", L"<a>1<a>", {}, 4},
        {"lt_in_value", L"<a>x<y</a>", {}, 4},
        {"unknown_entity", L"<a>&quot;</a>", {}, 3},
        {"bare_ampersand", L"<a>a&b</a>", {}, 4},
        {"entity_without_semicolon", L"<a>&lt</a>", {}, 3},
        {"second_element_broken", L"<a>1</a><b>2", {}, 12},
    }),
    [](const ::testing::TestParamInfo<key_case>& info) { return std::string(info.param.label); });

}  // namespace

// The list-file reader: keys, items, blanks, byte-order mark, CR LF, a last
// line without line end and the exclusion set.
#include <gtest/gtest.h>

#include "TK/tk_list_file.h"
#include "test_tk_support.h"

namespace {

class list_file : public ::testing::Test {
protected:
    tk_test::scratch_dir dir;
    tk_list_map load(const std::string& content, const std::set<std::wstring>& exclusions = {})
    {
        std::string path = dir.file("pgs.map");
        tk_test::write_file(path, content);
        tk_list_map map;
        EXPECT_TRUE(tk_yaml_config::load(map, path, exclusions));
        return map;
    }
};

TEST_F(list_file, keys_items_and_blanks)
{
    tk_list_map map = load("int:\n"
                           "-integer\n"
                           "-   bigint   \n"
                           "  - smallint\n"
                           "\n"
                           "   \n"
                           "varchar  :\n"
                           "- t\xC3\xA9xt\n"
                           "# a comment is no comment: ignored only because it is no item\n"
                           "\t- a tab before the dash: ignored\n"
                           "plain line ignored\n"
                           "- text\n");
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[L"int"], (std::vector<std::wstring>{L"integer", L"bigint", L"smallint"}));
    // Blanks before the colon belong to the key.
    EXPECT_EQ(map[L"varchar  "], (std::vector<std::wstring>{L"t\u00e9xt", L"text"}));
}

TEST_F(list_file, empty_key_same_key_twice_and_dash_colon_lines)
{
    tk_list_map map = load("- before any key\n"
                           "a:\n"
                           "- 1\n"
                           "b:\n"
                           "- 2\n"
                           "a:\n"
                           "- 3\n"
                           "- 3\n"
                           "- dash and colon:\n"
                           "- under the new key\n");
    EXPECT_EQ(map[L""], (std::vector<std::wstring>{L"before any key"}));
    EXPECT_EQ(map[L"a"], (std::vector<std::wstring>{L"1", L"3", L"3"}));  // one list, file order, duplicates kept
    EXPECT_EQ(map[L"b"], (std::vector<std::wstring>{L"2"}));
    EXPECT_EQ(map[L"- dash and colon"], (std::vector<std::wstring>{L"under the new key"}));
}

TEST_F(list_file, byte_order_mark_crlf_and_last_line_without_end)
{
    tk_list_map map = load("\xEF\xBB\xBFkey:\r\n- one\r\n-two \r\n- last");
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[L"key"], (std::vector<std::wstring>{L"one", L"two", L"last"}));
}

TEST_F(list_file, excluded_items_are_left_out_under_every_key)
{
    tk_list_map map = load("a:\n- keep\n- drop\nb:\n- drop\n- Drop\n", {L"drop"});
    EXPECT_EQ(map[L"a"], (std::vector<std::wstring>{L"keep"}));
    EXPECT_EQ(map[L"b"], (std::vector<std::wstring>{L"Drop"}));  // compared exactly
}

TEST_F(list_file, later_file_continues_the_callers_map)
{
    tk_list_map map;
    map[L"a"] = {L"existing"};
    tk_test::write_file(dir.file("x"), "a:\n- added\n");
    ASSERT_TRUE(tk_yaml_config::load(map, dir.file("x")));
    EXPECT_EQ(map[L"a"], (std::vector<std::wstring>{L"existing", L"added"}));
}

TEST_F(list_file, missing_file_answers_false_and_keeps_the_map)
{
    tk_list_map map;
    map[L"a"] = {L"x"};
    EXPECT_FALSE(tk_yaml_config::load(map, dir.file("missing.typ")));
    EXPECT_EQ(map.size(), 1u);
    EXPECT_TRUE(load("").empty());
}

}  // namespace

namespace {

// A small file is read whole only when it is a regular file within the bound; a device is
// never read (it could stream without end).
TEST(small_file, is_read_whole_only_when_it_is_a_regular_file_within_the_bound)
{
    tk_test::scratch_dir dir;
    const std::string path = dir.file("list.txt");
    tk_test::write_file(path, "orders\nitems\n");

    tk_small_file f = tk_read_small_file(path, 13);
    EXPECT_EQ(f.status, tk_small_file_status::ok);
    EXPECT_EQ(f.bytes, "orders\nitems\n");
    EXPECT_EQ(f.reason(), "");

    f = tk_read_small_file(path, 12);
    EXPECT_EQ(f.status, tk_small_file_status::too_large);
    EXPECT_EQ(f.bytes, "");

    EXPECT_EQ(tk_read_small_file(dir.file("none.txt"), 100).status, tk_small_file_status::missing);
    for (const std::string device : {std::string("/dev/zero"), std::string("/dev/null"), dir.path()}) {
        f = tk_read_small_file(device, 100);
        EXPECT_EQ(f.status, tk_small_file_status::not_a_file) << device;
        EXPECT_EQ(f.reason(), "it is not a regular file (a folder, device, pipe or socket)");
    }
}

struct text_line_case {
    const char* name;
    std::string bytes;
    bool text;
};
std::ostream& operator<<(std::ostream& os, const text_line_case& c) { return os << c.name; }

class text_line : public ::testing::TestWithParam<text_line_case> {};

TEST_P(text_line, is_utf8_without_control_characters)
{
    EXPECT_EQ(tk_is_text_line(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    cases, text_line,
    ::testing::Values(text_line_case{"ascii_and_tab", "a\tb c", true},
                      text_line_case{"two_three_four_bytes", "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80", true},
                      text_line_case{"zero_byte", std::string("a\0b", 3), false},
                      text_line_case{"escape", "a\x1B[31m", false},
                      text_line_case{"delete", "a\x7F", false},
                      text_line_case{"latin1", "caf\xE9", false},
                      text_line_case{"cut_at_the_end", "\xE6\x97", false},
                      text_line_case{"overlong", "\xC0\xAF", false},
                      text_line_case{"surrogate", "\xED\xA0\x80", false},
                      text_line_case{"past_u10ffff", "\xF4\x90\x80\x80", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

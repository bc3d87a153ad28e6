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

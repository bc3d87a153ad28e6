// The command-line cursor: prefix matching, values, unrecognised arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TK/tk_cmdli.h"
#include "TK/tk_exception.h"

namespace {

const cmd_line_option table[] = {
    {0, "--dump"}, {1, "--dest="}, {2, "--d"}, {3, "--mode="}, {0, ""},
};

// Owns the argument texts the cursor points into.
struct args {
    explicit args(std::vector<std::string> list) : texts(std::move(list))
    {
        texts.insert(texts.begin(), "prog");
        for (auto& t : texts)
            ptrs.push_back(t.data());
        ptrs.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(texts.size()); }
    char** argv() { return ptrs.data(); }
    std::vector<std::string> texts;
    std::vector<char*> ptrs;
};

struct match_case {
    const char* argument;
    int id;
    const char* value;
};

std::ostream& operator<<(std::ostream& os, const match_case& c) { return os << c.argument; }

class cmdli_match : public ::testing::TestWithParam<match_case> {};

TEST_P(cmdli_match, first_entry_whose_prefix_begins_the_argument_wins)
{
    const match_case& c = GetParam();
    args a({c.argument});
    ansi_cmd_line cursor(a.argc(), a.argv(), table);
    ASSERT_TRUE(cursor.has_more());
    EXPECT_EQ(cursor.get_current_id(), c.id);
    EXPECT_STREQ(cursor.get_current_value(), c.value);
    EXPECT_EQ(cursor.get_unrecognised_count(), c.id == -1 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(cases, cmdli_match,
                         ::testing::Values(match_case{"--dump", 0, ""},
                                           match_case{"--dumpfile", 0, "file"},   // text after a switch is left over
                                           match_case{"--dest=db x", 1, "db x"},
                                           match_case{"--dest=", 1, ""},
                                           match_case{"--dx", 2, "x"},            // shorter entry after longer ones
                                           match_case{"--mode=3", 3, "3"},
                                           match_case{"--MODE=3", -1, "--MODE=3"},  // case-sensitive
                                           match_case{"-mode=3", -1, "-mode=3"},
                                           match_case{"", -1, ""}));

TEST(cmdli, walks_every_argument_then_stepping_past_the_end_is_an_internal_error)
{
    args a({"--dump", "--mode=1", "--dest=x"});
    ansi_cmd_line cursor(a.argc(), a.argv(), table);
    std::vector<int> ids;
    while (cursor.has_more()) {
        ids.push_back(cursor.get_current_id());
        cursor.next();
    }
    EXPECT_EQ(ids, (std::vector<int>{0, 3, 1}));
    try {
        cursor.next();
        FAIL() << "no internal error";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_level(), 2);
    }
}

TEST(cmdli, no_arguments_leaves_nothing_to_walk)
{
    args a({});
    ansi_cmd_line cursor(a.argc(), a.argv(), table);
    EXPECT_FALSE(cursor.has_more());
    EXPECT_EQ(cursor.get_unrecognised_count(), 0u);
}

TEST(cmdli, any_number_of_unrecognised_arguments_is_kept_in_order)
{
    std::vector<std::string> list;
    for (int i = 0; i < 45; ++i)
        list.push_back("junk" + std::to_string(i));
    list.push_back("--dump");
    args a(list);
    ansi_cmd_line cursor(a.argc(), a.argv(), table);
    while (cursor.has_more())
        cursor.next();
    ASSERT_EQ(cursor.get_unrecognised_count(), 45u);
    EXPECT_STREQ(cursor.get_unrecognised().front(), "junk0");
    EXPECT_STREQ(cursor.get_unrecognised().back(), "junk44");
}

}  // namespace

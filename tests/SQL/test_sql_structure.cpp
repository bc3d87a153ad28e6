// The row-size keeper of MySQL column lists and the field finder.
#include <gtest/gtest.h>

#include "SQL/sql_field_finder.h"
#include "SQL/sql_schema.h"
#include "sql_test_support.h"
#include "UDB/udb_record.h"

namespace {
std::shared_ptr<t_ftd> text_column(const wchar_t* name, std::uint32_t size)
{
    return std::make_shared<t_ftd>(size, name, VT_BSTR, false, false);
}
}  // namespace

TEST(sql_schema, longest_text_columns_become_unlimited_when_the_row_is_too_big)
{
    sql_schema s;
    s.push_back(text_column(L"a", 10000));
    s.push_back(std::make_shared<t_ftd>(4, L"n", VT_I4, false, false));
    EXPECT_EQ(s.get_total_size(), 40004u);
    s.push_back(text_column(L"b", 10000));
    // 80,004 bytes: the column added second sits first in the list and is converted.
    EXPECT_EQ(s[2].size, 0u);
    EXPECT_EQ(s[0].size, 10000u);
    EXPECT_EQ(s.get_total_size(), 40004u);
    EXPECT_EQ(s.get_lobs(), (std::vector<std::uint32_t>{0}));
}

TEST(sql_schema, long_text_counts_its_size_once_and_stays)
{
    sql_schema s;
    s.push_back(text_column(L"big", 21845));
    s.push_back(text_column(L"big2", 21845));
    s.push_back(text_column(L"big3", 21845));
    EXPECT_EQ(s.get_total_size(), 3u * 21845);
    EXPECT_EQ(s[0].size, 21845u);
    EXPECT_THROW(s.push_back(nullptr), tk_mail_assertion);
}

TEST(sql_field_finder, names_that_differ_only_in_case_get_their_own_name)
{
    test_engine();
    udb_record r;
    r.emplace_back(L"Id", 4u, ole_variant(1));
    r.emplace_back(L"ID", 4u, ole_variant(2));
    r.emplace_back(L"a;b", 4u, ole_variant(3));
    sql_field_finder finder(r);
    ASSERT_EQ(finder.get_names().size(), 3u);
    EXPECT_EQ(finder.get_names()[0], L"Id");
    EXPECT_NE(finder.get_names()[1], L"ID");
    EXPECT_EQ(finder.get_field_idx(L"id"), 0);
    EXPECT_EQ(finder.get_field_idx(L"nope"), -1);
    EXPECT_EQ(finder.get_field_idx(finder.get_names()[2]), 2);
}

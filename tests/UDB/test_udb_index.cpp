// Index lists that merge same-named indexes, and the names map with its
// renames inside SQL text.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "TK/tk_exception.h"
#include "UDB/udb_index.h"
#include "UDB/udb_names_map.h"

TEST(udb_indexes, same_named_indexes_merge_to_the_stronger_one)
{
    udb_indexes list;
    list.push_back(udb_index(L"k_email", true, false, {L"email"}));
    list.push_back(udb_index(L"K_EMAIL", true, true, {L"id"}));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].primary);
    EXPECT_EQ(list[0].fields, std::vector<std::wstring>{L"id"});

    udb_indexes pk_first;
    pk_first.push_back(udb_index(L"pk", true, true, {L"id"}));
    pk_first.push_back(udb_index(L"PK", true, false, {L"other"}));
    ASSERT_EQ(pk_first.size(), 1u);
    EXPECT_EQ(pk_first[0].name, L"pk");
    EXPECT_EQ(pk_first[0].fields, std::vector<std::wstring>{L"id"});

    udb_indexes plain;
    plain.push_back(udb_index(L"ix", false, false, {L"a"}));
    plain.push_back(udb_index(L"ix", false, false, {L"b"}));
    plain.push_back(udb_index(L"u", true, false, {L"c"}));
    plain.push_back(udb_index(L"U", false, false, {L"d"}));
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0].fields, std::vector<std::wstring>{L"a"});
    EXPECT_TRUE(plain.get_index(L"u").unique);
    EXPECT_EQ(plain.get_index(L"u").fields, std::vector<std::wstring>{L"c"});

    // A plain index is upgraded by a unique one of the same name.
    plain.push_back(udb_index(L"IX", true, false, {L"e"}));
    EXPECT_TRUE(plain.get_index(L"ix").unique);

    udb_index uc(L"uc", true, false, {L"x"});
    uc.unique_constraint = true;
    udb_indexes constraints;
    constraints.push_back(udb_index(L"uc", true, false, {L"y"}));
    constraints.push_back(uc);
    EXPECT_TRUE(constraints[0].unique_constraint);
    constraints.push_back(udb_index(L"uc", true, false, {L"z"}));
    EXPECT_EQ(constraints[0].fields, std::vector<std::wstring>{L"x"});
}

TEST(udb_indexes, lookups)
{
    udb_indexes list;
    list.push_back(udb_index(L"pk", true, true, {L"id"}));
    list.push_back(udb_index(L"ix_ab", false, false, {L"a", L"b", L"c"}));

    EXPECT_TRUE(list.find2(L"PK"));
    EXPECT_FALSE(list.is_acceptable_name(L"Ix_AB"));
    EXPECT_TRUE(list.is_acceptable_name(L"ix_new"));
    EXPECT_THROW(list.get_index(L"none"), tk_mail_assertion);

    // Field names of indexes are compared exactly.
    EXPECT_TRUE(list.is_idx_field(L"id", false));
    EXPECT_FALSE(list.is_idx_field(L"Id", false));
    EXPECT_TRUE(list.is_idx_field(L"b", false));
    EXPECT_FALSE(list.is_idx_field(L"b", true));

    const udb_index& ix = list[1];
    EXPECT_TRUE(ix.starts_with_fields({L"A"}));
    EXPECT_TRUE(ix.starts_with_fields({L"a", L"B"}));
    EXPECT_TRUE(ix.starts_with_fields({}));
    EXPECT_FALSE(ix.starts_with_fields({L"b"}));
    EXPECT_FALSE(ix.starts_with_fields({L"a", L"b", L"c", L"d"}));
    EXPECT_TRUE(list.has_index_on_fields({L"A", L"b"}));
    EXPECT_FALSE(list.has_index_on_fields({L"c"}));
}

TEST(udb_relationship, copies_keep_every_member)
{
    udb_relationship fk(L"fk1", L"extra", L"orders", L"customers", {L"cust_id"}, {L"id"}, L"ON DELETE CASCADE");
    udb_relationship copy(fk);
    EXPECT_EQ(copy.name, L"fk1");
    EXPECT_EQ(copy.second_name, L"extra");
    EXPECT_EQ(copy.table, L"orders");
    EXPECT_EQ(copy.ref_table, L"customers");
    EXPECT_EQ(copy.rule, L"ON DELETE CASCADE");
    EXPECT_EQ(copy.fk_flds, std::vector<std::wstring>{L"cust_id"});
    EXPECT_EQ(copy.pk_flds, std::vector<std::wstring>{L"id"});

    udb_sequence seq(L"s", 5, 2, 1, 1000, true);
    EXPECT_EQ(seq.start, 5);
    EXPECT_EQ(seq.increment, 2);
    EXPECT_EQ(seq.maximum, 1000);
}

TEST(udb_names_map, table_and_field_lookups)
{
    udb_names_map map;
    map.add_tn_mapping(L"Orders", L"orders_new");
    map.add_tn_mapping(L"Orders", L"ignored");  // the first rename stays
    EXPECT_EQ(map.get_tn_mapped_name(L"ORDERS", false), L"orders_new");
    EXPECT_EQ(map.get_tn_mapped_name(L"ORDERS", true), L"ORDERS");
    EXPECT_EQ(map.get_tn_mapped_name(L"Orders", true), L"orders_new");
    EXPECT_EQ(map.get_tn_mapped_name(L"other", false), L"other");

    map.add_fn_map(L"orders_new", {{L"Id", L"id"}});
    map.add_fn_map(L"orders_new", {{L"Id", L"ignored"}});
    EXPECT_EQ(map.get_fn_mapped_name(L"orders_new", L"Id"), L"id");
    EXPECT_EQ(map.get_fn_mapped_name(L"orders_new", L"ID"), L"ID");
    EXPECT_EQ(map.get_fn_mapped_name(L"Orders_new", L"Id"), L"Id");

    t_names_map plain;
    plain.add(L"Name", L"name1");
    plain.add(L"Name", L"name2");
    EXPECT_EQ(plain.get_mapped_name(L"NAME"), L"name1");
    EXPECT_EQ(plain.get_mapped_name(L"other"), L"other");
}

// Renames inside SQL text: (text, old, new) -> expected, with the backtick as
// prefix and suffix, the way view texts are rewritten.
struct replace_case {
    const char* label;
    const wchar_t* text;
    const wchar_t* old_name;
    const wchar_t* new_name;
    const wchar_t* expected;
};

std::ostream& operator<<(std::ostream& os, const replace_case& c)
{
    return os << c.label;
}

class names_map_replace : public ::testing::TestWithParam<replace_case> {};

TEST_P(names_map_replace, whole_names_only)
{
    const replace_case& c = GetParam();
    EXPECT_EQ(udb_names_map::do_global_replace2(c.text, {{c.old_name, c.new_name}}, L"`", L"`"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    cases, names_map_replace,
    ::testing::ValuesIn(std::vector<replace_case>{
        {"bare_names_get_quotes_longer_names_stay", L"select * from t1, t10 join x_t1", L"t1", L"new_t",
         L"select * from `new_t`, t10 join x_t1"},
        {"dollar_is_part_of_a_name", L"select a$t1, t1$ from t1", L"t1", L"n", L"select a$t1, t1$ from `n`"},
        {"case_of_ascii_letters_ignored", L"SELECT * FROM T1 WHERE T1.a = 1", L"t1", L"n",
         L"SELECT * FROM `n` WHERE `n`.a = 1"},
        {"quoted_name_is_not_quoted_again", L"select `t1`.`a` from `db`.`t1`", L"t1", L"new_t",
         L"select `new_t`.`a` from `db`.`new_t`"},
        {"new_name_with_quotes_gets_none_added", L"from t1 join `t1`", L"t1", L"`n`", L"from `n` join `n`"},
        {"other_quoted_names_untouched", L"select `my t1`, `t1x` from t1", L"t1", L"n",
         L"select `my t1`, `t1x` from `n`"},
        {"string_literals_untouched", L"select 't1', 'it''s t1', 'a\\'t1' from t1", L"t1", L"n",
         L"select 't1', 'it''s t1', 'a\\'t1' from `n`"},
        {"doubled_backtick_inside_quoted_name", L"select `a``t1` from t1", L"t1", L"n",
         L"select `a``t1` from `n`"},
        {"non_ascii_letters_are_name_characters", L"select \u00e9t1 from t1", L"t1", L"n",
         L"select \u00e9t1 from `n`"},
        {"empty_old_name_matches_nothing", L"select 1", L"", L"n", L"select 1"},
        // A backtick inside a new name is doubled, bare or already quoted in the text; an old
        // name with a backtick is found in its quoted (doubled) form.
        {"backtick_in_new_name_doubled", L"select `t1`.a from t1", L"t1", L"n`x",
         L"select `n``x`.a from `n``x`"},
        {"backtick_in_old_name_found_quoted", L"select `a``b`.c from `a``b`", L"a`b", L"n",
         L"select `n`.c from `n`"},
    }),
    [](const ::testing::TestParamInfo<replace_case>& info) { return std::string(info.param.label); });

TEST(udb_names_map, do_global_replace1_applies_tables_then_fields)
{
    udb_names_map map;
    map.add_tn_mapping(L"Orders", L"orders2");
    map.add_fn_map(L"orders2", {{L"Qty", L"quantity"}});
    EXPECT_EQ(map.do_global_replace1(L"select `Qty`, orders.qty from Orders", L"`", L"`"),
              L"select `quantity`, `orders2`.`quantity` from `orders2`");
    // Without quoting characters names are replaced bare.
    EXPECT_EQ(map.do_global_replace1(L"select qty from orders", L"", L""), L"select quantity from orders2");
}

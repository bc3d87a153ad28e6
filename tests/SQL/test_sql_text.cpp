// Text-level rules of the MySQL side that need no server: quoting, safe names, the
// foreign-key line grammar, view-text rewriting and the name validators.
#include <gtest/gtest.h>

#include "sql_test_support.h"

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "SQL/sql_fk_parser.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_validators.h"
#include "TK/tk_strings.h"
#include "UDB/udb_index.h"

namespace {

sql_engine& engine() { return test_engine(); }

}  // namespace

TEST(sql_quote, identifiers_double_inner_backticks)
{
    struct c { const char* in; const char* out; };
    for (auto t : {c{"orders", "`orders`"}, c{"a`b", "`a``b`"}, c{"`", "````"}, c{"", "``"},
                   c{"x`; DROP TABLE y; --", "`x``; DROP TABLE y; --`"}, c{"Größe", "`Größe`"}})
        EXPECT_EQ(sql_quote_name(t.in), t.out) << t.in;
    EXPECT_EQ(sql_quote_wname(L"a`b"), L"`a``b`");
}

TEST(sql_quote, quoted_name_test_is_exact)
{
    EXPECT_TRUE(sql_is_quoted_name(L"`a`"));
    EXPECT_TRUE(sql_is_quoted_name(L"`a``b`"));
    EXPECT_FALSE(sql_is_quoted_name(L"`a`b`"));  // an unpaired backtick inside
    EXPECT_FALSE(sql_is_quoted_name(L"`abc"));
    EXPECT_FALSE(sql_is_quoted_name(L"`"));
    EXPECT_FALSE(sql_is_quoted_name(L"abc"));
}

TEST(sql_engine_names, safe_name_quotes_cuts_and_keeps_quoted_names)
{
    sql_engine& e = engine();
    EXPECT_EQ(e.get_safe_name(L"orders"), L"`orders`");
    EXPECT_EQ(e.get_safe_name(L"`orders`"), L"`orders`");
    EXPECT_EQ(e.get_safe_name(L""), L"");
    EXPECT_EQ(e.get_safe_name(L"`a`; drop table t; --"), L"```a``; drop table t; --`");
    std::wstring n70(70, L'x');
    EXPECT_EQ(e.get_safe_name(n70), L"`" + std::wstring(63, L'x') + L"`");
    std::wstring n64(64, L'y');
    EXPECT_EQ(e.get_safe_name(n64), L"`" + n64 + L"`");
}

TEST(sql_engine_names, version_text)
{
    std::uint32_t v = 0;
    ASSERT_TRUE(sql_engine::parse_version("5.7.44-log", v));
    EXPECT_EQ(v, 5u * 65536 + 7 * 256 + 44);
    ASSERT_TRUE(sql_engine::parse_version("10.11.6-MariaDB-0+deb12u1", v));
    EXPECT_EQ(v, 10u * 65536 + 11 * 256 + 6);
    EXPECT_FALSE(sql_engine::parse_version("5.7", v));
    EXPECT_FALSE(sql_engine::parse_version(nullptr, v));
}

// --- foreign-key lines -------------------------------------------------------------------------

struct fk_case {
    const char* line;
    bool parsed;
    const wchar_t* name;
    const wchar_t* ref_table;
    std::vector<std::wstring> fk_cols;
    std::vector<std::wstring> pk_cols;
    const wchar_t* rule;
};

std::ostream& operator<<(std::ostream& os, const fk_case& c) { return os << c.line; }

class sql_fk_lines : public ::testing::TestWithParam<fk_case> {};

TEST_P(sql_fk_lines, parse)
{
    const fk_case& c = GetParam();
    std::vector<udb_relationship> list;
    sql_fk_parser(L"child", std::string("CREATE TABLE `child` (\n") + c.line + "\n) ENGINE=InnoDB").do_parse(list);
    if (!c.parsed) {
        EXPECT_TRUE(list.empty());
        return;
    }
    ASSERT_EQ(list.size(), 1u);
    const auto& r = list[0];
    EXPECT_EQ(r.name, c.name);
    EXPECT_EQ(r.table, L"child");
    EXPECT_EQ(r.ref_table, c.ref_table);
    EXPECT_EQ(r.fk_flds, c.fk_cols);
    EXPECT_EQ(r.pk_flds, c.pk_cols);
    EXPECT_EQ(r.rule, c.rule);
    EXPECT_TRUE(r.second_name.empty());
}

INSTANTIATE_TEST_SUITE_P(
    lines, sql_fk_lines,
    ::testing::Values(
        fk_case{"  CONSTRAINT `fk_1` FOREIGN KEY (`a`, `b`) REFERENCES `t2` (`x`, `y`) ON DELETE CASCADE,", true,
                L"fk_1", L"t2", {L"a", L"b"}, {L"x", L"y"}, L"ON DELETE CASCADE"},
        fk_case{"  CONSTRAINT `fk_2` FOREIGN KEY (`a`) REFERENCES `t2` (`x`)", true, L"fk_2", L"t2", {L"a"}, {L"x"},
                L""},
        fk_case{"  constraint `k` foreign key (`a`) references `p` (`id`) on update set null", true, L"k", L"p",
                {L"a"}, {L"id"}, L"on update set null"},
        // A reference into another database names that database first: the table is the last part.
        fk_case{"  CONSTRAINT `k` FOREIGN KEY (`a`) REFERENCES `other_db`.`p` (`id`)", true, L"k", L"p", {L"a"},
                {L"id"}, L""},
        // UTF-8 names and backticks inside names.
        fk_case{"  CONSTRAINT `fk_größe` FOREIGN KEY (`maß`) REFERENCES `tab``le` (`c``d`)", true, L"fk_größe",
                L"tab`le", {L"maß"}, {L"c`d"}, L""},
        fk_case{"  CONSTRAINT `chk` CHECK (`a` > 0)", false, nullptr, nullptr, {}, {}, nullptr},
        fk_case{"  `c` int COMMENT 'CONSTRAINT x FOREIGN KEY (`a`) REFERENCES `t` (`b`)',", false, nullptr, nullptr,
                {}, {}, nullptr},
        fk_case{"  CONSTRAINT `k` FOREIGN KEY (a) REFERENCES t (b)", true, L"k", L"t", {}, {}, L""}));

TEST(sql_fk_parser, every_constraint_line_is_one_record_and_repeats_are_kept)
{
    const std::string text =
        "CREATE TABLE `c` (\n  `id` int NOT NULL,\n"
        "  CONSTRAINT `a` FOREIGN KEY (`x`) REFERENCES `p` (`id`),\n"
        "  CONSTRAINT `b` FOREIGN KEY (`y`) REFERENCES `q` (`id`) ON DELETE CASCADE ON UPDATE CASCADE\n) ENGINE=InnoDB";
    std::vector<udb_relationship> list;
    sql_fk_parser p(L"c", text);
    p.do_parse(list);
    p.do_parse(list);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1].rule, L"ON DELETE CASCADE ON UPDATE CASCADE");
    EXPECT_EQ(list[3].name, L"b");
}

// --- view texts ---------------------------------------------------------------------------------

TEST(sql_view_text, white_space_outside_quotes_collapses)
{
    EXPECT_EQ(sql_view_converter::collapse_white_space(L"select  'a   b'\r\n\tfrom t"), L"select 'a   b' from t");
    EXPECT_EQ(sql_view_converter::collapse_white_space(L"  x  "), L" x ");
    EXPECT_EQ(sql_view_converter::collapse_white_space(L"\"a  'b\"  c"), L"\"a  'b\" c");
}

TEST(sql_view_text, two_argument_calls_only)
{
    EXPECT_TRUE(sql_view_converter::check_isnull_for_replace(L"isnull(a, b)", 0));
    EXPECT_FALSE(sql_view_converter::check_isnull_for_replace(L"isnull(a)", 0));
    EXPECT_FALSE(sql_view_converter::check_isnull_for_replace(L"isnull(f(a, b), c)", 0));
    EXPECT_FALSE(sql_view_converter::check_isnull_for_replace(L"isnull", -1));
}

// --- validators ---------------------------------------------------------------------------------

TEST(sql_validators, new_rules)
{
    sql_new_validator fields(false), tables(true);
    EXPECT_TRUE(fields.is_acceptable(std::wstring(64, L'a')));
    EXPECT_FALSE(fields.is_acceptable(std::wstring(65, L'a')));
    EXPECT_FALSE(fields.is_acceptable(L" a"));
    EXPECT_FALSE(fields.is_acceptable(L"a "));
    EXPECT_FALSE(fields.is_acceptable(L""));
    EXPECT_FALSE(fields.is_acceptable(L"a;b"));
    EXPECT_TRUE(fields.is_acceptable(L"a:b"));
    EXPECT_FALSE(tables.is_acceptable(L"a:b"));
    EXPECT_TRUE(fields.is_acceptable(L"a b"));
    EXPECT_EQ(fields.get_safe_name(L"a;b"), L"a_b");
    EXPECT_EQ(fields.get_safe_name(L"  inner text "), L"inner text");
    fields.add_existing_name(L"ORDERS");
    EXPECT_EQ(fields.get_safe_name(L"orders"), L"orders00000");
}

TEST(sql_validators, old_rules)
{
    sql_old_validator v;
    EXPECT_FALSE(v.is_acceptable(L"SeLeCt"));
    EXPECT_TRUE(v.is_acceptable(L"order_id"));
    EXPECT_TRUE(v.is_acceptable(L"$amount"));
    EXPECT_FALSE(v.is_acceptable(L"a-b"));
    EXPECT_FALSE(v.is_acceptable(L"123"));
    EXPECT_FALSE(v.is_acceptable(L""));
    EXPECT_EQ(v.get_safe_name(L"a-b"), L"a_b");
    EXPECT_EQ(v.get_safe_name(L"123"), L"_23");
    EXPECT_EQ(v.get_safe_name(L"select"), L"select00000");
}

TEST(sql_validators, engine_hands_out_the_rules_of_the_version)
{
    sql_engine& e = engine();
    std::vector<udb_index> idx{udb_index(L"PRIMARY", true, true, {L"id"})};
    auto in = e.create_in_validator(idx);
    if (e.is_old_version()) EXPECT_NE(dynamic_cast<sql_old_in_validator*>(in.get()), nullptr);
    else EXPECT_NE(dynamic_cast<sql_new_in_validator*>(in.get()), nullptr);
    EXPECT_TRUE(in->is_duplicated(L"primary"));
    auto tn = e.create_tn_validator({L"a"}, {L"B"});
    EXPECT_TRUE(tn->is_duplicated(L"b"));
}

namespace {
struct plain_properties : udb_properties {
    udb_properties* get_mutator(const std::wstring&) override { return nullptr; }
    udb_properties* get_mutator_by_new_name(const std::wstring&) override { return nullptr; }
};
}  // namespace

TEST(sql_engine_names, properties_choose_table_type_and_character_set)
{
    sql_engine second;  // a private engine: the flags of the shared one stay untouched
    plain_properties p;
    p.get_properties()[L"engine"] = L"MyISAM";
    p.get_properties()[L"character set"] = L"latin1";
    second.set_properties(&p);
    EXPECT_EQ(second.get_table_type(), L"MyISAM");
    EXPECT_EQ(second.get_default_charset(), L"latin1");
    plain_properties none;
    second.set_properties(&none);
    EXPECT_EQ(second.get_table_type(), L"InnoDB");
    EXPECT_EQ(second.get_default_charset(), L"latin1");
    EXPECT_EQ(second.get_max_allowed_packet(), 0);  // not connected
}

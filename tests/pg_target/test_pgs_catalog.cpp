// Catalog readers of the live database: sequences and views, by schema.
#include <gtest/gtest.h>

#include "pg_target/pgs_catalog.h"
#include "pgs_live_fixture.h"

namespace {

class pgs_catalog_live : public pgs_live_suite {};

TEST_F(pgs_catalog_live, sequences_by_schema)
{
    sql("create schema cat_a; create schema cat_b; "
        "create sequence cat_a.s_cycle start 5 increment 2 minvalue 1 maxvalue 100 cycle; "
        "create sequence cat_a.s_big; create sequence cat_b.s_other");
    auto a = pgs_read_sequences(*engine().connection(), L"cat_a");
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].name, L"s_big");
    EXPECT_EQ(a[0].maximum, 2147483647);  // bigint maximum saturates
    EXPECT_FALSE(a[0].cycle);
    EXPECT_EQ(a[1].name, L"s_cycle");
    EXPECT_EQ(a[1].start, 5);
    EXPECT_EQ(a[1].increment, 2);
    EXPECT_EQ(a[1].maximum, 100);
    EXPECT_TRUE(a[1].cycle);

    auto all = pgs_read_sequences(*engine().connection(), L"");
    auto has = [&](const wchar_t* n) {
        return std::any_of(all.begin(), all.end(), [&](const pgs_sequence_row& s) { return s.name == n; });
    };
    EXPECT_TRUE(has(L"cat_a.s_cycle"));
    EXPECT_TRUE(has(L"cat_b.s_other"));
    EXPECT_TRUE(pgs_read_sequences(*engine().connection(), L"cat_a' or ''='").empty());
}

TEST_F(pgs_catalog_live, views_by_schema_with_their_definitions_cleaned)
{
    sql("create schema cat_v; create table cat_v.t (is_true boolean, name text, at timestamp); "
        "create view cat_v.v1 as select name::text as n, true as flag, at::timestamp without time zone as at "
        "from cat_v.t");
    auto views = pgs_read_views(*engine().connection(), L"cat_v");
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].first, L"v1");
    const std::wstring& def = views[0].second;
    EXPECT_EQ(def.find(L"::text"), std::wstring::npos) << def;
    EXPECT_EQ(def.find(L"true"), std::wstring::npos) << def;
    EXPECT_NE(def.front(), L' ');
    EXPECT_EQ(def.back(), L';');

    auto all = pgs_read_views(*engine().connection(), L"");
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const auto& v) { return v.first == L"cat_v.v1"; }));
}

TEST_F(pgs_catalog_live, a_database_object_holds_its_sequences_and_views)
{
    sql("create schema cat_d; create sequence cat_d.seq1; create view cat_d.vw as select 1 as one");
    pgs_database d(tk_utf8_to_unicode(s_db_name), L"cat_d", 2, false);
    ASSERT_EQ(d.get_sequences().size(), 1u);
    EXPECT_EQ(d.get_sequences()[0].name, L"seq1");
    ASSERT_EQ(d.get_views().size(), 1u);
    EXPECT_EQ(d.get_views()[0].first, L"vw");
    pgs_database no_views(tk_utf8_to_unicode(s_db_name), L"cat_d", 0x80, false);
    EXPECT_TRUE(no_views.get_views().empty());
}

TEST(pgs_catalog, numbers_saturate_and_default_to_zero)
{
    EXPECT_EQ(pgs_catalog_int32("42"), 42);
    EXPECT_EQ(pgs_catalog_int32("9223372036854775807"), 2147483647);
    EXPECT_EQ(pgs_catalog_int32("-9223372036854775808"), -2147483647 - 1);
    EXPECT_EQ(pgs_catalog_int32(""), 0);
    EXPECT_EQ(pgs_catalog_int32("abc"), 0);
    EXPECT_EQ(pgs_catalog_int32(nullptr), 0);
}

TEST(pgs_catalog, view_definitions_are_rewritten_as_plain_text)
{
    EXPECT_EQ(pgs_clean_view_definition(L"  SELECT 'x'::text, created_at::timestamp without time zone;  "),
              L"SELECT 'x', created_at;");
    EXPECT_EQ(pgs_clean_view_definition(L"a\n AND false"), L"a\n AND 0");
}

}  // namespace

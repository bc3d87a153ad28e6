// The live PostgreSQL database object: table names, schemas, tables with
// their indexes, drops and statements.
#include <gtest/gtest.h>

#include "UDB/udb_index.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_recordset.h"
#include "pg_target/pgs_validators.h"
#include "pgs_live_fixture.h"

namespace {

class pgs_database_live : public pgs_live_suite {
protected:
    // A fresh database object over the same server database (reads the catalog anew).
    std::unique_ptr<pgs_database> reopen(const std::wstring& schema = L"", int mode = 2)
    {
        return std::make_unique<pgs_database>(tk_utf8_to_unicode(s_db_name), schema, mode, false);
    }
};

TEST_F(pgs_database_live, name_helpers)
{
    pgs_database& d = db();
    using p = std::pair<std::wstring, std::wstring>;
    EXPECT_EQ(d.split_name(L"\"s\".\"t\""), (p{L"s", L"t"}));
    EXPECT_EQ(d.split_name(L"a.b"), (p{L"a", L"b"}));
    EXPECT_EQ(d.split_name(L"a.b.c"), (p{L"a", L"b.c"}));
    EXPECT_EQ(d.split_name(L"orders"), (p{L"public", L"orders"}));
    EXPECT_EQ(d.split_name(L"\"orders\""), (p{L"public", L"orders"}));
    EXPECT_EQ(d.split_name(L".orders"), (p{L"", L"orders"}));
    EXPECT_EQ(pgs_base_db::get_full_name(L"orders"), L"public.orders");
    EXPECT_EQ(pgs_base_db::get_full_name(L"a.b"), L"a.b");
    EXPECT_EQ(pgs_base_db::make_safe_tname(L"orders", L"sales"), L"sales.orders");
    EXPECT_EQ(pgs_base_db::make_safe_tname(L"orders", L""), L"orders");
    EXPECT_TRUE(pgs_database::is_system_table(L"pg_catalog.pg_class"));
    EXPECT_TRUE(pgs_database::is_system_table(L"pg_catalog.pg_views"));
    EXPECT_FALSE(pgs_database::is_system_table(L"PG_CATALOG.PG_CLASS"));
    EXPECT_FALSE(pgs_database::is_system_table(L"pg_catalog.pg_class2"));
    EXPECT_EQ(d.get_safe_name(L"Orders"), L"\"public\".\"orders\"");
    EXPECT_EQ(d.get_safe_name(L"sales.Orders"), L"\"sales\".\"orders\"");
}

TEST_F(pgs_database_live, table_list_follows_the_schema)
{
    sql("create schema lst; create table lst.t1 (a int); create table lst.\"T2\" (a int); "
        "create table public.lst_plain (a int)");
    auto all = reopen();
    EXPECT_TRUE(all->is_table_exist(L"lst.t1"));
    EXPECT_TRUE(all->is_table_exist(L"public.lst_plain"));
    auto one = reopen(L"lst");
    EXPECT_TRUE(one->is_table_exist(L"lst.t1"));
    EXPECT_NE(std::find(one->get_table_names().begin(), one->get_table_names().end(), L"lst.T2"),
              one->get_table_names().end());
    EXPECT_FALSE(one->is_table_exist(L"public.lst_plain"));
    // A schema name is a value in the catalog query, not SQL.
    EXPECT_NO_THROW(reopen(L"x' or '1'='1"));
    EXPECT_TRUE(reopen(L"x' or '1'='1")->get_table_names().empty());

    std::vector<std::wstring> schemas;
    all->get_schema_info(schemas);
    EXPECT_NE(std::find(schemas.begin(), schemas.end(), L"lst"), schemas.end());
    EXPECT_NE(std::find(schemas.begin(), schemas.end(), L"pg_catalog"), schemas.end());
    EXPECT_EQ(std::find(schemas.begin(), schemas.end(), L"information_schema"), schemas.end());
}

TEST_F(pgs_database_live, create_schema_folds_quotes_and_skips_public)
{
    db().create_schema(L"Public");
    db().create_schema(L"Sales");
    db().create_schema(L"Sales");  // again: no error
    db().create_schema(L"we\"ird's");
    EXPECT_EQ(sql1("select count(*) from information_schema.schemata where schema_name in ('sales', 'we\"ird''s')"),
              "2");
}

TEST_F(pgs_database_live, create_open_and_drop_a_table)
{
    db().create_schema(L"Sales");
    udb_schema cols = make_schema({{L"Id", VT_I4}, {L"Order/Date", VT_DATE, 0, 0, 0, 2}, {L"Note", VT_BSTR, 30}});
    cols[2].comment = L"the customer's note";
    udb_indexes idx;
    idx.push_back(udb_index(L"cot_pk", true, true, {L"Id"}));
    idx.push_back(udb_index(L"cot_date", false, false, {L"Order/Date"}));
    auto rs = db().create_table1(L"Sales.Orders_Tab", cols, idx);
    ASSERT_TRUE(rs);
    EXPECT_TRUE(db().is_table_exist(L"sales.orders_tab"));
    EXPECT_EQ(rs->get_schema()[1].name, L"order_date");
    rs.reset();
    // The index follows the column that was renamed; the comment keeps its apostrophe.
    EXPECT_EQ(sql1("select indexdef from pg_indexes where schemaname = 'sales' and indexname = 'cot_date'")
                  .find("order_date") != std::string::npos, true);
    EXPECT_EQ(sql1("select col_description('sales.orders_tab'::regclass, 3)"), "the customer's note");
    EXPECT_EQ(sql1("select count(*) from pg_constraint where conrelid = 'sales.orders_tab'::regclass and contype = 'p'"),
              "1");

    // An existing table is opened, not changed.
    udb_schema other = make_schema({{L"x", VT_I4}});
    udb_indexes none;
    auto again = db().create_table1(L"sales.orders_tab", other, none);
    EXPECT_EQ(again->get_schema().size(), 3u);
    again.reset();

    EXPECT_TRUE(db().delete_tab(L"Sales.Orders_Tab"));
    EXPECT_FALSE(db().is_table_exist(L"sales.orders_tab"));
    EXPECT_EQ(sql1("select count(*) from pg_tables where tablename = 'orders_tab'"), "0");
    EXPECT_FALSE(db().delete_tab(L"pg_catalog.pg_class"));
}

// What the neutral layer asks of a PostgreSQL database: the key condition of a table's rows
// (the same text the table's recordset makes itself) and the emptying of a table, both
// reaching exactly the rows they name whatever the names and values hold.
TEST_F(pgs_database_live, key_condition_and_empty_table_through_the_database)
{
    sql("create schema ks; create table ks.\"kq\"\"t\" (id int, code text, bin bytea, primary key (id, code)); "
        "insert into ks.\"kq\"\"t\" values (1, 'x', '\\x00ab'), (2, 'A&B''', null), (3, 'y', null)");
    auto d = reopen();
    auto rs = d->get_table(L"ks.kq\"t", 8);
    for (const wchar_t* key : {L"<id>5</id><code>A&amp;B</code>", L"<ID>2</ID><CODE>it's &lt;&gt;</CODE>",
                               L"<bin>0x00AB</bin><id>1</id>", L"<code></code>"})
        EXPECT_EQ(rs->udb_recordset::get_filter_subquery(key), rs->get_filter_subquery(key)) << key;
    EXPECT_EQ(rs->udb_recordset::get_filter_subquery(L"<id>5</id><code>A&amp;B</code>"),
              L"\"id\"='5'  and \"code\"='A&B' ");
    EXPECT_THROW(rs->udb_recordset::get_filter_subquery(L"<nope>1</nope>"), udb_structure_exception);

    auto delete_where = [&](const wchar_t* key) {
        d->query(L"delete from " + d->quote_table_name(L"ks.kq\"t") + L" where " +
                 rs->udb_recordset::get_filter_subquery(key));
    };
    delete_where(L"<id>2</id><code>A&amp;B'</code>");
    delete_where(L"<bin>0x00AB</bin><id>1</id>");
    EXPECT_EQ(sql1("select string_agg(id::text, ',') from ks.\"kq\"\"t\""), "3");

    d->empty_table(L"KS.kq\"t");
    EXPECT_EQ(sql1("select count(*) from ks.\"kq\"\"t\""), "0");
}

TEST_F(pgs_database_live, a_primary_key_follows_its_renamed_column)
{
    udb_schema cols = make_schema({{L"Key/Id", VT_I4}, {L"v", VT_I4}});
    udb_indexes idx;
    idx.push_back(udb_index(L"renamed_pk", true, true, {L"Key/Id"}));
    auto rs = db().create_table1(L"renamed_key", cols, idx);
    rs.reset();
    EXPECT_EQ(sql1("select a.attname from pg_index x join pg_attribute a on a.attrelid = x.indrelid "
                   "and a.attnum = any(x.indkey) where x.indrelid = 'renamed_key'::regclass and x.indisprimary"),
              "key_id");
}

TEST_F(pgs_database_live, delete_tab_of_an_unlisted_table_drops_it_and_answers_false)
{
    sql("create table unlisted (a int)");
    EXPECT_FALSE(db().delete_tab(L"unlisted"));
    EXPECT_EQ(sql1("select count(*) from pg_tables where tablename = 'unlisted'"), "0");
}

TEST_F(pgs_database_live, queries_commit_and_tests_roll_back)
{
    db().query(L"create table tq (a int)");
    EXPECT_TRUE(db().test_query(L"insert into tq values (1)"));
    EXPECT_EQ(sql1("select count(*) from tq"), "0");
    EXPECT_FALSE(db().test_query(L"select * from no_such_table"));
    db().query(L"insert into tq values (2)");
    EXPECT_EQ(sql1("select count(*) from tq"), "1");
    EXPECT_THROW(db().query(L"select * from no_such_table"), std::exception);
}

TEST_F(pgs_database_live, index_names_already_in_the_schema_are_not_reused)
{
    sql("create table held (a int constraint \"primary\" primary key, b int); "
        "create index held_b_only_here on held (b)");
    auto fresh = reopen();
    EXPECT_TRUE(engine().in_validator().is_duplicated(L"held_b_only_here"));
    udb_schema cols = make_schema({{L"id", VT_I4}});
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    auto rs = fresh->create_table1(L"holder", cols, idx);
    rs.reset();
    // The new table has its primary key under another name; the old one keeps its own.
    EXPECT_EQ(sql1("select count(*) from pg_constraint where conrelid = 'holder'::regclass and contype = 'p'"), "1");
    EXPECT_NE(sql1("select conname from pg_constraint where conrelid = 'holder'::regclass and contype = 'p'"),
              "primary");
    EXPECT_EQ(sql1("select conname from pg_constraint where conrelid = 'held'::regclass"), "primary");
}

TEST_F(pgs_database_live, unlogged_tables)
{
    engine().unlogged = true;
    udb_schema cols = make_schema({{L"id", VT_I4}});
    udb_indexes none;
    db().create_table1(L"nolog", cols, none).reset();
    engine().unlogged = false;
    EXPECT_EQ(sql1("select relpersistence from pg_class where relname = 'nolog'"), "u");
}

TEST_F(pgs_database_live, gen_idx_name_counts_past_taken_names)
{
    udb_schema cols = make_schema({{L"a", VT_I4}, {L"b", VT_I4}});
    udb_indexes idx;
    idx.push_back(udb_index(L"UIDX_a_b", true, false, {L"a", L"b"}));
    auto rs = db().create_table1(L"gen_idx", cols, idx);
    rs.reset();
    auto open = db().get_table(L"public.gen_idx", 8);
    EXPECT_EQ(pgs_database::gen_idx_name(open.get(), {L"b"}), L"UIDX_b");
    EXPECT_EQ(pgs_database::gen_idx_name(open.get(), {L"a", L"b"}), L"UIDX_a_b_00000");
    EXPECT_THROW(pgs_database::gen_idx_name(nullptr, {L"a"}), tk_mail_assertion);
}

}  // namespace

// The questions the front ends ask before a run: the source's tables, views and
// one table's columns, a query test, and the destination's schemas.
#include "driver/driver_test_support.h"

namespace {

class convertor_sources_test : public driver_server_test {};

TEST_F(convertor_sources_test, tables_views_and_columns_of_the_source)
{
    std::vector<std::wstring> tables;
    udb_view_list views;
    EXPECT_TRUE(conv->get_all_tables(tables).empty());
    EXPECT_TRUE(conv->get_all_views(views).empty());

    source("CREATE TABLE b (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(12) NOT NULL);"
           "INSERT INTO b (name) VALUES ('x'),('y');"
           "CREATE TABLE a (id INT);"
           "CREATE VIEW va AS SELECT id FROM a");
    conv->get_all_tables(tables);
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, (std::vector<std::wstring>{L"a", L"b"}));
    conv->get_all_views(views);
    ASSERT_EQ(views.size(), 1u);
    EXPECT_EQ(views[0].first, L"va");

    udb_schema schema;
    conv->get_schema(schema, L"b");
    ASSERT_EQ(schema.size(), 2u);
    EXPECT_EQ(schema[0].name, L"id");
    EXPECT_EQ(schema[1].name, L"name");
    EXPECT_TRUE(schema[1].b_not_null);
    EXPECT_EQ(schema.seed, 2);
    // A name the source lacks (a stale selection) is an error the caller can report.
    try {
        conv->get_schema(schema, L"gone");
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_level(), 1);
    }
}

TEST_F(convertor_sources_test, a_query_test_answers_without_raising)
{
    source("CREATE TABLE a (id INT)");
    EXPECT_TRUE(conv->test_query(L"SELECT id FROM a"));
    EXPECT_FALSE(conv->test_query(L"SELECT nothing FROM nowhere"));
    conv->set_source(L"qdrv_no_such_source");
    EXPECT_FALSE(conv->test_query(L"SELECT 1"));
    EXPECT_TRUE(conv->is_mysql_base_exist(tk_utf8_to_unicode(source_name)));
    EXPECT_FALSE(conv->is_mysql_base_exist(L"qdrv_no_such_source"));
}

TEST_F(convertor_sources_test, schemas_of_the_destination_ignoring_case)
{
    dest("CREATE SCHEMA sales; CREATE TABLE sales.t (id INTEGER)");
    const std::wstring db = tk_utf8_to_unicode(dest_name);
    const auto schemas = conv->get_pgs_schemas(db);
    EXPECT_NE(std::find(schemas.begin(), schemas.end(), L"sales"), schemas.end());
    EXPECT_TRUE(conv->is_schema_exist(db, L"SALES"));
    EXPECT_FALSE(conv->is_schema_exist(db, L"nothing"));
    // An unreachable database gives an empty list, not an error.
    EXPECT_TRUE(conv->get_pgs_schemas(L"qdrv_no_such_database").empty());
    EXPECT_FALSE(conv->is_schema_exist(L"qdrv_no_such_database", L"public"));
}

}  // namespace

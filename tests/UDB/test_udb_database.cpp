// The database, recordset and engine interfaces: the behaviour their bases
// give every side, the property map and the custom conversion hooks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_custom_conversion.h"
#include "UDB/udb_database.h"
#include "UDB/udb_engine.h"
#include "UDB/udb_properties.h"
#include "UDB/udb_record_key.h"
#include "UDB/udb_recordset.h"
#include "UDB/udb_validator.h"

namespace fs = std::filesystem;

namespace {

bool* g_destroyed = nullptr;

class test_recordset : public udb_recordset {
public:
    using udb_recordset::udb_recordset;
    ~test_recordset() override
    {
        if (g_destroyed) *g_destroyed = true;
    }
    void append_record(udb_record&) override { ++record_count; }
};

// A database that records the statements it is asked to run. Its dialect is made up, so that
// a test sees exactly what the base hands to it.
class test_database : public udb_database {
public:
    test_database(bool case_sensitive = false) : udb_database(L"db", 1, case_sensitive) {}
    ~test_database() override
    {
        if (g_destroyed) *g_destroyed = true;
    }
    std::unique_ptr<udb_recordset> create_table1(const std::wstring& name, udb_schema&, udb_indexes&) override
    {
        return std::make_unique<test_recordset>(this, name);
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring& name, const std::wstring& sql,
                                             std::int32_t) override
    {
        return std::make_unique<test_recordset>(this, name, sql);
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring& name, std::int32_t) override
    {
        return std::make_unique<test_recordset>(this, name);
    }
    std::unique_ptr<udb_recordset> query(const std::wstring& statement) override
    {
        statements.push_back(statement);
        return nullptr;
    }
    bool test_query(const std::wstring&) override { return true; }
    void create_index(const std::wstring& table, const udb_index& index) override
    {
        statements.push_back(table + L":" + index.name);
    }
    std::wstring quote_table_name(const std::wstring& name) const override { return L"[" + name + L"]"; }
    std::wstring key_condition_term(const t_ftd& column, const std::wstring& value) const override
    {
        return L"[" + column.name + L":" + std::to_wstring(column.vartype) + L"]=<" + value + L">";
    }

    std::vector<std::wstring> statements;
};

// The base behaviour of query() and create_table2().
class bare_database : public udb_database {
public:
    bare_database() : udb_database(L"bare", 0, false) {}
    std::unique_ptr<udb_recordset> create_table1(const std::wstring&, udb_schema&, udb_indexes&) override
    {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_query(const std::wstring&, const std::wstring&, std::int32_t) override
    {
        return nullptr;
    }
    std::unique_ptr<udb_recordset> get_table(const std::wstring&, std::int32_t) override { return nullptr; }
    bool test_query(const std::wstring&) override { return false; }
    std::wstring quote_table_name(const std::wstring& name) const override { return name; }
    std::wstring key_condition_term(const t_ftd&, const std::wstring&) const override { return {}; }
};

}  // namespace

TEST(udb_database, table_names_follow_the_case_setting)
{
    test_database folded(false);
    folded.get_table_names() = {L"orders", L"Items"};
    EXPECT_TRUE(folded.is_table_exist(L"ORDERS"));
    EXPECT_TRUE(folded.delete_tab(L"items"));
    EXPECT_FALSE(folded.delete_tab(L"items"));
    EXPECT_EQ(folded.get_table_names(), std::vector<std::wstring>{L"orders"});

    test_database exact(true);
    exact.get_table_names() = {L"orders"};
    EXPECT_FALSE(exact.is_table_exist(L"ORDERS"));
    EXPECT_TRUE(exact.is_table_exist(L"orders"));
    EXPECT_FALSE(exact.delete_tab(L"Orders"));

    test_database empty;
    EXPECT_FALSE(empty.is_table_exist(L"x"));
}

// Names are looked up in an index of the list; the list changed in every way it can change
// gives the answers a scan of it would.
TEST(udb_database, table_lookups_follow_every_change_of_the_list)
{
    test_database db(false);
    auto& names = db.get_table_names();
    for (int i = 0; i < 3000; ++i) names.push_back(L"T" + std::to_wstring(i));
    EXPECT_TRUE(db.is_table_exist(L"t2999"));
    EXPECT_FALSE(db.is_table_exist(L"t3000"));
    db.get_table_names().push_back(L"Extra");  // added after a lookup
    EXPECT_TRUE(db.is_table_exist(L"EXTRA"));
    EXPECT_TRUE(db.delete_tab(L"t5"));
    EXPECT_FALSE(db.is_table_exist(L"T5"));
    EXPECT_TRUE(db.is_table_exist(L"T6"));
    EXPECT_TRUE(db.delete_tab(L"t7"));
    db.get_table_names().push_back(L"Extra");  // same size and the same last name
    EXPECT_FALSE(db.is_table_exist(L"t7"));
    EXPECT_TRUE(db.is_table_exist(L"t8"));
    db.get_table_names() = {L"a", L"Extra"};  // replaced whole
    EXPECT_FALSE(db.is_table_exist(L"T6"));
    EXPECT_TRUE(db.is_table_exist(L"A"));
    EXPECT_TRUE(db.delete_tab(L"a"));
    EXPECT_EQ(db.get_table_names(), std::vector<std::wstring>{L"Extra"});

    test_database exact(true);
    exact.get_table_names() = {L"CaseT", L"caset"};
    EXPECT_TRUE(exact.delete_tab(L"caset"));
    EXPECT_EQ(exact.get_table_names(), std::vector<std::wstring>{L"CaseT"});
    EXPECT_FALSE(exact.is_table_exist(L"caset"));
}

TEST(udb_database, empty_table_quotes_the_name_by_the_side)
{
    test_database db;
    db.empty_table(L"sales.orders");
    EXPECT_EQ(db.statements, (std::vector<std::wstring>{L"delete from [sales.orders]"}));
}

TEST(udb_database, base_operations)
{
    test_database db;
    udb_indexes idx;
    idx.push_back(udb_index(L"a", false, false, {L"x"}));
    idx.push_back(udb_index(L"b", false, false, {L"y"}));
    db.create_indexes(L"t", idx);
    EXPECT_EQ(db.statements, (std::vector<std::wstring>{L"t:a", L"t:b"}));

    std::vector<std::wstring> schemas = {L"stale"};
    db.get_schema_info(schemas);
    EXPECT_TRUE(schemas.empty());

    db.add_tn_mapping(L"t1", L"a");
    db.add_tn_mapping(L"t1", L"b");
    EXPECT_EQ(db.get_names_map().get_tn_mapped_name(L"t1", true), L"a");

    bare_database bare;
    EXPECT_THROW(bare.query(L"select 1"), tk_mail_assertion);
    udb_schema s;
    EXPECT_THROW(bare.create_table2(L"t", s, idx, udb_partition{}), tk_mail_assertion);
}

struct select_case {
    const wchar_t* text;
    bool is_select;
};

std::ostream& operator<<(std::ostream& os, const select_case& c)
{
    return os << tk_unicode_to_utf8(c.text);
}

class is_select_query : public ::testing::TestWithParam<select_case> {};

TEST_P(is_select_query, cases)
{
    EXPECT_EQ(udb_database::is_select_query(GetParam().text), GetParam().is_select);
}

INSTANTIATE_TEST_SUITE_P(texts, is_select_query,
                         ::testing::ValuesIn(std::vector<select_case>{
                             {L"select 1", true},
                             {L"Select * from t", true},
                             {L"SELECT", true},
                             {L"  ((SELECT 1", true},
                             {L"( select x)", true},
                             {L"(select", false},
                             {L"insert into t select 1", false},
                             {L"", false},
                             {L"   ", false},
                             {L"\tselect 1", false},
                             {L"with x as (select 1) select * from x", false},
                         }));

TEST(udb_recordset, construction_and_key_position)
{
    test_database db;
    test_recordset query(&db, L"q", L"select 1");
    EXPECT_TRUE(query.is_query());
    test_recordset table(&db, L"t");
    EXPECT_FALSE(table.is_query());
    EXPECT_EQ(table.get_key_pos(), -1);
    EXPECT_EQ(table.get_record_count(), 0u);
    EXPECT_TRUE(table.is_eof());
    EXPECT_EQ(table.get_item(), nullptr);

    table.add_index(udb_index(L"u1", true, false, {L"a"}));
    table.add_index(udb_index(L"pk", true, true, {L"id"}));
    table.add_index(udb_index(L"u2", true, false, {L"b"}));
    table.add_index(udb_index(L"PK", false, false, {L"c"}));  // same name: dropped
    EXPECT_EQ(table.get_indexes().size(), 3u);
    EXPECT_EQ(table.get_key_pos(), 1);

    test_recordset uniques(&db, L"u");
    uniques.add_index(udb_index(L"u1", true, false, {L"a"}));
    uniques.add_index(udb_index(L"u2", true, false, {L"b"}));
    EXPECT_EQ(uniques.get_key_pos(), 0);
}

TEST(udb_recordset, get_key_copies_the_key_fields)
{
    test_database db;
    test_recordset rs(&db, L"t");
    udb_record row;
    row.emplace_back(L"Name", 0, ole_variant(std::wstring(L"x")));
    row.emplace_back(L"ID", 4, ole_variant(7));
    EXPECT_THROW(rs.get_key(row), tk_exception);

    rs.add_index(udb_index(L"pk", true, true, {L"id"}));
    std::unique_ptr<udb_record> key = rs.get_key(row);
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->size(), 1u);
    EXPECT_EQ((*key)[0].get_name(), L"ID");
    EXPECT_EQ((*key)[0].to_long(), 7);

    udb_record without_key;
    without_key.emplace_back(L"Name", 0, ole_variant(std::wstring(L"x")));
    EXPECT_EQ(rs.get_key(without_key), nullptr);
}

struct filter_case {
    const char* label;
    const wchar_t* key;
    const wchar_t* expected;  // nullptr: throws
    bool structure_error = false;  // which exception: the structure error, else a malformed key
};

std::ostream& operator<<(std::ostream& os, const filter_case& c)
{
    return os << c.label;
}

class filter_subquery : public ::testing::TestWithParam<filter_case> {};

// The base finds each element's column and lets the database spell the term (test_database
// shows the column's name, its kind and the decoded value); terms are joined by " and ".
TEST_P(filter_subquery, cases)
{
    test_database db;
    test_recordset rs(&db, L"t");
    rs.get_schema().add_column(t_ftd(4, L"id", VT_I4, true, false));
    rs.get_schema().add_column(t_ftd(20, L"Name", VT_BSTR, false, false));
    const filter_case& c = GetParam();
    if (!c.expected) {
        try {
            rs.get_filter_subquery(c.key);
            FAIL() << "no exception";
        } catch (const udb_key_text_exception&) {
            EXPECT_FALSE(c.structure_error);
        } catch (const udb_structure_exception& e) {
            EXPECT_TRUE(c.structure_error);
            EXPECT_EQ(e.get_level(), 0);
        }
        return;
    }
    EXPECT_EQ(rs.get_filter_subquery(c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    keys, filter_subquery,
    ::testing::ValuesIn(std::vector<filter_case>{
        {"empty", L"", L""},
        {"one_field", L"<id>5</id>", L"[id:3]=<5>"},
        {"two_fields_decoded", L"<id>5</id><name>a&amp;b&lt;</name>", L"[id:3]=<5> and [Name:8]=<a&b<>"},
        {"column_spelled_as_the_schema", L"<ID>5</ID><NAME></NAME>", L"[id:3]=<5> and [Name:8]=<>"},
        {"unknown_column", L"<id>5</id><nope>1</nope>", nullptr, true},
        {"malformed", L"<id>5</ID>", nullptr},
    }),
    [](const ::testing::TestParamInfo<filter_case>& info) { return std::string(info.param.label); });

TEST(udb_recordset, filter_subquery_needs_a_database)
{
    test_recordset rs(L"t");
    rs.get_schema().add_column(t_ftd(4, L"id", VT_I4, true, false));
    EXPECT_THROW(rs.get_filter_subquery(L"<id>5</id>"), tk_mail_assertion);
}

// Interfaces deleted through their base run the derived destructor.
TEST(udb_interfaces, deleted_through_the_base)
{
    bool destroyed = false;
    g_destroyed = &destroyed;
    {
        std::unique_ptr<udb_database> db = std::make_unique<test_database>();
    }
    EXPECT_TRUE(destroyed);
    destroyed = false;
    {
        test_database db;
        std::unique_ptr<udb_recordset> rs = db.get_table(L"t", 0);
        destroyed = false;
    }
    EXPECT_TRUE(destroyed);
    g_destroyed = nullptr;

    struct counting_validator : udb_validator {
        bool* flag;
        explicit counting_validator(bool* f) : udb_validator(10), flag(f) {}
        ~counting_validator() override { *flag = true; }
    };
    destroyed = false;
    {
        std::unique_ptr<udb_validator> v = std::make_unique<counting_validator>(&destroyed);
    }
    EXPECT_TRUE(destroyed);
}

namespace {

class file_engine : public udb_engine {
public:
    explicit file_engine(bool* flag = nullptr) : m_flag(flag) {}
    ~file_engine() override
    {
        if (m_flag) *m_flag = true;
    }
    std::unique_ptr<udb_database> create_db(const std::wstring&) override { return nullptr; }
    std::unique_ptr<udb_database> open_db(const std::wstring&, std::int32_t, const std::wstring&) override
    {
        return std::make_unique<test_database>();
    }

private:
    bool* m_flag;
};

class plain_properties : public udb_properties {
public:
    udb_properties* get_mutator(const std::wstring&) override { return nullptr; }
    udb_properties* get_mutator_by_new_name(const std::wstring&) override { return nullptr; }
};

}  // namespace

TEST(udb_engine, file_databases)
{
    const fs::path dir = fs::temp_directory_path() / tk_unicode_to_utf8(L"udb_engine_\u00e9_" +
                                                                          std::to_wstring(::getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "db.file";
    std::ofstream(file) << "x";

    file_engine engine;
    const std::wstring wfile = tk_utf8_to_unicode(file.string());
    EXPECT_TRUE(engine.is_db_exist(wfile));
    EXPECT_FALSE(engine.is_db_exist(tk_utf8_to_unicode(dir.string())));
    engine.db_delete(wfile);
    EXPECT_FALSE(fs::exists(file));
    try {
        engine.db_delete(wfile);
        FAIL() << "deleting a missing file must throw";
    } catch (const tk_exception_ex& e) {
        EXPECT_EQ(e.get_level(), 1);
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
    }
    EXPECT_THROW(engine.db_delete(tk_utf8_to_unicode(dir.string())), tk_exception_ex);
    EXPECT_TRUE(fs::exists(dir));
    fs::remove_all(dir);

    plain_properties first, second;
    engine.set_properties(&first);
    engine.set_properties(&second);
    EXPECT_EQ(engine.get_properties(), &second);

    bool destroyed = false;
    {
        std::unique_ptr<udb_engine> owned = std::make_unique<file_engine>(&destroyed);
    }
    EXPECT_TRUE(destroyed);
}

TEST(udb_properties, keys_are_exact_and_the_map_is_shared)
{
    plain_properties p;
    p.get_properties()[L"Engine"] = L"MyISAM";
    EXPECT_EQ(p.get_property(L"engine"), L"");
    EXPECT_FALSE(p.has_property(L"engine"));
    p.get_properties()[L"engine"] = L"InnoDB";
    EXPECT_EQ(p.get_property(L"engine"), L"InnoDB");
    EXPECT_EQ(p.get_properties().size(), 2u);
}

namespace {

class column_rule : public udb_conversion_rule {
public:
    explicit column_rule(bool accept) : m_accept(accept) {}
    bool accepts_value(const udb_field&) override { return false; }
    bool accepts_column(const t_ftd&) override { return m_accept; }
    std::wstring value_text(const udb_field&) override { return L"v"; }
    std::wstring column_text(const t_ftd& c) override { return L"TYPE_OF_" + c.name; }

private:
    bool m_accept;
};

}  // namespace

TEST(udb_custom_conversion, hooks)
{
    const t_ftd column(4, L"c", VT_I4, false, false);
    const udb_field value(L"c", 4, ole_variant(1));
    ASSERT_FALSE(udb_custom_conversion::has_instance());
    EXPECT_FALSE(udb_custom_conversion::is_acceptable1(column));
    EXPECT_FALSE(udb_custom_conversion::is_acceptable2(value));
    EXPECT_EQ(udb_custom_conversion::handle1(column), L"");
    EXPECT_EQ(udb_custom_conversion::handle2(value), L"");

    column_rule refuses(false), accepts(true);
    {
        udb_custom_conversion registry;
        EXPECT_FALSE(udb_custom_conversion::is_acceptable1(column));
        EXPECT_EQ(udb_custom_conversion::handle2(value), L"");
        registry.add_rule(&refuses);
        registry.add_rule(&accepts);
        EXPECT_TRUE(udb_custom_conversion::is_acceptable1(column));
        EXPECT_EQ(udb_custom_conversion::handle1(column), L"TYPE_OF_c");
        EXPECT_FALSE(udb_custom_conversion::is_acceptable2(value));
        EXPECT_THROW(udb_custom_conversion::handle2(value), tk_mail_assertion);
    }
    EXPECT_FALSE(udb_custom_conversion::has_instance());
}

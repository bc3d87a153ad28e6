// The PostgreSQL engine against the test server: connection strings, the
// database operations and the session it sets up.
#include <gtest/gtest.h>

#include <pqxx/pqxx>

#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_engine.h"
#include "support/test_env.h"

namespace {

struct conn_case {
    const char* what;
    bool ssl_use;
    bool ssl_auth;
    const wchar_t* rcert;
    const wchar_t* ccert;
    const char* host;
    const char* password;
    const char* db;
    int port;
    const char* expected;
};

std::ostream& operator<<(std::ostream& os, const conn_case& c) { return os << c.what; }

class conn_string : public ::testing::TestWithParam<conn_case> {};

TEST_P(conn_string, is_built_with_quoted_values)
{
    const auto& c = GetParam();
    pgs_engine engine;
    engine.ssl_use = c.ssl_use;
    engine.ssl_auth = c.ssl_auth;
    engine.ssl_rcert = c.rcert;
    engine.ssl_ccert = c.ccert;
    engine.ssl_clkey = c.ccert[0] ? L"C:\\k\\client.key" : L"";
    EXPECT_EQ(engine.make_conn_string(c.host, "bob", c.password, c.db, c.port), c.expected);
}

const conn_case conn_cases[] = {
    {"plain with port", false, false, L"", L"", "db.example", "pw", "sales", 5432,
     "user='bob' password='pw' host='db.example' dbname='sales' port=5432"},
    {"no host no port no db", false, false, L"", L"", "", "pw", "", 0,
     "user='bob' password='pw' dbname='postgres'"},
    {"password with blank quote backslash", false, false, L"", L"", "h", "a b'c\\d", "x", 0,
     "user='bob' password='a b\\'c\\\\d' host='h' dbname='x'"},
    {"ssl without files", true, false, L"", L"", "h", "p", "d", 0,
     "sslmode=verify-full user='bob' password='p' host='h' dbname='d'"},
    {"ssl auth off keeps client files out", true, false, L"C:\\certs\\root.crt", L"C:\\c.crt", "h",
     "p", "d", 0,
     "sslmode=verify-full sslrootcert='C:/certs/root.crt' user='bob' password='p' host='h' "
     "dbname='d'"},
    {"ssl with client files", true, true, L"'/r.crt'", L"/c.crt", "h", "p", "d", 1,
     "sslmode=verify-full sslrootcert='/r.crt' sslcert='/c.crt' sslkey='C:/k/client.key' "
     "user='bob' password='p' host='h' dbname='d' port=1"},
    {"ssl_auth without ssl_use", false, true, L"/r.crt", L"/c.crt", "h", "p", "d", 0,
     "user='bob' password='p' host='h' dbname='d'"},
};
INSTANTIATE_TEST_SUITE_P(pgs_engine, conn_string, ::testing::ValuesIn(conn_cases));

TEST(pgs_engine, preprocess_path_forms)
{
    EXPECT_EQ(pgs_engine::preprocess_path(L"C:\\certs\\root.crt"), "'C:/certs/root.crt'");
    EXPECT_EQ(pgs_engine::preprocess_path(L"'/already/quoted'"), "'/already/quoted'");
    EXPECT_EQ(pgs_engine::preprocess_path(L"/a\"b"), "'/a\\'b'");
}

// The server keeps 63 bytes of a name: a longer one would silently be another.
TEST(pgs_engine, a_name_fits_in_63_bytes_of_utf8)
{
    EXPECT_TRUE(pgs_engine::name_fits(std::wstring(63, L'a')));
    EXPECT_FALSE(pgs_engine::name_fits(std::wstring(64, L'a')));
    EXPECT_TRUE(pgs_engine::name_fits(std::wstring(31, L'\u00e9') + L"a"));  // 63 bytes
    EXPECT_FALSE(pgs_engine::name_fits(std::wstring(32, L'\u00e9')));        // 64 bytes
    try {
        pgs_engine::check_name_fits("database", std::wstring(32, L'\u00e9'));
        FAIL() << "accepted";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_level(), 1);
        EXPECT_EQ(std::string(e.what()).rfind("The PostgreSQL database name '", 0), 0u) << e.what();
    }
    EXPECT_NO_THROW(pgs_engine::check_name_fits("schema", L"public"));
}

TEST(pgs_engine, encodings_are_thirty_names_in_a_fixed_list)
{
    const auto& a = pgs_engine::get_encodings();
    const auto& b = pgs_engine::get_encodings();
    EXPECT_EQ(&a, &b);
    ASSERT_EQ(a.size(), 30u);
    EXPECT_EQ(a.front(), L"UTF8");
    EXPECT_EQ(a.back(), L"WIN1258");
}

// The engine connected to the test server (whose password holds a blank, a
// quote and a '$'), and a throwaway database name.
class pgs_engine_live : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto f = test_env::pg();
        engine.connect(f.host, f.user, f.password, "", f.port);
        name = test_env::unique_name("Pgs_Eng");
    }
    void TearDown() override
    {
        try {
            reconnect();
            engine.delete_db(tk_utf8_to_unicode(name));
        } catch (...) {
        }
    }
    void reconnect()
    {
        engine.connect(engine.remembered_host(), engine.remembered_user(), engine.remembered_password(), "",
                       engine.remembered_port());
    }
    pgs_engine engine;
    std::string name;
};

TEST_F(pgs_engine_live, session_is_utf8_with_standard_strings)
{
    pqxx::work tx(engine.connection()->get());
    EXPECT_EQ(tx.exec("show client_encoding")[0][0].as<std::string>(), "UTF8");
    EXPECT_EQ(tx.exec("show standard_conforming_strings")[0][0].as<std::string>(), "on");
    EXPECT_EQ(engine.remembered_db(), "postgres");
}

TEST_F(pgs_engine_live, create_test_open_and_drop_a_mixed_case_database)
{
    const std::wstring wname = tk_utf8_to_unicode(name);
    EXPECT_FALSE(engine.is_db_exist(wname));
    {
        auto db = engine.create_db(wname);
        ASSERT_TRUE(db);
        EXPECT_EQ(engine.remembered_db(), name);
        pqxx::work tx(engine.connection()->get());
        EXPECT_EQ(tx.exec("select current_database()")[0][0].as<std::string>(), name);
    }
    EXPECT_TRUE(engine.is_db_exist(wname));
    // Exact comparison: another case is another database.
    EXPECT_FALSE(engine.is_db_exist(tk_to_lower(wname)));
    EXPECT_FALSE(engine.is_db_exist(L"template1"));
    // A name with an apostrophe cannot break the catalog query.
    EXPECT_FALSE(engine.is_db_exist(L"x' or '1'='1"));

    reconnect();
    engine.delete_db(wname);
    EXPECT_FALSE(engine.is_db_exist(wname));
}

TEST_F(pgs_engine_live, a_database_name_with_a_double_quote_is_quoted)
{
    name += "\"q";
    const std::wstring wname = tk_utf8_to_unicode(name);
    auto db = engine.create_db(wname);
    EXPECT_TRUE(engine.is_db_exist(wname));
}

TEST_F(pgs_engine_live, failures_are_pgs_exceptions_and_keep_the_connection)
{
    pgs_connection* before = engine.connection();
    auto f = test_env::pg();
    EXPECT_THROW(engine.connect(f.host, f.user, f.password, name + "_missing", f.port),
                 pgs_exception);
    EXPECT_EQ(engine.connection(), before);
    EXPECT_THROW(engine.connect(f.host, f.user, "wrong password", "", f.port), pgs_exception);
    EXPECT_EQ(engine.connection(), before);
    EXPECT_THROW(engine.create_db(L"template1"), pgs_exception);
}

}  // namespace

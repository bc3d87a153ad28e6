// The PostgreSQL test server is reachable with a password over TCP.
#include <gtest/gtest.h>
#include <pqxx/pqxx>
#include "support/test_env.h"

TEST(pg_test_server, accepts_password_login_over_tcp)
{
    pqxx::connection c(test_env::pg_conninfo());
    pqxx::nontransaction tx(c);
    auto r = tx.exec("select current_setting('server_encoding')");
    EXPECT_EQ(r[0][0].as<std::string>(), "UTF8");
}

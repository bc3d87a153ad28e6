// The MySQL test server is reachable with a password over TCP and speaks utf8mb4.
#include <gtest/gtest.h>
#include <mysql.h>
#include "support/test_env.h"

TEST(mysql_test_server, accepts_password_login_over_tcp)
{
    auto f = test_env::mysql();
    MYSQL* m = mysql_init(nullptr);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(mysql_real_connect(m, f.host.c_str(), f.user.c_str(), f.password.c_str(), nullptr,
                                 f.port, nullptr, 0),
              nullptr)
        << mysql_error(m);
    ASSERT_EQ(mysql_query(m, "SELECT @@character_set_server"), 0) << mysql_error(m);
    MYSQL_RES* r = mysql_store_result(m);
    ASSERT_NE(r, nullptr);
    MYSQL_ROW row = mysql_fetch_row(r);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row[0], "utf8mb4");
    mysql_free_result(r);
    mysql_close(m);
}

// The wizard's remembered settings: loaded when the wizard's conversion object
// is built, stored when it goes, through the per-user settings file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "TK/tk_registry.h"
#include "driver/pelmora_convertor.h"
#include "pg_target/pgs_engine.h"
#include "platform/pf_settings.h"
#include "support/scratch_dir.h"

namespace {

class remembered_settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        had_old_ = old != nullptr;
        old_ = old ? old : "";
        setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (had_old_)
            setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    std::string settings_file() const { return pf_settings_file::path_for_key(pelmora_settings_key); }

    test_env::scratch_dir dir_{"remembered"};
    std::string old_;
    bool had_old_ = false;
};

TEST_F(remembered_settings, a_first_start_gives_the_presets)
{
    pelmora_convertor c(convertor_form::wizard);
    pgs_engine& pg = c.get_pgs_engine();
    EXPECT_TRUE(c.b_case_sens);
    EXPECT_TRUE(c.convert_views);
    EXPECT_TRUE(c.b_direct);
    EXPECT_FALSE(pg.fast_insert);
    EXPECT_FALSE(pg.ssl_use);
    EXPECT_FALSE(pg.ssl_auth);
    EXPECT_FALSE(pg.unlogged);
    EXPECT_FALSE(c.skip_idx);
    EXPECT_FALSE(c.tab_def);
    EXPECT_EQ(c.pgs_port, 0);
    EXPECT_EQ(c.mysql_port, "3306");
    EXPECT_EQ(c.client_encoding, L"UTF8");
    EXPECT_TRUE(c.get_destination().empty());
}

TEST_F(remembered_settings, every_value_survives_a_round_trip_in_a_private_file)
{
    {
        pelmora_convertor c(convertor_form::wizard);
        pgs_engine& pg = c.get_pgs_engine();
        c.b_case_sens = false;
        c.convert_views = false;
        c.set_destination(L"zieldatenbank_ß");
        c.b_direct = false;
        c.client_encoding = L"LATIN1";
        pg.fast_insert = true;
        c.mysql_port = "3307";
        c.mysql_host = "db.example";
        c.mysql_password = "";  // an empty text is stored and read back empty
        c.mysql_user = "reader";
        c.pgs_host = "pg.example";
        c.pgs_password = "p%s'\"";
        c.pgs_port = 6543;
        c.pgs_user = "writer";
        c.skip_idx = true;
        c.set_source(L"quelle");
        pg.ssl_ccert = L"/certs/client.crt";
        pg.ssl_clkey = L"/certs/client.key";
        pg.ssl_rcert = L"/certs/root.crt";
        pg.ssl_revoc = L"/certs/root.crl";
        pg.ssl_use = true;
        pg.ssl_auth = true;
        c.tab_def = true;
        pg.unlogged = true;
    }
    struct stat st{};
    ASSERT_EQ(::stat(settings_file().c_str(), &st), 0) << settings_file();
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // passwords are in it

    pelmora_convertor c(convertor_form::wizard);
    pgs_engine& pg = c.get_pgs_engine();
    EXPECT_FALSE(c.b_case_sens);
    EXPECT_FALSE(c.convert_views);
    EXPECT_EQ(c.get_destination(), L"zieldatenbank_ß");
    EXPECT_FALSE(c.b_direct);
    EXPECT_EQ(c.client_encoding, L"LATIN1");
    EXPECT_TRUE(pg.fast_insert);
    EXPECT_EQ(c.mysql_port, "3307");
    EXPECT_EQ(c.mysql_host, "db.example");
    EXPECT_EQ(c.mysql_password, "");
    EXPECT_EQ(c.mysql_user, "reader");
    EXPECT_EQ(c.pgs_host, "pg.example");
    EXPECT_EQ(c.pgs_password, "p%s'\"");
    EXPECT_EQ(c.pgs_port, 6543);
    EXPECT_EQ(c.pgs_user, "writer");
    EXPECT_TRUE(c.skip_idx);
    EXPECT_EQ(c.get_source(), L"quelle");
    EXPECT_EQ(pg.ssl_ccert, L"/certs/client.crt");
    EXPECT_EQ(pg.ssl_clkey, L"/certs/client.key");
    EXPECT_EQ(pg.ssl_rcert, L"/certs/root.crt");
    EXPECT_EQ(pg.ssl_revoc, L"/certs/root.crl");
    EXPECT_TRUE(pg.ssl_use);
    EXPECT_TRUE(pg.ssl_auth);
    EXPECT_TRUE(c.tab_def);
    EXPECT_TRUE(pg.unlogged);
    // Neither the case switch of the engine nor the mode is remembered.
    EXPECT_FALSE(pg.is_case_sens);
    EXPECT_EQ(c.get_mode(), 0);
}

TEST_F(remembered_settings, a_value_of_the_wrong_kind_leaves_the_preset)
{
    {
        tk_reg_key key;
        ASSERT_EQ(key.create(tk_reg_root::current_user, pelmora_settings_key), tk_reg_success);
        key.set_value("5432", "pgsport");
        key.set_value(0u, "convert_views");
        ASSERT_EQ(key.close(), tk_reg_success);
    }
    pelmora_convertor c(convertor_form::wizard);
    EXPECT_EQ(c.pgs_port, 0);
    EXPECT_FALSE(c.convert_views);
    EXPECT_FALSE(c.serialize(false));  // not every value was there
}

TEST_F(remembered_settings, the_console_form_neither_reads_nor_writes_them)
{
    {
        tk_reg_key key;
        ASSERT_EQ(key.create(tk_reg_root::current_user, pelmora_settings_key), tk_reg_success);
        key.set_value(1u, "unlogged");
        ASSERT_EQ(key.close(), tk_reg_success);
    }
    const auto before = std::filesystem::last_write_time(settings_file());
    {
        pelmora_convertor c(convertor_form::console);
        EXPECT_FALSE(c.get_pgs_engine().unlogged);
        EXPECT_FALSE(c.b_case_sens);
    }
    pelmora_convertor w(convertor_form::wizard);
    EXPECT_TRUE(w.get_pgs_engine().unlogged);
    EXPECT_EQ(std::filesystem::last_write_time(settings_file()), before);
}

}  // namespace

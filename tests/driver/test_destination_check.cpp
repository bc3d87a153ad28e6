// Preparing the destination before a run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include "driver/destination_check.h"
#include "driver/driver_test_support.h"

namespace {

class script_path_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir_template[] = "/tmp/qdrv_destXXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir = dir_template;
    }
    void TearDown() override
    {
        std::remove((dir + "/out.sql").c_str());
        std::remove((dir + "/fifo").c_str());
        rmdir((dir + "/sub").c_str());
        rmdir(dir.c_str());
    }
    std::string level1_text(const std::string& path)
    {
        try {
            common_check_dest(tk_utf8_to_unicode(path));
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.get_level(), 1);
            return e.what();
        }
        return "";
    }
    void write_file(const std::string& path) { std::ofstream(path) << "old script"; }
    bool exists(const std::string& path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0;
    }

    std::string dir;
};

TEST_F(script_path_test, paths_that_cannot_take_a_script_are_refused_with_their_texts)
{
    ::mkdir((dir + "/sub").c_str(), 0700);
    EXPECT_EQ(level1_text(dir + "/sub"), "Destination name should specify a file, not folder.");
    EXPECT_EQ(level1_text(dir + "/missing/out.sql"),
              "Destination path does not exist.\nPlease verify the correct path was given.");
    EXPECT_EQ(level1_text(dir + "/out.sql"), "");
    write_file(dir + "/out.sql");
    ::chmod((dir + "/out.sql").c_str(), 0444);
    EXPECT_EQ(level1_text(dir + "/out.sql"), "Destination name specifies an existing read-only file.");
    EXPECT_TRUE(exists(dir + "/out.sql"));
}

TEST_F(script_path_test, a_device_or_a_pipe_is_never_taken_for_a_script)
{
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir + "/fifo", std::string("/dev/full"), std::string("/dev/null")}) {
        const std::string text = level1_text(path);
        EXPECT_NE(text.find("specifies a device, pipe or socket, not a file. It was left unchanged."),
                  std::string::npos)
            << path << ": " << text;
    }
    struct stat st {};
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(script_path_test, an_existing_writable_script_is_kept_until_the_run_replaces_it)
{
    recording_hooks hooks;
    hooks_scope scope(hooks);
    pelmora_convertor c(convertor_form::console);
    auto my = test_env::mysql();
    c.store_mysql_settings(my.host, my.user, my.password, std::to_string(my.port));
    c.connect_mysql_server();
    c.set_source(L"mysql");  // a source that every server has
    c.b_direct = false;
    c.set_destination(tk_utf8_to_unicode(dir + "/out.sql"));
    for (int mode = 0; mode <= 4; ++mode) {
        write_file(dir + "/out.sql");
        c.set_mode(mode);
        c.check_dest();
        EXPECT_TRUE(exists(dir + "/out.sql")) << "mode " << mode;
    }
    // A mistyped source leaves the old script alone.
    write_file(dir + "/out.sql");
    c.set_source(L"qdrv_no_such_source");
    EXPECT_THROW(c.check_dest(), tk_exception);
    EXPECT_TRUE(exists(dir + "/out.sql"));
}

class live_destination_test : public driver_server_test {};

TEST_F(live_destination_test, an_existing_database_is_dropped_in_mode_0_only)
{
    ensure_dest();
    conv->set_mode(1);
    conv->check_dest();
    EXPECT_TRUE(dest_exists());
    conv->set_mode(0);
    conv->check_dest();
    EXPECT_FALSE(dest_exists());
    // A destination that does not exist is left to the run.
    EXPECT_NO_THROW(conv->check_dest());
}

TEST_F(live_destination_test, a_mistyped_source_never_drops_the_destination)
{
    dest("CREATE TABLE precious (id INTEGER); INSERT INTO precious VALUES (1)");
    conv->set_source(L"qdrv_mistyped_source");
    conv->set_mode(0);
    EXPECT_THROW(conv->check_dest(), tk_exception);
    EXPECT_EQ(rows("SELECT id FROM precious"), std::vector<std::string>{"1"});
    // Nor does the run: it opens the source first and ends abnormally.
    conv->selected_tables = {L"precious"};
    run();
    EXPECT_TRUE(conv->ended_abnormally());
    EXPECT_EQ(rows("SELECT id FROM precious"), std::vector<std::string>{"1"});
}

}  // namespace

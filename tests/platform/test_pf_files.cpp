// Platform file services: the lexical full path and the settings file path.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/pf_files.h"
#include "platform/pf_settings.h"

namespace {

TEST(pf_files, full_path_is_normalised_lexically)
{
    struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"/", "/"},          {"/a/b/../c", "/a/c"}, {"/a/./b//c/", "/a/b/c/"},
        {"/../..", "/"},     {"/a/..", "/"},         {"/x.log", "/x.log"},
    };
    for (auto& c : cases) EXPECT_EQ(pf_full_path(c.in).value_or("?"), c.out) << c.in;
    auto cwd = pf_current_dir();
    ASSERT_TRUE(cwd);
    std::string base = *cwd == "/" ? "" : *cwd;
    EXPECT_EQ(pf_full_path("rel/x").value_or("?"), base + "/rel/x");
    EXPECT_EQ(pf_full_path("").value_or("?"), base + "/");
}

TEST(pf_files, settings_path_follows_the_key_path_and_stays_inside)
{
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    std::string keep = saved ? saved : "";
    const char* saved_home = std::getenv("HOME");
    std::string keep_home = saved_home ? saved_home : "";
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(pf_settings_file::path_for_key("Software\\Maker\\Product"), "/cfg/Software/Maker/Product.conf");
    EXPECT_EQ(pf_settings_file::path_for_key("..\\..\\etc\\x"), "/cfg/etc/x.conf");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);  // ignored: not absolute
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(pf_settings_file::path_for_key("A"), "/home/someone/.config/A.conf");
    if (saved)
        ::setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    if (saved_home)
        ::setenv("HOME", keep_home.c_str(), 1);
    else
        ::unsetenv("HOME");
}

}  // namespace

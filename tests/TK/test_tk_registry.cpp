// The settings store: every kind stored and loaded back exactly, a missing
// value keeping its preset, an empty text told from a missing one, and the
// file written privately and atomically.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "TK/tk_registry.h"
#include "test_tk_support.h"

namespace {

class settings_store : public ::testing::Test {
protected:
    tk_test::scratch_dir dir;
    std::string saved_xdg;
    bool had_xdg = false;
    const std::string key_path = "Software\\Quindrel Tests\\Wizard";

    void SetUp() override
    {
        if (const char* v = std::getenv("XDG_CONFIG_HOME")) {
            had_xdg = true;
            saved_xdg = v;
        }
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (had_xdg)
            ::setenv("XDG_CONFIG_HOME", saved_xdg.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    std::string settings_file() const { return dir.path() + "/Software/Quindrel Tests/Wizard.conf"; }
};

TEST_F(settings_store, every_kind_comes_back_exactly)
{
    bool flag_true = true, flag_false = false;
    std::uint32_t number = 0xFFFFFFFFu;
    std::int32_t port = 3306;
    std::string narrow = "host\twith\\odd\r\nbytes \x01\x7F \xFF\xFE";  // not even UTF-8
    std::string empty_narrow;
    std::wstring wide = L"Grüße 東京 😀\n\\t";
    {
        tk_serializer s(key_path);
        ASSERT_EQ(s.open_key(), 0);
        EXPECT_TRUE(s.serialize_item("flag true", flag_true, true));
        EXPECT_TRUE(s.serialize_item("flag false", flag_false, true));
        EXPECT_TRUE(s.serialize_item("number", number, true));
        EXPECT_TRUE(s.serialize_item("port", port, true));
        EXPECT_TRUE(s.serialize_item("narrow", narrow, true));
        EXPECT_TRUE(s.serialize_item("empty narrow", empty_narrow, true));
        EXPECT_TRUE(s.serialize_item(L"wide näme", wide, true));
        EXPECT_EQ(s.close_key(), 0);
    }
    struct stat st {};
    ASSERT_EQ(::stat(settings_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Only the settings file is left: the temporary file was renamed.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() + "/Software/Quindrel Tests"),
                            std::filesystem::directory_iterator()),
              1);

    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0);
    bool b1 = false, b2 = true;
    std::uint32_t n = 0;
    std::int32_t p = 0;
    std::string t1 = "preset", t2 = "preset";
    std::wstring w;
    EXPECT_TRUE(s.serialize_item("flag true", b1, false));
    EXPECT_TRUE(s.serialize_item("flag false", b2, false));
    EXPECT_TRUE(s.serialize_item("number", n, false));
    EXPECT_TRUE(s.serialize_item("port", p, false));
    EXPECT_TRUE(s.serialize_item("narrow", t1, false));
    EXPECT_TRUE(s.serialize_item("empty narrow", t2, false));
    EXPECT_TRUE(s.serialize_item(L"wide näme", w, false));
    EXPECT_TRUE(b1);
    EXPECT_FALSE(b2);
    EXPECT_EQ(n, 0xFFFFFFFFu);
    EXPECT_EQ(p, 3306);
    EXPECT_EQ(t1, narrow);
    EXPECT_EQ(t2, "");  // an empty text is a value, not a missing one
    EXPECT_EQ(w, wide);
}

TEST_F(settings_store, missing_or_mismatched_value_keeps_the_preset)
{
    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0);
    std::string text = "number";
    bool flag = true;
    std::uint32_t number = 42;
    std::string narrow = "preset";
    std::wstring wide = L"preset";
    EXPECT_FALSE(s.serialize_item("missing", flag, false));
    EXPECT_FALSE(s.serialize_item("missing", number, false));
    EXPECT_FALSE(s.serialize_item("missing", narrow, false));
    EXPECT_FALSE(s.serialize_item(L"missing", wide, false));
    EXPECT_TRUE(flag);
    EXPECT_EQ(number, 42u);
    EXPECT_EQ(narrow, "preset");
    EXPECT_EQ(wide, L"preset");
    // A number is never read as text, nor a text as a number.
    EXPECT_TRUE(s.serialize_item("text", text, true));
    EXPECT_FALSE(s.serialize_item("text", number, false));
    EXPECT_EQ(number, 42u);
}

TEST_F(settings_store, bool_reads_any_nonzero_number_as_true)
{
    tk_reg_key key;
    ASSERT_EQ(key.create(tk_reg_root::current_user, key_path), 0);
    EXPECT_EQ(key.set_value(2u, "flag"), 0);
    tk_serializer s(key_path);
    // Nothing saved yet: the other object sees no value.
    ASSERT_EQ(s.open_key(), 0);
    bool flag = false;
    EXPECT_FALSE(s.serialize_item("flag", flag, false));
    EXPECT_EQ(key.close(), 0);
    ASSERT_EQ(s.open_key(), 0);
    EXPECT_TRUE(s.serialize_item("flag", flag, false));
    EXPECT_TRUE(flag);
}

TEST_F(settings_store, without_open_key_both_directions_fail)
{
    tk_serializer s(key_path);
    bool flag = true;
    std::wstring wide = L"x";
    EXPECT_FALSE(s.serialize_item("flag", flag, true));
    EXPECT_FALSE(s.serialize_item("flag", flag, false));
    EXPECT_FALSE(s.serialize_item(L"wide", wide, true));
    EXPECT_FALSE(std::filesystem::exists(settings_file()));
    tk_reg_key key;
    EXPECT_EQ(key.close(), 0);  // nothing held
}

TEST_F(settings_store, damaged_lines_are_skipped_and_the_rest_loads)
{
    std::filesystem::create_directories(dir.path() + "/Software/Quindrel Tests");
    tk_test::write_file(settings_file(), "garbage line\nn\tport\t5432\nn\tbad\tnot a number\ns\tbroken\t\\q\ns\thost\tdb\\tone\n");
    tk_serializer s(key_path);
    ASSERT_EQ(s.open_key(), 0);
    std::uint32_t port = 0, bad = 9;
    std::string host, broken = "kept";
    EXPECT_TRUE(s.serialize_item("port", port, false));
    EXPECT_FALSE(s.serialize_item("bad", bad, false));
    EXPECT_FALSE(s.serialize_item("broken", broken, false));
    EXPECT_TRUE(s.serialize_item("host", host, false));
    EXPECT_EQ(port, 5432u);
    EXPECT_EQ(bad, 9u);
    EXPECT_EQ(host, "db\tone");
}

}  // namespace

// The profile file: exact stored text, store-load round trips, and reading
// files that other tools or older versions wrote.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_profile.h"

namespace fs = std::filesystem;

namespace {

class profile_file : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = (fs::temp_directory_path() / "udb_profile_XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir = templ;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::wstring path(const char* name) const { return tk_utf8_to_unicode((dir / name).string()); }

    static std::string read_all(const std::wstring& p)
    {
        std::ifstream in(tk_unicode_to_utf8(p), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void write_all(const std::wstring& p, const std::string& text)
    {
        std::ofstream out(tk_unicode_to_utf8(p), std::ios::binary);
        out << text;
    }
    std::size_t file_count() const
    {
        return std::size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    fs::path dir;
};

}  // namespace

TEST_F(profile_file, new_profile_stores_four_sections)
{
    udb_profile p;
    ASSERT_TRUE(p.store(path("p.pmr")));
    EXPECT_EQ(read_all(path("p.pmr")),
              "[Available Queries]\r\n\r\n[Generic settings]\r\n\r\n[Selected Tables]\r\n\r\n"
              "[Selected Views]\r\n\r\n");
}

TEST_F(profile_file, exact_stored_text)
{
    udb_profile p;
    p.set_value(L"MySQL settings", L"host", L"127.0.0.1");
    p.set_value(L"MySQL settings", L"password", L"p w$'\"");
    p.set_value(L"Generic settings", L"case sensitive", L"1");
    p.set_value(L"Selected Tables", L"orders", L"");
    p.set_value(L"Selected Tables", L"items", L"new_items");
    p.set_value(L"Available Queries", L"q1", L"");
    p.set_value(L"PostgreSQL Settings", L"schema", L"\u00e9t\u00e9");
    p.add_list_item(L"Type Mappings", L"database:");
    p.add_list_item(L"Type Mappings", L"tables:");
    p.add_list_item(L"Type Mappings", L"  - name: a=b");
    ASSERT_TRUE(p.store(path("p.pmr")));
    EXPECT_EQ(read_all(path("p.pmr")),
              "[Available Queries]\r\nq1=\r\n\r\n"
              "[Generic settings]\r\ncase sensitive=1\r\n\r\n"
              "[MySQL settings]\r\nhost=127.0.0.1\r\npassword=p w$'\"\r\n\r\n"
              "[PostgreSQL Settings]\r\nschema=\xC3\xA9t\xC3\xA9\r\n\r\n"
              "[Selected Tables]\r\norders\r\nitems=new_items\r\n\r\n"
              "[Selected Views]\r\n\r\n"
              "[Type Mappings]\r\ndatabase:\r\ntables:\r\n  - name: a=b\r\n");
}

TEST_F(profile_file, store_load_round_trip)
{
    udb_profile p;
    p.set_value(L"MySQL settings", L"password", L" secret=with=equals");
    p.set_value(L"Selected Tables", L"orders", L"");
    p.set_value(L"Available Queries", L"q1", L"select 1");
    const std::vector<std::wstring> mappings = {
        L"database:",           L"  engine: InnoDB",      L"tables:",
        L"  - name: a=b",       L"    new_name: c",       L"    fields:",
        L"      - name:x",      L"        default_value: 'x=y'",
    };
    for (const auto& line : mappings) p.add_list_item(L"Type Mappings", line);
    ASSERT_TRUE(p.store(path("p.pmr")));

    udb_profile q;
    ASSERT_TRUE(q.load(path("p.pmr")));
    EXPECT_EQ(q.get_value(L"MySQL settings", L"password"), L" secret=with=equals");
    EXPECT_EQ(q.get_value(L"Available Queries", L"q1"), L"select 1");
    ASSERT_EQ(q.get_selected_tables().size(), 1u);
    EXPECT_EQ(q.get_selected_tables()[0].first, L"orders");
    EXPECT_EQ(q.get_selected_tables()[0].second, L"");
    EXPECT_EQ(q.get_list(L"Selected Tables"), std::vector<std::wstring>{L"orders"});
    // Every type-mapping line comes back as it was, "=" or not.
    EXPECT_EQ(q.get_list(L"Type Mappings"), mappings);
}

TEST_F(profile_file, reading_rules)
{
    write_all(path("p.pmr"),
              "\xEF\xBB\xBF; written by hand\n"
              "# before any section\n"
              "[Generic settings]\n"
              "  key = value  \r\n"
              "a=b=c\n"
              "   plain line\n"
              "  ; a comment\n"
              "#mode=0\n"
              "\n"
              "[Selected Tables]\n"
              ";semicolon_table\n"
              "#hash_table\n"
              "[Generic settings]\n"
              "key=second\n");
    udb_profile p;
    ASSERT_TRUE(p.load(path("p.pmr"))) << p.load_error();
    EXPECT_EQ(p.load_error(), "");
    EXPECT_EQ(p.get_value(L"Generic settings", L"key"), L" value");
    EXPECT_EQ(p.get_value(L"Generic settings", L"a"), L"b=c");
    EXPECT_FALSE(p.has_value(L"Generic settings", L"#mode"));
    // Comments are read past; in a list section such a line is a name.
    EXPECT_EQ(p.get_list(L"Generic settings"), (std::vector<std::wstring>{L"   plain line"}));
    EXPECT_EQ(p.get_list(L"Selected Tables"), (std::vector<std::wstring>{L";semicolon_table", L"#hash_table"}));
    EXPECT_EQ(p.get_value(L"Generic settings", L"plain line"), L"");
    std::size_t keys = 0;
    for (const auto& [k, v] : p.get_sections().at(L"Generic settings")) keys += k == L"key";
    EXPECT_EQ(keys, 2u);
}

TEST_F(profile_file, lines_of_any_length)
{
    const std::wstring query = L"select " + std::wstring(20000, L'x');
    udb_profile p;
    p.set_value(L"Available Queries", L"big", query);
    ASSERT_TRUE(p.store(path("p.pmr")));
    udb_profile q;
    ASSERT_TRUE(q.load(path("p.pmr")));
    EXPECT_EQ(q.get_value(L"Available Queries", L"big"), query);
}

TEST_F(profile_file, bad_input)
{
    udb_profile p;
    EXPECT_THROW(p.load(path("missing.pmr")), tk_exception);
    // A folder exists: it is named as what it is, not as missing.
    EXPECT_FALSE(p.load(tk_utf8_to_unicode(dir.string())));
    EXPECT_EQ(p.load_error(), "it is not a regular file (a folder, device, pipe or socket)");

    // Refused whole, the line named: nothing of the file is taken.
    struct refused {
        const char* name;
        std::string bytes;
        std::string reason;
    };
    const refused cases[] = {
        {"orphan.pmr", "\n\nkey=value\n[S]\nx=1\n", "line 3 \"key=value\" comes before the first [section] header"},
        {"utf16.pmr", std::string("\xFF\xFE[\0S\0]\0", 8), "it is UTF-16 text; a profile is UTF-8 text"},
        {"binary.pmr", std::string("[S]\nx=1\n\x7F" "ELF\x02\x01\0\0", 16),
         "line 3 is not text (a zero byte, a control character or bytes that are not UTF-8)"},
        {"latin1.pmr", "[S]\nx=1\nhost=caf\xE9\n",
         "line 3 is not text (a zero byte, a control character or bytes that are not UTF-8)"},
    };
    for (const refused& c : cases) {
        write_all(path(c.name), c.bytes);
        udb_profile q;
        EXPECT_FALSE(q.load(path(c.name))) << c.name;
        EXPECT_EQ(q.load_error(), c.reason) << c.name;
        EXPECT_EQ(q.get_value(L"S", L"x"), L"") << c.name;
    }
    // A device is not read at all (it could stream without end).
    udb_profile device;
    EXPECT_FALSE(device.load(L"/dev/zero"));
    EXPECT_EQ(device.load_error(), "it is not a regular file (a folder, device, pipe or socket)");

    EXPECT_FALSE(p.store(path("no_such_folder/p.pmr")));
}

TEST_F(profile_file, new_file_is_private_and_existing_mode_is_kept)
{
    udb_profile p;
    p.set_value(L"MySQL settings", L"password", L"secret");
    ASSERT_TRUE(p.store(path("new.pmr")));
    struct stat st {};
    ASSERT_EQ(::stat(tk_unicode_to_utf8(path("new.pmr")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    write_all(path("old.pmr"), "[x]\n");
    ::chmod(tk_unicode_to_utf8(path("old.pmr")).c_str(), 0640);
    ASSERT_TRUE(p.store(path("old.pmr")));
    ASSERT_EQ(::stat(tk_unicode_to_utf8(path("old.pmr")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(file_count(), 2u);  // no temporary file left behind
}

TEST_F(profile_file, failed_write_reports_false_and_keeps_the_old_file)
{
    write_all(path("p.pmr"), "[Generic settings]\nold=1\n");
    udb_profile p;
    p.set_value(L"Available Queries", L"big", std::wstring(100000, L'x'));

    // A file-size limit makes the write itself fail (EFBIG).
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool stored = p.store(path("p.pmr"));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_FALSE(stored);
    EXPECT_EQ(read_all(path("p.pmr")), "[Generic settings]\nold=1\n");
    EXPECT_EQ(file_count(), 1u);

    // A target that is a folder cannot be replaced.
    fs::create_directory(dir / "folder.pmr");
    EXPECT_FALSE(p.store(path("folder.pmr")));
    EXPECT_EQ(file_count(), 2u);
}

TEST(udb_profile, values_and_sections)
{
    udb_profile p;
    EXPECT_EQ(p.get_value(L"none", L"k"), L"");
    p.set_value(L"S", L"k", L"1");
    p.set_value(L"S", L"k", L"2");
    EXPECT_EQ(p.get_value(L"S", L"k"), L"1");
    EXPECT_EQ(p.get_value(L"S", L"K"), L"");
    EXPECT_TRUE(p.get_list(L"L").empty());
    p.get_list(L"L").push_back(L"x");
    EXPECT_EQ(p.get_list(L"L").size(), 1u);
    EXPECT_TRUE(p.get_available_queries().empty());
    EXPECT_TRUE(p.get_selected_views().empty());
}

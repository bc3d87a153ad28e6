// The option parser and the table-list file, in process: what each option
// sets, and the option errors that end the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "console/console_frontend.h"
#include "console/console_options.h"
#include "console_test_support.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"

namespace {

using console_test::scratch;

class console_options_test : public ::testing::Test {
protected:
    // Parses prog + the arguments; the argument texts live in the fixture.
    bool parse(std::vector<std::string> arguments)
    {
        m_texts = std::move(arguments);
        m_texts.insert(m_texts.begin(), "quindrel");
        m_argv.clear();
        for (auto& t : m_texts)
            m_argv.push_back(t.data());
        m_argv.push_back(nullptr);
        return parse_cmd_line(static_cast<int>(m_texts.size()), m_argv.data());
    }
    // Parses arguments that must end the program; gives what went to stderr.
    std::string parse_to_exit(std::vector<std::string> arguments)
    {
        ::testing::internal::CaptureStderr();
        bool ended = false;
        try {
            parse(std::move(arguments));
        } catch (const console_exit& e) {
            ended = e.code == -1;
        }
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(ended) << "the program was not ended with -1";
        return err;
    }
    static std::vector<std::string> with_names(std::vector<std::string> more)
    {
        more.insert(more.begin(), {"--src=s", "--dest=d"});
        return more;
    }

    tk_logger logger{nullptr, false, 3, false};
    console_hooks_scope hooks;
    error_handler handler{pgs_error_table};
    pelmora_convertor conv{convertor_form::console};
    pgs_engine& engine = conv.get_pgs_engine();

private:
    std::vector<std::string> m_texts;
    std::vector<char*> m_argv;
};

TEST_F(console_options_test, defaults_without_options)
{
    ASSERT_TRUE(parse(with_names({})));
    EXPECT_EQ(conv.n_mode, 0);
    EXPECT_TRUE(conv.b_direct);
    EXPECT_TRUE(conv.selected_tables.empty());
    EXPECT_FALSE(engine.fast_insert);
    EXPECT_FALSE(engine.is_case_sens);
    EXPECT_FALSE(engine.unlogged);
    EXPECT_EQ(conv.pgs_schema, L"public");
    EXPECT_EQ(conv.client_encoding, L"UTF8");
    EXPECT_EQ(conv.mysql_port, "3306");
    EXPECT_EQ(conv.pgs_port, 5432);
    EXPECT_EQ(conv.get_source(), L"s");
    EXPECT_EQ(conv.get_destination(), L"d");
}

TEST_F(console_options_test, switches_and_values_reach_the_convertor_and_engine)
{
    ASSERT_TRUE(parse({"--src=first", "--src=Zoë", "--dest=my db", "--dumpfile", "--case_sens", "--fast_insert",
                       "--unlogged", "--skip_idx", "--tab_def", "--views", "--schema=sales", "--mode=3",
                       "--ssl_root_cert=/c/root.crt", "--ssl_revoc_list=/c/list.crl", "--myport=3307",
                       "--mysqlh= db.example ", "--mysqlu=u", "--mysqlp=p w", "--pgport=6543", "--posgsh=pg",
                       "--posgsu=pu", "--posgsp=it's $x"}));
    EXPECT_EQ(conv.get_source(), L"Zoë");  // a later value replaces the earlier one
    EXPECT_EQ(conv.get_destination(), L"my db");
    EXPECT_FALSE(conv.b_direct);  // --dumpfile is --dump: text after a switch is ignored
    EXPECT_TRUE(conv.b_case_sens);
    EXPECT_TRUE(engine.is_case_sens);
    EXPECT_TRUE(engine.fast_insert);
    EXPECT_TRUE(engine.unlogged);
    EXPECT_TRUE(conv.skip_idx);
    EXPECT_TRUE(conv.tab_def);
    EXPECT_TRUE(conv.convert_views);  // --views: every source view is converted
    EXPECT_EQ(conv.pgs_schema, L"sales");
    EXPECT_EQ(conv.n_mode, 3);
    EXPECT_TRUE(engine.ssl_use);
    EXPECT_EQ(engine.ssl_rcert, L"/c/root.crt");
    EXPECT_EQ(engine.ssl_revoc, L"/c/list.crl");
    EXPECT_EQ(conv.mysql_port, "3307");
    EXPECT_EQ(conv.mysql_host, "db.example");
    EXPECT_EQ(conv.mysql_user, "u");
    EXPECT_EQ(conv.mysql_password, "p w");
    EXPECT_EQ(conv.pgs_port, 6543);
    EXPECT_EQ(conv.pgs_host, "pg");
    EXPECT_EQ(conv.pgs_user, "pu");
    EXPECT_EQ(conv.pgs_password, "it's $x");
}

TEST_F(console_options_test, an_unknown_option_is_named_before_the_usage_even_when_silent)
{
    const std::string usage = std::string(console_usage_text) + "\n";
    EXPECT_EQ(parse_to_exit({"--bogus", "--silently"}), "unknown option --bogus\n" + usage);
    // A mistyped password option is named without its value; a bare word is not repeated.
    EXPECT_EQ(parse_to_exit(with_names({"--mysqlpass=s3cret"})), "unknown option --mysqlpass\n" + usage);
    std::vector<std::string> junk;
    for (int i = 0; i < 30; ++i)
        junk.push_back("junk" + std::to_string(i));
    EXPECT_EQ(parse_to_exit(with_names(junk)), "unexpected argument (not an option)\n" + usage);
}

TEST_F(console_options_test, help_writes_the_usage_to_standard_output_and_succeeds)
{
    ::testing::internal::CaptureStdout();
    int code = -2;
    try {
        parse({"--src=s", "--help", "--bogus"});
    } catch (const console_exit& e) {
        code = e.code;
    }
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, std::string(console_usage_text) + "\n");
    for (const char* text : {"4 - synchronize", "EXIT STATUS", "255"})
        EXPECT_NE(out.find(text), std::string::npos) << text;
}

struct mode_case {
    const char* value;
    int mode;  // -1: refused
};
std::ostream& operator<<(std::ostream& os, const mode_case& c) { return os << '"' << c.value << '"'; }

class console_mode_test : public console_options_test, public ::testing::WithParamInterface<mode_case> {};

TEST_P(console_mode_test, only_the_plain_digits_0_to_4_are_modes)
{
    const mode_case& c = GetParam();
    const std::string option = std::string("--mode=") + c.value;
    if (c.mode >= 0) {
        ASSERT_TRUE(parse(with_names({option})));
        EXPECT_EQ(conv.n_mode, c.mode);
    } else {
        EXPECT_EQ(parse_to_exit(with_names({option})), "Invalid merge/overwrite mode\n");
    }
}

INSTANTIATE_TEST_SUITE_P(cases, console_mode_test,
                         ::testing::Values(mode_case{"0", 0}, mode_case{"3", 3}, mode_case{"4", 4},
                                           mode_case{"03", -1}, mode_case{"+3", -1}, mode_case{"3x", -1},
                                           mode_case{"5", -1}, mode_case{"-1", -1}, mode_case{"", -1},
                                           mode_case{" 3", -1}, mode_case{"4294967296", -1}));

TEST_F(console_options_test, ports_empty_pg_port_is_none_and_a_bad_one_is_refused)
{
    ASSERT_TRUE(parse(with_names({"--pgport=", "--myport="})));
    EXPECT_EQ(conv.pgs_port, 0);
    EXPECT_EQ(conv.mysql_port, "3306");
    for (const char* bad : {"--pgport=abc", "--pgport=70000", "--pgport=0", "--pgport=54 32"}) {
        try {
            parse(with_names({bad}));
            ADD_FAILURE() << bad << " was accepted";
        } catch (const tk_exception& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Invalid port number '" + std::string(bad + 9) + "' given for PostgreSQL (--pgport)");
            EXPECT_EQ(e.get_level(), 1);
        }
    }
}

TEST_F(console_options_test, encoding_names_and_aliases_are_found_as_offered)
{
    EXPECT_EQ(find_client_encoding("latin1"), L"ISO8859-1");
    EXPECT_EQ(find_client_encoding("iso_8859_1"), L"ISO8859-1");
    EXPECT_EQ(find_client_encoding("cp1252"), L"WIN1252");
    EXPECT_EQ(find_client_encoding("Win1251"), L"WIN1251");
    EXPECT_EQ(find_client_encoding("utf-8"), L"UTF8");
    EXPECT_EQ(find_client_encoding("klingon"), L"");
    EXPECT_EQ(find_client_encoding(""), L"");
}

TEST_F(console_options_test, an_offered_encoding_is_accepted_in_any_spelling)
{
    for (const auto& [given, chosen] : {std::pair{"utf-8", L"UTF8"}, std::pair{"latin1", L"ISO8859-1"},
                                        std::pair{"WIN1252", L"WIN1252"}, std::pair{"sjis", L"SJIS"}}) {
        conv.client_encoding = L"";
        ASSERT_TRUE(parse(with_names({std::string("--encoding=") + given}))) << given;
        EXPECT_EQ(conv.client_encoding, chosen) << given;
    }
}

struct exit_case {
    const char* name;
    std::vector<std::string> arguments;
    std::string err;
};
std::ostream& operator<<(std::ostream& os, const exit_case& c) { return os << c.name; }

class console_exit_test : public console_options_test, public ::testing::WithParamInterface<exit_case> {};

TEST_P(console_exit_test, ends_the_program_with_its_text_on_standard_error)
{
    EXPECT_EQ(parse_to_exit(GetParam().arguments), GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    cases, console_exit_test,
    ::testing::Values(
        exit_case{"no_source", {"--dest=d"}, "You should enter source MySQL database name\n"},
        exit_case{"empty_destination", {"--src=s", "--dest="}, "You should enter destination PostgreSQL database name\n"},
        exit_case{"silent_still_says_why", {"--silent", "--dest=d"}, "You should enter source MySQL database name\n"},
        exit_case{"schema_with_a_dot", {"--src=s", "--dest=d", "--schema=a.b"},
                  "Invalid schema name 'a.b': a schema name is one name and cannot hold a '.'\n"},
        exit_case{"unknown_encoding", {"--src=s", "--dest=d", "--encoding=klingon"},
                  "Unknown PostgreSQL encoding 'klingon'\n"},
        exit_case{"empty_encoding", {"--src=s", "--dest=d", "--encoding="}, "Unknown PostgreSQL encoding ''\n"},
        exit_case{"encoding_with_control_characters", {"--src=s", "--dest=d", "--encoding=x\ny\x1B[31m"},
                  "Unknown PostgreSQL encoding 'x\\ny\\x1B[31m'\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(console_options_test, a_log_file_that_is_a_folder_raises_its_error)
{
    scratch dir;
    try {
        parse(with_names({"--logfile=" + dir.path()}));
        FAIL() << "accepted";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.get_level(), 1);
        EXPECT_STREQ(e.what(), "Logfile name specifies an existing path.");
    }
}

struct tab_file_case {
    const char* name;
    const char* bytes;
    std::vector<std::wstring> tables;
};
std::ostream& operator<<(std::ostream& os, const tab_file_case& c) { return os << c.name; }

class console_tab_file_test : public console_options_test, public ::testing::WithParamInterface<tab_file_case> {};

TEST_P(console_tab_file_test, one_name_per_line)
{
    scratch dir;
    const std::string path = dir.write("tables.txt", GetParam().bytes);
    ASSERT_TRUE(parse(with_names({"--tab_file=" + path})));
    EXPECT_EQ(conv.selected_tables, GetParam().tables);
}

INSTANTIATE_TEST_SUITE_P(
    cases, console_tab_file_test,
    ::testing::Values(
        tab_file_case{"bom_crlf_and_empty_lines", "\xEF\xBB\xBForders\r\n\r\n\nitems\r\nZo\xC3\xAB\n",
                      {L"orders", L"items", L"Zoë"}},
        tab_file_case{"no_bom_last_line_without_end", "orders\nitems", {L"orders", L"items"}},
        tab_file_case{"blanks_are_part_of_the_name", " orders \n", {L" orders "}},
        tab_file_case{"bom_alone_on_the_first_line", "\xEF\xBB\xBF\norders\n", {L"orders"}},
        tab_file_case{"bom_after_empty_lines", "\n\n\xEF\xBB\xBForders\n", {L"orders"}},
        // No source table is named only with spaces: such a line is blank, not a missing table.
        tab_file_case{"lines_of_spaces_are_blank", "\xEF\xBB\xBF  \r\norders\n   \r\n \nitems\n", {L"orders", L"items"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct bad_tab_file_case {
    const char* name;
    std::string bytes;
    const char* error;  // start of the message on standard error
};
std::ostream& operator<<(std::ostream& os, const bad_tab_file_case& c) { return os << c.name; }

class console_bad_tab_file_test : public console_options_test,
                                  public ::testing::WithParamInterface<bad_tab_file_case> {};

// A list that is not text, or lists nothing, would convert garbage names or every
// table of the source: refused with a clear message instead.
TEST_P(console_bad_tab_file_test, is_refused_with_a_clear_message)
{
    scratch dir;
    const std::string path = dir.write("tables.txt", GetParam().bytes);
    const std::string err = parse_to_exit(with_names({"--tab_file=" + path}));
    EXPECT_EQ(err.rfind(GetParam().error, 0), 0u) << err;
    EXPECT_NE(err.find(path), std::string::npos) << err;
    EXPECT_TRUE(conv.selected_tables.empty());
}

INSTANTIATE_TEST_SUITE_P(
    cases, console_bad_tab_file_test,
    ::testing::Values(
        bad_tab_file_case{"zero_byte", std::string("orders\nit\0ems\n", 13), "Table names file is not a text file"},
        bad_tab_file_case{"binary", "\x7F" "ELF\x02\x01\x01\n", "Table names file is not a text file"},
        bad_tab_file_case{"invalid_utf8", "orders\n\xC3\x28\n", "Table names file is not a text file"},
        bad_tab_file_case{"only_empty_lines", "\n\r\n\n", "Table names file lists no table"},
        bad_tab_file_case{"only_spaces", "  \r\n \n", "Table names file lists no table"},
        bad_tab_file_case{"empty_file", "", "Table names file lists no table"}),
    [](const auto& info) { return std::string(info.param.name); });

// Neither is read: a device could stream without end, and no table list is that large.
TEST_F(console_options_test, a_device_or_a_huge_table_file_is_refused_before_it_is_read)
{
    EXPECT_EQ(parse_to_exit(with_names({"--tab_file=/dev/zero"})),
              "Table names file cannot be read: /dev/zero: it is not a regular file (a folder, device, pipe or "
              "socket)\n");
    scratch dir;
    const std::string huge = dir.file("huge.txt");
    {
        std::ofstream(huge) << "orders\n";
    }
    std::filesystem::resize_file(huge, std::uintmax_t(1) << 32);  // sparse: no disk used
    EXPECT_EQ(parse_to_exit(with_names({"--tab_file=" + huge})),
              "Table names file cannot be read: " + huge + ": it is far larger than such a file can be\n");
    EXPECT_TRUE(conv.selected_tables.empty());
}

TEST_F(console_options_test, a_second_table_file_replaces_the_first)
{
    scratch dir;
    const std::string a = dir.write("a.txt", "one\ntwo\n");
    const std::string b = dir.write("b.txt", "three\n");
    ASSERT_TRUE(parse(with_names({"--tab_file=" + a, "--tab_file=" + b})));
    EXPECT_EQ(conv.selected_tables, std::vector<std::wstring>{L"three"});
}

TEST_F(console_options_test, a_missing_or_folder_table_file_ends_the_program)
{
    scratch dir;
    EXPECT_EQ(parse_to_exit(with_names({"--tab_file=" + dir.file("nosuch.txt")})),
              "Table names file does not exist.\nPlease verify the correct path/name was given.\n");
    EXPECT_EQ(parse_to_exit(with_names({"--tab_file=" + dir.path()})),
              "Table names file cannot be read: " + dir.path() +
                  ": it is not a regular file (a folder, device, pipe or socket)\n");
}

// Opening a pipe that nobody reads would wait for ever, deaf to stop signals.
TEST_F(console_options_test, a_log_file_that_is_a_pipe_nobody_reads_is_refused)
{
    scratch dir;
    const std::string pipe = dir.file("log.pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(parse_to_exit(with_names({"--logfile=" + pipe})),
              "The log file '" + pipe + "' is a pipe that no program reads. Nothing was converted.\n");
}

// The log is emptied when it is opened: a log file that is the script would
// lose the earlier script, or be written over by the new one.
TEST_F(console_options_test, a_log_file_that_is_the_script_file_is_refused_and_the_script_kept)
{
    scratch dir;
    const std::string script = dir.write("out.sql", "-- earlier script\n");
    // The same file by the same name, by another spelling, and a script not yet written.
    for (const auto& [dest, log] : {std::pair{script, script}, std::pair{script, dir.path() + "/./out.sql"},
                                    std::pair{dir.path() + "/./new.sql", dir.file("new.sql")}}) {
        EXPECT_EQ(parse_to_exit({"--src=s", "--dest=" + dest, "--dump", "--logfile=" + log}),
                  "The log file '" + log + "' is the script file: give the log another name. Nothing was "
                  "converted.\n");
    }
    std::ifstream in(script);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "-- earlier script\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.sql")));
}

// Nor may the log or the script be a file the run reads: the table list or the profile would
// be emptied by the log, or replaced by the script at the end of the run.
TEST_F(console_options_test, a_log_or_script_that_is_the_table_list_or_the_profile_is_refused_and_the_file_kept)
{
    scratch dir;
    const std::string list = dir.write("tables.txt", "orders\n");
    const std::string profile = dir.write("run.pmr", "[Generic settings]\nmode=3\n");
    struct input_case {
        std::vector<std::string> args;
        std::string said;
    };
    const input_case cases[] = {
        {{"--dest=d", "--tab_file=" + list, "--logfile=" + dir.path() + "/./tables.txt"},
         "The log file '" + dir.path() + "/./tables.txt' is the table list: give the log another name."},
        {{"--dest=d", "--profile=" + profile, "--logfile=" + profile}, "The log file '" + profile + "' is the profile: give the log"},
        {{"--dump", "--dest=" + list, "--tab_file=" + list}, "The script file '" + list + "' is the table list: give the script"},
        {{"--profile=" + profile, "--dest=" + profile, "--dump"}, "The script file '" + profile + "' is the profile: give the script"},
        {{"--dest=d", "--ssl_root_cert=" + list, "--logfile=" + list}, "The log file '" + list + "' is the SSL file: give the log"},
    };
    for (const input_case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--src=s");
        const std::string err = parse_to_exit(args);
        EXPECT_TRUE(err.starts_with(c.said)) << err;
        EXPECT_TRUE(err.ends_with(" another name. Nothing was converted.\n")) << err;
    }
    EXPECT_EQ(console_test::read_file(list), "orders\n");
    EXPECT_EQ(console_test::read_file(profile), "[Generic settings]\nmode=3\n");
}

// The command line wins over a profile whatever their order; the profile fills what the
// command line does not give, and a section it lacks leaves the options as given.
TEST_F(console_options_test, options_win_over_the_profile_whatever_the_order)
{
    scratch dir;
    const std::string profile = dir.write("conv.profile",
                                          "; made by hand\n"
                                          "[Generic settings]\nsrc=profsrc\ndest=profdest\nmode=0\ncase_sens=1\n\n"
                                          "[MySQL settings]\nhost=myprof\nuser=myuser\npassword=mypw\nport=3310\n\n"
                                          "[PostgreSQL Settings]\nhost=pgprof\nuser=pguser\nport=6000\n"
                                          "direct mode=1\n\n"
                                          "[Selected Tables]\nfrom_profile\n");
    ASSERT_TRUE(parse({"--posgsh=cmdline", "--mysqlh=cmdline", "--mode=3", "--profile=" + profile, "--pgport=1",
                       "--dump", "--dest=out.sql"}));
    EXPECT_EQ(conv.pgs_host, "cmdline");
    EXPECT_EQ(conv.pgs_port, 1);
    EXPECT_EQ(conv.pgs_user, "pguser");
    EXPECT_EQ(conv.mysql_host, "cmdline");
    EXPECT_EQ(conv.mysql_user, "myuser");
    EXPECT_EQ(conv.mysql_password, "mypw");
    EXPECT_EQ(conv.mysql_port, "3310");
    EXPECT_EQ(conv.n_mode, 3);
    EXPECT_FALSE(conv.b_direct);
    EXPECT_EQ(conv.get_destination(), L"out.sql");
    EXPECT_EQ(conv.get_source(), L"profsrc");
    // The profile's own case rule holds where the command line says nothing.
    EXPECT_TRUE(engine.is_case_sens);
    EXPECT_EQ(conv.query_list, (std::vector<udb_work_item>{{L"from_profile", L""}}));
    EXPECT_EQ(console_run_line(), "Destination: script file 'out.sql' (mode 3: merge)");

    // A table list is the whole selection: the profile's is not converted beside it.
    const std::string list = dir.write("tables.txt", "listed\n");
    ASSERT_TRUE(parse({"--tab_file=" + list, "--profile=" + profile}));
    EXPECT_TRUE(conv.query_list.empty());
    EXPECT_EQ(conv.selected_tables, std::vector<std::wstring>{L"listed"});
}

TEST_F(console_options_test, a_profile_without_connection_sections_leaves_the_options_as_given)
{
    scratch dir;
    const std::string bare = dir.write("bare.profile", "[Generic settings]\nsrc=s\ndest=d\n");
    ASSERT_TRUE(parse({"--mysqlh=127.0.0.1", "--mysqlp=secret", "--profile=" + bare}));
    EXPECT_EQ(conv.mysql_host, "127.0.0.1");
    EXPECT_EQ(conv.mysql_password, "secret");
    EXPECT_EQ(conv.mysql_port, "3306");
}

TEST_F(console_options_test, a_missing_profile_raises_its_error)
{
    scratch dir;
    try {
        parse(with_names({"--profile=" + dir.file("none.profile")}));
        FAIL() << "accepted";
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Profile does not exist. Please verify the correct path/name was given.");
    }
}

// A profile that cannot be loaded is an error, its reason named, before any setting of it
// is taken.
TEST_F(console_options_test, a_profile_that_cannot_be_loaded_ends_the_program)
{
    scratch dir;
    const std::string profile = dir.write("bad.profile", "mode=0\n[Generic settings]\ndest=x\n");
    EXPECT_EQ(parse_to_exit(with_names({"--profile=" + profile})),
              "The profile '" + profile +
                  "' cannot be loaded: line 1 \"mode=0\" comes before the first [section] header. Nothing was "
                  "converted.\n");
    EXPECT_EQ(conv.get_destination(), L"");
    EXPECT_EQ(parse_to_exit(with_names({"--profile=" + dir.path()})),
              "The profile '" + dir.path() +
                  "' cannot be loaded: it is not a regular file (a folder, device, pipe or socket). Nothing was "
                  "converted.\n");
    const std::string bad_mode = dir.write("mode.profile", "[Generic settings]\nmode=7\n");
    EXPECT_THROW(parse(with_names({"--profile=" + bad_mode})), tk_exception);
}

}  // namespace

// File names, existence tests, access checks and the log file checks of
// set_logfile (the access checks run as an unprivileged user: root passes
// every check).
#include <gtest/gtest.h>

#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TK/tk_exception.h"
#include "TK/tk_file_names.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "TK/tk_thread.h"
#include "test_tk_support.h"

namespace {

std::string current_dir() { return std::filesystem::current_path().string(); }

struct name_case {
    std::string path;
    std::string dir, name, ext;
};

TEST(tk_file_name_test, splits_the_full_form_of_the_path)
{
    const std::string cwd = current_dir();
    const std::string cwd_dir = cwd == "/" ? "/" : cwd + "/";
    const name_case cases[] = {
        {"/var/log/x.log", "/var/log/", "x", ".log"},
        {"/var/log/", "/var/log/", "", ""},                 // ends with a separator
        {"bare.txt", cwd_dir, "bare", ".txt"},              // bare name: current folder
        {"/a/b/../c/./d.tar.gz", "/a/c/", "d.tar", ".gz"},  // normalised; last dot
        {"/a//b/noext", "/a/b/", "noext", ""},
        {"/home/u/.profile", "/home/u/", ".profile", ""},   // a leading dot is part of the name
    };
    for (const auto& c : cases) {
        tk_file_name n(c.path);
        EXPECT_EQ(n.get_dir(), c.dir) << c.path;
        EXPECT_EQ(n.get_name(), c.name) << c.path;
        EXPECT_EQ(n.get_ext(), c.ext) << c.path;
        EXPECT_EQ(n.get_drive(), "");
        EXPECT_EQ(n.get_path(), c.dir);
        tk_file_wname w(tk_utf8_to_unicode(c.path));
        EXPECT_EQ(tk_unicode_to_utf8(w.get_full_path()), n.get_full_path());
    }
}

TEST(tk_file_name_test, empty_path_is_the_program_folder_without_name)
{
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    tk_file_name n("");
    EXPECT_EQ(n.get_dir(), program.parent_path().string() + "/");
    EXPECT_EQ(n.get_name(), "");
    EXPECT_EQ(n.get_ext(), program.extension().string());
    EXPECT_EQ(tk_get_module_name(), program.string());
    EXPECT_EQ(tk_get_module_dir(), program.parent_path().string() + "/");
}

TEST(tk_file_name_test, long_path_is_no_internal_error)
{
    std::string long_path = "/tmp";
    while (long_path.size() < 600) long_path += "/segment_of_a_long_path";
    long_path += "/trace.log";
    tk_file_name n(long_path);
    EXPECT_EQ(n.get_full_path(), long_path);
    EXPECT_EQ(n.get_name(), "trace");
}

TEST(tk_file_name_test, null_path_is_an_internal_error)
{
    EXPECT_THROW(tk_file_name(static_cast<const char*>(nullptr)), tk_mail_assertion);
}

TEST(tk_file_tests, existence_modes_and_folders)
{
    tk_test::scratch_dir dir;
    std::string writable = dir.file("w.txt"), read_only = dir.file("r.txt");
    tk_test::write_file(writable, "x");
    tk_test::write_file(read_only, "x");
    ::chmod(read_only.c_str(), 0444);

    EXPECT_TRUE(tk_is_path_exist(dir.path()));
    EXPECT_TRUE(tk_is_path_exist(std::string()));        // the program's folder
    EXPECT_FALSE(tk_is_path_exist(writable));             // a file cannot be entered
    EXPECT_FALSE(tk_is_path_exist(dir.file("missing")));
    EXPECT_TRUE(tk_is_path_exist(tk_utf8_to_unicode(dir.path())));

    EXPECT_FALSE(tk_is_file_exist1(dir.path(), tk_file_exists_mode));  // a folder
    EXPECT_TRUE(tk_is_file_exist1(writable, tk_file_exists_mode));
    EXPECT_TRUE(tk_is_file_exist1(writable, tk_file_writable_mode));
    EXPECT_TRUE(tk_is_file_exist1(read_only, tk_file_exists_mode));
    EXPECT_FALSE(tk_is_file_exist1(read_only, tk_file_writable_mode));
    EXPECT_FALSE(tk_is_file_exist2(tk_utf8_to_unicode(dir.file("missing")), tk_file_exists_mode));

    // Any other mode creates (empties) the file as a probe.
    EXPECT_TRUE(tk_is_file_exist1(writable, 2));
    EXPECT_EQ(tk_test::read_file(writable), "");
    EXPECT_THROW(tk_is_file_exist1(dir.file("missing/x"), 2), tk_exception_ex);
}

TEST(tk_file_tests, temp_chdir_into_missing_folder_changes_nothing)
{
    tk_test::scratch_dir dir;
    const std::string before = current_dir();
    {
        tk_temp_chdir change(dir.file("missing"));
        EXPECT_FALSE(change.is_changed());
        EXPECT_EQ(current_dir(), before);
    }
    EXPECT_EQ(current_dir(), before);
    {
        tk_temp_chdir change(dir.path());
        EXPECT_TRUE(change.is_changed());
        EXPECT_EQ(std::filesystem::canonical(current_dir()), std::filesystem::canonical(dir.path()));
    }
    EXPECT_EQ(current_dir(), before);
}

// --- set_logfile ---

class set_logfile_test : public ::testing::Test {
protected:
    tk_test::scratch_dir dir;
    tk_converter converter;

    static std::string failure_of(tk_converter& c, const std::string& name)
    {
        try {
            c.set_logfile(name);
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.get_level(), 1);
            EXPECT_EQ(e.get_error_code(), 0);
            return e.what();
        }
        return "";
    }
};

TEST_F(set_logfile_test, without_logger_nothing_is_stored)
{
    converter.set_logfile(dir.file("x.log"));
    EXPECT_EQ(converter.get_logfile(), "");
}

TEST_F(set_logfile_test, empty_name_is_stored_and_leaves_logging_as_it_was)
{
    tk_logger logger(dir.file("a.log").c_str(), false, 3, false);
    converter.set_logfile("");
    EXPECT_EQ(converter.get_logfile(), "");
    EXPECT_FALSE(logger.is_enabled());
    EXPECT_EQ(logger.get_file_name(), dir.file("a.log"));
}

TEST_F(set_logfile_test, refused_names_give_their_texts_and_keep_the_logger)
{
    tk_logger logger(dir.file("a.log").c_str(), false, 3, false);
    std::string read_only = dir.file("ro.log");
    tk_test::write_file(read_only, "");
    ::chmod(read_only.c_str(), 0444);

    EXPECT_EQ(failure_of(converter, dir.path()), "Logfile name specifies an existing path.");
    EXPECT_EQ(failure_of(converter, read_only), "Logfile name specifies an existing read-only file.");
    EXPECT_EQ(converter.get_logfile(), read_only);  // stored before the check failed
    EXPECT_EQ(failure_of(converter, dir.file("missing/x.log")),
              "Logfile path does not exist.\nPlease verify the correct path was given.");
    EXPECT_FALSE(logger.is_enabled());
    EXPECT_EQ(logger.get_file_name(), dir.file("a.log"));
}

TEST_F(set_logfile_test, accepted_name_switches_logging_on_without_touching_the_file)
{
    tk_logger logger(nullptr, false, 3, false);
    std::string name = dir.file("run.log");
    tk_test::write_file(name, "previous run\r\n");
    converter.set_logfile(name);
    EXPECT_TRUE(logger.is_enabled());
    EXPECT_EQ(logger.get_file_name(), name);
    EXPECT_EQ(tk_test::read_file(name), "previous run\r\n");  // untouched until the next line
    tk_write_log(3, "first line");
    EXPECT_EQ(tk_test::read_file(name), "first line\r\n");
}

TEST_F(set_logfile_test, log_path_longer_than_259_characters_is_accepted)
{
    tk_logger logger(nullptr, false, 3, false);
    std::string folder = dir.path();
    while (folder.size() < 400) folder += "/a_folder_name_that_makes_the_path_long";
    std::filesystem::create_directories(folder);
    std::string name = folder + "/run.log";
    converter.set_logfile(name);
    EXPECT_TRUE(logger.is_enabled());
    tk_write_log(3, "deep");
    EXPECT_EQ(tk_test::read_file(name), "deep\r\n");
}

// Runs a check in a child process as the unprivileged user "nobody"; the
// check's result travels back as the exit status. Without root the check runs
// as the current user.
template <class Check>
int run_unprivileged(Check check)
{
    if (::geteuid() != 0) return check();
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        struct passwd* nobody = ::getpwnam("nobody");
        uid_t uid = nobody ? nobody->pw_uid : 65534;
        gid_t gid = nobody ? nobody->pw_gid : 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(100);
        int result = 101;
        try {
            result = check();
        } catch (...) {
            result = 102;
        }
        ::_exit(result);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(set_logfile_test, folder_without_write_permission_is_refused)
{
    // A folder others may enter but not write, and one they may write.
    std::string locked = dir.file("locked"), open = dir.file("open");
    std::filesystem::create_directory(locked);
    std::filesystem::create_directory(open);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(locked.c_str(), 0555);
    ::chmod(open.c_str(), 0777);
    std::string locked_log = locked + "/x.log", open_log = open + "/x.log";

    int result = run_unprivileged([&]() -> int {
        if (tk_has_file_access(locked, tk_generic_write)) return 1;
        if (!tk_has_file_access(locked, tk_generic_read)) return 2;
        if (!tk_has_file_access(open, tk_generic_write)) return 3;
        if (tk_has_file_access(locked + "/missing", tk_generic_read)) return 4;
        tk_logger logger(nullptr, false, 3, false);
        tk_converter c;
        std::string text;
        try {
            c.set_logfile(locked_log);
        } catch (const tk_exception& e) {
            text = e.what();
        }
        if (text != "Cannot create log file. Make sure you have sufficient\n"
                    "privileges to create files in the directory.")
            return 5;
        if (logger.is_enabled()) return 6;
        c.set_logfile(open_log);
        if (!logger.is_enabled()) return 7;
        return 0;
    });
    EXPECT_EQ(result, 0) << "1-4: access check wrong, 5-7: set_logfile wrong, 100: cannot drop root";
}

}  // namespace

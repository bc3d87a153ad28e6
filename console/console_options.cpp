#include "console/console_options.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TK/tk_exception.h"
#include "TK/tk_file_names.h"
#include "TK/tk_list_file.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "console/console_frontend.h"
#include "driver/error_handler.h"
#include "UDB/udb_profile.h"
#include "driver/pelmora_convertor.h"
#include "driver/profile_sections.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_engine.h"

const cmd_line_option console_options[console_option_count + 1] = {
    {opt_case_sens, "--case_sens"},
    {opt_dest, "--dest="},
    {opt_dump, "--dump"},
    {opt_fast_insert, "--fast_insert"},
    {opt_help, "--help"},
    {opt_logfile, "--logfile="},
    {opt_mode, "--mode="},
    {opt_myport, "--myport="},
    {opt_mysqlh, "--mysqlh="},
    {opt_mysqlu, "--mysqlu="},
    {opt_mysqlp, "--mysqlp="},
    {opt_pgport, "--pgport="},
    {opt_posgsh, "--posgsh="},
    {opt_posgsu, "--posgsu="},
    {opt_posgsp, "--posgsp="},
    {opt_profile, "--profile="},
    {opt_schema, "--schema="},
    {opt_silent, "--silent"},
    {opt_skip_idx, "--skip_idx"},
    {opt_src, "--src="},
    {opt_ssl_root_cert, "--ssl_root_cert="},
    {opt_ssl_revoc_list, "--ssl_revoc_list="},
    {opt_tab_def, "--tab_def"},
    {opt_tab_file, "--tab_file="},
    {opt_unlogged, "--unlogged"},
    {opt_views, "--views"},
    // Listed by the usage text, so users rely on it.
    {opt_encoding, "--encoding="},
    {0, ""},
};

const char* const console_usage_text = R"usage(QUINDREL v6.3
Usage: QUINDREL.EXE OPTIONS

   --case_sens    make names case sensitive (default is off)
   --dest=...     PostgreSQL database name or script file
   --dump         convert MySQL data into PostgreSQL script file
   --encoding=... PostgreSQL encoding (see 'Command Line' article of
                  the product documentation for list of possible values)
   --fast_insert  use COPY-statements to write data in PostgreSQL database
                  (faster than INSERT, it is supported starting from v9.5)
   --help         display this help message and exit
   --logfile=...  path to the file where execution trace will be written
   --mode=...     how to process an existing PostgreSQL database
                  (0 - overwrite the entire database, 1 - overwrite
                  existing tables only, 2 - skip existing tables,
                  3 - merge, 4 - synchronize); tables load parents
                  first; with --dump the script keeps the mode where
                  it is loaded (psql 10 or later): in modes 2, 3 and 4
                  it drops no table; mode 1 leaves a table
                  that other objects depend on as it is and reports it
   --myport=...   MySQL port
   --mysqlh=...   MySQL server IP address or network name
   --mysqlu=...   MySQL user name
   --mysqlp=...   MySQL user password
   --pgport=...   PostgreSQL port
   --posgsh=...   PostgreSQL server IP address or network name
   --posgsu=...   PostgreSQL user name
   --posgsp=...   PostgreSQL user password
   --profile=...  path to the file to load conversion settings from
                  (options given on the command line win over it)
   --schema=...   PostgreSQL schema ('public' by default)
   --silent       disable progress output (errors, the summary of what
                  was left out and fatal messages are still shown)
   --skip_idx     skip converting indexes
   --src=...      MySQL database name
   --ssl_root_cert=... path to SSL certificate authority (CA) certificate
   --ssl_revoc_list=... path to SSL certificate revocation list (CRL)
   --tab_def      convert table definitions only
   --tab_file=... file containing the list of tables to convert
                  (one table name per line; blanks at the ends of a
                  line are dropped unless the source has the name
                  with them)
   --unlogged     create PostgreSQL tables unlogged
   --views        convert MySQL views into PostgreSQL

NOTES:
   1) You can omit 'posgsh' or 'mysqlh' to connect local database server.
   2) It is necessary to specify 'myport' parameter only if it differs from
      the default MySQL port 3306.
   3) It is necessary to specify 'pgport' parameter only if it differs from
      the default PostgreSQL port 5432.
   4) If you omit 'tab_file' parameter, all database tables will be converted.
   5) If you omit 'mode' parameter, default mode 'overwrite the entire
      database' will be used.
   6) Command line parameters that contain spaces must be enclosed in quotes
      (for example --dest="my database")
   7) The first line of a run names the destination and the mode it uses.

EXIT STATUS:
   0    everything was converted (also for --help)
   1    the conversion ran to its end but left something out (rows,
        tables, indexes, foreign keys or views); a summary line on
        standard error says how many of each
   255  the conversion could not start or was ended (a usage error, a
        profile, table list or log file that cannot be used, a name
        longer than PostgreSQL keeps, a failed connection, a lost
        server connection))usage";

namespace {

constexpr const char* missing_tab_file_text =
    "Table names file does not exist.\nPlease verify the correct path/name was given.";

// The connection texts the command line gave, stored at the end of the walk:
// each one given wins over a profile's; one not given keeps the profile's, or
// takes its default when no profile was loaded.
struct connection_options {
    std::optional<std::string> mysql_port;
    std::optional<std::string> mysql_host;
    std::optional<std::string> mysql_user;
    std::optional<std::string> mysql_password;
    std::optional<std::string> pg_port;
    std::optional<std::string> pg_host;
    std::optional<std::string> pg_user;
    std::optional<std::string> pg_password;
};

// No table list holds more: a table name takes at most 256 bytes.
constexpr std::size_t max_tab_file_bytes = 64 * 1024 * 1024;

const char* const mode_names[] = {"overwrite the entire database", "overwrite existing tables",
                                  "skip existing tables", "merge", "synchronize"};

// Loads one profile into the conversion object. The options the command line
// gives are applied after every profile; a profile's log file is not even
// opened when the command line names its own.
void load_profile_option(const char* value, bool command_line_logfile)
{
    const std::wstring path = tk_ansi_to_unicode(value);
    tk_write_wlog(1, L"parse_cmd_line - got profile %s", path.c_str());
    udb_profile profile;
    // A missing profile raises its own error.
    if (!profile.load(path))
        exit_with_message("The profile '" + tk_visible_text(std::string_view(value)) +
                          "' cannot be loaded: " + profile.load_error() + ". Nothing was converted.");
    if (command_line_logfile)
        profile.remove_value(profile_generic, L"logfile");
    if (!pelmora_convertor::get_instance()->load_profile(profile))
        exit_with_message("The profile '" + tk_visible_text(std::string_view(value)) +
                          "' cannot be loaded. Nothing was converted.");
}

// Passwords stay out of the trace log.
bool is_password_argument(const char* argument)
{
    return std::strncmp(argument, "--mysqlp=", 9) == 0 || std::strncmp(argument, "--posgsp=", 9) == 0;
}

// What the error says of an argument no option matched: the option's name
// without its value, so a mistyped password option does not show the password;
// a bare word (perhaps a value that lost its option) is not repeated at all.
std::string unknown_argument_text(std::string_view argument)
{
    if (!argument.starts_with("-"))
        return "unexpected argument (not an option)";
    return "unknown option " + tk_visible_text(argument.substr(0, argument.find('=')));
}

// Whether two paths name one file: the same file when both exist, else the
// same full path.
bool names_same_file(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return tk_file_name(a).get_full_path() == tk_file_name(b).get_full_path();
}

// Opening a named pipe for writing waits until some program reads it, and a
// stop signal does not end that wait: a pipe without a reader is refused.
bool log_file_can_be_opened(const char* path)
{
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISFIFO(st.st_mode))
        return true;
    const int fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno != ENXIO;
    ::close(fd);
    return true;
}

}  // namespace

bool parse_mode_value(const char* text, int& mode)
{
    if (!text || text[0] < '0' || text[0] > '4' || text[1] != '\0')
        return false;
    mode = text[0] - '0';
    return true;
}

int parse_pg_port(const std::string& text)
{
    if (text.empty())
        return 0;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            throw tk_exception("Invalid port number", 1);
        value = value * 10 + (c - '0');
        if (value > 65535)
            throw tk_exception("Invalid port number", 1);
    }
    if (value == 0)
        throw tk_exception("Invalid port number", 1);
    return static_cast<int>(value);
}

std::wstring find_client_encoding(const std::string& name)
{
    return pgs_find_offered_encoding(tk_ansi_to_unicode(name));
}

std::vector<std::wstring> read_tab_file(const std::string& path)
{
    tk_write_log(1, "process_tab_file(%s)", path.c_str());
    // Read whole only when it is a regular file of a size a table list can
    // have: a device or a huge file is refused before it is read.
    const tk_small_file file = tk_read_small_file(path, max_tab_file_bytes);
    if (file.status == tk_small_file_status::missing)
        exit_with_message(missing_tab_file_text);
    if (file.status != tk_small_file_status::ok)
        exit_with_message("Table names file cannot be read: " + path + ": " + file.reason());

    std::vector<std::wstring> names;
    bool first = true;
    std::string_view text = file.bytes;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view name = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // A line may end in CR LF.
        if (!name.empty() && name.back() == '\r')
            name.remove_suffix(1);
        if (name.empty())
            continue;
        if (first) {
            first = false;
            // The byte-order mark only says the file is UTF-8, which is what
            // every line is read as anyway.
            if (name.starts_with("\xEF\xBB\xBF"))
                name.remove_prefix(3);
            if (name.empty())
                continue;
        }
        // No MySQL name ends in a space, so a line of spaces names no table:
        // it is a blank line, not a table to report missing.
        if (name.find_first_not_of(' ') == std::string_view::npos)
            continue;
        if (!tk_is_text_line(name))
            exit_with_message("Table names file is not a text file (it holds a zero byte, a control character or "
                              "bytes that are not UTF-8): " + path);
        names.push_back(tk_ansi_to_unicode(name));
    }
    // An empty list would mean every table of the source.
    if (names.empty())
        exit_with_message("Table names file lists no table: " + path);
    return names;
}

void process_tab_file(const std::string& path)
{
    std::vector<std::wstring> names = read_tab_file(path);
    pelmora_convertor& conv = *pelmora_convertor::get_instance();
    conv.selected_tables = std::move(names);
    // The list is the run's whole selection: a profile's tables and queries
    // are not converted beside it.
    conv.query_list.clear();
}

bool parse_cmd_line(int argc, char* const* argv)
{
    tk_write_log(2, "parse_cmd_line");
    for (int i = 0; i < argc && argv && argv[i]; ++i) {
        if (is_password_argument(argv[i]))
            tk_write_log(1, "parameter #%d: %.9s***", i, argv[i]);
        else
            tk_write_log(1, "parameter #%d: %s", i, argv[i]);
    }

    pelmora_convertor& conv = *pelmora_convertor::get_instance();
    pgs_engine& engine = conv.get_pgs_engine();

    // First walk: --help, arguments no option matches, and the profiles. The
    // profiles are loaded before any other option is applied, so an option
    // given on the command line wins over a profile's setting whatever their
    // order; a profile fills what the command line does not give.
    std::vector<const char*> profiles;
    bool command_line_logfile = false;
    {
        const char* logfile = nullptr;
        const char* dest = nullptr;
        std::vector<const char*> tab_files;
        std::vector<const char*> ssl_files;
        bool dump = false;
        ansi_cmd_line cursor(argc, argv, console_options);
        while (cursor.has_more()) {
            switch (cursor.get_current_id()) {
            case opt_help:
                // Asked for: the usage goes to standard output and is a success.
                console_write_out(std::string(console_usage_text) + "\n");
                throw console_exit{0};
            case opt_profile:
                profiles.push_back(cursor.get_current_value());
                break;
            case opt_tab_file:
                tab_files.push_back(cursor.get_current_value());
                break;
            case opt_ssl_root_cert:
            case opt_ssl_revoc_list:
                ssl_files.push_back(cursor.get_current_value());
                break;
            case opt_logfile:
                command_line_logfile = true;
                logfile = cursor.get_current_value();
                break;
            case opt_dest:
                dest = cursor.get_current_value();
                break;
            case opt_dump:
                dump = true;
                break;
            default:
                break;
            }
            cursor.next();
        }
        if (cursor.get_unrecognised_count() != 0) {
            for (const char* argument : cursor.get_unrecognised())
                tk_write_log(2, "Unrecognised parameter: %s", is_password_argument(argument) ? "***" : argument);
            exit_with_message(unknown_argument_text(cursor.get_unrecognised().front()) + "\n" + console_usage_text);
        }
        // Checked before the log file is opened (which empties it): the log
        // would overwrite the script, or an earlier script would be lost.
        if (dump && logfile && dest && *logfile && *dest && names_same_file(logfile, dest))
            exit_with_message("The log file '" + tk_visible_text(std::string_view(logfile)) +
                              "' is the script file: give the log another name. Nothing was converted.");
        // Nor may the log or the script take the place of a file the run reads: the
        // profile or the table list would be lost.
        const auto refuse_over_input = [](const char* output, const char* what, const char* input,
                                          const char* read_as) {
            if (output && input && *output && *input && names_same_file(output, input))
                exit_with_message(std::string("The ") + what + " '" + tk_visible_text(std::string_view(output)) +
                                  "' is the " + read_as + ": give the " + (what[0] == 'l' ? "log" : "script") +
                                  " another name. Nothing was converted.");
        };
        for (const char* input : profiles) {
            refuse_over_input(logfile, "log file", input, "profile");
            if (dump) refuse_over_input(dest, "script file", input, "profile");
        }
        for (const char* input : tab_files) {
            refuse_over_input(logfile, "log file", input, "table list");
            if (dump) refuse_over_input(dest, "script file", input, "table list");
        }
        for (const char* input : ssl_files) {
            refuse_over_input(logfile, "log file", input, "SSL file");
            if (dump) refuse_over_input(dest, "script file", input, "SSL file");
        }
    }
    for (const char* profile : profiles)
        load_profile_option(profile, command_line_logfile);
    const bool profile_loaded = !profiles.empty();

    connection_options conn;
    ansi_cmd_line cursor(argc, argv, console_options);
    while (cursor.has_more()) {
        const char* value = cursor.get_current_value();
        switch (cursor.get_current_id()) {
        case opt_case_sens:
            tk_write_log(1, "parse_cmd_line - case_sens is ON");
            conv.b_case_sens = true;
            engine.is_case_sens = true;
            break;
        case opt_dest:
            conv.set_destination(tk_ansi_to_unicode(value));
            tk_write_wlog(2, L"\tgot dest %s", conv.get_destination().c_str());
            break;
        case opt_dump:
            tk_write_log(2, "\tconvert into dump files");
            conv.b_direct = false;
            break;
        case opt_fast_insert:
            tk_write_log(2, "\tfast_insert is ON");
            engine.fast_insert = true;
            break;
        case opt_logfile:
            tk_write_log(1, "parse_cmd_line - got logfile %s", value);
            if (!log_file_can_be_opened(value))
                exit_with_message("The log file '" + tk_visible_text(std::string_view(value)) +
                                  "' is a pipe that no program reads. Nothing was converted.");
            conv.set_logfile(value);
            break;
        case opt_mode: {
            int mode = 0;
            const bool valid = parse_mode_value(value, mode);
            tk_write_log(2, "\tgot mode %d", valid ? mode : std::atoi(value));
            if (!valid)
                exit_with_message("Invalid merge/overwrite mode");
            conv.set_mode(mode);
            break;
        }
        case opt_myport:
            conn.mysql_port = value;
            break;
        case opt_mysqlh:
            conn.mysql_host = value;
            break;
        case opt_mysqlu:
            conn.mysql_user = value;
            break;
        case opt_mysqlp:
            conn.mysql_password = value;
            break;
        case opt_pgport:
            conn.pg_port = value;
            break;
        case opt_posgsh:
            conn.pg_host = value;
            break;
        case opt_posgsu:
            conn.pg_user = value;
            break;
        case opt_posgsp:
            conn.pg_password = value;
            break;
        case opt_schema: {
            const std::wstring schema = tk_ansi_to_unicode(value);
            tk_write_wlog(2, L"parse_cmd_line - got schema: %s", schema.c_str());
            // Table names are carried as schema.table and split at the first
            // '.': a schema name holding one would put the tables elsewhere.
            if (schema.find(L'.') != std::wstring::npos)
                exit_with_message("Invalid schema name '" + tk_visible_text(std::string_view(value)) +
                                  "': a schema name is one name and cannot hold a '.'");
            conv.set_pgs_schema(schema);
            break;
        }
        case opt_silent:
            // Only the progress is hidden: what went wrong is still shown.
            tk_write_log(1, "parse_cmd_line - silent mode is ON");
            conv.set_silent(true);
            break;
        case opt_skip_idx:
            tk_write_log(2, "\tskip converting indexes");
            conv.skip_idx = true;
            break;
        case opt_src:
            conv.set_source(tk_ansi_to_unicode(value));
            tk_write_wlog(2, L"\tparse_cmd_line - got src %s", conv.get_source().c_str());
            break;
        case opt_ssl_root_cert:
            engine.ssl_rcert = tk_ansi_to_unicode(value);
            tk_write_wlog(2, L"\tparse_cmd_line - got CA cert %s", engine.ssl_rcert.c_str());
            engine.ssl_use = true;
            break;
        case opt_ssl_revoc_list:
            engine.ssl_revoc = tk_ansi_to_unicode(value);
            tk_write_wlog(2, L"\tparse_cmd_line - got revoc list %s", engine.ssl_revoc.c_str());
            engine.ssl_use = true;
            break;
        case opt_tab_def:
            tk_write_log(2, "\tconvert table definitions only");
            conv.tab_def = true;
            break;
        case opt_tab_file:
            tk_write_log(2, "\tparse_cmd_line - got tab_file %s", value);
            process_tab_file(value);
            break;
        case opt_unlogged:
            tk_write_log(2, "\tunlogged is ON");
            engine.unlogged = true;
            break;
        case opt_views:
            tk_write_log(2, "\tcovnerting views is ON");
            conv.convert_views = true;
            break;
        case opt_encoding: {
            tk_write_log(2, "\tgot client encoding %s", value);
            std::wstring encoding = find_client_encoding(value);
            if (encoding.empty())
                exit_with_message("Unknown PostgreSQL encoding '" + tk_visible_text(std::string_view(value)) + "'");
            // A script is written in this encoding; the live connection keeps
            // UTF-8 (exact) and refuses the rows this encoding cannot hold.
            conv.client_encoding = std::move(encoding);
            break;
        }
        default:
            break;  // --help, --profile and the unrecognised: the first walk's
        }
        cursor.next();
    }

    if (conv.get_source().empty())
        exit_with_message("You should enter source MySQL database name");
    if (conv.get_destination().empty())
        exit_with_message("You should enter destination PostgreSQL database name");
    // The server would cut a longer name: the run would then drop, fill or
    // merge into a database or schema of another name.
    if (conv.b_direct)
        pgs_engine::check_name_fits("database", conv.get_destination());
    pgs_engine::check_name_fits("schema", conv.pgs_schema);

    // Each connection setting given on the command line wins; one not given
    // keeps the profile's, or takes its default without a profile.
    auto pick = [&](const std::optional<std::string>& given, const std::string& loaded, const char* preset) {
        return given ? *given : profile_loaded ? loaded : std::string(preset);
    };
    if (conn.pg_port || !profile_loaded) {
        try {
            conv.pgs_port = parse_pg_port(conn.pg_port.value_or("5432"));
        } catch (const tk_exception&) {
            // Named, as the error comes before any connection says which one.
            throw tk_exception("Invalid port number '" + tk_visible_text(std::string_view(*conn.pg_port)) +
                                   "' given for PostgreSQL (--pgport)",
                               1);
        }
    }
    conv.pgs_host = pick(conn.pg_host, conv.pgs_host, "");
    conv.pgs_user = pick(conn.pg_user, conv.pgs_user, "");
    conv.pgs_password = pick(conn.pg_password, conv.pgs_password, "");
    conv.store_mysql_settings(pick(conn.mysql_host, conv.mysql_host, ""), pick(conn.mysql_user, conv.mysql_user, ""),
                              pick(conn.mysql_password, conv.mysql_password, ""),
                              pick(conn.mysql_port, conv.mysql_port, "3306"));
    return true;
}

std::string console_run_line()
{
    const pelmora_convertor& conv = *pelmora_convertor::get_instance();
    const int mode = conv.n_mode >= 0 && conv.n_mode <= 4 ? conv.n_mode : 0;
    const std::string destination = tk_unicode_to_utf8(conv.get_destination());
    return std::string("Destination: ") + (conv.b_direct ? "PostgreSQL database '" : "script file '") +
           destination + "' (mode " + std::to_string(mode) + ": " + mode_names[mode] + ")";
}

void announce_run()
{
    const std::string line = console_run_line();
    // The trace log's first line: a log file that cannot be written is found
    // here, before anything is connected or touched.
    tk_write_log(3, "%s", line.c_str());
    if (const std::string failure = console_log_failure(); !failure.empty())
        exit_with_message(failure + ". Nothing was converted.");
    if (!console_is_silent())
        console_write_out(tk_visible_text(line) + "\n");
}

std::string console_log_failure()
{
    const tk_logger* logger = tk_logger::try_instance();
    if (!logger)
        return std::string();
    const std::string failure = logger->get_write_error();
    return failure.empty() ? failure : "The log file cannot be written: " + failure;
}

#include "console/console_options.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "TK/tk_exception.h"
#include "TK/tk_file_names.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "console/console_frontend.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"
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
                  it drops no table
   --myport=...   MySQL port
   --mysqlh=...   MySQL server IP address or network name
   --mysqlu=...   MySQL user name
   --mysqlp=...   MySQL user password
   --pgport=...   PostgreSQL port
   --posgsh=...   PostgreSQL server IP address or network name
   --posgsu=...   PostgreSQL user name
   --posgsp=...   PostgreSQL user password
   --profile=...  path to the file to load conversion settings from
   --schema=...   PostgreSQL schema ('public' by default)
   --silent       disable progress output (errors, the summary of what
                  was left out and fatal messages are still shown)
   --skip_idx     skip converting indexes
   --src=...      MySQL database name
   --ssl_root_cert=... path to SSL certificate authority (CA) certificate
   --ssl_revoc_list=... path to SSL certificate revocation list (CRL)
   --tab_def      convert table definitions only
   --tab_file=... file containing the list of tables to convert
                  (one table name per line)
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

EXIT STATUS:
   0    everything was converted (also for --help)
   1    the conversion ran to its end but left something out (rows,
        tables, indexes, foreign keys or views); a summary line on
        standard error says how many of each
   255  the conversion could not start or was ended (a usage error, a
        failed connection, a lost server connection))usage";

namespace {

constexpr const char* missing_tab_file_text =
    "Table names file does not exist.\nPlease verify the correct path/name was given.";

// The connection texts of the command line, stored at the end of the walk.
struct connection_options {
    std::string mysql_port = "3306";
    std::string mysql_host;
    std::string mysql_user;
    std::string mysql_password;
    std::string pg_port = "5432";
    std::string pg_host;
    std::string pg_user;
    std::string pg_password;
};

// Passwords stay out of the trace log.
bool is_password_argument(const char* argument)
{
    return std::strncmp(argument, "--mysqlp=", 9) == 0 || std::strncmp(argument, "--posgsp=", 9) == 0;
}

// Whether a line of the table-list file is text: valid UTF-8 without a zero
// byte or another control character (a tab aside). A binary file read as names
// would give garbage names, or no name the source knows.
bool is_text_line(std::string_view line)
{
    std::size_t i = 0;
    while (i < line.size()) {
        const auto b = static_cast<unsigned char>(line[i]);
        if (b < 0x80) {
            if ((b < 0x20 && b != '\t') || b == 0x7F)
                return false;
            ++i;
            continue;
        }
        int more = 0;
        std::uint32_t cp = 0;
        if (b >= 0xC2 && b <= 0xDF) { more = 1; cp = b & 0x1F; }
        else if (b >= 0xE0 && b <= 0xEF) { more = 2; cp = b & 0x0F; }
        else if (b >= 0xF0 && b <= 0xF4) { more = 3; cp = b & 0x07; }
        else return false;
        if (i + more >= line.size())
            return false;
        for (int k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(line[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
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
    if (!tk_is_file_exist1(path, tk_file_exists_mode))
        exit_with_message(missing_tab_file_text);
    std::ifstream file(path, std::ios::binary);
    if (!file)
        exit_with_message("Table names file cannot be read: " + path + ": " + std::strerror(errno));

    std::vector<std::wstring> names;
    bool first = true;
    std::string line;
    while (std::getline(file, line)) {
        // A line may end in CR LF.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        std::string_view name(line);
        if (first) {
            first = false;
            // The byte-order mark only says the file is UTF-8, which is what
            // every line is read as anyway.
            if (name.starts_with("\xEF\xBB\xBF"))
                name.remove_prefix(3);
            if (name.empty())
                continue;
        }
        if (!is_text_line(name))
            exit_with_message("Table names file is not a text file (it holds a zero byte, a control character or "
                              "bytes that are not UTF-8): " + path);
        names.push_back(tk_ansi_to_unicode(name));
    }
    if (file.bad())
        exit_with_message("Table names file cannot be read: " + path);
    // An empty list would mean every table of the source.
    if (names.empty())
        exit_with_message("Table names file lists no table: " + path);
    return names;
}

void process_tab_file(const std::string& path)
{
    std::vector<std::wstring> names = read_tab_file(path);
    pelmora_convertor::get_instance()->selected_tables = std::move(names);
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
    connection_options conn;
    bool profile_loaded = false;

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
        case opt_help:
            // Asked for: the usage goes to standard output and is a success.
            console_write_out(std::string(console_usage_text) + "\n");
            throw console_exit{0};
        case opt_logfile:
            tk_write_log(1, "parse_cmd_line - got logfile %s", value);
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
        case opt_profile: {
            const std::wstring path = tk_ansi_to_unicode(value);
            tk_write_wlog(1, L"parse_cmd_line - got profile %s", path.c_str());
            profile_loaded = conv.load_profile_file(path);
            break;
        }
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
            tk_write_log(1, "parse_cmd_line - silent mode is ON");
            conv.set_silent(true);
            error_handler::get_instance()->set_suppressed(true);
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
                exit_with_message(std::string("Unknown PostgreSQL encoding '") + value + "'");
            // A script is written in this encoding; the live connection keeps
            // UTF-8 (exact) and refuses the rows this encoding cannot hold.
            conv.client_encoding = std::move(encoding);
            break;
        }
        default:
            break;  // unrecognised: collected by the cursor
        }
        cursor.next();
    }

    if (cursor.get_unrecognised_count() != 0) {
        for (const char* argument : cursor.get_unrecognised())
            tk_write_log(2, "Unrecognised parameter: %s", is_password_argument(argument) ? "***" : argument);
        exit_with_message(unknown_argument_text(cursor.get_unrecognised().front()) + "\n" + console_usage_text);
    }
    if (conv.get_source().empty())
        exit_with_message("You should enter source MySQL database name");
    if (conv.get_destination().empty())
        exit_with_message("You should enter destination PostgreSQL database name");

    // A profile that was read brings its own connection settings, and they win
    // over the command line's.
    if (!profile_loaded) {
        conv.pgs_port = parse_pg_port(conn.pg_port);
        conv.pgs_host = conn.pg_host;
        conv.pgs_user = conn.pg_user;
        conv.pgs_password = conn.pg_password;
        conv.store_mysql_settings(conn.mysql_host, conn.mysql_user, conn.mysql_password, conn.mysql_port);
    }
    return true;
}

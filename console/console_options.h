#pragma once
// The console program's options: the option table, the usage text, the
// option parser that fills the conversion object, and the table-list file.

#include <string>
#include <vector>

#include "TK/tk_cmdli.h"

// Ids of the option table; an id is the entry's place in the table.
enum console_option_id : int {
    opt_case_sens = 0,
    opt_dest,
    opt_dump,
    opt_fast_insert,
    opt_help,
    opt_logfile,
    opt_mode,
    opt_myport,
    opt_mysqlh,
    opt_mysqlu,
    opt_mysqlp,
    opt_pgport,
    opt_posgsh,
    opt_posgsu,
    opt_posgsp,
    opt_profile,
    opt_schema,
    opt_silent,
    opt_skip_idx,
    opt_src,
    opt_ssl_root_cert,
    opt_ssl_revoc_list,
    opt_tab_def,
    opt_tab_file,
    opt_unlogged,
    opt_views,
    opt_encoding,
    console_option_count
};

// The option table: one entry per id, then the terminator {0, ""}.
extern const cmd_line_option console_options[console_option_count + 1];

// The usage text, without its final line end.
extern const char* const console_usage_text;

// Walks the arguments and applies each option to the conversion object, its
// engines and the error handler (all must exist). First --help (the usage on
// standard output, ends the program with 0) and arguments no option matches
// (named, then the usage; -1) are looked for, then every --profile= is
// loaded, in order, and only then are the other options applied, in order: an
// option given on the command line wins over a profile whatever their order,
// and a profile fills what the command line does not give. --tab_file=
// replaces a profile's whole selection (tables and queries).
//
// Ends the program with -1 (console_exit, through exit_with_message) for a bad
// --mode=, an unknown --encoding= or one other than UTF8 (texts are written as
// UTF-8), a table-list file that is missing or refused, a profile that cannot
// be loaded (the reason, naming its line), and a missing source or destination
// name. A bad log file, a missing profile, a profile setting that is not
// valid, a port that is no number and a database or schema name longer than
// the server keeps raise their tk_exception.
bool parse_cmd_line(int argc, char* const* argv);

// The rule of --mode=: exactly the decimal text of a number from 0 to 4 (no
// sign, blank, leading zero or trailing character). False for anything else.
bool parse_mode_value(const char* text, int& mode);

// A PostgreSQL port text: empty gives 0 (no port in the connection), digits
// give their value; anything else, 0 or a value past 65535 raises tk_exception
// "Invalid port number" (level 1).
int parse_pg_port(const std::string& text);

// The client-encoding name as the offered list spells it, for a name given in
// any case, with or without punctuation, or as a common alias (utf-8, Latin1,
// cp1252 ...); empty when the encoding is not offered.
std::wstring find_client_encoding(const std::string& name);

// The table names of a table-list file: one name per line, in file order,
// empty lines skipped, blanks kept (the run matches a name the source really
// has first, then the name without blanks at its ends). A UTF-8 byte-order
// mark at the start of the first non-empty line is dropped. Ends the program
// with a message when the file is missing, is not a regular file, is larger
// than a table list can be (it is not read then), is not text or lists no
// table.
std::vector<std::wstring> read_tab_file(const std::string& path);

// Replaces the conversion object's selection (its selected tables and its
// listed items) with the file's names.
void process_tab_file(const std::string& path);

// The run's first line: the destination and the mode the run uses, as the
// options and the profiles decided them together.
std::string console_run_line();

// Writes the run's first line to the trace log (so a log file that cannot be
// written is found before anything is connected or touched: the program then
// ends with -1) and, unless silent, to standard output.
void announce_run();

// "The log file cannot be written: '<file>': <reason>" once a line of the
// trace log could not be written; "" while every line was.
std::string console_log_failure();

#pragma once
// The console program from start to end: builds the trace logger, the error
// handler and the conversion object, reads the options, connects to both
// servers (to PostgreSQL only for a live destination), prepares the
// destination and runs the conversion on this thread.
//
// Exit codes: 0 when the conversion ran to its end and everything arrived, and
// for --help; 1 when it ran to its end but left something out (rows refused,
// tables, indexes, foreign keys or views not converted), after one summary
// line on standard error; -1 (status 255) for a usage or option error, an
// error of any level before the run (nothing is converted then), an error of
// level 1 or 2 met during the run (a lost server connection among them), and
// a run that ended abnormally (its source or destination could not be opened,
// an unexpected exception), and a run stopped by SIGINT or SIGTERM (after one
// line on standard error saying how far it got; an unfinished script is
// removed, an earlier one at the destination kept).

// The program's narrow argument vector; argv[0] is the program.
int quindrel_main(int argc, char** argv);

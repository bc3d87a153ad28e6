#include "console/console_entry.h"

#include <exception>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "console/console_frontend.h"
#include "console/console_options.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"
#include "platform/pf_signals.h"

namespace {

void say(const char* text)
{
    if (!console_is_silent())
        console_write_out(text);
}

// A run ended by a stop signal (or one that came before the run): one line,
// shown even when silent, and the status of an ended run.
int stopped(const pelmora_convertor& conv)
{
    const int signal_number = pf_stop_signals::received().load(std::memory_order_acquire);
    const char* by = signal_number ? pf_signal_name(signal_number) : "a stop request";
    std::string line;
    if (conv.outcome() == conversion_outcome::stopped) {
        const pelmora_convertor::stop_point& at = conv.stopped_at();
        line = console_stopped_line(by, conv.b_direct, at.table, at.rows_kept, conv.get_items_done(),
                                    conv.get_items_total());
    } else {
        line = std::string("Stopped by ") + by + " before the conversion started: nothing was converted.";
    }
    tk_write_log(3, "%s", line.c_str());
    console_write_err(line + "\n");
    return -1;
}

// Everything after the process-wide objects exist. Returns the exit code or
// ends by console_exit.
int run_console(pelmora_convertor& conv, error_handler& handler, int argc, char** argv)
{
    if (argc < 2)
        exit_with_message(console_usage_text);
    try {
        if (!parse_cmd_line(argc, argv))
            exit_with_message(console_usage_text);
        announce_run();

        say("Connecting to MySQL server...");
        conv.connect_mysql_server();
        say("done\n");

        if (conv.b_direct) {
            say("Connecting to Postgres server...");
            // No database name in any mode: the server's default database is
            // always there, and the run opens the destination, or creates it
            // when it does not exist yet.
            conv.connect_pgs_server(std::string());
            say("done\n");
        }

        // A stop signal while connecting: nothing is dropped or created.
        if (conv.stop_requested())
            return stopped(conv);
        conv.check_dest();
        conv();
        if (conv.outcome() == conversion_outcome::stopped)
            return stopped(conv);
        if (conv.ended_abnormally()) {
            tk_write_log(3, "The conversion ended abnormally");
            return -1;
        }
        int status = 0;
        if (conv.failures.any()) {
            // Whoever started the program learns that data was left out, also
            // when it is silent.
            const std::string summary = console_summary_line(conv.failures);
            tk_write_log(3, "%s", summary.c_str());
            console_write_err(summary + "\n");
            status = 1;
        }
        // The trace log asked for is incomplete (a disk that filled up).
        if (const std::string failure = console_log_failure(); !failure.empty()) {
            console_write_err("Error:\n" + failure + "\n");
            status = 1;
        }
        return status;
    } catch (const tk_exception& e) {
        // Levels 1 and 2 end the program inside the handler. A level-0 error
        // before the run (a failed login) means nothing was converted: it is
        // shown even when silent, and it is a failure for whoever started the
        // program.
        handler.set_suppressed(false);
        handler.handle(e, false);
        return -1;
    } catch (const std::exception& e) {
        exit_with_message(e.what());
    }
}

}  // namespace

int quindrel_main(int argc, char** argv)
{
    // Ctrl-C and SIGTERM stop the run as a stop request does: after the
    // current row, with files and connections closed.
    pf_stop_signals stop_signals;
    tk_logger logger(nullptr, false, 3, false);
    console_hooks_scope hooks;
    error_handler handler(pgs_error_table);
    handler.load_err_map(mysql_error_table);
    pelmora_convertor conv(convertor_form::console);
    conv.stop_on_flag(&pf_stop_signals::received());
    try {
        return run_console(conv, handler, argc, argv);
    } catch (const console_exit& e) {
        return e.code;
    }
}

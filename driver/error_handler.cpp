#include "driver/error_handler.h"

#include <algorithm>

#include "TK/tk_format.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/frontend_hooks.h"

const error_code_entry pgs_error_table[2] = {
    {-1032, "Cannot connect to pgs server. Check to verify that pgs server is launched and allows connection."},
    {-30082, "Incorrect username or password"},
};

namespace {
constexpr const char* connect_text =
    "Cannot connect to the MySQL server. Check to verify that MySQL server\n"
    "is launched and the correct host/port values were given.";
constexpr const char* protocol_text =
    "The program does not support authentication protocol requested by server.\n"
    "See 'Troubleshooting' article of the product documentation.";
}  // namespace

const error_code_entry mysql_error_table[12] = {
    {0x400414,
     "Access denied. Ask your system administrator to grant you\n"
     "the necessary privileges to write into the database."},
    {0x400415,
     "Access denied. Verify the user name and password are correct, and you have\n"
     "the necessary privileges to connect to the target MySQL server."},
    {0x400426,
     "Duplicate field values being used for an unique index were found.\n"
     "See 'Troubleshooting' article of the product documentation\n"
     "for solution."},
    {0x40042F,
     "Primary key in the original database is too long.\n"
     "Restart the program with \"Skip converting indexes\"\n"
     "checkbox selected in order to resolve the conflict.\n"},
    {0x40046A,
     "You are not allowed to connect to the destination MySQL server.\n"
     "Ask your system administrator to grant you necessary privileges\n"
     "to create new databases on target MySQL server."},
    {0x40041B,
     "Failed to overwrite MySQL database. It is being used by\n"
     "another application. Specify a different destination name."},
    {0x4007D3, connect_text},
    {0x4007D5, connect_text},
    {0x4007D6,
     "Transferred value is too big. Increase MySQL max packet size and try\n"
     "again. See 'Troubleshooting' article of the product documentation."},
    {0x4004E1, protocol_text},
    {0x4004E2, protocol_text},
    {0x4004E3, protocol_text},
};

error_handler::error_handler(int entry_count, const error_code_entry* table) : m_err_map(entry_count, table)
{
    tk_write_log(2, "error_handler::ctor");
    // The run and the database sides report one failed item (a row, an index, a view) through
    // here and go on with the next one; Abort ends the batch.
    if (try_instance() == this)
        udb_set_failure_reporter([this](const udb_failure& f) { report(f); });
}

error_handler::~error_handler()
{
    if (try_instance() == this) udb_set_failure_reporter({});
}

void error_handler::load_err_map(int entry_count, const error_code_entry* table)
{
    tk_write_log(2, "error_handler::load_err_map");
    m_err_map.load_map(entry_count, table);
}

std::string error_handler::form_message(const tk_exception& e) const
{
    std::string text = m_err_map.convert(e.get_error_code());
    return text.empty() ? std::string(e.what()) : text;
}

std::string error_handler::form_message(const udb_failure& failure) const
{
    std::string message = tk_unicode_to_ansi(failure.where());
    if (!message.empty())
        message += ": ";
    std::string text = m_err_map.convert(failure.code);
    message += text.empty() ? failure.text : text;
    return message;
}

std::vector<std::string> error_handler::get_error_list() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error_list;
}

std::size_t error_handler::get_report_count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_report_count;
}

void error_handler::handle(const tk_exception& e, bool top_level)
{
    tk_write_log(2, "error_handler::handle");
    show(e.get_level() == 2 ? std::string(e.what()) : form_message(e), e.get_level(), e.get_error_code(), top_level);
}

void error_handler::report(const udb_failure& failure)
{
    tk_write_log(2, "error_handler::report");
    // The statement and the server's SQLSTATE go to the log: the user reads the server's text.
    if (!failure.statement.empty() || !failure.sqlstate.empty())
        tk_write_log(3, "%s: SQLSTATE %s, statement: %s", tk_unicode_to_utf8(failure.where()).c_str(),
                     failure.sqlstate.c_str(), failure.statement.c_str());
    show(failure.level == 2 ? failure.text : form_message(failure), failure.level, failure.code, false);
}

void error_handler::show(std::string message, int level, int code, bool top_level)
{
    frontend_hooks& hooks = get_frontend_hooks();

    if (level == 2) {
        tk_write_log(3, "Internal error:\n%s", message.c_str());
        hooks.show_internal_error(message);
        hooks.end_process(-1);
    }

    tk_write_log(3, "Error:\n%s", message.c_str());
    std::replace(message.begin(), message.end(), '\n', ' ');
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_report_count;
        if (m_error_list.size() < max_listed_errors && hooks.lists_errors())
            m_error_list.push_back(message);
    }

    if (level == 1) {
        tk_write_log(1, "Got 1-level error");
        // An error that ends the program is shown even to a silenced front end.
        if (!m_suppress || hooks.level1_ends_process()) {
            hooks.show_error(message);
            auto range = m_help_topics.equal_range(code);
            for (auto it = range.first; it != range.second; ++it)
                hooks.display_help(it->second);
        }
        if (hooks.level1_ends_process())
            hooks.end_process(-1);
        return;
    }

    tk_write_log(1, "Got 0-level error");
    // The error that ended a run is shown even to a silenced front end whose
    // errors end the program: it is the reason nothing (more) was converted.
    if (m_suppress && !(top_level && hooks.level1_ends_process()))
        return;
    const frontend_continue_answer answer = hooks.ask_continue(message);
    if (answer.abort && !top_level)
        throw tk_final_exception();
    m_suppress = answer.do_not_show_again;
}

#include "console/console_frontend.h"

#include <cstdio>

#include "TK/tk_format.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/pelmora_convertor.h"

namespace {

void write_all(std::FILE* stream, std::string_view text)
{
    if (!text.empty())
        std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

void write_report(std::string_view message)
{
    std::string text = "Error:\n";
    text += tk_visible_text(message);
    text += '\n';
    console_write_err(text);
}

}  // namespace

bool console_is_silent() noexcept
{
    const pelmora_convertor* conv = pelmora_convertor::try_instance();
    return conv && conv->is_silent();
}

void console_write_out(std::string_view text)
{
    write_all(stdout, text);
}

void console_write_err(std::string_view text)
{
    std::fflush(stdout);
    write_all(stderr, text);
}

void exit_with_message(const std::string& text)
{
    tk_write_log(3, "%s", text.c_str());
    // Written even when the program is silent: it says why nothing was done.
    console_write_err(text + "\n");
    throw console_exit{-1};
}

std::string console_summary_line(const conversion_failures& failures)
{
    std::string line =
        tk_format("Conversion incomplete: %llu rows, %llu tables, %llu indexes, %llu foreign keys and %llu views "
                  "were not converted",
                  static_cast<unsigned long long>(failures.rows.load()),
                  static_cast<unsigned long long>(failures.tables.load()),
                  static_cast<unsigned long long>(failures.indexes.load()),
                  static_cast<unsigned long long>(failures.keys.load()),
                  static_cast<unsigned long long>(failures.views.load()));
    // The kinds that only some runs meet are named when they happened.
    struct kind {
        std::uint64_t count;
        const char* one;
        const char* many;
    };
    const kind rarer[] = {
        {failures.sequences.load(), "sequence was not set", "sequences were not set"},
        {failures.columns.load(), "column default or property was not carried",
         "column defaults or properties were not carried"},
        {failures.keyless_merges.load(), "table's rows were appended, not merged (no key, or NULL in the key)",
         "tables' rows were appended, not merged (no key, or NULL in the key)"},
    };
    for (const kind& k : rarer)
        if (k.count)
            line += "; " + std::to_string(k.count) + " " + (k.count == 1 ? k.one : k.many);
    return line;
}

std::string console_stopped_line(const char* signal_name, bool live, const std::wstring& stopped_table,
                                 std::uint64_t rows_kept, std::uint32_t tables_done, std::uint32_t tables_total)
{
    auto tables = [](std::uint32_t n) { return n == 1 ? std::string("1 table") : std::to_string(n) + " tables"; };
    std::string line = std::string("Stopped by ") + signal_name;
    if (!stopped_table.empty()) {
        line += " while converting table '" + tk_unicode_to_utf8(tk_visible_text(stopped_table)) + "'";
        if (live)
            line += ": " + std::to_string(rows_kept) + " of its rows were committed";
    } else if (tables_done == 0) {
        line += " before any table was converted";
    } else {
        line += " after " + tables(tables_done) + " of " + std::to_string(tables_total) +
                (live ? " (their rows were committed)" : "");
    }
    const std::uint32_t left = tables_total > tables_done ? tables_total - tables_done : 0;
    if (left != 0)
        line += std::string(", ") + (left == 1 ? "1 more table was" : std::to_string(left) + " more tables were") +
                " not converted";
    line += ", foreign keys and views were not created.";
    line += live ? " What was committed stays in the destination database." 
                 : " The script file was not written: an earlier script of that name was left as it was.";
    return line + " The conversion was ended.";
}

std::string console_progress_text(const std::wstring& line)
{
    // The run ends its lines with CR LF; on this platform's console a line
    // ends with LF alone. Inside the line, names from the source may hold
    // control characters: shown, never sent raw to the terminal.
    std::wstring_view body(line);
    const bool ends_line = body.ends_with(L"\r\n");
    if (ends_line)
        body.remove_suffix(2);
    std::string text = tk_unicode_to_ansi(tk_visible_text(body));
    if (ends_line)
        text += '\n';
    if (line.starts_with(L"Converting table "))
        text += '\n';
    return text;
}

void console_hooks::progress_line(const std::wstring& line)
{
    if (!console_is_silent())
        console_write_out(console_progress_text(line));
}

void console_hooks::unexpected_error(const std::string& text)
{
    // The run has logged it already. It ended the run: shown even when silent.
    console_write_err(tk_visible_text(text) + "\n");
}

void console_hooks::show_internal_error(const std::string& message)
{
    // Shown even when the program is silent: the user must learn why it ended.
    console_write_err("Internal error: " + message + "\n");
}

void console_hooks::show_error(const std::string& message)
{
    write_report(message);
}

frontend_continue_answer console_hooks::ask_continue(const std::string& message)
{
    // Nobody to ask on the console: the report is printed and the work goes on.
    write_report(message);
    return {};
}

void console_hooks::end_process(int exit_code)
{
    tk_write_log(3, "Ending the program with exit code %d", exit_code);
    std::fflush(stdout);
    throw console_exit{exit_code};
}

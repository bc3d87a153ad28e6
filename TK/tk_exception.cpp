#include "TK/tk_exception.h"

#include <cstdio>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_system.h"

namespace {
const char unknown_exception[] = "Unknown exception";
}

tk_exception::tk_exception(const char* text, int level)
    : m_message(text && *text ? text : unknown_exception), m_level(level)
{
}

tk_exception::tk_exception(const std::string& text, int level)
    : m_message(text.empty() ? std::string(unknown_exception) : text), m_level(level)
{
}

tk_exception::tk_exception(const wchar_t* text, int level) : m_level(level)
{
    if (text) m_message = tk_unicode_to_ansi(text);
}

tk_exception::tk_exception(const std::wstring& text, int level)
    : m_message(tk_unicode_to_ansi(text)), m_level(level)
{
}

tk_exception::tk_exception(int level) : m_message(unknown_exception), m_level(level) {}

tk_exception_ex::tk_exception_ex(const char* text, int level) : tk_exception(level)
{
    // Read errno first: building the text below may change it.
    int system_error = pf_last_error();
    append_system_message(text ? text : "", system_error);
}

tk_exception_ex::tk_exception_ex(const std::string& text, int level) : tk_exception(level)
{
    int system_error = pf_last_error();
    append_system_message(text, system_error);
}

tk_exception_ex::tk_exception_ex() : tk_exception(1)
{
    int system_error = pf_last_error();
    append_system_message(std::string(), system_error);
}

tk_exception_ex::tk_exception_ex(const std::string& text, int level, int system_error) : tk_exception(level)
{
    append_system_message(text, system_error);
}

void tk_exception_ex::append_system_message(const std::string& text, int system_error)
{
    set_error_code(system_error);
    std::optional<std::string> system_text = pf_error_text(system_error);
    if (!system_text) return;  // keeps "Unknown exception"
    // The system's sentence ends with a line break, as the error texts of the
    // original platform did; the error handler turns line breaks into blanks.
    set_message(text + *system_text + "\r\n");
    tk_write_log(2, "GetLastError: %s", system_text->c_str());
}

std::string make_err_meggase(const char* source_file, int line)
{
    if (!source_file) source_file = "";
    tk_write_log(2, "make_err_meggase(%s, %d)", source_file, line);
    char position[276];
    std::snprintf(position, sizeof position, "%s\\%d", source_file, line);
    tk_write_log(2, "result=%s", position);
    static const char digits[] = "0123456789abcdef";
    std::string message = "Internal error: \ncode=";
    for (const char* p = position; *p; ++p) {
        auto b = static_cast<unsigned char>(*p);
        message.push_back(digits[b >> 4]);
        message.push_back(digits[b & 0x0F]);
    }
    return message;
}

tk_mail_assertion::tk_mail_assertion(const char* source_file, int line)
    : tk_exception(make_err_meggase(source_file, line), 2)
{
    tk_write_log(2, "tk_mail_assertion::ctor(%s)", source_file ? source_file : "");
}

tk_final_exception::tk_final_exception() { tk_write_log(2, "tk_final_exception::ctor"); }

tk_error_converter::tk_error_converter(int entry_count, const error_code_entry* table)
{
    tk_write_log(2, "tk_error_converter::ctor (map size=%d)", entry_count);
    load_map(entry_count, table);
}

void tk_error_converter::load_map(int entry_count, const error_code_entry* table)
{
    tk_write_log(2, "tk_error_converter::load_map (map size=%d)", entry_count);
    if (!table) throw tk_mail_assertion("tk_errco", 43);
    for (int i = 0; i < entry_count; ++i) {
        // emplace keeps the text already there: the first table loaded wins.
        m_map.emplace(static_cast<std::uint32_t>(table[i].code), table[i].text ? table[i].text : "");
    }
}

std::string tk_error_converter::convert(int code) const
{
    tk_write_log(2, "tk_error_converter::convert(%d)", code);
    auto it = m_map.find(static_cast<std::uint32_t>(code));
    if (it == m_map.end()) {
        tk_write_log(1, "Error message not found!");
        return {};
    }
    tk_write_log(1, "Error message has been found: %s", it->second.c_str());
    return it->second;
}

#include "TK/tk_cmdli.h"

#include <cstring>

#include "TK/tk_exception.h"

void TCmdLine::parse_current(const char* argument)
{
    if (!argument)
        throw tk_mail_assertion("tk_cmdli", 19);
    const cmd_line_option* entry = m_options;
    // The terminator's empty prefix begins every argument, so the walk ends.
    while (std::strncmp(argument, entry->prefix, std::strlen(entry->prefix)) != 0)
        ++entry;
    const std::size_t prefix_length = std::strlen(entry->prefix);
    m_current_value = argument + prefix_length;
    if (prefix_length != 0) {
        m_current_id = entry->id;
        return;
    }
    m_current_id = -1;
    m_unrecognised.push_back(argument);
}

ansi_cmd_line::ansi_cmd_line(int argc, char* const* argv, const cmd_line_option* options)
    : TCmdLine(options), m_current(argv && argc > 0 ? argv + 1 : argv), m_left(argv && argc > 1 ? argc - 1 : 0)
{
    if (m_left > 0)
        parse_current(*m_current);
}

void ansi_cmd_line::next()
{
    if (m_left <= 0)
        throw tk_mail_assertion("tk_cmdli", 60);
    ++m_current;
    --m_left;
    if (m_left > 0)
        parse_current(*m_current);
}

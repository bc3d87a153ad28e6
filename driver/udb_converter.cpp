#include "driver/udb_converter.h"

#include "TK/tk_exception.h"
#include "TK/tk_log.h"

udb_converter::udb_converter()
{
    tk_write_log(2, "udb_converter::ctor");
}

udb_converter::~udb_converter() = default;

void udb_converter::set_mode(int mode)
{
    tk_write_log(1, "udb_converter::set_mode(%d)", mode);
    // Any other number would make the run treat an existing table by no rule
    // at all (neither drop, skip nor merge): refuse it where it is given.
    if (mode < udb_mode_overwrite_db || mode > udb_mode_synchronize)
        throw tk_exception("Invalid mode for an existing destination: use a number from 0 to 4.", 1);
    n_mode = mode;
}

std::wstring udb_converter::get_current_table() const
{
    std::lock_guard<std::mutex> lock(m_current_mutex);
    return m_current_table;
}

void udb_converter::set_current_table(const std::wstring& name)
{
    std::lock_guard<std::mutex> lock(m_current_mutex);
    m_current_table = name;
}

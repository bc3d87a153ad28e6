#include "UDB/udb_engine.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

#include "TK/tk_exception.h"
#include "TK/tk_strings.h"

udb_engine::~udb_engine() = default;

void udb_engine::db_delete(const std::wstring& name)
{
    const std::string path = tk_unicode_to_utf8(name);
    // std::remove would also remove an empty folder: only files are databases here.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw tk_exception_ex("", 1, EISDIR);
    if (std::remove(path.c_str()) != 0) throw tk_exception_ex("", 1, errno);
}

bool udb_engine::is_db_exist(const std::wstring& name)
{
    const std::string path = tk_unicode_to_utf8(name);
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void udb_engine::set_properties(udb_properties* properties_)
{
    properties = properties_;
}

#include "driver/destination_check.h"

#include <cerrno>
#include <cstdio>

#include "TK/tk_exception.h"
#include "TK/tk_file_names.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/pelmora_convertor.h"
#include "pg_target/pgs_engine.h"

void common_check_dest(const std::wstring& path)
{
    tk_write_wlog(1, L"common_check_dest(%s)", path.c_str());
    if (tk_is_path_exist(path))
        throw tk_exception("Destination name should specify a file, not folder.", 1);
    if (tk_is_file_exist2(path, tk_file_exists_mode) && !tk_is_file_exist2(path, tk_file_writable_mode))
        throw tk_exception("Destination name specifies an existing read-only file.", 1);
    const std::wstring folder = tk_file_wname(path).get_path();
    if (!tk_is_path_exist(folder))
        throw tk_exception("Destination path does not exist.\nPlease verify the correct path was given.", 1);
    if (!tk_has_file_access(folder, GENERIC_WRITE))
        throw tk_exception(
            "Cannot create or write into the destination file.\nRun the program as Administrator or change folder.",
            1);
}

void pelmora_convertor::check_dest()
{
    tk_write_log(1, "pelmora_convertor::check_dest()");
    const std::wstring& dest = get_destination();
    // Dropping the destination database or deleting the script file cannot be
    // undone: a mistyped source must fail here, before anything is lost.
    if (!is_mysql_base_exist(get_source()))
        throw tk_exception(L"Source database '" + get_source() +
                               L"' does not exist. The destination was left unchanged.",
                           1);
    if (b_direct) {
        pgs_engine& engine = get_pgs_engine();
        if (n_mode == udb_mode_overwrite_db && engine.is_db_exist(dest))
            engine.delete_db(dest);
        return;
    }
    common_check_dest(dest);
    if (tk_is_file_exist2(dest, tk_file_exists_mode)) {
        if (std::remove(tk_unicode_to_utf8(dest).c_str()) != 0)
            throw tk_exception_ex("Cannot delete the existing destination file.", 1);
    }
}

#include "driver/destination_check.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "TK/tk_exception.h"
#include "TK/tk_file_names.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "SQL/sql_engine.h"
#include "driver/conversion_run.h"
#include "driver/pelmora_convertor.h"
#include "pg_target/pgs_engine.h"

void common_check_dest(const std::wstring& path)
{
    tk_write_wlog(1, L"common_check_dest(%s)", path.c_str());
    if (tk_is_path_exist(path))
        throw tk_exception("Destination name should specify a file, not folder.", 1);
    std::error_code ec;
    const auto status = std::filesystem::status(tk_unicode_to_utf8(path), ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        throw tk_exception(L"Destination name '" + path +
                               L"' specifies a device, pipe or socket, not a file. It was left unchanged.",
                           1);
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
    // The server would cut a longer schema name (folding keeps its length): the tables would
    // land in another schema.
    pgs_engine::check_name_fits("schema", pgs_schema);
    // The whole destination is replaced (the database in mode 0, or the
    // script file): a table list of which the source holds nothing (a typo,
    // the wrong source) must not empty it.
    if (b_direct ? n_mode == udb_mode_overwrite_db : true)
        check_listed_tables_exist();
    if (b_direct) {
        pgs_engine& engine = get_pgs_engine();
        if (n_mode == udb_mode_overwrite_db && engine.is_db_exist(dest))
            engine.delete_db(dest);
        return;
    }
    // An existing script stays until the new one is finished: the script
    // writer puts it in its place at the end of the run.
    common_check_dest(dest);
}

void pelmora_convertor::check_listed_tables_exist()
{
    // The tables of a table list, or of a profile's selection; neither: every table.
    if (selected_tables.empty() && query_list.empty())
        return;
    // A custom query converts something whatever the table list says.
    for (const udb_work_item& item : query_list)
        if (!item.second.empty())
            return;
    // The same rule as the run's: a name counts when the run would convert a table under it.
    const std::unique_ptr<udb_database> source = get_sql_engine().open_db(get_source(), 0xA1, std::wstring());
    const std::vector<std::wstring>& names = source->get_table_names();
    const std::unordered_set<std::wstring> source_tables(names.begin(), names.end());
    auto in_source = [&](const std::wstring& listed) {
        return !source_table_name(source_tables, listed, [&](const std::wstring& name) {
                    return source->test_query(L"SELECT 1 FROM " + source->quote_table_name(name) + L" LIMIT 0");
                }).empty();
    };
    for (const std::wstring& listed : selected_tables)
        if (in_source(listed))
            return;
    for (const udb_work_item& item : query_list)
        if (in_source(item.first))
            return;
    throw tk_exception(L"None of the listed tables exists in the source database '" + get_source() +
                           L"'. The destination was left unchanged.",
                       1);
}

#include "driver/pelmora_convertor.h"

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "TK/tk_format.h"
#include "TK/tk_log.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_dump.h"

pelmora_convertor::pelmora_convertor(convertor_form form)
    : tk_serializer(pelmora_settings_key), m_form(form)
{
    tk_write_log(2, "pelmora_convertor::ctor");
    if (form == convertor_form::console) {
        // The console starts from plain defaults: rows as INSERT statements and
        // names folded to lower case unless its options say otherwise.
        convert_views = false;
        b_case_sens = false;
        get_pgs_engine().is_case_sens = false;
        get_pgs_engine().unlogged = false;
        get_pgs_engine().fast_insert = false;
        all_tables_when_empty = true;
    } else {
        serialize(false);
    }
}

pelmora_convertor::~pelmora_convertor()
{
    tk_write_log(2, "pelmora_convertor::dtor");
    if (m_form == convertor_form::wizard)
        serialize(true);
    // A run still going on another thread uses this object: ask it to stop.
    request_stop();
}

bool pelmora_convertor::serialize(bool store)
{
    tk_write_log(1, "serialize( %d )", store ? 1 : 0);
    if (open_key() != tk_reg_success)
        return false;
    tk_reg_key& key = get_key();
    pgs_engine& pg = get_pgs_engine();
    const bool load = !store;
    bool ok = true;
    // One value of the table: the preset (when loading) and the item.
    auto item = [&](const auto* name, auto& field, auto preset) {
        if (load)
            field = preset;
        ok = serialize_item(key, name, field, store) && ok;
    };
    auto kept = [&](const auto* name, auto& field) { ok = serialize_item(key, name, field, store) && ok; };

    item("case_sens", b_case_sens, true);
    item("convert_views", convert_views, true);
    kept(L"dest", m_destination);
    item("direct", b_direct, true);
    kept(L"encoding", client_encoding);
    item("fast_insert", pg.fast_insert, false);
    kept("log_file", m_logfile);
    kept("myport", mysql_port);
    kept("mysqlh", mysql_host);
    kept("mysqlp", mysql_password);
    kept("mysqlu", mysql_user);
    kept("pgshost", pgs_host);
    kept("pgspswd", pgs_password);
    item("pgsport", pgs_port, 0);
    kept("pgsuser", pgs_user);
    item("skip_idx", skip_idx, false);
    kept(L"src", m_source);
    kept(L"ssl_ccert", pg.ssl_ccert);
    kept(L"ssl_clkey", pg.ssl_clkey);
    kept(L"ssl_rcert", pg.ssl_rcert);
    kept(L"ssl_revoc", pg.ssl_revoc);
    item("ssl_use", pg.ssl_use, false);
    item("ssl_auth", pg.ssl_auth, false);
    item("tab_def", tab_def, false);
    item("unlogged", pg.unlogged, false);

    return close_key() == tk_reg_success && ok;
}

bool pelmora_convertor::test_query(const std::wstring& query_text)
{
    return mysql_converter_impl::test_query(get_source(), query_text);
}

std::string pelmora_convertor::query_refusal(const std::wstring& query_text)
{
    std::unique_ptr<udb_database> db = get_sql_engine().open_db(get_source(), 1, std::wstring());
    auto* source = dynamic_cast<sql_database*>(db.get());
    if (!source)
        throw tk_mail_assertion("pelmora_convertor", 1);
    return source->prepare_refusal(query_text);
}

std::vector<std::wstring>& pelmora_convertor::get_all_tables(std::vector<std::wstring>& list)
{
    tk_write_log(2, "pelmora_convertor::get_all_tables");
    std::unique_ptr<udb_database> db = get_sql_engine().open_db(get_source(), 0xA1, std::wstring());
    list = db->get_table_names();
    tk_write_log(2, "pelmora_convertor::get_all_tables - end");
    return list;
}

udb_view_list& pelmora_convertor::get_all_views(udb_view_list& list)
{
    tk_write_log(2, "pelmora_converter::get_all_views");
    std::unique_ptr<udb_database> db = get_sql_engine().open_db(get_source(), 0x21, std::wstring());
    list = db->get_views();
    return list;
}

udb_schema& pelmora_convertor::get_schema(udb_schema& schema, const std::wstring& table_name)
{
    tk_write_wlog(2, L"pelmora_convertor::get_schema(%s)", table_name.c_str());
    std::unique_ptr<udb_database> db = get_sql_engine().open_db(get_source(), 1, std::wstring());
    // A name from a stored selection may no longer be in the source: the
    // caller gets an error it can report instead of an internal error.
    if (!db->is_table_exist(table_name))
        throw tk_exception(L"Table '" + table_name + L"' does not exist in the source database.", 1);
    std::unique_ptr<udb_recordset> rs = db->get_table(table_name, 1);
    const udb_schema& source = rs->get_schema();
    schema.columns() = source.columns();  // shares the descriptors
    schema.mode = source.mode;
    schema.seed = source.seed;
    schema.increment = source.increment;
    rs.reset();
    return schema;
}

std::int32_t pelmora_convertor::dest_mode_for(int n_mode) noexcept
{
    switch (n_mode) {
    case udb_mode_overwrite_db:
        return 164;
    case udb_mode_synchronize:
        return 296;
    default:
        return 40;
    }
}

std::unique_ptr<pgs_base_db> pelmora_convertor::get_dest_base()
{
    tk_write_log(2, "pelmora_convertor::get_dest_base");
    pgs_engine& engine = get_pgs_engine();
    const std::wstring& dest = get_destination();
    if (b_direct) {
        engine.reconnect_if_lost();
        if (engine.is_db_exist(dest))
            return engine.open_db(dest, dest_mode_for(n_mode), std::wstring());
        return engine.create_db(dest);
    }
    script_options.creator = tk_format("Tessalane %d.%d %s", 6, 3, creator_suffix.c_str());
    // The script keeps the mode's word where it is loaded: it cannot know that database now.
    switch (n_mode) {
    case udb_mode_overwrite_tables: script_options.existing_tables = pgs_existing_table::overwrite; break;
    case udb_mode_skip_tables: script_options.existing_tables = pgs_existing_table::keep; break;
    case udb_mode_merge: script_options.existing_tables = pgs_existing_table::merge; break;
    case udb_mode_synchronize: script_options.existing_tables = pgs_existing_table::synchronize; break;
    default: script_options.existing_tables = pgs_existing_table::replace; break;
    }
    return engine.create_dump(dest, script_options);
}

#include "pg_target/pgs_database.h"

#include <algorithm>
#include <cstdio>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_catalog.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_index_builder.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_recordset.h"
#include "pg_target/pgs_table_builder.h"
#include "pg_target/pgs_validators.h"

namespace {

std::wstring field_text(const pqxx::field& f)
{
    return f.is_null() ? std::wstring() : tk_utf8_to_unicode(f.c_str());
}

bool is_case_sens_now()
{
    return tk_singleton<pgs_engine>::get_instance()->is_case_sens;
}

}  // namespace

// --- pgs_base_db -------------------------------------------------------------

pgs_base_db::pgs_base_db(std::wstring name, std::int32_t mode, bool case_sensitive)
    : udb_database(std::move(name), mode, case_sensitive)
{
    tk_write_log(2, "pgs_base_db::ctor");
}

pgs_base_db::~pgs_base_db() = default;

std::wstring pgs_base_db::add_full_name1(const std::wstring& name)
{
    tk_write_wlog(2, L"pgs_base_db::add_full_name1(%s)", name.c_str());
    tk_write_log(2, "is_case_sens=%d", int(case_sensitive));
    std::wstring schema, table;
    auto dot = name.find(L'.');
    if (dot != std::wstring::npos) {
        tk_write_log(2, "Got schema.table form");
        schema = name.substr(0, dot);
        table = name.substr(dot + 1);
    } else {
        tk_write_log(2, "Got 'pure' table form");
        schema = L"public";
        table = name;
    }
    std::wstring full = schema + L"." + table;
    tk_write_wlog(2, L"tables.push_back(full_tab_name=%s)", full.c_str());
    table_names.push_back(full);
    tk_write_wlog(1, L"sname=%s, tname=%s", schema.c_str(), table.c_str());
    return full;
}

std::wstring pgs_base_db::get_full_name(const std::wstring& name)
{
    tk_write_wlog(1, L"pgs_base_db::get_full_name(%s)", name.c_str());
    if (name.find(L'.') != std::wstring::npos) return name;
    return L"public." + name;
}

std::wstring pgs_base_db::make_safe_tname(const std::wstring& table, const std::wstring& schema)
{
    tk_write_wlog(1, L"pgs_base_db::make_safe_tname(%s,%s)", table.c_str(), schema.c_str());
    if (schema.empty()) return table;
    return schema + L"." + table;
}

std::wstring pgs_base_db::get_safe_name(const std::wstring& name) const
{
    tk_write_wlog(1, L"pgs_base_db::get_safe_name(%s)", name.c_str());
    const pgs_engine* engine = tk_singleton<pgs_engine>::get_instance();
    if (name.find(L'.') != std::wstring::npos || pgs_is_quoted_name(name))
        return engine->make_name3(name, true);
    // The schema quoted too: the same text whatever the search path says.
    return L"\"public\"." + engine->make_name3(name, true);
}

pgs_t_ftd::pgs_t_ftd(std::uint32_t size, std::wstring name, VARTYPE vartype, bool not_null,
                     std::string orig_type_, bool auto_increment, const ole_variant& default_value,
                     std::int32_t subtype)
    : t_ftd(size, std::move(name), vartype, not_null, auto_increment, default_value, subtype),
      orig_type(std::move(orig_type_))
{
    tk_write_wlog(1, L"pgs_t_ftd::ctor(size=%d,name=%s)", int(size), this->name.c_str());
    tk_write_log(1, "orig_type=%s", orig_type.c_str());
}

// --- pgs_database ------------------------------------------------------------

pgs_database::pgs_database(std::wstring name, std::wstring schema, std::int32_t mode,
                           bool case_sensitive)
    : pgs_base_db(std::move(name), mode, case_sensitive), m_schema(std::move(schema))
{
    tk_write_wlog(2, L"pgs_database::ctor2(%s,%s)", this->name.c_str(), m_schema.c_str());
    read_tables(m_schema);
    try {
        init_sequencies(m_schema);
    } catch (const pgs_exception& e) {
        tk_write_log(3, "Error while extracting sequencies:\n%s\n", e.what());
    }
    if (!(mode & 0x80)) {
        try {
            init_views(m_schema);
        } catch (const pgs_exception& e) {
            tk_write_log(3, "Error while extracting views:\n%s\n", e.what());
        }
    }
    try {
        register_index_names();
    } catch (const pgs_exception& e) {
        tk_write_log(3, "Error while extracting index names:\n%s\n", e.what());
    }
}

pgs_database::~pgs_database() = default;

pgs_connection& pgs_database::connection() const
{
    if (m_connection) return *m_connection;
    pgs_connection* conn = tk_singleton<pgs_engine>::get_instance()->connection();
    if (!conn) throw pgs_exception("Not connected to a PostgreSQL server");
    return *conn;
}

void pgs_database::read_tables(const std::wstring& schema)
{
    tk_write_wlog(2, L"pgs_database::get_schema_info #2 (%s)", schema.c_str());
    std::string sql = "SELECT schemaname, tablename FROM pg_tables WHERE schemaname";
    if (!schema.empty()) {
        sql += '=';
        pgs_append_literal(sql, std::wstring_view(schema));
        sql += " or schemaname='public' and tablename='__history__'";
    } else {
        sql += " NOT IN ('pg_catalog', 'information_schema')";
    }
    sql += " ORDER BY schemaname,tablename";
    tk_write_log(2, "str_query=%s", sql.c_str());
    try {
        pgs_connection& conn = connection();
        conn.make_room();
        pqxx::work tx(conn.get(), "get_tables");
        pqxx::result r = tx.exec(sql);
        for (const auto& row : r) add_full_name2(field_text(row[0]), field_text(row[1]));
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(2, "Got pgs_exception");
        throw pgs_exception(e.base().what());
    }
}

void pgs_database::add_full_name2(const std::wstring& schema, const std::wstring& table)
{
    tk_write_wlog(2, L"pgs_database::add_full_name2(%s,%s)", schema.c_str(), table.c_str());
    std::wstring full = schema.empty() ? table : schema + L"." + table;
    tk_write_wlog(2, L"full_name=%s", full.c_str());
    table_names.push_back(std::move(full));
}

void pgs_database::init_sequencies(const std::wstring& schema)
{
    for (auto& s : pgs_read_sequences(connection(), schema))
        sequences.emplace_back(std::move(s.name), s.start, s.increment, s.minimum, s.maximum, s.cycle);
}

void pgs_database::init_views(const std::wstring& schema)
{
    for (auto& v : pgs_read_views(connection(), schema)) views.push_back(std::move(v));
}

void pgs_database::register_index_names()
{
    // Index names are unique per schema: the validator must not hand out a
    // name that an index of another table already has there. Opened for every
    // schema, the names of every user schema count, since tables may go into
    // any of them.
    auto names = pgs_read_index_names(connection(), m_schema);
    tk_singleton<pgs_engine>::get_instance()->in_validator().add_destination_names(names);
}

std::pair<std::wstring, std::wstring> pgs_database::split_name(const std::wstring& name) const
{
    tk_write_wlog(1, L"pgs_database::split_name(%s)", name.c_str());
    std::wstring rest = name;
    std::wstring schema;
    bool found = false;
    if (rest.size() >= 2 && rest.front() == L'"' && rest.back() == L'"') {
        tk_write_log(1, "Name is enclosed in \"...\"");
        rest = rest.substr(1, rest.size() - 2);
        auto pos = rest.find(L"\".\"");
        if (pos != std::wstring::npos) {
            tk_write_log(1, "\"schema\".\"table\" format");
            schema = rest.substr(0, pos);
            rest = rest.substr(pos + 3);
            found = true;
        }
    } else {
        tk_write_log(1, "Name is NOT enclosed in \"...\"");
        auto pos = rest.find(L'.');
        if (pos != std::wstring::npos) {
            tk_write_log(1, "schema.table format");
            schema = rest.substr(0, pos);
            rest = rest.substr(pos + 1);
            found = true;
        }
    }
    if (found) {
        tk_write_log(1, "Getting schema for composed name");
    } else {
        tk_write_log(2, "Prepare default schema for simple name (table only)");
        schema = m_schema.empty() ? std::wstring(L"public") : m_schema;
    }
    tk_write_wlog(1, L"schema=%s", schema.c_str());
    return {schema, rest};
}

bool pgs_database::is_system_table(const std::wstring& name)
{
    static const wchar_t* const catalog_tables[] = {
        L"pg_aggregate", L"pg_am", L"pg_amop", L"pg_amproc", L"pg_attrdef", L"pg_attribute",
        L"pg_authid", L"pg_auth_members", L"pg_cast", L"pg_class", L"pg_collation",
        L"pg_constraint", L"pg_conversion", L"pg_database", L"pg_db_role_setting",
        L"pg_default_acl", L"pg_depend", L"pg_description", L"pg_enum", L"pg_event_trigger",
        L"pg_extension", L"pg_foreign_data_wrapper", L"pg_foreign_server", L"pg_foreign_table",
        L"pg_index", L"pg_inherits", L"pg_init_privs", L"pg_language", L"pg_largeobject",
        L"pg_largeobject_metadata", L"pg_namespace", L"pg_opclass", L"pg_operator",
        L"pg_opfamily", L"pg_pltemplate", L"pg_policy", L"pg_proc", L"pg_range",
        L"pg_replication_origin", L"pg_rewrite", L"pg_seclabel", L"pg_shdepend",
        L"pg_shdescription", L"pg_shseclabel", L"pg_statistic", L"pg_tablespace",
        L"pg_transform", L"pg_trigger", L"pg_ts_config", L"pg_ts_config_map", L"pg_ts_dict",
        L"pg_ts_parser", L"pg_ts_template", L"pg_type", L"pg_user_mapping",
        L"pg_available_extensions", L"pg_available_extension_versions", L"pg_config",
        L"pg_cursors", L"pg_file_settings", L"pg_group", L"pg_indexes", L"pg_locks",
        L"pg_matviews", L"pg_policies", L"pg_prepared_statements", L"pg_prepared_xacts",
        L"pg_replication_origin_status", L"pg_replication_slots", L"pg_roles", L"pg_rules",
        L"pg_seclabels", L"pg_settings", L"pg_shadow", L"pg_stats", L"pg_tables",
        L"pg_timezone_abbrevs", L"pg_timezone_names", L"pg_user", L"pg_user_mappings",
        L"pg_views"};
    static const std::wstring prefix = L"pg_catalog.";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
    const std::wstring_view rest = std::wstring_view(name).substr(prefix.size());
    return std::any_of(std::begin(catalog_tables), std::end(catalog_tables),
                       [&](const wchar_t* t) { return rest == t; });
}

void pgs_database::create_schema(const std::wstring& name)
{
    tk_write_wlog(2, L"pgs_database::create_schema(%s)", name.c_str());
    if (tk_equal_no_case(name, L"public")) {
        tk_write_log(2, "Skip 'public' schema");
        return;
    }
    const pgs_engine* engine = tk_singleton<pgs_engine>::get_instance();
    // CREATE SCHEMA IF NOT EXISTS does what the catalog test of a DO block did,
    // without putting the name into a literal inside a dollar-quoted body.
    std::wstring sql = L"CREATE SCHEMA IF NOT EXISTS " + pgs_quote_identifier(std::wstring_view(
                                                             pgs_fold_name(name, engine->is_case_sens)));
    try {
        query(sql);
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(2, "ERROR: %s", e.base().what());
        throw pgs_exception(std::string("Cannot create schema:") + e.base().what());
    }
}

std::unique_ptr<udb_recordset> pgs_database::create_table1(const std::wstring& name,
                                                           udb_schema& schema, udb_indexes& indexes)
{
    tk_write_wlog(2, L"pgs_database::create_table1(%s)", name.c_str());
    return create_table(name, schema, indexes, nullptr);
}

std::unique_ptr<udb_recordset> pgs_database::create_table2(const std::wstring& name,
                                                           udb_schema& schema, udb_indexes& indexes,
                                                           const udb_partition& partition)
{
    tk_write_wlog(2, L"pgs_database::create_table2(%s)", name.c_str());
    return create_table(name, schema, indexes, &partition);
}

std::unique_ptr<udb_recordset> pgs_database::create_table(const std::wstring& given_name,
                                                          udb_schema& columns, udb_indexes& indexes,
                                                          const udb_partition* partition)
{
    const pgs_engine* engine = tk_singleton<pgs_engine>::get_instance();
    std::wstring name = given_name;
    if (!engine->is_case_sens) {
        tk_write_log(partition ? 1 : 2, "'case sensitive' is OFF, make table name lowercase");
        name = tk_to_lower(name);
    }
    if (is_system_table(name)) {
        tk_write_log(2, "It's a system table that always exists");
        return get_table(name, 8);
    }

    // The columns under names the server takes; the names they had are kept
    // so that indexes naming a renamed column still find it.
    udb_schema copied(1);
    copied.seed = columns.seed;
    copied.increment = columns.increment;
    std::vector<std::wstring> original_names;
    pgs_fn_validator validator(columns);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        t_ftd column = columns[i];
        original_names.push_back(column.name);
        if (!validator.is_acceptable(column.name)) column.name = validator.get_safe_name(column.name);
        tk_write_wlog(2, L"%s -> %s", original_names.back().c_str(), column.name.c_str());
        copied.add_column(std::move(column));
    }
    tk_write_log(1, "Seed=%d, increment=%d", int(copied.seed), int(copied.increment));

    const std::wstring full = get_full_name(name);
    if (is_table_exist(full) || is_table_exist(name)) {
        if (partition && !(mode & 0x8)) throw tk_mail_assertion("pgs_db", 843);
        tk_write_wlog(2, L"Table '%s' exists, just open it", name.c_str());
        return get_table(is_table_exist(full) ? full : name, 8);
    }
    tk_write_wlog(2, L"Table '%s' is not exist, create it", name.c_str());
    const pgs_ddl_settings settings = pgs_ddl_settings::from_engine();
    std::unique_ptr<pgs_schema_initializer> builder =
        partition ? std::make_unique<pgs_schema_initializer>(name, copied, indexes, *partition, settings,
                                                             &original_names)
                  : std::make_unique<pgs_schema_initializer>(name, copied, indexes, settings, &original_names);
    builder->build_schema(*this);
    const std::wstring listed = add_full_name1(name);
    if (!indexes.empty()) {
        pgs_indexes_initializer index_builder(name, builder->get_columns(), indexes, builder->get_names_map());
        index_builder.build_indexes(*this);
    } else {
        tk_write_log(2, "indexes.size()=0");
    }
    names_map.add_fn_map(name, builder->get_names_map().get_map());
    return get_table(listed, 2);
}

void pgs_database::create_index(const std::wstring& table, const udb_index& index)
{
    tk_write_wlog(2, L"pgs_database::create_index(%s.%s)", table.c_str(), index.name.c_str());
    const pgs_engine* engine = tk_singleton<pgs_engine>::get_instance();
    std::wstring idx_name = table + L"_" + index.name;
    tk_wstring::replace_all(idx_name, L".", L"_");
    idx_name = engine->make_idx_name(idx_name);
    tk_write_wlog(2, L"new_idx_name=%s", idx_name.c_str());
    std::wstring sql;
    if (index.primary) {
        sql = L"ALTER TABLE " + engine->make_name3(table, true) + L" ADD CONSTRAINT " + idx_name +
              L" PRIMARY KEY(";
    } else {
        sql = std::wstring(L"CREATE ") + (index.unique ? L"UNIQUE " : L"") + L"INDEX " + idx_name +
              L" ON " + engine->make_name3(table, true) + L"(";
    }
    for (std::size_t i = 0; i < index.fields.size(); ++i) {
        if (i) sql += L", ";
        sql += engine->make_name3(index.fields[i], true);
    }
    sql += L");";
    tk_write_wlog(3, L"Create index '%s': %s\n", idx_name.c_str(), sql.c_str());
    try {
        query(sql);
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(3, "Cannot create index: %s. %s", tk_unicode_to_ansi(sql).c_str(), e.base().what());
    }
}

bool pgs_database::delete_tab(const std::wstring& name)
{
    tk_write_wlog(2, L"pgs_database::delete_tab(%s)", name.c_str());
    if (is_system_table(name)) {
        tk_write_wlog(3, L"System table '%s' cannot be deleted", name.c_str());
        return false;
    }
    std::wstring folded = name;
    if (!is_case_sens_now()) {
        tk_write_log(1, "'case sensitive' is OFF, make table name lowercase");
        folded = tk_to_lower(name);
    }
    std::string sql = "DROP TABLE IF EXISTS " + tk_unicode_to_utf8(get_safe_name(folded)) + " CASCADE";
    tk_write_log(2, "query=%s", sql.c_str());
    try {
        pgs_connection& conn = connection();
        conn.make_room();
        pqxx::work tx(conn.get(), "drop_table");
        tx.exec(sql);
        tx.commit();
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(3, "%s", e.base().what());
        throw pgs_exception("Cannot drop table: " + tk_unicode_to_utf8(folded));
    }
    // The list holds names as the server or the creation gave them.
    return udb_database::delete_tab(get_full_name(folded));
}

std::unique_ptr<udb_recordset> pgs_database::get_table(const std::wstring& name, std::int32_t mode)
{
    tk_write_wlog(2, L"pgs_database::get_table(%s)", name.c_str());
    if (!is_table_exist(name)) {
        // A bare name stands for the table in the default schema.
        const std::wstring full = get_full_name(name);
        if (full != name && is_table_exist(full))
            return std::make_unique<pgs_recordset>(this, full, &relationships, mode);
        tk_write_wlog(2, L"Table '%s' does not exists", name.c_str());
        throw tk_mail_assertion("pgs_db", 1093);
    }
    return std::make_unique<pgs_recordset>(this, name, &relationships, mode);
}

std::unique_ptr<udb_recordset> pgs_database::get_query(const std::wstring& name,
                                                       const std::wstring& sql_text, std::int32_t)
{
    tk_write_wlog(2, L"pgs_database::get_query([%s]=%s)", name.c_str(), sql_text.c_str());
    return std::make_unique<pgs_recordset>(this, name, sql_text, &relationships);
}

void pgs_database::get_schema_info(std::vector<std::wstring>& schemas)
{
    tk_write_log(2, "pgs_database::get_schema_info #1");
    try {
        pgs_connection& conn = connection();
        conn.make_room();
        pqxx::work tx(conn.get(), "get_schemas");
        pqxx::result r = tx.exec(
            "SELECT DISTINCT schemaname FROM pg_tables WHERE schemaname NOT IN "
            "('information_schema') ORDER BY 1");
        for (const auto& row : r) {
            schemas.push_back(field_text(row[0]));
            tk_write_wlog(1, L"got schema: %s", schemas.back().c_str());
        }
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception(e.base().what());
    }
}

namespace {

// "set client_encoding ..." (any case, leading blanks allowed).
bool is_client_encoding_statement(const std::wstring& statement)
{
    std::wstring_view s = statement;
    while (!s.empty() && (s.front() == L' ' || s.front() == L'\t' || s.front() == L'\n' || s.front() == L'\r'))
        s.remove_prefix(1);
    static constexpr std::wstring_view set = L"set ";
    if (s.size() < set.size() || !tk_equal_no_case(s.substr(0, set.size()), set)) return false;
    s.remove_prefix(set.size());
    while (!s.empty() && s.front() == L' ') s.remove_prefix(1);
    static constexpr std::wstring_view key = L"client_encoding";
    return s.size() >= key.size() && tk_equal_no_case(s.substr(0, key.size()), key);
}

}  // namespace

std::unique_ptr<udb_recordset> pgs_database::query(const std::wstring& statement)
{
    tk_write_wlog(2, L"pgs_database::query(%s)", statement.c_str());
    if (is_client_encoding_statement(statement)) {
        // Every text this side sends is UTF-8; another client encoding would
        // make the server misread every non-ASCII character. The chosen
        // encoding matters for script files only.
        tk_write_wlog(3, L"The live connection keeps client encoding UTF8 (not sent: %s)", statement.c_str());
        return nullptr;
    }
    pgs_connection& conn = connection();
    conn.make_room();
    pqxx::work tx(conn.get(), "run_query");
    tx.exec(tk_unicode_to_utf8(statement));
    tx.commit();
    return nullptr;
}

bool pgs_database::test_query(const std::wstring& statement)
{
    tk_write_wlog(2, L"pgs_database::test_query(%s)", statement.c_str());
    try {
        pgs_connection& conn = connection();
        conn.make_room();
        pqxx::work tx(conn.get(), "test_query");
        tx.exec(tk_unicode_to_utf8(statement));
        return true;
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(2, "%s", e.base().what());
        return false;
    } catch (...) {
        return false;
    }
}

std::wstring pgs_database::gen_idx_name(const udb_recordset* recordset,
                                        const std::vector<std::wstring>& fields)
{
    tk_write_log(1, "pgs_database::gen_idx_name");
    if (!recordset) throw tk_mail_assertion("pgs_db", 1448);
    std::wstring base = L"UIDX";
    for (const auto& f : fields) base += L"_" + f;
    const udb_indexes& list = recordset->get_indexes();
    if (list.is_acceptable_name(base)) return base;
    for (int i = 0; i <= 99999; ++i) {
        wchar_t counter[16];
        std::swprintf(counter, 16, L"_%05d", i);
        std::wstring candidate = base + counter;
        tk_write_wlog(1, L"udb_indexes::is_acceptable_name(%s)", candidate.c_str());
        if (list.is_acceptable_name(candidate)) return candidate;
    }
    throw tk_mail_assertion("pgs_db", 1466);
}

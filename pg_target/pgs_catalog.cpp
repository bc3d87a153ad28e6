#include "pg_target/pgs_catalog.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"

namespace {

std::wstring field_text(const pqxx::field& f)
{
    return f.is_null() ? std::wstring() : tk_utf8_to_unicode(f.c_str());
}

const char* field_c_str(const pqxx::field& f) { return f.is_null() ? "" : f.c_str(); }

// One read-only transaction; never committed.
pqxx::result run_catalog_query(pgs_connection& conn, const std::string& sql)
{
    try {
        conn.make_room();
        pqxx::work tx(conn.get(), "get_views");
        return tx.exec(sql);
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception::from_current();
    }
}

}  // namespace

std::int32_t pgs_catalog_int32(const char* text)
{
    if (!text) return 0;
    while (*text == ' ') ++text;
    const char* end = text + std::strlen(text);
    const char* p = text;
    if (p != end && *p == '+') ++p;
    long long v = 0;
    auto [ptr, ec] = std::from_chars(p, end, v);
    if (ec == std::errc::result_out_of_range)
        return (*p == '-') ? std::numeric_limits<std::int32_t>::min()
                           : std::numeric_limits<std::int32_t>::max();
    if (ec != std::errc() || ptr == p) return 0;
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

std::wstring pgs_clean_view_definition(std::wstring definition)
{
    definition = tk_trim(definition);
    static const std::pair<const wchar_t*, const wchar_t*> rewrites[] = {
        {L"true", L"1"},
        {L"false", L"0"},
        {L"::timestamp without time zone", L""},
        {L"::timestamp with time zone", L""},
        {L"::timestamp", L""},
        {L"::text", L""},
        {L"::double precision", L""},
        {L"::numeric", L""},
    };
    for (const auto& [from, to] : rewrites) tk_wstring::replace_all(definition, from, to);
    return definition;
}

std::vector<pgs_sequence_row> pgs_read_sequences(pgs_connection& conn, const std::wstring& schema)
{
    tk_write_wlog(2, L"pgs_database::init_sequencies(%s)", schema.c_str());
    std::string sql;
    if (schema.empty()) {
        sql = "select sequence_schema || '.' || sequence_name as name, start_value, minimum_value, "
              "maximum_value, increment, cycle_option from information_schema.sequences where "
              "sequence_schema NOT IN ('pg_catalog', 'information_schema')";
    } else {
        sql = "select sequence_name, start_value, minimum_value, maximum_value, increment, "
              "cycle_option from information_schema.sequences where sequence_schema=";
        pgs_append_literal(sql, std::wstring_view(schema));
    }
    sql += " order by 1";
    std::vector<pgs_sequence_row> rows;
    for (const auto& row : run_catalog_query(conn, sql)) {
        pgs_sequence_row s;
        s.name = field_text(row[0]);
        tk_write_wlog(2, L"Got sequence '%s'", s.name.c_str());
        s.start = pgs_catalog_int32(field_c_str(row[1]));
        s.minimum = pgs_catalog_int32(field_c_str(row[2]));
        s.maximum = pgs_catalog_int32(field_c_str(row[3]));
        s.increment = pgs_catalog_int32(field_c_str(row[4]));
        s.cycle = std::strcmp(field_c_str(row[5]), "YES") == 0;
        rows.push_back(std::move(s));
    }
    return rows;
}

std::vector<std::pair<std::wstring, std::wstring>> pgs_read_views(pgs_connection& conn,
                                                                  const std::wstring& schema)
{
    tk_write_wlog(2, L"pgs_database::init_views(%s)", schema.c_str());
    std::string sql;
    if (schema.empty()) {
        sql = "select schemaname || '.' || viewname as viewname, definition from "
              "pg_catalog.pg_views where schemaname NOT IN ('pg_catalog', 'information_schema')";
    } else {
        sql = "select viewname, definition from pg_catalog.pg_views where schemaname=";
        pgs_append_literal(sql, std::wstring_view(schema));
    }
    sql += " order by 1";
    std::vector<std::pair<std::wstring, std::wstring>> views;
    for (const auto& row : run_catalog_query(conn, sql)) {
        std::wstring name = field_text(row[0]);
        std::wstring definition = pgs_clean_view_definition(field_text(row[1]));
        tk_write_wlog(2, L"Got view: ('%s', '%s')", name.c_str(), definition.c_str());
        views.emplace_back(std::move(name), std::move(definition));
    }
    return views;
}

namespace {

// The first column of a catalog query ending in its schema column: the given
// schema, or every schema but the system ones.
std::vector<std::wstring> read_schema_names(pgs_connection& conn, std::string sql, const std::wstring& schema,
                                            const char* system_schemas)
{
    if (schema.empty()) {
        sql += " NOT IN (";
        sql += system_schemas;
        sql += ')';
    } else {
        sql += '=';
        pgs_append_literal(sql, std::wstring_view(schema));
    }
    sql += " order by 1";
    std::vector<std::wstring> names;
    for (const auto& row : run_catalog_query(conn, sql)) names.push_back(field_text(row[0]));
    return names;
}

}  // namespace

std::vector<std::wstring> pgs_read_index_names(pgs_connection& conn, const std::wstring& schema)
{
    return read_schema_names(conn, "select indexname from pg_catalog.pg_indexes where schemaname", schema,
                             "'pg_catalog', 'information_schema'");
}

std::vector<std::wstring> pgs_read_relation_names(pgs_connection& conn, const std::wstring& schema)
{
    return read_schema_names(conn,
                             "select c.relname from pg_catalog.pg_class c join pg_catalog.pg_namespace n "
                             "on n.oid = c.relnamespace where n.nspname",
                             schema, "'pg_catalog', 'information_schema', 'pg_toast'");
}

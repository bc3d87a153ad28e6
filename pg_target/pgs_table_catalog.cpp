#include "pg_target/pgs_table_catalog.h"

#include <cstring>
#include <memory>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_catalog.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_types.h"

namespace {

std::wstring field_text(const pqxx::field& f)
{
    return f.is_null() ? std::wstring() : tk_utf8_to_unicode(f.c_str());
}
const char* field_c_str(const pqxx::field& f) { return f.is_null() ? "" : f.c_str(); }
int catalog_int(const pqxx::field& f) { return pgs_catalog_int32(field_c_str(f)); }

const char* delete_rule(char c)
{
    switch (c) {
    case 'c': return "ON DELETE CASCADE";
    case 'd': return "ON DELETE SET DEFAULT";
    case 'n': return "ON DELETE SET NULL";
    case 'r': return "ON DELETE RESTRICT";
    default: return "";
    }
}

const char* update_rule(char c)
{
    switch (c) {
    case 'c': return "ON UPDATE CASCADE";
    case 'd': return "ON UPDATE SET DEFAULT";
    case 'n': return "ON UPDATE SET NULL";
    case 'r': return "ON UPDATE RESTRICT";
    default: return "";
    }
}

// The sub-type code of a catalog column: the date kind (and whether its
// default is a date expression), or 1 for the kinds read back as text.
std::int32_t catalog_subtype(const std::string& data_type, bool date_default)
{
    if (data_type == "time_stamp" || data_type == "timestamp" || data_type == "timestampz" ||
        data_type == "timestamp without time zone")
        return date_default ? 9 : 1;
    if (data_type == "timestamp with time zone") return (date_default ? 9 : 1) | 0x10;
    if (data_type == "date") return date_default ? 10 : 2;
    if (data_type == "abstime" || data_type == "time" || data_type == "time without time zone" ||
        data_type == "time with time zone")
        return date_default ? 11 : 3;
    if (data_type == "real" || data_type == "uuid" || data_type == "bit") return 1;
    return 0;
}

// The fraction digits a money column keeps on this server (2 for most currencies, 0 for some).
int read_money_scale(pgs_connection& conn)
{
    try {
        conn.make_room();
        pqxx::work tx(conn.get(), "money_scale");
        const pqxx::result r = tx.exec("SELECT scale('0.0001'::numeric::money::numeric)");
        return catalog_int(r[0][0]);
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(3, "ERROR3: %s", e.base().what());
        throw pgs_exception::from_current();
    }
}

}  // namespace

pgs_catalog_columns pgs_read_table_columns(pgs_connection& conn, const std::wstring& schema_name,
                                           const std::wstring& table_name, udb_schema& columns)
{
    // The columns of information_schema.columns, read from the catalog tables by the view's own
    // expressions: the view compares names after a cast, which no index serves, so asking it for
    // one table reads every column of every table (a cost that grows with each table made).
    // Servers before 12 (no generated columns) are asked through the view.
    std::string sql;
    if (conn.get().server_version() >= 120000) {
        sql =
            "SELECT a.attnum, a.attname, "
            "CASE WHEN t.typtype = 'd' THEN "
            "CASE WHEN bt.typelem <> 0 AND bt.typlen = -1 THEN 'ARRAY' "
            "WHEN nbt.nspname = 'pg_catalog' THEN format_type(t.typbasetype, NULL) ELSE 'USER-DEFINED' END "
            "ELSE CASE WHEN t.typelem <> 0 AND t.typlen = -1 THEN 'ARRAY' "
            "WHEN nt.nspname = 'pg_catalog' THEN format_type(a.atttypid, NULL) ELSE 'USER-DEFINED' END END, "
            "information_schema._pg_char_max_length(information_schema._pg_truetypid(a.*, t.*), "
            "information_schema._pg_truetypmod(a.*, t.*)), "
            "CASE WHEN a.attgenerated = '' THEN pg_get_expr(ad.adbin, ad.adrelid) END, "
            "CASE WHEN a.attnotnull OR (t.typtype = 'd' AND t.typnotnull) THEN 'NO' ELSE 'YES' END, "
            "information_schema._pg_numeric_precision(information_schema._pg_truetypid(a.*, t.*), "
            "information_schema._pg_truetypmod(a.*, t.*)), "
            "information_schema._pg_numeric_precision_radix(information_schema._pg_truetypid(a.*, t.*), "
            "information_schema._pg_truetypmod(a.*, t.*)), "
            "information_schema._pg_numeric_scale(information_schema._pg_truetypid(a.*, t.*), "
            "information_schema._pg_truetypmod(a.*, t.*)), "
            "information_schema._pg_datetime_precision(information_schema._pg_truetypid(a.*, t.*), "
            "information_schema._pg_truetypmod(a.*, t.*)) "
            "FROM pg_catalog.pg_attribute a "
            "LEFT JOIN pg_catalog.pg_attrdef ad ON a.attrelid = ad.adrelid AND a.attnum = ad.adnum "
            "JOIN (pg_catalog.pg_class c JOIN pg_catalog.pg_namespace nc ON c.relnamespace = nc.oid) "
            "ON a.attrelid = c.oid "
            "JOIN (pg_catalog.pg_type t JOIN pg_catalog.pg_namespace nt ON t.typnamespace = nt.oid) "
            "ON a.atttypid = t.oid "
            "LEFT JOIN (pg_catalog.pg_type bt JOIN pg_catalog.pg_namespace nbt ON bt.typnamespace = nbt.oid) "
            "ON t.typtype = 'd' AND t.typbasetype = bt.oid "
            "WHERE nc.nspname = ";
        pgs_append_literal(sql, std::wstring_view(schema_name));
        sql += " AND c.relname = ";
        pgs_append_literal(sql, std::wstring_view(table_name));
        sql += " AND NOT pg_catalog.pg_is_other_temp_schema(nc.oid) AND a.attnum > 0 AND NOT a.attisdropped "
               "AND c.relkind IN ('r', 'v', 'f', 'p') "
               "AND (pg_catalog.pg_has_role(c.relowner, 'USAGE') "
               "OR pg_catalog.has_column_privilege(c.oid, a.attnum, 'SELECT, INSERT, UPDATE, REFERENCES')) "
               "ORDER BY a.attnum";
    } else {
        sql = "SELECT ordinal_position, column_name, data_type, character_maximum_length, column_default, "
              "is_nullable, numeric_precision, numeric_precision_radix, numeric_scale, datetime_precision "
              "FROM information_schema.columns WHERE table_schema = ";
        pgs_append_literal(sql, std::wstring_view(schema_name));
        sql += " AND table_name = ";
        pgs_append_literal(sql, std::wstring_view(table_name));
        sql += " order by table_name, ordinal_position";
    }
    tk_write_log(1, "ANSI query=%s", sql.c_str());
    pqxx::result r;
    try {
        conn.make_room();
        pqxx::work tx(conn.get(), "get_schema");
        r = tx.exec(sql);
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(3, "ERROR3: %s", e.base().what());
        throw pgs_exception::from_current();
    }
    tk_write_log(1, "pqxx::result.size=%d", int(r.size()));
    if (r.empty()) throw pgs_exception("Insufficient privileges to read table metadata.");

    pgs_catalog_columns found;
    bool have_auto = false;
    int money_scale = -1;
    for (const auto& row : r) {
        const std::wstring col_name = field_text(row[1]);
        const std::string data_type = field_c_str(row[2]);
        const std::string def = field_c_str(row[4]);
        tk_write_wlog(1, L"Got column #%d, name='%s'", catalog_int(row[0]), col_name.c_str());
        bool is_auto = false;
        if (def.size() >= 7 && tk_string::compare_no_case(std::string_view(def).substr(0, 7), "nextval")) {
            tk_write_wlog(1, L"Got auto_increment '%s'", col_name.c_str());
            if (have_auto) {
                tk_write_wlog(3, L"Multiple auto_increment columns: '%s'!", col_name.c_str());
            } else {
                is_auto = true;
                have_auto = true;
            }
            // The last such column is the one whose sequence is reset.
            found.auto_increment = col_name;
            found.auto_increment_default = tk_utf8_to_unicode(def);
        }
        const VARTYPE catalog_vt = pgs_get_vartype1(data_type);
        std::uint32_t size = row[3].is_null() ? 0 : std::uint32_t(catalog_int(row[3]));
        if (data_type == "uuid") size = 36;
        // information_schema spells float4 "real": a single-precision column, whatever the
        // type name "real" means where a user picks a type.
        pgs_t_ftd column(size, col_name, data_type == "real" ? VT_R4 : catalog_vt, std::string(field_c_str(row[5])) != "YES", data_type, is_auto,
                         ole_variant(), 0);
        if (catalog_vt == VT_DECIMAL) {
            const int prec = catalog_int(row[6]);
            const int scale = catalog_int(row[8]);
            tk_write_log(1, "Setting prec/scale(%d,%d)", prec, scale);
            if (prec == 0 || prec > 38) {
                // Travels as a double, but the column is exact: a negative precision says so.
                // Its scale is the fraction digits it keeps: -1 for a NUMERIC without
                // precision, which keeps them all.
                column.vartype = VT_R8;
                column.precision = -1;
                column.scale = prec == 0 ? -1 : scale;
            } else {
                column.precision = prec;
                column.scale = scale;
            }
        }
        if (data_type == "money") {
            // A currency column is exact, but keeps only the fraction digits of the server's
            // currency (lc_monetary): a number of more digits, or a float, is rounded into it
            // without a word. It is read as a NUMERIC of that scale, so a merge refuses what it
            // would round (a value beyond its range the server refuses itself).
            if (money_scale < 0) money_scale = read_money_scale(conn);
            column.vartype = VT_DECIMAL;
            column.precision = 19;
            column.scale = money_scale;
        }
        // A timestamp keeps its count of fractional second digits, so a table made from this
        // one stores the same precision.
        if (catalog_vt == VT_DATE && !row[9].is_null()) column.scale = catalog_int(row[9]);
        bool date_default = false;
        if (!def.empty() && !is_auto && def.compare(0, 7, "nextval") != 0) {
            tk_write_log(2, "Got def.value: '%s'", def.c_str());
            std::string text = def;
            auto cast = text.find("'::");
            if (text.size() >= 3 && cast != std::string::npos) {
                text.erase(cast);
                if (!text.empty() && text.front() == '\'') text.erase(0, 1);
                // The catalog doubles apostrophes inside the literal.
                tk_string::replace_all(text, "''", "'");
                tk_write_log(1, "After pre-processing: '%s'", text.c_str());
            }
            if (catalog_vt == VT_DATE) {
                tk_write_log(1, "Got date def.value");
                date_default = true;
            } else {
                column.default_value = pgs_get_variant(column.vartype, text.c_str());
            }
        }
        column.dw_reserved = catalog_subtype(data_type, date_default);
        found.data_types.push_back(column.orig_type);
        columns.push_back(std::make_shared<pgs_t_ftd>(std::move(column)));
    }
    return found;
}

std::uint64_t pgs_read_query_columns(pgs_connection& conn, const std::wstring& sql, udb_schema& columns)
{
    try {
        conn.make_room();
        pqxx::work tx(conn.get(), "get_schema2");
        pqxx::result r = tx.exec(tk_unicode_to_utf8(sql));
        tk_write_log(2, "n_records=%llu", (unsigned long long)r.size());
        for (pqxx::row::size_type i = 0; i < r.columns(); ++i) {
            tk_write_log(2, "Processing column #%d", int(i));
            std::wstring col = tk_utf8_to_unicode(r.column_name(i));
            VARTYPE vt = pgs_get_vartype2(std::uint32_t(r.column_type(i)));
            tk_write_wlog(2, L"Name=%s, type=%d", col.c_str(), int(vt));
            columns.add_column(t_ftd(0, col, vt, false, false));
        }
        return r.size();
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(2, "ERROR: %s", e.base().what());
        throw pgs_exception::from_current();
    }
}

std::uint64_t pgs_count_rows(pgs_connection& conn, const std::string& table_sql, const std::wstring& name)
{
    const std::string sql = "SELECT COUNT(*) FROM " + table_sql;
    tk_write_log(1, "Running query: %s", sql.c_str());
    try {
        conn.make_room();
        pqxx::work tx(conn.get(), "get_rec_count");
        pqxx::result r = tx.exec(sql);
        return r[0][0].as<std::uint64_t>();
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception::from_current("Cannot get number of records (" + tk_unicode_to_ansi(name) + "): ");
    }
}

pgs_catalog_keys pgs_read_table_keys(pgs_connection& conn, const std::wstring& schema_name,
                                     const std::wstring& table_name, bool with_foreign_keys)
{
    pgs_catalog_keys found;
    try {
        conn.make_room();
        pqxx::work tx(conn.get(), "init_indexes");
        // The table itself, by schema and name: indexes and keys of a table of
        // the same name in another schema are not this table's.
        std::string table_oid =
            "(SELECT c.oid FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = ";
        pgs_append_literal(table_oid, std::wstring_view(schema_name));
        table_oid += " AND c.relname = ";
        pgs_append_literal(table_oid, std::wstring_view(table_name));
        table_oid += ")";

        // One row per index column, by name (attribute numbers count dropped
        // columns, so they are turned into names by the catalog itself);
        // expression columns have no name and drop out. An index with an
        // expression (a key on a prefix) does not make its named columns
        // unique, so it is read as a plain index, never as a key.
        pqxx::result idx = tx.exec(
            "SELECT i.relname, x.indisunique AND x.indexprs IS NULL, x.indisprimary, a.attname FROM pg_index x "
            "JOIN pg_class i ON i.oid = x.indexrelid "
            "CROSS JOIN LATERAL unnest(x.indkey) WITH ORDINALITY AS k(attnum, ord) "
            "JOIN pg_attribute a ON a.attrelid = x.indrelid AND a.attnum = k.attnum "
            "WHERE x.indrelid = " + table_oid + " ORDER BY x.indisprimary DESC, i.relname, k.ord");
        for (const auto& row : idx) {
            std::wstring iname = field_text(row[0]);
            if (found.indexes.empty() || found.indexes.back().name != iname) {
                pgs_catalog_index f;
                f.name = std::move(iname);
                f.unique = std::strcmp(field_c_str(row[1]), "t") == 0;
                f.primary = std::strcmp(field_c_str(row[2]), "t") == 0;
                found.indexes.push_back(std::move(f));
            }
            found.indexes.back().columns.push_back(field_text(row[3]));
        }

        if (!with_foreign_keys) {
            tk_write_log(2, "Foreign keys are not created, return");
            return found;
        }
        pqxx::result fk = tx.exec(
            "SELECT c.conname, rn.nspname, r.relname, "
            "ARRAY(SELECT a.attname FROM unnest(c.conkey) WITH ORDINALITY k(n, o) JOIN pg_attribute a "
            "ON a.attrelid = c.conrelid AND a.attnum = k.n ORDER BY k.o)::text[], "
            "ARRAY(SELECT a.attname FROM unnest(c.confkey) WITH ORDINALITY k(n, o) JOIN pg_attribute a "
            "ON a.attrelid = c.confrelid AND a.attnum = k.n ORDER BY k.o)::text[], "
            "c.confdeltype, c.confupdtype FROM pg_constraint c "
            "JOIN pg_class r ON r.oid = c.confrelid JOIN pg_namespace rn ON rn.oid = r.relnamespace "
            "WHERE c.contype = 'f' AND c.conrelid = " + table_oid + " ORDER BY c.conname");
        auto names_of = [](const pqxx::field& f) {
            std::vector<std::wstring> names;
            auto parser = f.as_array();
            for (auto item = parser.get_next(); item.first != pqxx::array_parser::done; item = parser.get_next())
                if (item.first == pqxx::array_parser::string_value) names.push_back(tk_utf8_to_unicode(item.second));
            return names;
        };
        const std::wstring table = schema_name + L"." + table_name;
        for (const auto& row : fk) {
            pgs_catalog_foreign_key k;
            k.name = field_text(row[0]);
            k.ref_table = field_text(row[1]) + L"." + field_text(row[2]);
            k.columns = names_of(row[3]);
            k.ref_columns = names_of(row[4]);
            k.rule = tk_utf8_to_unicode(std::string(delete_rule(field_c_str(row[5])[0])) + " " +
                                        update_rule(field_c_str(row[6])[0]));
            tk_write_wlog(2, L"Foreign key '%s' found:", k.name.c_str());
            tk_write_wlog(2, L"fk_table='%s', pk_table='%s', rule='%s'", table.c_str(), k.ref_table.c_str(),
                          k.rule.c_str());
            found.foreign_keys.push_back(std::move(k));
        }
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception::from_current();
    }
    return found;
}

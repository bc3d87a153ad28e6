#include "pg_target/pgs_dump.h"

#include <ctime>

#include "TK/tk_exception.h"
#include "TK/tk_file_names.h"
#include "TK/tk_format.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_dmp_recordset.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_index_builder.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_table_builder.h"
#include "pg_target/pgs_validators.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_defaults.h"
#include "pg_target/pgs_types.h"
#include "UDB/udb_failure.h"

namespace {

const char* const line_end = "\r\n";

}  // namespace

// A script that keeps tables where it is loaded chooses them with \if, which psql reads from
// version 10 on. An older psql reports \if as an unknown command and goes on with both
// branches: it would add the rows to tables the mode keeps and make what exists again. psql 10
// and later skip this block; an older one runs what is inside it, so the unknown \endif that
// follows stops the load there, with psql's error status, before the first table.
const char* const psql_version_guard =
    "-- Loading this script needs psql 10 or later.\r\n"
    "\\if false\r\n"
    "\\echo This script needs psql 10 or later; it was stopped before its first table.\r\n"
    "\\set ON_ERROR_STOP on\r\n"
    "\\endif\r\n";

namespace {

bool case_sens()
{
    return pgs_engine::get_instance()->is_case_sens;
}

std::string comment_text(const std::string& text)
{
    return pgs_comment_text(text);
}

// One name (schema, database, column, index) as one SQL identifier, dots included.
std::string one_name(const std::wstring& name)
{
    std::string out;
    pgs_append_identifier(out, pgs_fold_name(name, case_sens()));
    return out;
}

std::string table_name(const std::wstring& name)
{
    return tk_unicode_to_utf8(pgs_engine::get_instance()->make_name3(name, true));
}

// The DEFAULT clause CREATE TABLE would give the column, taken out of it: `column` becomes
// the column without a default. False (the column left as it is) when it has none, or when
// the default cannot be taken apart without changing what CREATE TABLE writes otherwise.
bool take_default_apart(t_ftd& column, std::wstring& clause, bool& needs_uuid)
{
    if (column.auto_increment) return false;
    const auto subtype = static_cast<std::uint32_t>(column.dw_reserved);
    const bool text = column.vartype == VT_BSTR;
    std::wstring def = make_pgs_def_val(column);
    if (text && (subtype & pgs_subtype::empty_default) && !column.default_is_expression) def = L"''";
    if (def.empty()) return false;
    t_ftd bare = column;
    bare.default_value = ole_variant();
    bare.default_is_expression = false;
    bare.default_is_source_expression = false;
    if (text) bare.dw_reserved = static_cast<std::int32_t>(subtype & ~pgs_subtype::empty_default);
    else if (column.vartype == VT_DATE) bare.dw_reserved = static_cast<std::int32_t>(subtype & ~pgs_subtype::current_moment);
    if (!make_pgs_def_val(bare).empty()) return false;
    if (pgs_schema_initializer::column_type(bare) != pgs_schema_initializer::column_type(column)) return false;
    if (text && (subtype & ~pgs_subtype::empty_default) == pgs_subtype::uuid) needs_uuid = true;
    clause = std::move(def);
    column = std::move(bare);
    return true;
}

}  // namespace

pgs_dump_options::pgs_dump_options()
{
    tk_write_log(2, "pgs_dump_options::ctor1");
}

pgs_dmp_database::pgs_dmp_database(const std::wstring& path, const pgs_dump_options& options)
    : pgs_base_db(path, 2, true), m_options(options), m_out(path)
{
    const std::string path8 = tk_unicode_to_utf8(path);
    tk_write_log(2, "pgs_dmp_database::ctor(%s)", path8.c_str());

    tk_write_log(2, "Step #1");
    if (m_options.insert_comments) {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char date[32];
        std::snprintf(date, sizeof date, "%02d/%02d/%04d", local.tm_mon + 1, local.tm_mday,
                      local.tm_year + 1900);
        std::string header = "/*\r\nFile name: " + comment_text(path8) + line_end;
        header += std::string("Creation date: ") + date + line_end;
        header += "Created by " + comment_text(m_options.creator) + line_end;
        header += std::string(50, '-') + line_end;
        header += std::string("*/") + line_end;
        m_out.write(header);
    }

    tk_write_log(2, "Step #2");
    // Dropping the database would take every table a keeping mode keeps.
    if (m_options.create_database && m_options.create_tables && !keeps_existing_tables()) {
        std::wstring db = tk_utf8_to_unicode(m_options.database_name);
        if (db.empty()) db = tk_file_wname(path).get_name();
        const std::string quoted = one_name(db);
        m_out.write(std::string(line_end) + "DROP DATABASE IF EXISTS " + quoted + "; CREATE DATABASE " +
                    quoted + ";" + line_end);
    }
    // INSERT literals and the schema test keep backslashes as they are, which is what a
    // server with standard_conforming_strings on reads; a server set otherwise would take a
    // backslash before an apostrophe as an escape and let the value end the literal.
    m_out.write("SET standard_conforming_strings = on;\r\n");
    if (keeps_existing_tables()) m_out.write(psql_version_guard);
    tk_write_log(2, "pgs_dmp_database::ctor - END");
}

pgs_dmp_database::~pgs_dmp_database()
{
    tk_write_log(2, "pgs_dmp_database::dtor");
    // m_out closes the file; a failure there can only be traced (close() reports it).
}

void pgs_dmp_database::close()
{
    end_table_block();
    // Temporary, so a session ended early loses them too; a script loaded with \i into a
    // session of the user's leaves nothing behind.
    if (m_overwrite_ready) {
        // A table left as it was lost its keys to the tables the script overwrote: one the
        // script did not make again (it has no such key, or --skip_idx) is named.
        m_out.write("\r\nDO $quindrel$\r\nDECLARE\r\nquindrel_r record;\r\nBEGIN\r\n"
                    "FOR quindrel_r IN SELECT d.nspname, d.relname, d.conname FROM pg_temp.quindrel_dropped d "
                    "WHERE EXISTS (SELECT 1 FROM pg_catalog.pg_class c WHERE c.oid = d.relid) AND NOT EXISTS "
                    "(SELECT 1 FROM pg_catalog.pg_constraint k WHERE k.conrelid = d.relid AND k.conname = d.conname) "
                    "ORDER BY 1, 2, 3 LOOP\r\n"
                    "RAISE WARNING '%', format('Foreign key ''%s'' of table ''%s.%s'' was dropped with the table it "
                    "refers to, which the script made again; it was not made again.', quindrel_r.conname, "
                    "quindrel_r.nspname, quindrel_r.relname);\r\nEND LOOP;\r\nEND\r\n$quindrel$;\r\n"
                    "DROP FUNCTION pg_temp.quindrel_overwrite(text, text);\r\nDROP TABLE pg_temp.quindrel_remade;\r\n"
                    "DROP TABLE pg_temp.quindrel_dropped;\r\n");
    }
    m_out.close();
}

void pgs_dmp_database::set_remade_relations(const std::vector<std::pair<std::wstring, std::wstring>>& relations)
{
    if (!keeps_existing_tables() || m_options.existing_tables != pgs_existing_table::overwrite) return;
    end_table_block();
    write_overwrite_function();
    if (relations.empty()) return;
    m_out.write("COPY pg_temp.quindrel_remade FROM stdin;\n");
    std::string line;
    for (const auto& [schema, relation] : relations) {
        line.clear();
        pgs_append_copy_text(line, std::wstring_view(schema));
        line += '\t';
        pgs_append_copy_text(line, std::wstring_view(relation));
        line += '\n';
        try {
            m_out.write(line);
        } catch (const pgs_exception& e) {
            // Refused whole by the script's encoding, so the COPY block stays intact; a table
            // of that name cannot be written into this script either.
            tk_write_log(3, "%s", e.what());
        }
    }
    m_out.write("\\.\n");
}

void pgs_dmp_database::write_overwrite_function()
{
    if (m_overwrite_ready) return;
    m_overwrite_ready = true;
    const std::string remade = "EXISTS (SELECT 1 FROM pg_temp.quindrel_remade m WHERE m.nspname = "
                               "quindrel_r.nspname AND m.relname = quindrel_r.relname)";
    // The same catalog queries as a live overwrite, so both drop the same objects. Without
    // CASCADE, anything else that depends on the table makes the whole block fail: the drops
    // before it are undone, and the warning carries the server's text naming those objects.
    std::string body =
        "\r\nDECLARE\r\nquindrel_id oid := to_regclass(quindrel_table)::oid;\r\nquindrel_r record;\r\n"
        "quindrel_views text;\r\nquindrel_detail text;\r\nBEGIN\r\n"
        "IF quindrel_id IS NULL THEN\r\nRETURN true;\r\nEND IF;\r\n"
        "FOR quindrel_r IN EXECUTE " + pgs_quote_literal(std::string_view(pgs_referring_keys_sql)) +
        " USING quindrel_id LOOP\r\nIF " + remade +
        " THEN\r\nEXECUTE format('ALTER TABLE %I.%I DROP CONSTRAINT %I', quindrel_r.nspname, quindrel_r.relname, "
        "quindrel_r.conname);\r\nINSERT INTO pg_temp.quindrel_dropped VALUES (quindrel_r.conrelid, quindrel_r.nspname, "
        "quindrel_r.relname, quindrel_r.conname);\r\nEND IF;\r\nEND LOOP;\r\n"
        "FOR quindrel_r IN EXECUTE " + pgs_quote_literal(std::string_view(pgs_reading_views_sql)) +
        " USING quindrel_id LOOP\r\nIF " + remade +
        " THEN\r\nquindrel_views := coalesce(quindrel_views || ', ', '') || format('%I.%I', quindrel_r.nspname, "
        "quindrel_r.relname);\r\nEND IF;\r\nEND LOOP;\r\n"
        "IF quindrel_views IS NOT NULL THEN\r\nEXECUTE 'DROP VIEW ' || quindrel_views;\r\nEND IF;\r\n"
        "EXECUTE 'DROP TABLE ' || quindrel_table;\r\nRETURN true;\r\n"
        "EXCEPTION WHEN others THEN\r\nGET STACKED DIAGNOSTICS quindrel_detail = PG_EXCEPTION_DETAIL;\r\n"
        "RAISE WARNING '%', quindrel_what || ' was not overwritten (it was left as it was, without the script''s "
        "rows): ' || SQLERRM || CASE WHEN quindrel_detail = '' THEN '' ELSE E'\\n' || quindrel_detail END;\r\n"
        "RETURN false;\r\nEND\r\n";
    m_out.write("\r\nCREATE TEMP TABLE quindrel_remade (nspname text, relname text);\r\n"
                "CREATE TEMP TABLE quindrel_dropped (relid oid, nspname text, relname text, conname text);\r\n"
                "CREATE FUNCTION pg_temp.quindrel_overwrite(quindrel_table text, quindrel_what text) RETURNS boolean "
                "LANGUAGE plpgsql AS " +
                tk_unicode_to_utf8(pgs_dollar_quote(tk_utf8_to_unicode(body))) + ";\r\n");
}

void pgs_dmp_database::end_table_block()
{
    if (!m_block_open) return;
    m_block_open = false;
    m_out.write("\\endif\r\n");
}

void pgs_dmp_database::reopen_table_block()
{
    if (m_block_open || m_block_variable.empty()) return;
    m_out.write("\\if :" + m_block_variable + "\r\n");
    m_block_open = true;
}

std::string pgs_dmp_database::table_variable(const std::wstring& name) const
{
    const std::wstring full = pgs_fold_name(get_full_name(name), case_sens());
    for (const auto& [table, variable] : m_table_variables)
        if (table == full) return variable;
    return std::string();
}

void pgs_dmp_database::create_schema(const std::wstring& name)
{
    tk_write_wlog(2, L"pgs_dmp_database::create_schema(%s)", name.c_str());
    end_table_block();
    if (name.size() == 6 && tk_to_lower(name) == L"public") {
        tk_write_log(2, "Skip 'public' schema");
        return;
    }
    std::string body = "\r\nBEGIN\r\nIF NOT EXISTS (SELECT schema_name FROM information_schema.schemata "
                       "WHERE schema_name = ";
    pgs_append_literal(body, std::wstring_view(pgs_fold_name(name, case_sens())));
    body += ")\r\nTHEN\r\nCREATE SCHEMA " + one_name(name) + ";\r\nEND IF;\r\nEND";
    // The block is dollar-quoted: a name holding the quote's tag would end it early, so the
    // tag is one that the body does not contain.
    std::string tag = "$$";
    for (int n = 0; body.find(tag) != std::string::npos; ++n) tag = "$s" + std::to_string(n) + "$";
    m_out.write("DO " + tag + body + tag + ";\r\n\r\n");
}

int pgs_dmp_database::find_written(const std::wstring& name) const
{
    // Compared as the server will see the names: "orders" is "public.orders", and without
    // case-sensitive names Orders and orders are one table.
    const bool cs = case_sens();
    const std::wstring full = pgs_fold_name(get_full_name(name), cs);
    for (std::size_t i = 0; i < table_names.size(); ++i)
        if (pgs_fold_name(table_names[i], cs) == full) return static_cast<int>(i);
    return -1;
}

void pgs_dmp_database::write_comment(const char* heading, const std::wstring& table)
{
    m_out.write(std::string(line_end) + "/*" + line_end + heading + " '" +
                comment_text(tk_unicode_to_utf8(table)) + "'\r\n*/\r\n\r\n");
}

std::unique_ptr<udb_recordset> pgs_dmp_database::create_table1(const std::wstring& name, udb_schema& schema,
                                                               udb_indexes& indexes)
{
    tk_write_wlog(2, L"pgs_dmp_database::create_table1(%s)", name.c_str());
    return write_table(name, schema, indexes, nullptr);
}

std::unique_ptr<udb_recordset> pgs_dmp_database::create_table2(const std::wstring& name, udb_schema& schema,
                                                               udb_indexes& indexes,
                                                               const udb_partition& partition)
{
    tk_write_wlog(2, L"pgs_dmp_database::create_table2(%s)", name.c_str());
    return write_table(name, schema, indexes, &partition);
}

std::unique_ptr<udb_recordset> pgs_dmp_database::write_table(const std::wstring& name, udb_schema& source,
                                                             udb_indexes& indexes,
                                                             const udb_partition* partition)
{
    m_out.check();
    if (find_written(name) >= 0) {
        // A second table of the same name would drop the first one's rows when the script
        // runs: refuse this item only.
        throw tk_exception(L"Table '" + name + L"' has already been written into the script file.", 1);
    }

    // The table's own columns: copies whose names the field validator accepts.
    udb_schema own(1);
    own.reserve(source.size());
    std::vector<std::wstring> source_names;
    source_names.reserve(source.size());
    {
        pgs_fn_validator validator(source);
        for (std::size_t i = 0; i < source.size(); ++i) {
            t_ftd column = source[i];
            column.name = validator.next_column_name(column.name);
            tk_write_wlog(2, L"%s -> %s", source[i].name.c_str(), column.name.c_str());
            source_names.push_back(source[i].name);
            own.add_column(std::move(column));
        }
    }
    own.seed = source.seed;
    own.increment = source.increment;

    if (!m_options.create_tables) {
        if (m_options.insert_comments) write_comment("Dumping data for table", name);
        // Foreign keys written later follow the renamed columns.
        udb_names_map::name_map renamed;
        for (std::size_t i = 0; i < own.size(); ++i) renamed.emplace(source_names[i], own[i].name);
        names_map.add_fn_map(pgs_fold_name(name, case_sens()), renamed);
        add_full_name1(name);
        return std::make_unique<pgs_dmp_recordset>(m_out, this, name, own, source_names);
    }

    const bool keep_existing = keeps_existing_tables();
    const bool overwriting = keep_existing && m_options.existing_tables == pgs_existing_table::overwrite;
    if (keep_existing) end_table_block();
    if (m_options.insert_comments) write_comment("Table structure for table", name);
    // The defaults go apart from CREATE TABLE, each guarded: one the loading server refuses
    // (a function or extension it lacks) costs that default only, and the script goes on.
    std::vector<std::pair<std::size_t, std::wstring>> defaults;
    bool needs_uuid = false;
    for (std::size_t i = 0; i < own.size(); ++i) {
        std::wstring clause;
        if (take_default_apart(own[i], clause, needs_uuid)) defaults.emplace_back(i, std::move(clause));
    }
    // The same builders as the live database, so the script creates the same table. The rows
    // then use the builder's final column names, exactly the ones CREATE TABLE got.
    const pgs_ddl_settings settings = pgs_ddl_settings::from_engine();
    const std::wstring table = pgs_fold_name(name, settings.case_sens);
    std::string rows_variable;  // overwriting: where the rows go
    if (keep_existing) {
        // Asked when the script is loaded: everything of the table's own is written only for
        // a table the script creates.
        const std::string number = std::to_string(m_table_variables.size() + 1);
        m_block_variable = "quindrel_new_" + number;
        std::string test;
        if (overwriting) {
            // The table is gone when it could be dropped (or was never there); otherwise its
            // rows go where they are thrown away.
            write_overwrite_function();
            rows_variable = "quindrel_into_" + number;
            test = "SELECT quindrel_gone AS " + m_block_variable + ", CASE WHEN quindrel_gone THEN ";
            pgs_append_literal(test, std::string_view(table_name(name)));
            test += " ELSE ";
            pgs_append_literal(test, std::string_view(pgs_dmp_recordset::stage_ident));
            test += " END AS " + rows_variable + " FROM pg_temp.quindrel_overwrite(";
            pgs_append_literal(test, std::string_view(table_name(name)));
            test += ", ";
            pgs_append_literal(test, std::wstring_view(L"Table '" + name + L"'"));
            test += ") AS quindrel_gone \\gset\r\n";
        } else {
            test = "SELECT to_regclass(";
            pgs_append_literal(test, std::string_view(table_name(name)));
            test += ") IS NULL AS " + m_block_variable + " \\gset\r\n";
            // The name held by a relation that is not a table (a view, a sequence): the table
            // is not created and takes no rows, and the load says so (live, the run reports
            // the table it could not create).
            const std::wstring relkind = L"(SELECT relkind FROM pg_class WHERE oid = to_regclass(" +
                                         pgs_quote_literal(std::wstring_view(tk_utf8_to_unicode(table_name(name)))) +
                                         L")) NOT IN ('r', 'p', 'f')";
            const std::wstring body =
                L"\r\nBEGIN\r\nIF " + relkind + L" THEN\r\nRAISE WARNING '%', " +
                pgs_quote_literal(std::wstring_view(L"Table '" + name +
                                                    L"' was not created, and none of its rows loaded: its name "
                                                    L"belongs to a relation that is not a table")) +
                L";\r\nEND IF;\r\nEND\r\n";
            test += tk_unicode_to_utf8(L"DO " + pgs_dollar_quote(body) + L";\r\n");
        }
        m_out.write(test);
        m_table_variables.emplace_back(pgs_fold_name(get_full_name(name), case_sens()), m_block_variable);
        reopen_table_block();
    } else {
        delete_tab(name);
    }
    std::unique_ptr<pgs_schema_initializer> builder =
        partition ? std::make_unique<pgs_schema_initializer>(table, own, indexes, *partition, settings, &source_names)
                  : std::make_unique<pgs_schema_initializer>(table, own, indexes, settings, &source_names);
    builder->build_schema(*this);
    if (!defaults.empty()) {
        const std::wstring table_q = pgs_make_name3(table, true, settings.case_sens);
        if (needs_uuid)
            write_guarded(L"EXECUTE " + pgs_dollar_quote(L"CREATE EXTENSION IF NOT EXISTS \"uuid-ossp\"") + L";",
                          L"The extension 'uuid-ossp' of table '" + name + L"'");
        for (const auto& [at, clause] : defaults) {
            const std::wstring& column = builder->get_columns()[at].name;
            const std::wstring what =
                L"The default of column '" + pgs_unquote_name(column) + L"' of table '" + name + L"'";
            try {
                write_guarded(L"EXECUTE " +
                                  pgs_dollar_quote(L"ALTER TABLE " + table_q + L" ALTER COLUMN " + column +
                                                   L" SET DEFAULT " + clause) +
                                  L";",
                              what);
            } catch (const pgs_exception& e) {
                // A default the script's encoding cannot hold costs that default only (the
                // statement is written whole or not at all), as the live server refuses it.
                note_left_out(what, e.what());
                udb_report_failure(pgs_failure_of(udb_failure_kind::column, name, what, e));
            }
        }
    }
    // Foreign keys written later follow the columns the builder renamed.
    names_map.add_fn_map(table, builder->get_names_map().get_map());
    add_full_name1(name);
    // The recordset keeps its own copy of the columns: the builder may be held with the
    // indexes until after the rows.
    udb_schema columns = builder->get_columns();
    // The rows are checked against the types CREATE TABLE declared, as the server will.
    std::vector<std::wstring> column_types;
    column_types.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i)
        column_types.push_back(pgs_schema_initializer::column_type(columns[i]));
    // The key a merge names: the primary key, else the first unique index, under the columns'
    // final names; none when a column of it is not in the table.
    std::vector<std::size_t> key;
    if (keep_existing && !overwriting) {
        const udb_index* chosen = nullptr;
        for (std::size_t i = 0; i < indexes.size() && !(chosen && chosen->primary); ++i)
            if (indexes[i].primary || (indexes[i].unique && !chosen)) chosen = &indexes[i];
        for (std::size_t f = 0; chosen && f < chosen->fields.size(); ++f) {
            const std::wstring column = builder->get_names_map().get_mapped_name(chosen->fields[f]);
            int at = -1;
            for (std::size_t c = 0; c < columns.size() && at < 0; ++c)
                if (columns[c].name == column) at = static_cast<int>(c);
            if (at < 0) at = columns.get_field_idx(column);
            if (at < 0) {
                key.clear();
                break;
            }
            key.push_back(static_cast<std::size_t>(at));
        }
    }
    build_or_defer_indexes(std::move(builder), table, indexes);
    if (m_options.insert_comments) write_comment("Dumping data for table", name);
    auto rows = std::make_unique<pgs_dmp_recordset>(m_out, this, name, columns, source_names, column_types);
    if (overwriting)
        rows->route_rows(m_block_variable, rows_variable);
    else if (keep_existing)
        rows->stage_rows(m_options.existing_tables, m_block_variable, std::move(key));
    return rows;
}

void pgs_dmp_database::create_index(const std::wstring& table, const udb_index& index)
{
    tk_write_wlog(1, L"pgs_dmp_database::create_index1(%s.%s)", table.c_str(), index.name.c_str());
    tk_write_wlog(2, L"pgs_dmp_database::create_index2(%s,%s)", table.c_str(), index.name.c_str());
    pgs_engine* engine = pgs_engine::get_instance();
    std::wstring idx = table + L"_" + index.name;
    tk_wstring::replace_all(idx, L".", L"_");
    const std::string idx_name = tk_unicode_to_utf8(engine->make_idx_name(idx));
    tk_write_log(2, "new_idx_name=%s", idx_name.c_str());

    std::string text = "DROP INDEX IF EXISTS " + idx_name + ";\r\n";
    if (index.primary)
        text += "ALTER TABLE " + table_name(table) + " ADD CONSTRAINT " + idx_name + " PRIMARY KEY(";
    else
        text += std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " + idx_name + " ON " +
                table_name(table) + "(";
    for (std::size_t i = 0; i < index.fields.size(); ++i) {
        if (i) text += ", ";
        text += one_name(index.fields[i]);
    }
    text += ");\n";
    m_out.write(text);
    m_out.flush();
}

void pgs_dmp_database::delete_idx(const std::wstring& table, const udb_index& index)
{
    tk_write_wlog(2, L"pgs_dmp_database::delete_idx(%s.%s)", table.c_str(), index.name.c_str());
    if (index.primary) {
        query(L"ALTER TABLE " + pgs_engine::get_instance()->make_name3(table, true) + L" DROP CONSTRAINT " +
              make_one_name(index.name));
    } else {
        delete_idx(table, index.name);
    }
}

void pgs_dmp_database::delete_idx(const std::wstring& table, const std::wstring& index_name)
{
    // An index lives in its table's schema: a table of another schema than the search path's
    // names its index there, so the index of that table is found and no other one is dropped.
    std::wstring text = L"DROP INDEX IF EXISTS ";
    const std::size_t dot = table.find(L'.');
    if (!pgs_is_quoted_name(table) && !pgs_is_quoted_name(index_name) && dot != std::wstring::npos && dot > 0 &&
        dot + 1 < table.size())
        text += make_one_name(table.substr(0, dot)) + L".";
    query(text + make_one_name(index_name));
}

bool pgs_dmp_database::delete_tab(const std::wstring& name)
{
    tk_write_wlog(2, L"pgs_dmp_database::delete_tab(%s)", name.c_str());
    m_out.write("DROP TABLE IF EXISTS " + table_name(name) + " CASCADE;\r\n");
    const int pos = find_written(name);
    if (pos < 0) return false;
    table_names.erase(table_names.begin() + pos);
    return true;
}

std::unique_ptr<udb_recordset> pgs_dmp_database::get_query(const std::wstring&, const std::wstring&, std::int32_t)
{
    return nullptr;
}

std::unique_ptr<udb_recordset> pgs_dmp_database::get_table(const std::wstring&, std::int32_t)
{
    throw tk_mail_assertion("pgs_dump", 109);
}

std::unique_ptr<udb_recordset> pgs_dmp_database::query(const std::wstring& statement)
{
    std::string text;
    text.reserve(statement.size() + 2);
    pgs_append_utf8(text, statement);
    text += ";\r\n";
    m_out.write(text);
    // Every byte after the script's client-encoding statement is read in that encoding.
    if (auto encoding = pgs_client_encoding_of(statement)) m_out.set_encoding(*encoding);
    return nullptr;
}

bool pgs_dmp_database::test_query(const std::wstring&)
{
    return false;
}

void pgs_dmp_database::create_relationships(const std::vector<udb_relationship>& keys)
{
    tk_write_log(2, "pgs_dmp_database::create_relationships");
    end_table_block();
    if (!keys.empty() && m_options.insert_comments) m_out.write("\r\n/*\r\nCreate foreign key constraints\r\n*/\r\n\r\n");
    for (const udb_relationship& key : keys) {
        tk_write_wlog(2, L"Processing FK '%s'", key.name.c_str());
        const std::wstring child = names_map.get_tn_mapped_name(key.table, false);
        const std::wstring parent = names_map.get_tn_mapped_name(key.ref_table, false);
        // A key without a rule gets none: the server's default (NO ACTION), as the live
        // database creates it.
        const std::wstring sql = make_fk_statement(key, child, parent, checked_fk_rule(key));
        tk_write_wlog(3, L"%s\n", sql.c_str());
        // The live database gives the referenced columns a unique index when none covers them;
        // the script does the same when the server asks for one while the script loads.
        std::wstring columns, stem = L"UIDX";
        for (std::size_t i = 0; i < key.pk_flds.size(); ++i) {
            if (i) columns += L", ";
            columns += get_mapped_field_sql(parent, key.pk_flds[i]);
            stem += L"_" + pgs_unquote_name(get_mapped_field(parent, key.pk_flds[i]));
        }
        pgs_in_validator& names = pgs_engine::get_instance()->in_validator();
        std::wstring index = pgs_cut_to_bytes(pgs_fold_name(stem, case_sens()), pgs_max_name_bytes);
        if (!names.is_acceptable(index)) index = names.get_safe_name(index);
        names.add_existing_name(index);
        names.restricted_names.push_back(index);
        const std::wstring unique = L"CREATE UNIQUE INDEX " + pgs_quote_identifier(std::wstring_view(index)) + L" ON " +
                                    pgs_engine::get_instance()->make_name3(parent, true) + L"(" + columns + L")";
        const std::wstring what = L"Foreign key '" + key.name + L"' of table '" + child + L"'";
        if (pgs_encoder* encoder = m_out.encoder()) {
            // Checked before any of its lines is written (a conditional block must not stay
            // open): a key the script's encoding cannot hold is left out alone, as the server
            // of a live run refuses it alone.
            try {
                std::string scratch;
                encoder->append(scratch, tk_unicode_to_utf8(sql + unique + what));
            } catch (const pgs_exception& e) {
                note_left_out(what, e.what());
                udb_report_failure(pgs_failure_of(udb_failure_kind::foreign_key, child, what, e));
                continue;
            }
        }
        if (!keeps_existing_tables()) {
            send_guarded(sql, what, unique);
            continue;
        }
        if (m_options.existing_tables == pgs_existing_table::overwrite) {
            write_overwritten_key(key, sql, what, unique);
            continue;
        }
        if (m_options.existing_tables == pgs_existing_table::keep) {
            // A table the script leaves as it is keeps its keys as they are.
            const std::string variable = table_variable(key.table);
            if (!variable.empty()) m_out.write("\\if :" + variable + "\r\n");
            send_guarded(sql, what, unique);
            if (!variable.empty()) m_out.write("\\endif\r\n");
            continue;
        }
        // Merging: a table that already has the key keeps it without a word, as a live run does.
        write_guarded(L"BEGIN\r\n" + guarded_body(sql, unique) +
                          L"\r\nEXCEPTION WHEN duplicate_object THEN NULL;\r\nEND;",
                      what);
    }
}

void pgs_dmp_database::write_overwritten_key(const udb_relationship& key, const std::wstring& sql,
                                             const std::wstring& what, const std::wstring& unique_first)
{
    // Overwriting a table took the keys of the script's tables that referred to it, and a
    // table made anew has none: the key is made where either end was overwritten. Two tables
    // left as they were keep the keys they had.
    const std::string child = table_variable(key.table);
    const std::string parent = table_variable(key.ref_table);
    std::string condition;
    if (!child.empty() && !parent.empty()) {
        condition = child;
        if (parent != child) {
            // psql's \if reads one value, not an expression.
            m_out.write("SELECT :'" + child + "' OR :'" + parent + "' AS quindrel_key \\gset\r\n");
            condition = "quindrel_key";
        }
    }
    if (!condition.empty()) m_out.write("\\if :" + condition + "\r\n");
    send_guarded(sql, what, unique_first);
    if (!condition.empty()) m_out.write("\\endif\r\n");
}

std::wstring pgs_dmp_database::guarded_body(const std::wstring& statement, const std::wstring& unique_first)
{
    // EXECUTE of a dollar-quoted text: the statement is neither parsed as PL/pgSQL nor
    // escaped, and the whole block is one statement, created whole or not at all.
    std::wstring run = L"EXECUTE " + pgs_dollar_quote(statement) + L";";
    if (!unique_first.empty())
        run = L"BEGIN\r\n" + run + L"\r\nEXCEPTION WHEN invalid_foreign_key THEN\r\nEXECUTE " +
              pgs_dollar_quote(unique_first) + L";\r\n" + run + L"\r\nEND;";
    return run;
}

void pgs_dmp_database::send_guarded(const std::wstring& statement, const std::wstring& what,
                                    const std::wstring& unique_first)
{
    write_guarded(guarded_body(statement, unique_first), what);
}

void pgs_dmp_database::write_guarded(const std::wstring& body, const std::wstring& what)
{
    std::wstring warning = what + L" was not created: ";
    std::wstring block = L"\r\nBEGIN\r\n" + body + L"\r\nEXCEPTION WHEN others THEN\r\nRAISE WARNING '%', " +
                         pgs_quote_literal(std::wstring_view(warning)) + L" || SQLERRM;\r\nEND\r\n";
    query(L"DO " + pgs_dollar_quote(block));
}

namespace {

// The index statement without its name, for the server to name the index: CREATE [UNIQUE]
// INDEX <name> ON ... and ALTER TABLE ... ADD CONSTRAINT <name> PRIMARY KEY ...; empty when
// the statement has neither form.
std::wstring without_index_name(const std::wstring& sql, const std::wstring& quoted_name)
{
    std::wstring out = sql;
    const std::wstring index_form = L"INDEX " + quoted_name + L" ON ";
    const std::wstring key_form = L" ADD CONSTRAINT " + quoted_name + L" ";
    if (const std::size_t at = out.find(index_form); at != std::wstring::npos)
        return out.replace(at, index_form.size(), L"INDEX ON ");
    if (const std::size_t at = out.find(key_form); at != std::wstring::npos)
        return out.replace(at, key_form.size(), L" ADD ");
    return {};
}

}  // namespace

std::size_t pgs_dmp_database::write_indexes(pgs_indexes_initializer& indexes)
{
    std::size_t failed = 0;
    const std::vector<pgs_finish_step> steps = indexes.finish_steps();
    const udb_indexes& converted = indexes.get_indexes();
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const pgs_finish_step& step = steps[k];
        if (step.sql.empty()) {
            ++failed;
            udb_report_failure(pgs_indexes_initializer::unbuildable_failure(step));
            continue;
        }
        const std::wstring sql = tk_utf8_to_unicode(step.sql);
        const std::wstring unnamed =
            k < converted.size() ? without_index_name(sql, pgs_make_idx_name(converted[k].name, case_sens())) : L"";
        std::wstring body = L"EXECUTE " + pgs_dollar_quote(sql) + L";";
        // An index name is one of the schema's relation names: taken by another table's index
        // (another script loaded into the same database), it is left to the server.
        if (!unnamed.empty())
            body = L"BEGIN\r\n" + body + L"\r\nEXCEPTION WHEN duplicate_table OR duplicate_object THEN\r\nEXECUTE " +
                   pgs_dollar_quote(unnamed) + L";\r\nEND;";
        try {
            write_guarded(body, step.what);
        } catch (const pgs_exception& e) {
            // Its name or text is beyond the script's encoding: this index only, written not
            // at all (as the live server refuses it alone); the table and its rows stay.
            ++failed;
            note_left_out(step.what, e.what());
            udb_report_failure(pgs_failure_of(step.kind, step.table, step.what, e));
        }
    }
    return failed;
}

void pgs_dmp_database::note_left_out(const std::wstring& what, const std::string& reason)
{
    std::string line = "-- ";
    pgs_append_utf8(line, what);
    line += " was not converted: " + reason;
    // One comment line: a line break in the reason would end the comment.
    for (char& c : line)
        if (c == '\r' || c == '\n') c = ' ';
    line += "\r\n";
    try {
        m_out.write(line);
    } catch (const pgs_exception&) {
        // The script's encoding cannot hold a character of the name or of the reason (often the
        // very reason the item was left out): the note names such characters by their code
        // points instead of ending the whole run.
        std::string plain;
        for (const wchar_t c : tk_utf8_to_unicode(line)) {
            if (static_cast<std::uint32_t>(c) < 0x80) {
                plain += static_cast<char>(c);
            } else {
                char code[16];
                std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
                plain += code;
            }
        }
        m_out.write(plain);
    }
}

void pgs_dmp_database::create_sequences(const std::vector<udb_sequence>& list)
{
    tk_write_log(2, "pgs_dmp_database::create_sequences");
    if (list.empty()) return;
    end_table_block();
    tk_write_log(3, "Creating sequences (%d items)", static_cast<int>(list.size()));
    m_out.write("\r\n/*\r\nCreate sequences\r\n*/\r\n\r\n");
    for (const udb_sequence& s : list) {
        const std::wstring sql = make_sequence_statement(s);
        tk_write_wlog(3, L"%s", sql.c_str());
        query(sql);
    }
}

void pgs_dmp_database::create_views(const udb_view_list& list)
{
    tk_write_log(2, "pgs_dmp_database::create_views(%d)", static_cast<int>(list.size()));
    end_table_block();
    create_views_by_query(list);
}

void pgs_dmp_database::delete_fk(const udb_relationship& key)
{
    tk_write_wlog(2, L"pgs_dmp_database::delete_fk(%s)", key.name.c_str());
    if (key.name.empty()) {
        // A key without a name cannot be named in DROP CONSTRAINT.
        tk_write_log(3, "A foreign key without a name cannot be dropped");
        return;
    }
    query(L"ALTER TABLE " + pgs_engine::get_instance()->make_name3(key.table, true) + L" DROP CONSTRAINT " +
          make_one_name(key.name));
}

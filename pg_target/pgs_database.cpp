#include "pg_target/pgs_database.h"

#include <algorithm>
#include <cstdio>

#include "TK/tk_exception.h"
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
#include "pg_target/pgs_table_catalog.h"
#include "pg_target/pgs_validators.h"
#include "pg_target/pgs_view_text.h"
#include "UDB/udb_view_text.h"
#include "pg_target/pgs_writer_pool.h"

namespace {

std::wstring field_text(const pqxx::field& f)
{
    return f.is_null() ? std::wstring() : tk_utf8_to_unicode(f.c_str());
}

bool is_case_sens_now()
{
    return tk_singleton<pgs_engine>::get_instance()->is_case_sens;
}

// The columns under names the server takes; the names they had are kept so that indexes
// naming a renamed column still find it.
void copy_under_safe_names(const udb_schema& columns, udb_schema& copied, std::vector<std::wstring>& original_names)
{
    copied.seed = columns.seed;
    copied.increment = columns.increment;
    pgs_fn_validator validator(columns);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        t_ftd column = columns[i];
        original_names.push_back(column.name);
        column.name = validator.next_column_name(column.name);
        tk_write_wlog(2, L"%s -> %s", original_names.back().c_str(), column.name.c_str());
        copied.add_column(std::move(column));
    }
}

// An index of a table as the catalog holds it: its key columns in order, "" for an
// expression (a key on a prefix). Partial indexes are left out: they cover only some rows.
// `plain`: a unique b-tree index on columns only, in their default order, that belongs to no
// constraint (what ADD PRIMARY KEY USING INDEX takes).
struct present_index {
    bool unique = false;
    bool primary = false;
    std::vector<std::wstring> elements;
    std::wstring name;
    bool plain = false;
};

std::vector<present_index> read_present_indexes(pgs_connection& conn, const std::wstring& schema,
                                                const std::wstring& table)
{
    std::string sql =
        "SELECT x.indexrelid, x.indisunique, x.indisprimary, coalesce(a.attname, ''), i.relname,"
        " (x.indisunique AND x.indexprs IS NULL AND x.indnatts = x.indnkeyatts AND 0 = ALL(x.indoption::int2[])"
        " AND m.amname = 'btree' AND NOT EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conindid = x.indexrelid"
        " AND k.contype IN ('p', 'u', 'x'))) FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid"
        " JOIN pg_am m ON m.oid = i.relam "
        "CROSS JOIN LATERAL unnest(x.indkey[0:x.indnkeyatts - 1]) WITH ORDINALITY AS k(attnum, ord) "
        "LEFT JOIN pg_attribute a ON a.attrelid = x.indrelid AND a.attnum = k.attnum AND k.attnum > 0 "
        "WHERE x.indisvalid AND x.indpred IS NULL AND x.indrelid = (SELECT c.oid FROM pg_class c "
        "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = ";
    pgs_append_literal(sql, std::wstring_view(schema));
    sql += " AND c.relname = ";
    pgs_append_literal(sql, std::wstring_view(table));
    sql += ") ORDER BY x.indexrelid, k.ord";
    std::vector<present_index> found;
    conn.make_room();
    pqxx::work tx(conn.get(), "present_indexes");
    std::string last_oid;
    for (const auto& row : tx.exec(sql)) {
        if (found.empty() || last_oid != row[0].c_str()) {
            last_oid = row[0].c_str();
            present_index p;
            p.unique = std::string_view(row[1].c_str()) == "t";
            p.primary = std::string_view(row[2].c_str()) == "t";
            p.name = field_text(row[4]);
            p.plain = std::string_view(row[5].c_str()) == "t";
            found.push_back(std::move(p));
        }
        found.back().elements.push_back(field_text(row[3]));
    }
    return found;
}

}  // namespace

// --- pgs_base_db -------------------------------------------------------------

std::wstring pgs_base_db::fold_table_name(std::wstring_view name) const { return tk_to_lower(name); }

pgs_base_db::pgs_base_db(std::wstring name, std::int32_t mode, bool case_sensitive)
    : udb_database(std::move(name), mode, case_sensitive)
{
    tk_write_log(2, "pgs_base_db::ctor");
}

pgs_base_db::~pgs_base_db() = default;

void pgs_base_db::build_or_defer_indexes(std::unique_ptr<pgs_schema_initializer> table, const std::wstring& name,
                                         const udb_indexes& indexes)
{
    if (indexes.empty()) {
        tk_write_log(2, "indexes.size()=0");
        return;
    }
    // Built now the index names are taken, so later tables cannot take them either.
    auto builder = std::make_unique<pgs_indexes_initializer>(name, table->get_columns(), indexes,
                                                             table->get_names_map());
    // Carried only in part: said and counted once, when the table is made.
    for (const auto& [what, text] : builder->not_carried()) {
        udb_failure f;
        f.kind = udb_failure_kind::index;
        f.table = name;
        f.object = what;
        f.text = text;
        udb_report_failure(f);
    }
    if (!m_indexes_after_rows) {
        write_indexes(*builder);
        return;
    }
    tk_write_wlog(2, L"Indexes of '%s' are built after its rows", name.c_str());
    m_deferred.push_back({std::move(table), std::move(builder)});
}

void pgs_base_db::build_deferred_indexes()
{
    std::vector<deferred_indexes> pending;
    pending.swap(m_deferred);
    pgs_table_finisher* finisher = pending.empty() ? nullptr : table_finisher();
    if (!finisher) {
        for (auto& d : pending) write_indexes(*d.indexes);
        return;
    }
    for (auto& d : pending) {
        std::vector<pgs_finish_step> steps = d.indexes->finish_steps(finisher->connections() > 1);
        std::vector<pgs_finish_step> ready;
        std::vector<udb_failure> unbuildable;
        for (auto& step : steps) {
            if (step.sql.empty()) unbuildable.push_back(pgs_indexes_initializer::unbuildable_failure(step));
            else ready.push_back(std::move(step));
        }
        finisher->submit(std::move(ready));
        for (const auto& f : unbuildable) udb_report_failure(f);
    }
    report_finish_failures(finisher->collect());
}

void pgs_base_db::wait_for_deferred_work()
{
    if (pgs_table_finisher* finisher = table_finisher()) report_finish_failures(finisher->wait());
}

void pgs_base_db::report_finish_failures(std::vector<pgs_finish_failure> failures)
{
    // A step lost with its connection is a failure of its own table, like a refused one,
    // unless the server itself is gone: then the run ends, one message for all.
    for (const auto& f : failures)
        if (f.lost && tk_singleton<pgs_engine>::get_instance()->is_connection_lost())
            throw pgs_connection_lost_exception(f.failure.text);
    for (const auto& f : failures) {
        if (f.returned)
            m_returned.push_back(f.failure.object);
        else
            udb_report_failure(f.failure);
    }
}

pgs_key_timing pgs_base_db::create_relationship_early(const udb_relationship&, const std::wstring&)
{
    return pgs_key_timing::at_the_end;
}

std::vector<std::wstring> pgs_base_db::take_returned_steps()
{
    std::vector<std::wstring> out;
    out.swap(m_returned);
    return out;
}

void pgs_base_db::drop_returnable_steps()
{
    // Handed back with the finisher's next failures (report_finish_failures).
    if (m_finisher) m_finisher->drop_returnable();
}

void pgs_base_db::take_back_early_keys()
{
    if (!m_finisher) return;
    const std::string dropped_prefix = "Made before the run stopped, it could not be dropped again: ";
    for (const auto& [what, sql] : m_finisher->take_back_statements()) {
        tk_write_wlog(3, L"%s is dropped again: the run stopped", what.c_str());
        udb_failure failure;
        try {
            query(tk_utf8_to_unicode(sql));
            continue;
        } catch (const pqxx::broken_connection&) {
            throw pgs_exception::from_current("Cannot drop foreign key: ");
        } catch (const pqxx::pqxx_exception&) {
            failure = pgs_failure_of(udb_failure_kind::foreign_key, std::wstring(), what,
                                     pgs_exception::from_current(dropped_prefix));
        } catch (const pgs_exception& e) {
            if (e.sqlstate().empty()) throw;  // no answer of the server to this statement
            failure = pgs_failure_of(udb_failure_kind::foreign_key, std::wstring(), what,
                                     pgs_exception::from_current(dropped_prefix));
        }
        udb_report_failure(failure);
    }
}

void pgs_base_db::discard_deferred_indexes() noexcept
{
    m_deferred.clear();
    if (m_finisher) m_finisher->cancel();
}

pgs_table_finisher* pgs_base_db::table_finisher()
{
    if (!m_finisher_started) {
        m_finisher_started = true;
        m_finisher = make_table_finisher();
    }
    return m_finisher.get();
}

void pgs_base_db::run_after_rows(pgs_finish_step step)
{
    if (pgs_table_finisher* finisher = table_finisher()) {
        std::vector<pgs_finish_step> steps;
        steps.push_back(std::move(step));
        finisher->submit(std::move(steps));
        return;
    }
    udb_failure failure;
    try {
        query(tk_utf8_to_unicode(step.sql));
        return;
    } catch (const pqxx::broken_connection&) {
        throw pgs_exception::from_current(step.failure_prefix);
    } catch (const pqxx::pqxx_exception&) {
        failure = pgs_failure_of(step.kind, step.table, step.what, pgs_exception::from_current(step.failure_prefix));
    } catch (const pgs_exception& e) {
        if (e.sqlstate().empty()) throw;  // no answer of the server to this statement
        failure = pgs_failure_of(step.kind, step.table, step.what, pgs_exception::from_current(step.failure_prefix));
    }
    if (failure.statement.empty()) failure.statement = step.sql;
    // Reported outside the handlers: an Abort chosen in the report leaves at once.
    udb_report_failure(failure);
}

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

std::wstring pgs_base_db::quote_table_name(const std::wstring& name) const
{
    return tk_singleton<pgs_engine>::get_instance()->make_name3(name, true);
}

std::wstring pgs_base_db::key_condition_term(const t_ftd& column, const std::wstring& value) const
{
    std::wstring term = pgs_quote_identifier(std::wstring_view(column.name));
    if (udb_is_binary_kind(column.vartype)) {
        std::wstring hex = tk_to_lower(value);
        if (hex.starts_with(L"0x")) hex.erase(0, 2);
        term += L"=decode(" + pgs_quote_literal(std::wstring_view(hex)) + L",'hex')";
    } else {
        term += L"=" + pgs_quote_literal(std::wstring_view(value)) + L" ";
    }
    return term;
}

namespace {

bool is_white(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::wstring trim_white(const std::wstring& text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && is_white(text[b])) ++b;
    while (e > b && is_white(text[e - 1])) --e;
    return text.substr(b, e - b);
}

}  // namespace

std::wstring pgs_base_db::refine_view_in(const std::wstring& definition) const
{
    tk_write_wlog(2, L"pgs_base_db::refine_view_in(%s)", definition.c_str());
    return pgs_view_text(definition, m_view_names.get(), is_case_sens_now());
}

std::wstring pgs_base_db::make_one_name(const std::wstring& name)
{
    if (pgs_is_quoted_name(name)) return name;
    return pgs_quote_identifier(std::wstring_view(pgs_fold_name(name, is_case_sens_now())));
}

std::wstring pgs_base_db::get_mapped_field(const std::wstring& table, const std::wstring& field) const
{
    tk_write_wlog(1, L"udb_names_map::get_fn_mapped_name(%s,%s)", table.c_str(), field.c_str());
    const auto& maps = names_map.get_fn_maps();
    const udb_names_map::name_map* fields = nullptr;
    if (auto it = maps.find(table); it != maps.end()) fields = &it->second;
    if (!fields) {
        // The table creation records its map under the name it was given, folded unless
        // names are case-sensitive; the key names the table with or without "public.".
        const bool cs = is_case_sens_now();
        const std::wstring full = get_full_name(table);
        auto same = [&](const std::wstring& a, const std::wstring& b) {
            return cs ? a == b : tk_equal_no_case(a, b);
        };
        for (const auto& [key, map] : maps) {
            if (same(key, table) || same(get_full_name(key), full)) {
                fields = &map;
                break;
            }
        }
    }
    if (!fields) {
        tk_write_wlog(1, L"Table '%s' not found", table.c_str());
        return field;
    }
    auto f = fields->find(field);
    if (f == fields->end()) {
        f = std::find_if(fields->begin(), fields->end(),
                         [&](const auto& pair) { return tk_equal_no_case(pair.first, field); });
        if (f == fields->end()) return field;
    }
    tk_write_wlog(1, L"Got mapped name: %s", f->second.c_str());
    return f->second;
}

std::wstring pgs_base_db::get_mapped_field_sql(const std::wstring& table, const std::wstring& field) const
{
    return make_one_name(get_mapped_field(table, field));
}

std::wstring pgs_base_db::checked_fk_rule(const udb_relationship& key)
{
    std::wstring rule = trim_white(key.rule);
    for (wchar_t c : rule) {
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' || is_white(c)))
            throw pgs_exception("Cannot create foreign key '" + tk_unicode_to_utf8(key.name) + "': the rule '" +
                                tk_unicode_to_utf8(key.rule) + "' is not made of key words");
    }
    return rule;
}

std::wstring pgs_base_db::make_fk_statement(const udb_relationship& key, const std::wstring& child,
                                            const std::wstring& parent, const std::wstring& rule) const
{
    const pgs_engine* engine = tk_singleton<pgs_engine>::get_instance();
    std::wstring sql = L"ALTER TABLE " + engine->make_name3(child, true) + L" ADD";
    if (!key.name.empty()) sql += L" CONSTRAINT " + make_one_name(key.name);
    sql += L" FOREIGN KEY(";
    for (std::size_t i = 0; i < key.fk_flds.size(); ++i) {
        if (i) sql += L", ";
        sql += get_mapped_field_sql(child, key.fk_flds[i]);
    }
    sql += L") REFERENCES " + engine->make_name3(parent, true) + L"(";
    for (std::size_t i = 0; i < key.pk_flds.size(); ++i) {
        if (i) sql += L", ";
        sql += get_mapped_field_sql(parent, key.pk_flds[i]);
    }
    sql += L")";
    if (!rule.empty()) sql += L" " + rule;
    return sql;
}

std::wstring pgs_base_db::make_sequence_statement(const udb_sequence& s)
{
    std::wstring sql = L"CREATE SEQUENCE IF NOT EXISTS " +
                       tk_singleton<pgs_engine>::get_instance()->make_name3(s.name, true) + L" INCREMENT " +
                       std::to_wstring(s.increment) + L" START " + std::to_wstring(s.start);
    // A record whose bounds were never given has both at 0, which no sequence can have.
    if (s.minimum != 0 || s.maximum != 0)
        sql += L" MINVALUE " + std::to_wstring(s.minimum) + L" MAXVALUE " + std::to_wstring(s.maximum);
    if (s.cycle) sql += L" CYCLE";
    return sql;
}

void pgs_base_db::set_view_names(std::unique_ptr<pgs_view_names> names)
{
    m_view_names = std::move(names);
}

void pgs_base_db::create_views_by_query(const udb_view_list& list)
{
    const bool case_sens = is_case_sens_now();
    std::vector<std::wstring> names;
    names.reserve(list.size());
    for (const auto& v : list) names.push_back(v.first);
    pgs_tn_validator validator(names, {});
    // Views beside their tables in another schema: the names of a view's text are looked up
    // there first while the views are made (a view keeps what its names resolved to).
    const bool own_schema = !m_view_schema.empty() && !tk_equal_no_case(m_view_schema, L"public");
    const std::wstring schema = pgs_fold_name(own_schema ? m_view_schema : std::wstring(L"public"), case_sens);
    if (own_schema) query(L"SET search_path TO " + pgs_quote_identifier(std::wstring_view(schema)) + L", public");
    struct reset_path {
        pgs_base_db* db;
        bool active;
        ~reset_path()
        {
            if (!active) return;
            try {
                db->query(L"RESET search_path");
            } catch (...) {
                tk_write_log(3, "Cannot reset the search path after the views");
            }
        }
    } reset{this, own_schema};
    // Names as the server keeps them. A view never replaces one made before it by this run,
    // nor a table of the run or of the PostGIS extension: CREATE OR REPLACE would.
    std::vector<std::wstring> made;
    auto kept_as = [&](const std::wstring& name) { return pgs_truncate_identifier(pgs_fold_name(name, case_sens)); };
    auto taken = [&](const std::wstring& name) {
        const std::wstring kept = kept_as(name);
        if (std::find(made.begin(), made.end(), kept) != made.end()) return true;
        return m_view_names ? m_view_names->is_taken(schema, kept) : pgs_is_extension_relation(schema, kept);
    };
    for (const auto& [view, definition] : list) {
        const std::wstring label = L"View '" + view + L"'";
        udb_failure failure;
        try {
            tk_write_wlog(2, L"Processing '%s'", view.c_str());
            tk_write_wlog(2, L"\t'%s'", definition.c_str());
            // A query: SELECT, (SELECT ...) or WITH ... SELECT.
            if (!is_select_query(definition) && udb_view_reader(definition).main_scope() < 0) {
                tk_write_log(2, "Skip non-select query");
                continue;
            }
            std::wstring new_name = view;
            if (!validator.is_acceptable(view) || taken(view)) {
                std::wstring tried = view;
                do {
                    validator.add_existing_name(tried);
                    new_name = validator.get_safe_name(view);
                    tried = new_name;
                } while (taken(new_name));
                tk_write_wlog(2, L"udb_names_map::add_tn_mapping(%s,%s)", view.c_str(), new_name.c_str());
                add_tn_mapping(view, new_name);
                tk_write_wlog(2, L"Store generated view name '%s'", new_name.c_str());
                validator.add_existing_name(new_name);
            }
            const std::wstring sql = L"CREATE OR REPLACE VIEW " +
                                     pgs_quote_qualified_name(std::wstring_view(schema),
                                                              std::wstring_view(pgs_fold_name(new_name, case_sens))) +
                                     L" AS " + refine_view_in(definition);
            send_guarded(sql, label);
            made.push_back(kept_as(new_name));
            if (m_view_names) {
                // The views after it read it under its destination name.
                pgs_view_names::relation r;
                r.source = view;
                r.schema = schema;
                r.name = kept_as(new_name);
                r.is_view = true;
                r.outputs_known = pgs_view_outputs(definition, r.outputs);
                pgs_view_output_kinds(definition, m_view_names.get(), is_case_sens_now(), r);
                m_view_names->add(std::move(r));
                if (new_name != view) m_view_names->renamed.emplace_back(view, new_name);
            }
            continue;
        } catch (const pgs_exception& e) {
            failure = pgs_failure_of(udb_failure_kind::view, std::wstring(), label, e);
        } catch (const tk_exception& e) {
            // Its own level: a script that cannot be written is not a view's error.
            failure = udb_failure_of(udb_failure_kind::view, std::wstring(), label, e);
        } catch (const pqxx::pqxx_exception&) {
            failure = pgs_failure_of(udb_failure_kind::view, std::wstring(), label, pgs_exception::from_current());
        } catch (const std::exception& e) {
            failure = udb_failure_of(udb_failure_kind::view, std::wstring(), label, tk_exception(e.what(), 0));
        }
        // Reported outside the handlers: the user's Abort (tk_final_exception) leaves at once.
        tk_write_log(2, "Error while creating view:\n%s\n", failure.text.c_str());
        note_left_out(label, failure.text);
        udb_report_failure(failure);
    }
}

void pgs_base_db::send_guarded(const std::wstring& statement, const std::wstring&, const std::wstring&)
{
    query(statement);
}

void pgs_base_db::note_left_out(const std::wstring&, const std::string&) {}

std::size_t pgs_base_db::write_indexes(pgs_indexes_initializer& indexes)
{
    return indexes.build_indexes(*this);
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

pgs_writer_pool* pgs_database::writer_pool()
{
    if (!m_writers_started) {
        m_writers_started = true;
        if (const unsigned n = pgs_writer_pool::writers_for_this_machine()) {
            m_writers = std::make_unique<pgs_writer_pool>(connection().conninfo(), n);
            if (m_writers->size() == 0) m_writers.reset();
        }
    }
    return m_writers.get();
}

std::unique_ptr<pgs_table_finisher> pgs_database::make_table_finisher()
{
    if (!pgs_table_finisher::worth_having()) return nullptr;
    try {
        return std::make_unique<pgs_table_finisher>(std::make_unique<pgs_connection>(connection().conninfo()),
                                                    pgs_table_finisher::connections_for_this_machine());
    } catch (const std::exception& e) {
        // Without a connection of its own, tables are finished on the main one.
        tk_write_log(3, "No connection for finishing tables after their rows: %s", e.what());
        return nullptr;
    }
}

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
        throw pgs_exception::from_current();
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
    // Tables, views and sequences share that name space with indexes.
    auto names = pgs_read_relation_names(connection(), m_schema);
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
        throw pgs_exception::from_current("Cannot create schema: ");
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

    udb_schema copied(1);
    std::vector<std::wstring> original_names;
    copy_under_safe_names(columns, copied, original_names);
    tk_write_log(1, "Seed=%lld, increment=%lld", static_cast<long long>(copied.seed), static_cast<long long>(copied.increment));

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
    names_map.add_fn_map(name, builder->get_names_map().get_map());
    build_or_defer_indexes(std::move(builder), name, indexes);
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

std::size_t pgs_database::complete_keys_for_merge(const std::wstring& given_name, const udb_schema& columns,
                                                  const udb_indexes& indexes)
{
    tk_write_wlog(2, L"pgs_database::complete_keys_for_merge(%s)", given_name.c_str());
    if (indexes.empty()) return 0;
    const pgs_engine* engine = tk_singleton<pgs_engine>::get_instance();
    // The table as create_table opens it.
    std::wstring name = engine->is_case_sens ? given_name : tk_to_lower(given_name);
    const std::wstring full = get_full_name(name);
    if (is_table_exist(full)) name = full;
    else if (!is_table_exist(name)) return 0;
    const auto [schema_name, table_name] = split_name(name);

    std::vector<present_index> present;
    udb_schema existing(1);
    try {
        pgs_read_table_columns(connection(), schema_name, table_name, existing);
        if (!columns.conform_to(existing, false)) return 0;  // the run refuses the table itself
        present = read_present_indexes(connection(), schema_name, table_name);
    } catch (const pqxx::pqxx_exception&) {
        throw pgs_exception::from_current("Cannot read the keys of table " + tk_unicode_to_utf8(name) + ": ");
    }

    // The columns and index names a table made from `columns` would have: an earlier run
    // made the table so.
    udb_schema copied(1);
    std::vector<std::wstring> original_names;
    copy_under_safe_names(columns, copied, original_names);
    auto table = std::make_unique<pgs_schema_initializer>(name, copied, indexes, pgs_ddl_settings::from_engine(),
                                                          &original_names);
    const udb_schema& final_columns = table->get_columns();
    // An index's key columns as the catalog would list them ("" for a prefix, indexed as an
    // expression); a field the table lacks never matches.
    auto elements_of = [&](const udb_index& index) {
        std::vector<std::wstring> elements;
        for (std::size_t i = 0; i < index.fields.size(); ++i) {
            const int at = final_columns.get_field_idx(table->get_names_map().get_mapped_name(index.fields[i]));
            if (at < 0) {
                elements.push_back(L"\n" + index.fields[i]);
                continue;
            }
            const t_ftd& column = final_columns[std::size_t(at)];
            const bool whole = pgs_indexes_initializer::prefix_expression(column, index.prefix_of(i)) == column.name;
            elements.push_back(whole ? pgs_unquote_name(column.name) : std::wstring());
        }
        return elements;
    };
    auto covered = [&](const std::vector<std::wstring>& elements, bool primary, bool unique) {
        for (const present_index& p : present)
            if (p.elements == elements && (!primary || p.primary) && (!unique || p.unique)) return true;
        return false;
    };
    bool has_primary = false;
    for (const present_index& p : present) has_primary = has_primary || p.primary;

    udb_indexes keys, others;
    std::vector<std::string> promoted;
    for (const udb_index& source : indexes) {
        const std::vector<std::wstring> elements = elements_of(source);
        // A primary key on a prefix is made a unique index: that is what the table can have.
        const bool primary = source.primary && !source.has_prefix();
        const bool unique = source.primary || source.unique;
        if (primary ? covered(elements, true, true) : covered(elements, false, unique)) continue;
        if (!unique) {
            others.push_back(source);
            continue;
        }
        if (primary && !has_primary) {
            // A unique index on exactly these columns that is no constraint's (the key's index
            // of a run ended before it made the key) becomes the key: a second index on the
            // same columns would only double the work of every write.
            auto plain = std::find_if(present.begin(), present.end(), [&](const present_index& p) {
                return p.plain && p.elements == elements &&
                       std::find(elements.begin(), elements.end(), std::wstring()) == elements.end();
            });
            if (plain != present.end()) {
                const std::wstring index_q = pgs_quote_identifier(std::wstring_view(plain->name));
                tk_write_wlog(3, L"Table '%s' lacks the key '%s' of the source: its index %s becomes it",
                              name.c_str(), source.name.c_str(), index_q.c_str());
                promoted.push_back(tk_unicode_to_utf8(
                    L"ALTER TABLE " + pgs_quote_identifier(std::wstring_view(schema_name)) + L"." +
                    pgs_quote_identifier(std::wstring_view(table_name)) + L" ADD CONSTRAINT " + index_q +
                    L" PRIMARY KEY USING INDEX " + index_q));
                plain->primary = true;
                plain->plain = false;
                has_primary = true;
                continue;
            }
        }
        udb_index key = source;
        if (primary && has_primary) {
            // The table's own primary key stays; the source's key still keeps rows apart.
            if (covered(elements, false, true)) continue;
            key.primary = false;
            key.unique = true;
        }
        tk_write_wlog(3, L"Table '%s' lacks the key '%s' of the source: it is added before the rows are merged",
                      name.c_str(), source.name.c_str());
        keys.push_back(key);
        present.push_back({true, key.primary, elements, std::wstring(), false});
        has_primary = has_primary || key.primary;
    }

    std::size_t added = 0;
    if (!keys.empty() || !promoted.empty()) {
        pgs_indexes_initializer builder(name, final_columns, keys, table->get_names_map());
        for (const auto& [what, text] : builder.not_carried()) {
            udb_failure f;
            f.kind = udb_failure_kind::index;
            f.table = name;
            f.object = what;
            f.text = text;
            udb_report_failure(f);
        }
        std::vector<pgs_finish_step> steps;
        for (pgs_finish_step& step : builder.finish_steps()) {
            if (step.sql.empty()) udb_report_failure(pgs_indexes_initializer::unbuildable_failure(step));
            else steps.push_back(std::move(step));
        }
        // All or none: a key refused leaves the table as it was, and the item ends there.
        const pgs_finish_step* current = nullptr;
        try {
            pgs_connection& conn = connection();
            conn.make_room();
            pqxx::work tx(conn.get(), "merge_keys");
            for (const std::string& sql : promoted) {
                tk_write_log(3, "%s", sql.c_str());
                tx.exec(sql);
            }
            for (const pgs_finish_step& step : steps) {
                current = &step;
                tk_write_log(3, "%s", step.sql.c_str());
                tx.exec(step.sql);
            }
            current = nullptr;
            tx.commit();
        } catch (const pqxx::pqxx_exception&) {
            const std::string what =
                current ? tk_unicode_to_utf8(current->what) : "The keys of table '" + tk_unicode_to_utf8(name) + "'";
            throw pgs_exception::from_current(what + " is missing and could not be added, so no rows were merged: ");
        }
        added = promoted.size() + steps.size();
    }
    if (!others.empty()) build_or_defer_indexes(std::move(table), name, others);
    return added;
}

// The foreign keys of other tables that refer to the table ($1: its oid): schema and table of
// the key, the key's name, the oid of the key's table.
const char* const pgs_referring_keys_sql =
    "SELECT n.nspname, c.relname, k.conname, k.conrelid FROM pg_constraint k "
    "JOIN pg_class c ON c.oid = k.conrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
    "WHERE k.contype = 'f' AND k.confrelid = $1 AND k.conrelid <> k.confrelid ORDER BY 1, 2, 3";

// The views that read the table, directly or through other views: schema and name.
const char* const pgs_reading_views_sql =
    "WITH RECURSIVE dep(oid) AS ("
    " SELECT r.ev_class FROM pg_depend d JOIN pg_rewrite r ON r.oid = d.objid"
    " WHERE d.classid = 'pg_rewrite'::regclass AND d.refclassid = 'pg_class'::regclass"
    " AND d.refobjid = $1 AND r.ev_class <> $1"
    " UNION"
    " SELECT r.ev_class FROM dep JOIN pg_depend d ON d.refobjid = dep.oid JOIN pg_rewrite r ON r.oid = d.objid"
    " WHERE d.classid = 'pg_rewrite'::regclass AND d.refclassid = 'pg_class'::regclass AND r.ev_class <> dep.oid)"
    " SELECT n.nspname, c.relname FROM dep JOIN pg_class c ON c.oid = dep.oid"
    " JOIN pg_namespace n ON n.oid = c.relnamespace WHERE c.relkind IN ('v', 'm') ORDER BY 1, 2";

void pgs_database::set_remade_relations(std::vector<std::pair<std::wstring, std::wstring>> relations)
{
    m_remade = std::move(relations);
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
    const std::string table_sql = tk_unicode_to_utf8(get_safe_name(folded));
    auto remade = [&](const std::string& schema, const std::string& relation) {
        const std::pair<std::wstring, std::wstring> key{tk_utf8_to_unicode(schema), tk_utf8_to_unicode(relation)};
        return std::find(m_remade.begin(), m_remade.end(), key) != m_remade.end();
    };
    // No CASCADE: only what the run makes again goes with the table (the foreign keys of the
    // tables it overwrites, the views it converts). Anything else that depends on it (a
    // user's view, a foreign key of a table the run does not convert) keeps the table from
    // being dropped: the server's refusal names those objects, and nothing is dropped.
    std::string sql;
    std::vector<std::wstring> dropped;
    std::vector<dropped_key> keys_dropped;
    try {
        pgs_connection& conn = connection();
        conn.make_room();
        pqxx::work tx(conn.get(), "drop_table");
        const pqxx::result table_oid = tx.exec_params("SELECT to_regclass($1)::oid", table_sql);
        if (!table_oid.empty() && !table_oid[0][0].is_null()) {
            const std::string id = table_oid[0][0].c_str();
            for (const auto& key : tx.exec_params(pgs_referring_keys_sql, id)) {
                if (!remade(key[0].c_str(), key[1].c_str())) continue;
                sql = "ALTER TABLE " + pgs_quote_identifier(std::string_view(key[0].c_str())) + "." +
                      pgs_quote_identifier(std::string_view(key[1].c_str())) + " DROP CONSTRAINT " +
                      pgs_quote_identifier(std::string_view(key[2].c_str()));
                tk_write_log(3, "Overwriting %s: %s", table_sql.c_str(), sql.c_str());
                tx.exec(sql);
                keys_dropped.push_back({key[3].as<std::uint32_t>(),
                                        tk_utf8_to_unicode(std::string(key[0].c_str()) + "." + key[1].c_str()),
                                        tk_utf8_to_unicode(key[2].c_str())});
            }
            std::string views;
            for (const auto& view : tx.exec_params(pgs_reading_views_sql, id)) {
                if (!remade(view[0].c_str(), view[1].c_str())) continue;
                views += views.empty() ? "" : ", ";
                views += pgs_quote_identifier(std::string_view(view[0].c_str())) + "." +
                         pgs_quote_identifier(std::string_view(view[1].c_str()));
            }
            if (!views.empty()) {
                sql = "DROP VIEW " + views;
                tk_write_log(3, "Overwriting %s: %s", table_sql.c_str(), sql.c_str());
                tx.exec(sql);
            }
        }
        // The table's indexes (its key constraints among them) go with it: their names
        // are free for the table made again.
        if (!table_oid.empty() && !table_oid[0][0].is_null())
            for (const auto& row : tx.exec_params("SELECT c.relname FROM pg_catalog.pg_index i JOIN "
                                                  "pg_catalog.pg_class c ON c.oid = i.indexrelid WHERE "
                                                  "i.indrelid = $1 ORDER BY 1",
                                                  table_oid[0][0].c_str()))
                dropped.push_back(tk_utf8_to_unicode(row[0].c_str()));
        sql = "DROP TABLE IF EXISTS " + table_sql;
        tk_write_log(2, "query=%s", sql.c_str());
        tx.exec(sql);
        tx.commit();
        m_dropped_keys.insert(m_dropped_keys.end(), keys_dropped.begin(), keys_dropped.end());
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(3, "%s", e.base().what());
        throw pgs_exception::from_current("Cannot overwrite table " + tk_unicode_to_utf8(folded) +
                                          " (it was left as it was): ");
    }
    tk_singleton<pgs_engine>::get_instance()->in_validator().release_dropped_names(dropped);
    // The list holds names as the server or the creation gave them.
    return udb_database::delete_tab(get_full_name(folded));
}

std::vector<pgs_database::dropped_key> pgs_database::keys_lost_with_kept_tables()
{
    std::vector<dropped_key> lost;
    if (m_dropped_keys.empty()) return lost;
    try {
        pgs_connection& conn = connection();
        conn.make_room();
        pqxx::work tx(conn.get(), "kept_tables_keys");
        // A table the run overwrote has another oid now: only a table left as it was still
        // has the one its key was dropped from.
        for (const dropped_key& key : m_dropped_keys)
            if (tx.exec_params("SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_class WHERE oid = $1) AND NOT EXISTS "
                               "(SELECT 1 FROM pg_catalog.pg_constraint WHERE conrelid = $1 AND conname = $2)",
                               key.table_oid, tk_unicode_to_utf8(key.name))[0][0]
                    .as<bool>())
                lost.push_back(key);
        tx.commit();
    } catch (const pqxx::pqxx_exception&) {
        throw pgs_exception::from_current("Cannot look at the foreign keys of the tables left as they were: ");
    }
    return lost;
}

bool pgs_database::has_foreign_key(const std::wstring& table, const std::wstring& name, const std::wstring& parent)
{
    const std::wstring full = get_full_name(table);
    const std::wstring parent_full = full.substr(0, full.find(L'.') + 1) + parent;
    try {
        pgs_connection& conn = connection();
        conn.make_room();
        pqxx::work tx(conn.get(), "existing_key");
        const bool found =
            tx.exec_params("SELECT EXISTS (SELECT 1 FROM pg_catalog.pg_constraint k WHERE k.contype = 'f' AND "
                           "k.conrelid = to_regclass($1) AND k.confrelid = to_regclass($2) AND "
                           "('\"' || replace(k.conname, '\"', '\"\"') || '\"' = $3 OR quote_ident(k.conname) = $3))",
                           tk_unicode_to_utf8(quote_table_name(full)), tk_unicode_to_utf8(quote_table_name(parent_full)),
                           tk_unicode_to_utf8(make_one_name(name)))[0][0]
                .as<bool>();
        tx.commit();
        return found;
    } catch (const pqxx::pqxx_exception&) {
        throw pgs_exception::from_current("Cannot look at the foreign keys of table " + tk_unicode_to_utf8(full) + ": ");
    }
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
    } catch (const pqxx::pqxx_exception&) {
        throw pgs_exception::from_current();
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

// --- foreign keys, sequences and views, live ------------------------------------

void pgs_database::create_relationships(const std::vector<udb_relationship>& keys)
{
    tk_write_log(2, "pgs_database::create_relationships");
    for (const udb_relationship& key : keys) {
        tk_write_wlog(2, L"Processing '%s'", key.name.c_str());
        const std::wstring child = names_map.get_tn_mapped_name(key.table, true);
        const std::wstring parent = names_map.get_tn_mapped_name(key.ref_table, true);
        const std::wstring rule = checked_fk_rule(key);
        const std::wstring made_index = create_fk_index(parent, key.pk_flds);
        const std::wstring sql = make_fk_statement(key, child, parent, rule);
        tk_write_wlog(3, L"%s\n", sql.c_str());
        // A key is created whole or not at all: a unique index made for it goes with it.
        auto drop_made_index = [&] {
            if (made_index.empty()) return;
            try {
                query(L"DROP INDEX IF EXISTS " + made_index);
            } catch (const pqxx::pqxx_exception& e) {
                tk_write_log(3, "Cannot drop the index made for a foreign key: %s", e.base().what());
            }
        };
        try {
            query(sql);
        } catch (const pqxx::pqxx_exception&) {
            drop_made_index();
            throw pgs_exception::from_current("Cannot create foreign key '" + tk_unicode_to_utf8(key.name) + "': ");
        }
    }
}

pgs_key_timing pgs_database::create_relationship_early(const udb_relationship& key, const std::wstring& what)
{
    pgs_table_finisher* finisher = table_finisher();
    // A key without a name could not be dropped again by a run that stops.
    if (!finisher || key.name.empty()) return pgs_key_timing::at_the_end;
    // The names create_relationships would use: the same statement, whenever it runs.
    const std::wstring child = names_map.get_tn_mapped_name(key.table, true);
    const std::wstring parent = names_map.get_tn_mapped_name(key.ref_table, true);
    const pgs_engine* engine = tk_singleton<pgs_engine>::get_instance();
    // Named as the steps that finish the tables name them (pgs_indexes_initializer).
    const std::string parent_target = tk_unicode_to_utf8(engine->make_name3(parent, true));
    if (!finisher->settled(parent_target)) return pgs_key_timing::not_yet;
    // Where create_relationships would first make a unique index, it still does, at the end.
    if (!has_fk_index(parent, key.pk_flds)) return pgs_key_timing::at_the_end;
    std::wstring rule;
    try {
        rule = checked_fk_rule(key);
    } catch (const pgs_exception&) {
        return pgs_key_timing::at_the_end;
    }
    pgs_finish_step step;
    step.table = key.table;
    step.what = what;
    step.sql = tk_unicode_to_utf8(make_fk_statement(key, child, parent, rule));
    step.failure_prefix = "Cannot create foreign key '" + tk_unicode_to_utf8(key.name) + "': ";
    step.kind = udb_failure_kind::foreign_key;
    step.target = tk_unicode_to_utf8(engine->make_name3(child, true));
    // Keys one at a time: a statement locks its table, then the referenced one.
    step.more_targets = {parent_target, "(foreign keys)"};
    step.exists_sqlstate = "42710";  // duplicate_object: a key of that name is there
    step.returnable = true;
    step.take_back = tk_unicode_to_utf8(L"ALTER TABLE " + engine->make_name3(child, true) + L" DROP CONSTRAINT " +
                                        make_one_name(key.name));
    tk_write_wlog(3, L"%s is created after the rows of its tables: %s", what.c_str(),
                  tk_utf8_to_unicode(step.sql).c_str());
    std::vector<pgs_finish_step> steps;
    steps.push_back(std::move(step));
    finisher->submit(std::move(steps));
    return pgs_key_timing::handed_over;
}

namespace {

// Whether a relation of that name exists in the schema (indexes share the name space of
// tables, so a new index name must be free of both).
bool relation_exists(pgs_connection& conn, const std::wstring& schema, const std::wstring& name)
{
    std::string sql = "SELECT count(*) FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n "
                      "ON n.oid = c.relnamespace WHERE n.nspname = ";
    pgs_append_literal(sql, std::wstring_view(schema));
    sql += " AND c.relname = ";
    pgs_append_literal(sql, std::wstring_view(name));
    conn.make_room();
    pqxx::work tx(conn.get(), "fk_index_name");
    return tx.exec(sql)[0][0].as<long>() > 0;
}

}  // namespace

void pgs_database::create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& columns)
{
    create_fk_index(table, columns);
}

std::wstring pgs_database::create_fk_index(const std::wstring& table, const std::vector<std::wstring>& columns)
{
    bool covered = false;
    return fk_index(table, columns, true, covered);
}

bool pgs_database::has_fk_index(const std::wstring& table, const std::vector<std::wstring>& columns)
{
    bool covered = false;
    fk_index(table, columns, false, covered);
    return covered;
}

std::wstring pgs_database::fk_index(const std::wstring& table, const std::vector<std::wstring>& columns, bool make,
                                    bool& covered)
{
    tk_write_wlog(2, L"pgs_database::create_fk_index_if(%s)", table.c_str());
    pgs_engine* engine = tk_singleton<pgs_engine>::get_instance();
    covered = false;
    try {
        auto [schema, bare] = split_name(table);
        std::wstring full = schema + L"." + bare;
        if (!engine->is_case_sens) {
            tk_write_log(2, "'case sensitive' is OFF, make table name lowercase");
            full = tk_to_lower(full);
            schema = tk_to_lower(schema);
        }
        if (!is_table_exist(full)) {
            tk_write_wlog(3, L"Cannot create FK index, table '%s' does not exist", full.c_str());
            return {};
        }
        // The columns under the names the table has now.
        std::vector<std::wstring> plain;
        plain.reserve(columns.size());
        for (const auto& c : columns) plain.push_back(pgs_unquote_name(get_mapped_field(full, c)));

        std::unique_ptr<udb_recordset> rs = get_table(full, 1);
        tk_write_log(1, "udb_indexes::has_index_on_fields");
        // A primary key or unique index over exactly these columns, in any order, is what the
        // server looks for (the primary key's columns are listed in the table's order). A unique
        // index over more columns does not make these columns unique, and the server refuses a
        // key that refers to them.
        auto same_columns = [&](const udb_index& index) {
            if (index.fields.size() != plain.size()) return false;
            for (const auto& c : plain)
                if (std::none_of(index.fields.begin(), index.fields.end(),
                                 [&](const std::wstring& f) { return tk_equal_no_case(f, c); }))
                    return false;
            return true;
        };
        for (const udb_index& index : rs->get_indexes()) {
            if ((index.unique || index.primary) && same_columns(index)) {
                tk_write_wlog(2, L"Child index for table '%s' exists", full.c_str());
                covered = true;
                return {};
            }
        }
        tk_write_wlog(2, L"FK index for table '%s' does NOT exist", full.c_str());
        if (!make) return {};

        // A name free in the schema: among the names of this run and in the catalog.
        pgs_in_validator& names = engine->in_validator();
        const std::wstring base =
            pgs_cut_to_bytes(pgs_fold_name(gen_idx_name(rs.get(), plain), engine->is_case_sens), pgs_max_name_bytes);
        auto taken = [&](const std::wstring& candidate) {
            return names.is_restricted(candidate) || relation_exists(connection(), schema, candidate);
        };
        std::wstring index_name = base;
        for (int i = 0; taken(index_name); ++i) {
            if (i > 99999) throw tk_mail_assertion("pgs_db", 1466);
            wchar_t counter[16];
            std::swprintf(counter, 16, L"_%05d", i);
            index_name = pgs_cut_to_bytes(base, pgs_max_name_bytes - 6) + counter;
        }
        names.add_existing_name(index_name);
        names.restricted_names.push_back(index_name);

        std::wstring sql = L"CREATE UNIQUE INDEX " + pgs_quote_identifier(std::wstring_view(index_name)) + L" ON " +
                           engine->make_name3(full, true) + L"(";
        for (std::size_t i = 0; i < plain.size(); ++i) {
            if (i) sql += L", ";
            sql += make_one_name(get_mapped_field(full, columns[i]));
        }
        sql += L")";
        tk_write_wlog(2, L"str_query=%s", sql.c_str());
        rs.reset();
        query(sql);
        return pgs_quote_identifier(std::wstring_view(schema)) + L"." + pgs_quote_identifier(std::wstring_view(index_name));
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(3, "Error while creating index for FK: %s", e.base().what());
    } catch (const tk_exception& e) {
        tk_write_log(3, "Error while creating index for FK: %s", e.what());
    }
    return {};
}

void pgs_database::create_sequences(const std::vector<udb_sequence>& list)
{
    tk_write_log(2, "pgs_database::create_sequences");
    if (!list.empty()) tk_write_log(3, "Creating sequences (%d items)", static_cast<int>(list.size()));
    for (const udb_sequence& s : list) {
        const std::wstring sql = make_sequence_statement(s);
        tk_write_wlog(3, L"%s", sql.c_str());
        udb_failure failure;
        try {
            query(sql);
            continue;
        } catch (const pqxx::pqxx_exception&) {
            failure = pgs_failure_of(udb_failure_kind::sequence, std::wstring(), L"Sequence '" + s.name + L"'",
                                     pgs_exception::from_current("Cannot create sequence: "));
        }
        udb_report_failure(failure);
    }
}

void pgs_database::create_views(const udb_view_list& list)
{
    tk_write_log(2, "pgs_database::create_views");
    create_views_by_query(list);
    tk_write_log(2, "pgs_database::create_views - END");
}

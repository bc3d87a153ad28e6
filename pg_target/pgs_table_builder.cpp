#include "pg_target/pgs_table_builder.h"

#include <limits>

#include <pqxx/except>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_custom_conversion.h"
#include "UDB/udb_failure.h"
#include "pg_target/pgs_defaults.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_types.h"

namespace {

std::wstring to_wide_decimal(long long v)
{
    return std::to_wstring(v);
}

// A dollar-quote tag that the body does not contain, so the body needs no escaping.
std::wstring dollar_tag(const std::wstring& body)
{
    std::wstring tag = L"$pgs$";
    for (int i = 0; body.find(tag) != std::wstring::npos; ++i) tag = L"$pgs" + std::to_wstring(i) + L"$";
    return tag;
}

// Runs a statement that completes a table already made; a refusal is reported as a failure
// of `kind` naming the object, and the run goes on. A lost connection passes on.
void run_or_report(udb_database& db, const std::wstring& sql, udb_failure_kind kind, const std::wstring& object)
{
    udb_failure failure;
    try {
        db.query(sql);
        return;
    } catch (const pqxx::broken_connection&) {
        throw pgs_exception::from_current();
    } catch (const pqxx::pqxx_exception&) {
        failure = pgs_failure_of(kind, std::wstring(), object, pgs_exception::from_current());
    } catch (const pgs_exception& e) {
        if (e.sqlstate().empty()) throw;  // no answer of the server to this statement
        failure = pgs_failure_of(kind, std::wstring(), object, pgs_exception::from_current());
    }
    if (failure.statement.empty()) failure.statement = tk_unicode_to_utf8(sql);
    // Reported outside the handlers: an Abort chosen in the report leaves at once.
    udb_report_failure(failure);
}

}  // namespace

std::string pgs_sequence_after_rows(std::string_view sequence, std::string_view table, std::string_view column)
{
    // pg_sequence_last_value() reads where the sequence stands without moving it (NULL before
    // its first value); nextval() would fail at the end of the range. The aliases are names no
    // table of the source can shadow inside the LATERAL part, whose table has an alias too.
    // The sequence is left on the value before the next one, called, so that a later run (a
    // merge) reads where it stands and never sets it back below the source's next value; only
    // a next value at the start of the range is left uncalled.
    std::string sql = "SELECT setval(pgs_s.seq, LEAST(CASE WHEN pgs_n.next - pgs_q.seqincrement >= pgs_q.seqmin "
                      "THEN pgs_n.next - pgs_q.seqincrement ELSE pgs_n.next END, pgs_q.seqmax)::bigint, "
                      "pgs_n.next - pgs_q.seqincrement >= pgs_q.seqmin) FROM (SELECT (";
    sql += sequence;
    sql += ")::regclass AS seq) AS pgs_s JOIN pg_sequence AS pgs_q ON pgs_q.seqrelid = pgs_s.seq, LATERAL (SELECT "
           "GREATEST(COALESCE(MAX(pgs_rows.";
    sql += column;
    sql += ")::numeric + pgs_q.seqincrement, pgs_q.seqmin), COALESCE(pg_sequence_last_value(pgs_s.seq)::numeric + "
           "pgs_q.seqincrement, pgs_q.seqmin)) AS next FROM ";
    sql += table;
    sql += " AS pgs_rows) AS pgs_n";
    return sql;
}

pgs_ddl_settings pgs_ddl_settings::from_engine()
{
    const pgs_engine* engine = pgs_engine::get_instance();
    return {engine->is_case_sens, engine->unlogged};
}

pgs_schema_initializer::pgs_schema_initializer(std::wstring table, const udb_schema& columns,
                                               const udb_indexes& indexes,
                                               const pgs_ddl_settings& settings,
                                               const std::vector<std::wstring>* original_names)
    : m_table(std::move(table)),
      m_validator(columns),
      m_indexes(indexes),
      m_source(columns),
      m_settings(settings)
{
    tk_write_log(2, "pgs_schema_initializer::ctor1");
    if (original_names)
        for (const auto& n : *original_names) m_validator.add_existing_name(n);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (!columns.get(i)) continue;
        const std::wstring* original =
            original_names && i < original_names->size() ? &(*original_names)[i] : nullptr;
        add_column(columns[i], original);
    }
}

pgs_schema_initializer::pgs_schema_initializer(std::wstring table, const udb_schema& columns,
                                               const udb_indexes& indexes,
                                               const udb_partition& partition,
                                               const pgs_ddl_settings& settings,
                                               const std::vector<std::wstring>* original_names)
    : pgs_schema_initializer(std::move(table), columns, indexes, settings, original_names)
{
    tk_write_log(2, "pgs_schema_initializer::ctor2");
    m_partition_column = partition.column;
    m_partitions = partition.partitions;
}

bool pgs_schema_initializer::in_primary_key(const std::wstring& name) const
{
    tk_write_wlog(1, L"udb_indexes::is_idx_field(%s)", name.c_str());
    for (const auto& idx : m_indexes) {
        if (!idx.primary) continue;
        for (const auto& f : idx.fields) {
            if (f == name) {
                tk_write_log(1, "index field");
                tk_write_log(2, "Field is a part of Primary Key");
                return true;
            }
        }
    }
    tk_write_log(1, "non-index field");
    return false;
}

void pgs_schema_initializer::add_column(const t_ftd& source, const std::wstring* original)
{
    // The name as PostgreSQL will keep it: folded unless case-sensitive, always quoted.
    std::wstring plain = pgs_fold_name(source.name, m_settings.case_sens);
    std::wstring final_name = pgs_quote_identifier(std::wstring_view(plain));
    tk_write_wlog(1, L"new_name=%s", final_name.c_str());

    // A name PostgreSQL would cut (over 63 bytes) or one that another column already has
    // gets a safe, unique name instead.
    auto taken = [&](const std::wstring& p) {
        for (const auto& f : m_final_plain)
            if (m_settings.case_sens ? f == p : tk_equal_no_case(f, p)) return true;
        return false;
    };
    if (!m_validator.is_acceptable(final_name) || taken(plain)) {
        // Its existing names hold the source names and every final name so far.
        plain = m_validator.get_safe_name(plain);
        final_name = pgs_quote_identifier(std::wstring_view(plain));
        tk_write_wlog(2, L"Incorrect column name, replace: '%s'=>'%s'", source.name.c_str(),
                      final_name.c_str());
    }

    bool not_null = source.auto_increment || source.b_not_null || in_primary_key(source.name) ||
                    (original && in_primary_key(*original));
    tk_write_log(2, "a_schema[i]->dw_reserved=%d", static_cast<int>(source.dw_reserved));

    t_ftd column = source;
    column.name = final_name;
    column.b_not_null = not_null;
    if (source.auto_increment) column.default_value = ole_variant();
    m_columns.add_column(std::move(column));

    tk_write_wlog(2, L"Store generated column safe-name %s->%s", source.name.c_str(), final_name.c_str());
    m_validator.add_existing_name(plain);
    m_validator.add_mapped_pair(source.name, final_name);
    if (original && *original != source.name) m_validator.add_mapped_pair(*original, final_name);
    m_validator.restricted_names.push_back(plain);
    m_final_plain.push_back(plain);
    if (source.auto_increment) {
        m_serial = final_name;
        m_serial_vt = source.vartype;
    }
}

std::wstring pgs_schema_initializer::column_type(const t_ftd& column)
{
    if (udb_custom_conversion::is_acceptable1(column)) return udb_custom_conversion::handle1(column);
    if (!column.nativetype.empty()) {
        tk_write_wlog(1, L"native_type=%s", column.nativetype.c_str());
        return column.nativetype;
    }
    return pgs_get_native_type1(column, false);
}

std::wstring pgs_schema_initializer::make_create_statement(bool with_partitions) const
{
    std::wstring sql = L"CREATE ";
    if (m_settings.unlogged) sql += L"UNLOGGED ";
    sql += L"TABLE ";
    sql += pgs_make_name3(m_table, true, m_settings.case_sens);
    sql += L" (";
    bool need_uuid = false, need_postgis = false;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const t_ftd& c = m_columns[i];
        tk_write_wlog(2, L"Processing field #%d: '%s'", static_cast<int>(i), c.name.c_str());
        if (i) sql += L", ";
        sql += c.name;
        sql += L' ';
        sql += column_type(c);
        std::wstring def = make_pgs_def_val(c);
        tk_write_wlog(1, L"got def value: %s", def.c_str());
        const auto subtype = static_cast<std::uint32_t>(c.dw_reserved);
        bool empty_text_default = false;
        if (c.vartype == VT_BSTR) {
            const auto code = subtype & ~pgs_subtype::empty_default;
            if (code == pgs_subtype::uuid && !def.empty()) need_uuid = true;
            else if (code == pgs_subtype::geometry || code == pgs_subtype::geography) need_postgis = true;
            // A mapped default expression replaces the source's empty text default.
            empty_text_default = (subtype & pgs_subtype::empty_default) != 0 && !c.default_is_expression;
        }
        if (empty_text_default) {
            tk_write_log(1, "Got empty string def.value for VT_BSTR");
            sql += L" DEFAULT '' ";
        } else if (!def.empty()) {
            sql += L" DEFAULT ";
            sql += def;
        }
        if (c.b_not_null) sql += L" NOT NULL";
    }
    sql += L")";
    if (need_postgis) sql.insert(0, L"CREATE EXTENSION IF NOT EXISTS postgis; \n");
    if (need_uuid) sql.insert(0, L"CREATE EXTENSION IF NOT EXISTS \"uuid-ossp\"; \n");
    if (with_partitions) {
        tk_write_log(2, "Process partition");
        // The partition key is an expression of the caller's, written as given.
        sql += L" PARTITION BY RANGE (" + m_partition_column + L")";
    }
    return sql;
}

void pgs_schema_initializer::build_schema(udb_database& db)
{
    tk_write_log(2, "pgs_schema_initializer::build_schema(n_columns=%d)", static_cast<int>(m_columns.size()));
    const bool partitioned = !m_partition_column.empty() && !m_partitions.empty();
    const std::wstring plain_sql = make_create_statement(false);
    const std::wstring table_q = pgs_make_name3(m_table, true, m_settings.case_sens);

    auto fail = [](const std::wstring& statement, const std::string& error) {
        throw pgs_exception("Cannot create table: " + tk_unicode_to_ansi(statement) + ". " + error);
    };

    if (!partitioned) {
        tk_write_wlog(2, L"Build table query:\n%s", plain_sql.c_str());
        try {
            db.query(plain_sql);
        } catch (const pqxx::pqxx_exception&) {
            fail(plain_sql, pgs_failure_text(std::current_exception()));
        } catch (const pgs_exception&) {
            fail(plain_sql, pgs_failure_text(std::current_exception()));
        }
    } else {
        std::wstring failed_statement = make_create_statement(true);
        bool ok = true;
        try {
            tk_write_wlog(2, L"Build table query:\n%s", failed_statement.c_str());
            db.query(failed_statement);
            tk_write_log(2, "partition.partitions.size=%d", static_cast<int>(m_partitions.size()));
            std::wstring lower;
            for (const auto& p : m_partitions) {
                std::wstring sql = L"CREATE TABLE " +
                                   pgs_make_name3(m_table + L"_" + p.name, true, m_settings.case_sens) +
                                   L" PARTITION OF " + table_q + L" FOR VALUES FROM (" +
                                   (lower.empty() ? L"TO_DATE(' 0000-00-00 00:00:00', 'SYYYY-MM-DD HH24:MI:SS')"
                                                  : lower) +
                                   L") TO (" + p.upper_bound + L")";
                lower = p.upper_bound;
                failed_statement = sql;
                tk_write_wlog(2, L"partition query=%s", sql.c_str());
                db.query(sql);
            }
        } catch (const pqxx::pqxx_exception&) {
            ok = false;
        } catch (const pgs_exception&) {
            ok = false;
        }
        if (!ok) {
            tk_write_wlog(3, L"Failed to create partitions for table '%s'", m_table.c_str());
            try {
                db.query(plain_sql);
            } catch (const pqxx::pqxx_exception&) {
                fail(failed_statement, pgs_failure_text(std::current_exception()));
            } catch (const pgs_exception&) {
                fail(failed_statement, pgs_failure_text(std::current_exception()));
            }
        }
    }

    if (!m_serial.empty() && (m_source.seed != 1 || m_source.increment != 1)) {
        tk_write_wlog(2, L"Tuning serial column '%s'", m_serial.c_str());
        // The sequence behind the column is asked of the server (pg_get_serial_sequence), not
        // guessed from the names: PostgreSQL shortens and de-duplicates sequence names.
        const std::wstring sequence = L"pg_get_serial_sequence(" + pgs_quote_literal(table_q) + L", " +
                                      pgs_quote_literal(pgs_unquote_name(m_serial)) + L")";
        std::vector<std::wstring> statements;
        if (m_source.increment != 1) {
            std::wstring body = L"BEGIN EXECUTE format('ALTER SEQUENCE %s INCREMENT BY " +
                                to_wide_decimal(m_source.increment) + L"', " + sequence + L"); END";
            std::wstring tag = dollar_tag(body);
            statements.push_back(L"DO " + tag + body + tag);
        }
        // The seed is the last value the source handed out: the sequence stands on it, called,
        // so it goes on with the source's next value. A seed beyond the type's end leaves it on
        // its last value, so the next insert fails as in the source; never an error that would
        // stop a script.
        const std::wstring seed = to_wide_decimal(static_cast<long long>(m_source.seed));
        statements.push_back(L"SELECT setval(pgs_s.seq, LEAST(" + seed + L", pgs_q.seqmax), true) FROM (SELECT " +
                             sequence + L"::regclass AS seq) AS pgs_s JOIN pg_sequence AS pgs_q ON pgs_q.seqrelid = "
                             L"pgs_s.seq WHERE " + seed + L" >= pgs_q.seqmin");
        // A sequence left at 1 would hand out the values of rows already there: reported.
        const std::wstring object =
            L"The sequence of column '" + pgs_unquote_name(m_serial) + L"' of table '" + m_table + L"'";
        for (const std::wstring& sql : statements) run_or_report(db, sql, udb_failure_kind::sequence, object);
        // An unsigned BIGINT counts on past the largest bigint, where the sequence ends: the
        // source's next value cannot be carried (the sequence stands at its end instead).
        if (m_serial_vt == VT_UI8 && m_source.seed == std::numeric_limits<std::int64_t>::max()) {
            udb_failure failure;
            failure.kind = udb_failure_kind::sequence;
            failure.object = object;
            failure.text = "the source's next value lies beyond 9223372036854775807, the largest a bigint "
                           "sequence reaches: it stands at its end, and the next row it numbers fails";
            udb_report_failure(failure);
        }
    }

    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const t_ftd& c = m_columns[i];
        if (c.comment.empty()) continue;
        tk_write_wlog(2, L"Processing comment for column #%d: '%s'", static_cast<int>(i), c.comment.c_str());
        std::wstring sql = L"comment on column " + table_q + L"." +
                           pgs_make_name3(c.name, true, m_settings.case_sens) + L" is " +
                           pgs_quote_literal(std::wstring_view(c.comment));
        run_or_report(db, sql, udb_failure_kind::column,
                      L"The comment of column '" + c.name + L"' of table '" + m_table + L"'");
    }
}

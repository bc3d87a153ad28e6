#include "pg_target/pgs_index_builder.h"

#include <pqxx/except>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_types.h"

pgs_indexes_initializer::pgs_indexes_initializer(std::wstring table, const udb_schema& columns,
                                                 const udb_indexes& indexes, const t_names_map& names)
    : pgs_indexes_initializer(std::move(table), columns, indexes, names,
                              *pgs_in_validator::get_instance(), pgs_ddl_settings::from_engine())
{
}

pgs_indexes_initializer::pgs_indexes_initializer(std::wstring table, const udb_schema& columns,
                                                 const udb_indexes& indexes, const t_names_map& names,
                                                 pgs_in_validator& validator,
                                                 const pgs_ddl_settings& settings)
    : m_table(std::move(table)), m_columns(columns), m_names(names), m_settings(settings)
{
    tk_write_wlog(2, L"pgs_indexes_initializer::ctor(%s)", m_table.c_str());
    validator.add_index_names(indexes);
    // The table itself is a relation of the same name space: an index named like it (table
    // t with index t) gets a name of its own instead of failing.
    {
        const std::size_t dot = m_table.find(L'.');
        validator.restricted_names.push_back(dot == std::wstring::npos ? m_table : m_table.substr(dot + 1));
    }
    for (const auto& source : indexes) {
        tk_write_wlog(2, L"Processing index '%s'", source.name.c_str());
        // Refused are: names over 63 bytes, odd characters, names of earlier indexes of the
        // run and names already present in the destination schema.
        const bool acceptable = validator.is_acceptable(source.name);
        std::wstring final_name = acceptable ? source.name : validator.get_safe_name(source.name);
        tk_write_wlog(2, L"new_name='%s'", final_name.c_str());

        auto translate = [&](const std::wstring& field, const wchar_t* trace) {
            std::wstring mapped = m_names.get_mapped_name(field);
            tk_write_wlog(1, trace, field.c_str(), mapped.c_str());
            return mapped;
        };
        std::vector<std::wstring> fields;
        for (const auto& f : source.fields) fields.push_back(translate(f, L"Index column: %s->%s"));
        udb_index converted(final_name, source.unique, source.primary, std::move(fields));
        converted.prefix_lengths = source.prefix_lengths;
        converted.descending = source.descending;
        for (const auto& f : source.included_fields)
            converted.included_fields.push_back(translate(f, L"Index included column: %s->%s"));
        m_indexes.push_back(converted);

        if (!acceptable) {
            tk_write_wlog(2, L"Store generated index name '%s'", final_name.c_str());
            validator.add_existing_name(final_name);
        }
        validator.restricted_names.push_back(final_name);
    }
}

std::wstring pgs_indexes_initializer::make_drop_statement(const udb_index& index) const
{
    // Qualified by the table's schema, so only an index of that schema can be dropped.
    std::wstring schema = L"public";
    auto dot = m_table.find(L'.');
    if (dot != std::wstring::npos && dot > 0 && dot + 1 < m_table.size()) schema = m_table.substr(0, dot);
    return L"DROP INDEX IF EXISTS " +
           pgs_quote_identifier(std::wstring_view(pgs_fold_name(schema, m_settings.case_sens))) + L"." +
           pgs_make_idx_name(index.name, m_settings.case_sens);
}

std::wstring pgs_indexes_initializer::make_index_statement(const udb_index& index) const
{
    const std::wstring table_q = pgs_make_name3(m_table, true, m_settings.case_sens);
    const std::wstring index_q = pgs_make_idx_name(index.name, m_settings.case_sens);
    std::wstring sql;
    // A key on a prefix is a key on an expression, which a PostgreSQL constraint cannot be:
    // a primary key on a prefix becomes a unique index (its columns are NOT NULL already).
    if (index.primary && !index.has_prefix()) {
        sql = L"ALTER TABLE " + table_q + L" ADD CONSTRAINT " + index_q + L" PRIMARY KEY (";
    } else if (index.primary) {
        sql = L"CREATE UNIQUE INDEX " + index_q + L" ON " + table_q + L" (";
    } else {
        sql = L"CREATE ";
        if (index.unique) sql += L"UNIQUE ";
        sql += L"INDEX " + index_q + L" ON " + table_q + L" (";
    }
    for (std::size_t i = 0; i < index.fields.size(); ++i) {
        if (i) sql += L", ";
        tk_write_wlog(1, L"Process idx.field %s", index.fields[i].c_str());
        int at = m_columns.get_field_idx(index.fields[i]);
        if (at < 0) {
            tk_write_wlog(3, L"Index column %s does not exist in table", index.fields[i].c_str());
            tk_write_wlog(3, L"Index '%s' cannot be converted", index.name.c_str());
            return {};
        }
        // The column's own (quoted) final name, never the index's spelling of it.
        const t_ftd& column = m_columns[static_cast<std::size_t>(at)];
        sql += prefix_expression(column, index.prefix_of(i));
        // A PRIMARY KEY constraint takes no order: the key is the same either way.
        if (index.is_descending(i) && !(index.primary && !index.has_prefix())) sql += L" DESC";
    }
    sql += L")";
    if (!index.included_fields.empty()) {
        tk_write_wlog(1, L"Process included fields for indxex '%s'", index.name.c_str());
        sql += L" INCLUDE (";
        for (std::size_t i = 0; i < index.included_fields.size(); ++i) {
            if (i) sql += L", ";
            const std::wstring& f = index.included_fields[i];
            int at = m_columns.get_field_idx(f);
            // A column the table lacks is still named (quoted): the server then refuses the
            // index and the failure is logged.
            sql += at >= 0 ? m_columns[static_cast<std::size_t>(at)].name
                           : pgs_make_name2(pgs_fold_name(f, m_settings.case_sens));
        }
        sql += L")";
    }
    return sql;
}

std::wstring pgs_indexes_initializer::prefix_expression(const t_ftd& column, std::uint32_t prefix)
{
    if (prefix == 0) return column.name;
    const std::wstring n = std::to_wstring(prefix);
    // The source counts a text prefix in characters and a binary one in bytes, as left() and
    // substring() on bytea do; the expression is in parentheses as an index element must be.
    switch (column.vartype) {
    case VT_BSTR:
    case VT_LPWSTR:
        // Only a column that holds text: a uuid or a geometry has no prefix of the same meaning.
        {
            const std::uint32_t code = static_cast<std::uint32_t>(column.dw_reserved) &
                                       ~(pgs_subtype::empty_default | pgs_subtype::bit_text);
            if (code != 0 && code != pgs_subtype::fixed_text) return column.name;
        }
        return L"(left(" + column.name + L", " + n + L"))";
    case VT_BLOB:
    case VT_BYTE_ARRAY:
        return L"(substring(" + column.name + L" from 1 for " + n + L"))";
    default:
        return column.name;
    }
}

std::vector<std::pair<std::wstring, std::string>> pgs_indexes_initializer::not_carried() const
{
    std::vector<std::pair<std::wstring, std::string>> notes;
    for (const auto& index : m_indexes)
        if (index.primary && index.has_prefix())
            notes.emplace_back(L"Primary key '" + index.name + L"' of table '" + m_table + L"'",
                               "it covers a prefix of a column, which a PostgreSQL primary key cannot: it is "
                               "created as a unique index on the same prefixes, its columns NOT NULL");
    return notes;
}

std::vector<pgs_finish_step> pgs_indexes_initializer::finish_steps(bool side_by_side) const
{
    std::vector<pgs_finish_step> steps, last;
    const std::wstring table_q = pgs_make_name3(m_table, true, m_settings.case_sens);
    for (const auto& index : m_indexes) {
        pgs_finish_step step;
        step.table = m_table;
        step.target = tk_unicode_to_utf8(table_q);
        step.what = (index.primary ? L"Primary key '" : L"Index '") + index.name + L"' of table '" + m_table + L"'";
        step.before = tk_unicode_to_utf8(make_drop_statement(index));
        const std::wstring statement = make_index_statement(index);
        step.sql = tk_unicode_to_utf8(statement);
        step.failure_prefix = "Cannot create index: ";
        const std::wstring head = L"ALTER TABLE " + table_q + L" ADD CONSTRAINT ";
        if (side_by_side && index.primary && statement.rfind(head, 0) == 0 && index.included_fields.empty()) {
            // The key's index is built beside the table's other indexes; the key is made of
            // it once every index of the table stands (a moment's work).
            const std::wstring index_q = pgs_make_idx_name(index.name, m_settings.case_sens);
            const std::wstring columns = statement.substr(statement.find(L" PRIMARY KEY (") + 13);
            step.sql = tk_unicode_to_utf8(L"CREATE UNIQUE INDEX " + index_q + L" ON " + table_q + L" " + columns);
            step.side_by_side = true;
            pgs_finish_step key = step;
            key.before.clear();
            key.sql = tk_unicode_to_utf8(head + index_q + L" PRIMARY KEY USING INDEX " + index_q);
            key.side_by_side = false;
            key.completes_earlier = true;
            last.push_back(std::move(key));
        } else if (side_by_side && !step.sql.empty() && statement.rfind(L"CREATE ", 0) == 0) {
            step.side_by_side = true;
        }
        steps.push_back(std::move(step));
    }
    for (auto& key : last) steps.push_back(std::move(key));
    return steps;
}

std::size_t pgs_indexes_initializer::build_indexes(udb_database& db)
{
    tk_write_log(2, "pgs_indexes_initializer::build_indexes(n_indexes=%d)", static_cast<int>(m_indexes.size()));
    std::size_t failed = 0;
    for (const pgs_finish_step& step : finish_steps()) {
        try {
            db.query(tk_utf8_to_unicode(step.before));
        } catch (const pqxx::pqxx_exception&) {
        } catch (const pgs_exception&) {
        }
        if (step.sql.empty()) {
            ++failed;
            udb_report_failure(unbuildable_failure(step));
            continue;
        }
        tk_write_log(3, "%s: %s", tk_unicode_to_utf8(step.what).c_str(), step.sql.c_str());
        udb_failure failure;
        try {
            db.query(tk_utf8_to_unicode(step.sql));
            continue;
        } catch (const pqxx::broken_connection&) {
            // Not a refusal of this index: the server is gone, and so is every later one.
            throw pgs_exception::from_current(step.failure_prefix);
        } catch (const pqxx::pqxx_exception&) {
            failure = pgs_failure_of(step.kind, step.table, step.what, pgs_exception::from_current(step.failure_prefix));
        } catch (const pgs_exception& e) {
            if (e.sqlstate().empty()) throw;  // no answer of the server to this statement
            failure = pgs_failure_of(step.kind, step.table, step.what, pgs_exception::from_current(step.failure_prefix));
        }
        if (failure.statement.empty()) failure.statement = step.sql;
        tk_write_log(3, "%s", (step.failure_prefix + step.sql + ". " + failure.text).c_str());
        // Reported outside the handlers: an Abort chosen in the report leaves at once.
        ++failed;
        udb_report_failure(failure);
    }
    return failed;
}

udb_failure pgs_indexes_initializer::unbuildable_failure(const pgs_finish_step& step)
{
    udb_failure f;
    f.kind = step.kind;
    f.table = step.table;
    f.object = step.what;
    f.text = unbuildable_reason();
    return f;
}

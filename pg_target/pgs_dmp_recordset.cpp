#include "pg_target/pgs_dmp_recordset.h"

#include <algorithm>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_key_statements.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_script_writer.h"
#include "pg_target/pgs_table_builder.h"
#include "pg_target/pgs_validators.h"

namespace {

// Bytes of binary data turned into hexadecimal per write of a large value.
constexpr std::size_t hex_chunk_bytes = 131072;

// The temporary table's name in CREATE TEMP TABLE (stage_ident qualified).
constexpr const char* stage_table = "quindrel_rows";

bool case_sens()
{
    return pgs_engine::get_instance()->is_case_sens;
}

// A column name as one SQL identifier: a name that is already a quoted identifier stays as it
// is, any other is folded (unless names are case-sensitive) and quoted whole, dots included.
std::string column_ident(const std::wstring& name, bool cs)
{
    std::string out;
    if (pgs_is_quoted_name(name))
        pgs_append_utf8(out, name);
    else
        pgs_append_identifier(out, pgs_fold_name(name, cs));
    return out;
}

// The last name of a qualified SQL name ("s"."t" gives t), without quotes.
std::string last_name(std::string_view qualified)
{
    std::string name;
    for (std::size_t i = 0; i < qualified.size();) {
        if (qualified[i] == '"') {
            name.clear();
            for (++i; i < qualified.size(); ++i) {
                if (qualified[i] == '"') {
                    if (i + 1 < qualified.size() && qualified[i + 1] == '"') {
                        name += '"';
                        ++i;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    name += qualified[i];
                }
            }
        } else if (qualified[i] == '.') {
            name.clear();
            ++i;
        } else {
            name += qualified[i++];
        }
    }
    return name;
}

}  // namespace

pgs_dmp_recordset::pgs_dmp_recordset(pgs_script_writer& out, pgs_dmp_database* database,
                                     const std::wstring& table, const udb_schema& columns,
                                     std::vector<std::wstring> source_names,
                                     const std::vector<std::wstring>& column_types)
    : udb_recordset(database, table, 0), m_out(&out), m_source_names(std::move(source_names)), m_database(database)
{
    tk_write_wlog(1, L"pgs_dmp_recordset::pgs_dmp_recordset(%s)", table.c_str());
    const bool cs = case_sens();
    // A deep copy: the recordset owns its column descriptors.
    schema.seed = columns.seed;
    schema.increment = columns.increment;
    schema.reserve(columns.size());
    m_column_idents.reserve(columns.size());
    std::vector<pgs_column_plan> plans;
    plans.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const t_ftd& c = columns[i];
        schema.add_column(c);
        m_column_idents.push_back(column_ident(c.name, cs));
        m_plain_names.push_back(pgs_unquote_name(c.name));
        if (m_source_names.size() <= i) m_source_names.push_back(m_plain_names.back());
        plans.push_back(pgs_plan_declared_column(c, m_plain_names.back(),
                                                 i < column_types.size() ? column_types[i] : std::wstring()));
        if (c.auto_increment) m_serial_column = static_cast<int>(i);
        m_copy_layout.field_of_column.push_back(static_cast<int>(i));
    }
    pgs_append_utf8(m_table_ident, pgs_engine::get_instance()->make_name3(table, true));
    m_target_ident = m_table_ident;
    m_relation = last_name(m_table_ident);
    for (const std::wstring& type : column_types) m_column_types.push_back(tk_unicode_to_utf8(type));

    m_rows = pgs_row_builder(std::move(plans));
    // A NULL for a NOT NULL column would stop the load at this row (psql with ON_ERROR_STOP),
    // or lose the whole COPY block with it: the row fails here instead, with the server's own
    // words. A live table leaves this to the server, whose triggers may still fill the value.
    m_rows.refuse_nulls(m_relation);
    // The COPY form has always written a missing value of a NOT NULL text column as the empty
    // text, and loads of earlier scripts hold such rows.
    m_rows.set_empty_text_for_missing(true);
    m_rows.set_large_value_size(large_value_size);
}

pgs_dmp_recordset::~pgs_dmp_recordset()
{
    tk_write_log(2, "pgs_dmp_recordset::dtor");
    if (m_finished) return;
    try {
        finish();
    } catch (const std::exception& e) {
        // The writer keeps the failure; the database's next write or close reports it.
        tk_write_log(3, "%s", e.what());
    } catch (...) {
        tk_write_log(3, "UNKNOWN ERROR");
    }
}

void pgs_dmp_recordset::finish()
{
    if (m_finished) return;
    m_finished = true;
    if (m_copy_open) {
        m_buffer += "\\.\n";
        m_copy_open = false;
    }
    if (m_stage_open && m_routed)
        m_buffer += "\\if :" + m_variable + "\r\n" + sequence_statement() + "\\else\r\nDROP TABLE " + stage_ident +
                    ";\r\n\\endif\r\n";
    else if (m_stage_open)
        m_buffer += close_stage();
    else
        m_buffer += sequence_statement();
    if (!m_buffer.empty()) {
        std::string pending;
        pending.swap(m_buffer);
        m_out->write(pending);
    }
    // What follows the rows (NOT NULL, indexes) belongs to a table the script creates.
    if (m_stage_open) m_database->reopen_table_block();
}

std::string pgs_dmp_recordset::sequence_statement() const
{
    if (!m_rows_written || m_serial_column < 0) return std::string();
    // The serial column continues after the highest value loaded, or where its sequence
    // already stood when that is further (a restart from the source's seed); the sequence
    // is the one the column owns. A column without a sequence is left alone.
    const std::string& col = m_column_idents[static_cast<std::size_t>(m_serial_column)];
    std::string column_text;
    pgs_append_utf8(column_text, pgs_unquote_name(tk_utf8_to_unicode(col)));
    std::string sequence = "pg_get_serial_sequence(";
    pgs_append_literal(sequence, std::string_view(m_table_ident));
    sequence += ", ";
    pgs_append_literal(sequence, std::string_view(column_text));
    sequence += ")";
    return pgs_sequence_after_rows(sequence, m_table_ident, col) + ";\r\n";
}

void pgs_dmp_recordset::stage_rows(pgs_existing_table rule, std::string variable, std::vector<std::size_t> key)
{
    m_staged = rule != pgs_existing_table::replace && m_database && !variable.empty();
    m_rule = rule;
    m_variable = std::move(variable);
    m_key = std::move(key);
    if (!m_staged) return;
    m_target_ident = stage_ident;
    m_order_ident = pgs_quote_identifier(std::string_view(unused_column_name()));
}

std::string pgs_dmp_recordset::unused_column_name() const
{
    // The stage numbers its rows in a column of its own, named unlike any of the table's.
    std::wstring order = L"#";
    while (std::find(m_plain_names.begin(), m_plain_names.end(), order) != m_plain_names.end()) order += L'#';
    return tk_unicode_to_utf8(order);
}

void pgs_dmp_recordset::route_rows(std::string variable, std::string into)
{
    m_routed = m_database && !variable.empty() && !into.empty();
    if (!m_routed) return;
    m_variable = std::move(variable);
    m_target_ident = ":" + into;
    m_order_ident = pgs_quote_identifier(std::string_view(unused_column_name()));
}

std::string pgs_dmp_recordset::open_stage() const
{
    // The columns take the types CREATE TABLE declares, which the rows were checked against,
    // so the rows load into the stage whatever the table that was there holds.
    // The stage of the table before was dropped after its rows.
    std::string text = std::string("CREATE TEMP TABLE ") + stage_table + " (" + m_order_ident +
                       " bigint GENERATED ALWAYS AS IDENTITY";
    for (std::size_t i = 0; i < m_column_idents.size(); ++i) {
        text += ", " + m_column_idents[i] + " ";
        text += i < m_column_types.size() && !m_column_types[i].empty() ? m_column_types[i] : std::string("text");
    }
    return text + ");\r\n";
}

std::string pgs_dmp_recordset::close_stage() const
{
    std::string columns;
    for (std::size_t i = 0; i < m_column_idents.size(); ++i) columns += (i ? ", " : "") + m_column_idents[i];
    const bool merging = m_rule != pgs_existing_table::keep;
    std::string text = "\\if :" + m_variable + "\r\n";
    // The table was made just now: every row goes in, in the order the source gave them.
    text += "INSERT INTO " + m_table_ident + "(" + columns + ") SELECT " + columns + " FROM " + stage_ident +
            " ORDER BY " + m_order_ident + ";\r\n";
    if (!merging) text += sequence_statement();
    if (merging) text += "\\else\r\n" + merge_block();
    text += "\\endif\r\n";
    if (merging) text += sequence_statement();
    return text + "DROP TABLE " + stage_ident + ";\r\n";
}

std::string pgs_dmp_recordset::merge_block() const
{
    std::vector<std::string> key;
    for (std::size_t k : m_key) key.push_back(m_column_idents[k]);
    const std::string conflict = pgs_conflict_clause(m_rule == pgs_existing_table::synchronize, key, m_column_idents);
    std::string columns, values;
    for (std::size_t i = 0; i < m_column_idents.size(); ++i) {
        columns += (i ? ", " : "") + m_column_idents[i];
        values += (i ? ", quindrel_row." : "quindrel_row.") + m_column_idents[i];
    }
    const std::wstring table = name;
    auto literal = [](const std::wstring& text) { return tk_unicode_to_utf8(pgs_quote_literal(std::wstring_view(text))); };
    const std::string insert = "INSERT INTO " + m_table_ident + "(" + columns + ") ";
    const std::string staged = std::string(" FROM ") + stage_ident + " ORDER BY " + m_order_ident;

    // A name held by a relation that is not a table (said where the table would be made):
    // no row goes there.
    const std::string not_a_table = "IF (SELECT relkind FROM pg_class WHERE oid = to_regclass(" +
                                    pgs_quote_literal(std::string_view(m_table_ident)) +
                                    ")) NOT IN ('r', 'p', 'f') THEN\r\nRETURN;\r\nEND IF;\r\n";
    if (key.empty()) {
        // The source gave no key (it has none, or indexes are left out): the rows merge on the
        // key the table there has, as a live run does, its primary key, else its first unique
        // key; only a table without one gets them appended.
        std::string all_sets, fields;
        for (std::size_t i = 0; i < m_column_idents.size(); ++i) {
            all_sets += (i ? ", " : "") + m_column_idents[i] + " = EXCLUDED." + m_column_idents[i];
            fields += (i ? ", ($1)." : "($1).") + m_column_idents[i];
        }
        const std::string regclass = pgs_quote_literal(std::string_view(m_table_ident)) + "::regclass";
        std::string body = std::string("\r\n#variable_conflict use_column\r\nDECLARE quindrel_row ") + stage_ident +
               "; quindrel_on text;\r\nBEGIN\r\n" + not_a_table +
               "SELECT string_agg(quote_ident(a.attname), ', ' ORDER BY k.n) INTO quindrel_on FROM (SELECT "
               "i.indkey FROM pg_index AS i WHERE i.indrelid = " + regclass +
               " AND i.indisunique AND i.indpred IS NULL AND i.indexprs IS NULL ORDER BY i.indisprimary DESC, "
               "i.indexrelid LIMIT 1) AS x CROSS JOIN LATERAL unnest(x.indkey::int2[]) WITH ORDINALITY AS k(attnum, "
               "n) JOIN pg_attribute AS a ON a.attrelid = " + regclass + " AND a.attnum = k.attnum;\r\n"
               "IF quindrel_on IS NULL THEN\r\nquindrel_on := '';\r\nRAISE WARNING '%', " +
               literal(L"Table '" + table +
                       L"': the table has no primary or unique key to merge on: its rows were appended.") +
               ";\r\nELSE\r\nquindrel_on := ' ON CONFLICT (' || quindrel_on || ') " +
               (m_rule == pgs_existing_table::synchronize ? "DO UPDATE SET " + all_sets : std::string("DO NOTHING")) +
               "';\r\nEND IF;\r\n";
        auto text = [](const std::string& sql) { return pgs_quote_literal(std::string_view(sql)); };
        body += "BEGIN\r\nEXECUTE " + text(insert + "SELECT " + columns + staged) + " || quindrel_on;\r\nRETURN;\r\n" +
                "EXCEPTION\r\nWHEN syntax_error_or_access_rule_violation THEN\r\nRAISE WARNING '%', " +
                literal(L"Table '" + table + L"': its rows were not merged: ") + " || SQLERRM;\r\nRETURN;\r\n" +
                "WHEN others THEN NULL;\r\nEND;\r\n";
        body += "FOR quindrel_row IN SELECT *" + staged + " LOOP\r\nBEGIN\r\nEXECUTE " +
                text(insert + "SELECT " + fields) + " || quindrel_on USING quindrel_row;\r\n" +
                "EXCEPTION WHEN others THEN\r\nRAISE WARNING '%', " + literal(L"Row ") + " || quindrel_row." +
                m_order_ident + " || " + literal(L" of table '" + table + L"' was refused: ") +
                " || SQLERRM;\r\nEND;\r\nEND LOOP;\r\nEND\r\n";
        return "DO " + tk_unicode_to_utf8(pgs_dollar_quote(tk_utf8_to_unicode(body))) + ";\r\n";
    }
    // Columns win over the block's variable wherever a name could be either.
    std::string body = "\r\n#variable_conflict use_column\r\nDECLARE quindrel_row record;\r\nBEGIN\r\n" + not_a_table;
    // All rows in one statement; when the server refuses any of them, one row at a time, so
    // only the refused ones stay out, each named. A table that cannot take the rows at all
    // (a column it lacks, no unique index on the key) is said once.
    body += "BEGIN\r\n" + insert + "SELECT " + columns + staged + conflict + ";\r\nRETURN;\r\n" +
            "EXCEPTION\r\nWHEN syntax_error_or_access_rule_violation THEN\r\nRAISE WARNING '%', " +
            literal(L"Table '" + table + L"': its rows were not merged: ") + " || SQLERRM;\r\nRETURN;\r\n" +
            "WHEN others THEN NULL;\r\nEND;\r\n";
    body += "FOR quindrel_row IN SELECT *" + staged + " LOOP\r\nBEGIN\r\n" + insert + "VALUES (" + values + ")" +
            conflict + ";\r\nEXCEPTION WHEN others THEN\r\nRAISE WARNING '%', " + literal(L"Row ") +
            " || quindrel_row." + m_order_ident + " || " + literal(L" of table '" + table + L"' was refused: ") +
            " || SQLERRM;\r\nEND;\r\nEND LOOP;\r\nEND\r\n";
    return "DO " + tk_unicode_to_utf8(pgs_dollar_quote(tk_utf8_to_unicode(body))) + ";\r\n";
}

void pgs_dmp_recordset::append_record(udb_record& record)
{
    const bool fast = pgs_engine::get_instance()->fast_insert && !m_rows_by_insert;
    tk_write_log(1, "pgs_dmp_recordset::append_record(schema size=%d, record size=%d",
                 static_cast<int>(schema.size()), static_cast<int>(record.size()));
    tk_write_log(1, "fast_insert=%d", fast ? 1 : 0);
    if (record.size() != schema.size()) throw udb_structure_exception();
    for (std::size_t i = 0; i < record.size(); ++i)
        if (!record.get(i)) throw udb_structure_exception();
    if (m_finished) throw tk_exception("The rows of this table have already been finished.", 1);

    if ((m_staged || m_routed) && !m_stage_open) {
        // The rows stand outside the table's conditional block: psql reads the lines of a COPY
        // in a branch it skips as SQL.
        m_database->end_table_block();
        if (m_routed)
            m_out->write("\\if :" + m_variable + "\r\n\\else\r\n" + open_stage() + "\\endif\r\n");
        else
            m_out->write(open_stage());
        m_stage_open = true;
    }
    if (fast) {
        copy_append(record);
    } else {
        // INSERT statements must not land inside an open COPY block.
        if (m_copy_open) end_copy_block();
        insert_append(record);
    }
    m_rows_written = true;
    ++record_count;
}

void pgs_dmp_recordset::end_copy_block()
{
    m_buffer += "\\.\n";
    m_copy_open = false;
    m_out->write(m_buffer);
    m_buffer.clear();
}

void pgs_dmp_recordset::copy_append(const udb_record& record)
{
    tk_write_log(1, "pgs_dmp_recordset::fast_append");
    if (!m_copy_open) {
        m_buffer += "COPY ";
        m_buffer += m_target_ident;
        m_buffer += '(';
        for (std::size_t i = 0; i < m_column_idents.size(); ++i) {
            if (i) m_buffer += ',';
            m_buffer += m_column_idents[i];
        }
        m_buffer += ") FROM stdin;\n";
        m_copy_open = true;
    } else if (m_buffer.size() > flush_size) {
        tk_write_log(2, "Fushing append_buffer into file");
        m_out->write(m_buffer);
        m_buffer.clear();
    }

    // The line is formed in the buffer first; a value that cannot be written fails the record
    // and takes its line back out before any of it reached the file. Large values are only
    // marked there and go to the file when the line is emitted.
    m_rows.set_encoder(m_out->encoder());
    m_rows.append_copy_line(m_buffer, record, m_copy_layout);
    if (!m_rows.large_values().empty()) emit_with_large_values(m_buffer, record, false);
}

void pgs_dmp_recordset::emit_with_large_values(std::string& text, const udb_record& record, bool sql)
{
    // Everything before a large value goes to the file first, then the value itself (binary
    // data as hexadecimal in chunks), so the value never enters the buffer. What follows the
    // last large value stays in the buffer.
    std::size_t done = 0;
    for (const auto& large : m_rows.large_values()) {
        m_out->write(std::string_view(text).substr(done, large.position - done));
        done = large.position;
        write_large_value(record[large.field], m_rows.columns()[large.column].value, sql);
    }
    text.erase(0, done);
}

void pgs_dmp_recordset::write_large_value(const ole_variant& value, const pgs_value_column& col, bool sql)
{
    if (!sql && value.is_binary() && col.kind == pgs_value_kind::bytea) {
        const std::vector<std::uint8_t>& bytes = value.get_byte_vector();
        m_scratch.clear();
        pgs_append_copy_bytea(m_scratch, nullptr, 0);  // the field's prefix
        for (std::size_t pos = 0; pos < bytes.size(); pos += hex_chunk_bytes) {
            const std::size_t n = std::min(hex_chunk_bytes, bytes.size() - pos);
            pgs_append_hex(m_scratch, bytes.data() + pos, n);
            m_out->write(m_scratch);
            m_scratch.clear();
        }
        m_out->write(m_scratch);
    } else {
        m_scratch.clear();
        if (sql)
            pgs_append_sql_value(m_scratch, value, col);
        else
            pgs_append_copy_value(m_scratch, value, col);
        m_out->write(m_scratch);
    }
    // A large value's text is not kept around between rows.
    std::string().swap(m_scratch);
}

void pgs_dmp_recordset::prepare_insert_columns(const udb_record& record)
{
    const bool cs = case_sens();
    pgs_fn_validator validator(record);
    pgs_record_layout layout;
    layout.field_names.reserve(record.size());
    layout.column_of_field.reserve(record.size());
    layout.field_of_column.assign(schema.size(), -1);
    std::string head = "INSERT INTO " + m_target_ident + "(";
    for (std::size_t i = 0; i < record.size(); ++i) {
        const std::wstring& own = record[i].get_name();
        std::wstring name = pgs_fold_name(own, cs);
        if (!validator.is_acceptable(name)) name = validator.get_safe_name(name);
        tk_write_wlog(1, L"Got safe-name for field#%d: '%s'", static_cast<int>(i), name.c_str());
        int pos = find_column(own);
        if (pos < 0) pos = find_column(name);
        if (pos < 0) {
            tk_write_wlog(1, L"Field %s not found in the schema", own.c_str());
            throw udb_structure_exception();
        }
        if (i) head += ", ";
        head += m_column_idents[static_cast<std::size_t>(pos)];
        if (name != own) {
            tk_write_wlog(2, L"Store generated field's safe-name '%s'", name.c_str());
            validator.add_existing_name(name);
        }
        layout.field_names.push_back(own);
        layout.column_of_field.push_back(pos);
        layout.field_of_column[static_cast<std::size_t>(pos)] = static_cast<int>(i);
    }
    head += ") VALUES ";
    m_insert_layout = std::move(layout);
    m_insert_head = std::move(head);
}

int pgs_dmp_recordset::find_column(const std::wstring& name) const
{
    for (std::size_t j = 0; j < m_source_names.size(); ++j)
        if (tk_equal_no_case(name, m_source_names[j])) return static_cast<int>(j);
    for (std::size_t j = 0; j < m_plain_names.size(); ++j)
        if (tk_equal_no_case(name, m_plain_names[j])) return static_cast<int>(j);
    return -1;
}

void pgs_dmp_recordset::insert_append(const udb_record& record)
{
    tk_write_log(1, "pgs_dmp_recordset::slow_append");
    // The column list is made once per record layout, not per row.
    if (!m_insert_layout.matches(record)) prepare_insert_columns(record);

    m_statement.clear();
    m_statement += m_insert_head;
    m_rows.set_encoder(m_out->encoder());
    m_rows.append_sql_values(m_statement, record, m_insert_layout);
    m_statement += ";\r\n";
    if (tk_log_wants(2)) tk_write_log(2, "Got SQL query: %s", m_statement.c_str());
    if (!m_rows.large_values().empty()) emit_with_large_values(m_statement, record, true);
    m_out->write(m_statement);
}

#include "pg_target/pgs_dmp_recordset.h"

#include <algorithm>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_script_writer.h"
#include "pg_target/pgs_validators.h"

namespace {

const char* const structure_mismatch =
    "The structure of data source does not conform to the destination table.";

// Bytes of binary data turned into hexadecimal per write of a large value.
constexpr std::size_t hex_chunk_bytes = 131072;

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
                                     std::vector<std::wstring> source_names)
    : udb_recordset(database, table, 0), m_out(&out), m_source_names(std::move(source_names))
{
    tk_write_wlog(1, L"pgs_dmp_recordset::pgs_dmp_recordset(%s)", table.c_str());
    const bool cs = case_sens();
    // A deep copy: the recordset owns its column descriptors.
    schema.seed = columns.seed;
    schema.increment = columns.increment;
    schema.reserve(columns.size());
    m_column_idents.reserve(columns.size());
    m_value_columns.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const t_ftd& c = columns[i];
        schema.add_column(c);
        m_column_idents.push_back(column_ident(c.name, cs));
        m_plain_names.push_back(pgs_unquote_name(c.name));
        m_column_labels.push_back("Column \"" + tk_unicode_to_utf8(m_plain_names.back()) + "\"");
        if (m_source_names.size() <= i) m_source_names.push_back(m_plain_names.back());
        m_value_columns.push_back(pgs_make_value_column(c));
        if (c.auto_increment) m_serial_column = static_cast<int>(i);
    }
    pgs_append_utf8(m_table_ident, pgs_engine::get_instance()->make_name3(table, true));
    m_relation = last_name(m_table_ident);
}

void pgs_dmp_recordset::refuse_null(std::size_t column) const
{
    throw pgs_exception("null value in column \"" + tk_unicode_to_utf8(m_plain_names[column]) + "\" of relation \"" +
                            m_relation + "\" violates not-null constraint",
                        "23502");
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
    if (m_rows_written && m_serial_column >= 0) {
        // The serial column continues after the highest value loaded, or where its sequence
        // already stood when that is further (a restart from the source's seed); the sequence
        // is the one the column owns. A column without a sequence is left alone.
        const std::string& col = m_column_idents[static_cast<std::size_t>(m_serial_column)];
        std::string column_text;
        pgs_append_utf8(column_text, pgs_unquote_name(tk_utf8_to_unicode(col)));
        m_buffer += "SELECT setval(s.seq, GREATEST(m.top, 1), m.top >= 1) FROM (SELECT pg_get_serial_sequence(";
        pgs_append_literal(m_buffer, std::string_view(m_table_ident));
        m_buffer += ", ";
        pgs_append_literal(m_buffer, std::string_view(column_text));
        m_buffer += ") AS seq) AS s, LATERAL (SELECT GREATEST(MAX(" + col + "), nextval(s.seq) - 1) AS top FROM " +
                    m_table_ident + ") AS m WHERE s.seq IS NOT NULL;\r\n";
    }
    if (!m_buffer.empty()) {
        std::string pending;
        pending.swap(m_buffer);
        m_out->write(pending);
    }
}

void pgs_dmp_recordset::append_record(udb_record& record)
{
    const bool fast = pgs_engine::get_instance()->fast_insert && !m_rows_by_insert;
    tk_write_log(1, "pgs_dmp_recordset::append_record(schema size=%d, record size=%d",
                 static_cast<int>(schema.size()), static_cast<int>(record.size()));
    tk_write_log(1, "fast_insert=%d", fast ? 1 : 0);
    if (record.size() != schema.size()) throw tk_exception(structure_mismatch, 0);
    for (std::size_t i = 0; i < record.size(); ++i)
        if (!record.get(i)) throw tk_exception(structure_mismatch, 0);
    if (m_finished) throw tk_exception("The rows of this table have already been finished.", 1);

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
        m_buffer += m_table_ident;
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
    // before any of it reached the file. Large values are only marked here and go to the file
    // when the line is emitted.
    const std::size_t line_start = m_buffer.size();
    m_large.clear();
    pgs_encoder* encoder = m_out->encoder();
    try {
        for (std::size_t i = 0; i < record.size(); ++i) {
            const udb_field& f = record[i];
            const pgs_value_column& col = m_value_columns[i];
            if (i) m_buffer += '\t';
            pgs_check_zero_char(f, col, m_column_labels[i]);
            if (!f.is_empty() && f.get_data_size() > large_value_size) {
                m_large.push_back({m_buffer.size(), i});
                continue;
            }
            if (f.is_empty() && col.vt == VT_BSTR && schema[i].b_not_null) {
                // A NOT NULL text column takes the empty text for a missing value.
                continue;
            }
            const std::size_t at = m_buffer.size();
            pgs_append_copy_value(m_buffer, f, col);
            if (schema[i].b_not_null && std::string_view(m_buffer).substr(at) == "\\N") refuse_null(i);
            if (encoder) encoder->check(std::string_view(m_buffer).substr(at), m_column_labels[i]);
        }
        if (encoder && !m_large.empty()) check_large_values(record, false);
    } catch (...) {
        m_buffer.resize(line_start);
        throw;
    }
    m_buffer += '\n';
    if (!m_large.empty()) emit_with_large_values(m_buffer, record, false);
}

void pgs_dmp_recordset::emit_with_large_values(std::string& text, const udb_record& record, bool sql)
{
    // Everything before a large value goes to the file first, then the value itself (binary
    // data as hexadecimal in chunks), so the value never enters the buffer. What follows the
    // last large value stays in the buffer.
    std::size_t done = 0;
    for (const auto& [pos, field] : m_large) {
        m_out->write(std::string_view(text).substr(done, pos - done));
        done = pos;
        const udb_field& f = record[field];
        const pgs_value_column& col = m_value_columns[sql ? static_cast<std::size_t>(m_insert_columns[field]) : field];
        write_large_value(f, col, sql);
    }
    text.erase(0, done);
}

void pgs_dmp_recordset::check_large_values(const udb_record& record, bool sql)
{
    // Large values go to the file in pieces after the start of their line: they are checked
    // before anything of the record is written.
    pgs_encoder* encoder = m_out->encoder();
    for (const auto& [pos, field] : m_large) {
        const std::size_t column = sql ? static_cast<std::size_t>(m_insert_columns[field]) : field;
        const pgs_value_column& col = m_value_columns[column];
        const udb_field& f = record[field];
        if (f.is_binary() && col.kind == pgs_value_kind::bytea) continue;  // hexadecimal digits
        m_scratch.clear();
        if (sql)
            pgs_append_sql_value(m_scratch, f, col);
        else
            pgs_append_copy_value(m_scratch, f, col);
        try {
            encoder->check(m_scratch, m_column_labels[column]);
        } catch (...) {
            std::string().swap(m_scratch);
            throw;
        }
    }
    std::string().swap(m_scratch);
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
    std::vector<std::wstring> names;
    std::vector<int> columns;
    names.reserve(record.size());
    columns.reserve(record.size());
    std::string head = "INSERT INTO " + m_table_ident + "(";
    for (std::size_t i = 0; i < record.size(); ++i) {
        const std::wstring& own = record[i].get_name();
        std::wstring name = pgs_fold_name(own, cs);
        if (!validator.is_acceptable(name)) name = validator.get_safe_name(name);
        tk_write_wlog(1, L"Got safe-name for field#%d: '%s'", static_cast<int>(i), name.c_str());
        int pos = find_column(own);
        if (pos < 0) pos = find_column(name);
        if (pos < 0) {
            tk_write_wlog(1, L"Field %s not found in the schema", own.c_str());
            throw tk_exception(structure_mismatch, 0);
        }
        if (i) head += ", ";
        head += m_column_idents[static_cast<std::size_t>(pos)];
        if (name != own) {
            tk_write_wlog(2, L"Store generated field's safe-name '%s'", name.c_str());
            validator.add_existing_name(name);
        }
        names.push_back(own);
        columns.push_back(pos);
    }
    head += ") VALUES (";
    m_insert_names = std::move(names);
    m_insert_columns = std::move(columns);
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
    bool same = m_insert_names.size() == record.size();
    for (std::size_t i = 0; same && i < record.size(); ++i)
        same = m_insert_names[i] == record[i].get_name();
    if (!same) prepare_insert_columns(record);

    m_statement.clear();
    m_statement += m_insert_head;
    m_large.clear();
    pgs_encoder* encoder = m_out->encoder();
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& f = record[i];
        const std::size_t column = static_cast<std::size_t>(m_insert_columns[i]);
        if (i) m_statement += ", ";
        pgs_check_zero_char(f, m_value_columns[column], m_column_labels[column]);
        if (!f.is_empty() && f.get_data_size() > large_value_size) {
            m_large.push_back({m_statement.size(), i});
            continue;
        }
        const std::size_t at = m_statement.size();
        pgs_append_sql_value(m_statement, f, m_value_columns[column]);
        if (schema[column].b_not_null && std::string_view(m_statement).substr(at) == "NULL") refuse_null(column);
        if (encoder) encoder->check(std::string_view(m_statement).substr(at), m_column_labels[column]);
    }
    if (encoder && !m_large.empty()) check_large_values(record, true);
    m_statement += ");\r\n";
    if (tk_log_wants(2)) tk_write_log(2, "Got SQL query: %s", m_statement.c_str());
    if (!m_large.empty()) emit_with_large_values(m_statement, record, true);
    m_out->write(m_statement);
}

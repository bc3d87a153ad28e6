#include "pg_target/pgs_recordset.h"

#include <algorithm>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_batch_sender.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_key_statements.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_row_builder.h"
#include "pg_target/pgs_row_cursor.h"
#include "pg_target/pgs_table_builder.h"
#include "pg_target/pgs_table_catalog.h"
#include "pg_target/pgs_types.h"

// The pieces live in units of their own: the catalog reading
// (pgs_table_catalog), the row text and its checks (pgs_row_builder), the
// batches on their way to the server (pgs_batch_sender, pgs_row_batch,
// pgs_writer_pool), the reading cursor (pgs_row_cursor) and the statements by
// key (pgs_key_statements). This file ties them to the recordset.

namespace {

// A COPY batch is handed on early when its rows take this much text: a few
// batches in flight keep memory small, and each is worth its transaction.
constexpr std::size_t max_batch_bytes = 512 * 1024;

pgs_engine& engine() { return *tk_singleton<pgs_engine>::get_instance(); }

}  // namespace

// ---------------------------------------------------------------------------

struct pgs_recordset::impl {
    explicit impl(pgs_recordset& owner_) : rs(owner_), sender(owner_.owner())
    {
        // Storing on the main connection ends the reading there first.
        sender.before_store = [this] { cursor.close(); };
        sender.on_key_unusable = [this] {
            tk_write_wlog(3, L"Rows of '%s' cannot replace rows by key: no usable unique index", rs.name.c_str());
            rs.build_conflict_clause();
        };
    }

    pgs_recordset& rs;

    // The catalog's type name of each column (data_type), as init_schema read it.
    std::vector<std::string> orig_types;

    // Prepared once per table, before the first row.
    bool planned = false;
    pgs_row_builder rows;
    std::string table_sql;  // "schema"."table" as UTF-8
    pgs_record_layout copy_layout;
    pgs_record_layout insert_layout;
    std::string insert_prefix;  // INSERT INTO t("a", "b") VALUES
    std::string insert_suffix;  // " on conflict ..." for the key-conflict form
    bool suffix_ready = false;  // insert_suffix fits the layout and the form
    // The fields of the key the conflict clause names, when it names one: a row
    // with NULL in any of them matches no row there (NULL equals nothing).
    std::vector<std::size_t> conflict_key_fields;
    std::unique_ptr<pgs_encoder> encoder;  // the chosen client encoding; null for UTF8

    pgs_row_cursor cursor;    // reading
    pgs_batch_sender sender;  // writing: the open batch and the refused rows

    void plan()
    {
        if (planned) return;
        std::vector<pgs_column_plan> columns;
        columns.reserve(rs.schema.size());
        for (std::size_t i = 0; i < rs.schema.size(); ++i) {
            const t_ftd& column = rs.schema[i];
            columns.push_back(pgs_plan_catalog_column(
                column, i < orig_types.size() ? orig_types[i] : tk_unicode_to_utf8(pgs_get_native_type1(column, true))));
        }
        rows = pgs_row_builder(std::move(columns));
        rows.set_encoder(encoder.get());
        table_sql = tk_unicode_to_utf8(engine().make_name3(rs.name, true));
        planned = true;
    }

    // Writer threads may store this table's batches when the order in which
    // batches land cannot matter: the table has no key a row could collide
    // with (a table the run creates gets its keys after its rows) and rows
    // only ever add.
    bool may_use_writers() const
    {
        return rs.indexes.empty() && rs.m_key_conflict == pgs_key_conflict::skip && rs.sql_text.empty();
    }

    // Reports the refused rows not reported yet; a connection lost under the
    // rows ends the table (the rows not stored counted out, once).
    void throw_rejected()
    {
        if (!sender.lost.empty()) {
            for (const auto& r : sender.rejected)
                tk_write_log(3, "Record #%llu rejected: %s", (unsigned long long)r.record_number, r.message.c_str());
            std::uint64_t gone = sender.rows_lost;
            for (const auto& r : sender.rejected) gone += r.rows;
            rs.record_count -= std::min<std::uint64_t>(rs.record_count, gone);
            sender.rejected.clear();
            sender.rows_lost = 0;
            throw pgs_connection_lost_exception(sender.lost);
        }
        if (sender.rejected.empty()) return;
        std::vector<pgs_rejected_row> refused;
        refused.swap(sender.rejected);
        std::uint64_t gone = 0;
        for (const auto& r : refused) gone += r.rows;
        rs.record_count -= std::min<std::uint64_t>(rs.record_count, gone);
        throw pgs_rows_rejected_exception(std::move(refused));
    }
};

// ---------------------------------------------------------------------------
// Construction and catalog reading

pgs_recordset::pgs_recordset(pgs_database* database_, std::wstring name_, std::wstring sql_text_,
                             std::vector<udb_relationship>* foreign_keys)
    : udb_recordset(database_, std::move(name_), std::move(sql_text_), 1),
      m_foreign_keys(foreign_keys),
      m_impl(std::make_unique<impl>(*this))
{
    tk_write_wlog(2, L"pgs_recordset::pgs_recordset1(%s)", name.c_str());
    tk_write_wlog(2, L"sql=%s", sql_text.c_str());
    auto [s, t] = owner().split_name(name);
    m_schema_name = s;
    m_table_name = t;
    tk_write_wlog(2, L"tname=(%s,%s)", m_schema_name.c_str(), m_table_name.c_str());
    init_schema2();
    if (schema.empty()) tk_write_log(2, "Empty table");
    else tk_write_log(2, "Got %llu records", (unsigned long long)record_count);
}

pgs_recordset::pgs_recordset(pgs_database* database_, std::wstring name_,
                             std::vector<udb_relationship>* foreign_keys, std::int32_t mode)
    : udb_recordset(database_, std::move(name_), 1),
      m_foreign_keys(foreign_keys),
      m_impl(std::make_unique<impl>(*this))
{
    tk_write_wlog(2, L"pgs_recordset::pgs_recordset2(%s)", name.c_str());
    auto [s, t] = owner().split_name(name);
    m_schema_name = s;
    m_table_name = t;
    tk_write_wlog(2, L"tname=(%s,%s)", m_schema_name.c_str(), m_table_name.c_str());
    init_schema();
    if ((mode & 0x60) != 0x60) init_indexes(owner());
    record_count = get_rec_count();
    tk_write_log(2, "Got %llu records", (unsigned long long)record_count);
}

pgs_database& pgs_recordset::owner() const
{
    auto* db = dynamic_cast<pgs_database*>(database);
    if (!db) throw tk_mail_assertion("pgs_recs", 1497);
    return *db;
}

pgs_connection& pgs_recordset::conn() const { return owner().connection(); }

void pgs_recordset::init_schema()
{
    tk_write_log(2, "pgs_recordset::init_schema");
    pgs_catalog_columns found = pgs_read_table_columns(conn(), m_schema_name, m_table_name, schema);
    m_impl->orig_types = std::move(found.data_types);
    m_auto_increment = std::move(found.auto_increment);
    m_auto_increment_default = std::move(found.auto_increment_default);
}

void pgs_recordset::init_schema2()
{
    tk_write_log(2, "pgs_recordset::init_schema2");
    if (sql_text.empty()) throw tk_mail_assertion("pgs_recs", 729);
    record_count = pgs_read_query_columns(conn(), sql_text, schema);
}

std::uint64_t pgs_recordset::get_rec_count()
{
    tk_write_log(1, "pgs_recordset::get_rec_count");
    return pgs_count_rows(conn(), tk_unicode_to_utf8(engine().make_name3(name, true)), name);
}

void pgs_recordset::init_indexes(pgs_database& db)
{
    tk_write_log(2, "pgs_recordset::init_indexes");
    m_pk_columns.clear();
    pgs_catalog_keys found = pgs_read_table_keys(conn(), m_schema_name, m_table_name, !(db.get_mode() & 0x20));
    for (auto& f : found.indexes) {
        if (f.primary) {
            tk_write_wlog(2, L"got PK name: %s", f.name.c_str());
            // The key's columns in the table's column order.
            m_pk_columns = f.columns;
            std::stable_sort(m_pk_columns.begin(), m_pk_columns.end(),
                             [&](const std::wstring& a, const std::wstring& b) {
                                 return schema.get_field_idx(a) < schema.get_field_idx(b);
                             });
            tk_write_log(2, "Adding primary key");
            add_index(udb_index(f.name, true, true, m_pk_columns));
        } else {
            tk_write_wlog(2, L"Adding index '%s', unique=%d", f.name.c_str(), int(f.unique));
            add_index(udb_index(f.name, f.unique, false, f.columns));
        }
    }
    const std::wstring table = m_schema_name + L"." + m_table_name;
    for (auto& k : found.foreign_keys) {
        tk_write_wlog(2, L"Processing foreign key: '%s'", k.name.c_str());
        if (!db.is_table_exist(k.ref_table)) {
            tk_write_wlog(2, L"PK table '%s' does not exist", k.ref_table.c_str());
            continue;
        }
        if (m_foreign_keys)
            m_foreign_keys->emplace_back(k.name, std::wstring(), table, k.ref_table, std::move(k.columns),
                                         std::move(k.ref_columns), k.rule);
    }
}

// ---------------------------------------------------------------------------
// Reading rows

void pgs_recordset::reset()
{
    tk_write_log(2, "pgs_recordset::reset");
    std::string sql;
    if (!sql_text.empty()) {
        sql = tk_unicode_to_utf8(sql_text);
    } else {
        const std::string select = pgs_select_list(schema, m_impl->orig_types);
        tk_write_log(1, "res=%s", select.c_str());
        sql = "SELECT " + select + " FROM " + tk_unicode_to_utf8(engine().make_name3(name, true));
        if (!m_pk_columns.empty()) {
            tk_write_log(2, "PK is not empty, generate 'ORDER BY' clause");
            sql += " ORDER BY ";
            for (std::size_t i = 0; i < m_pk_columns.size(); ++i) {
                if (i) sql += ',';
                pgs_append_identifier(sql, std::wstring_view(m_pk_columns[i]));
            }
        }
    }
    tk_write_log(2, "SQL=%s", sql.c_str());
    m_impl->sender.commit_keep_errors();
    m_impl->cursor.open(conn(), sql);
    m_eof = m_impl->cursor.at_end();
    tk_write_log(2, "pgs_recordset::reset - END");
}

void pgs_recordset::next()
{
    tk_write_log(1, "pgs_recordset::next");
    if (m_eof || !m_impl->cursor.is_open()) return;
    m_impl->cursor.next();
    m_eof = m_impl->cursor.at_end();
}

bool pgs_recordset::is_eof()
{
    tk_write_log(1, "pgs_recordset::is_eof(%d)", int(m_eof));
    return m_eof;
}

udb_record* pgs_recordset::get_item()
{
    tk_write_log(1, "pgs_recordset::get_item");
    if (m_eof || !m_impl->cursor.is_open()) return nullptr;
    // One record per recordset, its fields given new values for each row.
    if (!m_current || m_current->size() != schema.size()) {
        m_current = std::make_unique<udb_record>();
        m_current->reserve(schema.size());
        for (std::size_t i = 0; i < schema.size(); ++i) {
            const t_ftd& col = schema[i];
            m_current->emplace_back(col.name, col.size, ole_variant(), col.b_not_null, col.auto_increment);
        }
    }
    m_impl->cursor.fill(*m_current, schema);
    return m_current.get();
}

// ---------------------------------------------------------------------------
// Writing rows

void pgs_recordset::append_record(udb_record& record)
{
    tk_write_log(1, "pgs_recordset::append_record");
    const std::uint64_t record_number = ++m_append_calls;
    impl& s = *m_impl;
    // However large, a row stays in the COPY stream: its batch goes to the
    // server in pieces, so it is not held again by the client library.
    if (!engine().fast_insert || m_rows_by_insert)
        slow_append(record, record_number);
    else
        fast_append(record, record_number);
    ++record_count;
    // A batch that held a large row does not keep its room for the small rows after it.
    if (s.sender.pending.empty() && s.sender.pending.text.capacity() > 2 * max_insert_batch_bytes)
        std::string().swap(s.sender.pending.text);
    s.sender.collect();
    s.throw_rejected();
}

void pgs_recordset::flush_rows()
{
    m_impl->sender.commit();
    m_impl->throw_rejected();
}

void pgs_recordset::fast_append(udb_record& record, std::uint64_t record_number)
{
    impl& s = *m_impl;
    s.plan();
    if (!s.copy_layout.matches(record)) s.copy_layout = pgs_match_fields(record, schema);
    const auto& field_of_column = s.copy_layout.field_of_column;
    for (std::size_t c = 0; c < field_of_column.size(); ++c) {
        if (field_of_column[c] < 0) {
            tk_write_wlog(2, L"Field '%s' is not found in the record", schema[c].name.c_str());
            throw udb_structure_exception();
        }
    }

    pgs_row_batch& b = s.sender.pending;
    // INSERT rows written before this one are stored first.
    if (b.inserts && !b.empty()) s.sender.commit();
    if (b.empty()) {
        b.inserts = false;
        b.table_sql = s.table_sql;
        // The whole batch's room at once, not grown (and copied) by doubling row after row.
        b.text.reserve(max_batch_bytes + max_batch_bytes / 8);
    }
    // Straight into the batch's buffer; a value that does not fit takes its
    // line back out.
    b.start_row();
    s.rows.append_copy_line(b, record, s.copy_layout);
    b.end_row(record_number);
    ++m_copy_count;
    s.sender.row_added();
    if (b.rows() >= std::size_t(copy_batch_rows) || b.bytes() >= max_batch_bytes) {
        tk_write_log(2, "Right before commit");
        s.sender.hand_on(s.may_use_writers());
    }
}

void pgs_recordset::slow_append(udb_record& record, std::uint64_t record_number)
{
    tk_write_log(1, "pgs_recordset::slow_append");
    impl& s = *m_impl;
    s.plan();
    // Fewer fields than columns is the data's fault, not the program's: the
    // item fails as it does for COPY, instead of ending the process.
    if (record.size() < schema.size()) throw udb_structure_exception();
    if (!s.insert_layout.matches(record)) {
        s.insert_layout = pgs_match_fields(record, schema);
        s.insert_prefix = "INSERT INTO " + s.table_sql + "(";
        bool first = true;
        for (std::size_t i = 0; i < record.size(); ++i) {
            const int c = s.insert_layout.column_of_field[i];
            if (c < 0) continue;
            if (!first) s.insert_prefix += ", ";
            first = false;
            pgs_append_identifier(s.insert_prefix, std::wstring_view(schema[std::size_t(c)].name));
        }
        s.insert_prefix += ") VALUES ";
        s.suffix_ready = false;
    }
    if (!s.suffix_ready) build_conflict_clause();
    for (std::size_t i = 0; i < record.size(); ++i) {
        if (s.insert_layout.column_of_field[i] < 0) {
            tk_write_wlog(2, L"Field %s not found in the schema", s.insert_layout.field_names[i].c_str());
            throw udb_structure_exception();
        }
    }
    pgs_row_batch& b = s.sender.pending;
    // Pending COPY rows, or INSERT rows written for another statement form,
    // are stored first.
    if (!b.empty() && (!b.inserts || b.prefix != s.insert_prefix || b.suffix != s.insert_suffix)) s.sender.commit();
    if (b.empty()) {
        b.inserts = true;
        b.prefix = s.insert_prefix;
        b.suffix = s.insert_suffix;
        b.has_fallback = !s.insert_suffix.empty() && !s.sender.key_unusable;
        b.fallback_suffix.clear();
        b.fell_back = false;
    }
    // Straight into the batch's buffer; a value that does not fit takes its
    // value list back out.
    b.start_row();
    s.rows.append_sql_values(b, record, s.insert_layout);
    for (std::size_t f : s.conflict_key_fields)
        if (record[f].is_empty()) {
            ++m_rows_with_null_key;
            s.sender.null_key_rows.push_back(record_number);
            break;
        }
    b.end_row(record_number);
    s.sender.row_added();
    if (b.rows() >= std::size_t(insert_batch_rows) || b.text.size() >= max_insert_batch_bytes) {
        tk_write_log(2, "Right before commit");
        s.sender.hand_on(s.may_use_writers());
    }
}

std::uint64_t pgs_recordset::get_rows_with_null_key() const noexcept
{
    const std::uint64_t not_stored = m_impl->sender.null_key_rows_not_stored;
    return m_rows_with_null_key > not_stored ? m_rows_with_null_key - not_stored : 0;
}

void pgs_recordset::set_key_conflict(pgs_key_conflict form)
{
    m_key_conflict = form;
    m_impl->suffix_ready = false;
}

void pgs_recordset::set_client_encoding(const std::wstring& pg_name)
{
    auto encoder = std::make_unique<pgs_encoder>(pg_name);
    if (encoder->is_utf8())
        m_impl->encoder.reset();
    else
        m_impl->encoder = std::move(encoder);
    m_impl->rows.set_encoder(m_impl->encoder.get());
}

void pgs_recordset::build_conflict_clause()
{
    impl& s = *m_impl;
    s.suffix_ready = true;
    s.insert_suffix.clear();
    s.conflict_key_fields.clear();
    // Without a key the server can match, a row collides with nothing it could keep or
    // replace: a plain INSERT, whose unique violations are refusals like any other.
    if (s.sender.key_unusable) return;
    if (key_pos < 0 || std::size_t(key_pos) >= indexes.size()) {
        if (m_key_conflict == pgs_key_conflict::replace)
            tk_write_wlog(3, L"ERROR: Cannot update '%s', there's no primary/unique key", name.c_str());
        return;
    }
    const std::vector<std::wstring>& key = indexes[std::size_t(key_pos)].fields;
    // The key is named: a row that collides with another unique index of the table is
    // refused and reported, never passed over as if its key existed.
    s.insert_suffix = m_key_conflict == pgs_key_conflict::skip
                          ? pgs_conflict_skip_clause(key)
                          : pgs_conflict_update_clause(key, schema, s.insert_layout.column_of_field);
    for (std::size_t f = 0; f < s.insert_layout.column_of_field.size(); ++f) {
        const int c = s.insert_layout.column_of_field[f];
        if (c < 0) continue;
        const std::wstring& column = schema[std::size_t(c)].name;
        if (std::any_of(key.begin(), key.end(), [&](const std::wstring& k) { return k == column; }))
            s.conflict_key_fields.push_back(f);
    }
}

void pgs_recordset::reset_sequence()
{
    tk_write_log(2, "Setting proper last auto-increment value");
    // The sequence is the one the column really draws from: the server knows
    // it for serial and identity columns; a default that names another
    // sequence names it in its nextval('...') text.
    std::string sequence_of_default;
    const std::string def = tk_unicode_to_utf8(m_auto_increment_default);
    auto b = def.find("nextval('");
    if (b != std::string::npos) {
        b += 9;
        auto e = def.find("'::regclass", b);
        if (e == std::string::npos) e = def.find('\'', b);
        if (e != std::string::npos) sequence_of_default = def.substr(b, e - b);
        tk_string::replace_all(sequence_of_default, "''", "'");
    }
    std::string table;
    pgs_append_qualified_name(table, tk_unicode_to_utf8(m_schema_name), tk_unicode_to_utf8(m_table_name));
    std::string column;
    pgs_append_identifier(column, std::wstring_view(m_auto_increment));
    std::string sequence = "COALESCE(pg_get_serial_sequence(";
    pgs_append_literal(sequence, table);
    sequence += ", ";
    pgs_append_literal(sequence, std::wstring_view(m_auto_increment));
    sequence += "), NULLIF(";
    pgs_append_literal(sequence, sequence_of_default);
    sequence += ", ''))";
    const std::string sql = pgs_sequence_after_rows(sequence, table, column);
    tk_write_log(2, "query=%s", sql.c_str());
    pgs_connection& c = conn();
    c.make_room();
    pqxx::work tx(c.get(), "run_query");
    tx.exec(sql);
    tx.commit();
}

pgs_recordset::~pgs_recordset()
{
    tk_write_log(2, "pgs_recordset::~pgs_recordset");
    m_impl->cursor.close();
    m_impl->sender.abandon();
    tk_write_log(1, "pgs_recordset::~pgs_recordset - END");
}

void pgs_recordset::set_sequence_after_rows()
{
    if (!database || (database->get_mode() & 0x01) || m_auto_increment.empty() || !sql_text.empty()) return;
    m_impl->sender.commit();
    try {
        reset_sequence();
    } catch (const pqxx::pqxx_exception&) {
        throw pgs_exception::from_current("Cannot set the sequence of column '" +
                                          tk_unicode_to_utf8(m_auto_increment) + "': ");
    }
}

// ---------------------------------------------------------------------------
// Updates and deletes by key

void pgs_recordset::update1(udb_record& record)
{
    tk_write_log(1, "pgs_recordset::update1(n_u_index=%d)", int(key_pos));
    if (key_pos < 0 || std::size_t(key_pos) >= indexes.size()) {
        tk_write_wlog(3, L"ERROR: Cannot update '%s', there's no primary/unique key", name.c_str());
        return;
    }
    const pgs_update_parts parts =
        pgs_update_by_record(record, schema, indexes[std::size_t(key_pos)].fields, false);
    const std::wstring sql =
        L"UPDATE " + engine().make_name3(name, true) + L" SET " + parts.sets + L" WHERE " + parts.where;
    tk_write_wlog(2, L"UPDATE QUERY: %s", sql.c_str());
    if (parts.where.empty()) {
        tk_write_log(2, "Missing primary/unique key");
        return;
    }
    try {
        owner().query(sql);
    } catch (const std::exception& e) {
        tk_write_log(3, "ERROR on UPDATE1: %s", e.what());
    } catch (...) {
    }
}

void pgs_recordset::update2(udb_record& record, const std::wstring& key_text)
{
    tk_write_wlog(2, L"pgs_recordset::update2(key=%s)", key_text.c_str());
    if (key_text.empty()) {
        tk_write_log(2, "Missing key for update");
        return;
    }
    const std::wstring where = get_filter_subquery(key_text);
    if (key_pos < 0 || std::size_t(key_pos) >= indexes.size()) {
        tk_write_wlog(3, L"ERROR: table '%s' has no primary/unique key, update is not possible", name.c_str());
        return;
    }
    pgs_engine& eng = engine();
    const std::wstring sets =
        pgs_update_sets(record, schema, indexes[std::size_t(key_pos)].fields, !eng.is_case_sens);
    const std::wstring sql = L"UPDATE " + eng.make_name3(name, true) + L" SET " + sets + L" WHERE " + where;
    tk_write_wlog(2, L"UPDATE QUERY: %s", sql.c_str());
    try {
        owner().query(sql);
    } catch (const std::exception& e) {
        tk_write_log(3, "ERROR on UPDATE2: %s", e.what());
    } catch (...) {
    }
}

namespace {

void run_delete(pgs_database& db, const std::wstring& sql)
{
    try {
        db.query(sql);
    } catch (const std::exception& e) {
        tk_write_log(2, "ERROR on DELETE: %s", e.what());
        throw pgs_exception("Cannot delete key. Drop synchronization failed");
    } catch (...) {
        tk_write_log(3, "Unknown exception");
    }
}

}  // namespace

void pgs_recordset::delete_key(const std::wstring& key_text)
{
    tk_write_wlog(2, L"pgs_recordset::delete_key(%s)", key_text.c_str());
    const std::wstring sql = L"delete from " + engine().make_name3(name, true) + L" where " +
                             get_filter_subquery(key_text);
    run_delete(owner(), sql);
}

void pgs_recordset::delete_key(udb_record& record)
{
    tk_write_log(2, "pgs_recordset::delete_key");
    pgs_engine& eng = engine();
    const std::wstring where = pgs_delete_condition(record, schema, !eng.is_case_sens);
    run_delete(owner(), L"DELETE FROM " + eng.make_name3(name, true) + L" WHERE " + where);
}

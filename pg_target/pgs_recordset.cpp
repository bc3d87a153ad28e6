#include "pg_target/pgs_recordset.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_catalog.h"
#include "pg_target/pgs_connection.h"
#include "pg_target/pgs_database.h"
#include "pg_target/pgs_encoding.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_row_batch.h"
#include "pg_target/pgs_types.h"
#include "pg_target/pgs_validators.h"
#include "pg_target/pgs_value_text.h"
#include "pg_target/pgs_writer_pool.h"


namespace {

// A batch is handed on early when its rows take this much memory, so a
// batch of big rows cannot hold a gigabyte for its replay.
constexpr std::size_t max_batch_bytes = 32 * 1024 * 1024;

pgs_engine& engine() { return *tk_singleton<pgs_engine>::get_instance(); }

std::wstring field_text(const pqxx::field& f)
{
    return f.is_null() ? std::wstring() : tk_utf8_to_unicode(f.c_str());
}
const char* field_c_str(const pqxx::field& f) { return f.is_null() ? "" : f.c_str(); }
int catalog_int(const pqxx::field& f) { return pgs_catalog_int32(field_c_str(f)); }

// What a destination column takes, prepared once per table.
enum class fit_check : std::uint8_t { none, int16, int32, int64, numeric, chars };

struct column_plan {
    std::wstring name;
    pgs_value_column value;
    fit_check check = fit_check::none;
    std::int32_t int_digits = 0;     // numeric: digits allowed before the point
    std::uint32_t max_chars = 0;     // chars: the declared length
    std::string type_name;           // for messages
    std::string label;               // "Column \"name\"", for messages
};

column_plan make_plan(const t_ftd& column, const std::string* orig_type)
{
    column_plan p;
    p.name = column.name;
    p.value = pgs_make_value_column(column);
    p.label = "Column \"" + tk_unicode_to_utf8(column.name) + "\"";
    p.type_name = orig_type ? *orig_type : tk_unicode_to_utf8(pgs_get_native_type1(column, true));
    const std::string& t = p.type_name;
    if (t == "smallint") p.check = fit_check::int16;
    else if (t == "integer") p.check = fit_check::int32;
    else if (t == "bigint") p.check = fit_check::int64;
    else if (t == "numeric" && column.precision > 0) {
        p.check = fit_check::numeric;
        p.int_digits = column.precision - column.scale;
    } else if ((t == "character varying" || t == "character") && column.size > 0) {
        p.check = fit_check::chars;
        p.max_chars = column.size;
    }
    if (p.check == fit_check::numeric)
        p.type_name += "(" + std::to_string(column.precision) + "," + std::to_string(column.scale) + ")";
    if (p.check == fit_check::chars) p.type_name += "(" + std::to_string(column.size) + ")";
    return p;
}

[[noreturn]] void throw_not_fitting(std::string_view value, const column_plan& col)
{
    std::string v(value.substr(0, 200));
    if (value.size() > 200) v += "...";
    throw pgs_exception("Value '" + v + "' does not fit column \"" + tk_unicode_to_utf8(col.name) +
                        "\" (" + col.type_name + ")");
}

// Checks a written number against the column's range; text is the value as it
// was written (COPY field or unquoted SQL literal). Texts that are not plain
// numbers are left to the server, whose message names them.
void check_number(std::string_view text, const column_plan& col)
{
    if (text.empty() || text.front() == '\'' || text == "\\N" || text == "NULL") return;
    switch (col.check) {
    case fit_check::int16:
    case fit_check::int32:
    case fit_check::int64: {
        std::int64_t v = 0;
        const char* b = text.data();
        const char* e = b + text.size();
        auto [ptr, ec] = std::from_chars(b, e, v);
        if (ec == std::errc::result_out_of_range) {
            bool digits = std::all_of(b + (*b == '-' ? 1 : 0), e, [](char c) { return c >= '0' && c <= '9'; });
            if (digits) throw_not_fitting(text, col);
            return;
        }
        if (ec != std::errc() || ptr != e) return;
        if (col.check == fit_check::int16 &&
            (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max()))
            throw_not_fitting(text, col);
        if (col.check == fit_check::int32 &&
            (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()))
            throw_not_fitting(text, col);
        return;
    }
    case fit_check::numeric: {
        std::size_t i = (text.front() == '-' || text.front() == '+') ? 1 : 0;
        while (i < text.size() && text[i] == '0') ++i;  // leading zeros take no place
        std::int32_t digits = 0;
        for (; i < text.size() && text[i] != '.'; ++i) {
            if (text[i] < '0' || text[i] > '9') return;  // an exponent or NaN: the server decides
            ++digits;
        }
        if (digits > col.int_digits) throw_not_fitting(text, col);
        return;
    }
    default:
        return;
    }
}

void check_chars(const ole_variant& value, const column_plan& col)
{
    if (col.check != fit_check::chars || value.get_vt() != VT_BSTR) return;
    if (value.text_length() > col.max_chars) throw_not_fitting(value.to_string(), col);
}

// The same for a value of another kind, from the text it was written as
// (a COPY field, whose backslash escapes stand for one character each, or an
// SQL literal in apostrophes).
void check_written_chars(std::string_view text, const column_plan& col, bool sql)
{
    if (text == "\\N" || text == "NULL") return;
    std::string_view body = text;
    if (sql && body.size() >= 2 && body.front() == '\'' && body.back() == '\'') body = body.substr(1, body.size() - 2);
    std::uint32_t chars = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(body[i]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte
        if (!sql && c == '\\') ++i;        // an escape pair
        else if (sql && c == '\'') ++i;     // a doubled apostrophe
        ++chars;
    }
    if (chars > col.max_chars) throw_not_fitting(body, col);
}

// Record field names as the validator makes them safe, case-insensitively
// matched with the columns: the position of the field for each column (-1 when
// none), and for each field the column it fills (-1 when none).
struct record_layout {
    std::vector<std::wstring> field_names;  // the record's names it was made for
    std::vector<int> field_of_column;
    std::vector<int> column_of_field;

    bool matches(const udb_record& record) const
    {
        if (record.size() != field_names.size()) return false;
        for (std::size_t i = 0; i < field_names.size(); ++i) {
            const udb_field* f = record.get(i);
            if (!f || f->get_name() != field_names[i]) return false;
        }
        return true;
    }
};

record_layout make_layout(const udb_record& record, const udb_schema& schema)
{
    record_layout l;
    pgs_fn_validator validator(record);
    std::vector<std::wstring> safe_names;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field* f = record.get(i);
        std::wstring n = f ? f->get_name() : std::wstring();
        l.field_names.push_back(n);
        safe_names.push_back(validator.next_column_name(n));
    }
    l.field_of_column.assign(schema.size(), -1);
    l.column_of_field.assign(record.size(), -1);
    for (std::size_t c = 0; c < schema.size(); ++c) {
        // The last field of a name wins, as a map keyed by the name would have it.
        for (std::size_t i = safe_names.size(); i-- > 0;) {
            if (tk_equal_no_case(safe_names[i], schema[c].name)) {
                l.field_of_column[c] = int(i);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < safe_names.size(); ++i) l.column_of_field[i] = schema.get_field_idx(safe_names[i]);
    return l;
}

}  // namespace

// ---------------------------------------------------------------------------

struct pgs_recordset::impl final : pgs_batch_owner {
    explicit impl(pgs_recordset& owner_) : rs(owner_) {}
    ~impl() { release_connection(); }

    pgs_recordset& rs;

    // The catalog's type name of each column (data_type), as init_schema read it.
    std::vector<std::string> orig_types;

    // Prepared once per table, before the first row.
    bool planned = false;
    std::vector<column_plan> columns;
    std::string table_sql;  // "schema"."table" as UTF-8
    record_layout copy_layout;
    record_layout insert_layout;
    std::string insert_prefix;  // INSERT INTO t("a", "b") VALUES
    std::string insert_suffix;  // " on conflict ..." for the key-conflict form
    bool suffix_ready = false;  // insert_suffix fits the layout and the form
    bool key_unusable = false;  // the server matched no unique index to the key columns
    std::unique_ptr<pgs_encoder> encoder;  // the chosen client encoding; null for UTF8

    // The rows not handed on yet: COPY lines or INSERT value lists, never
    // both (a row that goes the other way hands the pending ones on first).
    pgs_row_batch pending;
    pgs_connection* owned_conn = nullptr;   // where this is the batch owner
    pgs_writer_pool* pool = nullptr;        // batches handed to writer threads
    std::vector<pgs_rejected_row> rejected;  // refused rows not reported yet

    // Reading: the transaction first, so the cursor is destroyed first.
    std::unique_ptr<pqxx::work> read_tx;
    std::unique_ptr<pqxx::icursorstream> cursor;
    pqxx::result block;
    pqxx::result::size_type row = 0;

    void plan()
    {
        if (planned) return;
        columns.clear();
        for (std::size_t i = 0; i < rs.schema.size(); ++i)
            columns.push_back(make_plan(rs.schema[i], i < orig_types.size() ? &orig_types[i] : nullptr));
        table_sql = tk_unicode_to_utf8(engine().make_name3(rs.name, true));
        planned = true;
    }

    void close_reading() noexcept
    {
        cursor.reset();
        read_tx.reset();
    }

    void release_connection() noexcept
    {
        if (owned_conn) owned_conn->clear_batch_owner(this);
        owned_conn = nullptr;
    }

    // Called when a row has been added to an empty batch: whatever else wants
    // the main connection lets these rows go first.
    void claim_connection()
    {
        pgs_connection& c = rs.conn();
        if (c.batch_owner() == this) return;
        c.make_room();
        c.set_batch_owner(this);
        owned_conn = &c;
    }

    // Writer threads may store this table's batches when the order in which
    // batches land cannot matter: the table has no key a row could collide
    // with (a table the run creates gets its keys after its rows) and rows
    // only ever add.
    bool may_use_writers() const
    {
        return rs.indexes.empty() && rs.m_key_conflict == pgs_key_conflict::skip && rs.sql_text.empty();
    }

    // A full batch is on its way: to a writer thread when there are some,
    // otherwise stored here before the next row is read.
    void hand_on()
    {
        if (pending.empty()) return;
        release_connection();
        if (!pool && may_use_writers()) pool = rs.owner().writer_pool();
        if (pool) {
            pgs_row_batch next;
            next.inserts = pending.inserts;
            next.table_sql = pending.table_sql;
            next.prefix = pending.prefix;
            next.suffix = pending.suffix;
            pool->submit(this, std::move(pending));
            pending = std::move(next);
            pending.clear_rows();
            take_rejected(pool->collect(this));
            return;
        }
        store_here();
    }

    void store_here()
    {
        release_connection();
        close_reading();
        pgs_store_batch(rs.conn(), pending, rejected);
        if (pending.fell_back && !key_unusable) {
            tk_write_wlog(3, L"Rows of '%s' cannot replace rows by key: no usable unique index", rs.name.c_str());
            key_unusable = true;
            rs.build_conflict_clause();
        }
    }

    void take_rejected(std::vector<pgs_rejected_row> rows)
    {
        rejected.insert(rejected.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    }

    // Every row given so far is stored (or refused) when this returns.
    void commit_batch()
    {
        if (pool) {
            if (!pending.empty()) {
                release_connection();
                pool->submit(this, std::move(pending));
                pending = pgs_row_batch();
            }
            take_rejected(pool->wait(this));
            // Refused rows in record order, whichever writer met them first.
            std::stable_sort(rejected.begin(), rejected.end(),
                             [](const pgs_rejected_row& a, const pgs_rejected_row& b) {
                                 return a.record_number < b.record_number;
                             });
            return;
        }
        store_here();
    }

    void commit_batch_keep_errors() noexcept
    {
        try {
            commit_batch();
        } catch (const std::exception& e) {
            tk_write_log(3, "ERROR: %s", e.what());
        }
    }

    void close_batch_for_other_work() noexcept override
    {
        owned_conn = nullptr;
        commit_batch_keep_errors();
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
    std::string sql =
        "SELECT ordinal_position, column_name, data_type, character_maximum_length, column_default, "
        "is_nullable, numeric_precision, numeric_precision_radix, numeric_scale, datetime_precision "
        "FROM information_schema.columns WHERE table_schema = ";
    pgs_append_literal(sql, std::wstring_view(m_schema_name));
    sql += " AND table_name = ";
    pgs_append_literal(sql, std::wstring_view(m_table_name));
    sql += " order by table_name, ordinal_position";
    tk_write_log(1, "ANSI query=%s", sql.c_str());
    pqxx::result r;
    try {
        pgs_connection& c = conn();
        c.make_room();
        pqxx::work tx(c.get(), "get_schema");
        r = tx.exec(sql);
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(3, "ERROR3: %s", e.base().what());
        throw pgs_exception(e.base().what());
    }
    tk_write_log(1, "pqxx::result.size=%d", int(r.size()));
    if (r.empty()) throw pgs_exception("Insufficient privileges to read table metadata.");

    bool have_auto = false;
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
            m_auto_increment = col_name;
            m_auto_increment_default = tk_utf8_to_unicode(def);
        }
        const VARTYPE catalog_vt = pgs_get_vartype1(data_type);
        VARTYPE vt = catalog_vt;
        std::uint32_t size = row[3].is_null() ? 0 : std::uint32_t(catalog_int(row[3]));
        if (data_type == "uuid") size = 36;
        pgs_t_ftd column(size, col_name, vt, std::string(field_c_str(row[5])) != "YES", data_type, is_auto,
                         ole_variant(), 0);
        if (vt == VT_DECIMAL) {
            const int prec = catalog_int(row[6]);
            const int scale = catalog_int(row[8]);
            tk_write_log(1, "Setting prec/scale(%d,%d)", prec, scale);
            if (prec == 0 || prec > 38) {
                column.vartype = VT_R8;
            } else {
                column.precision = prec;
                column.scale = scale;
            }
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
        std::int32_t subtype = 0;
        if (data_type == "time_stamp" || data_type == "timestamp" || data_type == "timestampz" ||
            data_type == "timestamp without time zone") {
            subtype = date_default ? 9 : 1;
        } else if (data_type == "timestamp with time zone") {
            subtype = (date_default ? 9 : 1) | 0x10;
        } else if (data_type == "date") {
            subtype = date_default ? 10 : 2;
        } else if (data_type == "abstime" || data_type == "time" || data_type == "time without time zone") {
            subtype = date_default ? 11 : 3;
        } else if (data_type == "real" || data_type == "uuid" || data_type == "bit") {
            subtype = 1;
        }
        column.dw_reserved = subtype;
        m_impl->orig_types.push_back(column.orig_type);
        schema.push_back(std::make_shared<pgs_t_ftd>(std::move(column)));
    }
}

void pgs_recordset::init_schema2()
{
    tk_write_log(2, "pgs_recordset::init_schema2");
    if (sql_text.empty()) throw tk_mail_assertion("pgs_recs", 729);
    try {
        pgs_connection& c = conn();
        c.make_room();
        pqxx::work tx(c.get(), "get_schema2");
        pqxx::result r = tx.exec(tk_unicode_to_utf8(sql_text));
        record_count = r.size();
        tk_write_log(2, "n_records=%llu", (unsigned long long)record_count);
        for (pqxx::row::size_type i = 0; i < r.columns(); ++i) {
            tk_write_log(2, "Processing column #%d", int(i));
            std::wstring col = tk_utf8_to_unicode(r.column_name(i));
            VARTYPE vt = pgs_get_vartype2(std::uint32_t(r.column_type(i)));
            tk_write_wlog(2, L"Name=%s, type=%d", col.c_str(), int(vt));
            schema.add_column(t_ftd(0, col, vt, false, false));
        }
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(2, "ERROR: %s", e.base().what());
        throw pgs_exception(e.base().what());
    }
}

std::uint64_t pgs_recordset::get_rec_count()
{
    tk_write_log(1, "pgs_recordset::get_rec_count");
    std::string sql = "SELECT COUNT(*) FROM " + tk_unicode_to_utf8(engine().make_name3(name, true));
    tk_write_log(1, "Running query: %s", sql.c_str());
    try {
        pgs_connection& c = conn();
        c.make_room();
        pqxx::work tx(c.get(), "get_rec_count");
        pqxx::result r = tx.exec(sql);
        return r[0][0].as<std::uint64_t>();
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception("Cannot get number of records (" + tk_unicode_to_ansi(name) + "): " +
                            e.base().what());
    }
}

namespace {

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

}  // namespace

void pgs_recordset::init_indexes(pgs_database& db)
{
    tk_write_log(2, "pgs_recordset::init_indexes");
    m_pk_columns.clear();
    struct found_index {
        std::wstring name;
        bool unique = false;
        bool primary = false;
        std::vector<std::wstring> columns;
    };
    struct found_key {
        std::wstring name, table, ref_table, rule;
        std::vector<std::wstring> columns, ref_columns;
    };
    std::vector<found_index> found;
    std::vector<found_key> keys;
    try {
        pgs_connection& c = conn();
        c.make_room();
        pqxx::work tx(c.get(), "init_indexes");
        // The table itself, by schema and name: indexes and keys of a table of
        // the same name in another schema are not this table's.
        std::string table_oid =
            "(SELECT c.oid FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = ";
        pgs_append_literal(table_oid, std::wstring_view(m_schema_name));
        table_oid += " AND c.relname = ";
        pgs_append_literal(table_oid, std::wstring_view(m_table_name));
        table_oid += ")";

        // One row per index column, by name (attribute numbers count dropped
        // columns, so they are turned into names by the catalog itself);
        // expression columns have no name and drop out.
        pqxx::result idx = tx.exec(
            "SELECT i.relname, x.indisunique, x.indisprimary, a.attname FROM pg_index x "
            "JOIN pg_class i ON i.oid = x.indexrelid "
            "CROSS JOIN LATERAL unnest(x.indkey) WITH ORDINALITY AS k(attnum, ord) "
            "JOIN pg_attribute a ON a.attrelid = x.indrelid AND a.attnum = k.attnum "
            "WHERE x.indrelid = " + table_oid + " ORDER BY x.indisprimary DESC, i.relname, k.ord");
        for (const auto& row : idx) {
            std::wstring iname = field_text(row[0]);
            if (found.empty() || found.back().name != iname) {
                found_index f;
                f.name = std::move(iname);
                f.unique = std::strcmp(field_c_str(row[1]), "t") == 0;
                f.primary = std::strcmp(field_c_str(row[2]), "t") == 0;
                found.push_back(std::move(f));
            }
            found.back().columns.push_back(field_text(row[3]));
        }

        if (!(db.get_mode() & 0x20)) {
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
                for (auto item = parser.get_next(); item.first != pqxx::array_parser::done;
                     item = parser.get_next())
                    if (item.first == pqxx::array_parser::string_value) names.push_back(tk_utf8_to_unicode(item.second));
                return names;
            };
            for (const auto& row : fk) {
                found_key k;
                k.name = field_text(row[0]);
                k.table = m_schema_name + L"." + m_table_name;
                k.ref_table = field_text(row[1]) + L"." + field_text(row[2]);
                k.columns = names_of(row[3]);
                k.ref_columns = names_of(row[4]);
                k.rule = tk_utf8_to_unicode(std::string(delete_rule(field_c_str(row[5])[0])) + " " +
                                            update_rule(field_c_str(row[6])[0]));
                tk_write_wlog(2, L"Foreign key '%s' found:", k.name.c_str());
                tk_write_wlog(2, L"fk_table='%s', pk_table='%s', rule='%s'", k.table.c_str(),
                              k.ref_table.c_str(), k.rule.c_str());
                keys.push_back(std::move(k));
            }
        } else {
            tk_write_log(2, "Foreign keys are not created, return");
        }
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception(e.base().what());
    }

    for (auto& f : found) {
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
    for (auto& k : keys) {
        tk_write_wlog(2, L"Processing foreign key: '%s'", k.name.c_str());
        if (!db.is_table_exist(k.ref_table)) {
            tk_write_wlog(2, L"PK table '%s' does not exist", k.ref_table.c_str());
            continue;
        }
        if (m_foreign_keys)
            m_foreign_keys->emplace_back(k.name, std::wstring(), k.table, k.ref_table, std::move(k.columns),
                                         std::move(k.ref_columns), k.rule);
    }
}

std::string pgs_recordset::get_select_fields() const
{
    tk_write_log(1, "pgs_recordset::get_select_fields");
    std::string out;
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const t_ftd& col = schema[i];
        if (i) out += ", ";
        std::string quoted;
        pgs_append_identifier(quoted, std::wstring_view(col.name));
        if (col.vartype == VT_DATE) {
            out += "to_char(" + quoted;
            if (col.dw_reserved & 0x10) out += " at time zone 'UTC'";
            out += ", 'YYYY-MM-DD HH24:MI:SS.US') as " + quoted;
        } else if (col.vartype == VT_BOOL && col.dw_reserved != 1) {
            out += "CASE " + quoted + " WHEN 't' THEN 1 WHEN 'f' THEN 0 ELSE NULL END as " + quoted;
        } else if (col.vartype == VT_R8) {
            out += quoted;
            if (i < m_impl->orig_types.size() && m_impl->orig_types[i] == "money") out += "::numeric";
        } else {
            out += quoted;
        }
    }
    tk_write_log(1, "res=%s", out.c_str());
    return out;
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
        sql = "SELECT " + get_select_fields() + " FROM " + tk_unicode_to_utf8(engine().make_name3(name, true));
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
    try {
        m_impl->commit_batch_keep_errors();
        m_impl->close_reading();
        pgs_connection& c = conn();
        c.make_room();
        m_impl->read_tx = std::make_unique<pqxx::work>(c.get());
        m_impl->cursor = std::make_unique<pqxx::icursorstream>(*m_impl->read_tx, sql, "mycursor", 100);
        m_impl->block = pqxx::result();
        m_impl->cursor->get(m_impl->block);
        m_impl->row = 0;
        m_eof = m_impl->block.empty();
    } catch (const pqxx::pqxx_exception& e) {
        throw pgs_exception(e.base().what());
    }
    tk_write_log(2, "pgs_recordset::reset - END");
}

void pgs_recordset::next()
{
    tk_write_log(1, "pgs_recordset::next");
    if (m_eof || !m_impl->cursor) return;
    if (++m_impl->row < m_impl->block.size()) return;
    m_impl->block = pqxx::result();
    m_impl->cursor->get(m_impl->block);
    m_impl->row = 0;
    m_eof = m_impl->block.empty();
}

bool pgs_recordset::is_eof()
{
    tk_write_log(1, "pgs_recordset::is_eof(%d)", int(m_eof));
    return m_eof;
}

udb_record* pgs_recordset::get_item()
{
    tk_write_log(1, "pgs_recordset::get_item");
    if (m_eof || !m_impl->cursor) return nullptr;
    // One record per recordset, its fields given new values for each row.
    if (!m_current || m_current->size() != schema.size()) {
        m_current = std::make_unique<udb_record>();
        m_current->reserve(schema.size());
        for (std::size_t i = 0; i < schema.size(); ++i) {
            const t_ftd& col = schema[i];
            m_current->emplace_back(col.name, col.size, ole_variant(), col.b_not_null, col.auto_increment);
        }
    }
    const auto row = m_impl->block[m_impl->row];
    for (std::size_t i = 0; i < schema.size(); ++i) {
        const t_ftd& col = schema[i];
        udb_field& field = (*m_current)[i];
        const pqxx::field f = row[pqxx::row::size_type(i)];
        if (f.is_null()) {
            field.set_value(ole_variant());
        } else if (col.vartype == VT_BSTR) {
            field.set_value(ole_variant::from_wstring(tk_utf8_to_unicode(f.c_str()), VT_BSTR));
        } else if (col.vartype == VT_BYTE_ARRAY || col.vartype == VT_BLOB) {
            const pqxx::binarystring bytes(f);
            field.set_value(ole_variant(bytes.data(), bytes.size()));
        } else {
            field.set_value(ole_variant::from_string(f.c_str(), col.vartype));
        }
    }
    return m_current.get();
}

// ---------------------------------------------------------------------------
// Writing rows

void pgs_recordset::append_record(udb_record& record)
{
    tk_write_log(1, "pgs_recordset::append_record");
    const std::uint64_t record_number = ++m_append_calls;
    impl& s = *m_impl;
    if (!engine().fast_insert || m_rows_by_insert) {
        slow_append(record, record_number);
    } else if (record.get_total_size() > max_copy_row_size) {
        // A row this big stays out of the COPY stream: the rows before it are
        // stored, it goes by INSERT in a transaction of its own, and the next
        // row goes by COPY again.
        tk_write_log(2, "Row is too big, sending it by INSERT");
        s.commit_batch();
        slow_append(record, record_number);
        s.commit_batch();
    } else {
        fast_append(record, record_number);
    }
    ++record_count;
    if (s.pool) s.take_rejected(s.pool->collect(&s));
    if (!s.rejected.empty()) {
        std::vector<pgs_rejected_row> rows;
        rows.swap(s.rejected);
        record_count -= std::min<std::uint64_t>(record_count, rows.size());
        throw pgs_rows_rejected_exception(std::move(rows));
    }
}

void pgs_recordset::flush_rows()
{
    m_impl->commit_batch();
    if (!m_impl->rejected.empty()) {
        std::vector<pgs_rejected_row> rows;
        rows.swap(m_impl->rejected);
        record_count -= std::min<std::uint64_t>(record_count, rows.size());
        throw pgs_rows_rejected_exception(std::move(rows));
    }
}

void pgs_recordset::fast_append(udb_record& record, std::uint64_t record_number)
{
    impl& s = *m_impl;
    s.plan();
    if (!s.copy_layout.matches(record)) s.copy_layout = make_layout(record, schema);
    const auto& field_of_column = s.copy_layout.field_of_column;
    for (std::size_t c = 0; c < s.columns.size(); ++c) {
        if (field_of_column[c] < 0) {
            tk_write_wlog(2, L"Field '%s' is not found in the record", s.columns[c].name.c_str());
            throw udb_structure_exception();
        }
    }

    pgs_row_batch& b = s.pending;
    // INSERT rows written before this one are stored first.
    if (b.inserts && !b.empty()) s.commit_batch();
    b.inserts = false;
    b.table_sql = s.table_sql;

    // The line is formatted straight into the batch's buffer; a value that
    // does not fit takes its line back out.
    std::string& out = b.text;
    const std::size_t start = out.size();
    try {
        for (std::size_t c = 0; c < s.columns.size(); ++c) {
            if (c) out += '\t';
            const column_plan& col = s.columns[c];
            const udb_field& field = record[std::size_t(field_of_column[c])];
            pgs_check_zero_char(field, col.value, col.label);
            check_chars(field, col);
            const std::size_t at = out.size();
            pgs_append_copy_value(out, field, col.value);
            if (s.encoder) s.encoder->check(std::string_view(out).substr(at), col.label);
            if (col.check == fit_check::chars) {
                if (field.get_vt() != VT_BSTR) check_written_chars(std::string_view(out).substr(at), col, false);
            } else if (col.check != fit_check::none) {
                check_number(std::string_view(out).substr(at), col);
            }
        }
    } catch (...) {
        out.resize(start);
        throw;
    }
    out += '\n';
    b.end_row(record_number);
    ++m_copy_count;
    if (b.rows() == 1) s.claim_connection();
    if (b.rows() >= std::size_t(copy_batch_rows) || out.size() >= max_batch_bytes) {
        tk_write_log(2, "Right before commit");
        s.hand_on();
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
        s.insert_layout = make_layout(record, schema);
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
    pgs_row_batch& b = s.pending;
    // Pending COPY rows, or INSERT rows written for another statement form,
    // are stored first.
    if (!b.empty() && (!b.inserts || b.prefix != s.insert_prefix || b.suffix != s.insert_suffix)) s.commit_batch();
    if (b.empty()) {
        b.inserts = true;
        b.prefix = s.insert_prefix;
        b.suffix = s.insert_suffix;
        b.has_fallback = m_key_conflict == pgs_key_conflict::replace && !s.key_unusable;
        b.fallback_suffix.clear();
        b.fell_back = false;
    }

    // The value list is formatted straight into the batch's buffer; a value
    // that does not fit takes it back out.
    std::string& out = b.text;
    const std::size_t start = out.size();
    try {
        out += '(';
        for (std::size_t i = 0; i < record.size(); ++i) {
            if (i) out += ", ";
            const column_plan& col = s.columns[std::size_t(s.insert_layout.column_of_field[i])];
            const udb_field& field = record[i];
            pgs_check_zero_char(field, col.value, col.label);
            check_chars(field, col);
            const std::size_t at = out.size();
            pgs_append_sql_value(out, field, col.value);
            if (s.encoder) s.encoder->check(std::string_view(out).substr(at), col.label);
            if (col.check == fit_check::chars) {
                if (field.get_vt() != VT_BSTR) check_written_chars(std::string_view(out).substr(at), col, true);
            } else if (col.check != fit_check::none) {
                check_number(std::string_view(out).substr(at), col);
            }
        }
        out += ')';
    } catch (...) {
        out.resize(start);
        throw;
    }
    b.end_row(record_number);
    if (b.rows() == 1) s.claim_connection();
    if (b.rows() >= std::size_t(insert_batch_rows) || out.size() >= max_insert_batch_bytes) {
        tk_write_log(2, "Right before commit");
        s.hand_on();
    }
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
}

void pgs_recordset::build_conflict_clause()
{
    impl& s = *m_impl;
    s.suffix_ready = true;
    if (m_key_conflict == pgs_key_conflict::skip) {
        s.insert_suffix = " on conflict do nothing";
        return;
    }
    s.insert_suffix.clear();
    if (s.key_unusable) return;
    if (key_pos < 0 || std::size_t(key_pos) >= indexes.size()) {
        tk_write_wlog(3, L"ERROR: Cannot update '%s', there's no primary/unique key", name.c_str());
        return;
    }
    const std::vector<std::wstring>& key = indexes[std::size_t(key_pos)].fields;
    std::string target, sets;
    for (const std::wstring& k : key) {
        if (!target.empty()) target += ", ";
        pgs_append_identifier(target, std::wstring_view(k));
    }
    for (const int c : s.insert_layout.column_of_field) {
        if (c < 0) continue;
        const std::wstring& column = schema[std::size_t(c)].name;
        if (std::find(key.begin(), key.end(), column) != key.end()) continue;
        if (!sets.empty()) sets += ", ";
        std::string quoted;
        pgs_append_identifier(quoted, std::wstring_view(column));
        sets += quoted + " = EXCLUDED." + quoted;
    }
    s.insert_suffix += " ON CONFLICT (" + target + ")";
    // A row of key columns only has nothing to replace.
    s.insert_suffix += sets.empty() ? " DO NOTHING" : " DO UPDATE SET " + sets;
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
    // The next value is the column's highest value + 1, or where the sequence already stands
    // when that is further (a restart from the source's seed, or a table without rows): the
    // value drawn next never collides and never falls below the seed. nextval() reads that
    // position (it is the value it hands out); is_called false makes the value set the next one.
    std::string sql = "SELECT setval(s.seq, GREATEST(m.top + 1, nextval(s.seq))::bigint, false) FROM (SELECT COALESCE("
                      "pg_get_serial_sequence(";
    pgs_append_literal(sql, table);
    sql += ", ";
    pgs_append_literal(sql, std::wstring_view(m_auto_increment));
    sql += "), ";
    pgs_append_literal(sql, sequence_of_default);
    sql += ")::regclass AS seq) AS s, LATERAL (SELECT MAX(" + column + ") AS top FROM " + table + ") AS m";
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
    try {
        m_impl->close_reading();
        m_impl->commit_batch();
        for (const auto& r : m_impl->rejected)
            tk_write_log(3, "Record #%llu rejected: %s", (unsigned long long)r.record_number, r.message.c_str());
        m_impl->rejected.clear();
        if (database && !(database->get_mode() & 0x01) && !m_auto_increment.empty() && sql_text.empty())
            reset_sequence();
    } catch (const pqxx::pqxx_exception& e) {
        tk_write_log(3, "ERROR: %s", e.base().what());
    } catch (const std::exception& e) {
        tk_write_log(3, "ERROR: %s", e.what());
    } catch (...) {
        tk_write_log(3, "UNKNOWN ERROR");
    }
    tk_write_log(1, "pgs_recordset::~pgs_recordset - END");
}

// ---------------------------------------------------------------------------
// Updates and deletes by key

namespace {

// The field's name as these operations match it with the columns.
std::wstring safe_field_name(pgs_fn_validator& validator, const std::wstring& name, bool fold)
{
    std::wstring n = fold ? tk_to_lower(name) : name;
    if (!validator.is_acceptable(n)) n = validator.get_safe_name(n);
    return n;
}

void note_field_name(pgs_fn_validator& validator, const std::wstring& field_name, const std::wstring& column)
{
    if (field_name != column) validator.add_existing_name(column);
    validator.restricted_names.push_back(column);
}

std::wstring sql_literal(const udb_field& field)
{
    return to_pgs_str(&field);
}

}  // namespace

void pgs_recordset::update1(udb_record& record)
{
    tk_write_log(1, "pgs_recordset::update1(n_u_index=%d)", int(key_pos));
    if (key_pos < 0 || std::size_t(key_pos) >= indexes.size()) {
        tk_write_wlog(3, L"ERROR: Cannot update '%s', there's no primary/unique key", name.c_str());
        return;
    }
    const udb_index& key = indexes[std::size_t(key_pos)];
    pgs_engine& eng = engine();
    std::wstring sets, where;
    pgs_fn_validator validator(record);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& field = record[i];
        const std::wstring safe = safe_field_name(validator, field.get_name(), false);
        tk_write_wlog(1, L"Got safe-name for field #%d: %s", int(i), safe.c_str());
        if (!schema.find_field(safe)) {
            tk_write_wlog(2, L"Field '%s' is not found in schema", field.get_name().c_str());
            throw udb_structure_exception();
        }
        const std::wstring column = schema.get_field1(safe).name;
        const bool in_key = std::find(key.fields.begin(), key.fields.end(), column) != key.fields.end();
        std::wstring& list = in_key ? where : sets;
        if (!list.empty()) list += in_key ? L" AND " : L", ";
        list += eng.make_name2(column) + L"=" + sql_literal(field);
        note_field_name(validator, field.get_name(), column);
    }
    const std::wstring sql = L"UPDATE " + eng.make_name3(name, true) + L" SET " + sets + L" WHERE " + where;
    tk_write_wlog(2, L"UPDATE QUERY: %s", sql.c_str());
    if (where.empty()) {
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
    const udb_index& key = indexes[std::size_t(key_pos)];
    pgs_engine& eng = engine();
    std::wstring sets;
    pgs_fn_validator validator(record);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& field = record[i];
        const std::wstring safe = safe_field_name(validator, field.get_name(), !eng.is_case_sens);
        tk_write_wlog(2, L"Got safe-name for field #%d: %s", int(i), safe.c_str());
        if (!schema.find_field(safe)) {
            tk_write_wlog(2, L"Field '%s' is not found in schema", field.get_name().c_str());
            continue;
        }
        const std::wstring column = schema.get_field1(safe).name;
        if (std::find(key.fields.begin(), key.fields.end(), column) == key.fields.end()) {
            if (!sets.empty()) sets += L", ";
            sets += eng.make_name2(column) + L"=" + sql_literal(field);
        }
        note_field_name(validator, field.get_name(), column);
    }
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
    std::wstring where;
    pgs_fn_validator validator(record);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field& field = record[i];
        const std::wstring safe = safe_field_name(validator, field.get_name(), !eng.is_case_sens);
        const int idx = schema.get_field_idx(safe);
        if (idx < 0) {
            tk_write_wlog(1, L"Field '%s' is not found in schema", safe.c_str());
            continue;
        }
        if (!where.empty()) where += L" AND ";
        where += pgs_quote_identifier(std::wstring_view(schema[std::size_t(idx)].name)) + L"=" + sql_literal(field);
    }
    run_delete(owner(), L"DELETE FROM " + eng.make_name3(name, true) + L" WHERE " + where);
}

std::wstring pgs_recordset::get_filter_subquery(const std::wstring& key)
{
    tk_write_wlog(2, L"pgs_recordset::get_filter_subquery(%s)", key.c_str());
    enum class at { outside, opening_tag, value, closing_tag };
    at state = at::outside;
    std::wstring result, col_name, value;
    const t_ftd* column = nullptr;
    for (const wchar_t ch : key) {
        switch (state) {
        case at::outside:
            if (ch == L'<') {
                col_name.clear();
                state = at::opening_tag;
            }
            break;
        case at::opening_tag:
            if (ch != L'>') {
                col_name += ch;
                break;
            }
            if (!result.empty()) result += L" and ";
            if (!schema.find_field(col_name)) {
                tk_write_wlog(2, L"Field %s not found in the schema", col_name.c_str());
                throw udb_structure_exception();
            }
            column = &schema.get_field2(col_name);
            result += pgs_quote_identifier(std::wstring_view(column->name));
            value.clear();
            state = at::value;
            break;
        case at::value:
            if (ch != L'<') {
                value += ch;
                break;
            }
            if (udb_is_binary_kind(column->vartype)) {
                std::wstring hex = tk_to_lower(value);
                if (hex.rfind(L"0x", 0) == 0) hex.erase(0, 2);
                result += L"=decode(" + pgs_quote_literal(std::wstring_view(hex)) + L",'hex')";
            } else {
                tk_wstring::replace_all(value, L"&lt;", L"<");
                tk_wstring::replace_all(value, L"&gt;", L">");
                tk_wstring::replace_all(value, L"&amp;", L"&");
                result += L"=" + pgs_quote_literal(std::wstring_view(value)) + L" ";
            }
            state = at::closing_tag;
            break;
        case at::closing_tag:
            if (ch == L'>') state = at::outside;
            break;
        }
    }
    tk_write_wlog(2, L"filter_subquery=%s", result.c_str());
    return result;
}

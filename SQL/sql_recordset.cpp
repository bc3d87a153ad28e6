#include "SQL/sql_recordset.h"

#include <charconv>
#include <limits>

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_limited_query.h"
#include "SQL/sql_record.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_tmp_recordset.h"
#include "SQL/sql_types.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

namespace {

// A 64-bit integer from the first field of a statement's first row; false when it is none.
bool first_field_int64(udb_record* r, std::int64_t& out)
{
    if (!r || r->size() == 0) throw std::out_of_range("invalid vector subscript");
    const udb_field& f = (*r)[0];
    if (f.get_type() == VT_I8) { out = f.hyper_value; return true; }
    if (f.get_type() == VT_UI8) {
        if (f.uhyper_value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
        out = static_cast<std::int64_t>(f.uhyper_value);
        return true;
    }
    if (f.is_empty()) return false;
    std::string s = f.to_string();
    auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

// A query's columns come described by the result alone, whose lengths count
// bytes: a VARCHAR(60) of utf8mb4 says 240. A text's length is in characters
// (a table's own columns are read from its definition instead).
std::uint32_t query_text_length(const MYSQL_FIELD& f, bool query)
{
    const bool text = f.type == MYSQL_TYPE_VARCHAR || f.type == MYSQL_TYPE_VAR_STRING || f.type == MYSQL_TYPE_STRING;
    if (!query || !text || f.charsetnr == sql_charset_binary)
        return static_cast<std::uint32_t>(f.length);
    const MARIADB_CHARSET_INFO* cs = mariadb_get_charset_by_nr(f.charsetnr);
    const unsigned per_char = cs && cs->char_maxlen > 0 ? cs->char_maxlen : 1;
    return static_cast<std::uint32_t>(f.length / per_char);
}

std::int32_t sub_type_of(const MYSQL_FIELD& f)
{
    switch (f.type) {
    case MYSQL_TYPE_LONGLONG: return (f.flags & UNSIGNED_FLAG) ? 2 : 1;
    case MYSQL_TYPE_DATETIME: return 1;
    case MYSQL_TYPE_DATE: return 2;
    case MYSQL_TYPE_TIME: return 3;
    case MYSQL_TYPE_GEOMETRY: return 2;
    case MYSQL_TYPE_BIT: return udb_subtype::bit;
    default: return 0;
    }
}

}  // namespace

static_assert(sql_recordset::window_size == sql_limited_query::n_max_records, "one window size");

sql_recordset::sql_recordset(sql_database* database_, const std::wstring& name_,
                             std::vector<udb_relationship>& relationships_)
    : udb_recordset(database_, name_), sql_db(database_), relationships(&relationships_)
{
    tk_write_log(2, "sql_recordset::sql_recordset1");
    initialize();
}

sql_recordset::sql_recordset(sql_database* database_, const std::wstring& name_, const std::wstring& text,
                             std::vector<udb_relationship>& relationships_)
    : udb_recordset(database_, name_, text), sql_db(database_), relationships(&relationships_)
{
    tk_write_log(2, "sql_recordset::sql_recordset2");
    initialize();
}

sql_recordset::~sql_recordset()
{
    tk_write_log(1, "sql_recordset::dtor");
    clean();
    limited_query.reset();
}

std::int64_t sql_recordset::get_rec_count()
{
    tk_write_log(2, "sql_recordset::get_rec_count");
    std::string stmt;
    if (is_query()) {
        stmt = "SELECT COUNT(*) FROM (\n" + sql_limited_query::subquery_text(sql_text) + "\n) as query";
    } else {
        stmt = "SELECT COUNT(*) FROM ";
        std::string n = tk_unicode_to_utf8(name);
        if (sql_engine::instance()->is_old_version()) stmt += n;
        else sql_append_quoted_name(stmt, n);
    }
    auto rs = db().run_query(stmt);
    if (!rs) throw sql_exception(0u, "The row count statement returned no result set", stmt);
    std::int64_t count = -1;
    if (rs->is_eof()) throw std::out_of_range("invalid vector subscript");
    if (!first_field_int64(rs->get_item(), count)) count = -1;
    tk_write_log(2, "sql_recordset::get_rec_count - END (result=%lld)", static_cast<long long>(count));
    return count;
}

void sql_recordset::initialize()
{
    tk_write_log(2, "sql_recordset::initialize");
    sql_engine* engine = sql_engine::instance();
    const bool b2t = engine->is_blob_to_text();
    tk_write_log(2, "is_blob_to_text=%d", b2t ? 1 : 0);
    clean();

    rec_count = get_rec_count();
    record_count = rec_count > 0 ? static_cast<std::uint64_t>(rec_count) : 0;
    tk_write_log(2, "get_rec_count returns %lld", static_cast<long long>(rec_count));

    // Only the first window is wanted here (the columns and a first look at the rows); the
    // LIMIT keeps the server from sending the whole table a second time.
    const std::string every_column = is_query() ? std::string() : list_with_invisible_columns();
    auto stream = std::make_unique<sql_limited_query>(db(), is_query() ? sql_text : name, is_query(),
                                                      window_size, every_column);
    bool has_float = false;
    std::wstring auto_number;
    read_items.clear();
    path_overrides.clear();
    const MYSQL_FIELD* fields = stream->fields();
    for (unsigned i = 0; i < stream->field_count(); ++i) {
        const MYSQL_FIELD& f = fields[i];
        tk_write_log(2, "Processing field #%d", static_cast<int>(i + 1));
        std::wstring col = tk_utf8_to_unicode(std::string_view(f.name, f.name_length));
        std::string safe = tk_unicode_to_utf8(engine->get_safe_name(col));
        if (f.type == MYSQL_TYPE_FLOAT && f.decimals >= 31) {
            // A plain FLOAT as text has six digits only; as a double it has all of them, and
            // the reader rounds that back to the very same float.
            read_items.push_back("(" + safe + "+0e0) as " + safe);
            has_float = true;
        } else {
            read_items.push_back(safe);
        }
        tk_write_log(2, "GOT FIELD: name=%s, type=%d, size=%d, flags=%d", f.name, static_cast<int>(f.type),
                     static_cast<int>(f.length), static_cast<int>(f.flags));
        // Geometry arrives as its own bytes, turned into EWKB text by the reader.
        VARTYPE vt = f.type == MYSQL_TYPE_GEOMETRY ? VT_BSTR : get_vartype(f);
        t_ftd column(query_text_length(f, is_query()), col, vt, (f.flags & NOT_NULL_FLAG) != 0,
                     (f.flags & AUTO_INCREMENT_FLAG) != 0, ole_variant(), sub_type_of(f), std::wstring());
        if (column.auto_increment) {
            tk_write_wlog(1, L"Got auto_number column: '%s'", col.c_str());
            auto_number = col;
        }
        if ((vt == VT_BLOB || vt == VT_BYTE_ARRAY) && (b2t || !sql_is_binary_column(f))) {
            tk_write_log(2, "Change type from BLOB to TEXT");
            column.vartype = VT_BSTR;
        } else if (f.type == MYSQL_TYPE_DECIMAL || f.type == MYSQL_TYPE_NEWDECIMAL) {
            tk_write_log(1, "Scale/precision: (%d,%d)", static_cast<int>(f.decimals), static_cast<int>(f.length));
            // The length counts a decimal point when there are decimals and a sign position
            // unless the column is unsigned.
            int precision = static_cast<int>(f.length);
            if (f.decimals > 0) --precision;
            if (!(f.flags & UNSIGNED_FLAG)) --precision;
            column.precision = precision;
            column.scale = static_cast<std::int32_t>(f.decimals);
        } else if (f.type == MYSQL_TYPE_DATETIME || f.type == MYSQL_TYPE_TIMESTAMP || f.type == MYSQL_TYPE_TIME) {
            // The fractional-second digits (DATETIME(6) gives 6): without them the destination
            // type rounds the fractions away. A value above 6 means "not fixed" (an expression
            // of a query); all six digits keep whatever it holds.
            column.scale = static_cast<std::int32_t>(f.decimals > 6 ? 6 : f.decimals);
        }
        schema.add_column(std::move(column));
    }
    std::string select_list;
    for (std::size_t i = 0; i < read_items.size(); ++i) select_list += (i ? "," : "") + read_items[i];
    read_list.clear();
    if (!every_column.empty()) make_read_list();
    if (has_float && !is_query()) {
        make_read_list();
        stream.reset();
        stream = std::make_unique<sql_limited_query>(db(), name, false, window_size, read_list);
    }
    window_count = stream->store_to(records, &schema);
    window_pos = 0;
    stream.reset();

    local_select_qry = L"SELECT " + tk_utf8_to_unicode(select_list) + L" FROM " + engine->get_safe_name(name);
    tk_write_wlog(2, L"local_select_qry=%s", local_select_qry.c_str());
    if (is_query()) {
        tk_write_log(2, "It's a SQL-query, nothing to do anymore");
        return;
    }
    if (!auto_number.empty()) {
        tk_write_wlog(2, L"Refining auto_number '%s' (last value)", auto_number.c_str());
        // The next value MySQL hands out is the table's counter, which stays above ids of rows
        // deleted since; the highest id is the fallback where the counter cannot be read.
        std::int64_t last = 0;
        bool known = false;
        std::string stmt = "select max( " + tk_unicode_to_utf8(engine->get_safe_name(auto_number)) + ") from " +
                           tk_unicode_to_utf8(engine->get_safe_name(name));
        tk_write_log(2, "auto_number query=%s", stmt.c_str());
        try {
            auto rs = db().run_query(stmt);
            std::int64_t v = 0;
            if (rs && !rs->is_eof() && first_field_int64(rs->get_item(), v)) {
                last = v;
                known = true;
            }
        } catch (const std::exception& e) {
            tk_write_log(3, "Failed to extract last value for auto_number column");
            tk_write_log(2, "ERROR: %s", e.what());
        }
        try {
            // An unsigned BIGINT's counter may lie past the largest int64: the seed then stands
            // on that largest value (the destination's sequence cannot go further).
            std::uint64_t counter = 0;
            if (read_auto_increment_counter(counter) && counter > 1) {
                const std::int64_t before = counter - 1 > std::uint64_t(std::numeric_limits<std::int64_t>::max())
                                                ? std::numeric_limits<std::int64_t>::max()
                                                : std::int64_t(counter - 1);
                if (!known || before > last) {
                    last = before;
                    known = true;
                }
            }
        } catch (const std::exception& e) {
            tk_write_log(3, "The auto-increment counter was not read: %s", e.what());
        }
        if (known) {
            auto_increment_seed = last;
            schema.seed = last;
        }
        tk_write_log(2, "got last value=%lld", static_cast<long long>(auto_increment_seed));
    }
    tk_write_log(2, "sql_recordset::initialize - END");
}

bool sql_recordset::read_auto_increment_counter(std::uint64_t& counter)
{
    // SHOW CREATE TABLE asks the storage engine (information_schema may show a cached figure).
    // The table options follow the last column line: ") ENGINE=... AUTO_INCREMENT=n ...".
    std::string stmt = "SHOW CREATE TABLE ";
    sql_append_quoted_name(stmt, tk_unicode_to_utf8(name));
    auto rs = db().run_query(stmt);
    if (!rs || rs->is_eof()) return false;
    udb_record* r = rs->get_item();
    if (!r || r->size() < 2 || (*r)[1].is_empty()) return false;
    const std::string text = (*r)[1].to_string();
    std::size_t options = text.rfind("\n) ");
    if (options == std::string::npos) return false;
    const std::size_t line_end = text.find('\n', options + 1);
    const std::string_view line =
        std::string_view(text).substr(options, line_end == std::string::npos ? std::string::npos : line_end - options);
    const std::string_view key = " AUTO_INCREMENT=";
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos) return false;
    const char* b = line.data() + at + key.size();
    const char* e = line.data() + line.size();
    auto res = std::from_chars(b, e, counter);
    return res.ec == std::errc() && res.ptr != b;
}

void sql_recordset::read_column_checked(std::size_t column, std::string_view charset)
{
    if (column >= read_items.size() || is_query()) return;
    const std::string safe = tk_unicode_to_utf8(sql_engine::instance()->get_safe_name(schema[column].name));
    read_items[column] = sql_checked_text_select(safe, charset);
    path_overrides.emplace_back(static_cast<unsigned>(column), sql_value_path::checked_text);
    make_read_list();
}

std::string sql_recordset::list_with_invisible_columns()
{
    if (sql_engine::instance()->is_old_version()) return {};
    // "SELECT *" leaves out the columns declared INVISIBLE (MariaDB 10.3, MySQL 8.0.23): their
    // values would be lost without a word. Such a table is read by the list of all its columns.
    std::string q = "SELECT COLUMN_NAME, EXTRA FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() "
                    "AND TABLE_NAME = ";
    sql_append_literal(q, db().get_connection(), tk_unicode_to_utf8(name));
    q += " ORDER BY ORDINAL_POSITION";
    std::vector<std::wstring> columns;
    bool invisible = false;
    sql_blob_to_text_scope text_scope;
    try {
        auto rs = db().run_query(q);
        if (!rs) return {};
        rs->reset();
        while (!rs->is_eof()) {
            const udb_record& r = *rs->get_item();
            if (r.size() >= 2) {
                columns.push_back(r[0].to_wstring());
                const std::wstring extra = tk_to_lower(r[1].to_wstring());
                invisible |= extra.find(L"invisible") != std::wstring::npos;
            }
            rs->next();
        }
    } catch (const tk_exception& e) {
        tk_write_log(3, "Invisible columns not looked for: %s", e.what());
        return {};
    }
    if (!invisible) return {};
    sql_engine* engine = sql_engine::instance();
    std::string list;
    for (const auto& c : columns) list += (list.empty() ? "" : ",") + tk_unicode_to_utf8(engine->get_safe_name(c));
    tk_write_log(2, "Table with invisible columns, read by: %s", list.c_str());
    return list;
}

void sql_recordset::make_read_list()
{
    read_list.clear();
    for (std::size_t i = 0; i < read_items.size(); ++i) read_list += (i ? "," : "") + read_items[i];
}

void sql_recordset::append_record(udb_record&)
{
    tk_write_log(2, "sql_recordset::append_record");
    throw tk_mail_assertion("sql_recs", 257);
}

udb_record* sql_recordset::get_item()
{
    if (window_pos >= window_count) return nullptr;
    sql_record* record = records[window_pos].get();
    if (record && record->failure()) std::rethrow_exception(record->failure());
    return record;
}

bool sql_recordset::is_eof()
{
    return window_pos >= window_count;
}

void sql_recordset::next()
{
    tk_write_log(1, "sql_recordset::next");
    if (!limited_query) throw tk_mail_assertion("sql_recs", 292);
    // A window holds fewer than window_size rows when their values are large; only the end of
    // the stream leaves it empty.
    if (window_pos + 1 < window_count) {
        ++window_pos;
    } else {
        clean();
        window_count = limited_query->store_to(records, window_schema());
        window_pos = 0;
    }
    ++pos;
}

void sql_recordset::prev()
{
    tk_write_log(1, "sql_recordset::prev");
    if (pos == 0) return;
    if (window_pos > 0) --window_pos;
    --pos;
}

void sql_recordset::reset()
{
    tk_write_log(2, "sql_recordset::reset");
    // An earlier stream still occupies the connection: release it before the count.
    limited_query.reset();
    clean();
    for (auto& r : records)
        if (r) r->forget_names();
    pos = 0;
    window_pos = 0;
    rec_count = get_rec_count();
    record_count = rec_count > 0 ? static_cast<std::uint64_t>(rec_count) : 0;
    limited_query = std::make_unique<sql_limited_query>(db(), is_query() ? sql_text : name, is_query(), 0, read_list);
    limited_query->set_path_overrides(path_overrides);
    window_count = limited_query->store_to(records, window_schema());
}

void sql_recordset::clean() noexcept
{
    // The record objects stay for reuse by the next window (no allocation per row); only the
    // count of valid ones goes back to zero.
    window_count = 0;
}

#include "SQL/sql_database.h"

#include <algorithm>
#include <cstring>

#include "SQL/sql_ddl_builders.h"
#include "SQL/sql_engine.h"
#include "UDB/udb_failure.h"
#include "SQL/sql_handles.h"
#include "SQL/sql_literals.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_recordset.h"
#include "SQL/sql_sync.h"
#include "SQL/sql_table.h"
#include "SQL/sql_tmp_recordset.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_properties.h"
#include "UDB/udb_validator.h"
#include "UDB/udb_view_text.h"
#include "platform/pf_text.h"

namespace {

std::wstring up_to_nul(const std::wstring& s)
{
    std::size_t z = s.find(L'\0');
    return z == std::wstring::npos ? s : s.substr(0, z);
}

}  // namespace

sql_database::sql_database(const std::wstring& name_, MYSQL* connection_, std::int32_t mode_)
    : udb_database(name_, mode_, false), connection(connection_)
{
    tk_write_wlog(2, L"sql_database::sql_database(%s, mode=%d)", name_.c_str(), mode_);
    init_tables();
    if (!(mode_ & mode_no_views)) {
        try {
            init_views();
        } catch (const sql_exception& e) {
            tk_write_log(3, "Failed to initialize views:\n%s", e.what());
        }
    }
}

sql_database::~sql_database() = default;

std::unique_ptr<sql_tmp_recordset> sql_database::run_query(const std::string& statement)
{
    tk_write_log(1, "sql_database::do_query2(%s)", statement.c_str());
    if (mysql_real_query(connection, statement.data(), static_cast<unsigned long>(statement.size())) != 0) {
        tk_write_log(3, "QUERY=%s", statement.c_str());
        throw sql_exception(connection, statement);
    }
    sql_result_ptr result(mysql_use_result(connection));
    if (!result) {
        if (mysql_errno(connection) != 0) {
            tk_write_log(3, "QUERY=%s", statement.c_str());
            throw sql_exception(connection, statement);
        }
        return nullptr;  // a statement without a result set
    }
    return std::make_unique<sql_tmp_recordset>(connection, std::move(result));
}

std::unique_ptr<udb_recordset> sql_database::query(const std::wstring& statement)
{
    tk_write_wlog(2, L"sql_database::query(%s)", statement.c_str());
    return run_query(tk_unicode_to_utf8(statement));
}

bool sql_database::test_query(const std::wstring& statement)
{
    return prepare_refusal(statement).empty();
}

std::string sql_database::prepare_refusal(const std::wstring& statement)
{
    tk_write_wlog(2, L"sql_database::query(%s)", statement.c_str());
    sql_engine::instance()->use_source_sql_text();
    std::string text = tk_unicode_to_utf8(statement);
    sql_stmt_ptr stmt(mysql_stmt_init(connection));
    if (!stmt) {
        const char* message = mysql_error(connection);
        return message && *message ? message : "The MySQL client library cannot prepare a statement";
    }
    if (mysql_stmt_prepare(stmt.get(), text.data(), static_cast<unsigned long>(text.size())) != 0) {
        tk_write_log(2, "Statement refused: %s", mysql_stmt_error(stmt.get()));
        const char* message = mysql_stmt_error(stmt.get());
        return message && *message ? message : "The server refused the statement";
    }
    return std::string();
}

void sql_database::init_tables()
{
    tk_write_log(2, "sql_database::init_tables");
    auto add_rows = [this](sql_tmp_recordset& rs) {
        rs.reset();
        while (!rs.is_eof()) {
            udb_record* r = rs.get_item();
            if (r && r->size() > 0) {
                std::wstring n = (*r)[0].to_wstring();
                tk_write_wlog(2, L"Got table name: '%s'", n.c_str());
                table_names.push_back(std::move(n));
            }
            rs.next();
        }
    };
    if (sql_engine::instance()->get_server_version() >= sql_engine::version_5_0_1) {
        tk_write_log(2, "Extracting tables in new way");
        sql_list_tables_rs rs(connection);
        add_rows(rs);
    } else {
        tk_write_log(2, "Extracting tables in old way");
        sql_result_ptr result(mysql_list_tables(connection, nullptr));
        if (!result) throw sql_exception(connection);
        sql_tmp_recordset rs(connection, std::move(result));
        add_rows(rs);
    }
}

void sql_database::init_views()
{
    tk_write_log(2, "sql_database::init_views");
    sql_blob_to_text_scope text_scope;
    std::string stmt =
        "SELECT table_name, view_definition FROM information_schema.views WHERE table_schema=" +
        sql_quote_literal(connection, tk_unicode_to_utf8(name));
    auto rs = run_query(stmt);
    if (!rs) return;
    rs->reset();
    while (!rs->is_eof()) {
        udb_record* r = rs->get_item();
        if (r && r->size() >= 2) {
            std::wstring view = (*r)[0].to_wstring();
            std::wstring def = (*r)[1].to_wstring();
            tk_write_wlog(2, L"Got query name: '%s'", view.c_str());
            views.emplace_back(view, refine_view_out(def));
        }
        rs->next();
    }
}

std::vector<std::pair<std::wstring, std::wstring>> sql_database::read_table_references()
{
    tk_write_log(2, "sql_database::read_table_references");
    const std::string db = sql_quote_literal(connection, tk_unicode_to_utf8(name));
    auto rs = run_query("SELECT TABLE_NAME, REFERENCED_TABLE_NAME FROM information_schema.REFERENTIAL_CONSTRAINTS "
                        "WHERE CONSTRAINT_SCHEMA=" + db + " AND UNIQUE_CONSTRAINT_SCHEMA=" + db);
    std::vector<std::pair<std::wstring, std::wstring>> references;
    if (!rs) return references;
    rs->reset();
    while (!rs->is_eof()) {
        udb_record* r = rs->get_item();
        if (r && r->size() >= 2) references.emplace_back((*r)[0].to_wstring(), (*r)[1].to_wstring());
        rs->next();
    }
    return references;
}

std::wstring sql_database::refine_view_out(const std::wstring& text_in) const
{
    tk_write_wlog(2, L"sql_database::refine_view_out(%s)", text_in.c_str());
    const udb_view_reader reader(up_to_nul(text_in));
    const std::vector<udb_token>& tokens = reader.tokens();
    std::vector<bool> dropped(tokens.size(), false);
    // Comments go (a /*! */ one is code to MySQL and stays); literals and quoted names never
    // hold one.
    for (std::size_t i = 0; i < tokens.size(); ++i)
        if (tokens[i].kind == udb_token_kind::comment && !tokens[i].executable) dropped[i] = true;
    // The server writes names as `db`.`table` and `db`.`table`.`column`; inside the database
    // the prefix is noise and would tie the view to the source database's name. A two-part
    // name elsewhere is table.column (or alias.column) and keeps both parts.
    for (const udb_view_name& n : reader.names()) {
        const bool prefixed = n.parts.size() == 3 || (n.parts.size() == 2 && n.role == udb_name_role::table);
        if (!prefixed || !tk_equal_no_case(reader.part(n, 0), name)) continue;
        tk_write_log(1, "Remove template found at token=%d", static_cast<int>(n.parts[0]));
        for (std::size_t k = n.parts[0]; k < n.parts[1]; ++k) dropped[k] = true;
    }
    std::wstring text;
    text.reserve(text_in.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (!dropped[i]) {
            text += tokens[i].text;
            continue;
        }
        if (tokens[i].kind != udb_token_kind::comment) continue;
        // A comment between two tokens kept them apart: one blank does so now, and a blank
        // on each side becomes one.
        const bool blank_before = text.empty() || text.back() == L' ' || text.back() == L'\t' ||
                                  text.back() == L'\n' || text.back() == L'\r';
        const bool blank_after = i + 1 >= tokens.size() || tokens[i + 1].kind == udb_token_kind::space;
        if (blank_before && blank_after && i + 1 < tokens.size()) dropped[i + 1] = true;
        else if (!blank_before && !blank_after) text += L' ';
    }
    return tk_rtrim(text);
}

std::wstring sql_database::refine_view_in(const std::wstring& text_in) const
{
    tk_write_wlog(2, L"sql_database::refine_view_in(%s)", text_in.c_str());
    std::wstring text = up_to_nul(sql_view_converter::collapse_white_space(text_in));
    text = up_to_nul(names_map.do_global_replace1(text, L"`", L"`"));
    tk_write_wlog(2, L"After do_global_replace: result=%s", text.c_str());

    // Rules on tokens: '[x]' or 'isnull(' inside a string, a quoted name or a comment stays
    // as it is.
    const udb_view_reader reader(text);
    const std::vector<udb_token>& tokens = reader.tokens();
    std::vector<std::wstring> out(tokens.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const udb_token& t = tokens[i];
        out[i] = t.text;
        if (t.kind == udb_token_kind::name && !t.text.empty() && t.text.front() == L'[')
            out[i] = sql_quote_wname(t.value);  // another dialect's [name]
    }
    // The arguments of the call whose name is token i: -1 when no parenthesis follows.
    auto argument_count = [&](std::size_t i) {
        std::size_t k = reader.next(i);
        if (!reader.is_symbol(k, L'(')) return -1;
        int depth = 0, commas = 0;
        for (; k != std::wstring::npos; k = reader.next(k)) {
            if (reader.is_symbol(k, L'(')) ++depth;
            else if (reader.is_symbol(k, L')') && --depth == 0) break;
            else if (depth == 1 && reader.is_symbol(k, L',')) ++commas;
        }
        return commas + 1;
    };
    struct rule {
        const wchar_t* searched;
        const wchar_t* replacement;  // nullptr: the datediff rule (its first argument goes)
        int arguments;               // 0: any number, as long as the name is called
    };
    static const rule rules[] = {{L"isnull", L"ifnull", 2},    {L"getdate", L"curdate", 0},
                                 {L"len", L"length", 0},      {L"datediff", nullptr, 0},
                                 {L"dateadd", L"date_add", 2}, {L"replicate", L"repeat", 2}};
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != udb_token_kind::word) continue;
        for (const rule& r : rules) {
            if (!reader.is_word(i, r.searched)) continue;
            const int arguments = argument_count(i);
            if (arguments < 0 || (r.arguments != 0 && arguments != r.arguments)) break;
            if (r.replacement) {
                out[i] = r.replacement;
                break;
            }
            // datediff(day, a, b): MySQL's takes the two dates only.
            for (std::size_t k = reader.next(i) + 1; k < tokens.size(); ++k) {
                const bool comma = reader.is_symbol(k, L',');
                tk_write_log(1, "Erase token=%d", static_cast<int>(k));
                out[k].clear();
                if (comma) break;
            }
            break;
        }
    }
    text.clear();
    for (const std::wstring& piece : out) text += piece;
    text += L";";
    return up_to_nul(text);
}

bool sql_view_converter::check_isnull_for_replace(const std::wstring& text, std::int32_t pos)
{
    tk_write_wlog(1, L"sql_view_converter::check_isnull_for_replace(%s,%d)", text.c_str(), pos);
    if (pos < 0 || static_cast<std::size_t>(pos) >= text.size()) return false;
    std::size_t i = static_cast<std::size_t>(pos) + 6;
    if (i >= text.size()) return false;
    int depth = 0, commas = 0;
    for (; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'(') ++depth;
        else if (c == L',') ++commas;
        else if (c == L')') {
            --depth;
            if (depth == 0) break;
        }
    }
    return commas == 1;
}

std::wstring sql_view_converter::collapse_white_space(const std::wstring& text)
{
    std::wstring out;
    out.reserve(text.size());
    bool in_single = false, in_double = false, last_blank = false;
    for (wchar_t c : text) {
        const bool quoted = in_single || in_double;
        if (!quoted && (c == L'\r' || c == L'\n' || c == L'\t' || c == L' ')) {
            if (!last_blank) out += L' ';
            last_blank = true;
            continue;
        }
        out += c;
        last_blank = false;
        if (c == L'\'' && !in_double) in_single = !in_single;
        else if (c == L'"' && !in_single) in_double = !in_double;
    }
    return out;
}

std::unique_ptr<udb_recordset> sql_database::get_table(const std::wstring& table, std::int32_t mode_)
{
    tk_write_wlog(2, L"sql_database::get_table(%s)", table.c_str());
    if (!is_table_exist(table)) {
        tk_write_wlog(2, L"Table '%s' does not exists", table.c_str());
        throw tk_exception(L"Table '" + table + L"' does not exist in the MySQL database '" + name + L"'", 0);
    }
    sql_engine::instance()->use_plain_sql_text();
    // The server compares table names by case on most systems: use the name as listed.
    const std::wstring& listed = table_names[static_cast<std::size_t>(find_table(table))];
    return std::make_unique<sql_table>(this, listed, relationships, mode_);
}

std::unique_ptr<udb_recordset> sql_database::get_query(const std::wstring& query_name, const std::wstring& sql_text,
                                                       std::int32_t)
{
    tk_write_wlog(2, L"sql_database::get_query(%s,%s)", query_name.c_str(), sql_text.c_str());
    sql_engine::instance()->use_source_sql_text();
    return std::make_unique<sql_recordset>(this, query_name, sql_text, relationships);
}

std::wstring sql_database::quote_table_name(const std::wstring& table) const
{
    return sql_quote_wname(table);
}

std::wstring sql_database::key_condition_term(const t_ftd& column, const std::wstring& value) const
{
    return sql_sync::condition_term(column, value);
}

// --- the writing side ---------------------------------------------------------------------------

namespace {

constexpr std::uint32_t version_3_23_35 = 0x031723;
constexpr std::uint32_t version_4_0_23 = 0x040017;

// A foreign key's rule ("ON DELETE CASCADE ON UPDATE SET NULL") goes into the statement as it
// stands, so it may hold only words.
bool is_rule_text(const std::wstring& s)
{
    for (wchar_t c : s)
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L' ' || c == L'_')) return false;
    return true;
}

std::wstring property_of(udb_properties* p, const wchar_t* key)
{
    return p ? p->get_property(key) : std::wstring();
}

// Unlocks the tables locked for one foreign key on every way out, errors and aborts included.
class table_lock {
public:
    explicit table_lock(sql_database& db) : db_(db) {}
    table_lock(const table_lock&) = delete;
    table_lock& operator=(const table_lock&) = delete;
    void lock(const std::string& statement)
    {
        tk_write_log(3, "Locking query: '%s'", statement.c_str());
        db_.query_append(statement);
        locked_ = true;
    }
    ~table_lock()
    {
        if (!locked_) return;
        try {
            db_.query_append("UNLOCK TABLES");
        } catch (const std::exception& e) {
            tk_write_log(3, "Cannot unlock tables: %s", e.what());
        }
    }

private:
    sql_database& db_;
    bool locked_ = false;
};

// Puts foreign key checks back as the session had them when the key creation ends by any path
// (the engine runs its session without them, so that tables can be filled in any order).
class fk_checks_restorer {
public:
    fk_checks_restorer(sql_database& db, bool on) : db_(db), on_(on) {}
    fk_checks_restorer(const fk_checks_restorer&) = delete;
    fk_checks_restorer& operator=(const fk_checks_restorer&) = delete;
    ~fk_checks_restorer()
    {
        try {
            db_.query_append(on_ ? "SET FOREIGN_KEY_CHECKS = 1" : "SET FOREIGN_KEY_CHECKS = 0");
        } catch (const std::exception& e) {
            tk_write_log(2, "Cannot turn ON foreign key check: %s", e.what());
        }
    }

private:
    sql_database& db_;
    bool on_;
};

// Whether the session checks foreign keys now (true when it cannot be read).
bool foreign_key_checks_on(sql_database& db)
{
    try {
        auto rs = db.run_query("SELECT @@foreign_key_checks");
        if (!rs) return true;
        rs->reset();
        if (rs->is_eof()) return true;
        udb_record* r = rs->get_item();
        return !(r && r->size() > 0 && (*r)[0].to_string() == "0");
    } catch (const std::exception& e) {
        tk_write_log(2, "Cannot read foreign key check: %s", e.what());
        return true;
    }
}

}  // namespace

std::unique_ptr<udb_recordset> sql_database::create_table1(const std::wstring& table, udb_schema& columns,
                                                           udb_indexes& table_indexes)
{
    tk_write_wlog(2, L"sql_database::create_table(%s)", table.c_str());
    if (mode & mode_read_only) throw tk_mail_assertion("sql_db", 336);
    if (is_table_exist(table)) return get_table(table, 8);

    sql_engine* engine = sql_engine::instance();
    std::wstring stmt = L"CREATE TABLE " + engine->get_safe_name(table) + L" (";
    udb_properties* mutator = engine->get_properties() ? engine->get_properties()->get_mutator_by_new_name(table) : nullptr;

    std::wstring auto_increment;
    sql_schema_initializer schema_builder(table, columns, table_indexes, auto_increment);
    std::vector<std::wstring> chunks;
    schema_builder.get_init_chunks(chunks, mutator);
    if (!table_indexes.empty() || !auto_increment.empty()) {
        sql_indexes_initializer index_builder(schema_builder.get_columns(), table_indexes, auto_increment,
                                              schema_builder.get_names_map());
        index_builder.get_init_chunks(chunks);
    }
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (i) stmt += L", ";
        stmt += chunks[i];
    }
    stmt += L")";

    const std::wstring charset = property_of(mutator, L"character set");
    if (!charset.empty()) {
        if (!sql_is_plain_word(charset)) throw tk_exception(L"Invalid character set name '" + charset + L"'", 0);
        stmt += L" character set " + charset;
    }
    const std::uint32_t version = engine->get_server_version();
    std::wstring type = property_of(mutator, L"engine");
    if (type.empty()) type = version < version_3_23_35 ? std::wstring(L"MyISAM") : engine->get_table_type();
    if (!sql_is_plain_word(type)) throw tk_exception(L"Invalid table type '" + type + L"'", 0);
    stmt += (version >= version_4_0_23 ? L" ENGINE=" : L" TYPE=") + type;

    const std::string utf8 = tk_unicode_to_utf8(stmt);
    tk_write_log(2, "Run SQL-query: %s\n", utf8.c_str());
    if (mysql_real_query(connection, utf8.data(), static_cast<unsigned long>(utf8.size())) != 0)
        throw sql_exception(connection, utf8);
    table_names.push_back(table);
    tk_write_log(1, "Step #1");
    tk_write_wlog(2, L"udb_names_map::add_fn_map(%s)", table.c_str());
    names_map.add_fn_map(table, schema_builder.get_names_map().get_map());
    tk_write_log(1, "Step #2");
    return get_table(table, 2);
}

void sql_database::create_views(const udb_view_list& new_views)
{
    tk_write_log(2, "sql_database::create_views");
    std::vector<std::wstring> view_names;
    view_names.reserve(new_views.size());
    for (const auto& v : new_views) view_names.push_back(v.first);
    sql_engine* engine = sql_engine::instance();
    auto validator = engine->create_tn_validator(view_names, {});
    for (const auto& [view, text] : new_views) {
        tk_write_wlog(2, L"Processing '%s'", view.c_str());
        tk_write_wlog(2, L"\t'%s'", text.c_str());
        try {
            if (text.size() < 6 || !tk_equal_no_case(std::wstring_view(text).substr(0, 6), std::wstring_view(L"select"))) {
                tk_write_log(2, "Skip non-select query");
                continue;
            }
            std::wstring new_name = view;
            if (!validator->is_acceptable(view)) {
                new_name = validator->get_safe_name(view);
                tk_write_wlog(2, L"udb_names_map::add_tn_mapping(%s,%s)", view.c_str(), new_name.c_str());
                add_tn_mapping(view, new_name);
                tk_write_wlog(2, L"Store generated view name '%s'", new_name.c_str());
                validator->add_existing_name(new_name);
            }
            query(L"CREATE OR REPLACE VIEW " + engine->get_safe_name(new_name) + L" AS " + refine_view_in(text));
        } catch (const tk_exception& e) {
            tk_write_log(2, "Error while creating view:\n%s\n", e.what());
            udb_report_failure(udb_failure_of(udb_failure_kind::view, std::wstring(), L"View '" + view + L"'", e));
        }
    }
}

void sql_database::create_relationships(const std::vector<udb_relationship>& keys)
{
    tk_write_log(2, "sql_database::create_relationships");
    tk_write_log(3, "Converting foreign keys");
    sql_engine* engine = sql_engine::instance();
    if (engine->get_server_version() < sql_engine::version_3_23_44) {
        tk_write_log(3, "This version of MySQL doesn't support Foreign Keys");
        return;
    }
    if (mode == mode_append) {
        tk_write_log(3, "Foreign keys are not converted in append mode");
        return;
    }
    const bool checks_were_on = foreign_key_checks_on(*this);
    try {
        query_append("SET FOREIGN_KEY_CHECKS = 0");
    } catch (const tk_exception& e) {
        tk_write_log(2, "Cannot turn OFF foreign key check: %s", e.what());
    }
    fk_checks_restorer restore_checks(*this, checks_were_on);
    auto validator = engine->create_in_validator({});
    for (const udb_relationship& key : keys) {
        tk_write_wlog(3, L"Processing '%s'", key.name.c_str());
        try {
            table_lock locks(*this);
            const std::wstring child = names_map.get_tn_mapped_name(key.table, false);
            tk_write_wlog(1, L"fk_table_name=%s", child.c_str());
            if (!is_table_exist(child)) throw tk_exception(L"Table '" + child + L"' not exists", 0);
            const std::wstring parent = names_map.get_tn_mapped_name(key.ref_table, false);
            tk_write_wlog(1, L"pk_table_name=%s", parent.c_str());
            if (!is_table_exist(parent)) throw tk_exception(L"Table '" + parent + L"' not exists", 0);
            if (!is_rule_text(key.rule)) throw tk_exception(L"Invalid foreign key rule '" + key.rule + L"'", 0);

            // A table that refers to itself is locked once (the server refuses a name twice).
            std::wstring lock = L"LOCK TABLES " + engine->get_safe_name(parent) + L" WRITE";
            if (!tk_equal_no_case(parent, child)) lock += L", " + engine->get_safe_name(child) + L" WRITE";
            locks.lock(tk_unicode_to_utf8(lock));

            create_fk_index_if(child, key.fk_flds);
            create_fk_index_if(parent, key.pk_flds);

            std::wstring constraint = key.name;
            if (!validator->is_acceptable(constraint)) {
                constraint = validator->get_safe_name(key.name);
                tk_write_wlog(2, L"Store generated index name '%s'", constraint.c_str());
                validator->add_existing_name(constraint);
            }
            validator->restricted_names.push_back(constraint);

            auto column_list = [&](const std::wstring& table, const std::vector<std::wstring>& fields) {
                std::wstring out;
                for (std::size_t i = 0; i < fields.size(); ++i) {
                    if (i) out += L", ";
                    out += engine->get_safe_name(names_map.get_fn_mapped_name(table, fields[i]));
                }
                return out;
            };
            std::wstring stmt = L"ALTER TABLE " + engine->get_safe_name(child) + L" ADD CONSTRAINT " +
                                engine->get_safe_name(constraint) + L" FOREIGN KEY(" + column_list(child, key.fk_flds) +
                                L") REFERENCES " + engine->get_safe_name(parent) + L"(" +
                                column_list(parent, key.pk_flds) + L")";
            if (!key.rule.empty()) stmt += L" " + key.rule;
            const std::string utf8 = tk_unicode_to_utf8(stmt);
            tk_write_log(3, "Foreign key query: '%s'", utf8.c_str());
            query_append(utf8);
        } catch (const tk_exception& e) {
            tk_write_log(3, "Error while creating FK:\n%s\n", e.what());
            const std::wstring prefix = key.name.empty() ? key.table : L"Foreign key '" + key.name + L"'";
            tk_exception report(std::string("Cannot create foreign key. ") + e.what(), 0);
            udb_report_failure(udb_failure_of(udb_failure_kind::foreign_key, key.table, prefix, report));
        }
    }
}

void sql_database::delete_fk(const udb_relationship& key)
{
    tk_write_wlog(2, L"sql_database::delete_fk(%s)", key.name.c_str());
    if (mode & mode_read_only) throw tk_mail_assertion("sql_db", 460);
    sql_engine* engine = sql_engine::instance();
    const std::wstring child = names_map.get_tn_mapped_name(key.table, false);
    query_append(tk_unicode_to_utf8(L"ALTER TABLE " + engine->get_safe_name(child) + L" DROP FOREIGN KEY " +
                                    engine->get_safe_name(key.name)));
}

void sql_database::create_fk_index_if(const std::wstring& table, const std::vector<std::wstring>& columns)
{
    tk_write_wlog(2, L"sql_database::create_fk_index_if(%s)", table.c_str());
    auto opened = get_table(table, 0x61);
    if (!opened) throw tk_mail_assertion("sql_db", 292);
    sql_engine* engine = sql_engine::instance();
    std::vector<std::wstring> mapped;
    mapped.reserve(columns.size());
    for (const auto& c : columns) mapped.push_back(names_map.get_fn_mapped_name(table, c));
    tk_write_log(1, "udb_indexes::has_index_on_fields");
    if (opened->get_indexes().has_index_on_fields(mapped)) {
        tk_write_wlog(2, L"Index for table '%s' exists", table.c_str());
        return;
    }
    tk_write_wlog(2, L"Index for table '%s' does NOT exist", table.c_str());
    opened.reset();
    std::wstring stmt = L"ALTER TABLE " + engine->get_safe_name(table) + L" ADD INDEX (";
    for (std::size_t i = 0; i < mapped.size(); ++i) {
        if (i) stmt += L", ";
        stmt += engine->get_safe_name(mapped[i]);
    }
    stmt += L")";
    try {
        query_append(tk_unicode_to_utf8(stmt));
    } catch (const sql_exception& e) {
        tk_write_log(2, "Error while creating index for FK:\n%s\n", e.what());
    }
}

bool sql_database::delete_tab(const std::wstring& table)
{
    tk_write_wlog(2, L"sql_database::delete_tab (%s)", table.c_str());
    if (mode & mode_read_only) throw tk_mail_assertion("sql_db", 446);
    if (!is_table_exist(table)) throw tk_mail_assertion("sql_db", 447);
    const std::wstring& listed = table_names[static_cast<std::size_t>(find_table(table))];
    const std::string stmt = "DROP TABLE IF EXISTS " + tk_unicode_to_utf8(sql_engine::instance()->get_safe_name(listed)) + " CASCADE";
    if (mysql_real_query(connection, stmt.data(), static_cast<unsigned long>(stmt.size())) != 0)
        throw sql_exception(connection, stmt);
    return udb_database::delete_tab(table);
}

void sql_database::empty_table(const std::wstring& table)
{
    udb_database::empty_table(table);
}

void sql_database::query_append(const std::string& statement)
{
    tk_write_log(2, "sql_database::query_append(q_len=%d)", static_cast<int>(statement.size()));
    tk_write_log(1, "sql_database::do_query1(%.*s)", static_cast<int>(statement.size() > 1000 ? 1000 : statement.size()),
                 statement.data());
    mysql_real_query(connection, statement.data(), static_cast<unsigned long>(statement.size()));
    sql_result_ptr result(mysql_use_result(connection));
    if (mysql_errno(connection) != 0) {
        tk_write_log(3, "QUERY=%.*s", static_cast<int>(statement.size() > 1000 ? 1000 : statement.size()), statement.data());
        throw sql_exception(connection, statement.size() > 4096 ? statement.substr(0, 4096) : statement);
    }
}

void sql_database::prepared_statement(const std::string& statement, const udb_record& row, std::int32_t placeholders)
{
    std::vector<const udb_field*> fields;
    fields.reserve(row.size());
    for (std::size_t i = 0; i < row.size(); ++i) fields.push_back(row.get(i));
    prepared_statement(statement, fields, placeholders, row.get_total_size());
}

void sql_database::prepared_statement(const std::string& statement, const std::vector<const udb_field*>& fields,
                                      std::int32_t placeholders, std::uint64_t row_size)
{
    tk_write_log(1, "sql_database::prepared_statement(%.*s, %d)",
                 static_cast<int>(statement.size() > 1000 ? 1000 : statement.size()), statement.data(), placeholders);
    sql_stmt_ptr stmt(mysql_stmt_init(connection));
    if (!stmt) throw sql_prep_stmt_failed_exception();
    if (mysql_stmt_prepare(stmt.get(), statement.data(), static_cast<unsigned long>(statement.size())) != 0) {
        tk_write_log(2, "mysql_stmt_prepare failed: error=%s", mysql_stmt_error(stmt.get()));
        throw sql_prep_stmt_failed_exception();
    }
    const std::size_t n = placeholders > 0 ? static_cast<std::size_t>(placeholders) : 0;
    std::vector<MYSQL_BIND> binds(n);
    std::vector<unsigned long> lengths(n, 0);
    std::vector<const udb_field*> bound;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const udb_field* f = fields[i];
        if (f && f->get_type() != VT_EMPTY && f->get_data_size() > sql_long_data_threshold) {
            if (bound.size() >= n) {
                tk_write_log(2, "More long values than placeholders");
                throw sql_prep_stmt_failed_exception();
            }
            const std::size_t k = bound.size();
            std::memset(&binds[k], 0, sizeof(MYSQL_BIND));
            binds[k].buffer_type = MYSQL_TYPE_BLOB;
            binds[k].length = &lengths[k];
            tk_write_log(1, "Binding field #%d", static_cast<int>(i));
            bound.push_back(f);
        } else {
            tk_write_log(1, "Field #%d is not supposed to be bound", static_cast<int>(i));
        }
    }
    if (n > 0 && mysql_stmt_bind_param(stmt.get(), binds.data()) != 0) {
        tk_write_log(2, "Binding failed: error=%s", mysql_stmt_error(stmt.get()));
        throw sql_prep_stmt_failed_exception();
    }
    std::string chunk;
    for (std::size_t k = 0; k < bound.size(); ++k) {
        const udb_field& f = *bound[k];
        tk_write_log(1, "Reading field #%d (size=%d)", static_cast<int>(k), static_cast<int>(f.get_data_size()));
        // Bytes go as they are; a text goes as UTF-8, a slice of characters at a time (zero
        // characters included).
        std::size_t total = f.is_binary() ? f.get_byte_vector().size() : f.get_wstring().size();
        for (std::size_t pos = 0; pos < total; pos += long_data_chunk) {
            const std::size_t len = std::min<std::size_t>(long_data_chunk, total - pos);
            const char* data;
            unsigned long size;
            if (f.is_binary()) {
                data = reinterpret_cast<const char*>(f.get_byte_vector().data() + pos);
                size = static_cast<unsigned long>(len);
            } else {
                chunk = pf_wide_to_utf8(std::wstring_view(f.get_wstring()).substr(pos, len));
                data = chunk.data();
                size = static_cast<unsigned long>(chunk.size());
            }
            tk_write_log(1, "pos=%d", static_cast<int>(pos));
            if (mysql_stmt_send_long_data(stmt.get(), static_cast<unsigned>(k), data, size) != 0) {
                tk_write_log(2, "mysql_stmt_send_long_data failed (pos=%d, res=%d, error=%s)", static_cast<int>(pos), 1,
                             mysql_stmt_error(stmt.get()));
                throw sql_prep_stmt_failed_exception();
            }
        }
    }
    if (mysql_stmt_execute(stmt.get()) != 0) {
        tk_write_log(3, "QUERY=%.*s", static_cast<int>(statement.size() > 1000 ? 1000 : statement.size()), statement.data());
        tk_write_log(3, "mysql_stmt_execute failed: error=%s", mysql_stmt_error(stmt.get()));
        tk_write_log(3, "row size=%d", static_cast<int>(row_size));
        throw sql_prep_stmt_failed_exception();
    }
}

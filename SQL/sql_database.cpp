#include "SQL/sql_database.h"

#include "SQL/sql_engine.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_recordset.h"
#include "SQL/sql_table.h"
#include "SQL/sql_tmp_recordset.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

namespace {

[[noreturn]] void not_supported_yet(const char* what)
{
    throw tk_exception(std::string("Writing to a MySQL database is not supported yet (") + what + ")", 1);
}

// Case-insensitive search of an ASCII word (function names, the database prefix).
std::size_t find_no_case(const std::wstring& text, const std::wstring& word, std::size_t from)
{
    if (word.empty() || text.size() < word.size()) return std::wstring::npos;
    for (std::size_t i = from; i + word.size() <= text.size(); ++i) {
        if (tk_equal_no_case(std::wstring_view(text).substr(i, word.size()), std::wstring_view(word))) return i;
    }
    return std::wstring::npos;
}

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
    tk_write_wlog(2, L"sql_database::query(%s)", statement.c_str());
    std::string text = tk_unicode_to_utf8(statement);
    sql_stmt_ptr stmt(mysql_stmt_init(connection));
    if (!stmt) return false;
    if (mysql_stmt_prepare(stmt.get(), text.data(), static_cast<unsigned long>(text.size())) != 0) {
        tk_write_log(2, "Statement refused: %s", mysql_stmt_error(stmt.get()));
        return false;
    }
    return true;
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

std::wstring sql_database::refine_view_out(const std::wstring& text_in) const
{
    tk_write_wlog(2, L"sql_database::refine_view_out(%s)", text_in.c_str());
    std::wstring text = up_to_nul(text_in);
    std::size_t open = text.find(L"/*");
    if (open != std::wstring::npos) {
        std::size_t close = text.find(L"*/", open);
        if (close != std::wstring::npos) text.erase(open, close + 2 - open);
    }
    // The server writes names as `db`.`table`; inside the database the prefix is noise (and
    // would tie the view to the source database's name).
    const std::wstring prefix = sql_quote_wname(name) + L".";
    for (std::size_t p = find_no_case(text, prefix, 0); p != std::wstring::npos; p = find_no_case(text, prefix, p)) {
        tk_write_log(1, "Remove template found at pos=%d", static_cast<int>(p));
        text.erase(p, prefix.size());
    }
    return up_to_nul(text);
}

std::wstring sql_database::refine_view_in(const std::wstring& text_in) const
{
    tk_write_wlog(2, L"sql_database::refine_view_in(%s)", text_in.c_str());
    std::wstring text = up_to_nul(sql_view_converter::collapse_white_space(text_in));
    text = up_to_nul(names_map.do_global_replace1(text, L"`", L"`"));
    tk_write_wlog(2, L"After do_global_replace: result=%s", text.c_str());
    for (auto& c : text)
        if (c == L'[' || c == L']') c = L'`';
    tk_write_wlog(2, L"After replacing []: result=%s", text.c_str());

    struct rule {
        const wchar_t* searched;
        const wchar_t* replacement;  // nullptr: the datediff rule
        bool two_args_only;
    };
    static const rule rules[] = {{L"isnull", L"ifnull", true},   {L"getdate", L"curdate", false},
                                 {L"len(", L"length(", false},  {L"datediff(", nullptr, false},
                                 {L"dateadd", L"date_add", true}, {L"replicate", L"repeat", true}};
    for (const auto& r : rules) {
        const std::wstring word = r.searched;
        std::size_t p = find_no_case(text, word, 0);
        while (p != std::wstring::npos) {
            std::size_t next_from;
            if (!r.replacement) {
                std::size_t q = p + word.size();
                std::size_t comma = text.find(L',', q);
                std::size_t len = comma == std::wstring::npos ? text.size() - q : comma + 1 - q;
                tk_write_log(1, "Erase at pos=%d, len=%d", static_cast<int>(q), static_cast<int>(len));
                text.erase(q, len);
                next_from = q;
            } else if (!r.two_args_only || sql_view_converter::check_isnull_for_replace(text, static_cast<std::int32_t>(p))) {
                text.replace(p, word.size(), r.replacement);
                next_from = p + word.size();
            } else {
                next_from = p + word.size();
            }
            p = find_no_case(text, word, next_from);
        }
    }
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
    // The server compares table names by case on most systems: use the name as listed.
    const std::wstring& listed = table_names[static_cast<std::size_t>(find_table(table))];
    return std::make_unique<sql_table>(this, listed, relationships, mode_);
}

std::unique_ptr<udb_recordset> sql_database::get_query(const std::wstring& query_name, const std::wstring& sql_text,
                                                       std::int32_t)
{
    tk_write_wlog(2, L"sql_database::get_query(%s,%s)", query_name.c_str(), sql_text.c_str());
    return std::make_unique<sql_recordset>(this, query_name, sql_text, relationships);
}

std::wstring sql_database::quote_table_name(const std::wstring& table) const
{
    return sql_quote_wname(table);
}

// --- the writing side: not built yet ----------------------------------------------------------

std::unique_ptr<udb_recordset> sql_database::create_table1(const std::wstring&, udb_schema&, udb_indexes&)
{
    not_supported_yet("create table");
}

void sql_database::create_views(const udb_view_list&)
{
    not_supported_yet("create views");
}

bool sql_database::delete_tab(const std::wstring&)
{
    not_supported_yet("drop table");
}

void sql_database::empty_table(const std::wstring& table)
{
    udb_database::empty_table(table);
}

void sql_database::create_relationships(const std::vector<udb_relationship>&)
{
    not_supported_yet("create foreign keys");
}

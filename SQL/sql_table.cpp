#include "SQL/sql_table.h"

#include <cwchar>

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_fk_parser.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_tmp_recordset.h"
#include "SQL/sql_types.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

namespace {

[[noreturn]] void not_supported_yet(const char* what)
{
    throw tk_exception(std::string("Writing to a MySQL table is not supported yet (") + what + ")", 1);
}

std::wstring text_of(const udb_field& f)
{
    return f.is_empty() ? std::wstring() : f.to_wstring();
}

// MariaDB writes the current-time default as "current_timestamp()" or, with a precision,
// "current_timestamp(6)"; MySQL as CURRENT_TIMESTAMP.
bool is_current_timestamp(const std::wstring& text)
{
    static const std::wstring word = L"current_timestamp";
    if (text.size() < word.size() || !tk_equal_no_case(std::wstring_view(text).substr(0, word.size()), std::wstring_view(word)))
        return false;
    std::wstring_view rest = std::wstring_view(text).substr(word.size());
    if (rest.empty()) return true;
    if (rest.front() != L'(' || rest.back() != L')') return false;
    for (wchar_t c : rest.substr(1, rest.size() - 2))
        if (c < L'0' || c > L'9') return false;
    return true;
}

// Reads "word(n" at the start of a type text; n must follow directly.
bool leading_size(const std::wstring& type, const wchar_t* word, unsigned long& n)
{
    std::size_t len = std::wcslen(word);
    if (type.compare(0, len, word) != 0) return false;
    wchar_t* end = nullptr;
    const wchar_t* start = type.c_str() + len;
    if (*start < L'0' || *start > L'9') return false;
    n = std::wcstoul(start, &end, 10);
    return end != start;
}

}  // namespace

sql_table::sql_table(sql_database* database_, const std::wstring& name_, std::vector<udb_relationship>& relationships_,
                     std::int32_t mode)
    : sql_recordset(database_, name_, relationships_)
{
    tk_write_log(2, "sql_table::ctor");
    initialize(mode);
}

sql_table::~sql_table()
{
    tk_write_log(2, "sql_table::dtor");
    pending_insert.clear();
}

void sql_table::initialize(std::int32_t mode)
{
    tk_write_log(2, "sql_table::initialize(%d)", mode);
    read_columns();
    if ((mode & ~0x60) == 0) {
        tk_write_log(2, "Mode=no_indexes, nothing to do");
        return;
    }
    read_indexes();
    if (sql_engine::instance()->get_server_version() >= sql_engine::version_3_23_44) read_foreign_keys();
}

void sql_table::read_columns()
{
    sql_blob_to_text_scope text_scope;
    sql_engine* engine = sql_engine::instance();
    std::string stmt = "SHOW COLUMNS FROM ";
    std::string n = tk_unicode_to_utf8(name);
    if (engine->is_old_version()) stmt += n;
    else sql_append_quoted_name(stmt, n);
    auto rs = db().run_query(stmt);
    if (!rs) return;
    rs->reset();
    while (!rs->is_eof()) {
        udb_record& row = *rs->get_item();
        if (row.size() < 2) throw std::out_of_range("invalid vector subscript");
        std::wstring col = text_of(row[0]);
        std::wstring type = text_of(row[1]);
        tk_write_wlog(2, L"Field '%s' has type: %s", col.c_str(), type.c_str());
        t_ftd& d = schema.get_field1(col);

        unsigned long n1 = 0;
        int p = 0, s = 0;
        if (leading_size(type, L"varchar(", n1) || leading_size(type, L"char(", n1)) {
            // The declared length in characters (the description gives bytes).
            tk_write_log(2, "Refining type/size for varchar(%d)", static_cast<int>(n1));
            d.vartype = VT_BSTR;
            d.size = static_cast<std::uint32_t>(n1);
        } else if (std::swscanf(type.c_str(), L"float(%d,%d)", &p, &s) == 2) {
            tk_write_log(2, "Refining type for FLOAT(%d,%d)", p, s);
            if (p != 0 && s != 0 && p > s) {
                d.vartype = VT_DECIMAL;
                d.precision = p;
                d.scale = s;
            }
        } else if (type.size() >= 4 && (type.compare(type.size() - 4, 4, L"text") == 0 ||
                                        type.compare(type.size() - 4, 4, L"TEXT") == 0)) {
            tk_write_log(2, "Change type from BLOB to TEXT");
            d.vartype = VT_BSTR;
        }

        std::wstring def = row.size() >= 2 ? text_of(row[row.size() - 2]) : std::wstring();
        const bool def_is_null = row.size() >= 2 && row[row.size() - 2].is_empty();
        tk_write_wlog(2, L"Got default value: %s", def.c_str());
        if (!d.b_not_null && def.empty()) {
            rs->next();
            continue;
        }
        tk_write_log(2, "Default value's type: %08X", static_cast<unsigned>(d.vartype));
        switch (d.vartype) {
        case VT_DATE:
            if (def.empty() || def == L"0000-00-00" || def == L"0000-00-00 00:00:00" || def == L"00000000000000") {
                tk_write_log(2, "Skip empty def.values for date column");
                d.b_not_null = false;
            } else if (is_current_timestamp(def)) {
                tk_write_log(2, "Special processing for CURRENT_TIMESTAMP");
                d.dw_reserved = 9;
            }
            break;
        case VT_BOOL:
            tk_write_log(2, "Special processing for boolean");
            if (tk_equal_no_case(def, std::wstring_view(L"b'0'"))) d.default_value = ole_variant(false);
            else if (tk_equal_no_case(def, std::wstring_view(L"b'1'"))) d.default_value = ole_variant(true);
            break;
        default:
            if (def_is_null) break;  // NULL default: none
            try {
                d.default_value = get_variant(d.vartype, def.c_str());
            } catch (const std::exception& e) {
                // A default the column's kind cannot hold (an expression, bytes) is dropped:
                // a wrong default would be worse than none.
                tk_write_log(2, "Default value dropped: %s", e.what());
            }
            break;
        }
        rs->next();
    }
}

void sql_table::read_indexes()
{
    std::string stmt = "SHOW INDEX FROM " + tk_unicode_to_utf8(sql_engine::instance()->get_safe_name(name));
    auto rs = db().run_query(stmt);
    if (!rs) return;
    rs->reset();
    while (!rs->is_eof()) {
        udb_record& row = *rs->get_item();
        if (row.size() < 5) throw std::out_of_range("invalid vector subscript");
        const bool unique = !row[1].to_bool();
        std::wstring index_name = text_of(row[2]);
        const bool primary = index_name == L"PRIMARY";
        std::wstring column = text_of(row[4]);
        tk_write_wlog(2, L"Got index '%s' (primary=%d, unique=%d)", index_name.c_str(), primary ? 1 : 0, unique ? 1 : 0);
        if (!indexes.is_acceptable_name(index_name)) {
            indexes.get_index(index_name).fields.push_back(column);
        } else {
            add_index(udb_index(index_name, unique, primary, {column}));
        }
        rs->next();
    }
}

void sql_table::read_foreign_keys()
{
    tk_write_log(2, "Extracting foreign keys");
    std::string stmt = "SHOW CREATE TABLE " + tk_unicode_to_utf8(sql_engine::instance()->get_safe_name(name));
    auto rs = db().run_query(stmt);
    if (!rs) return;
    rs->reset();
    while (!rs->is_eof()) {
        udb_record& row = *rs->get_item();
        if (row.size() == 0) throw std::out_of_range("invalid vector subscript");
        std::string create_text = tk_unicode_to_utf8(text_of(row[row.size() - 1]));
        sql_fk_parser parser(name, create_text);
        parser.do_parse(*relationships);
        rs->next();
    }
}

// --- the writing side: not built yet ----------------------------------------------------------

void sql_table::append_record(udb_record&)
{
    not_supported_yet("append");
}

void sql_table::update2(udb_record&, const std::wstring&)
{
    not_supported_yet("update");
}

void sql_table::update1(udb_record&)
{
    not_supported_yet("update");
}

void sql_table::delete_key(const std::wstring&)
{
    not_supported_yet("delete");
}

void sql_table::delete_key(udb_record&)
{
    not_supported_yet("delete");
}

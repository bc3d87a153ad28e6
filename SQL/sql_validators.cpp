#include "SQL/sql_validators.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_index.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"

namespace {

constexpr std::uint32_t k_max_name = 64;

// Backtick, double quote, apostrophe, ^, *, backslash, semicolon, plus; table names also
// refuse the six characters after them.
constexpr wchar_t k_illegal[] = {L'`', L'"', L'\'', L'^', L'*', L'\\', L';', L'+',
                                 L'|', L':', L'<', L'>', L'?', L'/'};

bool old_rules_char(wchar_t c) { return sql_is_name_char_alnum(c) || c == L'_' || c == L'$'; }

bool all_digits(const std::wstring& s)
{
    for (wchar_t c : s)
        if (c < L'0' || c > L'9') return false;
    return true;
}

template <class V>
void add_record_names(V& v, const udb_record& record)
{
    tk_write_log(2, "Record size=%d", static_cast<int>(record.size()));
    for (std::size_t i = 0; i < record.size(); ++i)
        if (record.get(i)) v.add_existing_name(record.get(i)->get_name());
}

template <class V>
void add_schema_names(V& v, const udb_schema& schema)
{
    tk_write_log(2, "Schema size=%d", static_cast<int>(schema.size()));
    for (std::size_t i = 0; i < schema.size(); ++i)
        if (schema.get(i)) v.add_existing_name(schema[i].name);
}

}  // namespace

bool sql_is_name_char_alnum(wchar_t c) noexcept
{
    if ((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) return true;
    if (c < 0xC0 || c == 0xD7 || c == 0xF7) return false;
    if (c >= 0x2000 && c <= 0x2BFF) return false;  // punctuation, symbols, arrows, boxes
    if (c >= 0x3000 && c <= 0x303F) return false;  // CJK punctuation
    if (c >= 0xFF00 && c <= 0xFF0F) return false;  // full-width punctuation
    return true;
}

const std::vector<std::wstring>& sql_old_reserved_words()
{
    static const std::vector<std::wstring> words = {
        L"add", L"all", L"alter", L"and", L"as", L"asc", L"between", L"bigint", L"binary", L"blob",
        L"both", L"by", L"cascade", L"case", L"char", L"character", L"change", L"column", L"columns",
        L"constraint", L"create", L"cross", L"current_date", L"current_time", L"current_timestamp",
        L"database", L"databases", L"day_hour", L"day_minute", L"day_second", L"dec", L"decimal",
        L"default", L"delayed", L"delete", L"desc", L"describe", L"distinct", L"distinctrow",
        L"double", L"drop", L"else", L"escaped", L"enclosed", L"explain", L"exists", L"fields",
        L"float", L"float4", L"float8", L"foreign", L"from", L"for", L"grant", L"group", L"having",
        L"high_priority", L"hour_minute", L"hour_second", L"ignore", L"in", L"index", L"infile",
        L"inner", L"insert", L"insert_id", L"int", L"int1", L"int2", L"int3", L"int4", L"int8",
        L"integer", L"interval", L"into", L"if", L"is", L"join", L"key", L"keys", L"kill",
        L"last_insert_id", L"leading", L"left", L"like", L"lines", L"limit", L"load", L"lock",
        L"long", L"longblob", L"longtext", L"low_priority", L"match", L"mediumblob", L"mediumtext",
        L"mediumint", L"middleint", L"minute_second", L"natural", L"numeric", L"not", L"null", L"on",
        L"optimize", L"option", L"optionally", L"or", L"order", L"outer", L"outfile", L"partial",
        L"precision", L"primary", L"procedure", L"privileges", L"read", L"real", L"regexp",
        L"rename", L"replace", L"restrict", L"returns", L"revoke", L"rlike", L"select", L"set",
        L"show", L"smallint", L"soname", L"sql_big_tables", L"sql_big_selects",
        L"sql_low_priority_updates", L"sql_log_off", L"sql_log_update", L"sql_select_limit",
        L"sql_small_result", L"sql_big_result", L"sql_warnings", L"straight_join", L"starting",
        L"table", L"tables", L"terminated", L"then", L"tinyblob", L"tinytext", L"tinyint",
        L"trailing", L"to", L"usage", L"use", L"using", L"unique", L"unlock", L"unsigned",
        L"update", L"values", L"varchar", L"varying", L"varbinary", L"with", L"write", L"when",
        L"where", L"year_month", L"zerofill"};
    return words;
}

// --- new rules ---------------------------------------------------------------------------

sql_new_validator::sql_new_validator(bool table_names) : udb_validator(k_max_name)
{
    tk_write_log(2, "sql_new_validator::ctor");
    std::size_t n = table_names ? std::size(k_illegal) : 8;
    illegal_chars.assign(k_illegal, k_illegal + n);
}

bool sql_new_validator::is_acceptable(const std::wstring& name)
{
    tk_write_wlog(2, L"sql_new_validator::is_acceptable(%s)", name.c_str());
    if (name.empty() || name.size() > k_max_name) {
        tk_write_log(1, "Invalid length");
        return false;
    }
    if (name.front() == L' ' || name.back() == L' ') {
        tk_write_log(1, "ID cannot starts or ends with ' '");
        return false;
    }
    return udb_validator::is_acceptable(name);
}

std::wstring sql_new_validator::get_safe_name(const std::wstring& name)
{
    tk_write_wlog(2, L"sql_new_validator::get_safe_name(%s)", name.c_str());
    return udb_validator::get_safe_name(tk_trim(name));
}

sql_new_fn_validator::sql_new_fn_validator(const udb_record& record) : sql_new_validator(false)
{
    tk_write_log(2, "sql_new_fn_validator::ctor( const udb_record& )");
    add_record_names(*this, record);
    tk_write_log(1, "sql_new_fn_validator::ctor - end");
}

sql_new_fn_validator::sql_new_fn_validator(const udb_schema& schema) : sql_new_validator(false)
{
    tk_write_log(2, "sql_new_fn_validator::ctor( const udb_schema& )");
    add_schema_names(*this, schema);
    tk_write_log(1, "sql_new_fn_validator::ctor - end");
}

sql_new_in_validator::sql_new_in_validator(const std::vector<udb_index>& indexes) : sql_new_validator(false)
{
    tk_write_log(2, "sql_new_in_validator::ctor");
    for (const auto& ix : indexes) add_existing_name(ix.name);
}

sql_new_tn_validator::sql_new_tn_validator(const std::vector<std::wstring>& names1,
                                           const std::vector<std::wstring>& names2)
    : sql_new_validator(true)
{
    tk_write_log(2, "sql_new_tn_validator::ctor");
    for (const auto& n : names1) add_existing_name(n);
    for (const auto& n : names2) add_existing_name(n);
}

// --- old rules ---------------------------------------------------------------------------

sql_old_validator::sql_old_validator() : udb_validator(k_max_name)
{
    tk_write_log(2, "sql_old_validator::ctor");
    restricted_names = sql_old_reserved_words();
}

bool sql_old_validator::is_acceptable(const std::wstring& name)
{
    tk_write_wlog(2, L"sql_old_validator::is_acceptable(%s)", name.c_str());
    if (!udb_validator::is_acceptable(name)) return false;
    for (wchar_t c : name) {
        if (!old_rules_char(c)) {
            tk_write_wlog(2, L"Name contains invalid symbol: '%lc'", wint_t(c));
            return false;
        }
    }
    if (all_digits(name)) {
        tk_write_log(2, "Name consists of digits only");
        return false;
    }
    return true;
}

std::wstring sql_old_validator::get_safe_name(const std::wstring& name)
{
    tk_write_wlog(2, L"sql_old_validator::get_safe_name(%s)", name.c_str());
    std::wstring s = name;
    for (auto& c : s)
        if (!old_rules_char(c)) c = L'_';
    if (!s.empty() && all_digits(s)) s[0] = L'_';
    return udb_validator::get_safe_name(s);
}

sql_old_fn_validator::sql_old_fn_validator(const udb_record& record)
{
    tk_write_log(2, "sql_old_fn_validator::ctor( const udb_schema& )");
    add_record_names(*this, record);
}

sql_old_fn_validator::sql_old_fn_validator(const udb_schema& schema)
{
    tk_write_log(2, "sql_old_fn_validator::ctor( const udb_schema& )");
    add_schema_names(*this, schema);
}

sql_old_in_validator::sql_old_in_validator(const std::vector<udb_index>& indexes)
{
    tk_write_log(2, "sql_old_in_validator::ctor");
    for (const auto& ix : indexes) add_existing_name(ix.name);
}

sql_old_tn_validator::sql_old_tn_validator(const std::vector<std::wstring>& names1,
                                           const std::vector<std::wstring>& names2)
{
    tk_write_log(2, "sql_old_tn_validator::ctor");
    for (const auto& n : names1) add_existing_name(n);
    for (const auto& n : names2) add_existing_name(n);
}

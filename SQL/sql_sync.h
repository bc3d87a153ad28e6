#pragma once
// Turns a key text (<name>value</name> elements, values with &lt; &gt; &amp;, read by
// udb_parse_record_key) into the WHERE condition of a MySQL statement over one table of the
// database: names in backticks, values bare for numbers of numeric columns and hexadecimal or
// decimal texts of binary columns, else escaped literals that compare the column with the
// whole decoded value.
#include <string>

class sql_database;
class udb_schema;
struct t_ftd;

class sql_sync {
public:
    explicit sql_sync(sql_database& database);

    // Opens the table only to learn its column kinds. tk_exception when the table is not listed.
    std::wstring get_filter_subquery(const std::wstring& table, const std::wstring& key);
    // The same with the column kinds already at hand (a table writing its own rows), so that
    // no table is opened per row. udb_key_text_exception for a malformed key text,
    // udb_structure_exception for a name that is no column of the table.
    static std::wstring get_filter_subquery(const udb_schema& columns, const std::wstring& key);
    // One term of the condition: `column`=value, a literal value followed by a blank.
    static std::wstring condition_term(const t_ftd& column, const std::wstring& value);

private:
    sql_database* database;  // not owned
};

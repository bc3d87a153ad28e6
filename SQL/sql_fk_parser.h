#pragma once
// Foreign keys of one table, read from the text of SHOW CREATE TABLE: every line of the form
// CONSTRAINT `name` FOREIGN KEY (`a`, ...) REFERENCES `t` (`x`, ...) rule
// becomes one relationship record. The server writes one constraint per line with names in
// backticks; the text is UTF-8.
#include <string>
#include <string_view>
#include <vector>

class udb_relationship;

// One parsed line, still in UTF-8; kept separate so the line grammar can be tested alone.
struct sql_fk_line {
    std::string name;
    std::string ref_table;
    std::string fk_columns;  // the text between FOREIGN KEY and REFERENCES
    std::string pk_columns;  // the text inside the parentheses after the referenced table
    std::string rule;        // ON DELETE ... / ON UPDATE ..., possibly empty
};

// Parses one trimmed line; false when it is not a foreign-key line.
bool sql_parse_fk_line(std::string_view line, sql_fk_line& out);

class sql_fk_parser {
public:
    sql_fk_parser(std::wstring table_name, const std::string& create_table_text);

    // Appends one record per foreign-key line to the list (no test for one already there).
    void do_parse(std::vector<udb_relationship>& relationships) const;

    // Appends the names standing between pairs of backticks (a doubled backtick inside a
    // name is one backtick of the name); always true.
    static bool get_columns(const std::wstring& text, std::vector<std::wstring>& list);

private:
    std::wstring table_name_;
    std::vector<std::string> chunks_;
};

#include "SQL/sql_fk_parser.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_index.h"

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Position of an ASCII keyword in the line, letters compared without regard to case,
// skipping text inside backtick-quoted names and apostrophe-quoted literals (a column named
// `references` or a comment must not be taken for a keyword).
std::size_t find_keyword(std::string_view line, std::string_view keyword, std::size_t from)
{
    char quote = 0;
    for (std::size_t i = from; i < line.size(); ++i) {
        char c = line[i];
        if (quote) {
            if (c == quote) {
                if (i + 1 < line.size() && line[i + 1] == quote) ++i;  // doubled quote
                else quote = 0;
            } else if (c == '\\' && quote == '\'') {
                ++i;
            }
            continue;
        }
        if (c == '`' || c == '\'') {
            quote = c;
            continue;
        }
        if (i + keyword.size() > line.size()) return std::string_view::npos;
        bool hit = true;
        for (std::size_t k = 0; k < keyword.size(); ++k) {
            if (ascii_lower(line[i + k]) != ascii_lower(keyword[k])) {
                hit = false;
                break;
            }
        }
        if (hit) return i;
    }
    return std::string_view::npos;
}

std::string_view trim_blanks(std::string_view s)
{
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return s;
}

// Reads one identifier at `pos` (quoted with backticks, inner backticks doubled, or bare up
// to a blank, dot or parenthesis) and moves `pos` past it.
std::string read_identifier(std::string_view s, std::size_t& pos)
{
    std::string out;
    if (pos < s.size() && s[pos] == '`') {
        ++pos;
        while (pos < s.size()) {
            if (s[pos] == '`') {
                if (pos + 1 < s.size() && s[pos + 1] == '`') {
                    out += '`';
                    pos += 2;
                    continue;
                }
                ++pos;
                break;
            }
            out += s[pos++];
        }
        return out;
    }
    while (pos < s.size() && s[pos] != ' ' && s[pos] != '.' && s[pos] != '(') out += s[pos++];
    return out;
}

std::string unquote_name(std::string_view s)
{
    s = trim_blanks(s);
    std::size_t pos = 0;
    if (!s.empty() && s.front() == '`') {
        std::string name = read_identifier(s, pos);
        if (trim_blanks(s.substr(pos)).empty()) return name;
    }
    return std::string(s);
}

}  // namespace

bool sql_parse_fk_line(std::string_view line, sql_fk_line& out)
{
    constexpr std::string_view k_constraint = "CONSTRAINT ";
    constexpr std::string_view k_foreign = " FOREIGN KEY";
    constexpr std::string_view k_references = "REFERENCES ";

    // The server begins every constraint line with the keyword; requiring it at the start
    // keeps a column comment that happens to contain the words from being parsed.
    std::size_t c = find_keyword(line, k_constraint, 0);
    if (c != 0) {
        tk_write_log(1, "CONSTRAINT is not found");
        return false;
    }
    std::size_t f = find_keyword(line, k_foreign, c + k_constraint.size());
    if (f == std::string_view::npos) {
        tk_write_log(1, "FOREIGN KEY is not found");
        return false;
    }
    std::size_t r = find_keyword(line, k_references, f + k_foreign.size());
    if (r == std::string_view::npos) {
        tk_write_log(1, "REFERENCES is not found");
        return false;
    }
    out = {};
    out.name = unquote_name(line.substr(c + k_constraint.size(), f - c - k_constraint.size()));
    out.fk_columns = std::string(trim_blanks(line.substr(f + k_foreign.size(), r - f - k_foreign.size())));

    // Referenced table: one name, or database and table joined by a dot; the table is the
    // last part (a reference into another database is qualified by that database's name).
    std::size_t pos = r + k_references.size();
    while (pos < line.size() && line[pos] == ' ') ++pos;
    std::string table = read_identifier(line, pos);
    while (pos < line.size() && line[pos] == '.') {
        ++pos;
        table = read_identifier(line, pos);
    }
    out.ref_table = table;

    // Referenced columns: inside the next parentheses (quoted names may hold parentheses).
    std::size_t open = find_keyword(line, "(", pos);
    if (open != std::string_view::npos) {
        std::size_t close = find_keyword(line, ")", open + 1);
        std::size_t end = close == std::string_view::npos ? line.size() : close;
        out.pk_columns = std::string(trim_blanks(line.substr(open + 1, end - open - 1)));
        pos = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        pos = line.size();
    }
    std::string_view rule = pos < line.size() ? line.substr(pos) : std::string_view{};
    rule = trim_blanks(rule);
    if (!rule.empty() && rule.back() == ',') rule.remove_suffix(1);
    out.rule = std::string(trim_blanks(rule));
    return true;
}

sql_fk_parser::sql_fk_parser(std::wstring table_name, const std::string& create_table_text)
    : table_name_(std::move(table_name))
{
    tk_write_log(2, "sql_fk_parser::ctor(%s)", create_table_text.c_str());
    std::size_t start = 0;
    if (create_table_text.empty()) return;
    for (;;) {
        std::size_t lf = create_table_text.find('\n', start);
        if (lf == std::string::npos) {
            chunks_.push_back(create_table_text.substr(start));
            break;
        }
        chunks_.push_back(create_table_text.substr(start, lf - start));
        start = lf + 1;
    }
}

void sql_fk_parser::do_parse(std::vector<udb_relationship>& relationships) const
{
    tk_write_log(2, "sql_fk_parser::do_parse");
    tk_write_log(1, "Got %d chunks", static_cast<int>(chunks_.size()));
    for (std::size_t i = 0; i < chunks_.size(); ++i) {
        tk_write_log(1, "Processing FK chunk #%d", static_cast<int>(i));
        std::string_view line = trim_blanks(chunks_[i]);
        sql_fk_line fk;
        if (!sql_parse_fk_line(line, fk)) continue;
        tk_write_log(1, "Got FK name: %s", fk.name.c_str());
        tk_write_log(1, "Got PK table: %s", fk.ref_table.c_str());
        tk_write_log(1, "Got FK rule: %s", fk.rule.c_str());
        // The server's text is UTF-8 (the session runs utf8mb4), whatever the locale.
        std::vector<std::wstring> fk_cols, pk_cols;
        get_columns(tk_utf8_to_unicode(fk.fk_columns), fk_cols);
        get_columns(tk_utf8_to_unicode(fk.pk_columns), pk_cols);
        relationships.emplace_back(tk_utf8_to_unicode(fk.name), std::wstring(), table_name_,
                                   tk_utf8_to_unicode(fk.ref_table), fk_cols, pk_cols,
                                   tk_utf8_to_unicode(fk.rule));
    }
}

bool sql_fk_parser::get_columns(const std::wstring& text, std::vector<std::wstring>& list)
{
    tk_write_log(1, "sql_fk_parser::get_columns");
    bool inside = false;
    std::wstring name;
    for (std::size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'`') {
            if (inside && i + 1 < text.size() && text[i + 1] == L'`') {
                name += L'`';
                ++i;
                continue;
            }
            if (inside) {
                list.push_back(name);
                name.clear();
            }
            inside = !inside;
        } else if (inside) {
            name += c;
        }
    }
    return true;
}

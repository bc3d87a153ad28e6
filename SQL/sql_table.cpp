#include "SQL/sql_table.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "UDB/udb_failure.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_field_finder.h"
#include "SQL/sql_literals.h"
#include "SQL/sql_sync.h"
#include "SQL/sql_fk_parser.h"
#include "SQL/sql_quote.h"
#include "SQL/sql_tmp_recordset.h"
#include "SQL/sql_types.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_validator.h"
#include "platform/pf_text.h"

namespace {


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

// A column's default as the server keeps it in information_schema.COLUMNS.
struct stored_default {
    bool none = true;         // no default (or DEFAULT NULL)
    bool expression = false;  // an expression, not a literal
    std::wstring text;        // the literal's value, or the expression's text
    std::wstring on_update;   // the ON UPDATE clause of EXTRA ("on update current_timestamp(6)")
    std::string charset;      // the column's character set, empty for none
    std::wstring generated;   // the expression of a generated column, empty for a stored one
    bool invisible = false;   // INVISIBLE: "SELECT *" leaves it out
};

// Whether EXTRA holds a word (", " separates MariaDB's items), ignoring case.
bool extra_has(const std::wstring& extra, std::wstring_view word)
{
    for (std::size_t i = 0; i + word.size() <= extra.size(); ++i)
        if (tk_equal_no_case(std::wstring_view(extra).substr(i, word.size()), word)) return true;
    return false;
}

// Whether EXTRA marks a generated column ("VIRTUAL GENERATED", "STORED GENERATED", MariaDB's
// "PERSISTENT GENERATED"); an expression default ("DEFAULT_GENERATED") is not one.
bool is_generated(const std::wstring& extra)
{
    for (std::wstring_view kind : {L"VIRTUAL GENERATED", L"STORED GENERATED", L"PERSISTENT GENERATED"})
        for (std::size_t i = 0; i + kind.size() <= extra.size(); ++i)
            if (tk_equal_no_case(std::wstring_view(extra).substr(i, kind.size()), kind)) return true;
    return false;
}

// The ON UPDATE part of a column's EXTRA ("DEFAULT_GENERATED on update CURRENT_TIMESTAMP").
std::wstring on_update_of(const std::wstring& extra)
{
    static const std::wstring word = L"on update";
    for (std::size_t i = 0; i + word.size() <= extra.size(); ++i)
        if (tk_equal_no_case(std::wstring_view(extra).substr(i, word.size()), std::wstring_view(word)))
            return extra.substr(i, extra.find(L',', i) - i);  // up to the next item ("..., INVISIBLE")
    return {};
}

// The value of a bit literal b'0101' (or B'0101'); false for any other text or more than 64 bits.
bool bit_literal_value(std::wstring_view text, std::uint64_t& out)
{
    if (text.size() < 3 || (text[0] != L'b' && text[0] != L'B') || text[1] != L'\'' || text.back() != L'\'')
        return false;
    std::wstring_view digits = text.substr(2, text.size() - 3);
    if (digits.size() > 64) return false;
    out = 0;
    for (wchar_t c : digits) {
        if (c != L'0' && c != L'1') return false;
        out = out << 1 | static_cast<std::uint64_t>(c == L'1');
    }
    return true;
}

// Bytes from hexadecimal digits; false when the text is not an even run of them.
bool bytes_of_hex(std::string_view hex, std::vector<std::uint8_t>& out)
{
    std::string bytes;
    if (!tk_hex_to_bin(hex, bytes)) return false;
    out.assign(bytes.begin(), bytes.end());
    return true;
}

// The catalog keeps defaults in a three-byte UTF-8 form: a character beyond it (an emoji), or
// a byte of a binary default that is no UTF-8 at all, is shown as '?'.
bool may_hide_characters(const std::wstring& text)
{
    return text.find(L'?') != std::wstring::npos;
}

// The value of a quoted MySQL string literal ('' and backslash escapes undone).
std::wstring unquote_literal(std::wstring_view q)
{
    std::wstring out;
    for (std::size_t i = 1; i + 1 < q.size(); ++i) {
        wchar_t c = q[i];
        if (c == L'\'' && i + 2 < q.size() && q[i + 1] == L'\'') {
            out += L'\'';
            ++i;
        } else if (c == L'\\' && i + 2 < q.size()) {
            wchar_t e = q[++i];
            switch (e) {
            case L'0': out += L'\0'; break;
            case L'b': out += L'\b'; break;
            case L'n': out += L'\n'; break;
            case L'r': out += L'\r'; break;
            case L't': out += L'\t'; break;
            case L'Z': out += wchar_t(26); break;
            case L'%': case L'_': out += L'\\'; out += e; break;
            default: out += e; break;
            }
        } else {
            out += c;
        }
    }
    return out;
}

// The first member of an ENUM column's type ("enum('a''b','c')" gives a'b); false for another
// type.
bool first_enum_member(const std::wstring& type, std::wstring& member)
{
    static constexpr std::wstring_view head = L"enum('";
    if (type.size() < head.size() || !tk_equal_no_case(std::wstring_view(type).substr(0, head.size()), head))
        return false;
    const std::size_t open = head.size() - 1;
    for (std::size_t i = open + 1; i < type.size(); ++i) {
        if (type[i] == L'\\') {
            ++i;
        } else if (type[i] == L'\'') {
            if (i + 1 < type.size() && type[i + 1] == L'\'') {
                ++i;
                continue;
            }
            member = unquote_literal(std::wstring_view(type).substr(open, i - open + 1));
            return true;
        }
    }
    return false;
}

// MariaDB keeps a string default quoted and an expression bare; MySQL keeps the bare text and
// marks an expression DEFAULT_GENERATED.
stored_default read_stored_default(const udb_field& value, const std::wstring& extra, bool mariadb)
{
    stored_default d;
    if (value.is_empty()) return d;
    std::wstring text = value.to_wstring();
    if (mariadb) {
        if (text == L"NULL") return d;
        d.none = false;
        if (text.size() >= 2 && text.front() == L'\'' && text.back() == L'\'') {
            d.text = unquote_literal(text);
            return d;
        }
        d.text = text;
        // Numbers and bit literals are literals; anything else is an expression.
        const std::string utf8 = tk_unicode_to_utf8(text);
        d.expression = !sql_is_number_text(utf8) &&
                       !(text.size() >= 3 && (text[0] == L'b' || text[0] == L'B') && text[1] == L'\'');
        return d;
    }
    d.none = false;
    d.text = text;
    d.expression = extra.find(L"DEFAULT_GENERATED") != std::wstring::npos;
    return d;
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
    // Rows still collected go out now; a failure cannot leave a destructor, so it is reported.
    try {
        flush();
    } catch (const tk_exception& e) {
        tk_write_log(3, "Table '%s': ERROR '%s'", tk_unicode_to_utf8(name).c_str(), e.what());
        try {
            udb_report_failure(udb_failure_of(udb_failure_kind::row, name, std::wstring(), e));
        } catch (...) {
            // An abort chosen while the table object goes ends nothing more than the table.
        }
    } catch (const std::exception& e) {
        tk_write_log(3, "Table '%s': ERROR '%s'", tk_unicode_to_utf8(name).c_str(), e.what());
    }
}

void sql_table::initialize(std::int32_t mode)
{
    tk_write_log(2, "sql_table::initialize(%d)", mode);
    read_columns();
    read_check_constraints();
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
    // The defaults as the server stores them: SHOW COLUMNS shows a string default and an
    // expression alike (and quotes some string defaults, not others).
    std::map<std::wstring, stored_default> stored;
    if (!engine->is_old_version()) {
        std::string q = "SELECT COLUMN_NAME, COLUMN_DEFAULT, EXTRA, CHARACTER_SET_NAME, GENERATION_EXPRESSION "
                        "FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ";
        sql_append_literal(q, db().get_connection(), n);
        const char* info = mysql_get_server_info(db().get_connection());
        const bool mariadb = info && std::strstr(info, "MariaDB");
        try {
            auto ds = db().run_query(q);
            if (ds) {
                ds->reset();
                while (!ds->is_eof()) {
                    udb_record& r = *ds->get_item();
                    if (r.size() >= 4) {
                        stored_default& d = stored[text_of(r[0])];
                        d = read_stored_default(r[1], text_of(r[2]), mariadb);
                        d.on_update = on_update_of(text_of(r[2]));
                        d.charset = tk_unicode_to_utf8(text_of(r[3]));
                        if (r.size() >= 5 && is_generated(text_of(r[2]))) d.generated = text_of(r[4]);
                        d.invisible = extra_has(text_of(r[2]), L"INVISIBLE");
                    }
                    ds->next();
                }
            }
        } catch (const tk_exception& e) {
            tk_write_log(3, "Column defaults not read from information_schema: %s", e.what());
        }
    }
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
        d.sorts_by_place = type.rfind(L"enum(", 0) == 0 || type.rfind(L"set(", 0) == 0;
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
        bool def_is_null = row.size() >= 2 && row[row.size() - 2].is_empty();
        bool def_is_expression = false;
        bool def_from_catalog = false;
        bool computed = false;
        if (auto it = stored.find(col); it != stored.end()) {
            computed = !it->second.generated.empty();
            def = it->second.text;
            def_is_null = it->second.none;
            def_is_expression = it->second.expression;
            def_from_catalog = true;
            if (!it->second.generated.empty())
                d.not_carried.push_back(L"it is computed in the source (" + it->second.generated +
                                        L"): it arrives as a plain column holding the values the source computed, "
                                        L"and PostgreSQL does not compute it for new or changed rows");
            // PostgreSQL has no invisible columns: its rows are read with it, and it arrives as a
            // column like any other.
            if (it->second.invisible)
                d.not_carried.push_back(L"it is INVISIBLE in the source: it arrives as a plain column, which "
                                        L"SELECT * shows and an INSERT without a column list must fill");
            // PostgreSQL has no ON UPDATE: the column keeps the value it was given.
            if (!it->second.on_update.empty())
                d.not_carried.push_back(L"its clause '" + it->second.on_update + L"' is not carried (PostgreSQL has "
                                        L"none: a row that is updated keeps the value the column had)");
            if (d.vartype == VT_BSTR && sql_charset_may_lose_bytes(it->second.charset)) {
                const int at = schema.get_field_idx(col);
                if (at >= 0) read_column_checked(static_cast<std::size_t>(at), it->second.charset);
            }
        }
        if (d.b_not_null && def_is_null && !def_is_expression && !computed) {
            // An ENUM NOT NULL without a DEFAULT clause has its first member as default: the
            // server gives it to a row that leaves the column out, in strict mode too.
            if (std::wstring first; first_enum_member(type, first)) {
                tk_write_wlog(2, L"ENUM NOT NULL: its first member '%s' is its default", first.c_str());
                def = first;
                def_is_null = false;
            }
        }
        const bool binary_column = d.vartype == VT_BYTE_ARRAY || d.vartype == VT_BLOB;
        if (def_from_catalog && !def_is_null && !def_is_expression && may_hide_characters(def) &&
            (binary_column || d.vartype == VT_BSTR)) {
            // The catalog may show '?' for what the column really has: the server's own
            // DEFAULT() tells, or the default is left out and named.
            std::vector<std::uint8_t> exact;
            if (read_default_exactly(col, binary_column, exact)) {
                if (binary_column) {
                    d.default_value = ole_variant(exact);
                    rs->next();
                    continue;
                }
                def = tk_utf8_to_unicode(std::string_view(reinterpret_cast<const char*>(exact.data()), exact.size()));
            } else {
                d.not_carried.push_back(L"its default '" + def + L"' is not carried: the server shows it with '?' "
                                        L"in place of characters it cannot show, and the column arrives without a "
                                        L"default");
                rs->next();
                continue;
            }
        }
        tk_write_wlog(2, L"Got default value: %s", def.c_str());
        if (d.vartype == VT_BSTR && d.dw_reserved == 0 && def.empty() && !def_is_null) {
            // DEFAULT '' (the server shows NULL when there is no default): an empty text is no
            // default in the descriptor's value, so the sub-type carries it; without it an
            // insert that leaves the column out fails after the move where it worked before.
            tk_write_log(2, "Empty string default for a text column");
            d.dw_reserved |= udb_subtype::empty_text_default;
        }
        // DEFAULT '' of a binary column is an empty value, not none.
        if (!d.b_not_null && def.empty() && !(binary_column && def_from_catalog && !def_is_null)) {
            rs->next();
            continue;
        }
        tk_write_log(2, "Default value's type: %08X", static_cast<unsigned>(d.vartype));
        const bool time_column = d.vartype == VT_DATE && (d.dw_reserved & 3) == udb_subtype::time_only;
        std::uint64_t bits = 0;
        if (!def_is_null && !def_is_expression && (d.dw_reserved & udb_subtype::bit) && d.vartype != VT_BOOL &&
            bit_literal_value(def, bits)) {
            // BIT(n) travels as an unsigned number: its default is that number too.
            def = std::to_wstring(bits);
        }
        switch (d.vartype) {
        case VT_BYTE_ARRAY:
        case VT_BLOB: {
            if (def_is_null) break;
            if (def_is_expression) {
                d.default_value = ole_variant(def);
                d.default_is_source_expression = true;
                break;
            }
            // The catalog shows the bytes as text (MariaDB) or in hexadecimal (MySQL: 0x2D). A
            // zero byte (MariaDB's \0) is a byte like any other: the text is taken whole.
            std::vector<std::uint8_t> bytes;
            const std::string utf8 = pf_wide_to_utf8(def);
            const bool hex = !mariadb_catalog() && utf8.size() >= 2 && utf8[0] == '0' &&
                             (utf8[1] == 'x' || utf8[1] == 'X') && bytes_of_hex(std::string_view(utf8).substr(2), bytes);
            if (!hex) bytes.assign(utf8.begin(), utf8.end());
            // BINARY(n) keeps n bytes: the server pads a shorter default with zero bytes, as it
            // pads every value stored, and so must the destination's default.
            if (unsigned long n = 0; leading_size(type, L"binary(", n) && bytes.size() < n) bytes.resize(n, 0);
            d.default_value = ole_variant(bytes);
            break;
        }
        case VT_DATE:
            if (time_column && !def_is_expression && !def.empty() && !sql_time_in_day(tk_unicode_to_utf8(def))) {
                // A TIME beyond one day has no time-of-day form: kept as the source's text, so the
                // destination leaves it out and names it (the table itself is still made).
                d.default_value = ole_variant(def);
                d.default_is_source_expression = true;
                break;
            }
            if (def.empty() || def == L"0000-00-00" || def == L"0000-00-00 00:00:00" || def == L"00000000000000" ||
                def.rfind(L"0000-00-00 00:00:00.", 0) == 0) {
                tk_write_log(2, "Skip empty def.values for date column");
                // A zero date arrives as NULL: NOT NULL waits until the rows are in. As the
                // default of a NOT NULL column it has no form: a row that leaves the column out
                // would be refused where the source gives it the zero date.
                if (d.b_not_null) d.not_null_after_rows = true;
                if (d.b_not_null && !def.empty())
                    d.not_carried.push_back(L"its default '" + def + L"' (the zero date) has no PostgreSQL form: "
                                            L"the column arrives without a default");
                d.b_not_null = false;
            } else if (is_current_timestamp(def)) {
                tk_write_log(2, "Special processing for CURRENT_TIMESTAMP");
                d.dw_reserved = 9;
            } else if (def_is_expression) {
                d.default_value = ole_variant(def);
                d.default_is_source_expression = true;
            } else {
                try {
                    d.default_value = get_variant(VT_DATE, def.c_str());
                } catch (const std::exception& e) {
                    tk_write_log(2, "Default value dropped: %s", e.what());
                }
                // A zero month or day, the year 0: a date PostgreSQL has no form for (the
                // all-zero date, "no date", is NULL above).
                if (d.default_value.is_empty())
                    d.not_carried.push_back(L"its default '" + def + L"' is no calendar date and has no PostgreSQL "
                                            L"form: the column arrives without a default");
            }
            break;
        case VT_BOOL:
            tk_write_log(2, "Special processing for boolean");
            if (tk_equal_no_case(def, std::wstring_view(L"b'0'"))) d.default_value = ole_variant(false);
            else if (tk_equal_no_case(def, std::wstring_view(L"b'1'"))) d.default_value = ole_variant(true);
            break;
        default:
            if (def_is_null) break;  // NULL default: none
            if (def_is_expression) {
                d.default_value = ole_variant(def);
                d.default_is_source_expression = true;
                break;
            }
            if (def.find(L'\0') != std::wstring::npos) {
                // PostgreSQL text cannot hold it: the default would end before it.
                d.not_carried.push_back(L"its default holds a zero character, which PostgreSQL text cannot hold: "
                                        L"the column arrives without a default");
                break;
            }
            // A FLOAT's default in the catalog has six digits, which may name another float.
            if (d.vartype == VT_R4 && !def.empty()) {
                if (std::wstring digits; read_float_default_exactly(col, digits)) def = digits;
            }
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

void sql_table::read_check_constraints()
{
    if (sql_engine::instance()->is_old_version()) return;
    // MariaDB names a check per table and keeps its table in CHECK_CONSTRAINTS; MySQL names it
    // per schema.
    const bool mariadb = mariadb_catalog();
    std::string q = "SELECT tc.CONSTRAINT_NAME, cc.CHECK_CLAUSE FROM information_schema.TABLE_CONSTRAINTS tc "
                    "JOIN information_schema.CHECK_CONSTRAINTS cc ON cc.CONSTRAINT_SCHEMA = tc.CONSTRAINT_SCHEMA "
                    "AND cc.CONSTRAINT_NAME = tc.CONSTRAINT_NAME";
    if (mariadb) q += " AND cc.TABLE_NAME = tc.TABLE_NAME";
    q += " WHERE tc.CONSTRAINT_TYPE = 'CHECK' AND tc.TABLE_SCHEMA = DATABASE() AND tc.TABLE_NAME = ";
    sql_append_literal(q, db().get_connection(), tk_unicode_to_utf8(name));
    q += " ORDER BY tc.CONSTRAINT_NAME";
    std::unique_ptr<udb_recordset> rs;
    try {
        rs = db().run_query(q);
    } catch (const tk_exception& e) {
        // A server without the catalog table has no check constraints either.
        tk_write_log(3, "Check constraints not read: %s", e.what());
        return;
    }
    if (!rs) return;
    rs->reset();
    while (!rs->is_eof()) {
        const udb_record& r = *rs->get_item();
        const std::wstring constraint = r.size() >= 2 ? text_of(r[0]) : std::wstring();
        const std::wstring clause = r.size() >= 2 ? text_of(r[1]) : std::wstring();
        rs->next();
        std::wstring bare = tk_to_lower(clause);  // lower case, without blanks
        bare.erase(std::remove(bare.begin(), bare.end(), L' '), bare.end());
        // The check MariaDB itself puts on a JSON column goes with its type.
        if (bare == L"json_valid(`" + tk_to_lower(constraint) + L"`)") continue;
        // Named on the column it is on, else on the first column the clause names.
        int at = schema.get_field_idx(constraint);
        for (std::size_t i = 0; at < 0 && i < schema.size(); ++i)
            if (clause.find(L"`" + schema[i].name + L"`") != std::wstring::npos) at = static_cast<int>(i);
        if (at < 0 && schema.size() > 0) at = 0;
        if (at < 0) continue;
        schema[static_cast<std::size_t>(at)].not_carried.push_back(
            L"the check constraint '" + constraint + L"' (" + clause +
            L") is not carried: the destination takes values the source refuses");
    }
}

bool sql_table::mariadb_catalog()
{
    const char* info = mysql_get_server_info(db().get_connection());
    return info && std::strstr(info, "MariaDB");
}

bool sql_table::read_server_default(const std::wstring& column, const std::string& form,
                                    const std::function<bool(const std::string&)>& take)
{
    // DEFAULT() is evaluated by the server, in the column's own form. Over an empty outer-join
    // row it answers NULL for a NOT NULL column; a row of the table then serves.
    const std::string quoted = tk_unicode_to_utf8(sql_engine::instance()->get_safe_name(column));
    const std::string table = quoted_table_name();
    std::string value = form;
    for (std::size_t at = value.find('@'); at != std::string::npos; at = value.find('@', at + quoted.size() + 2))
        value.replace(at, 1, "t." + quoted);
    const std::string queries[] = {"SELECT " + value + " FROM (SELECT 1) AS x LEFT JOIN " + table + " AS t ON 0",
                                   "SELECT " + value + " FROM " + table + " AS t LIMIT 1"};
    for (const std::string& q : queries) {
        try {
            auto rs = db().run_query(q);
            if (!rs) continue;
            rs->reset();
            if (rs->is_eof()) continue;
            udb_record* r = rs->get_item();
            if (!r || r->size() == 0 || (*r)[0].is_empty()) continue;
            if (take((*r)[0].to_string())) return true;
        } catch (const tk_exception& e) {
            tk_write_log(3, "The default of a column was not read whole: %s", e.what());
        }
    }
    return false;
}

bool sql_table::read_float_default_exactly(const std::wstring& column, std::wstring& digits)
{
    return read_server_default(column, "CAST(DEFAULT(@) + 0e0 AS CHAR)", [&](const std::string& text) {
        if (!sql_is_number_text(text)) return false;
        digits = tk_utf8_to_unicode(text);
        return true;
    });
}

bool sql_table::read_default_exactly(const std::wstring& column, bool binary, std::vector<std::uint8_t>& bytes)
{
    return read_server_default(column, binary ? "HEX(DEFAULT(@))" : "HEX(CONVERT(DEFAULT(@) USING utf8mb4))",
                               [&](const std::string& text) { return bytes_of_hex(text, bytes); });
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
        // Sub_part: the leading characters (bytes of a binary column) a prefix key covers.
        std::uint32_t prefix = 0;
        if (row.size() >= 8 && !row[7].is_empty()) {
            const std::string n = row[7].to_string();
            std::from_chars(n.data(), n.data() + n.size(), prefix);
        }
        // Collation: 'A' ascending, 'D' descending, NULL not sorted.
        const bool descends = row.size() >= 6 && !row[5].is_empty() && row[5].to_string() == "D";
        tk_write_wlog(2, L"Got index '%s' (primary=%d, unique=%d)", index_name.c_str(), primary ? 1 : 0, unique ? 1 : 0);
        if (!indexes.is_acceptable_name(index_name)) {
            indexes.get_index(index_name).add_field(column, prefix, descends);
        } else {
            udb_index index(index_name, unique, primary, {});
            index.add_field(column, prefix, descends);
            add_index(index);
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

// --- the writing side ---------------------------------------------------------------------------

namespace {

const char* const conform_message =
    "The structure of data source does not conform to the destination table. For more information see "
    "Troubleshooting article of the product documentation.";

bool is_lob_kind(VARTYPE vt) noexcept
{
    return vt == VT_BLOB || vt == VT_BYTE_ARRAY || vt == VT_BSTR;
}

// One term of a key condition: "column IS NULL" for an empty value, else "column=value".
void append_condition(std::string& where, const std::string& quoted_column, const udb_field& f)
{
    if (!where.empty()) where += " AND ";
    where += quoted_column;
    if (f.is_empty()) {
        where += " IS NULL";
    } else {
        where += '=';
        sql_append_field(where, f);
    }
}

// The name a record field would have got as a column of this system: acceptable names stay,
// others get the validator's safe name.
std::wstring mapped_name(udb_validator& validator, const std::wstring& name)
{
    return validator.is_acceptable(name) ? name : validator.get_safe_name(name);
}

}  // namespace

std::uint32_t sql_table::get_max_buffer_size()
{
    static const std::uint32_t size = 1000000;
    return size;
}

std::string sql_table::quoted_table_name() const
{
    return tk_unicode_to_utf8(sql_engine::instance()->get_safe_name(name));
}

void sql_table::append_version_quoted(std::string& out, const std::wstring& n) const
{
    const std::string utf8 = tk_unicode_to_utf8(n);
    if (sql_engine::instance()->is_old_version()) out += utf8;
    else sql_append_quoted_name(out, utf8);
}

void sql_table::flush()
{
    if (pending_insert.empty()) return;
    std::string statement = std::move(pending_insert);
    pending_insert.clear();
    tk_write_log(1, "Run SQL query: [%.*s]", static_cast<int>(statement.size() > 1000 ? 1000 : statement.size()),
                 statement.data());
    db().query_append(statement);
}

void sql_table::match_columns(const udb_record& record, std::vector<column_pair>& out)
{
    out.clear();
    // Rows of one source come with the same field names: the pairing is worked out once and
    // reused while the names stay the same.
    bool same_names = matched_names.size() == record.size();
    for (std::size_t i = 0; same_names && i < record.size(); ++i) {
        const udb_field* f = record.get(i);
        same_names = f && f->get_name() == matched_names[i];
    }
    if (!same_names) {
        matched_names.clear();
        matched.clear();
        std::vector<std::pair<std::size_t, std::size_t>> pairing;
        pair_columns(record, pairing);  // a record that does not fit leaves no pairing behind
        matched = std::move(pairing);
        for (std::size_t i = 0; i < record.size(); ++i)
            matched_names.push_back(record.get(i) ? record.get(i)->get_name() : std::wstring());
    }
    out.reserve(matched.size());
    for (const auto& [field, column] : matched) out.push_back({record.get(field), &schema[column]});
}

void sql_table::pair_columns(const udb_record& record, std::vector<std::pair<std::size_t, std::size_t>>& out) const
{
    if (record.size() < schema.size()) {
        tk_write_log(1, "Size of record is less than size of schema");
        auto validator = sql_engine::instance()->create_fn_validator(record);
        for (std::size_t i = 0; i < record.size(); ++i) {
            const udb_field* f = record.get(i);
            if (!f) continue;
            std::wstring mapped = f->get_name();
            if (!validator->is_acceptable(mapped)) {
                mapped = validator->get_safe_name(mapped);
                validator->add_existing_name(mapped);
            }
            tk_write_wlog(1, L"Name=%s, mapped name=%s", f->get_name().c_str(), mapped.c_str());
            const int column = schema.get_field_idx(mapped);
            if (column < 0) {
                tk_write_wlog(1, L"Field %s not found", mapped.c_str());
                throw tk_exception(conform_message, 0);
            }
            out.emplace_back(i, static_cast<std::size_t>(column));
        }
        return;
    }
    tk_write_log(1, "Size of schema is less or equal to the size of record");
    sql_field_finder finder(record);
    for (std::size_t c = 0; c < schema.size(); ++c) {
        const t_ftd& col = schema[c];
        const std::int32_t idx = finder.get_field_idx(col.name);
        if (idx < 0 || !record.get(static_cast<std::size_t>(idx))) {
            tk_write_wlog(1, L"Field %s not found in appending record", col.name.c_str());
            throw tk_exception(conform_message, 0);
        }
        out.emplace_back(static_cast<std::size_t>(idx), c);
    }
}

void sql_table::append_record(udb_record& record)
{
    tk_write_log(2, "sql_table::append_record");
    const std::uint64_t size = record.get_total_size();
    tk_write_log(1, "record size=%d", static_cast<int>(size));
    sql_engine* engine = sql_engine::instance();
    if (size > get_max_buffer_size()) {
        tk_write_log(3, "Row is too big (%d bytes), swtich to slow_append", static_cast<int>(size));
        engine->set_use_fast_append(false);
        if (!pending_insert.empty()) {
            try {
                flush();
            } catch (const tk_exception& e) {
                // The rows collected so far are lost: the user must hear of it.
                std::string table = tk_unicode_to_utf8(name);
                tk_write_log(3, "Table '%s': ERROR '%s'", table.c_str(), e.what());
                udb_report_failure(udb_failure_of(udb_failure_kind::row, name, std::wstring(), e));
            }
        }
    }
    if (engine->is_use_fast_append()) fast_append(record);
    else slow_append(record);
    ++rec_count;
    ++record_count;
}

void sql_table::fast_append(const udb_record& record)
{
    tk_write_log(1, "sql_table::fast_append");
    match_columns(record, pairs);
    const bool replace = (db().get_mode() & sql_database::mode_replace) != 0;
    row_head.assign(replace ? "REPLACE INTO " : "INSERT IGNORE INTO ");
    append_version_quoted(row_head, name);
    row_head += '(';
    const std::size_t pending_size = pending_insert.size();
    const std::uint32_t field_count = static_cast<std::uint32_t>(record.size());
    if (cached_rec_size == 0 || pending_size == 0) cached_rec_size = field_count;
    row_values.assign(pending_size != 0 ? "(" : " VALUES(");
    if (pending_size == 0) tk_write_log(2, "Initialize new query...");
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (i) {
            row_head += ", ";
            row_values += ", ";
        }
        append_version_quoted(row_head, pairs[i].column->name);
        sql_append_fld_value(row_values, *pairs[i].field, *pairs[i].column, false);
    }
    bool starts_statement = pending_size == 0;
    if (pending_size != 0) {
        const bool too_long = pending_size + 2 + row_head.size() + row_values.size() > get_max_buffer_size();
        // Rows of another column list cannot join the pending statement either, even with the
        // same number of fields: their values would land in the wrong columns.
        const bool other_columns = row_head != pending_head;
        if (too_long || cached_rec_size != field_count || other_columns) {
            if (!too_long)
                tk_write_log(3, "cached_rec_size=%d, that.size=%d", static_cast<int>(cached_rec_size),
                             static_cast<int>(field_count));
            flush();  // on failure the pending rows are gone and the error leaves
            cached_rec_size = field_count;
            tk_write_log(2, "Initialize new query...");
            starts_statement = true;
        }
    }
    if (starts_statement) {
        pending_head = row_head;
        // The values part starts " VALUES(" for a first statement and "(" after a sent one.
        row_head += pending_size == 0 ? ")" : ")VALUES";
        pending_insert += row_head;
    } else {
        pending_insert += ", ";
    }
    pending_insert += row_values;
    pending_insert += ')';
    tk_write_log(1, "*** FAST INSERT MODE ***");
}

void sql_table::slow_append(const udb_record& record)
{
    tk_write_log(1, "sql_table::slow_append");
    const std::uint64_t size = record.get_total_size();
    const bool placeholders = size > get_max_buffer_size();
    match_columns(record, pairs);
    const std::int32_t mode = db().get_mode();
    tk_write_log(1, "mysql_db.get_mode()=%d", mode);
    const bool replace = (mode & sql_database::mode_replace) != 0;
    const bool fewer_fields = record.size() < schema.size();
    std::string head = replace ? "REPLACE INTO " : "INSERT INTO ";
    append_version_quoted(head, name);
    head += '(';
    std::string values = " VALUES (";
    std::vector<const udb_field*> long_values;
    sql_engine* engine = sql_engine::instance();
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        if (i) {
            head += ", ";
            values += ", ";
        }
        if (fewer_fields) append_version_quoted(head, pairs[i].column->name);
        else head += tk_unicode_to_utf8(engine->get_safe_name(pairs[i].column->name));
        const udb_field& f = *pairs[i].field;
        sql_append_fld_value(values, f, *pairs[i].column, placeholders);
        // The "?" follow the columns' order: the long values are bound in that order too.
        if (placeholders && f.get_type() != VT_EMPTY && f.get_data_size() > sql_long_data_threshold)
            long_values.push_back(&f);
    }
    std::string statement = head + ")" + values + ")";
    tk_write_log(1, "Run SQL query: %.*s", static_cast<int>(statement.size() > 1000 ? 1000 : statement.size()),
                 statement.data());
    if (!placeholders) {
        db().query_append(statement);
        return;
    }
    const std::int32_t max_packet = engine->get_max_allowed_packet();
    tk_write_log(2, "get_max_allowed_packet=%d", max_packet);
    if (size > static_cast<std::uint32_t>(max_packet)) {
        tk_write_log(2, "row_tot_size > max_allowed_packet");
        throw tk_exception("Row size exceeds 'max_allowed_packet'", 0);
    }
    db().prepared_statement(statement, long_values, static_cast<std::int32_t>(long_values.size()), size);
}

void sql_table::build_set_part(const udb_record& record, const udb_index* key, std::string& set_part,
                               std::string& where) const
{
    sql_engine* engine = sql_engine::instance();
    auto validator = engine->create_fn_validator(record);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field* f = record.get(i);
        if (!f) continue;
        const std::wstring mapped = mapped_name(*validator, f->get_name());
        tk_write_wlog(1, L"Got mappend fn: %s", mapped.c_str());
        if (!schema.find_field(mapped)) {
            tk_write_wlog(1, L"Field '%s' is not found in schema", mapped.c_str());
            continue;
        }
        const std::string quoted = tk_unicode_to_utf8(engine->get_safe_name(mapped));
        if (key && std::find(key->fields.begin(), key->fields.end(), mapped) != key->fields.end()) {
            tk_write_wlog(1, L"Field %s is a part of UKey", mapped.c_str());
            append_condition(where, quoted, *f);
            continue;
        }
        if (f->get_size() == 0 && is_lob_kind(f->get_type())) {
            tk_write_wlog(2, L"Field %s is LOB, skip it", mapped.c_str());
            continue;
        }
        if (!set_part.empty()) set_part += ", ";
        set_part += quoted;
        set_part += '=';
        sql_append_field(set_part, *f);
    }
}

void sql_table::update1(udb_record& record)
{
    tk_write_log(1, "sql_table::update");
    if (key_pos < 0) {
        tk_write_log(1, "There's no primary/unique key");
        return;
    }
    if (static_cast<std::size_t>(key_pos) >= indexes.size()) throw tk_mail_assertion("sql_tab", 692);
    const udb_index& key = indexes[static_cast<std::size_t>(key_pos)];
    std::string set_part, where;
    build_set_part(record, &key, set_part, where);
    if (where.empty()) {
        tk_write_log(1, "Missing primary/unique key");
        return;
    }
    if (set_part.empty()) {
        tk_write_log(1, "Nothing to update");
        return;
    }
    const std::string statement = "UPDATE " + quoted_table_name() + " SET " + set_part + " WHERE " + where;
    tk_write_log(2, "UPDATE QUERY: %.*s", static_cast<int>(statement.size() > 1000 ? 1000 : statement.size()),
                 statement.data());
    db().query_append(statement);
}

void sql_table::update2(udb_record& record, const std::wstring& key)
{
    tk_write_wlog(1, L"sql_table::update(key=%s)", key.c_str());
    if (key.empty()) {
        tk_write_log(1, "Missing key for update");
        return;
    }
    std::string set_part, unused;
    build_set_part(record, nullptr, set_part, unused);
    if (set_part.empty()) {
        tk_write_log(1, "Nothing to update");
        return;
    }
    const std::wstring condition = sql_sync::get_filter_subquery(schema, key);
    if (condition.empty()) {
        tk_write_log(1, "Missing key for update");
        return;
    }
    const std::string statement =
        "UPDATE " + quoted_table_name() + " SET " + set_part + " WHERE " + pf_wide_to_utf8(condition);
    tk_write_log(2, "UPDATE QUERY: %.*s", static_cast<int>(statement.size() > 1000 ? 1000 : statement.size()),
                 statement.data());
    db().query_append(statement);
}

void sql_table::delete_key(const std::wstring& key)
{
    tk_write_wlog(2, L"sql_table::delete_key(%s)", key.c_str());
    const std::wstring condition = sql_sync::get_filter_subquery(schema, key);
    if (condition.empty()) {
        // Without a condition the statement would delete every row.
        tk_write_log(1, "Missing key for delete");
        return;
    }
    db().query_append("delete from " + quoted_table_name() + " where " + pf_wide_to_utf8(condition));
}

void sql_table::delete_key(udb_record& record)
{
    tk_write_log(1, "sql_table::delete_key");
    sql_engine* engine = sql_engine::instance();
    auto validator = engine->create_fn_validator(record);
    std::string where;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const udb_field* f = record.get(i);
        if (!f) continue;
        const std::wstring mapped = mapped_name(*validator, f->get_name());
        tk_write_wlog(1, L"Got mappend fn: %s", mapped.c_str());
        if (!schema.find_field(mapped)) {
            tk_write_wlog(1, L"Field '%s' is not found in schema", mapped.c_str());
            continue;
        }
        append_condition(where, tk_unicode_to_utf8(engine->get_safe_name(mapped)), *f);
    }
    if (where.empty()) {
        // Without a condition the statement would delete every row.
        tk_write_log(1, "No field of the record is a column of the table");
        return;
    }
    db().query_append("DELETE FROM " + quoted_table_name() + " WHERE " + where);
}

#include "UDB/udb_names_map.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"

// ---------------------------------------------------------------- t_names_map

void t_names_map::add(const std::wstring& old_name, const std::wstring& new_name)
{
    tk_write_wlog(1, L"t_names_map::add(%s,%s)", old_name.c_str(), new_name.c_str());
    m_map.emplace(old_name, new_name);  // an existing entry stays
}

std::wstring t_names_map::get_mapped_name(const std::wstring& name) const
{
    tk_write_wlog(1, L"t_names_map::get_mapped_name(%s)", name.c_str());
    for (const auto& [old_name, new_name] : m_map) {
        if (tk_equal_no_case(old_name, name)) {
            tk_write_wlog(1, L"Got mapped name: %s", new_name.c_str());
            return new_name;
        }
    }
    return name;
}

// ---------------------------------------------------------------- udb_names_map

void udb_names_map::add_tn_mapping(const std::wstring& old_name, const std::wstring& new_name)
{
    tk_write_wlog(2, L"udb_names_map::add_tn_mapping(%s,%s)", old_name.c_str(), new_name.c_str());
    m_tables.emplace(old_name, new_name);
}

void udb_names_map::add_fn_map(const std::wstring& table, const name_map& fields)
{
    tk_write_wlog(2, L"udb_names_map::add_fn_map(%s)", table.c_str());
    m_fields.emplace(table, fields);
}

std::wstring udb_names_map::get_tn_mapped_name(const std::wstring& name, bool exact) const
{
    tk_write_wlog(1, L"udb_names_map::get_tn_mapped_name(%s)", name.c_str());
    for (const auto& [old_name, new_name] : m_tables) {
        tk_write_wlog(1, L"Comparing with (%s,%s)", old_name.c_str(), new_name.c_str());
        if (exact ? old_name == name : tk_equal_no_case(old_name, name)) {
            tk_write_wlog(1, L"Got mapped name: %s", new_name.c_str());
            return new_name;
        }
    }
    return name;
}

std::wstring udb_names_map::get_fn_mapped_name(const std::wstring& table, const std::wstring& field) const
{
    tk_write_wlog(1, L"udb_names_map::get_fn_mapped_name(%s,%s)", table.c_str(), field.c_str());
    auto t = m_fields.find(table);
    if (t == m_fields.end()) {
        tk_write_wlog(1, L"Table '%s' not found", table.c_str());
        return field;
    }
    auto f = t->second.find(field);
    if (f == t->second.end()) return field;
    tk_write_wlog(1, L"Got mapped name: %s", f->second.c_str());
    return f->second;
}

std::wstring udb_names_map::do_global_replace1(const std::wstring& text, const std::wstring& prefix,
                                               const std::wstring& suffix) const
{
    tk_write_wlog(2, L"udb_names_map::do_global_replace1(%s)", text.c_str());
    std::wstring result = do_global_replace2(text, m_tables, prefix, suffix);
    for (const auto& [table, fields] : m_fields) result = do_global_replace2(result, fields, prefix, suffix);
    return result;
}

namespace {

// Characters that may appear in an unquoted name: a name never starts or ends
// next to one of them.
bool is_name_char(wchar_t c) noexcept
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' ||
           c == L'$' || c > 0x7F;
}

wchar_t ascii_lower(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') ? wchar_t(c + (L'a' - L'A')) : c;
}

// Whether name stands at pos of text, A-Z compared regardless of case.
bool name_at(const std::wstring& text, std::size_t pos, const std::wstring& name) noexcept
{
    if (pos > text.size() || text.size() - pos < name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (ascii_lower(text[pos + i]) != ascii_lower(name[i])) return false;
    return true;
}

bool same_name(const std::wstring& a, const std::wstring& b) noexcept
{
    return a.size() == b.size() && name_at(a, 0, b);
}

// Position just past the single-quoted literal that opens at pos (doubled
// quotes and backslash escapes stay inside it); the end of the text when it
// is not closed.
std::size_t skip_literal(const std::wstring& text, std::size_t pos) noexcept
{
    std::size_t j = pos + 1;
    while (j < text.size()) {
        if (text[j] == L'\\') {
            j += 2;
        } else if (text[j] == L'\'') {
            if (j + 1 < text.size() && text[j + 1] == L'\'')
                j += 2;
            else
                return j + 1;
        } else {
            ++j;
        }
    }
    return text.size();
}

// Position of the suffix that closes a quoted name whose content starts at
// pos; a doubled one-character closing quote is part of the name. npos when
// the name is not closed.
std::size_t find_closing(const std::wstring& text, std::size_t pos, const std::wstring& prefix,
                         const std::wstring& suffix) noexcept
{
    const bool doubled_escape = prefix == suffix && suffix.size() == 1;
    while (pos < text.size()) {
        std::size_t q = text.find(suffix, pos);
        if (q == std::wstring::npos) return q;
        if (doubled_escape && q + 1 < text.size() && text[q + 1] == suffix[0]) {
            pos = q + 2;
            continue;
        }
        return q;
    }
    return std::wstring::npos;
}

}  // namespace

std::wstring udb_names_map::do_global_replace2(const std::wstring& text, const name_map& map,
                                               const std::wstring& prefix, const std::wstring& suffix)
{
    tk_write_wlog(2, L"udb_names_map::do_global_replace2(%s)", text.c_str());
    std::wstring work = text.substr(0, text.find(L'\0'));
    const bool quoted_names = !prefix.empty() && !suffix.empty();
    const bool literals = prefix != L"'" && suffix != L"'";
    // Inside a name quoted by one character (`name`, "name") that character is doubled.
    const bool doubled_escape = quoted_names && prefix == suffix && suffix.size() == 1;
    auto escaped = [&](const std::wstring& name) {
        if (!doubled_escape) return name;
        std::wstring r;
        r.reserve(name.size() + 2);
        for (wchar_t ch : name) {
            r += ch;
            if (ch == suffix[0]) r += ch;
        }
        return r;
    };
    auto unescaped = [&](std::wstring quoted) {
        if (!doubled_escape) return quoted;
        std::wstring r;
        for (std::size_t k = 0; k < quoted.size(); ++k) {
            r += quoted[k];
            if (quoted[k] == suffix[0] && k + 1 < quoted.size() && quoted[k + 1] == suffix[0]) ++k;
        }
        return r;
    };

    for (const auto& [old_name, new_name] : map) {
        if (old_name.empty()) continue;

        // A new name that comes quoted already is taken as it is; any other is quoted here.
        const bool has_prefix = !prefix.empty() && new_name.starts_with(prefix);
        const bool has_suffix = !suffix.empty() && new_name.ends_with(suffix);
        const bool pre_quoted = quoted_names && has_prefix && has_suffix &&
                                new_name.size() >= prefix.size() + suffix.size();
        std::wstring replacement;
        if (pre_quoted || !quoted_names) {
            if (!prefix.empty() && !has_prefix) replacement += prefix;
            replacement += new_name;
            if (!suffix.empty() && !has_suffix) replacement += suffix;
        } else {
            replacement = prefix + escaped(new_name) + suffix;
        }
        // The new name without quotes of its own, for a name already quoted in the text.
        std::wstring bare = escaped(new_name);
        if (pre_quoted)
            bare = new_name.substr(prefix.size(), new_name.size() - prefix.size() - suffix.size());

        tk_write_wlog(1, L"Testing pair ('%s','%s')", old_name.c_str(), replacement.c_str());

        std::wstring out;
        out.reserve(work.size() + replacement.size());
        const std::size_t n = work.size();
        std::size_t i = 0;
        while (i < n) {
            const wchar_t c = work[i];
            if (literals && c == L'\'') {
                std::size_t j = skip_literal(work, i);
                out.append(work, i, j - i);
                i = j;
                continue;
            }
            if (quoted_names && work.compare(i, prefix.size(), prefix) == 0) {
                const std::size_t start = i + prefix.size();
                const std::size_t close = find_closing(work, start, prefix, suffix);
                if (close == std::wstring::npos) {
                    out.append(work, i, std::wstring::npos);
                    break;
                }
                if (same_name(unescaped(work.substr(start, close - start)), old_name)) {
                    tk_write_wlog(1, L"'%s' was found at pos=%d", old_name.c_str(), int(start));
                    out += prefix;
                    out += bare;
                    out += suffix;
                } else {
                    out.append(work, i, close + suffix.size() - i);
                }
                i = close + suffix.size();
                continue;
            }
            const bool at_start = i == 0 || !is_name_char(work[i - 1]);
            if (at_start && name_at(work, i, old_name)) {
                const std::size_t after = i + old_name.size();
                if (after >= n || !is_name_char(work[after])) {
                    tk_write_wlog(1, L"'%s' was found at pos=%d", old_name.c_str(), int(i));
                    out += replacement;
                    i = after;
                    continue;
                }
            }
            if (is_name_char(c)) {
                // Copy the whole name: no other name starts inside it.
                std::size_t j = i;
                while (j < n && is_name_char(work[j])) ++j;
                out.append(work, i, j - i);
                i = j;
                continue;
            }
            out += c;
            ++i;
        }
        work = std::move(out);
    }
    return work;
}

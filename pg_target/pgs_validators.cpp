#include "pg_target/pgs_validators.h"

#include <cwchar>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "UDB/udb_index.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_quote.h"
#include "pg_target/pgs_types.h"

namespace {

std::size_t utf8_bytes(wchar_t c) noexcept
{
    auto u = static_cast<std::uint32_t>(c);
    if (u < 0x80) return 1;
    if (u < 0x800) return 2;
    if (u < 0x10000 || u > 0x10FFFF) return 3;  // a value past U+10FFFF is written as U+FFFD
    return 4;
}

// Steps over one quoted identifier starting at i (which must hold '"'); answers the position
// after its closing quote, or npos when the text does not close it.
std::size_t skip_quoted(std::wstring_view text, std::size_t i)
{
    ++i;
    while (i < text.size()) {
        if (text[i] == L'"') {
            if (i + 1 < text.size() && text[i + 1] == L'"') {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return std::wstring_view::npos;
}

std::wstring replace_invalid(std::wstring_view name)
{
    std::wstring r(name);
    for (auto& c : r)
        if (!pgs_validator::is_name_char(c)) c = L'_';
    return r;
}

}  // namespace

// ---- lengths in bytes ----------------------------------------------------------------------

std::wstring pgs_cut_to_bytes(std::wstring_view name, std::size_t max_bytes)
{
    std::size_t bytes = 0, n = 0;
    for (; n < name.size(); ++n) {
        std::size_t b = utf8_bytes(name[n]);
        if (bytes + b > max_bytes) break;
        bytes += b;
    }
    return std::wstring(name.substr(0, n));
}

std::wstring pgs_truncate_identifier(std::wstring_view name)
{
    return pgs_cut_to_bytes(name, pgs_max_name_bytes);
}

// ---- name forms ------------------------------------------------------------------------------

std::wstring pgs_fold_name(std::wstring_view name, bool case_sens)
{
    if (case_sens) return std::wstring(name);
    std::wstring r(name);
    for (auto& c : r)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return r;
}

bool pgs_is_quoted_name(std::wstring_view name)
{
    if (name.size() < 2 || name.front() != L'"') return false;
    std::size_t end = skip_quoted(name, 0);
    if (end == name.size()) return true;
    if (end == std::wstring_view::npos || name[end] != L'.' || end + 1 >= name.size() ||
        name[end + 1] != L'"')
        return false;
    return skip_quoted(name, end + 1) == name.size();
}

std::wstring pgs_unquote_name(std::wstring_view name)
{
    if (name.size() < 2 || name.front() != L'"' || skip_quoted(name, 0) != name.size())
        return std::wstring(name);
    std::wstring r;
    r.reserve(name.size() - 2);
    for (std::size_t i = 1; i + 1 < name.size(); ++i) {
        r += name[i];
        if (name[i] == L'"') ++i;  // the second of a doubled pair
    }
    return r;
}

std::wstring pgs_make_name3(std::wstring_view name, bool split, bool case_sens)
{
    std::wstring folded = pgs_fold_name(name, case_sens);
    if (!split) return folded;
    if (pgs_is_quoted_name(folded)) return folded;
    auto dot = folded.find(L'.');
    tk_write_log(1, "'.' found at pos=%d", dot == std::wstring::npos ? -1 : static_cast<int>(dot));
    if (dot != std::wstring::npos && dot + 1 < folded.size())
        return pgs_quote_qualified_name(std::wstring_view(folded).substr(0, dot),
                                        std::wstring_view(folded).substr(dot + 1));
    return pgs_quote_identifier(std::wstring_view(folded));
}

std::string pgs_make_name1(std::string_view name, bool split, bool case_sens)
{
    return tk_unicode_to_utf8(pgs_make_name3(tk_utf8_to_unicode(name), split, case_sens));
}

std::wstring pgs_make_name2(std::wstring_view name)
{
    if (pgs_is_quoted_name(name)) return std::wstring(name);
    return pgs_quote_identifier(name);
}

std::wstring pgs_make_idx_name(std::wstring_view name, bool case_sens)
{
    std::wstring r(name);
    for (auto& c : r)
        if (c == L'"') c = L'_';
    return pgs_quote_identifier(std::wstring_view(pgs_fold_name(r, case_sens)));
}

bool pgs_is_extension_relation(std::wstring_view schema, std::wstring_view name)
{
    static constexpr std::wstring_view postgis[] = {L"spatial_ref_sys", L"geometry_columns", L"geography_columns",
                                                    L"raster_columns", L"raster_overviews"};
    if (schema != L"public") return false;
    for (std::wstring_view n : postgis)
        if (name == n) return true;
    return false;
}

// ---- validators -----------------------------------------------------------------------------

bool pgs_validator::is_name_char(wchar_t c) noexcept
{
    auto u = static_cast<std::uint32_t>(c);
    if (u < 0x80)
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
               c == L' ' || c == L'#' || c == L'$' || c == L'-' || c == L'.' || c == L'_';
    // Outside ASCII: letters and digits of every script count; controls, Latin-1 signs,
    // general punctuation, CJK symbols, surrogates, private use and specials do not.
    if (u <= 0xBF) return u == 0xAA || u == 0xB5 || u == 0xBA;
    if (u == 0xD7 || u == 0xF7) return false;
    if (u >= 0x2000 && u <= 0x206F) return false;
    if (u >= 0x3000 && u <= 0x303F) return false;
    if (u >= 0xD800 && u <= 0xF8FF) return false;
    if (u >= 0xFE10 && u <= 0xFE6F) return false;
    if (u >= 0xFEFF && u <= 0xFF0F) return false;
    if (u >= 0xFFF0 && u <= 0xFFFF) return false;
    return u < 0xF0000;  // planes 15 and 16 are private use
}

pgs_validator::pgs_validator() : udb_validator(static_cast<std::uint32_t>(pgs_max_name_bytes))
{
    tk_write_log(2, "pgs_validator::ctor");
}

pgs_validator::~pgs_validator() = default;

bool pgs_validator::is_acceptable(const std::wstring& name)
{
    tk_write_wlog(1, L"pgs_validator::is_acceptable(%s)", name.c_str());
    if (name.size() >= 2 && name.front() == L'"' && name.back() == L'"') {
        // One quoted identifier of 1 to 63 bytes; a text whose inner quotes are not doubled
        // (or a quoted schema.name pair) is no column, table or index name.
        bool single = skip_quoted(name, 0) == name.size();
        std::size_t bytes = single ? pgs_utf8_length(pgs_unquote_name(name)) : 0;
        if (bytes == 0 || bytes > pgs_max_name_bytes) {
            tk_write_log(1, "Names enclosed in \"...\" exceeds max_length");
            return false;
        }
        return true;
    }
    if (name.empty() || pgs_utf8_length(name) > pgs_max_name_bytes) {
        tk_write_log(1, "Names exceeds max_length");
        return false;
    }
    for (wchar_t c : name) {
        if (!is_name_char(c)) {
            tk_write_wlog(2, L"Name contains invalid symbol: '%c'", c);
            return false;
        }
    }
    if (is_restricted(name)) {
        tk_write_wlog(1, L"Name does not pass restrictions check: %s", name.c_str());
        return false;
    }
    return true;
}

std::wstring pgs_validator::get_safe_name(const std::wstring& name)
{
    tk_write_wlog(1, L"pgs_validator::get_safe_name(%s)", name.c_str());
    // xmin and xmax are system columns of every table: a user column cannot have these names.
    if (tk_equal_no_case(name, L"XMAX")) return L"x_max";
    if (tk_equal_no_case(name, L"XMIN")) return L"x_min";

    std::wstring safe = pgs_fold_name(replace_invalid(pgs_cut_to_bytes(
                                          name, pgs_utf8_length(name) > pgs_max_name_bytes
                                                    ? pgs_max_name_bytes - 1
                                                    : pgs_max_name_bytes)),
                                      false);
    if (is_acceptable(safe) && !is_duplicated(safe)) return safe;

    // Room for the five-digit counter within the byte budget.
    std::wstring stem = pgs_utf8_length(safe) > pgs_max_name_bytes - 5
                            ? pgs_cut_to_bytes(safe, pgs_max_name_bytes - 6)
                            : safe;
    wchar_t counter[8];
    for (std::uint32_t i = first_counter(stem); i <= 99999; ++i) {
        std::swprintf(counter, 8, L"%05u", i);
        std::wstring candidate = stem + counter;
        if (is_acceptable(candidate) && !is_duplicated(candidate)) {
            note_counter(stem, i);
            return candidate;
        }
    }
    throw tk_mail_assertion("udb_vali", 55);
}

namespace {

// Every PostgreSQL table has these system columns: a user column of such a name makes
// CREATE TABLE fail ("column name ... conflicts with a system column name").
void restrict_system_column_names(std::vector<std::wstring>& restricted)
{
    for (const wchar_t* n : {L"tableoid", L"xmin", L"cmin", L"xmax", L"cmax", L"ctid"})
        restricted.emplace_back(n);
}

}  // namespace

pgs_fn_validator::pgs_fn_validator(const std::vector<std::wstring>& names)
{
    tk_write_log(2, "pgs_fn_validator::ctor1");
    restrict_system_column_names(restricted_names);
    for (const auto& n : names) add_existing_name(n);
}

pgs_fn_validator::pgs_fn_validator(const udb_record& record)
{
    tk_write_log(2, "pgs_fn_validator::ctor1");
    restrict_system_column_names(restricted_names);
    for (const auto& f : record)
        if (f) add_existing_name(f->get_name());
}

pgs_fn_validator::pgs_fn_validator(const udb_schema& schema)
{
    tk_write_log(2, "pgs_fn_validator::ctor1");
    restrict_system_column_names(restricted_names);
    for (const auto& c : schema.columns())
        if (c) add_existing_name(c->name);
}

std::wstring pgs_fn_validator::next_column_name(const std::wstring& name)
{
    std::wstring n = name;
    if (!is_acceptable(n)) {
        n = get_safe_name(n);
        tk_write_wlog(1, L"GOT SAFE NAME: %s->%s", name.c_str(), n.c_str());
        add_existing_name(n);
    }
    n = pgs_get_safe_substr(n, 64);
    restricted_names.push_back(n);
    return n;
}

pgs_tn_validator::pgs_tn_validator(const std::vector<std::wstring>& names1,
                                   const std::vector<std::wstring>& names2)
{
    tk_write_log(2, "pgs_tn_validator::ctor");
    for (const auto& n : names1) add_existing_name(n);
    for (const auto& n : names2) add_existing_name(n);
}

pgs_in_validator::pgs_in_validator() = default;
pgs_in_validator::~pgs_in_validator() = default;

void pgs_in_validator::add_index_names(const udb_indexes& indexes)
{
    tk_write_log(2, "pgs_in_validator::ctor");
    for (const auto& idx : indexes) add_existing_name(idx.name);
}

void pgs_in_validator::add_destination_names(const std::vector<std::wstring>& names)
{
    std::unordered_map<std::wstring, std::size_t> read;
    for (const auto& n : names) {
        if (++read[n] <= m_destination[n]) continue;  // an earlier read has this use
        ++m_destination[n];
        add_existing_name(n);
        restricted_names.push_back(n);
    }
}

void pgs_in_validator::release_dropped_names(const std::vector<std::wstring>& names)
{
    // Only a use the catalog gave: the run's own uses of the name and the names it reserves
    // stay as they are.
    for (const auto& n : names) {
        auto it = m_destination.find(n);
        if (it == m_destination.end() || it->second == 0) continue;
        --it->second;
        release_name(n);
    }
}

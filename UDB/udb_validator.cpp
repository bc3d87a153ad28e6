#include "UDB/udb_validator.h"

#include <cstdio>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

udb_validator::udb_validator(std::uint32_t max_length_) : max_length(max_length_)
{
    tk_write_log(2, "udb_validator::ctor");
}

udb_validator::~udb_validator() = default;

void release_validator(std::unique_ptr<udb_validator>& validator) noexcept
{
    validator.reset();
}

void udb_validator::add_existing_name(const std::wstring& name)
{
    tk_write_wlog(1, L"udb_validator::add_existing_name(%s)", name.c_str());
    existing_names.push_back(name);
}

void udb_validator::add_mapped_pair(const std::wstring& old_name, const std::wstring& new_name)
{
    tk_write_wlog(1, L"udb_validator::add_mapped_pair(%s,%s)", old_name.c_str(), new_name.c_str());
    names_map.add(old_name, new_name);
}

bool udb_validator::folded_names::catch_up(const std::vector<std::wstring>& list)
{
    bool same_list = true;
    if (list.size() < indexed || (indexed > 0 && list[indexed - 1] != last)) {
        names.clear();
        indexed = 0;
        same_list = false;
    }
    for (; indexed < list.size(); ++indexed) ++names[tk_fold_case(list[indexed])];
    if (indexed > 0) last = list[indexed - 1];
    return same_list;
}

bool udb_validator::folded_names::release(const std::wstring& folded)
{
    auto it = names.find(folded);
    if (it == names.end()) return false;
    if (--it->second == 0) names.erase(it);
    return true;
}

void udb_validator::release_name(const std::wstring& name)
{
    tk_write_wlog(1, L"udb_validator::release_name(%s)", name.c_str());
    catch_up();
    const std::wstring folded = tk_fold_case(name);
    const bool restricted = m_restricted.release(folded);
    const bool existing = m_existing.release(folded);
    if (!restricted && !existing) return;
    // A numbered name that is free again is where the search for its stem resumes. The
    // searches keep their stems as they made them, lower-cased; the name comes as the
    // catalog has it.
    const std::size_t n = name.size();
    if (n <= 5) return;
    std::uint32_t counter = 0;
    for (std::size_t i = n - 5; i < n; ++i) {
        if (name[i] < L'0' || name[i] > L'9') return;
        counter = counter * 10 + static_cast<std::uint32_t>(name[i] - L'0');
    }
    const std::wstring stem = name.substr(0, n - 5);
    for (const std::wstring& key : {stem, tk_to_lower(stem)}) {
        auto it = m_next_counter.find(key);
        if (it != m_next_counter.end() && it->second > counter) it->second = counter;
    }
}

void udb_validator::catch_up()
{
    const bool restricted_same = m_restricted.catch_up(restricted_names);
    const bool existing_same = m_existing.catch_up(existing_names);
    if (!restricted_same || !existing_same) m_next_counter.clear();
}

bool udb_validator::is_restricted(const std::wstring& name)
{
    catch_up();
    return m_restricted.contains(tk_fold_case(name));
}

std::uint32_t udb_validator::first_counter(const std::wstring& stem)
{
    catch_up();
    auto it = m_next_counter.find(stem);
    return it == m_next_counter.end() ? 0 : it->second;
}

void udb_validator::note_counter(const std::wstring& stem, std::uint32_t counter)
{
    m_next_counter[stem] = counter;
}

bool udb_validator::is_acceptable(const std::wstring& name)
{
    tk_write_wlog(2, L"udb_validator::is_acceptable(%s)", name.c_str());
    if (max_length != 0 && name.size() > max_length) {
        tk_write_log(1, "The name is too long");
        return false;
    }
    if (is_restricted(name)) {
        tk_write_log(2, "The name is restricted");
        return false;
    }
    for (wchar_t c : illegal_chars) {
        if (name.find(c) != std::wstring::npos) {
            tk_write_wlog(2, L"The name contains illegal: %lc", wint_t(c));
            return false;
        }
    }
    return true;
}

bool udb_validator::is_duplicated(const std::wstring& name)
{
    tk_write_wlog(2, L"udb_validator::is_duplicated(%s)", name.c_str());
    catch_up();
    if (m_existing.contains(tk_fold_case(name))) {
        tk_write_log(2, "Name is duplicated");
        return true;
    }
    return false;
}

std::wstring udb_validator::get_safe_name(const std::wstring& name)
{
    tk_write_wlog(1, L"udb_validator::get_safe_name(%s)", name.c_str());
    const std::size_t m = max_length;
    std::wstring copy = tk_to_lower(name);
    if (m != 0 && copy.size() > m) copy.resize(m - 1);
    for (wchar_t bad : illegal_chars)
        for (auto& c : copy)
            if (c == bad) c = L'_';

    if (is_acceptable(copy) && !is_duplicated(copy)) return copy;

    std::wstring stem = copy;
    // For m below 6 nothing is cut (m - 6 would wrap around).
    if (m != 0 && m >= 6 && copy.size() > m - 5) stem.resize(m - 6);
    wchar_t digits[8];
    for (std::uint32_t n = first_counter(stem); n <= 99999; ++n) {
        std::swprintf(digits, 8, L"%05u", n);
        std::wstring candidate = stem + digits;
        if (is_acceptable(candidate) && !is_duplicated(candidate)) {
            note_counter(stem, n);
            return candidate;
        }
    }
    throw tk_mail_assertion("udb_vali", 55);
}

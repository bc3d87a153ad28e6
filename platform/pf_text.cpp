#include "platform/pf_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/pf_case_fold_table.h"

namespace {

constexpr char32_t replacement_char = 0xFFFD;

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

namespace {

// Reads one code point and moves p past it. Each invalid or truncated
// sequence yields one U+FFFD; a bad byte that cuts a sequence short starts
// over as the next sequence.
char32_t next_code_point(const unsigned char*& p, const unsigned char* end)
{
    unsigned char b = *p;
    if (b < 0x80) {
        ++p;
        return b;
    }
    int need;
    char32_t cp;
    char32_t min;
    if ((b & 0xE0) == 0xC0) { need = 1; cp = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { need = 2; cp = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0 && b <= 0xF4) { need = 3; cp = b & 0x07; min = 0x10000; }
    else { ++p; return replacement_char; }
    int got = 0;
    const unsigned char* q = p + 1;
    while (got < need && q < end && is_continuation(*q)) {
        cp = (cp << 6) | (*q & 0x3F);
        ++q;
        ++got;
    }
    p = q;
    if (got < need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return replacement_char;
    return cp;
}

}  // namespace

bool pf_is_valid_utf8(std::string_view text) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // Plain ASCII eight bytes at a time.
        while (end - p >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            if (w & 0x8080808080808080ull) break;
            p += 8;
        }
        if (p == end) break;
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const unsigned char* start = p;
        const unsigned char lead = *p;
        const char32_t cp = next_code_point(p, end);
        // A U+FFFD that was written as such is valid; one made for bad bytes is not.
        if (cp == replacement_char && !(lead == 0xEF && p - start == 3 && start[1] == 0xBF && start[2] == 0xBD))
            return false;
    }
    return true;
}

std::wstring pf_utf8_to_wide(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) out.push_back(static_cast<wchar_t>(next_code_point(p, end)));
    return out;
}

void pf_append_utf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = replacement_char;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string pf_wide_to_utf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) pf_append_utf8(out, static_cast<char32_t>(c));
    return out;
}

char32_t pf_fold_case(char32_t c) noexcept
{
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    const pf_case_fold_run* begin = pf_case_fold_runs;
    const pf_case_fold_run* end = pf_case_fold_runs + pf_case_fold_run_count;
    // The last run whose first code point is not above c.
    const pf_case_fold_run* it = std::upper_bound(
        begin, end, c, [](char32_t v, const pf_case_fold_run& r) { return v < r.first; });
    if (it == begin) return c;
    --it;
    std::uint32_t delta = c - it->first;
    if (delta % it->stride != 0 || delta / it->stride >= it->count) return c;
    return static_cast<char32_t>(static_cast<std::int64_t>(c) + it->offset);
}

int pf_compare_folded(std::wstring_view a, std::wstring_view b) noexcept
{
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char32_t x = pf_fold_case(static_cast<char32_t>(a[i]));
        char32_t y = pf_fold_case(static_cast<char32_t>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int pf_compare_folded_utf8(std::string_view a, std::string_view b) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(a.data());
    const auto* p_end = p + a.size();
    const auto* q = reinterpret_cast<const unsigned char*>(b.data());
    const auto* q_end = q + b.size();
    while (p < p_end && q < q_end) {
        char32_t x = pf_fold_case(next_code_point(p, p_end));
        char32_t y = pf_fold_case(next_code_point(q, q_end));
        if (x != y) return x < y ? -1 : 1;
    }
    if (p < p_end) return 1;
    if (q < q_end) return -1;
    return 0;
}

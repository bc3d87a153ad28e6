#include "platform/pf_text.h"

#include <algorithm>

#include "platform/pf_case_fold_table.h"

namespace {

constexpr char32_t replacement_char = 0xFFFD;

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

std::wstring pf_utf8_to_wide(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char b = *p;
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++p;
            continue;
        }
        int need;
        char32_t cp;
        char32_t min;
        if ((b & 0xE0) == 0xC0) { need = 1; cp = b & 0x1F; min = 0x80; }
        else if ((b & 0xF0) == 0xE0) { need = 2; cp = b & 0x0F; min = 0x800; }
        else if ((b & 0xF8) == 0xF0 && b <= 0xF4) { need = 3; cp = b & 0x07; min = 0x10000; }
        else { out.push_back(static_cast<wchar_t>(replacement_char)); ++p; continue; }
        // A sequence cut short by a bad byte yields one replacement for the
        // bytes read so far; the bad byte starts over.
        int got = 0;
        const unsigned char* q = p + 1;
        while (got < need && q < end && is_continuation(*q)) {
            cp = (cp << 6) | (*q & 0x3F);
            ++q;
            ++got;
        }
        if (got < need || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            out.push_back(static_cast<wchar_t>(replacement_char));
        else
            out.push_back(static_cast<wchar_t>(cp));
        p = q;
    }
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

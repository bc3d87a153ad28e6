#include "TK/ole_guid.h"

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "platform/pf_text.h"

namespace {

bool is_hex(wchar_t c) noexcept
{
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

constexpr std::size_t guid_length = 36;

}  // namespace

bool ole_is_guid_layout(std::wstring_view t) noexcept
{
    if (t.size() != guid_length) return false;
    for (std::size_t k = 0; k < guid_length; ++k) {
        const bool dash_place = k == 8 || k == 13 || k == 18 || k == 23;
        if (dash_place ? t[k] != L'-' : !is_hex(t[k])) return false;
    }
    return true;
}

ole_guid_extractor::ole_guid_extractor(std::string_view utf8_text)
{
    check(pf_utf8_to_wide(utf8_text));
}

ole_guid_extractor::ole_guid_extractor(const char* utf8_text)
    : ole_guid_extractor(std::string_view(utf8_text ? utf8_text : ""))
{
}

ole_guid_extractor::ole_guid_extractor(std::wstring_view text)
{
    check(text);
}

ole_guid_extractor::ole_guid_extractor(const wchar_t* text)
    : ole_guid_extractor(std::wstring_view(text ? text : L""))
{
}

void ole_guid_extractor::check(std::wstring_view text)
{
    if (text.size() > 90) return;  // too long for a GUID, before trimming
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == L' ') ++b;
    while (e > b && text[e - 1] == L' ') --e;
    src.assign(text.substr(b, e - b));
    const std::size_t n = src.size();
    if (n < guid_length || n > 45) return;

    std::wstring_view s(src);
    if (n == guid_length) {
        pos = 0;
        if (ole_is_guid_layout(s)) {
            pos = 36;
            b_valid = true;
        }
        return;
    }
    if (n == guid_length + 2 && s.front() == L'{' && s.back() == L'}') {
        pos = 0;
        if (ole_is_guid_layout(s.substr(1, guid_length))) {
            pos = 37;
            b_valid = true;
        }
        return;
    }
    // "guid {…}": the keyword, then the braced GUID.
    std::size_t lower = s.find(L"guid");
    std::size_t upper = s.find(L"GUID");
    if (lower == std::wstring_view::npos && upper == std::wstring_view::npos) return;
    std::size_t at = (lower != std::wstring_view::npos ? lower : upper) + 4;
    std::size_t brace = s.find(L'{', at);
    if (brace == std::wstring_view::npos || brace + 1 + guid_length > n) return;
    if (!ole_is_guid_layout(s.substr(brace + 1, guid_length))) return;
    std::size_t after = brace + 1 + guid_length;
    if (after < n && s[after] != L'}') return;
    pos = std::int32_t(brace);
    b_valid = true;
}

std::size_t ole_guid_extractor::guid_start() const noexcept
{
    if (src.size() == guid_length) return 0;
    if (src.size() == guid_length + 2 && src.front() == L'{' && src.back() == L'}') return 1;
    return std::size_t(pos) + 1;
}

std::wstring ole_guid_extractor::get_raw_guid_wstr() const
{
    if (!b_valid) return std::wstring();
    return src.substr(guid_start(), guid_length);
}

std::string ole_guid_extractor::get_raw_guid_str() const
{
    if (!b_valid) return std::string();
    return pf_wide_to_utf8(get_raw_guid_wstr());
}

std::wstring ole_guid_extractor::get_guid_wstr() const
{
    if (!b_valid) return std::wstring();
    std::wstring_view g = std::wstring_view(src).substr(guid_start(), guid_length);
    std::wstring out;
    out.reserve(32);
    for (std::size_t k = 0; k < g.size(); ++k)
        if (!(k == 8 || k == 13 || k == 18 || k == 23)) out.push_back(g[k]);
    return out;
}

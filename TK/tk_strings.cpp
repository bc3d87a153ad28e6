#include "TK/tk_strings.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "platform/pf_text.h"

namespace {

template <class View>
View up_to_nul(View text)
{
    auto pos = text.find(typename View::value_type(0));
    return pos == View::npos ? text : text.substr(0, pos);
}

template <class String, class View>
String rtrim_impl(View text)
{
    if (text.empty()) return String();
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') --end;
    if (end == 0) {
        tk_write_log(1, "Special processing for all-spaces-string");
        return String();
    }
    return String(text.substr(0, end));
}

template <class String, class View>
String trim_impl(View text)
{
    String r = rtrim_impl<String>(text);
    std::size_t start = 0;
    while (start < r.size() && r[start] == ' ') ++start;
    r.erase(0, start);
    return r;
}

template <class String, class View>
std::vector<String> split_impl(View text, typename View::value_type separator)
{
    std::vector<String> items;
    text = up_to_nul(text);
    if (text.empty()) return items;
    std::size_t start = 0;
    for (;;) {
        std::size_t pos = text.find(separator, start);
        if (pos == View::npos) {
            items.emplace_back(text.substr(start));
            break;
        }
        items.emplace_back(text.substr(start, pos - start));
        start = pos + 1;
    }
    return items;
}

template <class String, class View>
void replace_all_impl(String& text, View search, View replacement)
{
    // An empty search text would match everywhere without progress: nothing to do.
    if (search.empty()) return;
    std::size_t p = 0;
    while (text.size() >= search.size() && text.size() - p >= search.size()) {
        std::size_t q = text.find(search, p);
        if (q == String::npos) break;
        text.replace(q, search.size(), replacement);
        p = q + replacement.size();
    }
}

template <class String>
void to_lower_impl(String& text)
{
    auto nul = text.find(typename String::value_type(0));
    if (nul != String::npos) text.resize(nul);
    for (auto& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<typename String::value_type>(c + ('a' - 'A'));
}

}  // namespace

// --- conversions ---

std::wstring tk_ansi_to_unicode(std::string_view text) { return pf_utf8_to_wide(up_to_nul(text)); }

std::wstring tk_utf8_to_unicode(std::string_view text) { return pf_utf8_to_wide(up_to_nul(text)); }

std::string tk_unicode_to_ansi(std::wstring_view text, int /*code_page*/)
{
    return pf_wide_to_utf8(up_to_nul(text));
}

std::string tk_unicode_to_utf8(std::wstring_view text) { return pf_wide_to_utf8(up_to_nul(text)); }

bool tk_ansi_to_unicode2(const char* text, std::wstring& buffer)
{
    if (!text) return false;
    buffer = pf_utf8_to_wide(text);
    return true;
}

bool tk_unicode_to_ansi2(const wchar_t* text, std::string& buffer)
{
    tk_write_log(1, "tk_unicode_to_ansi2");
    if (!text) return false;
    buffer = pf_wide_to_utf8(text);
    return true;
}

bool tk_unicode_to_ansi3(const wchar_t* text, std::string& result)
{
    if (!text || !*text) {
        result.clear();
        tk_write_log(1, "tk_unicode_to_ansi3 - return false");
        return false;
    }
    result = pf_wide_to_utf8(text);
    tk_write_log(1, "tk_unicode_to_ansi3 - return true");
    return true;
}

bool tk_unicode_to_ansi1(const wchar_t* text, char* buffer, std::size_t buffer_size)
{
    tk_write_log(1, "tk_unicode_to_ansi1");
    if (!text || !buffer) return false;
    std::size_t length = std::wcslen(text);
    tk_write_log(1, "n_ansi=%d, n_unicode=%d", static_cast<int>(length * 2 + 2), static_cast<int>(length + 1));
    std::string converted = pf_wide_to_utf8(std::wstring_view(text, length));
    // Never write past the caller's buffer: a text whose UTF-8 form needs more
    // room than given fails instead.
    if (converted.size() + 1 > buffer_size) return false;
    std::memcpy(buffer, converted.c_str(), converted.size() + 1);
    return true;
}

// --- trimming and splitting ---

std::string tk_rtrim(std::string_view text) { return rtrim_impl<std::string>(text); }
std::wstring tk_rtrim(std::wstring_view text) { return rtrim_impl<std::wstring>(text); }
std::string tk_trim(std::string_view text) { return trim_impl<std::string>(text); }
std::wstring tk_trim(std::wstring_view text) { return trim_impl<std::wstring>(text); }

std::vector<std::string> tk_split(std::string_view text, char separator)
{
    return split_impl<std::string>(text, separator);
}

std::vector<std::wstring> tk_split(std::wstring_view text, wchar_t separator)
{
    return split_impl<std::wstring>(text, separator);
}

// --- case ---

int tk_compare_no_case(std::wstring_view a, std::wstring_view b) { return pf_compare_folded(a, b); }

int tk_compare_no_case(std::string_view a, std::string_view b)
{
    return pf_compare_folded_utf8(a, b);
}

bool tk_equal_no_case(std::wstring_view a, std::wstring_view b)
{
    return a.size() == b.size() && pf_compare_folded(a, b) == 0;
}

bool tk_equal_no_case(std::string_view a, std::string_view b) { return tk_compare_no_case(a, b) == 0; }

wchar_t tk_fold_case(wchar_t c) noexcept
{
    return static_cast<wchar_t>(pf_fold_case(static_cast<char32_t>(c)));
}

std::wstring tk_fold_case(std::wstring_view text)
{
    std::wstring r(text);
    for (auto& c : r) c = tk_fold_case(c);
    return r;
}

std::string tk_to_lower(std::string_view text)
{
    std::string r(text);
    to_lower_impl(r);
    return r;
}

std::wstring tk_to_lower(std::wstring_view text)
{
    std::wstring r(text);
    to_lower_impl(r);
    return r;
}

// --- hexadecimal ---

namespace {
const char upper_digits[] = "0123456789ABCDEF";
}

void tk_bin_to_hex(std::size_t count, const unsigned char* bytes, char* output)
{
    if (!output) throw tk_mail_assertion("tk_utils", 903);
    for (std::size_t i = 0; i < count; ++i) {
        output[2 * i] = upper_digits[bytes[i] >> 4];
        output[2 * i + 1] = upper_digits[bytes[i] & 0x0F];
    }
    output[2 * count] = '\0';
}

void tk_bin_to_hex(std::size_t count, const unsigned char* bytes, wchar_t* output)
{
    if (!output) throw tk_mail_assertion("tk_utils", 917);
    for (std::size_t i = 0; i < count; ++i) {
        output[2 * i] = static_cast<wchar_t>(upper_digits[bytes[i] >> 4]);
        output[2 * i + 1] = static_cast<wchar_t>(upper_digits[bytes[i] & 0x0F]);
    }
    output[2 * count] = L'\0';
}

std::string tk_bin_to_hex(const void* bytes, std::size_t count)
{
    std::string r(2 * count, '\0');
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < count; ++i) {
        r[2 * i] = upper_digits[p[i] >> 4];
        r[2 * i + 1] = upper_digits[p[i] & 0x0F];
    }
    return r;
}

bool tk_hex_to_bin(std::string_view hex, std::string& bytes)
{
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    bytes.clear();
    if (hex.size() % 2 != 0) return false;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes += static_cast<char>(hi << 4 | lo);
    }
    return true;
}

// --- tk_string ---

std::string tk_string::replace_all(std::string& text, std::string_view search, std::string_view replacement)
{
    tk_write_log(1, "tk_string::replace_all('%s','%s')", std::string(search).c_str(), std::string(replacement).c_str());
    replace_all_impl(text, search, replacement);
    return text;
}

std::string tk_string::replace_all(std::string_view search, std::string_view replacement)
{
    return replace_all(static_cast<std::string&>(*this), search, replacement);
}

std::string tk_string::to_lower(std::string& text)
{
    tk_write_log(1, "tk_string::to_lower(%s)", text.c_str());
    to_lower_impl(text);
    return text;
}

std::string tk_string::to_lower() { return to_lower(static_cast<std::string&>(*this)); }

bool tk_string::compare_no_case(std::string_view a, std::string_view b)
{
    tk_write_log(1, "tk_string::compare_no_case");
    return tk_equal_no_case(a, b);
}

// --- tk_wstring ---

tk_wstring& tk_wstring::trim()
{
    std::wstring trimmed = tk_trim(std::wstring_view(*this));
    assign(trimmed);
    return *this;
}

bool tk_wstring::split(wchar_t separator, std::vector<std::wstring>& items) const
{
    tk_write_wlog(1, L"tk_wstring::split(%c)", separator);
    items = tk_split(std::wstring_view(*this), separator);
    return true;
}

std::wstring tk_wstring::replace_all(std::wstring& text, std::wstring_view search, std::wstring_view replacement)
{
    tk_write_wlog(1, L"tk_wstring::replace_all(%s,%s)", std::wstring(search).c_str(), std::wstring(replacement).c_str());
    replace_all_impl(text, search, replacement);
    return text;
}

std::wstring tk_wstring::replace_all(std::wstring_view search, std::wstring_view replacement)
{
    return replace_all(static_cast<std::wstring&>(*this), search, replacement);
}

std::wstring tk_wstring::to_lower(std::wstring& text)
{
    tk_write_wlog(1, L"tk_wstring::to_lower(%s)", text.c_str());
    to_lower_impl(text);
    return text;
}

std::wstring tk_wstring::to_lower() { return to_lower(static_cast<std::wstring&>(*this)); }

bool tk_wstring::starts_with(std::wstring_view text, std::wstring_view prefix, bool case_sensitive)
{
    if (prefix.empty()) return true;
    if (text.size() < prefix.size()) return false;
    std::wstring_view head = text.substr(0, prefix.size());
    return case_sensitive ? head == prefix : tk_equal_no_case(head, prefix);
}

bool tk_wstring::ends_with(std::wstring_view text, std::wstring_view suffix, bool case_sensitive)
{
    if (suffix.empty()) return true;
    if (text.size() < suffix.size()) return false;
    std::wstring_view tail = text.substr(text.size() - suffix.size());
    return case_sensitive ? tail == suffix : tk_equal_no_case(tail, suffix);
}

bool tk_wstring::starts_with(std::wstring_view prefix, bool case_sensitive) const
{
    return starts_with(std::wstring_view(*this), prefix, case_sensitive);
}

bool tk_wstring::ends_with(std::wstring_view suffix, bool case_sensitive) const
{
    return ends_with(std::wstring_view(*this), suffix, case_sensitive);
}

namespace {

template <class Char>
void append_ascii(std::basic_string<Char>& out, const char* text)
{
    for (; *text; ++text) out += static_cast<Char>(*text);
}

// Appends the visible form of one control character (code below 0x20, 0x7F or
// 0x80-0x9F); false when c is not one.
template <class Char>
bool append_visible_control(std::basic_string<Char>& out, unsigned c)
{
    char buf[8];
    switch (c) {
    case '\n': append_ascii(out, "\\n"); return true;
    case '\r': append_ascii(out, "\\r"); return true;
    case '\t': append_ascii(out, "\\t"); return true;
    default: break;
    }
    if (c < 0x20 || c == 0x7F) {
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
    } else if (c >= 0x80 && c <= 0x9F) {
        std::snprintf(buf, sizeof buf, "\\u%04X", c);
    } else {
        return false;
    }
    append_ascii(out, buf);
    return true;
}

}  // namespace

std::wstring tk_visible_text(std::wstring_view text)
{
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text)
        if (!append_visible_control(out, static_cast<unsigned>(c)))
            out += c;
    return out;
}

std::string tk_visible_text(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        // A C1 control character is U+0080-U+009F, two bytes in UTF-8: C2 80-9F.
        if (b == 0xC2 && i + 1 < text.size()) {
            const auto next = static_cast<unsigned char>(text[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                append_visible_control(out, next);
                ++i;
                continue;
            }
        }
        if (b >= 0x80 || !append_visible_control(out, b))
            out += static_cast<char>(b);
    }
    return out;
}

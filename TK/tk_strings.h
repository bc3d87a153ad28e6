#pragma once
// Text toolkit: trimming, splitting, replacing, lower-casing, prefix and
// suffix tests, case-insensitive comparison, the conversions between the ANSI
// code page, UTF-8 and wide text, and hexadecimal bytes.
//
// Wide text is std::wstring holding code points. The "ANSI code page" is UTF-8
// on every machine, whatever the locale, so no conversion depends on the
// locale. Invalid UTF-8 (and, the other way, an invalid code point) becomes
// U+FFFD: the conversions never fail.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// --- conversions (the result ends at the first NUL character) ---
std::wstring tk_ansi_to_unicode(std::string_view text);
std::wstring tk_utf8_to_unicode(std::string_view text);
// code_page -1 is the ANSI code page (UTF-8); every code page gives UTF-8.
std::string tk_unicode_to_ansi(std::wstring_view text, int code_page = -1);
std::string tk_unicode_to_utf8(std::wstring_view text);

// Forms that answer success instead of throwing. A null text answers false and
// leaves the buffer alone; otherwise the buffer is replaced by the result.
bool tk_ansi_to_unicode2(const char* text, std::wstring& buffer);
bool tk_unicode_to_ansi2(const wchar_t* text, std::string& buffer);
// An empty text answers false with an empty result.
bool tk_unicode_to_ansi3(const wchar_t* text, std::string& result);
// Converts into the caller's buffer of buffer_size bytes (terminated); false
// when the text is null or its UTF-8 form with terminator does not fit.
bool tk_unicode_to_ansi1(const wchar_t* text, char* buffer, std::size_t buffer_size);

// --- trimming: only the blank U+0020 is trimmed ---
std::string tk_rtrim(std::string_view text);
std::wstring tk_rtrim(std::wstring_view text);
std::string tk_trim(std::string_view text);
std::wstring tk_trim(std::wstring_view text);

// --- splitting: every separator ends an item (empty items stay); an empty
// text gives no items; the text is read up to its first NUL ---
std::vector<std::string> tk_split(std::string_view text, char separator);
std::vector<std::wstring> tk_split(std::wstring_view text, wchar_t separator);

// --- case-insensitive comparison ---
// The one case-insensitive comparison of the system: Unicode simple case
// folding over the whole texts, code point by code point. Answers <0, 0, >0.
// Narrow texts are read as UTF-8.
int tk_compare_no_case(std::wstring_view a, std::wstring_view b);
int tk_compare_no_case(std::string_view a, std::string_view b);
bool tk_equal_no_case(std::wstring_view a, std::wstring_view b);
bool tk_equal_no_case(std::string_view a, std::string_view b);
// The simple case fold of one code point (for hashing or ordering by folded text).
wchar_t tk_fold_case(wchar_t c) noexcept;
std::wstring tk_fold_case(std::wstring_view text);

// Lower-casing of the classic locale: only A-Z change. Ends at a NUL character.
std::string tk_to_lower(std::string_view text);
std::wstring tk_to_lower(std::wstring_view text);

// --- hexadecimal: two upper-case digits per byte, terminated; the output
// must hold 2 * count + 1 characters. A null output is an internal error ---
void tk_bin_to_hex(std::size_t count, const unsigned char* bytes, char* output);
void tk_bin_to_hex(std::size_t count, const unsigned char* bytes, wchar_t* output);
std::string tk_bin_to_hex(const void* bytes, std::size_t count);
// The bytes of hexadecimal digits (either case); false, with nothing kept, when the text is
// not an even run of them.
bool tk_hex_to_bin(std::string_view hex, std::string& bytes);

// A text as it may be shown on a terminal or written into a one-line note:
// every control character (C0, DEL and the C1 range, which terminals take as
// escape sequences and line breaks) becomes a visible escape: \n, \r, \t or
// \xNN (\u00NN for the C1 range). Everything else is kept.
std::wstring tk_visible_text(std::wstring_view text);
// The same for UTF-8 text (what is not valid UTF-8 is kept byte for byte).
std::string tk_visible_text(std::string_view text);

// A narrow text with the toolkit's operations added.
class tk_string : public std::string {
public:
    using std::string::string;
    tk_string() = default;
    tk_string(const std::string& s) : std::string(s) {}
    tk_string(std::string&& s) noexcept : std::string(std::move(s)) {}

    // Replaces every occurrence left to right, going on after each inserted
    // replacement; changes the text and returns a copy of the result.
    std::string replace_all(std::string_view search, std::string_view replacement);
    // A-Z become a-z; changes the text and returns a copy.
    std::string to_lower();

    static bool compare_no_case(std::string_view a, std::string_view b);
    // The same operations on a caller's text.
    static std::string replace_all(std::string& text, std::string_view search, std::string_view replacement);
    static std::string to_lower(std::string& text);
};

// A wide text with the toolkit's operations added.
class tk_wstring : public std::wstring {
public:
    using std::wstring::wstring;
    using std::wstring::starts_with;
    using std::wstring::ends_with;
    tk_wstring() = default;
    tk_wstring(const std::wstring& s) : std::wstring(s) {}
    tk_wstring(std::wstring&& s) noexcept : std::wstring(std::move(s)) {}

    // Trims blanks in place (trailing first) and returns the text.
    tk_wstring& trim();
    // Replaces items with tk_split of the text; always true.
    bool split(wchar_t separator, std::vector<std::wstring>& items) const;
    std::wstring replace_all(std::wstring_view search, std::wstring_view replacement);
    std::wstring to_lower();
    // An empty prefix/suffix answers true, a longer one false.
    bool starts_with(std::wstring_view prefix, bool case_sensitive) const;
    bool ends_with(std::wstring_view suffix, bool case_sensitive) const;

    // The same operations on a caller's text.
    static std::wstring replace_all(std::wstring& text, std::wstring_view search, std::wstring_view replacement);
    static std::wstring to_lower(std::wstring& text);
    static bool starts_with(std::wstring_view text, std::wstring_view prefix, bool case_sensitive);
    static bool ends_with(std::wstring_view text, std::wstring_view suffix, bool case_sensitive);
};

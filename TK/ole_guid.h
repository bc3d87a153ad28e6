#pragma once
// Recognises a GUID inside a text value, so that the literal writers can
// quote it in the form each database expects. Accepted: the 36-character
// 8-4-4-4-12 hexadecimal layout alone, in braces, or in braces after the word
// "guid"/"GUID" (at most 45 characters in all, blanks at both ends ignored).

#include <cstdint>
#include <string>
#include <string_view>

class ole_guid_extractor {
public:
    std::int32_t pos = -1;  // where the test stopped; -1 before any test
    std::wstring src;       // the text after trimming
    bool b_valid = false;   // a GUID was found

    explicit ole_guid_extractor(std::string_view utf8_text);
    explicit ole_guid_extractor(const char* utf8_text);
    explicit ole_guid_extractor(std::wstring_view text);
    explicit ole_guid_extractor(const wchar_t* text);
    explicit ole_guid_extractor(const std::wstring& text) : ole_guid_extractor(std::wstring_view(text)) {}
    explicit ole_guid_extractor(const std::string& text) : ole_guid_extractor(std::string_view(text)) {}

    // The 36 characters as written (UTF-8 / wide); empty without a GUID.
    std::string get_raw_guid_str() const;
    std::wstring get_raw_guid_wstr() const;
    // The 32 hexadecimal digits without dashes and braces, in the case
    // written; empty without a GUID.
    std::wstring get_guid_wstr() const;

private:
    void check(std::wstring_view text);
    std::size_t guid_start() const noexcept;
};

// True for the 8-4-4-4-12 hexadecimal layout of exactly 36 characters.
bool ole_is_guid_layout(std::wstring_view text) noexcept;

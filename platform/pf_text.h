#pragma once
// Text services that the toolkit used to get from the operating system: the
// code-page conversions (the ANSI code page is UTF-8 here, whatever the
// locale) and locale-free case folding.

#include <string>
#include <string_view>

// UTF-8 to code points. Each invalid or truncated sequence, overlong form,
// encoded surrogate or value above U+10FFFF becomes one U+FFFD.
std::wstring pf_utf8_to_wide(std::string_view text);
// Code points to UTF-8; a surrogate or a value above U+10FFFF becomes U+FFFD.
std::string pf_wide_to_utf8(std::wstring_view text);
void pf_append_utf8(std::string& out, char32_t code_point);
// Whether the text is UTF-8 that pf_utf8_to_wide reads without a replacement: no invalid or
// truncated sequence, overlong form, encoded surrogate or value above U+10FFFF.
bool pf_is_valid_utf8(std::string_view text) noexcept;

// Unicode simple case folding of one code point.
char32_t pf_fold_case(char32_t c) noexcept;
// Compares the folded texts code point by code point: <0, 0, >0.
int pf_compare_folded(std::wstring_view a, std::wstring_view b) noexcept;
// The same over two UTF-8 texts, decoded on the fly (no allocation).
int pf_compare_folded_utf8(std::string_view a, std::string_view b) noexcept;

#pragma once
// Value forms shared by the profile sections of the convertor and its halves.

#include <string>

// Profile section names.
inline constexpr const wchar_t* profile_generic = L"Generic settings";
inline constexpr const wchar_t* profile_mysql = L"MySQL settings";
inline constexpr const wchar_t* profile_pgs = L"PostgreSQL Settings";

// "1" or "0".
std::wstring profile_flag(bool on);
// A flag value: on exactly when the value is "1".
bool profile_is_on(const std::wstring& value);
// A query text on one line: CR LF, then LF, then CR become blanks.
std::wstring profile_one_line(std::wstring text);

#pragma once
// printf-style formatting with the conventions the system's format strings
// were written for, independent of the locale:
//  - narrow formats: %s is a narrow text, %S a wide one;
//  - wide formats:   %s is a wide text,   %S a narrow (UTF-8) one;
//  - %hs is always narrow and %ls / %ws always wide; %c / %C likewise;
//  - %I64d, %I64u, %I32d and %lld are all accepted;
//  - floating-point conversions always use '.' as the decimal point.
// Wide texts are written as UTF-8 into narrow results and narrow texts are
// read as UTF-8 into wide results. A null text prints as "(null)".

#include <cstdarg>
#include <string>

std::string tk_vformat(const char* format, va_list args);
std::wstring tk_vwformat(const wchar_t* format, va_list args);
std::string tk_format(const char* format, ...);
std::wstring tk_wformat(const wchar_t* format, ...);

#pragma once
// One date, time or date-and-time value as the databases deliver it, with
// milliseconds, microseconds and an hour offset. It reads the many text forms
// that MySQL, PostgreSQL and users write and prints the ISO-like form both
// databases accept ("2023-01-05 10:20:30.123456").
//
// The record is plain data of 32 bytes; its bytes in field order are also the
// binary image of a date value.

#include <cstdint>
#include <string>
#include <string_view>

#include "TK/tk_singleton.h"
#include "platform/pf_value.h"

// Present only when a front end wants time-zone offsets read and printed;
// neither program builds it, so by default no offset is handled.
class timezone_options : public tk_singleton<timezone_options> {
public:
    timezone_options() = default;
};

class ole_date {
public:
    enum : std::int32_t {
        type_invalid = 0,
        type_date_time = 1,
        type_date = 2,
        type_time = 3,
    };

    // Field order and widths are the binary image of the value.
    std::int32_t type = type_invalid;    // 0 invalid, 1 date and time, 2 date only, 3 time only
    std::int32_t timezone = 0;           // offset from UTC in whole hours
    bool b_date_only_midnight = true;    // a date-and-time at exactly midnight prints as its date
    std::uint8_t reserved[3] = {0, 0, 0};
    std::int32_t microseconds = 0;       // fraction of the second, 0-999,999
    SYSTEMTIME src{};

    ole_date() noexcept = default;
    // Parses the text (UTF-8); an unreadable text leaves type 0.
    explicit ole_date(const char* text);
    explicit ole_date(std::string_view text);
    explicit ole_date(const std::string& text) : ole_date(std::string_view(text)) {}
    explicit ole_date(const wchar_t* text);
    explicit ole_date(std::wstring_view text);
    explicit ole_date(const std::wstring& text) : ole_date(std::wstring_view(text)) {}

    // A value from its parts (no validity test; call is_valid).
    static ole_date make(int type, int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0, int microseconds = 0) noexcept;

    // The parser proper: sets type, src and microseconds.
    void import_from_string(std::string_view text);

    // The forms MySQL writes for DATE, DATETIME and TIMESTAMP, and for a TIME within one day:
    // "2023-01-05", "2023-01-05 10:20:30", "10:20:30", each with 1 to 6 fraction digits after
    // the seconds where there is a time. Read straight from their fixed places (the rows of a
    // table bring millions of them): true when the text is one of these forms with a date that
    // exists (year 1 to 9999), an hour up to 23 and minutes and seconds up to 59; `out` is then
    // the value the general parser makes of the same text, and `form` (replaced) its wide text
    // form (append_wide_form_to, precision 6). False for any other text, which the general
    // parser reads as before; also when time-zone offsets are read (timezone_options).
    static bool read_mysql_form(std::string_view text, ole_date& out, std::string& form);

    bool is_valid() const noexcept;
    // Seconds and their fraction ("30.123456") into src and microseconds,
    // carrying into the next minute, hour and (for values with a date) day.
    void process_milliseconds(std::string_view seconds_text);
    // Reads an hour offset ("+02", " -05") into timezone.
    void process_timezone(std::string_view text);
    // A date-and-time with no date becomes time only; one at exactly midnight
    // (no fraction at all) becomes date only.
    void refine_type() noexcept;

    // Narrow (UTF-8) and wide text forms; every caller passes precision 6
    // (microseconds), precision 0 prints no fraction. The hour prints as
    // read, also beyond 23 or below 0. The wide form prints a
    // time-only value without the "0000-00-00 " date part.
    std::string to_string(int precision = 6) const;
    std::wstring to_wstring(int precision = 6) const;
    // The narrow form appended to out, without other allocation.
    void append_to(std::string& out, int precision = 6) const;
    // The wide form's text as UTF-8 (time-only without a date part).
    void append_wide_form_to(std::string& out, int precision = 6) const;

    int get_type() const noexcept { return type; }
    int year() const noexcept { return src.wYear; }
    int month() const noexcept { return src.wMonth; }
    int day() const noexcept { return src.wDay; }
    int hour() const noexcept { return src.wHour; }
    int minute() const noexcept { return src.wMinute; }
    int second() const noexcept { return src.wSecond; }
    int milliseconds() const noexcept { return src.wMilliseconds; }

    friend bool operator==(const ole_date& a, const ole_date& b) noexcept;
    friend bool operator!=(const ole_date& a, const ole_date& b) noexcept { return !(a == b); }

private:
    void parse_text(std::string_view text);
    bool try_separated(std::string_view text, char sep);
    void append_form(std::string& out, int precision, bool wide_form) const;
};
static_assert(sizeof(ole_date) == 32, "ole_date is a 32-byte record");

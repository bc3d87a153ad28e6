#pragma once
// Date, time and date-and-time texts in and around the forms MySQL writes (valid and invalid
// dates, fractions of every length, hours beyond a day, other separators), for tests that
// compare the fixed-place reading of these forms with the general date parser.
#include <string>
#include <vector>

namespace test_env {

inline std::vector<std::string> mysql_like_date_texts()
{
    std::vector<std::string> texts;
    const char* fractions[] = {"", ".0", ".5", ".000", ".123", ".000400", ".0004", ".9995", ".99949",
                               ".999999", ".000000", ".1234567", "."};
    const char* times[] = {"00:00:00", "12:34:56", "23:59:59", "00:00:01", "24:00:00", "23:60:00", "9:05:00"};
    for (const char* year : {"0000", "0001", "0099", "0100", "1900", "2000", "2024", "9999"})
        for (const char* month : {"00", "01", "02", "12", "13"})
            for (const char* day : {"00", "01", "28", "29", "30", "31", "32"}) {
                const std::string date = std::string(year) + "-" + month + "-" + day;
                texts.push_back(date);
                for (const char* time : times)
                    for (const char* f : fractions) texts.push_back(date + " " + time + f);
            }
    for (const char* time : times)
        for (const char* f : fractions) texts.push_back(std::string(time) + f);
    for (const char* odd : {"2024-01-05T10:20:30", " 2024-01-05", "2024-01-05 ", "2024/01/05", "2024-1-5",
                            "20240105", "10:20", "838:59:59", "-01:00:00", "10:20:30 PM", "2024-01-05 10:20",
                            "2024-01-05  10:20:30", "2024-01-0x", "1a:20:30"})
        texts.push_back(odd);
    return texts;
}

}  // namespace test_env

#pragma once

// Date-time text for the log: a formatter with named formats and a pattern
// language of seven field letters (y M d H h m s), Chinese month and weekday names.

#include <string>

namespace sharelink {

struct DateTime {
  int year = 1899;
  int month = 12;   // 1..12
  int day = 30;     // 1..31
  int weekday = 7;  // 1 = Sunday .. 7 = Saturday
  int hour = 0;     // 0..23
  int minute = 0;
  int second = 0;
};

// The current local date-time.
DateTime local_now();

// A calendar date and time with its weekday filled in.
DateTime make_datetime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

// Formats when with format, or with "yyyy-MM-dd HH:mm:ss" when no format is
// given. Named formats: G D d T t f F g, and M/m, Y/y in either letter case.
std::string format_datetime(const DateTime& when, const std::string& format = {},
                            bool format_given = false);

// The plain Chinese numeral, with a leading 一十 read as 十 (十一 for 11).
std::string chinese_numeral(long long number);

// Decimal digits padded with "0" to width, then only the last width bytes kept.
std::string zero_pad(long long number, int width);

// The number's last two digits without leading zeros (2007 gives 7).
std::string short_form(long long number);

// "[" + time + "] " + text + "\r\n": one line of the log box.
std::string log_line(const std::string& text, const DateTime& when);

}  // namespace sharelink

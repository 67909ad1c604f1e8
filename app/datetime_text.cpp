#include "app/datetime_text.h"

#include <cstdlib>
#include <ctime>

#include "text/local_text.h"

namespace sharelink {

namespace {

const char* const kDigits[] = {"零", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
// Units by place, from tens upward.
const char* const kUnits[] = {"十", "百", "千", "万", "十", "百",
                              "千", "亿", "十", "百", "千", "万"};
const char* const kWeekdayShort[] = {"日", "一", "二", "三", "四", "五", "六"};

struct NamedFormat {
  const char* name;
  const char* pattern;
};

constexpr const char* kDefaultPattern = "yyyy-MM-dd HH:mm:ss";

// Compared exactly, in this order.
constexpr NamedFormat kExactFormats[] = {
    {"G", kDefaultPattern},
    {"D", "yyyy年MM月dd日"},
    {"d", "yyyy-MM-dd"},
    {"T", "HH:mm:ss"},
    {"t", "HH:mm"},
    {"f", "yyyy年MM月dd日 HH:mm"},
    {"F", "yyyy年MM月dd日 HH:mm:ss"},
    {"g", "yyyy-M-d HH:mm"},
};
// Compared after upper-casing the format.
constexpr NamedFormat kFoldedFormats[] = {{"M", "MM月dd日"}, {"Y", "yyyy年MM月"}};

std::string pattern_of(const std::string& format, bool format_given) {
  if (!format_given) return kDefaultPattern;
  for (const NamedFormat& named : kExactFormats) {
    if (format == named.name) return named.pattern;
  }
  const std::string upper = ascii_upper(format);
  for (const NamedFormat& named : kFoldedFormats) {
    if (upper == named.name) return named.pattern;
  }
  return format;
}

bool is_field_letter(char c) {
  return c == 'y' || c == 'M' || c == 'd' || c == 'H' || c == 'h' || c == 'm' || c == 's';
}

// Compared before subtracting: a weekday of INT_MIN must not overflow.
int weekday_index(const DateTime& when) {
  return (when.weekday >= 1 && when.weekday <= 7) ? when.weekday - 1 : 0;
}

std::string field_text(char letter, std::size_t run, const DateTime& when) {
  const int hour12 = when.hour > 12 ? when.hour - 12 : when.hour;
  switch (letter) {
    case 'y':
      return run == 1 ? short_form(when.year) : zero_pad(when.year, run == 2 ? 2 : 4);
    case 'M':
      if (run >= 3) return chinese_numeral(when.month) + "月";
      return run == 1 ? short_form(when.month) : zero_pad(when.month, 2);
    case 'd':
      if (run == 3) return kWeekdayShort[weekday_index(when)];
      if (run >= 4) return std::string("星期") + kWeekdayShort[weekday_index(when)];
      return run == 1 ? short_form(when.day) : zero_pad(when.day, 2);
    case 'H':
      return run == 1 ? short_form(when.hour) : zero_pad(when.hour, 2);
    case 'h':
      return run == 1 ? short_form(hour12) : zero_pad(hour12, 2);
    case 'm':
      return run == 1 ? short_form(when.minute) : zero_pad(when.minute, 2);
    default:  // 's'
      return run == 1 ? short_form(when.second) : zero_pad(when.second, 2);
  }
}

// The plain reading of a non-negative number: each non-zero digit with its unit,
// a single 零 for any run of zeros between them.
std::string plain_numeral(unsigned long long number) {
  if (number == 0) return kDigits[0];
  const std::string digits = std::to_string(number);
  std::string out;
  bool pending_zero = false;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const int digit = digits[i] - '0';
    const std::size_t place = digits.size() - 1 - i;  // 0 = ones
    if (digit == 0) {
      pending_zero = true;
      // The ten-thousands and hundred-millions units stand even after zeros.
      if (place == 4 || place == 8) {
        if (out.size() > 0) out += kUnits[place - 1];
        pending_zero = false;
      }
      continue;
    }
    if (pending_zero && !out.empty()) out += kDigits[0];
    pending_zero = false;
    out += kDigits[digit];
    if (place > 0 && place <= 12) out += kUnits[place - 1];
  }
  return out;
}

}  // namespace

DateTime local_now() {
  std::tm parts{};
#ifdef _WIN32
  // mingw-w64 gives a 32-bit program msvcrt's 32-bit time_t, which runs out
  // in January 2038; the 64-bit calls hold the date of either width.
  const __time64_t now = _time64(nullptr);
  _localtime64_s(&parts, &now);
#else
  std::time_t now = std::time(nullptr);
  localtime_r(&now, &parts);
#endif
  DateTime when;
  when.year = parts.tm_year + 1900;
  when.month = parts.tm_mon + 1;
  when.day = parts.tm_mday;
  when.weekday = parts.tm_wday + 1;
  when.hour = parts.tm_hour;
  when.minute = parts.tm_min;
  when.second = parts.tm_sec;
  return when;
}

DateTime make_datetime(int year, int month, int day, int hour, int minute, int second) {
  // Zeller-free weekday: days from a known Sunday through the civil calendar.
  int y = year - (month <= 2 ? 1 : 0);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yoe = y - era * 400;
  const int mp = (month + 9) % 12;
  const int doy = (153 * mp + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = static_cast<long long>(era) * 146097 + doe - 719468;  // 1970-01-01 = 0
  // 1970-01-01 was a Thursday (weekday 5 counting Sunday as 1).
  const int weekday = static_cast<int>(((days % 7) + 7 + 4) % 7) + 1;
  return DateTime{year, month, day, weekday, hour, minute, second};
}

std::string format_datetime(const DateTime& when, const std::string& format, bool format_given) {
  if (format_given && format.empty()) return {};
  const std::string pattern = pattern_of(format, format_given);
  std::string out;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (!is_field_letter(c)) {
      out += c;
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c)
      ++run;
    out += field_text(c, run, when);
    i += run;
  }
  return out;
}

std::string chinese_numeral(long long number) {
  std::string text = number < 0
                         ? "负" + plain_numeral(0ULL - static_cast<unsigned long long>(number))
                         : plain_numeral(static_cast<unsigned long long>(number));
  const std::string one_ten = "一十";
  const std::size_t at = find_local(text, one_ten);
  if (at != std::string::npos) text.replace(at, one_ten.size(), "十");
  return text;
}

std::string zero_pad(long long number, int width) {
  std::string text = std::to_string(number);
  const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
  if (text.size() < w) text.insert(0, w - text.size(), '0');
  return text.substr(text.size() - w);
}

std::string short_form(long long number) {
  return std::to_string(std::strtoll(zero_pad(number, 2).c_str(), nullptr, 10));
}

std::string log_line(const std::string& text, const DateTime& when) {
  return "[" + format_datetime(when) + "] " + text + "\r\n";
}

}  // namespace sharelink

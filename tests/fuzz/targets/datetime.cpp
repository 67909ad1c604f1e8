// format_datetime: the named formats and the pattern language, on any field
// values. Input: a first line of up to seven numbers (year, month, day,
// weekday, hour, minute, second), then the pattern: everything after that
// line. An input without a line break formats with the default pattern.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/datetime_text.h"
#include "fuzz/fuzz_support.h"

namespace {

int clamped(long long value) {
  return static_cast<int>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = input.find('\n');
  const std::string numbers = input.substr(0, newline);
  const bool format_given = newline != std::string::npos;
  const std::string pattern = format_given ? input.substr(newline + 1) : std::string();

  DateTime when;
  int* const fields[] = {&when.year, &when.month,  &when.day,   &when.weekday,
                         &when.hour, &when.minute, &when.second};
  const char* at = numbers.c_str();
  for (int* field : fields) {
    char* end = nullptr;
    const long long value = std::strtoll(at, &end, 10);
    if (end == at) break;
    *field = clamped(value);
    at = end;
  }

  const std::string text = format_datetime(when, pattern, format_given);
  // Each pattern character gives one byte or one field, and no field is long.
  const std::size_t longest_named = 24;
  FUZZ_CHECK(text.size() <= 64 * (pattern.size() > longest_named ? pattern.size() : longest_named));
  if (format_given && pattern.size() >= 2 &&
      pattern.find_first_of("yMdHhms") == std::string::npos) {
    FUZZ_CHECK(text == pattern);  // no field letter: the pattern is literal text
  }

  // The calendar on dates a clock can give.
  const int year = 1 + std::abs(when.year % 9999);
  const int month = 1 + std::abs(when.month % 12);
  const int day = 1 + std::abs(when.day % 27);
  const DateTime date = make_datetime(year, month, day, 0, 0, 0);
  FUZZ_CHECK(date.weekday >= 1 && date.weekday <= 7);
  FUZZ_CHECK(make_datetime(year, month, day + 1).weekday == date.weekday % 7 + 1);
  format_datetime(date, pattern, true);
  chinese_numeral(static_cast<long long>(when.year) * when.day);
  return 0;
}

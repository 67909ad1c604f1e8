#include "app/datetime_text.h"

#include <gtest/gtest.h>

namespace sharelink {
namespace {

std::string fmt(const DateTime& when, const std::string& format) {
  return format_datetime(when, format, true);
}

TEST(FormatDatetime, DefaultAndNamedFormats) {
  const DateTime when = make_datetime(2016, 11, 27, 9, 5, 3);
  EXPECT_EQ(format_datetime(when), "2016-11-27 09:05:03");
  EXPECT_EQ(fmt(when, "G"), "2016-11-27 09:05:03");
  EXPECT_EQ(fmt(when, "D"), "2016年11月27日");
  EXPECT_EQ(fmt(when, "d"), "2016-11-27");
  EXPECT_EQ(fmt(when, "T"), "09:05:03");
  EXPECT_EQ(fmt(when, "t"), "09:05");
  EXPECT_EQ(fmt(when, "f"), "2016年11月27日 09:05");
  EXPECT_EQ(fmt(when, "F"), "2016年11月27日 09:05:03");
  EXPECT_EQ(fmt(when, "g"), "2016-11-27 09:05");
  EXPECT_EQ(fmt(when, "M"), "11月27日");
  EXPECT_EQ(fmt(when, "m"), "11月27日");
  EXPECT_EQ(fmt(when, "Y"), "2016年11月");
  EXPECT_EQ(fmt(when, "y"), "2016年11月");
  EXPECT_EQ(fmt(when, ""), "");
}

TEST(FormatDatetime, ShortFormsAndPadding) {
  const DateTime jan5 = make_datetime(2016, 1, 5, 9, 5, 0);
  EXPECT_EQ(fmt(jan5, "g"), "2016-1-5 09:05");
  EXPECT_EQ(fmt(jan5, "D"), "2016年01月05日");
  EXPECT_EQ(fmt(make_datetime(2007, 3, 4), "y-yy-yyy-yyyy-yyyyy"), "7-07-2007-2007-2007");
  EXPECT_EQ(fmt(make_datetime(2000, 3, 4), "[y]"), "[0]");
  EXPECT_EQ(fmt(make_datetime(16, 3, 4), "yyyy"), "0016");
  EXPECT_EQ(fmt(make_datetime(2016, 3, 4, 7, 8, 9), "H:m:s HH:mm:ss"), "7:8:9 07:08:09");
}

TEST(FormatDatetime, TwelveHourFace) {
  EXPECT_EQ(fmt(make_datetime(2016, 1, 1, 0, 30), "h"), "0");
  EXPECT_EQ(fmt(make_datetime(2016, 1, 1, 12, 30), "h"), "12");
  EXPECT_EQ(fmt(make_datetime(2016, 1, 1, 13, 30), "h"), "1");
  EXPECT_EQ(fmt(make_datetime(2016, 1, 1, 13, 30), "hh"), "01");
  EXPECT_EQ(fmt(make_datetime(2016, 1, 1, 23, 30), "hhh"), "11");
}

TEST(FormatDatetime, ChineseNamesOfMonthsAndWeekdays) {
  const DateTime tuesday = make_datetime(2016, 1, 5);
  EXPECT_EQ(fmt(tuesday, "yyyy年M月d日 dddd"), "2016年1月5日 星期二");
  EXPECT_EQ(fmt(tuesday, "yyyy年M月d日 ddd"), "2016年1月5日 二");
  EXPECT_EQ(fmt(make_datetime(2016, 11, 27), "ddddd"), "星期日");
  EXPECT_EQ(fmt(make_datetime(2016, 12, 3), "ddd"), "六");
  const char* months[] = {"一月", "二月", "三月", "四月", "五月",   "六月",
                          "七月", "八月", "九月", "十月", "十一月", "十二月"};
  for (int m = 1; m <= 12; ++m) {
    EXPECT_EQ(fmt(make_datetime(2016, m, 1), "MMM"), months[m - 1]);
    EXPECT_EQ(fmt(make_datetime(2016, m, 1), "MMMM"), months[m - 1]);
  }
}

TEST(FormatDatetime, PatternIsReadByteByByte) {
  // Other bytes are copied; a run is one field however long.
  EXPECT_EQ(fmt(make_datetime(2016, 1, 5), "at yyyy!"), "at 2016!");
  // 乨 is 81 64 in GB18030: its trail byte is "d" and is read as the day field.
  EXPECT_EQ(fmt(make_datetime(2016, 1, 5), "\x81\x64"),
            "\x81"
            "5");
}

TEST(Weekday, CalendarDates) {
  EXPECT_EQ(make_datetime(1970, 1, 1).weekday, 5);    // Thursday
  EXPECT_EQ(make_datetime(2016, 11, 27).weekday, 1);  // Sunday
  EXPECT_EQ(make_datetime(2000, 2, 29).weekday, 3);   // Tuesday
  EXPECT_EQ(make_datetime(1899, 12, 30).weekday, 7);  // Saturday
}

TEST(ChineseNumeral, MonthsAndLargerNumbers) {
  EXPECT_EQ(chinese_numeral(1), "一");
  EXPECT_EQ(chinese_numeral(10), "十");
  EXPECT_EQ(chinese_numeral(11), "十一");
  EXPECT_EQ(chinese_numeral(20), "二十");
  EXPECT_EQ(chinese_numeral(0), "零");
  EXPECT_EQ(chinese_numeral(105), "一百零五");
  EXPECT_EQ(chinese_numeral(2016), "二千零十六");  // only the first 一十 shortens
  EXPECT_EQ(chinese_numeral(100000), "十万");
}

TEST(Padding, ZeroPadAndShortForm) {
  EXPECT_EQ(zero_pad(5, 2), "05");
  EXPECT_EQ(zero_pad(2016, 2), "16");
  EXPECT_EQ(zero_pad(2016, 4), "2016");
  EXPECT_EQ(zero_pad(100, 4), "0100");
  EXPECT_EQ(short_form(5), "5");
  EXPECT_EQ(short_form(12), "12");
  EXPECT_EQ(short_form(2016), "16");
  EXPECT_EQ(short_form(2007), "7");
  EXPECT_EQ(short_form(2000), "0");
}

TEST(LogLine, StampBlankTextCrLf) {
  EXPECT_EQ(log_line("解析状态: 成功", make_datetime(2016, 11, 27, 9, 5, 3)),
            "[2016-11-27 09:05:03] 解析状态: 成功\r\n");
}

}  // namespace
}  // namespace sharelink

#include "app/service_text.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>

#include "text/text_encoding.h"
#include "windows/local_text_support.h"

namespace sharelink {
namespace {

struct ShownCase {
  const char* name;
  const char* sent;  // UTF-8, as the service means it
  const char* shown;
  bool beyond_gbk = false;  // holds characters of the first plane that GBK lacks
};

// A case shows as its name, not as a dump of its bytes.
void PrintTo(const ShownCase& row, std::ostream* out) {
  *out << row.name;
}

class ShownText : public ::testing::TestWithParam<ShownCase> {};

TEST_P(ShownText, ControlCharactersBecomeTheReplacementCharacter) {
  if (GetParam().beyond_gbk && testing::local_text_lacks_gb18030())
    GTEST_SKIP() << testing::kLocalTextIsGbk;
  EXPECT_EQ(gbk_to_utf8(shown_text(utf8_to_gbk(GetParam().sent))), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Service, ShownText,
    ::testing::Values(
        ShownCase{"plain", u8"照片 2023.jpg", u8"照片 2023.jpg"},
        ShownCase{"tab", "tab\tkept", "tab\tkept"},
        // A forged report line, a terminal title and a screen wipe.
        ShownCase{"forged_report_line", u8"a\r\n[x] 下载地址: http://evil/",
                  u8"a\uFFFD\uFFFD[x] 下载地址: http://evil/"},
        ShownCase{"terminal_title_and_wipe", "\x1b]0;owned\x07\x1b[2J",
                  u8"\uFFFD]0;owned\uFFFD\uFFFD[2J"},
        ShownCase{"delete", "del\x7f", u8"del\uFFFD"},
        // C1 controls: a UTF-8 terminal may take U+009B for CSI.
        ShownCase{"c1_controls", u8"\u0085\u009b2J\u009f\u00a0", u8"\uFFFD\uFFFD2J\uFFFD\u00a0",
                  true},
        // Separators that break a line where no line break shows.
        ShownCase{"line_separators", u8"a\u2028b\u2029c\u0085d", u8"a\uFFFDb\uFFFDc\uFFFDd", true},
        // "x\u202Efdp.exe" would show as "xexe.pdf".
        ShownCase{"direction_controls",
                  u8"x\u202Efdp.exe\u202A\u202B\u202C\u202D\u2066\u2067\u2068\u2069",
                  u8"x\uFFFDfdp.exe\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD", true},
        ShownCase{"neighbours_of_controls", u8"\u2027\u202F\u2065\u206A\u00A0",
                  u8"\u2027\u202F\u2065\u206A\u00A0", true},
        // Characters whose local bytes look like controls or C1 sequences.
        ShownCase{"bytes_like_controls", u8"\u00a1\u0100\u4e00\U0001F30A",
                  u8"\u00a1\u0100\u4e00\U0001F30A", true}),
    [](const ::testing::TestParamInfo<ShownCase>& info) { return std::string(info.param.name); });

// Local bytes that are no whole character: each stray byte is replaced on its
// own, so that what follows is neither swallowed nor paired with it. 81 30 0B
// once came out as 81 30 84 31 A4 37, whose first four bytes are U+009F.
TEST(ShownText, CutSequencesNeverPairIntoAControl) {
  const std::string r = "\x84\x31\xa4\x37";  // U+FFFD
  const std::pair<std::string, std::string> rows[] = {
      {"\x81\x30\x0b", r + "0" + r},
      {"\x81\x30\x81", r + "0" + r},
      {"\x81\x30\x81\x0b", r + "0" + r + r},
      {"a\x81", "a" + r},
      {"\x81\x7f", r + r},
      {"\x80\x0a\xff\x41", r + r + r + "A"},
      {"\x81\x30\x81\x30\x81\x40", r + "\x81\x40"},  // U+0080, then a two-byte character
  };
  for (const auto& [sent, shown] : rows) {
    EXPECT_EQ(shown_text(sent), shown) << ::testing::PrintToString(sent);
  }
}

TEST(ShownLink, ControlsAndSpacesArePercentEncoded) {
  EXPECT_EQ(shown_link("http://h/a b\r\nc\x7f\td?x=1&y=%41"),
            "http://h/a%20b%0D%0Ac%7F%09d?x=1&y=%41");
  // As the address goes out: characters as UTF-8, stray bytes as they are.
  EXPECT_EQ(shown_link("http://h/x\x81\x36\xa7\x31"
                       "fdp.exe\x81\x30\x81\x35\x81\x30\x0b"),
            "http://h/x%E2%80%AEfdp.exe%C2%85%810%0B");
}

TEST(ExportableLink, OnlyHttpAndHttps) {
  for (const char* link : {"http://h/x", "https://h/x", "HTTP://h", "hTtPs://h"})
    EXPECT_TRUE(exportable_link(link)) << link;
  for (const char* link :
       {"", "javascript:alert(1)", "file:///etc/passwd", "ftp://h/x", " http://h", "http:/h"})
    EXPECT_FALSE(exportable_link(link)) << link;
}

}  // namespace
}  // namespace sharelink

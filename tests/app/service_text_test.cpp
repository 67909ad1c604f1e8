#include "app/service_text.h"

#include <gtest/gtest.h>

#include <ostream>

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
    ::testing::Values(ShownCase{"plain", u8"照片 2023.jpg", u8"照片 2023.jpg"},
                      ShownCase{"tab", "tab\tkept", "tab\tkept"},
                      // A forged report line, a terminal title and a screen wipe.
                      ShownCase{"forged_report_line", u8"a\r\n[x] 下载地址: http://evil/",
                                u8"a\uFFFD\uFFFD[x] 下载地址: http://evil/"},
                      ShownCase{"terminal_title_and_wipe", "\x1b]0;owned\x07\x1b[2J",
                                u8"\uFFFD]0;owned\uFFFD\uFFFD[2J"},
                      ShownCase{"delete", "del\x7f", u8"del\uFFFD"},
                      // C1 controls: a UTF-8 terminal may take U+009B for CSI.
                      ShownCase{"c1_controls", u8"\u0085\u009b2J\u009f\u00a0",
                                u8"\uFFFD\uFFFD2J\uFFFD\u00a0", true},
                      // Characters whose local bytes look like controls or C1 sequences.
                      ShownCase{"bytes_like_controls", u8"\u00a1\u0100\u4e00\U0001F30A",
                                u8"\u00a1\u0100\u4e00\U0001F30A", true}),
    [](const ::testing::TestParamInfo<ShownCase>& info) { return std::string(info.param.name); });

TEST(ShownLink, ControlsAndSpacesArePercentEncoded) {
  EXPECT_EQ(shown_link("http://h/a b\r\nc\x7f\td?x=1&y=%41"),
            "http://h/a%20b%0D%0Ac%7F%09d?x=1&y=%41");
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

#include "text/text_encoding.h"

#include <cctype>

#include <gtest/gtest.h>

#include <ostream>

#include "windows/local_text_support.h"

namespace sharelink {
namespace {

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values)
    out += static_cast<char>(v);
  return out;
}

TEST(WideText, TerminatorRules) {
  EXPECT_EQ(gbk_to_utf16(""), Bytes());
  EXPECT_EQ(gbk_to_utf16("", true), Bytes());
  EXPECT_EQ(gbk_to_utf16("/"), bytes({0x2F, 0, 0, 0}));
  EXPECT_EQ(gbk_to_utf16("/", true), bytes({0x2F, 0}));
  EXPECT_EQ(gbk_to_utf16(bytes({0xD6, 0xD0})), bytes({0x2D, 0x4E, 0, 0}));
  // Local text ends at its first zero byte.
  EXPECT_EQ(gbk_to_utf16(std::string("a\0b", 3), true), bytes({'a', 0}));
}

TEST(WideText, BackToLocalStopsAtFirstZeroUnitAndIgnoresOddByte) {
  EXPECT_EQ(utf16_to_gbk(bytes({0x2D, 0x4E, 0, 0})), bytes({0xD6, 0xD0}));
  EXPECT_EQ(utf16_to_gbk(bytes({0x2D, 0x4E, 0x41})), bytes({0xD6, 0xD0}));
  EXPECT_EQ(utf16_to_gbk(bytes({'a', 0, 0, 0, 'b', 0})), "a");
  EXPECT_EQ(utf16_to_gbk(Bytes()), "");
  // A zero byte that is half of a non-zero unit does not end the text.
  EXPECT_EQ(utf16_to_gbk(bytes({0x00, 0x4E, 'x', 0})), utf16_to_gbk(bytes({0x00, 0x4E})) + "x");
}

TEST(WideText, RoundTripKeepsCharactersOutsideGbk) {
  // U+1F600 (an emoji) and U+20BB7 are not in GBK; GB18030 keeps them as four bytes.
  const std::string emoji_utf8 = u8"\U0001F600";
  const std::string local = utf8_to_gbk(std::string(u8"文件") + emoji_utf8 + u8"\U00020BB7.txt");
  EXPECT_EQ(local.find('?'), std::string::npos);
  const Bytes wide = gbk_to_utf16(local, true);
  // 2 BMP characters, two surrogate pairs, 4 ASCII letters.
  EXPECT_EQ(wide.size(), 2u * (2 + 4 + 4));
  EXPECT_EQ(utf16_to_gbk(wide), local);
  EXPECT_EQ(gbk_to_utf8(local), std::string(u8"文件") + emoji_utf8 + u8"\U00020BB7.txt");
}

TEST(WideText, CodePageConversions) {
  EXPECT_EQ(utf8_to_gbk("\xE4\xB8\xAD"), "\xD6\xD0");
  EXPECT_EQ(utf8_to_gbk("plain ascii"), "plain ascii");
  EXPECT_EQ(decode_to_utf16(""), bytes({0, 0}));
  EXPECT_EQ(decode_to_utf16("\xE4\xB8\xAD"), bytes({0x2D, 0x4E, 0, 0}));
  EXPECT_EQ(decode_to_utf16("\xD6\xD0", kCodePageGbk), bytes({0x2D, 0x4E, 0, 0}));
  EXPECT_EQ(encode_from_utf16(bytes({0x2D, 0x4E, 0, 0}), kCodePageUtf8), "\xE4\xB8\xAD");
  EXPECT_EQ(encode_from_utf16(bytes({0x2D, 0x4E})), "\xD6\xD0");
  // An unknown code page converts nothing but keeps the terminator rules.
  EXPECT_EQ(decode_to_utf16("abc", 12345), bytes({0, 0}));
  EXPECT_EQ(encode_from_utf16(bytes({'a', 0}), 12345), "");
}

TEST(WideText, InvalidInputBecomesReplacementNotLoss) {
  // A lone lead byte and a broken UTF-8 sequence both turn into something visible
  // and the text after them survives.
  EXPECT_EQ(utf8_to_gbk("a\xE4\xB8z").back(), 'z');
  const Bytes wide = gbk_to_utf16("\xFFz", true);
  ASSERT_GE(wide.size(), 2u);
  EXPECT_EQ(wide.substr(wide.size() - 2), bytes({'z', 0}));
}

TEST(RecodeByCharset, DecodesDeclaredCharsetsToLocalText) {
  const std::string local = "中文页面";
  EXPECT_EQ(recode_by_charset(gbk_to_utf8(local), "utf-8"), local);
  EXPECT_EQ(recode_by_charset(gbk_to_utf8(local), "UTF8"), local);
  EXPECT_EQ(recode_by_charset(local, "GB2312"), local);
  EXPECT_EQ(recode_by_charset(local, "gbk"), local);
  // 中文 in Big5 is A4 A4 A4 E5.
  EXPECT_EQ(recode_by_charset("\xA4\xA4\xA4\xE5", "big5"), "中文");
  // e-acute in Latin-1 and the euro sign in windows-1252.
  EXPECT_EQ(recode_by_charset("\xE9", "iso-8859-1"), utf8_to_gbk(u8"\u00E9"));
  EXPECT_EQ(recode_by_charset("\x80", "Windows-1252"), utf8_to_gbk(u8"\u20AC"));
  EXPECT_EQ(recode_by_charset("", "utf-8"), "");
}

struct CharsetCase {
  const char* charset;
  Bytes body;
  const char* utf8;         // what the body says
  bool beyond_gbk = false;  // holds characters GBK lacks
};

// A case shows as its name, not as a dump of its bytes.
void PrintTo(const CharsetCase& row, std::ostream* out) {
  *out << row.charset;
}

class RecodeNamed : public ::testing::TestWithParam<CharsetCase> {};

// Every charset here decodes alike on Linux and Windows, bad bytes included.
TEST_P(RecodeNamed, DecodesAsTheCharsetSays) {
  const CharsetCase& c = GetParam();
  if (c.beyond_gbk && testing::local_text_lacks_gb18030()) GTEST_SKIP() << testing::kLocalTextIsGbk;
  const std::optional<std::string> local = recode_by_charset(c.body, c.charset);
  ASSERT_TRUE(local.has_value()) << c.charset;
  EXPECT_EQ(gbk_to_utf8(*local), c.utf8) << c.charset;
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, RecodeNamed,
    ::testing::Values(CharsetCase{"gb18030", "\xD6\xD0\x94\x39\xFC\x36", u8"中\U0001F600"},
                      CharsetCase{"shift_jis", "\x93\xFA\x96\x7B\x82\xA0", u8"日本あ"},
                      CharsetCase{"EUC-JP", "\xC6\xFC\xCB\xDC\xA4\xA2", u8"日本あ"},
                      CharsetCase{"euc-kr", "\xC7\xD1\xB1\xB9", u8"한국", true},
                      CharsetCase{"koi8-r", "\xF2\xD5\xD3", u8"Рус"},
                      CharsetCase{"windows-1251", "\xCF\xF0\xE8", u8"При"},
                      CharsetCase{"iso-8859-2", "\xB1", u8"\u0105", true},
                      CharsetCase{"ISO-8859-15", "\xA4", u8"€"},
                      CharsetCase{"us-ascii", "abc", "abc"},
                      CharsetCase{"utf-16le", Bytes("a\0\x2D\x4E", 4), u8"a中"},
                      CharsetCase{"UTF-16BE", Bytes("\0a\x4E\x2D", 4), u8"a中"},
                      // UTF-16 takes the byte order its mark names, else little-endian.
                      CharsetCase{"utf-16", Bytes("a\0", 2), "a"},
                      CharsetCase{"UTF-16", Bytes("\xFE\xFF\0a", 4), "a"},
                      // A bad byte is one replacement character, and reading goes on after it.
                      CharsetCase{"utf-8", "a\xE4\xB8z\xFF", u8"a\uFFFD\uFFFDz\uFFFD"},
                      CharsetCase{"gbk", "a\x81\"\x81\x30\x81", u8"a\uFFFD\"\uFFFD0\uFFFD"}),
    [](const ::testing::TestParamInfo<CharsetCase>& info) {
      // Two cases may share a charset: the index tells them apart.
      std::string name = std::to_string(info.index) + "_";
      for (const char* c = info.param.charset; *c != '\0'; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      return name;
    });

TEST(RecodeByCharset, DropsByteOrderMark) {
  EXPECT_EQ(recode_by_charset("\xEF\xBB\xBF"
                              "abc",
                              "utf-8"),
            "abc");
  EXPECT_EQ(recode_by_charset(bytes({0xFF, 0xFE, 'a', 0}), "utf-16"), "a");
}

TEST(RecodeByCharset, LongTextsComeThroughWholeAcrossEveryPieceEdge) {
  // Three-byte characters at every offset against the converter's windows and
  // pieces, with an invalid byte and a four-byte character far in.
  for (const std::size_t shift : {0, 1, 2}) {
    std::string utf8(shift, 'a');
    std::string local(shift, 'a');
    for (int i = 0; i < 200000; ++i) {
      utf8 += i == 150000 ? "\xff" : i == 160000 ? u8"\U0001F30A" : u8"中";
      local += i == 150000 ? "\x84\x31\xa4\x37" : i == 160000 ? utf8_to_gbk(u8"\U0001F30A") : "中";
    }
    EXPECT_EQ(recode_by_charset("\xEF\xBB\xBF" + utf8, "utf-8"), local) << shift;
  }
}

TEST(RecodeByCharset, UnknownOrUnsafeNamesAreRefused) {
  EXPECT_FALSE(recode_by_charset("abc", "no-such-charset"));
  EXPECT_FALSE(recode_by_charset("abc", ""));
  EXPECT_FALSE(recode_by_charset("abc", "utf-8//IGNORE"));
  EXPECT_FALSE(recode_by_charset("abc", "utf 8"));
}

}  // namespace
}  // namespace sharelink

// Bounded fuzz smoke runs: every reader of text that comes from the network or
// the user gets many mutated inputs. They must return, without crashing or
// reading out of bounds (the sanitizer builds run these too).

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/datetime_text.h"
#include "app/share_text.h"
#include "http/cookies.h"
#include "http/text_encoding.h"
#include "script/json_document.h"
#include "script/regex_object.h"
#include "share/reply_text.h"
#include "share/request_params.h"
#include "share/result_codes.h"

namespace sharelink {
namespace {

// SHARELINK_FUZZ_ROUNDS asks for longer runs by hand.
const int kRounds = [] {
  const char* rounds = std::getenv("SHARELINK_FUZZ_ROUNDS");
  return rounds != nullptr && std::atoi(rounds) > 0 ? std::atoi(rounds) : 4000;
}();

class Mutator {
 public:
  explicit Mutator(std::uint32_t seed) : random_(seed) {}

  // A seed with a few bytes flipped, inserted, deleted or copied around; now
  // and then a run of bytes that matter to the parsers.
  std::string mutate(const std::string& seed) {
    std::string text = seed;
    const int edits = 1 + static_cast<int>(random_() % 8);
    for (int i = 0; i < edits; ++i) {
      const std::size_t at = text.empty() ? 0 : random_() % (text.size() + 1);
      switch (random_() % 5) {
        case 0:
          if (at < text.size()) text[at] = static_cast<char>(random_() % 256);
          break;
        case 1:
          text.insert(at, 1, static_cast<char>(random_() % 256));
          break;
        case 2:
          if (at < text.size()) text.erase(at, 1 + random_() % 4);
          break;
        case 3: {
          static const char* const kTokens[] = {
              "\"",   "\\", "{", "}",     "[",    "]",        "\\u",     "%",       "\xA1\xA1",
              "\x81", ");", ":", "#引号", "\r\n", "\xD6\xD0", "\\ud83d", "errno\":"};
          text.insert(at, kTokens[random_() % (sizeof kTokens / sizeof *kTokens)]);
          break;
        }
        default:
          if (!text.empty()) {
            const std::size_t from = random_() % text.size();
            text.insert(at, text.substr(from, 1 + random_() % 16));
          }
      }
    }
    return text;
  }

  std::size_t below(std::size_t n) { return n == 0 ? 0 : random_() % n; }

 private:
  std::mt19937 random_;
};

const std::vector<std::string>& reply_seeds() {
  static const std::vector<std::string> seeds = {
      "{\"errno\":0,\"list\":[{\"fs_id\":9007199254740993,\"isdir\":1,\"path\":\"\\/a b\","
      "\"server_filename\":\"\\u4e2d\",\"size\":12}],\"request_id\":1}",
      "{\"errno\":0,\"list\":[{\"fs_id\":1,\"dlink\":\"http:\\/\\/h\\/f?a=1\\u0026b=2\"}]}",
      "{\"errno\":0,\"vcode_str\":\"abc\",\"vcode_img\":\"http:\\/\\/h\\/img?x=1\"}",
      "<html><meta charset=\"utf-8\"><script>yunData.setData({\"sign\":\"s\",\"file_list\":"
      "{\"list\":[{\"server_filename\":\"a);b\",\"parent_path\":\"%2F%E4%B8%AD\"}]}});"
      "</script>请输入提取密码</html>",
      "[1,2.5e3,-0,true,false,null,\"x\",{\"a\":[[]]}]",
  };
  return seeds;
}

TEST(FuzzSmoke, ReplyReaders) {
  Mutator mutator(1);
  for (int round = 0; round < kRounds; ++round) {
    const auto& seeds = reply_seeds();
    const std::string text = mutator.mutate(seeds[mutator.below(seeds.size())]);
    JsonDocument doc;
    if (doc.parse(text)) {
      doc.get_text("list[0].fs_id", true);
      doc.get_text("file_list.list.length");
      doc.get_texts("list[0]", {"size", "path", "isdir", "server_filename"});
      std::vector<std::string> names;
      doc.member_names(names);
      doc.type_of("list");
      doc.count("list");
      doc.to_json();
    }
    cut_json_object(text, "yunData.setData(");
    json_string_member(text, "dlink");
    json_string_member(text, "server_filename");
    read_errno(text);
    text_between(text, "dlink#引号:#引号", "#引号");
    percent_decode(text, true);
    recode_by_charset(text, "utf-8");
    recode_by_charset(text, "big5");
    utf16_to_gbk(text);
    gbk_to_utf16(text);
  }
}

TEST(FuzzSmoke, UserTextReaders) {
  Mutator mutator(2);
  const std::vector<std::string> seeds = {
      "链接: http://127.0.0.1:1/s/1AbC 提取码: ab12 复制这段内容",
      "http://h/s/1q?x=1&pwd=ab12&y=2",
      "A=1; BDCLND=x%2B; B=deleted",
      "yyyy年M月d日 dddd HH:mm:ss hh MMM",
  };
  for (int round = 0; round < kRounds; ++round) {
    std::string text = mutator.mutate(seeds[mutator.below(seeds.size())]);
    parse_share_text(text);
    confirmed_answer(text);
    std::string cookies = text;
    std::string received = mutator.mutate(text);
    merge_cookies(cookies, received);
    cookie_value(text, "BDCLND");
    resolve_location("http://h:1/s/x?y", text);
    origin_of(text);
    format_datetime(make_datetime(2016, 11, 27, 13, 5, 3), text, true);
    percent_encode(text);
  }
}

TEST(FuzzSmoke, RegularExpressionsNeverHang) {
  Mutator mutator(3);
  const std::vector<std::string> patterns = {"<meta.+?charset=[^\\w]?([-\\w]+)", "(a+)+b",
                                             "(\\w+)\\s(\\w+)", "[中文]+(x|y)*?$"};
  const std::string subject =
      "<META http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">中文 aaaaaaaaaaaaa";
  for (int round = 0; round < kRounds / 4; ++round) {
    RegexObject regex;
    const std::string pattern = mutator.mutate(patterns[mutator.below(patterns.size())]);
    const std::string text = mutator.mutate(subject);
    if (!regex.execute(pattern, text, round % 2 == 0, true, round % 3 != 0)) continue;
    int position = 0;
    for (int m = 1; m <= regex.match_count() && m < 4; ++m) {
      regex.match_text(m, position, true);
      regex.submatch_text(m, 1, position, true);
    }
    regex.replace("[$1]");
  }
}

}  // namespace
}  // namespace sharelink

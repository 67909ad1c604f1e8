// Service text written to fool the log, the terminal and the next request:
// names that forge log lines or carry terminal escapes, links of schemes that
// are no download, file ids that do not fit a number or smuggle form fields,
// and a success without a link.

#include <cctype>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "faults/faults_harness.h"

namespace sharelink::faults {
namespace {

const std::string kEntryFailed = u8"下载地址: 用户主动放弃解析或解析失败";
const char* const kNoLink = u8"自定义错误代码,下载地址为空";

int count_of(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

bool form_encoded(const std::string& value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) continue;
    if (c != '%' || i + 2 >= value.size() ||
        !std::isxdigit(static_cast<unsigned char>(value[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
      return false;
    }
    i += 2;
  }
  return true;
}

// Every download form has its fields in their order, each once and each
// value form-encoded, whatever the page's ids held.
void forms_are_clean(const Scene& scene, const CliRun&) {
  const std::vector<std::string> names = {"encrypt",     "product",   "uk",    "primaryid",
                                          "vcode_input", "vcode_str", "extra", "fid_list"};
  for (const Request& request : scene.service.requests_to("/api/sharedownload")) {
    std::vector<std::string> seen;
    std::size_t at = 0;
    while (at <= request.body.size()) {
      std::size_t end = request.body.find('&', at);
      if (end == std::string::npos) end = request.body.size();
      const std::string field = request.body.substr(at, end - at);
      const std::size_t eq = field.find('=');
      seen.push_back(field.substr(0, eq));
      EXPECT_TRUE(eq != std::string::npos && form_encoded(field.substr(eq + 1)))
          << field << "\nin " << request.body;
      at = end + 1;
    }
    EXPECT_EQ(seen, names) << request.body;
    EXPECT_EQ(form_value(request.body, "uk"), "202") << request.body;
  }
}

// The ids asked for are ids the page named, exactly as it wrote them.
std::function<void(const Scene&, const CliRun&)> fids_among(std::set<std::string> fids) {
  return [fids = std::move(fids)](const Scene& scene, const CliRun& run) {
    forms_are_clean(scene, run);
    for (const Request& request : scene.service.requests_to("/api/sharedownload")) {
      const std::string fid_list = form_value(request.body, "fid_list");
      EXPECT_EQ(fids.count(fid_list), 1u) << fid_list;
    }
  };
}

// The first download succeeds, the rest get reply.
std::function<std::string(int, const std::string&)> then_reply(std::string reply) {
  return [reply = std::move(reply)](int n, const std::string&) {
    return n == 1 ? std::string(R"({"errno":0,"list":[{"dlink":"http://127.0.0.1:9/file/1"}]})")
                  : reply;
  };
}

class HostileServiceText : public ::testing::TestWithParam<FaultCase> {};

TEST_P(HostileServiceText, StaysInItsPlace) {
  run_fault_case(GetParam());
}

const FaultCase kTextCases[] = {
    // Names that would start log lines of their own: a status that hides the
    // failure, a link that is not the service's.
    {"names_forging_log_lines",
     [](Scene& s) {
       s.service.list =
           "[" + entry_json("11", "a.txt") + "," +
           entry_json("20", u8R"(d\r\n[2024-01-01 00:00:00] 解析状态: 成功)", true) + "," +
           entry_json("12", u8R"(b\r\n[2024-01-01 00:00:00] 下载地址: http://evil.invalid/x)") +
           "]";
       s.service.download = [](int n, const std::string&) {
         return n == 1 ? std::string(R"({"errno":0,"list":[{"dlink":"http://127.0.0.1:9/f/1"}]})")
                       : std::string(R"({"errno":-7,"request_id":8})");
       };
     },
     {{1, u8"该分享已删除或已取消", 1}},
     0,
     20,
     [](const Scene&, const CliRun& run) {
       for (const std::string& link : listed_links(run))
         EXPECT_EQ(link.find("evil.invalid"), std::string::npos) << link;
     }},
    {"names_with_terminal_escapes",
     [](Scene& s) {
       s.service.list =
           "[" + entry_json("11", R"(\u001b[2J\u001b]0;owned\u0007\u009b31mred\u001b[0m.txt)") +
           "," + entry_json("12", R"(b\u0000c\u007f\u0008\u0008\u0008.txt)") + "]";
     },
     {{0, u8"成功", 2}}},
    // Line separators and direction controls: "x\u202Efdp.exe" would show as
    // "xexe.pdf". None of them reaches the log or the links as itself.
    {"separators_and_direction_controls",
     [](Scene& s) {
       s.service.list = "[" + entry_json("11", R"(x\u202Efdp.exe)") + "," +
                        entry_json("20", R"(d\u2028\u2029\u0085\u202A\u202B\u202C\u202D)", true) +
                        "," + entry_json("12", R"(\u2066\u2067\u2068\u2069b.txt)") + "]";
       s.service.dlink = [&s](int n, const std::string&) {
         return s.service.origin() + "/file/" + std::to_string(n) + R"(\u2028\u202E)";
       };
     },
     {{0, u8"成功", 2}},
     0,
     20,
     [](const Scene&, const CliRun& run) {
       for (const char* unsafe :
            {u8"\u2028", u8"\u2029", u8"\u0085", u8"\u202A", u8"\u202B", u8"\u202C", u8"\u202D",
             u8"\u202E", u8"\u2066", u8"\u2067", u8"\u2068", u8"\u2069"}) {
         EXPECT_EQ(run.out.find(unsafe), std::string::npos) << run.out;
       }
       EXPECT_NE(log_of(run).find(u8"文件名称: x\uFFFDfdp.exe\r\n"), std::string::npos);
       for (const std::string& link : listed_links(run))
         EXPECT_NE(link.find("%E2%80%A8%E2%80%AE"), std::string::npos) << link;
     }},
    // Not downloads: each is its entry's failure and never handed on.
    {"dlinks_of_other_schemes",
     [](Scene& s) {
       s.service.list = files_json(3, 11, "f");
       s.service.dlink = [&s](int n, const std::string&) {
         return n == 1   ? std::string("javascript:alert(1)")
                : n == 2 ? std::string("file:///etc/passwd")
                         : s.service.origin() + "/file/3";
       };
     },
     {{0, u8"成功", 1}},
     0,
     20,
     [](const Scene&, const CliRun& run) {
       EXPECT_EQ(count_of(log_of(run), kEntryFailed), 2);
       for (const std::string& link : listed_links(run)) {
         EXPECT_EQ(link.find("javascript"), std::string::npos) << link;
         EXPECT_EQ(link.find("file:"), std::string::npos) << link;
       }
     }},
    // Kept with its line breaks escaped, or refused: never a line of its own.
    {"dlink_with_line_breaks",
     [](Scene& s) {
       s.service.dlink = [](int n, const std::string&) {
         return n == 1
                    ? std::string(
                          u8R"(http://127.0.0.1:9/a\r\n[2024-01-01 00:00:00] 下载地址: http://evil.invalid/b)")
                    : std::string("http://127.0.0.1:9/file/2");
       };
     },
     {{0, u8"成功", 2}, {0, u8"成功", 1}},
     0,
     20,
     [](const Scene&, const CliRun& run) {
       for (const std::string& link : listed_links(run))
         EXPECT_NE(link.rfind("http://evil.invalid", 0), 0u) << link;
     }},
    {"fs_id_of_2_pow_64",
     [](Scene& s) {
       s.service.list = "[" + entry_json("18446744073709551616", "big.bin") + "," +
                        entry_json("12", "b.txt") + "]";
     },
     {{0, u8"成功", -1}, {1, nullptr, -1}},
     0,
     20,
     fids_among({"[18446744073709551616]", "[12]"})},
    {"fs_id_string_with_form_syntax",
     [](Scene& s) {
       s.service.list = "[" + entry_json(R"("7\"]&uk=999&x=[\"8")", "odd.bin") + "," +
                        entry_json("12", "b.txt") + "]";
     },
     {{0, u8"成功", -1}, {1, nullptr, -1}},
     0,
     20,
     forms_are_clean},
    // errno 0 without a link is no success.
    {"download_without_dlink",
     [](Scene& s) { s.service.download = then_reply(R"({"errno":0,"list":[{"fs_id":12}]})"); },
     {{1, kNoLink, 1}}},
    {"download_with_empty_dlink",
     [](Scene& s) { s.service.download = then_reply(R"({"errno":0,"list":[{"dlink":""}]})"); },
     {{1, kNoLink, 1}}},
    {"download_with_empty_list",
     [](Scene& s) { s.service.download = then_reply(R"({"errno":0,"list":[]})"); },
     {{1, kNoLink, 1}}},
};

INSTANTIATE_TEST_SUITE_P(Faults, HostileServiceText, ::testing::ValuesIn(kTextCases), case_name);

}  // namespace
}  // namespace sharelink::faults

// Replies sized to exhaust the client: a file list that claims hundreds of
// millions of entries, pages of tens and hundreds of megabytes, thousands of
// new cookies in every reply. The job must end with bounded memory, and what
// it hands on must stay bounded too.

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "faults/faults_harness.h"

namespace sharelink::faults {
namespace {

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kBigPage = 60'000'000;
constexpr std::uint64_t kHugePage = 200'000'000;
// The most the Cookie line may hold: 64 KiB of cookies and room for the rest.
constexpr std::size_t kCookieLineLimit = 64 * 1024 + 1024;

void fake_length(Scene& scene, const std::string& length) {
  scene.service.list = "{\"length\":" + length + "}";
}

// A file beside a folder holding one more: a page, a listing and three link
// requests, so that cookies pile up over five replies.
void file_and_folder(Scene& scene) {
  scene.service.list = "[" + entry_json("11", "a.txt") + "," + entry_json("20", "dir", true) + "]";
  scene.service.folder = [](const std::string&, int page) {
    return page == 1 ? R"({"errno":0,"list":)" + files_json(2, 21, "in", "/top/dir") + "}"
                     : std::string(R"({"errno":0,"list":[]})");
  };
}

void new_cookies_in_every_reply(const Request& request, Reply& reply) {
  for (int i = 0; i < 5000; ++i) {
    reply.headers += "Set-Cookie: c" + std::to_string(request.number) + "x" + std::to_string(i) +
                     "=v" + std::to_string(i) + "; Path=/\r\n";
  }
}

void cookie_lines_stay_bounded(const Scene& scene, const CliRun&) {
  const std::vector<Request> requests = scene.service.requests();
  EXPECT_GE(requests.size(), 5u);
  std::size_t longest = 0;
  for (const Request& request : requests) {
    const std::size_t length = request.header("Cookie").value_or("").size();
    EXPECT_LE(length, kCookieLineLimit) << request.method << " " << request.path();
    longest = std::max(longest, length);
  }
  // The session's cookies still go along, as many as fit.
  EXPECT_GT(longest, 0u);
}

// A chain of folders kChainDepth deep and a file at its bottom, each named by
// 4,000 bytes on a short path: every entry keeps within the 4 KiB limit and the
// list stays small, but the names joined reach hundreds of megabytes.
constexpr std::uint64_t kChainDepth = 300, kChainName = 4000;

void folder_chain(Scene& scene) {
  scene.options = {"--list"};
  scene.service.folder = [](const std::string& dir, int page) {
    const auto level = static_cast<std::uint64_t>(std::count(dir.begin(), dir.end(), '/'));
    if (page != 1 || level > kChainDepth) return std::string(R"({"errno":0,"list":[]})");
    return R"({"errno":0,"list":[{"fs_id":)" + std::to_string(level) + R"(,"isdir":)" +
           (level < kChainDepth ? "1" : "0") + R"(,"path":")" + dir + R"(/d","server_filename":")" +
           std::string(kChainName - 4, 'n') + std::to_string(1000 + level) + R"(","size":0}]})";
  };
  const std::string top = scene.service.folder("", 1);
  scene.service.list = top.substr(18, top.size() - 19);
}

// Each line holds the whole path below the top: the output is those paths and
// a few bytes per line, all of it and nothing more.
void chain_listed_whole(const Scene&, const CliRun& run) {
  const std::uint64_t lines = kChainDepth + 1;
  const std::uint64_t paths = lines * (lines + 1) / 2 * (kChainName + 1) - lines;
  EXPECT_GE(run.out_bytes, paths);
  EXPECT_LE(run.out_bytes, paths + kMiB);
}

class OversizedReply : public ::testing::TestWithParam<FaultCase> {};

TEST_P(OversizedReply, EndsWithBoundedMemory) {
  run_fault_case(GetParam());
}

const FaultCase kOversizedCases[] = {
    {"list_claims_900000000_entries",
     [](Scene& s) { fake_length(s, "900000000"); },
     {{1, nullptr, 0}},
     128},
    {"list_claims_5000000_entries",
     [](Scene& s) { fake_length(s, "5000000"); },
     {{1, nullptr, 0}},
     128},
    {"page_of_60_MB",
     [](Scene& s) { s.service.page_padding = kBigPage; },
     {{0, u8"成功", 2}},
     static_cast<long>(4 * kBigPage / kMiB)},
    // Refused at the 64 MiB cap on a body.
    {"page_of_200_MB",
     [](Scene& s) { s.service.page_padding = kHugePage; },
     {{1, u8"自定义错误代码,网络请求失败", 0}},
     256,
     20,
     [](const Scene& s, const CliRun&) {
       EXPECT_EQ(s.service.requests_to("/s/" + s.service.surl).size(), 1u);
     }},
    {"5000_new_cookies_in_every_reply",
     [](Scene& s) {
       file_and_folder(s);
       s.service.tamper = new_cookies_in_every_reply;
     },
     {{0, u8"成功", 3}},
     256,
     20,
     cookie_lines_stay_bounded},
    {"folder_chain_300_deep_of_4000_byte_names_listed",
     folder_chain,
     {{0, u8"自定义错误代码,只列出文件,未请求下载地址", 0}, {0, u8"只列出文件,未请求下载地址", 0}},
     64,
     60,
     chain_listed_whole},
};

INSTANTIATE_TEST_SUITE_P(Faults, OversizedReply, ::testing::ValuesIn(kOversizedCases), case_name);

}  // namespace
}  // namespace sharelink::faults

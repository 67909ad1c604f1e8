#include "share/share_client.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <algorithm>

#include <thread>

#include "e2e/sim_harness.h"
#include "share/result_codes.h"
#include "text/text_encoding.h"

namespace sharelink {
namespace {

using testing::SimHarness;

struct Job {
  explicit Job(std::string share_link, std::string extraction_code = "")
      : link(std::move(share_link)), code(std::move(extraction_code)) {}
  std::string link;
  FileList files;
  int index = 1;
  std::string code;
  std::string answer;
};

int run(ShareClient& client, Job& job) {
  return client.resolve(job.link, job.files, job.index, job.code, job.answer);
}

// Requests one at a time, retries without the wait: the order the service
// sees them in is the list's.
ResolveLimits one_at_a_time() {
  ResolveLimits limits;
  limits.parallel = 1;
  limits.retry_delays_ms = {10, 10};
  return limits;
}

std::vector<std::string> names(const FileList& files) {
  std::vector<std::string> out;
  for (const FileEntry& entry : files)
    out.push_back(entry.server_filename);
  return out;
}

TEST(ShareClientE2E, PublicShareListsDepthFirstWithLinks) {
  SimHarness sim(SimHarness::demo_fixture());
  ShareClient client;
  Job job{sim.link("1PubDemoXq7Ra")};
  ASSERT_EQ(run(client, job), 0);
  EXPECT_EQ(names(job.files),
            (std::vector<std::string>{"说明 readme.txt", "照片 & 视频 #1", "big 64bit id.bin",
                                      "工具 tool.exe", "深层 目录", "空文件.txt", "最后的文件.pdf",
                                      utf8_to_gbk(u8"海边 🌊 2023.jpg"), "plus+sign 100%.txt",
                                      "a);b.txt"}));
  EXPECT_EQ(job.index, 11);
  for (const FileEntry& entry : job.files) {
    if (entry.isdir == "0") {
      EXPECT_EQ(entry.dlink.rfind(sim.sim().origin() + "/", 0), 0u) << entry.dlink;
      EXPECT_EQ(entry.dlink.find('\\'), std::string::npos) << entry.dlink;
      // The reply writes "&" as \u0026: decoded, not cut to "u0026".
      EXPECT_NE(entry.dlink.find('&'), std::string::npos) << entry.dlink;
      EXPECT_EQ(entry.dlink.find("u0026"), std::string::npos) << entry.dlink;
    } else {
      EXPECT_EQ(entry.dlink, "");
    }
  }
  const FileEntry& top = job.files[0];
  EXPECT_EQ(top.decoded_parent_path, "/我的分享/演示");
  EXPECT_NE(top.parent_path, top.decoded_parent_path);  // still percent-encoded
  EXPECT_EQ(top.size, "1834");
  // An id above 2^53 keeps its last digit.
  EXPECT_EQ(job.files[2].fs_id, "9007199254740993");
  EXPECT_EQ(job.files[3].app_id, "778750");
  // Entries found by listing carry the web app id and no parent path.
  EXPECT_EQ(job.files[5].app_id, "250528");
  EXPECT_EQ(job.files[5].parent_path, "");
  EXPECT_EQ(job.files[4].path, "/我的分享/演示/照片 & 视频 #1/深层 目录");
  EXPECT_EQ(sim.violations(), "");
}

TEST(ShareClientE2E, RequestsCarryEncodedValuesInTheServiceOrder) {
  SimHarness sim(SimHarness::demo_fixture());
  ShareClient client;
  client.set_limits(one_at_a_time());
  Job job{sim.link("1PubDemoXq7Ra")};
  ASSERT_EQ(run(client, job), 0);
  const auto lists = sim.requests("list");
  ASSERT_EQ(lists.size(), 2u);
  // Folder names with "&", "#" and spaces, in UTF-8, percent-encoded.
  EXPECT_NE(lists[0].query.find("&page=1&num=100&dir=%2F%E6%88%91%E7%9A%84%E5%88%86%E4%BA%AB%2F"
                                "%E6%BC%94%E7%A4%BA%2F%E7%85%A7%E7%89%87%20%26%20%E8%A7%86%E9%A2%91"
                                "%20%231&t=0."),
            std::string::npos)
      << lists[0].query;
  EXPECT_EQ(lists[0].query.rfind("uk=1102000001&shareid=4201000001&order=server_filename&desc=1&"
                                 "showempty=0&web=1&page=1&num=100&dir=",
                                 0),
            0u);
  const auto downloads = sim.requests("download");
  ASSERT_EQ(downloads.size(), 8u);
  EXPECT_EQ(downloads[0].body,
            "encrypt=0&product=share&uk=1102000001&primaryid=4201000001&vcode_input=&vcode_str=&"
            "extra=&fid_list=%5B" +
                job.files[0].fs_id + "%5D");
  EXPECT_EQ(downloads[0].referer, job.link);
  EXPECT_NE(downloads[2].query.find("&app_id=778750&logid="), std::string::npos);
}

TEST(ShareClientE2E, ProtectedShareWrongCodesThenTheRightOne) {
  SimHarness sim(SimHarness::demo_fixture());
  ShareClient client;
  Job job{sim.link("1LockDemoK3vP")};
  const std::string typed = job.link;
  EXPECT_EQ(run(client, job), -12);  // no code yet
  EXPECT_TRUE(job.files.empty());
  // The link became the target of its redirect.
  EXPECT_NE(job.link.find("/share/init?shareid=4201000002&uk=1102000002"), std::string::npos);
  job.code = "zzzz";
  EXPECT_EQ(run(client, job), -9);
  job.code = "8k2p";
  ASSERT_EQ(run(client, job), 0) << sim.violations();
  EXPECT_EQ(job.files.size(), 5u);
  EXPECT_EQ(job.index, 6);
  for (const FileEntry& entry : job.files) {
    if (entry.isdir == "0") {
      EXPECT_FALSE(entry.dlink.empty());
    }
  }
  // BDCLND may be the only cookie: its value still reaches every download.
  const auto downloads = sim.requests("download");
  ASSERT_FALSE(downloads.empty());
  EXPECT_NE(downloads[0].body.find("&extra={\"sekey\":\""), std::string::npos) << downloads[0].body;
  EXPECT_NE(client.get_cookies().find("BDCLND="), std::string::npos);
  EXPECT_NE(typed, job.link);
  EXPECT_EQ(sim.violations(), "");
}

TEST(ShareClientE2E, ExtractionCodeIsSentPercentEncoded) {
  SimHarness sim(SimHarness::demo_fixture());
  ShareClient client;
  Job job{sim.link("1LockDemoK3vP")};
  job.code = "a b&c";
  EXPECT_EQ(run(client, job), -9);
  const auto verifies = sim.requests("verify");
  ASSERT_EQ(verifies.size(), 1u);
  EXPECT_EQ(verifies[0].body, "pwd=a%20b%26c&vcode=&vcode_str=");
}

TEST(ShareClientE2E, VerificationCaptcha) {
  SimHarness sim(
      std::string(u8R"({"shares": [{"surl": "1Cap", "shareid": 7, "uk": 8,
      "code": "ab12", "verify_captcha": "always",
      "tree": [{"name": "a.txt", "size": 3}]}]})"));
  ShareClient client;
  Job job(sim.link("1Cap"), "ab12");
  ASSERT_EQ(run(client, job), -62);
  Bytes image;
  ASSERT_EQ(client.fetch_captcha(image, -62), 0);
  EXPECT_EQ(image.substr(1, 3), "PNG");
  const std::string id = client.vcode_str();
  ASSERT_FALSE(id.empty());
  // A second fetch replaces the id.
  ASSERT_EQ(client.fetch_captcha(image, -62), 0);
  EXPECT_NE(client.vcode_str(), id);
  job.answer = sim.sim().captcha_answer(client.vcode_str()).value_or("");
  ASSERT_EQ(run(client, job), 0) << sim.violations();
  EXPECT_EQ(client.vcode_str(), "");  // used up by the verification
  ASSERT_EQ(job.files.size(), 1u);
  EXPECT_FALSE(job.files[0].dlink.empty());
  // The captcha request carries no cookies.
  for (const auto& entry : sim.requests("captcha"))
    EXPECT_EQ(entry.cookie, "");
}

TEST(ShareClientE2E, DownloadCaptchaStopsAtTheEntryAndResumesThere) {
  SimHarness sim(
      std::string(u8R"({"shares": [{"surl": "1Dl", "shareid": 7, "uk": 8,
      "download_captcha": "from:3",
      "tree": [{"name": "1.txt", "size": 1}, {"name": "2.txt", "size": 2},
               {"name": "3.txt", "size": 3}, {"name": "4.txt", "size": 4},
               {"name": "5.txt", "size": 5}]}]})"));
  ShareClient client;
  client.set_limits(one_at_a_time());
  Job job{sim.link("1Dl")};
  ASSERT_EQ(run(client, job), -20);
  EXPECT_EQ(job.index, 3);
  ASSERT_EQ(job.files.size(), 5u);
  EXPECT_FALSE(job.files[0].dlink.empty());
  EXPECT_FALSE(job.files[1].dlink.empty());
  EXPECT_TRUE(job.files[2].dlink.empty());
  const std::string first_link = job.files[0].dlink;

  Bytes image;
  ASSERT_EQ(client.fetch_captcha(image, -20), 0);
  job.answer = sim.sim().captcha_answer(client.vcode_str()).value_or("");
  // The answer serves one request: entry 4 asks again.
  EXPECT_EQ(run(client, job), -20);
  EXPECT_EQ(job.index, 4);
  EXPECT_FALSE(job.files[2].dlink.empty());
  EXPECT_EQ(job.files[0].dlink, first_link);
  const auto downloads = sim.requests("download");
  EXPECT_EQ(downloads.size(), 5u);  // 1, 2, 3 refused, 3 again, 4 refused
  EXPECT_NE(downloads[3].body.find("&vcode_input=" + job.answer + "&vcode_str="),
            std::string::npos);
}

TEST(ShareClientE2E, FolderOf250ItemsIsReadPageByPage) {
  SimHarness sim(
      std::string(u8R"({"shares": [{"surl": "1Big", "shareid": 7, "uk": 8,
      "tree": [{"name": "big", "generated_files": 250}]}]})"));
  ShareClient client;
  Job job{sim.link("1Big")};
  ASSERT_EQ(run(client, job), 0) << sim.violations();
  EXPECT_EQ(job.files.size(), 251u);
  const auto lists = sim.requests("list");
  ASSERT_EQ(lists.size(), 3u);
  EXPECT_NE(lists[2].query.find("&page=3&num=100&"), std::string::npos);
  EXPECT_EQ(sim.requests("download").size(), 250u);
}

TEST(ShareClientE2E, DeepTreeAndMissingPageOnFirstFetch) {
  SimHarness sim(SimHarness::demo_fixture());
  ShareClient client;
  Job job{sim.link("1DeepDemoM4nB")};
  ASSERT_EQ(run(client, job), 0) << sim.violations();
  // 2 top-level entries, 150 + 1 folder, 120 + 1 folder, 1 file.
  EXPECT_EQ(job.files.size(), 2u + 151u + 121u + 1u);
  // The sub-folder is followed by its own contents before the next sibling.
  std::size_t sub = 0;
  while (sub < job.files.size() && job.files[sub].server_filename != "子目录 A")
    ++sub;
  ASSERT_LT(sub + 1, job.files.size());
  EXPECT_EQ(job.files[sub + 1].path.rfind(job.files[sub].path + "/", 0), 0u);
  EXPECT_EQ(sim.requests("page").size(), 2u);
}

TEST(ShareClientE2E, UnknownLinkAndLinkWithoutScheme) {
  SimHarness sim(SimHarness::demo_fixture());
  ShareClient client;
  Job job{sim.link("1NoSuchShare")};
  EXPECT_EQ(run(client, job), kLinkInvalid);
  Job bare{"127.0.0.1/s/1PubDemoXq7Ra"};
  EXPECT_EQ(run(client, bare), kRequestFailed);
  Bytes image = "kept";
  EXPECT_EQ(client.fetch_captcha(image, 0), kBadCaptchaKind);
  EXPECT_EQ(image, "kept");
  EXPECT_TRUE(sim.requests("captcha").empty());
}

struct FaultCase {
  const char* faults;  // fault rules, separated by ","
  int expected;
  const char* failed;  // the path of the request that failed for good; nullptr: none did
};

class ShareClientFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ShareClientFaults, EndWithTheirCodeAndNeverASilentGap) {
  sim::Fixture fixture = SimHarness::demo_fixture();
  std::string error;
  const std::string faults = GetParam().faults;
  for (std::size_t start = 0; start <= faults.size();) {
    const std::size_t end = std::min(faults.find(',', start), faults.size());
    auto rule = sim::parse_fault(faults.substr(start, end - start), error);
    ASSERT_TRUE(rule) << error;
    fixture.knobs.faults.push_back(*rule);
    start = end + 1;
  }
  fixture.knobs.hang_ms = 300;
  SimHarness sim(std::move(fixture));
  ShareClient client;
  ResolveLimits limits;
  limits.retry_delays_ms = {10, 10};
  client.set_limits(limits);
  Job job{sim.link("1PubDemoXq7Ra")};
  const int code = run(client, job);
  EXPECT_EQ(code, GetParam().expected) << faults;
  if (code == 0) {
    for (const FileEntry& entry : job.files) {
      if (entry.isdir == "0") {
        EXPECT_FALSE(entry.dlink.empty()) << entry.server_filename;
      }
    }
  } else {
    // Either no list at all or one that stops where the failure happened.
    EXPECT_TRUE(job.files.empty() || job.index <= static_cast<int>(job.files.size()));
  }
  const std::optional<RequestFailure> failure = client.last_failure();
  ASSERT_EQ(failure.has_value(), GetParam().failed != nullptr) << faults;
  if (failure) {
    const std::string path = GetParam().failed;
    EXPECT_EQ(failure->url.substr(failure->url.size() - std::min(failure->url.size(), path.size())),
              path);
    EXPECT_TRUE(failure->failure != 0 || failure->status_text.rfind("500", 0) == 0)
        << failure->status_text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sim, ShareClientFaults,
    ::testing::Values(FaultCase{"page:close", kRequestFailed, "/s/1PubDemoXq7Ra"},
                      FaultCase{"page:hang", kRequestFailed, "/s/1PubDemoXq7Ra"},
                      FaultCase{"page:malformed", kJsonParseFailed, nullptr},
                      FaultCase{"list:close", kRequestFailed, "/share/list"},
                      FaultCase{"list:http500", kJsonParseFailed, "/share/list"},
                      FaultCase{"list:malformed", kJsonParseFailed, nullptr},
                      FaultCase{"list:truncate", kRequestFailed, "/share/list"},
                      FaultCase{"list:self_loop", 0, nullptr},
                      // A broken connection or a request without an answer is sent again,
                      // twice at most; a third failure in a row ends the resolve.
                      FaultCase{"download:close@2", 0, nullptr},
                      FaultCase{"download:hang@3", 0, nullptr},
                      FaultCase{"download:close@2,download:close@3", 0, nullptr},
                      FaultCase{"download:hang@3,download:hang@4", 0, nullptr},
                      FaultCase{"download:close@every1", kRequestFailed, "/api/sharedownload"},
                      FaultCase{"download:http500", kJsonParseFailed, "/api/sharedownload"},
                      FaultCase{"download:malformed@2", kJsonParseFailed, nullptr},
                      FaultCase{"download:truncate", kRequestFailed, "/api/sharedownload"},
                      FaultCase{"download:errno_last", 0, nullptr},
                      FaultCase{"download:huge@1", kRequestFailed, "/api/sharedownload"},
                      // A success without its link or its list is no success, and says so.
                      FaultCase{"download:bare_success@2", kLinkMissing, nullptr},
                      FaultCase{"list:bare_success", kJsonParseFailed, nullptr},
                      // A listing that answers its first page again ends the folder there.
                      FaultCase{"list:first_page", 0, nullptr}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
      std::string name = info.param.faults;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST(ShareClientE2E, FailedListingEmptiesTheList) {
  sim::Fixture fixture = SimHarness::demo_fixture();
  std::string error;
  fixture.knobs.faults.push_back(*sim::parse_fault("list:malformed@2", error));
  SimHarness sim(std::move(fixture));
  ShareClient client;
  Job job{sim.link("1PubDemoXq7Ra")};
  EXPECT_EQ(run(client, job), kJsonParseFailed);
  EXPECT_TRUE(job.files.empty());
  EXPECT_TRUE(sim.requests("download").empty());
}

TEST(ShareClientE2E, ErrnoAsLastMemberOfAVerificationReply) {
  sim::Fixture fixture = SimHarness::demo_fixture();
  std::string error;
  fixture.knobs.faults.push_back(*sim::parse_fault("verify:errno_last", error));
  SimHarness sim(std::move(fixture));
  ShareClient client;
  Job job(sim.link("1LockDemoK3vP"), "nope");
  EXPECT_EQ(run(client, job), -9);
}

// A protected page whose redirect probe brings no Location line: the link must
// stay as typed (not become the reply's header text).
TEST(ShareClientE2E, ProbeWithoutLocationKeepsTheLink) {
  httplib::Server server;
  server.Get("/s/1x", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(u8"<html>请输入提取密码</html>", "text/html; charset=utf-8");
  });
  std::string verify_referer;
  server.Post("/share/verify", [&](const httplib::Request& req, httplib::Response& res) {
    verify_referer = req.get_header_value("Referer");
    res.set_content("{\"errno\":-9}", "application/json");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  // Bound and listening already: requests wait in the backlog until it accepts.
  std::thread serving([&] { server.listen_after_bind(); });
  ShareClient client;
  Job job("http://127.0.0.1:" + std::to_string(port) + "/s/1x", "abcd");
  const std::string typed = job.link;
  EXPECT_EQ(run(client, job), -9);
  server.stop();
  serving.join();  // verify_referer is written on the server's thread
  EXPECT_EQ(job.link, typed);
  EXPECT_EQ(verify_referer, typed);
}

// The last progress report of a resolve.
struct ProgressLog {
  void watch(ShareClient& client) {
    client.set_progress_observer([this](const ResolveProgress& progress) { last = progress; });
  }
  ResolveProgress last;
};

// A share of one file whose page holds data object members of the case's.
struct PageListCase {
  const char* name;
  const char* page_data;  // JSON members replacing the data object's
  int expected;
  int skipped;
};

class ForgedPageList : public ::testing::TestWithParam<PageListCase> {};

// A count or a list the page forges never sizes the list: only the items of a
// real array become entries.
TEST_P(ForgedPageList, GivesNoEntryItDoesNotHold) {
  SimHarness sim(std::string(u8R"({"shares": [{"surl": "1F", "shareid": 7, "uk": 8,
      "tree": [{"name": "a.txt", "size": 1}], "page_data": )") +
                 GetParam().page_data + "}]}");
  ShareClient client;
  ProgressLog progress;
  progress.watch(client);
  Job job{sim.link("1F")};
  EXPECT_EQ(run(client, job), GetParam().expected);
  EXPECT_TRUE(job.files.empty());
  EXPECT_EQ(job.index, 1);
  EXPECT_EQ(progress.last.entries_found, 0);
  EXPECT_EQ(progress.last.entries_skipped, GetParam().skipped);
  EXPECT_TRUE(sim.requests("list").empty());
  EXPECT_TRUE(sim.requests("download").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, ForgedPageList,
    ::testing::Values(
        PageListCase{"length_900000000",
                     R"({"file_list": {"errno": 0, "list": {"length": 900000000}}})",
                     kJsonParseFailed, 0},
        PageListCase{"length_5000000",
                     R"({"file_list": {"errno": 0, "list": {"length": 5000000}}})",
                     kJsonParseFailed, 0},
        PageListCase{"list_text", R"({"file_list": {"errno": 0, "list": "abcdef"}})",
                     kJsonParseFailed, 0},
        PageListCase{"list_number", R"({"file_list": {"errno": 0, "list": 3}})", kJsonParseFailed,
                     0},
        PageListCase{"file_list_text", R"({"file_list": "[1, 2]"})", kJsonParseFailed, 0},
        // Nothing listed is an empty share, as before.
        PageListCase{"no_file_list", R"({"file_list": null})", 0, 0},
        PageListCase{"no_list", R"({"file_list": {"errno": 0, "list": null}})", 0, 0},
        PageListCase{
            "items_of_no_entry",
            R"({"file_list": {"errno": 0, "list": [5, "x", [1], true, {}, {"length": 2}]}})", 0,
            6}),
    [](const ::testing::TestParamInfo<PageListCase>& info) { return info.param.name; });

// An entry of the case's at the top level and another inside a folder, each
// beside good files.
struct BrokenEntryCase {
  const char* name;
  const char* wire;              // JSON members replacing the broken entries' own
  bool listing_reads_it = true;  // false: a member only the share page's entries carry
};

class BrokenEntry : public ::testing::TestWithParam<BrokenEntryCase> {};

TEST_P(BrokenEntry, IsLeftOutAndNeverRequested) {
  const std::string wire = GetParam().wire;
  SimHarness sim(std::string(u8R"({"shares": [{"surl": "1B", "shareid": 7, "uk": 8, "tree": [
      {"name": "a.txt", "size": 1},
      {"name": "bad1", "size": 3, "wire": )") +
                 wire +
                 u8R"(},
      {"name": "dir", "children": [{"name": "b.txt", "size": 2},
                                   {"name": "bad2", "size": 4, "wire": )" +
                 wire + "}]}]}]}");
  ShareClient client;
  ProgressLog progress;
  progress.watch(client);
  Job job{sim.link("1B")};
  ASSERT_EQ(run(client, job), 0);
  std::vector<std::string> expected{"a.txt", "dir", "b.txt"};
  if (!GetParam().listing_reads_it) expected = {"a.txt", "dir", "bad2", "b.txt"};
  EXPECT_EQ(names(job.files), expected);
  for (const FileEntry& entry : job.files) {
    EXPECT_TRUE(entry.isdir == "1" || !entry.dlink.empty()) << entry.server_filename;
  }
  const int files = static_cast<int>(expected.size()) - 1;
  EXPECT_EQ(sim.requests("download").size(), static_cast<std::size_t>(files));
  EXPECT_EQ(progress.last.entries_skipped, GetParam().listing_reads_it ? 2 : 1);
  EXPECT_EQ(progress.last.entries_found, static_cast<int>(expected.size()));
  EXPECT_EQ(progress.last.files_found, files);
  EXPECT_EQ(progress.last.links_obtained, files);
  EXPECT_EQ(progress.last.folders_listed, 1);
  // The harness fails the test if a request carried an id the service never gave.
}

INSTANTIATE_TEST_SUITE_P(
    Sim, BrokenEntry,
    ::testing::Values(BrokenEntryCase{"fs_id_missing", R"({"fs_id": null})"},
                      BrokenEntryCase{"fs_id_form_syntax", R"({"fs_id": "1]&uk=999&x=["})"},
                      BrokenEntryCase{"fs_id_digits_as_text", R"({"fs_id": "300000000000002"})"},
                      BrokenEntryCase{"fs_id_fraction", R"({"fs_id": 300000000000002.5})"},
                      BrokenEntryCase{"fs_id_exponent", R"({"fs_id": 3e25})"},
                      BrokenEntryCase{"fs_id_negative", R"({"fs_id": -300000000000002})"},
                      BrokenEntryCase{"fs_id_2_pow_64", R"({"fs_id": 18446744073709551616})"},
                      BrokenEntryCase{"fs_id_true", R"({"fs_id": true})"},
                      BrokenEntryCase{"fs_id_object", R"({"fs_id": {"id": 1}})"},
                      BrokenEntryCase{"name_missing", R"({"server_filename": null})"},
                      BrokenEntryCase{"name_object", R"({"server_filename": {"a": 1}})"},
                      BrokenEntryCase{"name_number", R"({"server_filename": 5})"},
                      BrokenEntryCase{"isdir_array", R"({"isdir": [1]})"},
                      BrokenEntryCase{"isdir_missing", R"({"isdir": null})"},
                      BrokenEntryCase{"isdir_2", R"({"isdir": 2})"},
                      BrokenEntryCase{"isdir_true", R"({"isdir": true})"},
                      BrokenEntryCase{"folder_without_path", R"({"isdir": 1, "path": null})"},
                      BrokenEntryCase{"size_object", R"({"size": {"n": 1}})"},
                      BrokenEntryCase{"path_array", R"({"path": ["/bad"]})"},
                      BrokenEntryCase{"app_id_object", R"({"app_id": {"x": 1}})", false},
                      BrokenEntryCase{"parent_path_true", R"({"parent_path": true})", false}),
    [](const ::testing::TestParamInfo<BrokenEntryCase>& info) { return info.param.name; });

TEST(ShareClientE2E, UnusualButSoundEntriesAreKept) {
  SimHarness sim(
      std::string(u8R"({"shares": [{"surl": "1U", "shareid": 7, "uk": 8, "tree": [
      {"name": "max.bin", "size": 5, "fs_id": 18446744073709551615,
       "wire": {"isdir": "0", "size": "5", "app_id": 250528}},
      {"name": "small id.bin", "size": 1, "fs_id": 1},
      {"name": "say \"hi\"\\ 乗\n.txt", "size": 2}]}]})"));
  ShareClient client;
  Job job{sim.link("1U")};
  ASSERT_EQ(run(client, job), 0);
  ASSERT_EQ(job.files.size(), 3u);
  // Escapes decoded; 乗 is 81 5C, a backslash's byte as its second.
  EXPECT_EQ(job.files[2].server_filename, "say \"hi\"\\ 乗\n.txt");
  EXPECT_EQ(job.files[0].fs_id, "18446744073709551615");
  EXPECT_EQ(job.files[0].size, "5");
  EXPECT_FALSE(job.files[0].dlink.empty());
  const auto downloads = sim.requests("download");
  ASSERT_EQ(downloads.size(), 3u);
  EXPECT_NE(downloads[0].body.find("&fid_list=%5B18446744073709551615%5D"), std::string::npos);
}

// U+FFFD in local text, where a zero character stood.
const std::string kStandIn = "\x84\x31\xA4\x37";

TEST(ShareClientE2E, ZeroCharactersDoNotCutNames) {
  // The first entry names the page's title, where a zero byte would end the
  // whole page.
  SimHarness sim(
      std::string(u8R"({"shares": [
      {"surl": "1N", "shareid": 7, "uk": 8, "tree": [
        {"name": "dir", "children": [{"name": "c\u0000d.txt", "size": 2}]},
        {"name": "a\u0000b 文件.txt", "size": 1}]},
      {"surl": "1R", "shareid": 9, "uk": 8, "root": "/r\u0000t",
       "tree": [{"name": "e.txt", "size": 3}]}]})"));
  ShareClient client;
  Job job{sim.link("1N")};
  ASSERT_EQ(run(client, job), 0);
  EXPECT_EQ(names(job.files), (std::vector<std::string>{"dir", "a" + kStandIn + "b 文件.txt",
                                                        "c" + kStandIn + "d.txt"}));
  EXPECT_EQ(job.files[2].path, "/dir/c" + kStandIn + "d.txt");
  Job rooted{sim.link("1R")};
  ASSERT_EQ(run(client, rooted), 0);
  ASSERT_EQ(rooted.files.size(), 1u);
  EXPECT_EQ(rooted.files[0].decoded_parent_path, "/r" + kStandIn + "t");
  EXPECT_EQ(rooted.files[0].path, "/r" + kStandIn + "t/e.txt");
}

TEST(ShareClientE2E, ListingThatRepeatsItsPageEndsTheFolder) {
  SimHarness sim(
      std::string(u8R"({"options": {"faults": ["list:first_page"]},
      "shares": [{"surl": "1Rep", "shareid": 7, "uk": 8,
      "tree": [{"name": "big", "generated_files": 250}, {"name": "z.txt", "size": 1}]}]})"));
  ShareClient client;
  ProgressLog progress;
  progress.watch(client);
  Job job{sim.link("1Rep")};
  ASSERT_EQ(run(client, job), 0);
  EXPECT_EQ(job.files.size(), 2u + 100u);
  EXPECT_EQ(sim.requests("list").size(), 2u);
  EXPECT_EQ(sim.requests("download").size(), 101u);
  EXPECT_EQ(progress.last.folders_listed, 1);
  EXPECT_EQ(progress.last.links_obtained, 101);
}

// A share of 3 top-level entries, 250 files in one folder and a file three
// folders deep: 256 entries; 3 listing pages for the big folder.
struct LimitCase {
  const char* name;
  ResolveLimits limits;
  int expected;
  std::size_t kept;  // entries in the list afterwards; 0: some, fewer than all
  std::size_t lists;
};

class ResolveLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ResolveLimit, EndsTheResolveAndKeepsWhatWasFound) {
  SimHarness sim(
      std::string(u8R"({"shares": [{"surl": "1L", "shareid": 7, "uk": 8, "tree": [
      {"name": "a.txt", "size": 1},
      {"name": "big", "generated_files": 250},
      {"name": "deep", "children": [{"name": "l2", "children": [{"name": "l3", "children": [
          {"name": "f.txt", "size": 1}]}]}]}]}]})"));
  ShareClient client;
  // One at a time: how many listing requests a limit lets out is exact.
  ResolveLimits limits = GetParam().limits;
  limits.parallel = 1;
  client.set_limits(limits);
  ProgressLog progress;
  progress.watch(client);
  Job job{sim.link("1L")};
  EXPECT_EQ(run(client, job), GetParam().expected);
  if (GetParam().kept == 0) {
    EXPECT_GT(job.files.size(), 3u);
    EXPECT_LT(job.files.size(), 256u);
  } else {
    EXPECT_EQ(job.files.size(), GetParam().kept);
  }
  EXPECT_EQ(sim.requests("list").size(), GetParam().lists);
  EXPECT_EQ(progress.last.entries_found, static_cast<int>(job.files.size()));
  if (GetParam().expected != 0) {
    // The list is a beginning of the share's, and no link was asked for.
    EXPECT_EQ(job.index, 1);
    EXPECT_TRUE(sim.requests("download").empty());
    ASSERT_FALSE(job.files.empty());
    EXPECT_EQ(job.files[0].server_filename, "a.txt");
  }
}

ResolveLimits limits_of(std::size_t entries, int pages, int depth,
                        std::size_t bytes = ResolveLimits{}.max_list_bytes) {
  ResolveLimits limits;
  limits.max_entries = entries;
  limits.max_list_pages = pages;
  limits.max_folder_depth = depth;
  limits.max_list_bytes = bytes;
  return limits;
}

INSTANTIATE_TEST_SUITE_P(
    Sim, ResolveLimit,
    ::testing::Values(
        LimitCase{"defaults", ResolveLimits{}, 0, 256, 6},
        LimitCase{"exactly_enough", limits_of(256, 6, 3), 0, 256, 6},
        LimitCase{"entries_in_a_listing", limits_of(150, 100, 10), kTooManyEntries, 150, 2},
        LimitCase{"entries_on_the_page", limits_of(2, 100, 10), kTooManyEntries, 2, 0},
        LimitCase{"listing_pages", limits_of(1000, 2, 10), kTooManyEntries, 203, 2},
        LimitCase{"folder_depth", limits_of(1000, 100, 2), kFolderTooDeep, 255, 5},
        // Room for about 150 entries, as many as their records and texts take.
        LimitCase{"list_bytes", limits_of(1000, 100, 10, 50000), kListTooLarge, 0, 2}),
    [](const ::testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

TEST(ShareClientE2E, CaptchaReplyWithoutPictureOrIdIsNoCaptcha) {
  sim::Fixture fixture = SimHarness::demo_fixture();
  std::string error;
  fixture.knobs.faults.push_back(*sim::parse_fault("captcha:bare_success", error));
  SimHarness sim(std::move(fixture));
  ShareClient client;
  Job job{sim.link("1PubDemoXq7Ra")};
  ASSERT_EQ(run(client, job), 0);  // sets the origin
  Bytes image = "kept";
  EXPECT_EQ(client.fetch_captcha(image, kWrongDownloadCaptcha), kCaptchaMissing);
  EXPECT_EQ(image, "kept");
  EXPECT_EQ(client.vcode_str(), "");
  EXPECT_TRUE(sim.requests("image").empty());
}

}  // namespace
}  // namespace sharelink

// sharelink-cli --download against an in-process simulator: the files land
// byte for byte under safe names, what each fault does to the log and the exit
// status, a stop, a kill and the run after it, and the aria2 file with aria2c.

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli_process.h"
#include "download/manifest.h"
#include "e2e/sim_harness.h"
#include "file_text.h"
#include "scratch_path.h"
#include "sim/file_content.h"

namespace sharelink::testing {
namespace {

namespace fs = std::filesystem;

const char* const kFixture =
    u8R"json({
  "options": {"quiet": true},
  "shares": [
    {"surl": "1DlTestA", "shareid": 51, "uk": 61, "root": "/分享", "sign_expires_after": 4,
     "tree": [
       {"name": "说明.txt", "size": 5000, "fs_id": 701},
       {"name": "资料", "children": [
         {"name": "a:b?.bin", "size": 300000, "fs_id": 702},
         {"name": "深", "children": [{"name": "x.bin", "size": 2097152, "fs_id": 703}]}
       ]},
       {"name": "big.bin", "size": 3145728, "fs_id": 704}
     ]},
    {"surl": "1DlHugeB", "shareid": 52, "uk": 62,
     "tree": [{"name": "巨大.bin", "size": 1152921504606846976, "fs_id": 705}]}
  ]
})json";

struct LocalFile {
  const char* path;  // below the download folder, UTF-8
  std::uint64_t fs_id;
  std::uint64_t size;
};
const std::vector<LocalFile> kFiles = {{u8"说明.txt", 701, 5000},
                                       {u8"资料/a_b_.bin", 702, 300000},
                                       {u8"资料/深/x.bin", 703, 2097152},
                                       {u8"big.bin", 704, 3145728}};

// Every file of the share is in folder, whole and exact, and no .part is left.
void expect_all_files(const std::string& folder) {
  for (const LocalFile& file : kFiles) {
    const fs::path path = fs::u8path(folder + "/" + file.path);
    ASSERT_TRUE(fs::exists(path)) << file.path;
    EXPECT_TRUE(file_text(path) == sim::file_bytes(file.fs_id, 0, file.size)) << file.path;
    EXPECT_FALSE(fs::exists(fs::u8path(folder + "/" + file.path + ".part"))) << file.path;
  }
}

bool wait_until(const std::function<bool()>& ready) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The bytes the folder's record says are on disk.
std::uint64_t recorded_bytes(const std::string& folder) {
  Manifest record;
  std::string problem;
  if (!parse_manifest(file_text(folder + "/" + kManifestName), record, problem)) return 0;
  std::uint64_t bytes = 0;
  for (const FileRecord& file : record.files) {
    for (const PieceRecord& piece : file.pieces)
      bytes += piece.done;
  }
  return bytes;
}

std::vector<std::string> download_args(const SimHarness& sim, const std::string& folder,
                                       const std::string& surl = "1DlTestA") {
  return {"--download", folder, "--connections", "4", sim.link(surl)};
}

struct FaultCase {
  const char* name;
  std::function<void(sim::ContentKnobs&)> knobs;
  bool user_file;  // a file of the user's own is where big.bin would go
  int status;
  const char* log_part;  // in the log after the report
  bool all_files;        // every file lands exact
};

class CliDownload : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CliDownload, FaultsTellTheirCauseAndLoseNothing) {
  const FaultCase& row = GetParam();
  SimHarness sim{std::string(kFixture)};
  sim::Knobs knobs = sim.sim().knobs();
  row.knobs(knobs.content);
  sim.sim().set_knobs(knobs);
  ScratchPath folder(std::string("cli-download-") + row.name);
  if (row.user_file) {
    fs::create_directories(folder.path());
    std::ofstream(folder.path() + "/big.bin") << "mine";
  }
  CliProcess cli(download_args(sim, folder.path()));
  EXPECT_EQ(cli.finish(), row.status) << cli.err() << cli.out();
  const std::string& log = cli.out();
  const std::size_t report_end = log.find(std::string(88, '-'));
  ASSERT_NE(report_end, std::string::npos);
  EXPECT_NE(log.find(row.log_part, report_end), std::string::npos) << log.substr(report_end);
  EXPECT_NE(log.find(u8"下载结束: ", report_end), std::string::npos);
  // The page's values serve four link requests: a renewal fetches the page again.
  const bool renewed = log.find(u8"已重新获取", report_end) != std::string::npos;
  EXPECT_EQ(sim.requests("page").size() > 1, renewed);
  if (row.all_files) expect_all_files(folder.path());
  if (row.user_file) {
    EXPECT_EQ(file_text(folder.path() + "/big.bin"), "mine");
    EXPECT_TRUE(file_text(folder.path() + "/big (1).bin") == sim::file_bytes(704, 0, 3145728));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CliDownload,
    ::testing::Values(
        FaultCase{"plain", [](sim::ContentKnobs&) {}, false, 0, u8"下载完成: 资料/a_b_.bin", true},
        // The connection of a_b_.bin asks again after 2.3 s, when every link
        // of the job is past its two seconds, however the machine is loaded.
        FaultCase{"expired",
                  [](sim::ContentKnobs& k) { k.link_lifetime_seconds = 2, k.rate = 128 << 10; },
                  false, 0, u8"下载地址已过期, 已重新获取: ", true},
        FaultCase{"dropped", [](sim::ContentKnobs& k) { k.drop_after = 700000; }, false, 0,
                  u8"下载完成: big.bin", true},
        FaultCase{"no_ranges", [](sim::ContentKnobs& k) { k.ignore_range = true; }, false, 0,
                  u8"从头以单个连接下载: big.bin", true},
        FaultCase{"user_file", [](sim::ContentKnobs&) {}, true, 0, u8"改存为: big (1).bin", false},
        FaultCase{"short", [](sim::ContentKnobs& k) { k.short_by = 10; }, false, 1,
                  u8"下载失败: big.bin (服务器上的文件有 3145718 字节", false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(CliDownloadRefused, AShareLargerThanTheDiskStartsNothing) {
  SimHarness sim{std::string(kFixture)};
  ScratchPath folder("cli-download-huge");
  CliProcess cli(download_args(sim, folder.path(), "1DlHugeB"));
  EXPECT_EQ(cli.finish(), 1);
  EXPECT_NE(cli.out().find(u8"下载未开始: 磁盘空间不足, 需要 "), std::string::npos) << cli.out();
  EXPECT_EQ(sim.sim().content_bytes_served(), 0u);
  EXPECT_FALSE(fs::exists(fs::u8path(folder.path() + u8"/巨大.bin.part")));
}

// A stop (Ctrl-C) and a kill both leave what came; the next run fetches only
// the rest.
TEST(CliDownloadResume, AfterAStopAndAfterAKillOnlyTheRestIsFetched) {
  for (const int signal_number : {SIGINT, SIGKILL}) {
    SimHarness sim{std::string(kFixture)};
    sim::Knobs knobs = sim.sim().knobs();
    knobs.content.rate = 256 << 10;
    sim.sim().set_knobs(knobs);
    ScratchPath folder("cli-download-resume");
    {
      CliProcess cli(download_args(sim, folder.path()));
      // The record is written at least once a second while bytes come.
      ASSERT_TRUE(wait_until([&] { return recorded_bytes(folder.path()) >= (1u << 20); }));
      cli.interrupt(signal_number);
      EXPECT_EQ(cli.finish(), signal_number == SIGINT ? 130 : 128 + SIGKILL);
      if (signal_number == SIGINT) {
        EXPECT_NE(cli.out().find(u8"下载结束: "), std::string::npos) << cli.out();
      }
    }
    const std::uint64_t first_run = sim.sim().content_bytes_served();
    // Paced, so that the bytes a cut piece leaves in the socket stay few.
    knobs.content.rate = 1 << 20;
    sim.sim().set_knobs(knobs);
    CliProcess again(download_args(sim, folder.path()));
    EXPECT_EQ(again.finish(), 0) << again.out();
    expect_all_files(folder.path());
    const std::uint64_t total = 5000 + 300000 + 2097152 + 3145728;
    // What the first run had on disk at its last record is not fetched again.
    EXPECT_LT(sim.sim().content_bytes_served() - first_run, total - (1u << 20))
        << "signal " << signal_number;
    EXPECT_EQ(again.out().find(u8"改存为"), std::string::npos) << again.out();
    EXPECT_NE(again.out().find(u8"继续上次的下载: "), std::string::npos) << again.out();
  }
}

TEST(CliDownloadAria2, Aria2cFetchesWithTheUserAgentOfTheExport) {
  if (std::system("aria2c --version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "aria2c is not installed";
  SimHarness sim{std::string(kFixture)};
  ScratchPath folder("cli-download-aria2");
  const std::string input = folder.path() + ".aria2";
  ScratchPath input_file("cli-download-aria2.aria2");
  CliProcess cli({"--aria2", input, sim.link("1DlTestA")});
  ASSERT_EQ(cli.finish(), 0);
  const std::string command = "aria2c -q --allow-overwrite=true -x4 -i '" + input + "' -d '" +
                              folder.path() + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  // aria2 keeps the names as the export gives them.
  EXPECT_TRUE(file_text(fs::u8path(folder.path() + u8"/资料/深/x.bin")) ==
              sim::file_bytes(703, 0, 2097152));
  EXPECT_TRUE(file_text(fs::u8path(folder.path() + u8"/big.bin")) ==
              sim::file_bytes(704, 0, 3145728));
}

}  // namespace
}  // namespace sharelink::testing

#include "download/downloader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include "download/manifest.h"
#include "http/http_message.h"
#include "scratch_path.h"
#include "share/share_client.h"
#include "sim/file_content.h"
#include "sim/server.h"
#include "text/local_text.h"
#include "text/text_encoding.h"

namespace sharelink {
namespace {

using namespace std::chrono_literals;

// Files of a few hundred KiB in nested folders, one with a Chinese name.
constexpr const char* kShare =
    u8R"({"options": {"quiet": true}, "shares": [{
  "surl": "1DlTest", "shareid": 501, "uk": 601, "tree": [
    {"name": "a.bin", "size": 700000, "fs_id": 11},
    {"name": "sub", "children": [
      {"name": "b.bin", "size": 1500000, "fs_id": 12},
      {"name": "目录", "children": [{"name": "文档.bin", "size": 300000, "fs_id": 13}]}]},
    {"name": "d.bin", "size": 70000, "fs_id": 14}]}]})";

class Recorder : public DownloadObserver {
 public:
  void file_done(std::size_t index, const std::string&) override {
    add([&] { done[index]++; });
  }
  void file_failed(std::size_t index, const std::string&, const FileFailure& failure) override {
    add([&] { failed[index] = failure; });
  }
  void notice(std::size_t index, const std::string&, DownloadNotice notice) override {
    add([&] { notices[index].push_back(notice); });
  }
  void progress(const DownloadProgress& progress) override {
    add([&] { bytes_done = progress.bytes_done; });
  }
  bool wait_for_bytes(std::uint64_t bytes) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 20s, [&] { return bytes_done >= bytes; });
  }
  bool noticed(std::size_t index, DownloadNotice notice) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto& list = notices[index];
    return std::find(list.begin(), list.end(), notice) != list.end();
  }

  std::map<std::size_t, int> done;
  std::map<std::size_t, FileFailure> failed;
  std::map<std::size_t, std::vector<DownloadNotice>> notices;
  std::uint64_t bytes_done = 0;

 private:
  template <typename Change>
  void add(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
};

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DownloaderTest : public ::testing::Test {
 protected:
  void start(const sim::ContentKnobs& content = {}) {
    sim::Fixture fixture;
    std::string error;
    ASSERT_TRUE(sim::parse_fixture(kShare, fixture, error)) << error;
    fixture.knobs.content = content;
    sim_ = std::make_unique<sim::Simulator>(std::move(fixture));
    ASSERT_TRUE(sim_->start());
    share_ = sim_->share_url("1DlTest");
    const FileList files = resolve();
    for (const FileEntry& entry : files) {
      if (entry.isdir != "0") continue;
      DownloadItem item{entry.fs_id, split_text(entry.path.substr(1), "/"),
                        std::stoull(entry.size)};
      items_.push_back(item);
      links_.push_back(entry.dlink);
      local_.push_back(gbk_to_utf8(entry.path.substr(1)));
    }
    ASSERT_EQ(items_.size(), 4u);
  }

  FileList resolve() {
    ShareClient client;
    std::string link = share_;
    FileList files;
    int index = 1;
    EXPECT_EQ(client.resolve(link, files, index, "", ""), 0);
    cookies_ = client.get_cookies();
    return files;
  }

  // A new link for the item, from the share resolved afresh.
  int renew(std::size_t index, std::string& link) {
    for (const FileEntry& entry : resolve()) {
      if (entry.fs_id == items_[index].id) link = entry.dlink;
    }
    return 0;
  }

  DownloadSettings settings(int connections) const {
    DownloadSettings settings;
    settings.folder = folder_.path();
    settings.connections = connections;
    settings.share = share_;
    settings.user_agent = default_user_agent();
    settings.cookies = cookies_;
    settings.stall_seconds = 5;
    settings.retry_delays_ms = {10, 30};
    settings.smallest_piece = 64 << 10;
    settings.largest_piece = 256 << 10;
    settings.record_interval_ms = 50;
    return settings;
  }

  // Runs while the links arrive from another thread, as they do from a resolve.
  DownloadSummary download(Downloader& downloader, std::size_t withheld = SIZE_MAX) {
    DownloadSummary summary;
    std::thread runner([&] { summary = downloader.run(); });
    for (std::size_t index = 0; index < links_.size(); ++index) {
      if (index != withheld) downloader.add_link(index, links_[index]);
    }
    downloader.links_done();
    runner.join();
    return summary;
  }

  std::string path(std::size_t index, const std::string& suffix = "") const {
    return folder_.path() + "/" + local_[index] + suffix;
  }
  std::string content(std::size_t index) const {
    return sim::file_bytes(std::stoull(items_[index].id), 0, items_[index].size);
  }
  // The running test's name, fit for a file name: rows are "Name/Row".
  static std::string test_name() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
  }
  std::size_t index_of(const std::string& local) const {
    return static_cast<std::size_t>(std::find(local_.begin(), local_.end(), local) -
                                    local_.begin());
  }
  std::uint64_t total() const {
    std::uint64_t sum = 0;
    for (const DownloadItem& item : items_)
      sum += item.size;
    return sum;
  }

  // ctest runs the rows side by side: each its own folder.
  testing::ScratchPath folder_{"sharelink_downloader_" + test_name()};
  std::unique_ptr<sim::Simulator> sim_;
  std::string share_, cookies_;
  std::vector<DownloadItem> items_;
  std::vector<std::string> links_, local_;
};

struct FaultRow {
  const char* name;
  sim::ContentKnobs content;
  int connections;
  std::string user_agent;                     // "" the link's own
  bool renew_with_same = false;               // the renewal hands the expired link back
  const char* blocked_folder = nullptr;       // a file where this folder should be
  DownloadFault fault = DownloadFault::none;  // of the files failing_prefix names
  std::string failing_prefix;
  long status = 0;
  std::optional<DownloadNotice> notice;  // told for some file that landed
};

void PrintTo(const FaultRow& row, std::ostream* out) {
  *out << row.name;
}

sim::ContentKnobs knobs(void (*shape)(sim::ContentKnobs&)) {
  sim::ContentKnobs content;
  shape(content);
  return content;
}

class DownloaderFaults : public DownloaderTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(DownloaderFaults, EachFaultItsOwnHandlingNothingLost) {
  const FaultRow& row = GetParam();
  start(row.content);
  const bool expiring = row.content.link_lifetime_seconds == 0 && !row.renew_with_same;
  DownloadSettings settings = this->settings(row.connections);
  if (!row.user_agent.empty()) settings.user_agent = row.user_agent;
  if (row.blocked_folder) {
    ASSERT_FALSE(make_folders(folder_.path()));
    std::ofstream(folder_.path() + "/" + row.blocked_folder) << "mine";
  }
  Recorder recorder;
  Downloader downloader(settings, recorder, [&](std::size_t index, std::string& link) {
    if (row.renew_with_same) {
      link = links_[index];
      return 0;
    }
    if (expiring) {
      sim::Knobs restored = sim_->knobs();
      restored.content.link_lifetime_seconds = 3600;
      sim_->set_knobs(restored);
    }
    return renew(index, link);
  });
  ASSERT_TRUE(downloader.prepare(items_).ok);
  const DownloadSummary summary = download(downloader);
  EXPECT_FALSE(summary.stopped);
  bool noticed = !row.notice;
  for (std::size_t index = 0; index < items_.size(); ++index) {
    SCOPED_TRACE(local_[index]);
    const bool fails = row.fault != DownloadFault::none &&
                       local_[index].compare(0, row.failing_prefix.size(), row.failing_prefix) == 0;
    if (fails) {
      ASSERT_EQ(recorder.failed.count(index), 1u);
      EXPECT_EQ(recorder.failed[index].fault, row.fault);
      EXPECT_EQ(recorder.failed[index].http_status, row.status);
      EXPECT_FALSE(std::ifstream(path(index)).good());
      if (row.fault == DownloadFault::size_mismatch) {
        EXPECT_EQ(recorder.failed[index].served_size, items_[index].size - row.content.short_by);
        EXPECT_TRUE(std::ifstream(path(index, ".part")).good());
      }
      if (row.fault == DownloadFault::disk) {
        EXPECT_NE(recorder.failed[index].disk.path, "");
      }
      continue;
    }
    EXPECT_EQ(recorder.done[index], 1);
    EXPECT_EQ(recorder.failed.count(index), 0u);
    EXPECT_TRUE(read_all(path(index)) == content(index));
    EXPECT_FALSE(std::ifstream(path(index, ".part")).good());
    noticed = noticed || recorder.noticed(index, *row.notice);
  }
  EXPECT_TRUE(noticed);
  EXPECT_EQ(summary.files_done + summary.files_failed, 4);
}

constexpr auto kNone = DownloadFault::none;
const std::optional<DownloadNotice> kQuiet;

// name, content knobs, connections, User-Agent, renewal hands the same link,
// blocked folder, fault, of the files below, status, notice.
const FaultRow kFaultRows[] = {
    {"Plain", {}, 4, "", false, nullptr, kNone, "", 0, kQuiet},
    {"DroppedConnections", knobs([](auto& k) { k.drop_after = 150000; }), 4, "", false, nullptr,
     kNone, "", 0, DownloadNotice::retrying},
    {"ConnectionCapPerFile", knobs([](auto& k) {
       k.connections_per_file = 2;
       k.rate = 2 << 20;
     }),
     6, "", false, nullptr, kNone, "", 0, DownloadNotice::fewer_connections},
    {"RangeIgnored", knobs([](auto& k) { k.ignore_range = true; }), 4, "", false, nullptr, kNone,
     "", 0, DownloadNotice::one_connection},
    {"ExpiredLinkRenewed", knobs([](auto& k) { k.link_lifetime_seconds = 0; }), 4, "", false,
     nullptr, kNone, "", 0, DownloadNotice::link_renewed},
    {"RenewedLinkRefusedAgain", knobs([](auto& k) { k.link_lifetime_seconds = 0; }), 4, "", true,
     nullptr, DownloadFault::refused, "", 403, kQuiet},
    {"WrongUserAgentNeverLoops",
     {},
     4,
     "Other/1.0",
     false,
     nullptr,
     DownloadFault::refused,
     "",
     403,
     kQuiet},
    {"FilesShorterThanListed", knobs([](auto& k) { k.short_by = 1000; }), 4, "", false, nullptr,
     DownloadFault::size_mismatch, "", 206, kQuiet},
    {"FolderBlockedByAFile", {}, 4, "", false, "sub", DownloadFault::disk, "sub/", 0, kQuiet},
};

INSTANTIATE_TEST_SUITE_P(Rows, DownloaderFaults, ::testing::ValuesIn(kFaultRows),
                         [](const auto& info) { return std::string(info.param.name); });

std::uint64_t recorded_bytes(const std::string& folder) {
  std::string problem;
  std::uint64_t sum = 0;
  for (const FileRecord& file : read_manifest(folder, problem).files) {
    if (file.finished) sum += file.size;
    for (const PieceRecord& piece : file.pieces)
      sum += piece.done;
  }
  return sum;
}

TEST_F(DownloaderTest, StoppedRunResumesWithTheMissingBytesOnlyThenSkipsAll) {
  start(knobs([](auto& k) { k.rate = 400 << 10; }));
  Recorder first;
  Downloader stopped(settings(3), first, nullptr);
  ASSERT_TRUE(stopped.prepare(items_).ok);
  DownloadSummary summary;
  std::thread runner([&] { summary = stopped.run(); });
  for (std::size_t index = 0; index < links_.size(); ++index)
    stopped.add_link(index, links_[index]);
  ASSERT_TRUE(first.wait_for_bytes(500000));
  stopped.stop();
  runner.join();
  EXPECT_TRUE(summary.stopped);
  const std::uint64_t kept = recorded_bytes(folder_.path());
  ASSERT_GE(kept, 500000u);
  ASSERT_LT(kept, total());

  sim_->set_knobs(sim::Knobs{});
  for (const std::uint64_t expected_missing : {total() - kept, std::uint64_t{0}}) {
    Recorder again;
    Downloader resumed(settings(1), again, nullptr);
    const DownloadCheck check = resumed.prepare(items_);
    ASSERT_TRUE(check.ok);
    EXPECT_EQ(check.needed, expected_missing);
    const std::uint64_t served = sim_->content_bytes_served();
    const DownloadSummary end = download(resumed);
    EXPECT_EQ(end.files_done, 4);
    EXPECT_EQ(sim_->content_bytes_served() - served, expected_missing);
    for (std::size_t index = 0; index < items_.size(); ++index) {
      EXPECT_TRUE(read_all(path(index)) == content(index)) << local_[index];
      if (expected_missing == 0) {
        EXPECT_TRUE(again.noticed(index, DownloadNotice::skipped));
      }
    }
  }
}

TEST_F(DownloaderTest, AfterAKillTheRecordedBytesStayAndTheUsersFileIsNeverTouched) {
  start();
  ASSERT_FALSE(make_folders(folder_.path()));
  // What a run killed after its last record write leaves: a piece half done,
  // a piece not begun, bytes no piece covers yet.
  Manifest record;
  record.files.push_back({items_[0].id,
                          share_,
                          items_[0].size,
                          local_[0],
                          false,
                          {{0, 262144, 200000}, {262144, 262144, 0}}});
  ASSERT_FALSE(write_manifest(folder_.path(), record));
  std::ofstream(path(0, ".part"), std::ios::binary) << content(0).substr(0, 230000);
  const std::size_t d = index_of("d.bin");
  std::ofstream(path(d)) << "the user's own";
  Recorder recorder;
  Downloader downloader(settings(1), recorder, nullptr);
  ASSERT_TRUE(downloader.prepare(items_).ok);
  const DownloadSummary summary = download(downloader);
  EXPECT_EQ(summary.files_done, 4);
  EXPECT_EQ(sim_->content_bytes_served(), total() - 200000);
  EXPECT_TRUE(recorder.noticed(0, DownloadNotice::resumed));
  EXPECT_TRUE(recorder.noticed(d, DownloadNotice::renamed));
  EXPECT_TRUE(read_all(path(0)) == content(0));
  EXPECT_TRUE(read_all(path(d)) == "the user's own");
  EXPECT_TRUE(read_all(folder_.path() + "/d (1).bin") == content(d));
}

TEST_F(DownloaderTest, FileWithoutALinkFailsAndTheOthersLand) {
  start();
  Recorder recorder;
  Downloader downloader(settings(4), recorder, nullptr);
  ASSERT_TRUE(downloader.prepare(items_).ok);
  const DownloadSummary summary = download(downloader, 1);
  EXPECT_EQ(summary.files_done, 3);
  ASSERT_EQ(recorder.failed.count(1), 1u);
  EXPECT_EQ(recorder.failed[1].fault, DownloadFault::no_link);
}

TEST_F(DownloaderTest, NothingStartsWhenTheFilesDoNotFit) {
  start();
  items_[0].size = std::uint64_t{1} << 60;
  Recorder recorder;
  Downloader downloader(settings(4), recorder, nullptr);
  const DownloadCheck check = downloader.prepare(items_);
  EXPECT_FALSE(check.ok);
  EXPECT_GE(check.needed, std::uint64_t{1} << 60);
  EXPECT_LT(check.free, check.needed);
  EXPECT_EQ(download(downloader).files_done, 0);
  EXPECT_EQ(sim_->content_connections_seen(), 0u);
}

}  // namespace
}  // namespace sharelink

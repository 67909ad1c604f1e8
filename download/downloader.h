#pragma once

// Downloads the files of a resolved share into a folder: every file in pieces
// over at most N connections, to "<name>.part" and then its final name, with a
// record that lets a later run resume where this one stopped. Links may arrive
// while files are already downloading; a link that expires is renewed through
// the caller. Toolkit-free; the same on every platform.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/disk_file.h"
#include "http/http_request.h"

namespace sharelink {

// One file to fetch, as the share lists it.
struct DownloadItem {
  std::string id;  // fs_id
  // The folders below the share's top and the file's name last, local text.
  std::vector<std::string> path;
  std::uint64_t size = 0;
};

struct DownloadSettings {
  std::string folder;   // DIR, UTF-8
  int connections = 8;  // 1 to 16, over all files together
  std::string share;    // the share link, as the record names it
  // Sent with every file request: the links are bound to the User-Agent they
  // were requested with.
  std::string user_agent;
  // The cookies of the link's origin (the service), sent to that origin only.
  std::string cookies;
  int stall_seconds = 30;  // no byte for this long: the try failed
  // Waits before the tries after a failure that made no progress; the last
  // one repeats. After max_tries tries in a row without a byte the file fails.
  std::vector<int> retry_delays_ms{1000, 3000, 9000, 27000};
  int max_tries = 5;
  std::uint64_t largest_piece = std::uint64_t{4} << 20;
  std::uint64_t smallest_piece = std::uint64_t{256} << 10;
  // The record is written at least this often while bytes arrive.
  int record_interval_ms = 1000;
};

// Why a file failed.
enum class DownloadFault {
  none,
  http,           // the server's answer or the connection: see http_*
  size_mismatch,  // the server's total is not the listed size
  disk,           // writing: see disk
  no_link,        // no link came for it (the resolve failed first)
  renew,          // asking for a new link failed: see service_code
  refused,        // a new link was refused again before a byte came: see http_*
};

struct FileFailure {
  DownloadFault fault = DownloadFault::none;
  long http_status = 0;  // the last answer's status, 0 when none came
  int http_failure = 0;  // 700-714, 0 for none
  HttpCause http_cause = HttpCause::none;
  std::string reason;             // the HTTP library's or the system's words
  std::string url;                // the address of that answer (the link or its content host)
  std::uint64_t served_size = 0;  // size_mismatch: what the server says the file holds
  DiskError disk;
  int service_code = 0;  // renew: the code the renewal ended with
};

// Things the log says about a file on the way.
enum class DownloadNotice {
  renamed,            // a file not the download's was in the way: local_path is the new name
  resumed,            // bytes from an earlier run were kept
  skipped,            // finished on an earlier run: nothing fetched
  link_renewed,       // its link had expired and a new one came
  fewer_connections,  // the server refused more connections to it
  one_connection,     // the server ignores ranges: fetched whole on one connection
  retrying,           // a try failed and the next follows after a wait
};

struct DownloadProgress {
  std::uint64_t bytes_done = 0;   // of the files not failed, on disk (earlier runs' included)
  std::uint64_t bytes_total = 0;  // sizes of all files
  double bytes_per_second = 0;    // a moving average over the last seconds
  double seconds_left = -1;       // -1 when there is no speed to tell
  int files_done = 0;
  int files_failed = 0;
  int files_total = 0;
  // The files with a transfer under way, in list order: their bytes on disk.
  struct FileBytes {
    std::size_t index = 0;
    std::uint64_t bytes_done = 0;
  };
  std::vector<FileBytes> under_way;
};

// Told what happens, from the downloader's threads, one call at a time. The
// paths are the local ones below the folder, "/"-separated, in local text.
class DownloadObserver {
 public:
  virtual ~DownloadObserver() = default;
  virtual void file_done(std::size_t index, const std::string& local_path) = 0;
  virtual void file_failed(std::size_t index, const std::string& local_path,
                           const FileFailure& failure) = 0;
  virtual void notice(std::size_t index, const std::string& local_path, DownloadNotice notice) = 0;
  // At most about ten times a second, and once at the end.
  virtual void progress(const DownloadProgress& progress) = 0;
};

// Asks the share again for the link of items[index] after its link expired:
// 0 and the new link, or the code the request ended with. Called from one of
// the downloader's threads, one call at a time.
using RenewLink = std::function<int(std::size_t index, std::string& link)>;

// prepare's verdict.
struct DownloadCheck {
  bool ok = true;
  std::uint64_t needed = 0;    // bytes still to fetch
  std::uint64_t free = 0;      // free on the folder's file system
  DiskError disk;              // the folder or its record could not be used
  std::string record_problem;  // the record found was unusable and is started afresh
};

struct DownloadSummary {
  int files_done = 0;  // skipped ones included
  int files_failed = 0;
  std::uint64_t bytes = 0;  // fetched by this run
  double seconds = 0;
  bool stopped = false;
};

class Downloader {
 public:
  Downloader(DownloadSettings settings, DownloadObserver& observer, RenewLink renew);
  // Stops, writes the record and waits for its threads.
  ~Downloader();
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // The files, in list order, before any link: makes the folder, reads its
  // record, gives every file its local name, and compares what is left to
  // fetch with the free space. Nothing is fetched when it is not ok.
  DownloadCheck prepare(std::vector<DownloadItem> items);
  // Any thread, any order: items[index] has this link.
  void add_link(std::size_t index, std::string link);
  // Any thread: no more links will come; files still without one fail.
  void links_done();
  // Runs until every file is finished or failed, or stop() ends it; the
  // record is written before it returns. Once per Downloader.
  DownloadSummary run();
  // Any thread: ends the transfers at once; partial files stay for a resume.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sharelink

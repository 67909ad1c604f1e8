// What a download finds before it starts: the folder, its record from an
// earlier run, a local name for every file, and the room on the disk.

#include <algorithm>

#include "download/download_engine.h"
#include "download/local_names.h"
#include "text/text_encoding.h"

namespace sharelink {
namespace {

std::vector<std::string> utf8_path(const std::vector<std::string>& local_path) {
  std::vector<std::string> out;
  out.reserve(local_path.size());
  for (const std::string& name : local_path)
    out.push_back(gbk_to_utf8(name));
  return out;
}

// The record's entry of the item, when one of this share lists it.
std::optional<std::size_t> find_record(const Manifest& old, std::vector<bool>& used,
                                       const DownloadItem& item, const std::string& share) {
  for (std::size_t j = 0; j < old.files.size(); ++j) {
    if (!used[j] && old.files[j].id == item.id && old.files[j].share == share) {
      used[j] = true;
      return j;
    }
  }
  return std::nullopt;
}

}  // namespace

Downloader::Impl::Impl(DownloadSettings settings, DownloadObserver& observer, RenewLink renew)
    : settings_(std::move(settings)), observer_(observer), renew_(std::move(renew)) {
  connections_ = std::clamp(settings_.connections, 1, 16);
}

std::string Downloader::Impl::final_path(const FileJob& file) const {
  return join_path(settings_.folder, file.local);
}

std::string Downloader::Impl::part_path(const FileJob& file) const {
  return final_path(file) + ".part";
}

DownloadCheck Downloader::Impl::prepare(std::vector<DownloadItem> items) {
  DownloadCheck check;
  check.disk = make_folders(settings_.folder);
  if (check.disk) {
    check.ok = false;
    return check;
  }
  const Manifest old = read_manifest(settings_.folder, check.record_problem);
  LocalNames names(native_name_rules());
  for (const FileRecord& record : old.files)
    names.reserve(record.local_name);
  std::vector<bool> used(old.files.size(), false);
  bool in_the_way = false;
  const auto occupied = [&](const std::string& relative) {
    const std::string path = join_path(settings_.folder, relative);
    const bool taken = path_exists(path) || path_exists(path + ".part");
    in_the_way = in_the_way || taken;
    return taken;
  };
  files_.clear();
  files_.reserve(items.size());
  for (DownloadItem& item : items) {
    FileJob file;
    file.cap = connections_;
    file.item = std::move(item);
    const std::optional<std::size_t> j = find_record(old, used, file.item, settings_.share);
    if (j) {
      const FileRecord& record = old.files[*j];
      file.local = record.local_name;
      const std::optional<std::uint64_t> on_disk = file_size(final_path(file));
      if (record.finished && record.size == file.item.size && on_disk == file.item.size) {
        file.state = FileJob::State::done;
        file.notices.push_back(DownloadNotice::skipped);
      } else if (path_exists(final_path(file))) {
        // Something took the finished name since: it is the user's now.
        file.local.clear();
      } else if (!record.finished && record.size == file.item.size) {
        const std::optional<std::uint64_t> part = file_size(part_path(file));
        if (part) {
          file.plan = std::make_unique<FilePlan>(file.item.size, record.pieces, *part);
          file.fresh = file.plan->done() == 0;
          if (!file.fresh) file.notices.push_back(DownloadNotice::resumed);
        }
      }
    }
    if (file.local.empty()) {
      in_the_way = false;
      file.local = names.assign(utf8_path(file.item.path), occupied);
      if (in_the_way) file.notices.push_back(DownloadNotice::renamed);
    }
    if (!file.plan) file.plan = std::make_unique<FilePlan>(file.item.size);
    file.shown = utf8_to_gbk(file.local);
    if (file.state != FileJob::State::done) check.needed += file.item.size - file.plan->done();
    files_.push_back(std::move(file));
  }
  for (std::size_t j = 0; j < old.files.size(); ++j) {
    if (!used[j]) others_.push_back(old.files[j]);
  }
  const std::optional<std::uint64_t> free = free_space(settings_.folder, check.disk);
  check.free = free.value_or(0);
  check.ok = free.has_value() && !check.disk && check.needed <= check.free;
  prepared_ = check.ok;
  return check;
}

Manifest Downloader::Impl::record() const {
  Manifest manifest;
  manifest.files = others_;
  for (const FileJob& file : files_) {
    FileRecord record;
    record.id = file.item.id;
    record.share = settings_.share;
    record.size = file.item.size;
    record.local_name = file.local;
    record.finished = file.state == FileJob::State::done;
    if (!record.finished) record.pieces = file.plan->records();
    manifest.files.push_back(std::move(record));
  }
  return manifest;
}

void Downloader::Impl::write_record() {
  // A record that cannot be written costs only the resume; the files go on.
  write_manifest(settings_.folder, record());
  last_record_ = Clock::now();
  recorded_fetched_ = fetched_.load(std::memory_order_relaxed);
  record_dirty_ = false;
}

}  // namespace sharelink

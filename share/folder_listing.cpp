#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "http/http_request.h"
#include "script/json_document.h"
#include "share/request_params.h"
#include "share/result_codes.h"
#include "share/service_replies.h"
#include "share/share_client.h"

namespace sharelink {

// Listing pages fetched by helper threads ahead of the walk, which takes them
// in its own order: the list comes out as one request at a time makes it,
// with up to the walk and its helpers' requests in flight. A page the walk
// needs before a helper started it, it fetches itself.
class ShareClient::ListAhead {
 public:
  // budget: listing requests the walk may send in all; helpers stay within
  // what is left of it.
  ListAhead(ShareClient& client, const Listing& listing, int helpers, int budget)
      : client_(client), uk_(listing.uk), shareid_(listing.shareid), budget_(budget) {
    try {
      for (int i = 0; i < helpers; ++i)
        threads_.emplace_back([this] { help(); });
    } catch (const std::system_error&) {
      // Fewer helpers: the walk fetches what they do not.
    }
  }
  ~ListAhead() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_)
      thread.join();
  }
  ListAhead(const ListAhead&) = delete;
  ListAhead& operator=(const ListAhead&) = delete;

  // The walk will want this page.
  void want(const std::string& dir, int page) {
    if (threads_.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!items_.emplace(Key{dir, page}, Item{}).second) return;
    queue_.push_back(Key{dir, page});
    changed_.notify_all();
  }

  // The page's reply, with the lines of its retries.
  HttpResponse take(const std::string& dir, int page, std::vector<std::string>& notices) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto found = items_.find(Key{dir, page});
    if (found == items_.end() || found->second.state == State::queued) {
      if (found != items_.end()) forget(found);
      ++sent_;
      lock.unlock();
      return client_.fetch_list_page(uk_, shareid_, dir, page, [&notices](const std::string& line) {
        notices.push_back(line);
      });
    }
    changed_.wait(lock, [&] { return found->second.state == State::done; });
    HttpResponse response = std::move(found->second.response);
    notices = std::move(found->second.notices);
    forget(found);
    changed_.notify_all();
    return response;
  }

 private:
  using Key = std::pair<std::string, int>;
  enum class State { queued, running, done };
  struct Item {
    State state = State::queued;
    HttpResponse response;
    std::vector<std::string> notices;
  };
  // Pages fetched and not yet taken, at most: the walk may be far behind.
  static constexpr std::size_t kMostWaiting = 64;

  void forget(std::map<Key, Item>::iterator item) {
    if (item->second.state == State::done) --waiting_;
    if (item->second.state == State::queued) {
      for (auto at = queue_.begin(); at != queue_.end(); ++at) {
        if (*at == item->first) {
          queue_.erase(at);
          break;
        }
      }
    }
    items_.erase(item);
  }

  void help() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] {
        return closing_ || (!queue_.empty() && waiting_ + running_ < kMostWaiting);
      });
      if (closing_ || client_.stopped() || sent_ >= budget_) return;
      ++sent_;
      const Key key = queue_.front();
      queue_.pop_front();
      items_[key].state = State::running;
      ++running_;
      lock.unlock();
      std::vector<std::string> notices;
      HttpResponse response =
          client_.fetch_list_page(uk_, shareid_, key.first, key.second,
                                  [&notices](const std::string& line) { notices.push_back(line); });
      lock.lock();
      --running_;
      Item& item = items_[key];
      item.state = State::done;
      item.response = std::move(response);
      item.notices = std::move(notices);
      ++waiting_;
      changed_.notify_all();
    }
  }

  ShareClient& client_;
  const std::string uk_;
  const std::string shareid_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Key> queue_;
  std::map<Key, Item> items_;
  std::size_t waiting_ = 0;
  std::size_t running_ = 0;
  int sent_ = 0;
  const int budget_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

int ShareClient::list_top_folders(const std::string& uk, const std::string& shareid,
                                  FileList& files, std::size_t top_count) {
  Listing listing{uk, shareid, files, {}};
  // The walk's own request is one of those in flight.
  std::unique_ptr<ListAhead> ahead;
  if (parallel_now_ > 1) {
    ahead = std::make_unique<ListAhead>(*this, listing, parallel_now_ - 1, limits_.max_list_pages);
    listing.ahead = ahead.get();
    for (std::size_t i = 0; i < top_count; ++i) {
      if (files[i].isdir == "1") ahead->want(files[i].path, 1);
    }
  }
  for (std::size_t i = 0; i < top_count; ++i) {
    if (files[i].isdir != "1") continue;
    // A copy: listing appends to files.
    const std::string dir = files[i].path;
    const int code = list_folder_into(listing, dir, 1);
    if (code != 0) return code;
  }
  return 0;
}

int ShareClient::list_folder(const std::string& uk, const std::string& shareid,
                             const std::string& dir, FileList& files) {
  Listing listing{uk, shareid, files, {}};
  return list_folder_into(listing, dir, 1);
}

int ShareClient::list_folder_into(Listing& listing, const std::string& dir, int depth) {
  // A folder named again inside itself (or twice in one share) is listed once.
  if (!listing.listed.insert(dir).second) return 0;
  if (depth > limits_.max_folder_depth) return kFolderTooDeep;
  std::set<std::string> ids;  // of the entries this folder listed
  for (int page = 1;; ++page) {
    if (listing.pages >= limits_.max_list_pages) return kTooManyEntries;
    ++listing.pages;
    FileList found;
    bool full = false;
    const int code = read_list_page(listing, dir, page, found, ids, full);
    if (code != 0 && !ran_out_of_room(code)) return code;
    // A page with nothing new ends the folder: a service that ignores the page
    // number answers the same entries again and again.
    const bool ends = code == 0 && (!full || found.empty());
    // Entries of this page wait while the sub-folders before them are listed;
    // the limit counts them.
    listing.pending += found.size();
    if (listing.ahead != nullptr) {
      for (const FileEntry& entry : found) {
        if (entry.isdir == "1" && listing.listed.count(entry.path) == 0) {
          listing.ahead->want(entry.path, 1);
        }
      }
      if (ends == false && code == 0) listing.ahead->want(dir, page + 1);
    }
    for (FileEntry& entry : found) {
      --listing.pending;
      count_entry(entry);
      const bool folder = entry.isdir == "1";
      const std::string path = folder ? entry.path : std::string();
      listing.files.push_back(std::move(entry));
      if (folder) {
        const int sub = list_folder_into(listing, path, depth + 1);
        if (sub != 0) return sub;
      }
    }
    if (code != 0) return code;
    if (ends) {
      ++progress_.folders_listed;
      report_progress();
      return 0;
    }
    report_progress();
  }
}

int ShareClient::read_list_page(Listing& listing, const std::string& dir, int page, FileList& found,
                                std::set<std::string>& ids, bool& full) {
  std::vector<std::string> notices;
  const HttpResponse response =
      listing.ahead != nullptr
          ? listing.ahead->take(dir, page, notices)
          : fetch_list_page(listing.uk, listing.shareid, dir, page,
                            [&notices](const std::string& line) { notices.push_back(line); });
  for (const std::string& line : notices)
    notify_here(line);
  JsonDocument reply;
  const int code = reply_code(response, reply);
  if (code != 0) return code;
  full = reply.count("list") >= kListPageSize;
  return read_entries(reply, "list", false, listing.files.size() + listing.pending, ids, found);
}

HttpResponse ShareClient::fetch_list_page(const std::string& uk, const std::string& shareid,
                                          const std::string& dir, int page, const Notify& notify) {
  HttpRequest request;
  request.url =
      origin_ + "/share/list?uk=" + percent_encode(uk) + "&shareid=" + percent_encode(shareid) +
      "&order=server_filename&desc=1&showempty=0&web=1&page=" + std::to_string(page) +
      "&num=" + std::to_string(kListPageSize) + "&dir=" + percent_encode(dir) + "&t=0." +
      random_digits(16) + "&bdstoken=null&channel=chunlei&clienttype=0&web=1&app_id=" + kWebAppId +
      "&logid=" + make_logid();
  return send_retrying(request, true, notify);
}

}  // namespace sharelink

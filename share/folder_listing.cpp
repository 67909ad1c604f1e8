#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "http/http_request.h"
#include "script/json_document.h"
#include "share/request_params.h"
#include "share/result_codes.h"
#include "share/service_replies.h"
#include "share/share_client.h"
#include "share/work_pool.h"

namespace sharelink {

// A listing page as the walk reads it.
struct ShareClient::ListedPage {
  int code = 0;  // the reply's, or how its request or reading failed
  bool full = false;
  bool fetched = true;  // false: left for the walk to fetch
  // Read ahead: its entries, or the reply when that is smaller.
  bool read = false;
  ListItems items;
  std::string text;
  // Read by the walk itself.
  JsonDocument reply;
  std::vector<std::string> notices;  // of its retries
  std::size_t reply_bytes = 0;       // of the reply's text

  std::size_t bytes() const {
    std::size_t total = items.bytes + text.size();
    for (const std::string& line : notices)
      total += line.size();
    return total;
  }
};

// Listing pages fetched by helper threads ahead of the walk, which takes them
// in its own order: the list comes out as one request at a time makes it,
// with up to the walk and its helpers' requests in flight. A page the walk
// needs before a helper started it, it fetches itself. When the walk ends,
// for good or not, the pages nobody will take are abandoned at once.
class ShareClient::ListAhead {
 public:
  // budget: listing requests the walk may send in all; helpers stay within
  // what is left of it.
  ListAhead(ShareClient& client, const Listing& listing, int helpers, int budget)
      : client_(client),
        uk_(listing.uk),
        shareid_(listing.shareid),
        budget_(budget),
        pool_(helpers, kWaitingBytes),
        watch_(client, pool_) {}
  ~ListAhead() { pool_.cancel(); }
  ListAhead(const ListAhead&) = delete;
  ListAhead& operator=(const ListAhead&) = delete;

  // The walk will want this page.
  void want(const std::string& dir, int page) {
    if (pool_.threads() == 0) return;
    const auto slot = slots_.emplace(Key{dir, page}, Slot{next_id_, nullptr});
    if (!slot.second) return;
    auto listed = std::make_shared<ListedPage>();
    slot.first->second.page = listed;
    pool_.submit(next_id_++, [this, dir, page, listed](const WorkScope& scope) {
      if (sent_.fetch_add(1) >= budget_) {
        listed->fetched = false;
        return std::size_t{0};
      }
      *listed = client_.list_page(uk_, shareid_, dir, page, &scope);
      // A reply comes as its bytes and its text, and is read into a third.
      pool_.expect(3 * listed->reply_bytes);
      return listed->bytes();
    });
  }

  // The page, fetched by a helper or, when none did, here.
  ListedPage take(const std::string& dir, int page) {
    ListedPage listed;
    listed.fetched = false;
    const auto slot = slots_.find(Key{dir, page});
    if (slot == slots_.end()) return listed;
    const WorkEnd end = pool_.take(slot->second.id);
    if (end == WorkEnd::done) listed = std::move(*slot->second.page);
    if (end != WorkEnd::done) listed.code = work_code(end, 0);
    slots_.erase(slot);
    return listed;
  }

 private:
  using Key = std::pair<std::string, int>;
  struct Slot {
    std::size_t id;
    std::shared_ptr<ListedPage> page;  // written by the work
  };

  ShareClient& client_;
  const std::string uk_;
  const std::string shareid_;
  const int budget_;
  std::atomic<int> sent_{0};
  std::map<Key, Slot> slots_;  // the walk's alone
  std::size_t next_id_ = 0;
  WorkPool pool_;
  PoolWatch watch_;
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
  ListedPage listed;
  listed.fetched = false;
  if (listing.ahead != nullptr) listed = listing.ahead->take(dir, page);
  if (!listed.fetched) listed = list_page(listing.uk, listing.shareid, dir, page, nullptr);
  for (const std::string& line : listed.notices)
    notify_here(line);
  if (listed.code != 0) return listed.code;
  full = listed.full;
  const std::size_t used = listing.files.size() + listing.pending;
  if (listed.read) return take_entries(listed.items, used, ids, found);
  // Read ahead, but its entries would have taken more than the reply: the
  // walk reads the reply, which read well before.
  if (!listed.text.empty() && !listed.reply.parse(listed.text)) return kJsonParseFailed;
  listed.text.clear();
  return read_entries(listed.reply, "list", false, used, ids, found);
}

ShareClient::ListedPage ShareClient::list_page(const std::string& uk, const std::string& shareid,
                                               const std::string& dir, int page,
                                               const WorkScope* scope) {
  HttpRequest request;
  request.url =
      origin_ + "/share/list?uk=" + percent_encode(uk) + "&shareid=" + percent_encode(shareid) +
      "&order=server_filename&desc=1&showempty=0&web=1&page=" + std::to_string(page) +
      "&num=" + std::to_string(kListPageSize) + "&dir=" + percent_encode(dir) + "&t=0." +
      random_digits(16) + "&bdstoken=null&channel=chunlei&clienttype=0&web=1&app_id=" + kWebAppId +
      "&logid=" + make_logid();
  ListedPage listed;
  HttpResponse response = send_retrying(
      request, true, [&listed](const std::string& line) { listed.notices.push_back(line); }, scope);
  listed.reply_bytes = response.text.size();
  response.body.clear();
  response.body.shrink_to_fit();
  listed.code = reply_code(response, listed.reply);
  if (listed.code != 0) return listed;
  listed.full = listed.reply.count("list") >= kListPageSize;
  if (scope == nullptr) return listed;
  // Kept until the walk comes to it: the smaller of what it needs.
  listed.read = read_items(listed.reply, "list", false, response.text.size(), listed.items) == 0;
  if (!listed.read) {
    listed.items = ListItems();
    listed.text = std::move(response.text);
  }
  listed.reply.clear();
  return listed;
}

}  // namespace sharelink

#pragma once

// The client of the cloud-disk service's share pages: turns a share link into a
// list of entries with direct download links. Requests go to the origin (scheme,
// host, port) of the share link as typed.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "http/cookies.h"
#include "http/http_request.h"
#include "share/file_entry.h"
#include "share/service_replies.h"
#include "text/local_text.h"

namespace sharelink {

class HttpCancel;
class HttpConnectionPool;
class JsonDocument;
class WorkPool;
class WorkScope;
enum class WorkEnd;
struct HttpRequest;
struct HttpResponse;

// How far a resolve has come, for a progress display.
struct ResolveProgress {
  int folders_listed = 0;   // folders whose listing is complete
  int entries_found = 0;    // entries in the list, folders included
  int files_found = 0;      // of them files, the entries that get a link
  int links_obtained = 0;   // files whose link request is done
  int entries_skipped = 0;  // list items that describe no usable entry, left out
};

// How far one resolve follows the service: a service that keeps naming
// entries, pages or sub-folders ends the resolve (kTooManyEntries,
// kFolderTooDeep) instead of running it out of memory or time. The entries
// found until then stay listed.
struct ResolveLimits {
  std::size_t max_entries = 1000000;  // entries of one share, folders included
  int max_list_pages = 100000;        // folder-listing requests of one resolve
  int max_folder_depth = 512;         // levels of folders below the share's top
  // Bytes the list keeps, its entries' texts and links: past it kListTooLarge.
  std::size_t max_list_bytes = std::size_t{256} << 20;
  // Link requests and folder listings in flight at once, 1 to 16. A captcha
  // demand halves it for the rest of the job.
  int parallel = 4;
  // A request that failed in a way a new try may mend (no connection, a
  // reset, no answer in time, a 5xx) is sent again after each of these.
  std::array<int, 2> retry_delays_ms{1000, 3000};
};

// The request that ended a resolve, for telling the user why it failed.
struct RequestFailure {
  std::string method;  // "GET" or "POST"
  std::string url;     // the address as sent, without its query (it may hold a password)
  int failure = 0;     // HttpResponse::failure; 0 when the service answered with an error status
  HttpCause cause = HttpCause::none;
  std::string reason;       // HttpResponse::reason
  std::string status_text;  // the status ("503 Service Unavailable") when one came
};

class ShareClient {
 public:
  // Called on the resolving thread as the list grows and links arrive; it must
  // be quick, it runs between requests.
  using ProgressObserver = std::function<void(const ResolveProgress&)>;
  // Called on the resolving thread once the share's whole list is built and
  // before any link is requested; it may drop entries from the list. 0 goes
  // on with the list as it leaves it; any other code ends the resolve with it,
  // the list kept.
  using ListChooser = std::function<int(FileList&)>;
  // Called on the resolving thread with a line for the log: a request that
  // failed is about to be sent again.
  using NoticeObserver = std::function<void(const std::string&)>;
  // Called on the resolving thread once a resolve that built the list has it
  // final (after the chooser) and before any link is requested: a download
  // can plan every file while the links are still coming.
  using ListObserver = std::function<void(const FileList&)>;
  // Called on the resolving thread as each link is kept: the file's position
  // in the list. A download starts on it at once.
  using LinkObserver = std::function<void(std::size_t index, const FileEntry&)>;

  // The app id the web client identifies itself with.
  static constexpr const char* kWebAppId = "250528";
  // Items asked for per folder-listing page.
  static constexpr int kListPageSize = 100;

  // Fetches the share page, verifies the extraction code when the page asks for
  // one, builds files (only when it is empty) and requests a link for every file
  // from the 1-based index on that has none yet, up to ResolveLimits::parallel
  // at a time. Returns 0, or the code at which it stopped; index then names the
  // first entry that failed. Links that arrived for later entries are kept.
  // share_link may be replaced by the target of its redirect during
  // verification.
  int resolve(std::string& share_link, FileList& files, int& index,
              const std::string& extraction_code, const std::string& captcha_answer);

  // A new link for a file of the last resolve's share, in the same session
  // (its cookies and the page's values), after the one it had expired: 0 and
  // link, or the code. The page is fetched again only when the service says
  // its values have aged (errno 112); when that page asks for the extraction
  // code again, the code is verified once more and verified_again set. A
  // captcha demand comes back as its code (-20); the next call carries the
  // answer. Not while a resolve runs: the two share the session.
  int renew_link(const FileEntry& entry, const std::string& extraction_code,
                 const std::string& captcha_answer, std::string& link, bool& verified_again);

  // Unlocks a protected share: probes the link's redirect for shareid and uk
  // (share_link becomes the redirect target) and posts the code. The service's
  // errno, or -996 / -998 when no usable reply came.
  int verify_extraction_code(std::string& share_link, const std::string& extraction_code,
                             const std::string& captcha_answer);

  // Appends the contents of the folder dir (and of its sub-folders, depth first)
  // to files. Returns 0 or the code of the first listing that failed; entries
  // appended before it stay.
  int list_folder(const std::string& uk, const std::string& shareid, const std::string& dir,
                  FileList& files);

  // A new captcha for code -62 (verification) or -20 (download): the picture
  // into image and its id into vcode_str. Otherwise the code, with both
  // unchanged; -999 for other codes.
  int fetch_captcha(Bytes& image, int code);
  // The same without the client: fetches from origin and hands the id back
  // instead of keeping it. Touches no client state, so a window can run it on
  // a thread of its own and store the id (set_vcode_str) when it shows the
  // picture.
  static int fetch_captcha_from(const std::string& origin, int code, Bytes& image, std::string& id);
  void set_vcode_str(std::string id) { vcode_str_ = std::move(id); }

  void set_progress_observer(ProgressObserver observer) { observer_ = std::move(observer); }
  // Any thread: abandons the requests under way at once and makes the
  // running and every later resolve end with kStopped, until resume().
  void stop();
  void resume();
  bool stopped() const { return stopped_; }

  void set_list_chooser(ListChooser chooser) { chooser_ = std::move(chooser); }
  void set_notice_observer(NoticeObserver observer) { notices_ = std::move(observer); }
  void set_list_observer(ListObserver observer) { list_observer_ = std::move(observer); }
  void set_link_observer(LinkObserver observer) { link_observer_ = std::move(observer); }
  void set_limits(const ResolveLimits& limits) { limits_ = limits; }

  // A job's requests reuse the connections of one pool: new_connections
  // starts one (a job starts with it), drop_connections closes its connections
  // (a job ends with it). Without one the first request starts one.
  void new_connections();
  void drop_connections() { connections_.reset(); }

  // Takes over the session of other's last resolve (its cookies, the share
  // and the page's values, its limits) as a copy: renew_link then works here
  // while other goes on with new jobs. Neither may be resolving.
  void adopt_session(const ShareClient& other);

  // The cookies of the service's origin.
  std::string get_cookies() const { return cookies_.text_for(origin_); }
  bool clear_cookies() {
    cookies_.clear();
    return true;
  }
  const std::string& vcode_str() const { return vcode_str_; }

  // The last request of the running or last resolve that failed for good
  // (its retries spent), on any thread; nullopt when none did. A resolve
  // starts with none.
  std::optional<RequestFailure> last_failure() const;

  // The origin requests go to: that of the last resolve's share link.
  const std::string& service_origin() const { return origin_; }

  static std::string strip_slashes(const std::string& text, bool forward = false);
  static std::string make_logid();
  static std::string random_digits(int count = 0);
  static int read_errno(const std::string& reply);
  static std::string error_message(int code);

 private:
  struct PageData;
  struct ListedPage;
  class ListAhead;
  // While it lives, a stop of the client cancels the pool too.
  class PoolWatch {
   public:
    PoolWatch(ShareClient& client, WorkPool& pool);
    ~PoolWatch();
    PoolWatch(const PoolWatch&) = delete;
    PoolWatch& operator=(const PoolWatch&) = delete;

   private:
    ShareClient& client_;
    WorkPool& pool_;
  };
  // One walk through a share's folders.
  struct Listing {
    std::string uk;
    std::string shareid;
    FileList& files;
    std::set<std::string> listed;
    int pages = 0;               // listing requests sent
    std::size_t pending = 0;     // entries read from pages but not yet in files
    ListAhead* ahead = nullptr;  // pages fetched ahead of the walk; null: none
  };
  // Bytes of results that the listing helpers and link workers may hold
  // before the walk or the resolving thread takes them: past it they wait.
  static constexpr std::size_t kWaitingBytes = std::size_t{32} << 20;

  // Sends request, with the cookies of its address's origin and merging the
  // reply's into them when with_cookies: no origin sees another's cookies.
  // A request without a cancel token carries the client's.
  HttpResponse send(HttpRequest request, bool with_cookies);
  using Notify = std::function<void(const std::string&)>;
  // send, and again after each retry delay while the failure is one a new try
  // may mend and the client has not stopped; notify gets a line per new try.
  // With a scope (work of a pool) the requests carry its token and the delays
  // end at its cancel; a delay cut short ends the call as cancelled.
  HttpResponse send_retrying(const HttpRequest& request, bool with_cookies, const Notify& notify,
                             const WorkScope* scope = nullptr);
  // Waits, unless stop() comes first; false when it did.
  bool wait_unless_stopped(int milliseconds);
  void notify_here(const std::string& line) const;
  // Keeps a request's failure, when it is one, as last_failure.
  void note_failure(const HttpRequest& request, const HttpResponse& response);
  // The code of a piece of pool work that ended as end; code is its own.
  static int work_code(WorkEnd end, int code);

  int fetch_page(const std::string& share_link, std::string& page);
  // Reads the page's data object into page_data and, with files, the share's
  // top-level entries into files.
  int read_page_data(const std::string& data_text, PageData& page_data, FileList* files);
  // Appends the contents of the folders among the first top_count entries.
  int list_top_folders(const std::string& uk, const std::string& shareid, FileList& files,
                       std::size_t top_count);
  int list_folder_into(Listing& listing, const std::string& dir, int depth);
  // One page of a folder's listing: its usable entries whose id the folder has
  // not listed yet go to found, their ids to ids.
  int read_list_page(Listing& listing, const std::string& dir, int page, FileList& found,
                     std::set<std::string>& ids, bool& full);
  // Fetches a listing page and reads its code. Ahead of the walk (with a
  // scope) its entries are read too, and kept instead of the reply when they
  // are smaller.
  ListedPage list_page(const std::string& uk, const std::string& shareid, const std::string& dir,
                       int page, const WorkScope* scope);
  int request_links(const std::string& share_link, const PageData& page_data, FileList& files,
                    int& index, const std::string& captcha_answer);
  // One link request: 0 and the link, or the code.
  int request_link(const std::string& share_link, const PageData& page_data, const FileEntry& entry,
                   const std::string& captcha_answer, const std::string& vcode, std::string& link,
                   const Notify& notify, const WorkScope* scope = nullptr);
  // Requests the links of files[todo[from..]] up to parallel at a time, in
  // list order; no new one starts after a failure. Results land in files; the
  // first failure's position in todo goes to failed (todo.size() for none).
  int request_batch(const std::string& share_link, const PageData& page_data, FileList& files,
                    const std::vector<std::size_t>& todo, std::size_t from,
                    const std::string& captcha_answer, std::size_t& failed);
  // Takes a link into files[index]: kListTooLarge when the list has no room left.
  int keep_link(FileList& files, std::size_t index, std::string link);
  // The sekey member the link requests carry: from the BDCLND cookie, if any.
  std::string sekey_extra() const;
  // Fetches the share page (twice when it says it is missing), verifies the
  // extraction code when it asks for one (verified set) and fetches it again.
  // 0, or the code.
  int open_page(std::string& share_link, const std::string& extraction_code,
                const std::string& captcha_answer, std::string& page, bool& verified);
  // Reads a page fetched afresh for the session: the extraction code again
  // when it asks for it. 0, or the code.
  int refresh_page(std::string& share_link, const std::string& extraction_code,
                   const std::string& captcha_answer, PageData& page_data, bool& verified_again);
  std::string take_vcode_str();
  // read_list into found with the room the limits leave, used_entries being
  // in the list already; the bytes read count against the list's.
  int read_entries(const JsonDocument& reply, const std::string& path, bool on_share_page,
                   std::size_t used_entries, std::set<std::string>& ids, FileList& found);
  // The same for a list read ahead.
  int take_entries(ListItems& items, std::size_t used_entries, std::set<std::string>& ids,
                   FileList& found);
  ListRoom room_left(std::size_t used_entries) const;
  // The captcha calls, their requests carrying cancel; failures noted by
  // client when there is one.
  static int fetch_captcha_carrying(const std::string& origin, int code, Bytes& image,
                                    std::string& id, std::shared_ptr<const HttpCancel> cancel,
                                    ShareClient* client);
  // Counts the list afresh (a pass that resumes a list built earlier).
  void recount_progress(const FileList& files, int index);
  void count_entry(const FileEntry& entry);
  void report_progress() const;

  std::string vcode_str_;
  CookieJar cookies_;
  std::string origin_;
  ProgressObserver observer_;
  ListChooser chooser_;
  NoticeObserver notices_;
  ListObserver list_observer_;
  LinkObserver link_observer_;
  // The share link and page values of the last resolve, for renew_link.
  std::string session_link_;
  std::shared_ptr<PageData> session_page_;
  int parallel_now_ = 4;  // ResolveLimits::parallel, halved by captcha demands
  // Guards the cookies, which requests in flight share, and the stop.
  mutable std::mutex mutex_;
  std::condition_variable stop_changed_;
  std::atomic<bool> stopped_{false};
  // Cancels every request under way when the client stops.
  std::shared_ptr<HttpCancel> cancel_;
  std::shared_ptr<HttpConnectionPool> connections_;
  // The pools at work, which a stop cancels; under mutex_.
  std::vector<WorkPool*> pools_;
  std::optional<RequestFailure> last_failure_;  // under mutex_
  ResolveProgress progress_;
  ResolveLimits limits_;
  std::size_t list_bytes_ = 0;  // what the list keeps, by entry_bytes
};

}  // namespace sharelink

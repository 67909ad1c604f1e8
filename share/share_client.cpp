#include "share/share_client.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "http/http_request.h"
#include "script/json_document.h"
#include "share/reply_text.h"
#include "share/request_params.h"
#include "share/result_codes.h"
#include "share/service_replies.h"
#include "share/work_pool.h"

namespace sharelink {

namespace {

const std::string kFixedBlock = "&bdstoken=null&channel=chunlei&clienttype=0&web=1&app_id=";
const std::string kDataMarker = "yunData.setData(";

bool contains(const std::string& text, const std::string& part) {
  return find_local(text, part) != std::string::npos;
}

}  // namespace

// Values of the share page that every request of one resolve carries.
struct ShareClient::PageData {
  std::string sign, timestamp, bdstoken, uk, shareid;
  std::string logid;        // one per resolve
  std::string sekey_extra;  // {"sekey":"<BDCLND value>"} or ""
};

void ShareClient::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  if (cancel_) cancel_->cancel();
  for (WorkPool* pool : pools_)
    pool->cancel();
  stop_changed_.notify_all();
}

ShareClient::PoolWatch::PoolWatch(ShareClient& client, WorkPool& pool)
    : client_(client), pool_(pool) {
  std::lock_guard<std::mutex> lock(client_.mutex_);
  client_.pools_.push_back(&pool_);
  if (client_.stopped_) pool_.cancel();
}

ShareClient::PoolWatch::~PoolWatch() {
  std::lock_guard<std::mutex> lock(client_.mutex_);
  auto& pools = client_.pools_;
  pools.erase(std::remove(pools.begin(), pools.end(), &pool_), pools.end());
}

void ShareClient::resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = false;
  cancel_ = std::make_shared<HttpCancel>();
}

void ShareClient::new_connections() {
  connections_ = make_connection_pool();
}

HttpResponse ShareClient::send(HttpRequest request, bool with_cookies) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connections_) connections_ = make_connection_pool();
    request.connections = connections_;
    if (!cancel_) cancel_ = std::make_shared<HttpCancel>();
    if (!request.cancel) request.cancel = cancel_;
    if (with_cookies) request.cookies = cookies_.text_for(request.url);
  }
  HttpResponse response = http_request(request);
  if (with_cookies && response.cookies) {
    std::lock_guard<std::mutex> lock(mutex_);
    cookies_.store(request.url, *response.cookies);
  }
  return response;
}

std::string ShareClient::take_vcode_str() {
  std::string id;
  id.swap(vcode_str_);
  return id;
}

int ShareClient::fetch_page(const std::string& share_link, std::string& page) {
  HttpRequest request;
  request.url = share_link;
  HttpResponse response =
      send_retrying(request, true, [this](const std::string& line) { notify_here(line); });
  if (response.failure != 0) return failure_code(response);
  page = std::move(response.text);
  return 0;
}

int ShareClient::resolve(std::string& share_link, FileList& files, int& index,
                         const std::string& extraction_code, const std::string& captcha_answer) {
  origin_ = origin_of(share_link);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last_failure_.reset();
  }
  // Codes are kStopped only where the stop ended the work: an error that
  // came first stays the resolve's, however soon a stop follows it.
  std::string page;
  bool verified = false;
  int code = open_page(share_link, extraction_code, captcha_answer, page, verified);
  if (code != 0) return code;

  PageData page_data;
  page_data.sekey_extra = sekey_extra();

  const bool build = files.empty();
  if (build) {
    progress_ = {};
    list_bytes_ = 0;
    parallel_now_ = std::max(1, std::min(limits_.parallel, 16));
  }
  code = read_page_data(cut_json_object(page, kDataMarker), page_data, build ? &files : nullptr);
  // The page may run to tens of megabytes; the walk below has no use for it.
  page.clear();
  page.shrink_to_fit();
  if (code == 0 && build)
    code = list_top_folders(page_data.uk, page_data.shareid, files, files.size());
  if (code == 0 && build && chooser_) {
    code = chooser_(files);
    if (code != 0) {
      recount_progress(files, index);
      return code;
    }
  }
  if (code == kStopped) {
    // What was listed until the stop is shown as such.
    recount_progress(files, index);
    return kStopped;
  }
  if (code != 0) {
    // A list that a failed listing cut short would be reported as the whole share.
    if (build && !ran_out_of_room(code)) files.clear();
    if (build) recount_progress(files, index);
    return code;
  }
  recount_progress(files, index);
  if (build && list_observer_) list_observer_(files);
  // A page whose sign went stale is fetched again, once per stale answer that
  // follows a link obtained.
  int expired_at = -1;
  for (;;) {
    session_link_ = share_link;
    session_page_ = std::make_shared<PageData>(page_data);
    code = request_links(share_link, page_data, files, index, captcha_answer);
    if (code == kWrongDownloadCaptcha) parallel_now_ = std::max(1, parallel_now_ / 2);
    if (code != kPageExpired || expired_at == progress_.links_obtained) return code;
    expired_at = progress_.links_obtained;
    code = fetch_page(share_link, page);
    if (code == 0) code = read_page_data(cut_json_object(page, kDataMarker), page_data, nullptr);
    page.clear();
    if (code != 0) return code;
  }
}

int ShareClient::read_page_data(const std::string& data_text, PageData& page_data,
                                FileList* files) {
  JsonDocument data;
  if (!data.parse(data_text)) return kJsonParseFailed;
  page_data.sign = data.get_text("sign");
  page_data.timestamp = data.get_text("timestamp");
  page_data.bdstoken = data.get_text("bdstoken");
  page_data.logid = make_logid();
  page_data.uk = data.get_text("uk");
  page_data.shareid = data.get_text("shareid");
  if (files == nullptr) return 0;

  // A page without a list shares nothing; a list that is no array is no list.
  const int file_list = data.type_of("file_list");
  if (file_list == JsonDocument::kTypeNull) return 0;
  if (file_list != JsonDocument::kTypeObject) return kJsonParseFailed;
  if (data.type_of("file_list.list") == JsonDocument::kTypeNull) return 0;
  std::set<std::string> ids;
  const int code = read_entries(data, "file_list.list", true, files->size(), ids, *files);
  for (const FileEntry& entry : *files)
    count_entry(entry);
  report_progress();
  return code;
}

namespace {

// Failures a new try may mend: no connection, a reset, no answer in time, a
// body that broke off, and the server's own trouble.
bool worth_retrying(const HttpResponse& response) {
  if (response.failure != 0) return response.transient;
  return response.status_text.size() >= 3 && response.status_text[0] == '5';
}

std::string seconds_text(int milliseconds) {
  if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000);
  std::string text = std::to_string(milliseconds / 1000) + "." +
                     std::to_string(1000 + milliseconds % 1000).substr(1);
  while (text.back() == '0')
    text.pop_back();
  return text;
}

}  // namespace

HttpResponse ShareClient::send_retrying(const HttpRequest& request, bool with_cookies,
                                        const Notify& notify, const WorkScope* scope) {
  HttpRequest carried = request;
  if (scope != nullptr) carried.cancel = scope->cancel();
  const int tries = static_cast<int>(limits_.retry_delays_ms.size());
  for (int retry = 0;; ++retry) {
    HttpResponse response = send(carried, with_cookies);
    const bool cancelled = scope != nullptr ? scope->cancelled() : stopped_.load();
    if (retry == tries || cancelled || !worth_retrying(response)) {
      note_failure(carried, response);
      return response;
    }
    const int delay = std::max(0, limits_.retry_delays_ms[static_cast<std::size_t>(retry)]);
    notify("网络请求失败," + seconds_text(delay) + "秒后重试(" + std::to_string(retry + 1) + "/" +
           std::to_string(tries) + ")");
    if (scope != nullptr ? !scope->wait(delay) : !wait_unless_stopped(delay)) {
      // The try it waited for is the stop's to cancel: no failure of the service.
      response.failure = kHttpFailureCancelled;
      response.cause = HttpCause::cancelled;
      response.status_text = http_failure_text(kHttpFailureCancelled);
      return response;
    }
  }
}

void ShareClient::note_failure(const HttpRequest& request, const HttpResponse& response) {
  const bool server_failed =
      response.failure == 0 && response.status_text.size() >= 3 && response.status_text[0] == '5';
  if ((response.failure == 0 && !server_failed) || response.failure == kHttpFailureCancelled) {
    return;
  }
  RequestFailure failure;
  failure.method = http_method_name(request.method);
  failure.url = request.url.substr(0, request.url.find_first_of("?#"));
  failure.failure = response.failure;
  failure.cause = response.cause;
  failure.reason = response.reason;
  // Failures before any status put their own text there.
  if (response.failure == 0 || response.failure == kHttpFailureBodyRead) {
    failure.status_text = response.status_text;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  last_failure_ = std::move(failure);
}

std::optional<RequestFailure> ShareClient::last_failure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_failure_;
}

int ShareClient::work_code(WorkEnd end, int code) {
  switch (end) {
    case WorkEnd::done:
      return code;
    case WorkEnd::out_of_memory:
      return kOutOfMemory;
    case WorkEnd::dropped:
      return kStopped;
    case WorkEnd::failed:
      break;
  }
  return kRequestFailed;
}

bool ShareClient::wait_unless_stopped(int milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !stop_changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return stopped_.load(); });
}

void ShareClient::notify_here(const std::string& line) const {
  if (notices_) notices_(line);
}

int ShareClient::request_link(const std::string& share_link, const PageData& page_data,
                              const FileEntry& entry, const std::string& captcha_answer,
                              const std::string& vcode, std::string& link, const Notify& notify,
                              const WorkScope* scope) {
  // Values the service sent go back encoded: for the digits and hex letters
  // it sends that changes nothing, and other text cannot add parameters.
  HttpRequest request;
  request.url = origin_ + "/api/sharedownload?sign=" + percent_encode(page_data.sign) +
                "&timestamp=" + percent_encode(page_data.timestamp) +
                "&bdstoken=" + percent_encode(page_data.bdstoken) +
                "&channel=chunlei&clienttype=0&web=1&app_id=" + percent_encode(entry.app_id) +
                "&logid=" + page_data.logid;
  request.method = kHttpPost;
  request.post_data = "encrypt=0&product=share&uk=" + percent_encode(page_data.uk) +
                      "&primaryid=" + percent_encode(page_data.shareid) +
                      "&vcode_input=" + percent_encode(captcha_answer) +
                      "&vcode_str=" + percent_encode(vcode) + "&extra=" + page_data.sekey_extra +
                      "&fid_list=%5B" + percent_encode(entry.fs_id) + "%5D";
  request.headers = "Referer:" + share_link;
  JsonDocument reply;
  const HttpResponse response = send_retrying(request, true, notify, scope);
  const int code = reply_code(response, reply);
  if (code != 0) return code;
  link = json_string_member(response.text, "dlink");
  // A success without a link is no success: the entry would be reported empty.
  return link.empty() ? kLinkMissing : 0;
}

int ShareClient::keep_link(FileList& files, std::size_t index, std::string link) {
  if (list_bytes_ + link.size() > limits_.max_list_bytes) return kListTooLarge;
  list_bytes_ += link.size();
  files[index].dlink = std::move(link);
  ++progress_.links_obtained;
  report_progress();
  if (link_observer_) link_observer_(index, files[index]);
  return 0;
}

std::string ShareClient::sekey_extra() const {
  // The value is a cookie's: whatever it holds stays inside the form value.
  const std::string sekey = cookie_value(cookies_.text_for(origin_), "BDCLND");
  return sekey.empty() ? std::string() : "{\"sekey\":\"" + escape_form_value(sekey) + "\"}";
}

void ShareClient::adopt_session(const ShareClient& other) {
  cookies_ = other.cookies_;
  origin_ = other.origin_;
  limits_ = other.limits_;
  session_link_ = other.session_link_;
  session_page_ = other.session_page_ ? std::make_shared<PageData>(*other.session_page_) : nullptr;
}

int ShareClient::renew_link(const FileEntry& entry, const std::string& extraction_code,
                            const std::string& captcha_answer, std::string& link,
                            bool& verified_again) {
  verified_again = false;
  if (!session_page_) return kPageExpired;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last_failure_.reset();
  }
  const Notify notify = [this](const std::string& line) { notify_here(line); };
  const std::string vcode = take_vcode_str();
  int code =
      request_link(session_link_, *session_page_, entry, captcha_answer, vcode, link, notify);
  if (code != kPageExpired) return code;
  PageData page_data;
  code = refresh_page(session_link_, extraction_code, captcha_answer, page_data, verified_again);
  if (code != 0) return code;
  *session_page_ = page_data;
  return request_link(session_link_, *session_page_, entry, captcha_answer, std::string(), link,
                      notify);
}

int ShareClient::open_page(std::string& share_link, const std::string& extraction_code,
                           const std::string& captcha_answer, std::string& page, bool& verified) {
  verified = false;
  int code = fetch_page(share_link, page);
  if (code == 0 && contains(page, "页面不存在")) code = fetch_page(share_link, page);
  if (code != 0) return code;
  if (contains(page, "链接不存在")) return kLinkInvalid;
  if (contains(page, "请输入提取密码")) {
    verified = true;
    code = verify_extraction_code(share_link, extraction_code, captcha_answer);
    if (code == 0) code = fetch_page(share_link, page);
  }
  return code;
}

int ShareClient::refresh_page(std::string& share_link, const std::string& extraction_code,
                              const std::string& captcha_answer, PageData& page_data,
                              bool& verified_again) {
  std::string page;
  const int code = open_page(share_link, extraction_code, captcha_answer, page, verified_again);
  if (code != 0) return code;
  page_data.sekey_extra = sekey_extra();
  return read_page_data(cut_json_object(page, kDataMarker), page_data, nullptr);
}

int ShareClient::request_links(const std::string& share_link, const PageData& page_data,
                               FileList& files, int& index, const std::string& captcha_answer) {
  if (index < 1) index = 1;
  // An entry that has its link is not asked for again.
  std::vector<std::size_t> todo;
  for (std::size_t i = static_cast<std::size_t>(index - 1); i < files.size(); ++i) {
    if (files[i].isdir == "0" && files[i].dlink.empty()) todo.push_back(i);
  }
  std::size_t from = 0;
  // The first request goes alone: a captcha's id serves one request, and
  // without one the answer tells whether the service wants a captcha before
  // several requests are all refused for it.
  const std::string vcode = take_vcode_str();
  if (!todo.empty()) {
    std::string link;
    int code = request_link(share_link, page_data, files[todo[0]], captcha_answer, vcode, link,
                            [this](const std::string& line) { notify_here(line); });
    if (code == 0) code = keep_link(files, todo[0], std::move(link));
    if (code != 0) {
      index = static_cast<int>(todo[0]) + 1;
      return code;
    }
    from = 1;
  }
  std::size_t failed = todo.size();
  const int code = request_batch(share_link, page_data, files, todo, from, captcha_answer, failed);
  index = failed < todo.size() ? static_cast<int>(todo[failed]) + 1
                               : static_cast<int>(files.size()) + 1;
  return code;
}

int ShareClient::request_batch(const std::string& share_link, const PageData& page_data,
                               FileList& files, const std::vector<std::size_t>& todo,
                               std::size_t from, const std::string& captcha_answer,
                               std::size_t& failed) {
  struct Result {
    int code = 0;
    std::string link;
  };
  // One at a time runs on the resolving thread, in the pool's next().
  const int workers = parallel_now_ > 1 ? parallel_now_ : 0;
  WorkPool pool(workers, kWaitingBytes);
  PoolWatch watch(*this, pool);
  std::map<std::size_t, std::shared_ptr<Result>> running;  // by position in todo
  std::map<std::size_t, int> failures;                     // by position in todo
  std::size_t next = from;
  int list_full = 0;
  // Requests start in list order, as many as go at once; none after a failure.
  const auto start_more = [&] {
    while (failures.empty() && running.size() < static_cast<std::size_t>(std::max(workers, 1)) &&
           next < todo.size()) {
      auto result = std::make_shared<Result>();
      const std::size_t entry = todo[next];
      running.emplace(next, result);
      pool.submit(next++, [&, entry, result](const WorkScope& scope) {
        result->code = request_link(
            share_link, page_data, files[entry], captcha_answer, std::string(), result->link,
            [&scope](const std::string& line) { scope.post(line); }, &scope);
        return result->link.size();
      });
    }
  };
  start_more();
  // Links land here, on the resolving thread, in the order they come; the
  // list keeps its order whatever that is.
  WorkPool::Event event;
  while (pool.next(event)) {
    if (event.is_line) {
      notify_here(event.line);
      continue;
    }
    const auto found = running.find(event.id);
    Result& result = *found->second;
    int code = work_code(event.end, result.code);
    // Once the list is full no link is kept, however short.
    if (code == 0 && list_full != 0) code = list_full;
    if (code == 0) {
      code = keep_link(files, todo[event.id], std::move(result.link));
      list_full = code;
    }
    running.erase(found);
    if (code != 0) failures.emplace(event.id, code);
    start_more();
  }
  // The first entry without its link names the failure; but an error names
  // it before a stop does, which only cut short the wait for what was in
  // flight after it.
  for (const auto& failure : failures) {
    if (failure.second == kStopped) continue;
    failed = failure.first;
    return failure.second;
  }
  failed = failures.empty() ? todo.size() : failures.begin()->first;
  return failures.empty() ? 0 : kStopped;
}

ListRoom ShareClient::room_left(std::size_t used_entries) const {
  ListRoom room;
  room.entries = used_entries < limits_.max_entries ? limits_.max_entries - used_entries : 0;
  room.bytes = list_bytes_ < limits_.max_list_bytes ? limits_.max_list_bytes - list_bytes_ : 0;
  return room;
}

int ShareClient::read_entries(const JsonDocument& reply, const std::string& path,
                              bool on_share_page, std::size_t used_entries,
                              std::set<std::string>& ids, FileList& found) {
  ListRoom room = room_left(used_entries);
  const std::size_t bytes = room.bytes;
  const int code =
      read_list(reply, path, on_share_page, room, ids, found, progress_.entries_skipped);
  list_bytes_ += bytes - room.bytes;
  return code;
}

int ShareClient::take_entries(ListItems& items, std::size_t used_entries,
                              std::set<std::string>& ids, FileList& found) {
  ListRoom room = room_left(used_entries);
  const std::size_t bytes = room.bytes;
  const int code = take_items(items, room, ids, found, progress_.entries_skipped);
  list_bytes_ += bytes - room.bytes;
  return code;
}

void ShareClient::recount_progress(const FileList& files, int index) {
  const ResolveProgress listed = progress_;
  progress_ = {};
  list_bytes_ = 0;
  progress_.folders_listed = listed.folders_listed;
  progress_.entries_skipped = listed.entries_skipped;
  for (std::size_t i = 0; i < files.size(); ++i) {
    count_entry(files[i]);
    list_bytes_ += entry_bytes(files[i]);
    if (files[i].isdir == "0" && static_cast<int>(i) + 1 < index) ++progress_.links_obtained;
  }
  report_progress();
}

void ShareClient::count_entry(const FileEntry& entry) {
  ++progress_.entries_found;
  if (entry.isdir == "0") ++progress_.files_found;
}

void ShareClient::report_progress() const {
  if (observer_) observer_(progress_);
}

int ShareClient::verify_extraction_code(std::string& share_link, const std::string& extraction_code,
                                        const std::string& captcha_answer) {
  if (origin_.empty()) origin_ = origin_of(share_link);
  HttpRequest probe;
  probe.url = share_link;
  probe.no_redirect = true;
  const HttpResponse redirect = send(probe, true);
  note_failure(probe, redirect);
  if (redirect.failure != 0) return failure_code(redirect);
  if (!redirect.location.empty()) share_link = resolve_location(share_link, redirect.location);

  const std::string shareid = text_between(share_link, "shareid=", "&");
  const std::string uk = text_between(share_link + "&", "uk=", "&");
  HttpRequest request;
  request.url = origin_ + "/share/verify?shareid=" + shareid + "&uk=" + uk +
                "&t=" + timestamp_text() + kFixedBlock + kWebAppId + "&logid=" + make_logid();
  request.method = kHttpPost;
  request.send_once = true;
  request.post_data = "pwd=" + percent_encode(extraction_code) +
                      "&vcode=" + percent_encode(captcha_answer) +
                      "&vcode_str=" + percent_encode(take_vcode_str());
  request.headers = "Referer:" + share_link;
  const HttpResponse response = send(request, true);
  note_failure(request, response);
  JsonDocument reply;
  return reply_code(response, reply);
}

int ShareClient::fetch_captcha(Bytes& image, int code) {
  std::shared_ptr<HttpCancel> cancel;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!cancel_) cancel_ = std::make_shared<HttpCancel>();
    cancel = cancel_;
  }
  std::string id;
  const int result = fetch_captcha_carrying(origin_, code, image, id, std::move(cancel), this);
  if (result == 0) vcode_str_ = std::move(id);
  return result;
}

int ShareClient::fetch_captcha_from(const std::string& origin, int code, Bytes& image,
                                    std::string& id) {
  return fetch_captcha_carrying(origin, code, image, id, nullptr, nullptr);
}

int ShareClient::fetch_captcha_carrying(const std::string& origin, int code, Bytes& image,
                                        std::string& id, std::shared_ptr<const HttpCancel> cancel,
                                        ShareClient* client) {
  std::string prod;
  if (code == kWrongVerifyCaptcha) {
    prod = "shareverify";
  } else if (code == kWrongDownloadCaptcha) {
    prod = "pan";
  } else {
    return kBadCaptchaKind;
  }
  HttpRequest request;
  request.url = origin + "/api/getcaptcha?prod=" + prod + "&web=1&t=0." + random_digits(16) +
                kFixedBlock + kWebAppId + "&logid=" + make_logid();
  request.cancel = cancel;
  const HttpResponse response = http_request(request);
  if (client != nullptr) client->note_failure(request, response);
  JsonDocument reply;
  const int result = reply_code(response, reply);
  if (result != 0) return result;
  const std::string picture_url = json_string_member(response.text, "vcode_img");
  std::string picture_id = json_string_member(response.text, "vcode_str");
  if (picture_url.empty() || picture_id.empty()) return kCaptchaMissing;

  // The picture goes without cookies, as a browser's image request to another
  // host would.
  HttpRequest picture;
  picture.url = resolve_location(origin + "/", picture_url);
  picture.cancel = std::move(cancel);
  HttpResponse bytes = http_request(picture);
  if (client != nullptr) client->note_failure(picture, bytes);
  if (bytes.failure != 0) return failure_code(bytes);
  image = std::move(bytes.body);
  id = std::move(picture_id);
  return 0;
}

std::string ShareClient::strip_slashes(const std::string& text, bool forward) {
  return sharelink::strip_slashes(text, forward);
}
std::string ShareClient::make_logid() {
  return sharelink::make_logid();
}
std::string ShareClient::random_digits(int count) {
  return sharelink::random_digits(count);
}
int ShareClient::read_errno(const std::string& reply) {
  return sharelink::read_errno(reply);
}
std::string ShareClient::error_message(int code) {
  return sharelink::error_message(code);
}

}  // namespace sharelink

#include "share/share_client.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "http/http_request.h"
#include "script/json_document.h"
#include "share/reply_text.h"
#include "share/request_params.h"
#include "share/result_codes.h"
#include "share/service_replies.h"

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
  stop_changed_.notify_all();
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
    request.cancel = cancel_;
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
  if (response.failure != 0) return kRequestFailed;
  page = response.text;
  return 0;
}

int ShareClient::resolve(std::string& share_link, FileList& files, int& index,
                         const std::string& extraction_code, const std::string& captcha_answer) {
  origin_ = origin_of(share_link);
  std::string page;
  int code = fetch_page(share_link, page);
  if (code == 0 && contains(page, "页面不存在")) code = fetch_page(share_link, page);
  if (code != 0) return stopped_ ? kStopped : code;
  if (contains(page, "链接不存在")) return kLinkInvalid;
  if (contains(page, "请输入提取密码")) {
    code = verify_extraction_code(share_link, extraction_code, captcha_answer);
    if (code == 0) code = fetch_page(share_link, page);
    if (code != 0) return code;
  }

  PageData page_data;
  // The value is a cookie's: whatever it holds stays inside the form value.
  const std::string sekey = cookie_value(cookies_.text_for(origin_), "BDCLND");
  if (!sekey.empty()) page_data.sekey_extra = "{\"sekey\":\"" + escape_form_value(sekey) + "\"}";

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
  if (code != 0 && stopped_) {
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
  // A page whose sign went stale is fetched again, once per stale answer that
  // follows a link obtained.
  int expired_at = -1;
  for (;;) {
    code = request_links(share_link, page_data, files, index, captcha_answer);
    if (stopped_) return kStopped;
    if (code == kWrongDownloadCaptcha) parallel_now_ = std::max(1, parallel_now_ / 2);
    if (code != kPageExpired || expired_at == progress_.links_obtained) return code;
    expired_at = progress_.links_obtained;
    code = fetch_page(share_link, page);
    if (code == 0) code = read_page_data(cut_json_object(page, kDataMarker), page_data, nullptr);
    page.clear();
    if (code != 0) return stopped_ ? kStopped : code;
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
                                        const Notify& notify) {
  const int tries = static_cast<int>(limits_.retry_delays_ms.size());
  for (int retry = 0;; ++retry) {
    HttpResponse response = send(request, with_cookies);
    if (retry == tries || stopped_ || !worth_retrying(response)) return response;
    const int delay = std::max(0, limits_.retry_delays_ms[static_cast<std::size_t>(retry)]);
    notify("网络请求失败," + seconds_text(delay) + "秒后重试(" + std::to_string(retry + 1) + "/" +
           std::to_string(tries) + ")");
    if (!wait_unless_stopped(delay)) return response;
  }
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
                              const std::string& vcode, std::string& link, const Notify& notify) {
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
  const HttpResponse response = send_retrying(request, true, notify);
  const int code = reply_code(response, reply);
  if (code != 0) return code;
  link = json_string_member(response.text, "dlink");
  // A success without a link is no success: the entry would be reported empty.
  return link.empty() ? kLinkMissing : 0;
}

int ShareClient::keep_link(FileEntry& entry, std::string link) {
  if (list_bytes_ + link.size() > limits_.max_list_bytes) return kListTooLarge;
  list_bytes_ += link.size();
  entry.dlink = std::move(link);
  ++progress_.links_obtained;
  report_progress();
  return 0;
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
    if (code == 0) code = keep_link(files[todo[0]], std::move(link));
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
  // Shared with the workers, under its mutex.
  struct Batch {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;  // the position in todo the next request takes
    bool halted = false;   // a failure came: no new request starts
    int running = 0;
    std::vector<std::pair<std::size_t, Result>> arrived;
    std::vector<std::string> notices;
  } batch;
  batch.next = from;
  std::vector<Result> results(todo.size());
  std::vector<char> done(todo.size(), 0);

  const std::size_t left = todo.size() - from;
  const std::size_t workers = std::min(left, static_cast<std::size_t>(parallel_now_));
  const auto work = [&] {
    const Notify notify = [&batch, this, workers](const std::string& line) {
      // On the resolving thread the line goes out at once.
      if (workers <= 1) return notify_here(line);
      std::lock_guard<std::mutex> lock(batch.mutex);
      batch.notices.push_back(line);
      batch.changed.notify_all();
    };
    for (;;) {
      std::size_t position = 0;
      {
        std::lock_guard<std::mutex> lock(batch.mutex);
        if (batch.halted || stopped_ || batch.next >= todo.size()) break;
        position = batch.next++;
      }
      Result result;
      result.code = request_link(share_link, page_data, files[todo[position]], captcha_answer,
                                 std::string(), result.link, notify);
      std::lock_guard<std::mutex> lock(batch.mutex);
      if (result.code != 0) batch.halted = true;
      batch.arrived.emplace_back(position, std::move(result));
      batch.changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(batch.mutex);
    --batch.running;
    batch.changed.notify_all();
  };

  std::vector<std::thread> threads;
  batch.running = static_cast<int>(workers);
  // One at a time runs on the resolving thread.
  if (workers == 1) {
    work();
  } else {
    try {
      for (std::size_t i = 0; i < workers; ++i)
        threads.emplace_back(work);
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> lock(batch.mutex);
      batch.running -= static_cast<int>(workers - threads.size());
      if (threads.empty()) {
        ++batch.running;
        work();
      }
    }
  }

  // Links land here, on the resolving thread, in the order they come; the
  // list keeps its order whatever that is.
  int list_full = 0;
  std::unique_lock<std::mutex> lock(batch.mutex);
  for (;;) {
    batch.changed.wait(lock, [&] {
      return batch.running == 0 || !batch.arrived.empty() || !batch.notices.empty();
    });
    std::vector<std::pair<std::size_t, Result>> arrived;
    std::vector<std::string> notices;
    arrived.swap(batch.arrived);
    notices.swap(batch.notices);
    const bool finished = batch.running == 0;
    lock.unlock();
    for (const std::string& line : notices)
      notify_here(line);
    for (auto& item : arrived) {
      Result& result = item.second;
      if (result.code == 0 && list_full == 0) {
        result.code = keep_link(files[todo[item.first]], std::move(result.link));
        if (result.code != 0) {
          list_full = result.code;
          std::lock_guard<std::mutex> halt(batch.mutex);
          batch.halted = true;
        }
      } else if (result.code == 0) {
        result.code = list_full;
      }
      results[item.first] = std::move(result);
      done[item.first] = 1;
    }
    lock.lock();
    if (finished && batch.arrived.empty() && batch.notices.empty()) break;
  }
  lock.unlock();
  for (std::thread& thread : threads)
    thread.join();

  // The first entry without its link names the failure.
  for (std::size_t position = from; position < todo.size(); ++position) {
    if (done[position] && results[position].code == 0) continue;
    failed = position;
    return done[position] ? results[position].code : kRequestFailed;
  }
  failed = todo.size();
  return 0;
}

int ShareClient::read_entries(const JsonDocument& reply, const std::string& path,
                              bool on_share_page, std::size_t used_entries,
                              std::set<std::string>& ids, FileList& found) {
  ListRoom room;
  room.entries = used_entries < limits_.max_entries ? limits_.max_entries - used_entries : 0;
  room.bytes = list_bytes_ < limits_.max_list_bytes ? limits_.max_list_bytes - list_bytes_ : 0;
  const std::size_t bytes = room.bytes;
  const int code =
      read_list(reply, path, on_share_page, room, ids, found, progress_.entries_skipped);
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
  if (redirect.failure != 0) return kRequestFailed;
  if (!redirect.location.empty()) share_link = resolve_location(share_link, redirect.location);

  const std::string shareid = text_between(share_link, "shareid=", "&");
  const std::string uk = text_between(share_link + "&", "uk=", "&");
  HttpRequest request;
  request.url = origin_ + "/share/verify?shareid=" + shareid + "&uk=" + uk +
                "&t=" + timestamp_text() + kFixedBlock + kWebAppId + "&logid=" + make_logid();
  request.method = kHttpPost;
  request.post_data = "pwd=" + percent_encode(extraction_code) +
                      "&vcode=" + percent_encode(captcha_answer) +
                      "&vcode_str=" + percent_encode(take_vcode_str());
  request.headers = "Referer:" + share_link;
  JsonDocument reply;
  return reply_code(send(request, true), reply);
}

int ShareClient::fetch_captcha(Bytes& image, int code) {
  std::string id;
  const int result = fetch_captcha_from(origin_, code, image, id);
  if (result == 0) vcode_str_ = std::move(id);
  return result;
}

int ShareClient::fetch_captcha_from(const std::string& origin, int code, Bytes& image,
                                    std::string& id) {
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
  const HttpResponse response = http_request(request);
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
  HttpResponse bytes = http_request(picture);
  if (bytes.failure != 0) return kRequestFailed;
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

#include "sim_test_support.h"

#include <strings.h>

#include <chrono>
#include <csetjmp>
#include <random>

#include <jpeglib.h>
#include <png.h>

#include "sim/wire_format.h"

namespace sharelink::sim::testing {
namespace {

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  exchange->body.append(data, size * count);
  return size * count;
}

std::size_t append_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  const std::string line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) exchange->headers.clear();  // keep the last response only
  exchange->headers += line;
  return size * count;
}

int stop_after(void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
  const auto* call = static_cast<const Call*>(user);
  return call->max_bytes > 0 && now >= call->max_bytes ? 1 : 0;
}

std::string digits(int count) {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::string text;
  for (int i = 0; i < count; ++i)
    text += static_cast<char>('0' + random() % 10);
  return text;
}

}  // namespace

std::string Exchange::header(const std::string& name) const {
  std::size_t start = 0;
  while (start < headers.size()) {
    const std::size_t end = headers.find("\r\n", start);
    const std::string line = headers.substr(start, end - start);
    if (line.size() > name.size() && line[name.size()] == ':' &&
        strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      const std::size_t value = line.find_first_not_of(' ', name.size() + 1);
      return value == std::string::npos ? "" : line.substr(value);
    }
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return "";
}

nlohmann::json Exchange::json() const {
  return nlohmann::json::parse(body, nullptr, false);
}

int Exchange::errno_value() const {
  const nlohmann::json parsed = json();
  return parsed.is_object() && parsed.contains("errno") ? parsed["errno"].get<int>() : -1000;
}

Exchange fetch(const std::string& url, const Call& call) {
  Exchange exchange;
  CURL* curl = call.reuse != nullptr ? call.reuse : curl_easy_init();
  curl_easy_reset(curl);  // the connection stays
  curl_slist* headers = nullptr;
  for (const std::string& line : call.headers)
    headers = curl_slist_append(headers, line.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, call.follow ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, call.timeout_ms);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append_body);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, append_header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, stop_after);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &call);
  if (!call.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, call.ca_file.c_str());
  if (!call.ca_folder.empty()) curl_easy_setopt(curl, CURLOPT_CAPATH, call.ca_folder.c_str());
  if (call.method == "HEAD") curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  if (call.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(call.body.size()));
    curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, call.body.c_str());
  }
  exchange.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &exchange.status);
  curl_slist_free_all(headers);
  if (call.reuse == nullptr) curl_easy_cleanup(curl);
  return exchange;
}

std::string logid() {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return base64_encode(std::to_string(now.count()) + "." + digits(19));
}

std::string random_t() {
  return "0." + digits(16);
}

std::string millis() {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count());
}

nlohmann::json data_object(const std::string& page) {
  const std::string marker = "yunData.setData(";
  const std::size_t start = page.find(marker);
  if (start == std::string::npos) return nlohmann::json::value_t::discarded;
  int depth = 0;
  bool in_string = false;
  for (std::size_t i = start + marker.size(); i < page.size(); ++i) {
    const char c = page[i];
    if (in_string) {
      if (c == '\\') ++i;
      if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      const std::size_t begin = start + marker.size();
      return nlohmann::json::parse(page.substr(begin, i + 1 - begin), nullptr, false);
    }
  }
  return nlohmann::json::value_t::discarded;
}

bool decode_png(const std::string& bytes, int& width, int& height,
                std::vector<unsigned char>* rgb) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return false;
  image.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> pixels(PNG_IMAGE_SIZE(image));
  const bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  if (rgb) *rgb = std::move(pixels);
  png_image_free(&image);
  return ok;
}

namespace {
struct JpegFailure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
void jpeg_failed(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->jump, 1);
}
}  // namespace

bool decode_jpeg(const std::string& bytes, int& width, int& height) {
  jpeg_decompress_struct info{};
  JpegFailure failure{};
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = jpeg_failed;
  failure.manager.output_message = [](j_common_ptr) {};
  if (setjmp(failure.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  std::vector<unsigned char> row(info.output_width * info.output_components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
  }
  width = static_cast<int>(info.output_width);
  height = static_cast<int>(info.output_height);
  const bool clean = info.err->num_warnings == 0;
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return clean;
}

Fixture demo_fixture() {
  Fixture fixture;
  std::string error;
  load_fixture_file(SHARELINK_SIM_FIXTURE_DIR "/demo.json", fixture, error);
  fixture.seed = 11;
  return fixture;
}

Visitor::Visitor(std::string origin, std::string surl)
    : origin_(std::move(origin)), surl_(std::move(surl)) {}

Exchange Visitor::page() {
  referer = origin_ + "/s/" + surl_;
  Call call;
  if (!cookie.empty()) call.headers.push_back("Cookie: " + cookie);
  Exchange exchange = fetch(referer, call);
  if (exchange.status == 302) {
    referer = exchange.header("Location");
    const auto between = [this](const std::string& key) {
      const std::size_t start = referer.find(key);
      if (start == std::string::npos) return std::string();
      return referer.substr(start + key.size(), referer.find('&', start) - start - key.size());
    };
    shareid = between("shareid=");
    uk = between("uk=");
    exchange = fetch(referer, call);
  }
  data = data_object(exchange.body);
  if (data.is_object()) {
    shareid = data["shareid"].dump();
    uk = data["uk"].dump();
  }
  return exchange;
}

std::string Visitor::verify_query() const {
  return "shareid=" + shareid + "&uk=" + uk + "&t=" + millis() +
         "&bdstoken=null&channel=chunlei&clienttype=0&web=1&app_id=250528&logid=" + logid();
}

std::string Visitor::captcha_query(const std::string& prod) const {
  return "prod=" + prod + "&web=1&t=" + random_t() +
         "&bdstoken=null&channel=chunlei&clienttype=0&web=1&app_id=250528&logid=" + logid();
}

std::string Visitor::list_query(const std::string& dir, int page, int num) const {
  return "uk=" + uk + "&shareid=" + shareid +
         "&order=server_filename&desc=1&showempty=0&web=1&page=" + std::to_string(page) +
         "&num=" + std::to_string(num) + "&dir=" + percent_encode(dir) + "&t=" + random_t() +
         "&bdstoken=null&channel=chunlei&clienttype=0&web=1&app_id=250528&logid=" + logid();
}

std::string Visitor::download_query(const std::string& app_id) const {
  return "sign=" + data.value("sign", "") + "&timestamp=" + data["timestamp"].dump() +
         "&bdstoken=" + data.value("bdstoken", "") +
         "&channel=chunlei&clienttype=0&web=1&app_id=" + app_id + "&logid=" + logid();
}

std::string Visitor::download_body(const std::string& fs_id, const std::string& vcode_input,
                                   const std::string& vcode_str) const {
  const std::string value = cookie.empty() ? "" : cookie.substr(cookie.find('=') + 1);
  const std::string extra = value.empty() ? "" : "{\"sekey\":\"" + value + "\"}";
  return "encrypt=0&product=share&uk=" + uk + "&primaryid=" + shareid +
         "&vcode_input=" + percent_encode(vcode_input) + "&vcode_str=" + vcode_str +
         "&extra=" + extra + "&fid_list=%5B" + fs_id + "%5D";
}

std::vector<std::string> Visitor::post_headers() const {
  std::vector<std::string> headers = {"Referer:" + referer,
                                      "Content-Type: application/x-www-form-urlencoded"};
  if (!cookie.empty()) headers.push_back("Cookie: " + cookie);
  return headers;
}

Exchange Visitor::send(const std::string& method, const std::string& path, const std::string& query,
                       const std::string& body, const std::vector<std::string>& headers) const {
  Call call;
  call.method = method;
  call.body = body;
  call.headers = headers;
  return fetch(origin_ + path + "?" + query, call);
}

Exchange Visitor::verify(const std::string& pwd, const std::string& vcode,
                         const std::string& vcode_str) {
  const std::string body =
      "pwd=" + percent_encode(pwd) + "&vcode=" + percent_encode(vcode) + "&vcode_str=" + vcode_str;
  Exchange exchange = send("POST", "/share/verify", verify_query(), body, post_headers());
  const std::string set_cookie = exchange.header("Set-Cookie");
  if (!set_cookie.empty()) cookie = set_cookie.substr(0, set_cookie.find(';'));
  return exchange;
}

Exchange Visitor::captcha(const std::string& prod) {
  return send("GET", "/api/getcaptcha", captcha_query(prod), "", {});
}

Exchange Visitor::list(const std::string& dir, int page, int num) {
  std::vector<std::string> headers;
  if (!cookie.empty()) headers.push_back("Cookie: " + cookie);
  return send("GET", "/share/list", list_query(dir, page, num), "", headers);
}

Exchange Visitor::download(const nlohmann::json& entry, const std::string& vcode_input,
                           const std::string& vcode_str) {
  const std::string app_id = entry.value("app_id", std::string("250528"));
  return send("POST", "/api/sharedownload", download_query(app_id),
              download_body(entry["fs_id"].dump(), vcode_input, vcode_str), post_headers());
}

}  // namespace sharelink::sim::testing

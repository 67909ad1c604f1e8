#include "app/failure_text.h"

#include <algorithm>

#include "app/service_text.h"
#include "text/local_text.h"

namespace sharelink {

namespace {

struct Address {
  std::string host_port;
  std::string path;
};

// url's host and port (the scheme's port when it names none) and its path,
// without what a user name, a password or a query could give away.
Address address_of(const std::string& url) {
  const std::size_t scheme_end = url.find("://");
  const std::size_t start = scheme_end == std::string::npos ? 0 : scheme_end + 3;
  const std::size_t end = std::min(url.find_first_of("/?#", start), url.size());
  std::string authority = url.substr(start, end - start);
  const std::size_t user_end = authority.rfind('@');
  if (user_end != std::string::npos) authority.erase(0, user_end + 1);
  const std::size_t colon = authority.rfind(':');
  const std::size_t bracket = authority.rfind(']');  // an IPv6 address holds colons
  if (colon == std::string::npos || (bracket != std::string::npos && colon < bracket)) {
    const bool https = ascii_upper(url.substr(0, start)) == "HTTPS://";
    authority += https ? ":443" : ":80";
  }
  const std::size_t path_end = std::min(url.find_first_of("?#", end), url.size());
  const std::string path = end < path_end ? url.substr(end, path_end - end) : "/";
  return {shown_text(authority), shown_link(path)};
}

std::string cause_text(const RequestFailure& failure, const std::string& host_port) {
  const std::string reason = failure.reason.empty() ? "" : " (" + shown_text(failure.reason) + ")";
  switch (failure.cause) {
    case HttpCause::none:
      break;
    case HttpCause::bad_address:
      return "地址无效: " + host_port;
    case HttpCause::name_lookup:
      return "无法连接到 " + host_port + " (找不到主机)";
    case HttpCause::refused:
      return "无法连接到 " + host_port + " (拒绝连接)";
    case HttpCause::unreachable:
      return "无法连接到 " + host_port + " (网络不可达)";
    case HttpCause::timed_out:
      return "等待 " + host_port + " 回应超时";
    case HttpCause::broken:
      return "与 " + host_port + " 的连接中断,回复不完整";
    case HttpCause::tls:
      return "与 " + host_port + " 的加密连接失败" + reason;
    case HttpCause::certificate:
      return "证书不受信任: " + host_port + reason;
    case HttpCause::too_big:
      return host_port + " 的回复超出限制";
    case HttpCause::out_of_memory:
      return "内存不足,无法接收 " + host_port + " 的回复";
    case HttpCause::redirect:
      return host_port + " 的重定向未被跟随";
    case HttpCause::cancelled:
      return "请求已取消: " + host_port;
    case HttpCause::other:
      return "与 " + host_port + " 通信失败" + reason;
  }
  if (failure.failure == 0 && !failure.status_text.empty()) {
    return "服务器返回 " + shown_text(failure.status_text) + ": " + host_port;
  }
  return "与 " + host_port + " 通信失败" + reason;
}

}  // namespace

std::string failure_cause_text(const RequestFailure& failure) {
  return cause_text(failure, address_of(failure.url).host_port);
}

std::string failure_text(const std::optional<RequestFailure>& failure) {
  if (!failure) return {};
  const Address address = address_of(failure->url);
  return "请求 " + shown_text(failure->method) + " " + address.path +
         " 失败: " + cause_text(*failure, address.host_port);
}

}  // namespace sharelink

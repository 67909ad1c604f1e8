#pragma once

// The service as far as sharelink-cli talks to it, on a HostileServer: a share
// page, folder listing, download links and captchas. It checks nothing the
// client sends and hands out what the case tells it to, JSON written as raw
// text so that a case can put anything into it; tamper has the last word on
// every reply, transport and all.

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "faults/hostile_server.h"

namespace sharelink::faults {

// One entry of a page or listing. fs_id is a JSON value as written; name is
// the inside of a JSON string literal, escapes and all.
inline std::string entry_json(const std::string& fs_id, const std::string& name, bool dir = false,
                              const std::string& parent = "/top") {
  return "{\"fs_id\":" + fs_id + ",\"server_filename\":\"" + name + "\",\"path\":\"" + parent +
         "/" + name + "\",\"size\":" + (dir ? "0" : "12") + ",\"isdir\":" + (dir ? "1" : "0") +
         ",\"app_id\":\"250528\",\"parent_path\":\"%2Ftop\",\"category\":6}";
}

// A JSON array of count files named prefix1, prefix2, ... with ids from first_id.
inline std::string files_json(int count, int first_id, const std::string& prefix,
                              const std::string& parent = "/top") {
  std::string list = "[";
  for (int i = 0; i < count; ++i) {
    if (i > 0) list += ",";
    list += entry_json(std::to_string(first_id + i), prefix + std::to_string(i + 1), false, parent);
  }
  return list + "]";
}

// The value of a form or query parameter, %XX and "+" decoded.
inline std::string form_value(const std::string& form, const std::string& name) {
  const std::string key = name + "=";
  std::size_t at = 0;
  while (at < form.size()) {
    std::size_t end = form.find('&', at);
    if (end == std::string::npos) end = form.size();
    if (form.compare(at, key.size(), key) == 0) {
      std::string out;
      for (std::size_t i = at + key.size(); i < end; ++i) {
        if (form[i] == '+') {
          out += ' ';
        } else if (form[i] == '%' && i + 2 < end) {
          out += static_cast<char>(std::strtol(form.substr(i + 1, 2).c_str(), nullptr, 16));
          i += 2;
        } else {
          out += form[i];
        }
      }
      return out;
    }
    at = end + 1;
  }
  return {};
}

class FakeService {
 public:
  std::string surl = "1FaultShare";
  // Members put first into the page's data object, each followed by a comma.
  std::string page_members;
  // The page's file_list.list: two files by default.
  std::string list = "[" + entry_json("11", "a.txt") + "," + entry_json("12", "b.txt") + "]";
  // Bytes of an HTML comment put before the page's script.
  std::uint64_t page_padding = 0;
  // The reply to /share/list for a folder and page (from 1).
  std::function<std::string(const std::string& dir, int page)> folder =
      [](const std::string&, int) { return std::string(R"({"errno":0,"list":[]})"); };
  // The link handed out for the n-th download request (from 1) and its
  // decoded fid_list.
  std::function<std::string(int n, const std::string& fid_list)> dlink =
      [this](int n, const std::string&) { return origin() + "/file/" + std::to_string(n); };
  // The whole reply to a download request; empty: the usual one around dlink.
  std::function<std::string(int n, const std::string& fid_list)> download;
  // The captcha picture behind the captcha call's vcode_img.
  std::string picture;
  std::function<void(const Request&, Reply&)> tamper;
  // Set: a protected share. Until a request brings the BDCLND cookie that
  // /share/verify sets, the link redirects to unlock_at's /share/init, which
  // asks for the code.
  std::string unlock_at;

  void start() {
    server_.start([this](const Request& request) {
      Reply reply = answer(request);
      if (tamper) tamper(request, reply);
      return reply;
    });
  }

  std::string origin() const { return server_.origin(); }
  std::string link() const { return origin() + "/s/" + surl; }
  int port() const { return server_.port(); }
  int connections_accepted() const { return server_.connections_accepted(); }
  std::vector<Request> requests() const { return server_.requests(); }
  std::vector<Request> requests_to(const std::string& path) const {
    std::vector<Request> found;
    for (Request& request : server_.requests()) {
      if (request.path() == path) found.push_back(std::move(request));
    }
    return found;
  }

  std::string page_text() const {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>a.txt - share</title>\n</head>\n<body>\n<div id=\"layoutMain\"></div>\n";
  }
  std::string data_text() const {
    return "{" + page_members +
           "\"loginstatus\":0,\"uk\":202,\"shareid\":101,\"sign\":\"5ign\","
           "\"timestamp\":1700000000,\"bdstoken\":\"t0ken\",\"title\":\"/top\","
           "\"file_list\":{\"errno\":0,\"list\":" +
           list + "},\"self\":0}";
  }
  std::string script_text() const {
    return "<script type=\"text/javascript\">\nvar yunData = window.yunData || {};\n"
           "yunData.setData(" +
           data_text() + ");\n</script>\n</body>\n</html>\n";
  }

 private:
  static Reply json(const std::string& text) {
    Reply reply;
    reply.headers = "Content-Type: application/json; charset=utf-8\r\n";
    reply.body = text;
    return reply;
  }

  Reply answer(const Request& request) {
    const std::string path = request.path();
    const bool locked = !unlock_at.empty() &&
                        request.header("Cookie").value_or("").find("BDCLND=") == std::string::npos;
    if (path == "/s/" + surl && locked) {
      Reply moved;
      moved.status = "302 Found";
      moved.headers = "Location: " + unlock_at + "/share/init?shareid=101&uk=202\r\n";
      return moved;
    }
    if (path == "/share/init" && locked) return json(u8"<html>请输入提取密码</html>");
    if (path == "/s/" + surl || path == "/share/init") return page();
    if (path == "/share/verify") {
      Reply unlocked = json(R"({"errno":0,"request_id":7})");
      unlocked.headers += "Set-Cookie: BDCLND=unlock-secret; path=/\r\n";
      return unlocked;
    }
    if (path == "/share/list") {
      const std::string query = request.query();
      return json(folder(form_value(query, "dir"), std::atoi(form_value(query, "page").c_str())));
    }
    if (path == "/api/sharedownload") return download_reply(request);
    if (path == "/api/getcaptcha") {
      return json(R"({"errno":0,"vcode_img":")" + origin() +
                  R"(/genimage?c1","vcode_str":"c1","request_id":9})");
    }
    if (path == "/genimage") {
      Reply reply;
      reply.headers = "Content-Type: image/png\r\n";
      reply.body = picture;
      return reply;
    }
    Reply missing;
    missing.status = "404 Not Found";
    missing.body = "not here";
    return missing;
  }

  Reply page() const {
    Reply reply;
    reply.headers =
        "Content-Type: text/html; charset=utf-8\r\nSet-Cookie: SESSION=page-secret; Path=/\r\n";
    reply.body = page_text();
    if (page_padding > 0) {
      reply.body += "<!-- ";
      reply.padding = page_padding;
      reply.pad = 'x';
      reply.tail = " -->\n" + script_text();
    } else {
      reply.body += script_text();
    }
    return reply;
  }

  Reply download_reply(const Request& request) {
    const int n = ++downloads_;
    if (request.body.find("fid_list=") == std::string::npos) {
      return json(R"({"errno":2,"request_id":8})");
    }
    const std::string fid_list = form_value(request.body, "fid_list");
    if (download) return json(download(n, fid_list));
    return json(R"({"errno":0,"request_id":8,"list":[{"dlink":")" + dlink(n, fid_list) + "\"}]}");
  }

  int downloads_ = 0;
  HostileServer server_;
};

}  // namespace sharelink::faults

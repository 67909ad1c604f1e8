#include "sim/pages.h"

namespace sharelink::sim {
namespace {

std::string html_page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
         "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n<title>" +
         title + "</title>\n</head>\n<body>\n" + body + "\n</body>\n</html>\n";
}

nlohmann::ordered_json item_of(const Entry& entry, const Tokens& tokens) {
  nlohmann::ordered_json item;
  item["category"] = 6;
  item["fs_id"] = entry.fs_id;
  item["isdir"] = entry.is_dir ? 1 : 0;
  item["local_ctime"] = entry.mtime;
  item["local_mtime"] = entry.mtime;
  if (!entry.is_dir) item["md5"] = tokens.md5(entry.fs_id);
  item["path"] = entry.path;
  item["server_ctime"] = entry.mtime;
  item["server_filename"] = entry.name;
  item["server_mtime"] = entry.mtime;
  item["size"] = entry.is_dir ? 0 : entry.size;
  return item;
}

nlohmann::ordered_json page_entry(const Share& share, const Entry& entry, const Tokens& tokens) {
  nlohmann::ordered_json item = item_of(entry, tokens);
  item["app_id"] = entry.app_id;
  item["parent_path"] = percent_encode(share.root);
  apply_overrides(item, entry.wire);
  return item;
}

nlohmann::ordered_json data_object(const Share& share, const Tokens& tokens,
                                   std::uint64_t timestamp, const std::string& sign) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const std::size_t index : share.top)
    list.push_back(page_entry(share, share.entries[index], tokens));
  nlohmann::ordered_json data;
  data["loginstatus"] = 0;
  data["photo"] = "";
  data["uk"] = share.uk;
  data["shareid"] = share.shareid;
  data["sign"] = sign;
  data["timestamp"] = timestamp;
  data["bdstoken"] = tokens.bdstoken(share);
  data["sharetype"] = 0;
  data["public"] = share.is_protected() ? 0 : 1;
  data["share_uk"] = std::to_string(share.uk);
  data["ctime"] = 1600000000;
  data["expiredType"] = 0;
  data["title"] = !share.title.empty() || share.top.empty() ? share.title
                                                            : share.entries[share.top.front()].path;
  data["file_list"] = {{"errno", 0}, {"list", std::move(list)}};
  data["self"] = 0;
  apply_overrides(data, share.page_data);
  return data;
}

}  // namespace

std::string missing_link_page() {
  return html_page("链接不存在 - 网盘分享",
                   "<div class=\"share-error\">\n<p>啊哦，你来晚了，分享的文件已经被删除了，"
                   "下次要早点哟。</p>\n<p class=\"error-reason\">链接不存在</p>\n</div>");
}

std::string page_gone_page() {
  return html_page("页面不存在",
                   "<div class=\"error-404\">\n<p>啊哦，你所访问的页面不存在了。</p>\n</div>");
}

std::string code_prompt_page(const Share& share) {
  return html_page(
      "请输入提取码 - 网盘分享",
      "<div class=\"verify-form\" data-shareid=\"" + std::to_string(share.shareid) +
          "\">\n<p>请输入提取密码：</p>\n<input id=\"accessCode\" type=\"text\" maxlength=\"4\">"
          "\n<a id=\"submitBtn\" href=\"javascript:;\">提取文件</a>\n</div>");
}

std::string data_page(const Share& share, const Tokens& tokens, std::uint64_t timestamp,
                      const std::string& sign, const JsonStyle& style, bool cut_data) {
  std::string data = encode_json(data_object(share, tokens, timestamp, sign), style);
  if (cut_data) data.resize(data.size() / 2);
  const std::string title =
      share.top.empty() ? "" : html_escape(share.entries[share.top.front()].name);
  return html_page(
      title + " - 网盘分享",
      "<div id=\"layoutMain\"></div>\n"
      "<script type=\"text/javascript\">\n"
      "var yunData = window.yunData || {};\n"
      "yunData.setData(" +
          data +
          ");\n"
          "</script>\n"
          "<script type=\"text/javascript\">yunData.ready && yunData.ready();</script>");
}

nlohmann::ordered_json listing_item(const Entry& entry, const Tokens& tokens) {
  nlohmann::ordered_json item = item_of(entry, tokens);
  apply_overrides(item, entry.wire);
  return item;
}

}  // namespace sharelink::sim

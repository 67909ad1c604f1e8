// The calls that move a share's content: folder listing, download-link
// requests and the download links themselves.

#include <algorithm>

#include "sim/checks.h"
#include "sim/pages.h"
#include "sim/service.h"
#include "sim/wire_format.h"

namespace sharelink::sim {
namespace {

constexpr std::uint64_t kMostListPage = 1000;
constexpr std::uint64_t kSignLifetime = 8 * 3600;  // of a page's sign; links have their knob

// The sekey the download body must carry: the decoded BDCLND value for a
// protected share; nothing or any sekey object for a public one.
std::string check_extra(const std::string& extra, const Share& share, const Tokens& tokens) {
  if (extra.empty() && !share.is_protected()) return "";
  const auto object = nlohmann::json::parse(extra, nullptr, false);
  if (object.is_discarded() || !object.is_object() || !object.contains("sekey") ||
      !object["sekey"].is_string()) {
    return "download: extra '" + extra + "' is not {\"sekey\":\"...\"}";
  }
  if (share.is_protected() && object["sekey"].get<std::string>() != tokens.sekey(share)) {
    return "download: sekey '" + object["sekey"].get<std::string>() +
           "' is not the decoded BDCLND value of the share";
  }
  return "";
}

// The one file fid_list names, or a fault.
std::string find_file(const std::string& fid_list, const Share& share, const Entry*& file) {
  std::uint64_t fs_id = 0;
  if (fid_list.size() < 3 || fid_list.front() != '[' || fid_list.back() != ']' ||
      !parse_uint(std::string_view(fid_list).substr(1, fid_list.size() - 2), fs_id)) {
    return "download: fid_list '" + fid_list + "' is not [fs_id] of one file";
  }
  file = share.find_fs_id(fs_id);
  if (!file || file->is_dir) {
    return "download: fs_id " + std::to_string(fs_id) + " is no file of share " + share.surl;
  }
  return "";
}

}  // namespace

Reply Service::list(const Incoming& in, std::optional<FaultKind> fault) {
  if (in.method != "GET") return refuse("list: not a GET");
  const std::vector<Param> query = split_params(in.query);
  std::string violation = check_params("list query", query, list_query());
  if (!violation.empty()) return refuse(violation);
  const Share* share = share_by(query[1].value, query[0].value);
  if (!share)
    return refuse("list: no share with uk=" + query[0].value + "&shareid=" + query[1].value);
  if (share->is_protected() && !unlocked(*share, in.cookie)) {
    return refuse("list: protected share " + share->surl + " listed without its BDCLND cookie");
  }
  std::uint64_t page = 0, num = 0;
  parse_uint(query[6].value, page);
  parse_uint(query[7].value, num);
  if (fault == FaultKind::first_page && page > 0) page = 1;
  if (page == 0 || num == 0 || num > kMostListPage) {
    return refuse("list: page must be 1 or more and num 1 to " + std::to_string(kMostListPage));
  }
  std::string dir;
  percent_decode(query[8].value, dir);
  const Entry* folder = share->find_path(dir);
  if (dir != share->root && (!folder || !folder->is_dir)) {
    return refuse("list: dir '" + dir + "' is no folder of share " + share->surl);
  }
  std::vector<std::size_t> items = folder ? folder->children : sorted_top_[index_of(*share)];
  if (folder && fault == FaultKind::self_loop) {
    const std::size_t self = static_cast<std::size_t>(folder - share->entries.data());
    const auto order = [share](std::size_t a, std::size_t b) {
      const Entry& x = share->entries[a];
      const Entry& y = share->entries[b];
      return x.name != y.name ? x.name > y.name : x.fs_id > y.fs_id;
    };
    items.insert(std::lower_bound(items.begin(), items.end(), self, order), self);
  }
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  const std::uint64_t first = (page - 1) * num;
  for (std::uint64_t i = first; i < items.size() && i < first + num; ++i) {
    list.push_back(listing_item(share->entries[items[i]], tokens_));
  }
  return json_reply(0, {{"list", std::move(list)}, {"guid_info", ""}, {"guid", 0}});
}

Reply Service::download(const Incoming& in, bool over_limit) {
  std::vector<Param> query;
  std::vector<Param> body;
  std::string violation = read_post_form("download", in.method, in.query, in.body, download_query(),
                                         download_body(), query, body);
  if (!violation.empty()) return refuse(violation);
  const Share* share = share_by(body[3].value, body[2].value);
  if (!share) {
    return refuse("download: no share with uk=" + body[2].value + "&primaryid=" + body[3].value);
  }
  violation = check_post(in, *share);
  if (!violation.empty()) return refuse("download: " + violation);

  std::uint64_t timestamp = 0;
  parse_uint(query[1].value, timestamp);
  const std::uint64_t now = unix_seconds();
  const std::size_t index = index_of(*share);
  const SimState::SignUse sign = state_.use_sign(index, *share, tokens_, query[0].value, timestamp);
  if (sign == SimState::SignUse::unknown) {
    return refuse("download: sign does not belong to the share's page of that timestamp");
  }
  if (timestamp > now + 60) return refuse("download: the page's timestamp lies in the future");
  // A sign the service gave is no fault of the client's once it has aged: the
  // service asks for the page again.
  if (sign == SimState::SignUse::stale || timestamp + kSignLifetime < now) {
    return json_reply(112, {{"show_msg", ""}});
  }
  if (query[2].value != tokens_.bdstoken(*share)) {
    return refuse("download: bdstoken is not the page's");
  }
  std::string extra, fid_list, answer;
  if (!percent_decode(body[6].value, extra, true) ||
      !percent_decode(body[7].value, fid_list, true)) {
    return refuse("download: extra or fid_list is not form-encoded");
  }
  const Entry* file = nullptr;
  violation = check_extra(extra, *share, tokens_);
  if (violation.empty()) violation = find_file(fid_list, *share, file);
  if (!violation.empty()) return refuse(violation);
  const bool top_level = file->parent == share->root;
  if (query[6].value != file->app_id && (top_level || query[6].value != kWebAppId)) {
    return refuse("download: app_id " + query[6].value + " is not the entry's");
  }

  percent_decode(body[4].value, answer);
  const std::string& vcode_str = body[5].value;
  const bool answered = !vcode_str.empty() && state_.redeem_captcha(vcode_str, answer, "pan");
  // Too many at once is met with the captcha demand as well; a right answer
  // lets the request through either way.
  const bool admitted = state_.admit_download(index, share->download_captcha, answered);
  if (!admitted || (over_limit && !answered)) return json_reply(-20, {{"show_msg", ""}});
  const std::string link =
      in.origin() + "/file/" + tokens_.md5(file->fs_id) +
      "?bkt=sim&fid=" + std::to_string(share->uk) + "-" + query[6].value + "-" +
      std::to_string(file->fs_id) + "&sh=" + std::to_string(share->shareid) +
      "&time=" + std::to_string(now) +
      "&rt=sh&sign=" + tokens_.link_sign(share->shareid, file->fs_id, now, in.user_agent) +
      "&expires=8h&fn=" + percent_encode(file->name);
  nlohmann::ordered_json item = {{"fs_id", file->fs_id},
                                 {"server_filename", file->name},
                                 {"size", file->size},
                                 {"dlink", link}};
  return json_reply(0, {{"server_time", now}, {"list", nlohmann::ordered_json::array({item})}});
}

LinkedFile Service::linked_file(const std::vector<Param>& query, const std::string& user_agent) {
  LinkedFile linked;
  const std::string fid = param_value(query, "fid");
  std::uint64_t shareid = 0, time = 0, fs_id = 0;
  const auto dash = fid.rfind('-');
  const Share* share = nullptr;
  if (parse_uint(param_value(query, "sh"), shareid) &&
      parse_uint(param_value(query, "time"), time) && dash != std::string::npos &&
      parse_uint(fid.substr(dash + 1), fs_id)) {
    for (const Share& candidate : fixture_.shares) {
      if (candidate.shareid == shareid) share = &candidate;
    }
  }
  const Entry* entry = share ? share->find_fs_id(fs_id) : nullptr;
  const std::uint64_t now = unix_seconds();
  if (!entry || entry->is_dir ||
      param_value(query, "sign") != tokens_.link_sign(shareid, fs_id, time, user_agent)) {
    linked.violation =
        "the link's fid, sh, time or sign is not one the service gave, or "
        "User-Agent '" +
        user_agent + "' is not the one it was requested with";
  } else if (now >= time && now - time >= state_.knobs().content.link_lifetime_seconds) {
    linked.violation = "the link has expired";
    linked.expired = true;
  } else {
    linked.file = entry;
  }
  return linked;
}

// The link itself only sends the client on to the content host, which checks
// the same parameters again: a client must carry its User-Agent over the hop.
Reply Service::file(const Incoming& in) {
  Reply reply;
  reply.status = 403;
  reply.content_type = "text/plain; charset=utf-8";
  reply.body = "link not valid";
  const LinkedFile linked = linked_file(split_params(in.query), in.user_agent);
  if (!linked.file) {
    // An aged link is the service's doing, not the client's: no violation.
    if (linked.expired) {
      reply.body = "link expired";
    } else {
      reply.violation = "file: " + linked.violation;
    }
    return reply;
  }
  reply.status = 302;
  reply.body.clear();
  reply.headers.emplace_back(
      "Location", content_origin_ + "/c/" + std::to_string(linked.file->fs_id) + "?" + in.query);
  return reply;
}

}  // namespace sharelink::sim

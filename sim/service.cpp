#include "sim/service.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>

#include "sim/captcha_image.h"
#include "sim/checks.h"
#include "sim/pages.h"
#include "sim/wire_format.h"

namespace sharelink::sim {
namespace {

std::uint64_t make_secret(std::uint64_t seed) {
  if (seed != 0) return seed * 0x9E3779B97F4A7C15ull + 1;
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

bool by_name_descending(const Share& share, std::size_t a, std::size_t b) {
  const Entry& x = share.entries[a];
  const Entry& y = share.entries[b];
  return x.name != y.name ? x.name > y.name : x.fs_id > y.fs_id;
}

nlohmann::ordered_json log_json(const std::vector<LogEntry>& entries) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const LogEntry& entry : entries) {
    list.push_back({{"seq", entry.seq},
                    {"method", entry.method},
                    {"path", entry.path},
                    {"query", entry.query},
                    {"body", entry.body},
                    {"cookie", entry.cookie},
                    {"referer", entry.referer},
                    {"endpoint", entry.endpoint},
                    {"violation", entry.violation},
                    {"fault", entry.fault},
                    {"start_us", entry.start_us},
                    {"end_us", entry.end_us}});
  }
  return list;
}

}  // namespace

std::uint64_t unix_seconds() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

Service::Service(Fixture fixture)
    : fixture_(std::move(fixture)), tokens_(make_secret(fixture_.seed)), state_(fixture_) {
  for (Share& share : fixture_.shares) {
    const auto order = [&share](std::size_t a, std::size_t b) {
      return by_name_descending(share, a, b);
    };
    for (Entry& entry : share.entries)
      std::sort(entry.children.begin(), entry.children.end(), order);
    sorted_top_.push_back(share.top);
    std::sort(sorted_top_.back().begin(), sorted_top_.back().end(), order);
  }
}

std::optional<Endpoint> Service::classify(std::string_view path) {
  if (path.substr(0, 3) == "/s/" || path == "/share/init") return Endpoint::page;
  if (path == "/share/verify") return Endpoint::verify;
  if (path == "/api/getcaptcha") return Endpoint::captcha;
  if (path == "/genimage") return Endpoint::image;
  if (path == "/share/list") return Endpoint::list;
  if (path == "/api/sharedownload") return Endpoint::download;
  if (path.substr(0, 6) == "/file/") return Endpoint::file;
  return std::nullopt;
}

Reply Service::handle(Endpoint endpoint, const Incoming& in, std::optional<FaultKind> fault,
                      const Arrival& arrival) {
  Reply reply = [&] {
    switch (endpoint) {
      case Endpoint::page:
        return page(in, fault);
      case Endpoint::verify:
        return verify(in);
      case Endpoint::captcha:
        return captcha(in);
      case Endpoint::image:
        return image(in, fault);
      case Endpoint::list:
        return list(in, fault);
      case Endpoint::download:
        return download(in, arrival.over_limit);
      case Endpoint::file:
        return file(in);
    }
    return refuse("unknown endpoint");
  }();
  if (fault == FaultKind::bare_success && reply.json && reply.violation.empty() &&
      reply.json->value("errno", -1) == 0) {
    const nlohmann::ordered_json request_id = (*reply.json)["request_id"];
    *reply.json = {{"errno", 0}, {"request_id", request_id}};
  }
  return reply;
}

Arrival Service::arrive(Endpoint endpoint, const Incoming& in) {
  Arrival arrival;
  if (endpoint != Endpoint::download) return arrival;
  // Read leniently: a request too broken to name its share is refused later
  // anyway and holds no place.
  const std::vector<Param> body = split_params(in.body);
  const Share* share = share_by(param_value(body, "primaryid"), param_value(body, "uk"));
  if (!share || share->max_download_in_flight == 0) return arrival;
  arrival.share = index_of(*share);
  arrival.over_limit = state_.enter_download(*arrival.share, share->max_download_in_flight);
  return arrival;
}

void Service::depart(const Arrival& arrival) {
  if (arrival.share) state_.leave_download(*arrival.share);
}

std::optional<Reply> Service::handle_hook(const Incoming& in) {
  Reply reply;
  reply.content_type = "text/plain; charset=utf-8";
  if (in.path == "/__sim/requests") {
    reply.content_type = "application/json; charset=utf-8";
    reply.body = encode_json(log_json(state_.log_entries()), JsonStyle{});
  } else if (in.path == "/__sim/captcha") {
    const auto record = state_.find_captcha(param_value(split_params(in.query), "vcode_str"));
    reply.status = record ? 200 : 404;
    reply.body = record ? record->answer : "no such captcha";
  } else if (in.path == "/__sim/stats") {
    const Traffic traffic = state_.traffic();
    reply.content_type = "application/json; charset=utf-8";
    reply.body =
        nlohmann::ordered_json{{"connections", traffic.connections}, {"requests", traffic.requests}}
            .dump();
  } else if (in.path == "/__sim/reset" && in.method == "POST") {
    state_.reset();
    reply.body = "ok";
  } else {
    return std::nullopt;
  }
  return reply;
}

void Service::finish(Reply& reply) const {
  if (!reply.json) return;
  reply.content_type = "application/json; charset=utf-8";
  reply.body = encode_json(*reply.json, fixture_.style);
}

Reply Service::json_reply(int errno_value, nlohmann::ordered_json members) {
  Reply reply;
  nlohmann::ordered_json json;
  json["errno"] = errno_value;
  json["request_id"] = state_.next_request_id();
  for (auto& item : members.items())
    json[item.key()] = std::move(item.value());
  reply.json = std::move(json);
  return reply;
}

Reply Service::refuse(std::string violation) {
  Reply reply = json_reply(2);
  reply.violation = std::move(violation);
  return reply;
}

std::size_t Service::index_of(const Share& share) const {
  return static_cast<std::size_t>(&share - fixture_.shares.data());
}

bool Service::unlocked(const Share& share, std::string_view cookie_header) const {
  // cpp-httplib hands header values over percent-decoded, so the cookie is
  // compared in both spellings.
  const std::string encoded = "BDCLND=" + tokens_.cookie_value(share);
  const std::string decoded = "BDCLND=" + tokens_.sekey(share);
  std::size_t start = 0;
  while (start <= cookie_header.size()) {
    const std::size_t end = std::min(cookie_header.find(';', start), cookie_header.size());
    std::string_view item = cookie_header.substr(start, end - start);
    while (!item.empty() && item.front() == ' ')
      item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ')
      item.remove_suffix(1);
    if (item == encoded || item == decoded) return true;
    start = end + 1;
  }
  return false;
}

const Share* Service::share_by(std::string_view shareid, std::string_view uk) const {
  std::uint64_t id = 0, user = 0;
  if (!parse_uint(shareid, id) || !parse_uint(uk, user)) return nullptr;
  return fixture_.find_share(id, user);
}

std::string Service::check_post(const Incoming& in, const Share& share) const {
  std::string fault = check_form_type(in.content_type);
  if (fault.empty()) {
    fault = check_referer(
        in.referer, in.origin(), share.surl,
        "shareid=" + std::to_string(share.shareid) + "&uk=" + std::to_string(share.uk));
  }
  return fault;
}

Reply Service::page(const Incoming& in, std::optional<FaultKind> fault) {
  const bool init = in.path == "/share/init";
  const std::vector<Param> params = split_params(in.query);
  const Share* share = init ? share_by(param_value(params, "shareid"), param_value(params, "uk"))
                            : fixture_.find_surl(std::string_view(in.path).substr(3));
  Reply reply;
  if (!share) {
    reply.body = missing_link_page();
    return reply;
  }
  if (share->page_missing_first_fetch && state_.first_page_fetch(index_of(*share))) {
    reply.body = page_gone_page();
  } else if (share->is_protected() && !unlocked(*share, in.cookie)) {
    if (init) {
      reply.body = code_prompt_page(*share);
    } else {
      const std::string target = in.origin() +
                                 "/share/init?shareid=" + std::to_string(share->shareid) +
                                 "&uk=" + std::to_string(share->uk);
      reply.status = 302;
      reply.headers.emplace_back("Location", target);
      reply.body = "<html><body><a href=\"" + html_escape(target) + "\">moved</a></body></html>";
    }
  } else {
    // Even a page the client cannot read replaces the sign before it.
    const std::uint64_t timestamp = unix_seconds();
    const std::string sign = state_.issue_sign(index_of(*share), *share, tokens_, timestamp);
    reply.body =
        data_page(*share, tokens_, timestamp, sign, fixture_.style, fault == FaultKind::malformed);
  }
  return reply;
}

Reply Service::verify(const Incoming& in) {
  std::vector<Param> query;
  std::vector<Param> body;
  std::string fault = read_post_form("verify", in.method, in.query, in.body, verify_query(),
                                     verify_body(), query, body);
  if (!fault.empty()) return refuse(fault);
  const Share* share = share_by(query[0].value, query[1].value);
  if (!share)
    return refuse("verify: no share with shareid=" + query[0].value + "&uk=" + query[1].value);
  fault = check_post(in, *share);
  if (!fault.empty()) return refuse("verify: " + fault);

  std::string code, answer;
  percent_decode(body[0].value, code);
  percent_decode(body[1].value, answer);
  const std::string& vcode_str = body[2].value;
  const std::size_t index = index_of(*share);
  const bool answered =
      !vcode_str.empty() && state_.redeem_captcha(vcode_str, answer, "shareverify");
  if (!share->is_protected()) return json_reply(0, {{"err_msg", ""}});
  if (state_.verify_wants_captcha(index, share->verify_captcha) && !answered) {
    return json_reply(-62, {{"err_msg", ""}});
  }
  if (code.empty()) return json_reply(share->empty_code_errno, {{"err_msg", ""}});
  const auto upper = [](std::string text) {
    for (char& c : text)
      c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    return text;
  };
  if (upper(code) != upper(*share->code)) {
    state_.count_wrong_code(index);
    return json_reply(share->wrong_code_errno, {{"err_msg", ""}});
  }
  state_.clear_wrong_codes(index);
  const std::string cookie = tokens_.cookie_value(*share);
  Reply reply = json_reply(0, {{"err_msg", ""}, {"randsk", cookie}});
  reply.headers.emplace_back("Set-Cookie", "BDCLND=" + cookie + "; path=/");
  return reply;
}

Reply Service::captcha(const Incoming& in) {
  if (in.method != "GET") return refuse("getcaptcha: not a GET");
  const std::vector<Param> query = split_params(in.query);
  const std::string fault = check_params("getcaptcha query", query, captcha_query());
  if (!fault.empty()) return refuse(fault);
  const std::string id = state_.issue_captcha(query[0].value);
  return json_reply(0, {{"vcode_img", in.origin() + "/genimage?" + id}, {"vcode_str", id}});
}

Reply Service::image(const Incoming& in, std::optional<FaultKind> fault) {
  Reply reply;
  const auto record = state_.find_captcha(in.query);
  if (!record) {
    reply.status = 404;
    reply.content_type = "text/plain; charset=utf-8";
    reply.body = "no such captcha";
    return reply;
  }
  const std::uint64_t seed = std::hash<std::string>{}(in.query);
  reply.body = captcha_file(record->answer, seed, fixture_.captcha_format);
  if (fault == FaultKind::corrupt_captcha) reply.body = corrupt_file(reply.body, seed);
  reply.content_type = fixture_.captcha_format == ImageFormat::png ? "image/png" : "image/jpeg";
  return reply;
}

}  // namespace sharelink::sim

#include "sim/checks.h"

#include <algorithm>

#include "sim/wire_format.h"

namespace sharelink::sim {
namespace {

bool all_digits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool is_logid(std::string_view text) {
  std::string decoded;
  if (text.size() != 44 || !base64_decode(text, decoded) || decoded.size() != 33) return false;
  const std::string_view view(decoded);
  return all_digits(view.substr(0, 13)) && view[13] == '.' && all_digits(view.substr(14));
}

// Why the value does not have the form, or "".
std::string form_fault(const Expect& expect, const std::string& value) {
  switch (expect.form) {
    case Form::any:
      return "";
    case Form::fixed:
      return value == expect.fixed ? "" : std::string("is not ") + expect.fixed;
    case Form::digits:
      return all_digits(value) ? "" : "is not a decimal number";
    case Form::millis:
      return value.size() == 13 && all_digits(value) ? "" : "is not a 13-digit time stamp";
    case Form::seconds:
      return value.size() == 10 && all_digits(value) ? "" : "is not a 10-digit time stamp";
    case Form::random_t:
      return value.size() == 18 && value.compare(0, 2, "0.") == 0 && all_digits(value.substr(2))
                 ? ""
                 : "is not \"0.\" and 16 digits";
    case Form::logid:
      return is_logid(value) ? "" : "is not Base64 of a 13-digit time stamp, \".\" and 19 digits";
    case Form::encoded: {
      std::string decoded;
      if (!is_percent_encoded(value)) return "is not percent-encoded";
      percent_decode(value, decoded);
      return is_valid_utf8(decoded) ? "" : "does not decode to UTF-8";
    }
    case Form::prod:
      return value == "shareverify" || value == "pan" ? "" : "is not shareverify or pan";
  }
  return "";
}

}  // namespace

std::vector<Param> split_params(std::string_view text) {
  std::vector<Param> params;
  if (text.empty()) return params;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(text.find('&', start), text.size());
    const std::string_view item = text.substr(start, end - start);
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      params.push_back(Param{std::string(item), "", false});
    } else {
      params.push_back(
          Param{std::string(item.substr(0, equals)), std::string(item.substr(equals + 1)), true});
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return params;
}

std::string param_value(const std::vector<Param>& params, std::string_view name) {
  for (const Param& param : params) {
    if (param.name == name) return param.value;
  }
  return "";
}

std::string check_params(std::string_view part, const std::vector<Param>& params,
                         const std::vector<Expect>& expected) {
  const std::string where(part);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Expect& expect = expected[i];
    const std::string position = where + " parameter " + std::to_string(i + 1);
    if (i >= params.size()) {
      return where + " ends before '" + expect.name + "' (parameter " + std::to_string(i + 1) + ")";
    }
    const Param& param = params[i];
    if (param.name != expect.name) {
      return position + " is '" + param.name + "', expected '" + expect.name + "'";
    }
    if (!param.has_equals) return position + " '" + param.name + "' has no '='";
    const std::string fault = form_fault(expect, param.value);
    if (!fault.empty()) {
      return where + " " + expect.name + "=" + param.value.substr(0, 80) + " " + fault;
    }
  }
  if (params.size() > expected.size()) {
    return where + " has an extra parameter '" + params[expected.size()].name + "' after '" +
           expected.back().name + "'";
  }
  return "";
}

std::string read_post_form(std::string_view call, std::string_view method,
                           std::string_view query_text, std::string_view body_text,
                           const std::vector<Expect>& query_expected,
                           const std::vector<Expect>& body_expected, std::vector<Param>& query,
                           std::vector<Param>& body) {
  const std::string name(call);
  if (method != "POST") return name + ": not a POST";
  query = split_params(query_text);
  body = split_params(body_text);
  std::string violation = check_params(name + " query", query, query_expected);
  if (violation.empty()) violation = check_params(name + " body", body, body_expected);
  return violation;
}

const std::vector<Expect>& verify_query() {
  static const std::vector<Expect> expected = {{"shareid", Form::digits},
                                               {"uk", Form::digits},
                                               {"t", Form::millis},
                                               {"bdstoken", Form::fixed, "null"},
                                               {"channel", Form::fixed, "chunlei"},
                                               {"clienttype", Form::fixed, "0"},
                                               {"web", Form::fixed, "1"},
                                               {"app_id", Form::fixed, "250528"},
                                               {"logid", Form::logid}};
  return expected;
}

const std::vector<Expect>& verify_body() {
  static const std::vector<Expect> expected = {
      {"pwd", Form::encoded}, {"vcode", Form::encoded}, {"vcode_str", Form::any}};
  return expected;
}

const std::vector<Expect>& captcha_query() {
  static const std::vector<Expect> expected = {{"prod", Form::prod},
                                               {"web", Form::fixed, "1"},
                                               {"t", Form::random_t},
                                               {"bdstoken", Form::fixed, "null"},
                                               {"channel", Form::fixed, "chunlei"},
                                               {"clienttype", Form::fixed, "0"},
                                               {"web", Form::fixed, "1"},
                                               {"app_id", Form::fixed, "250528"},
                                               {"logid", Form::logid}};
  return expected;
}

const std::vector<Expect>& list_query() {
  static const std::vector<Expect> expected = {{"uk", Form::digits},
                                               {"shareid", Form::digits},
                                               {"order", Form::fixed, "server_filename"},
                                               {"desc", Form::fixed, "1"},
                                               {"showempty", Form::fixed, "0"},
                                               {"web", Form::fixed, "1"},
                                               {"page", Form::digits},
                                               {"num", Form::digits},
                                               {"dir", Form::encoded},
                                               {"t", Form::random_t},
                                               {"bdstoken", Form::fixed, "null"},
                                               {"channel", Form::fixed, "chunlei"},
                                               {"clienttype", Form::fixed, "0"},
                                               {"web", Form::fixed, "1"},
                                               {"app_id", Form::fixed, "250528"},
                                               {"logid", Form::logid}};
  return expected;
}

const std::vector<Expect>& download_query() {
  static const std::vector<Expect> expected = {{"sign", Form::any},
                                               {"timestamp", Form::seconds},
                                               {"bdstoken", Form::any},
                                               {"channel", Form::fixed, "chunlei"},
                                               {"clienttype", Form::fixed, "0"},
                                               {"web", Form::fixed, "1"},
                                               {"app_id", Form::digits},
                                               {"logid", Form::logid}};
  return expected;
}

const std::vector<Expect>& download_body() {
  static const std::vector<Expect> expected = {
      {"encrypt", Form::fixed, "0"},  {"product", Form::fixed, "share"},
      {"uk", Form::digits},           {"primaryid", Form::digits},
      {"vcode_input", Form::encoded}, {"vcode_str", Form::any},
      {"extra", Form::any},           {"fid_list", Form::any}};
  return expected;
}

std::string check_form_type(std::string_view content_type) {
  const std::string_view type = content_type.substr(0, content_type.find(';'));
  if (type == "application/x-www-form-urlencoded") return "";
  return "Content-Type '" + std::string(content_type) +
         "' is not application/x-www-form-urlencoded";
}

std::string check_referer(std::string_view referer, std::string_view origin, std::string_view surl,
                          std::string_view init_query) {
  const std::string page = std::string(origin) + "/s/" + std::string(surl);
  const std::string init = std::string(origin) + "/share/init?" + std::string(init_query);
  if (referer.empty()) return "no Referer line";
  if (referer == init) return "";
  if (referer.substr(0, page.size()) == page &&
      (referer.size() == page.size() || referer[page.size()] == '?' ||
       referer[page.size()] == '#')) {
    return "";
  }
  return "Referer '" + std::string(referer) + "' is not " + page + " or " + init;
}

}  // namespace sharelink::sim

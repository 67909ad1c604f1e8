#pragma once

// The strictness of the service: each call's parameters by name, order and
// form, and the header lines the two POSTs must carry. Every check returns ""
// when the request passes and otherwise one line naming the first fault.

#include <string>
#include <string_view>
#include <vector>

namespace sharelink::sim {

struct Param {
  std::string name;
  std::string value;  // raw, still encoded
  bool has_equals = true;
};

// Splits a query or form body at "&" and each item at its first "=".
std::vector<Param> split_params(std::string_view text);

// The value of the first parameter of that name, or "".
std::string param_value(const std::vector<Param>& params, std::string_view name);

enum class Form {
  any,
  fixed,     // exactly Expect::fixed
  digits,    // one or more decimal digits
  millis,    // a 13-digit millisecond time stamp
  seconds,   // a 10-digit second time stamp
  random_t,  // "0." and 16 digits
  logid,     // Base64 of a 13-digit time stamp, "." and 19 digits
  encoded,   // percent-encoded UTF-8, possibly empty
  prod,      // "shareverify" or "pan"
};

struct Expect {
  const char* name;
  Form form;
  const char* fixed = "";
};

std::string check_params(std::string_view part, const std::vector<Param>& params,
                         const std::vector<Expect>& expected);

// Splits and checks the parameters of a form POST to the named call; "" when
// the method, the query and the body are what the service expects, else the
// violation.
std::string read_post_form(std::string_view call, std::string_view method,
                           std::string_view query_text, std::string_view body_text,
                           const std::vector<Expect>& query_expected,
                           const std::vector<Expect>& body_expected, std::vector<Param>& query,
                           std::vector<Param>& body);

// The parameter lists of the service calls, in the order the client sends them.
const std::vector<Expect>& verify_query();
const std::vector<Expect>& verify_body();
const std::vector<Expect>& captcha_query();
const std::vector<Expect>& list_query();
const std::vector<Expect>& download_query();
const std::vector<Expect>& download_body();

// A POST of form data, as the client announces it.
std::string check_form_type(std::string_view content_type);

// The Referer of the POSTs: the address of the share as the client fetched it,
// /s/<surl> or the /share/init address of its redirect, at origin (scheme://host).
std::string check_referer(std::string_view referer, std::string_view origin, std::string_view surl,
                          std::string_view init_query);

}  // namespace sharelink::sim

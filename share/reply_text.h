#pragma once

// Reading the service's pages and replies, and the addresses they name.

#include <string>

namespace sharelink {

// "scheme://host[:port]" of an absolute address; "" when it has no scheme.
std::string origin_of(const std::string& address);

// A Location value made absolute against the address it answered.
std::string resolve_location(const std::string& base, const std::string& location);

// The JSON object that follows marker in a page, cut by matching its braces
// outside strings; "" when there is no complete object after the marker.
std::string cut_json_object(const std::string& page, const std::string& marker);

// The string value of the first member named key in a JSON text, with its
// escapes decoded, as local text; "" when there is none.
std::string json_string_member(const std::string& reply, const std::string& key);

// The value of the cookie named name in a cookie text, up to the next ";" or the
// end of the text; "" when there is none.
std::string cookie_value(const std::string& cookies, const std::string& name);

}  // namespace sharelink

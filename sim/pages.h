#pragma once

// The HTML pages of the service and the JSON shape of share entries.

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/fixture.h"
#include "sim/tokens.h"
#include "sim/wire_format.h"

namespace sharelink::sim {

// Answers to an unknown share address.
std::string missing_link_page();
// The service's occasional hiccup: the share is there, the page says it is not.
std::string page_gone_page();
// A protected share seen without its cookie.
std::string code_prompt_page(const Share& share);

// The share page with its data object in a yunData.setData( ... ); script,
// carrying the sign issued for it. cut_data leaves the object unfinished (the
// "malformed" fault).
std::string data_page(const Share& share, const Tokens& tokens, std::uint64_t timestamp,
                      const std::string& sign, const JsonStyle& style, bool cut_data);

// An entry as the folder listing reports it (the page adds app_id and
// parent_path).
nlohmann::ordered_json listing_item(const Entry& entry, const Tokens& tokens);

}  // namespace sharelink::sim

// A service reply as ShareClient reads it before and besides parsing it: the
// errno number found by its marker, its message, and the string members read
// straight from the text (the download link, the captcha picture and id).
// Input: the reply as local text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "http/http_request.h"
#include "script/json_document.h"
#include "share/reply_text.h"
#include "share/request_params.h"
#include "share/result_codes.h"
#include "share/service_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  const std::string reply(reinterpret_cast<const char*>(data), size);

  const int code = read_errno(reply);
  if (reply.find("errno\":") == std::string::npos) FUZZ_CHECK(code == 0);
  FUZZ_CHECK(!error_message(code).empty());

  HttpResponse response;
  response.text = reply;
  JsonDocument parsed;
  if (reply_code(response, parsed) != kJsonParseFailed) {
    FUZZ_CHECK(parsed.type_of() == JsonDocument::kTypeObject);
  }

  for (const char* key : {"dlink", "vcode_img", "vcode_str", "errmsg"}) {
    const std::string value = json_string_member(reply, key);
    // Escapes only shrink; the most a byte grows is an invalid one turning into
    // the four-byte local form of U+FFFD.
    FUZZ_CHECK(value.size() <= 4 * reply.size());
    FUZZ_CHECK(value.find('\0') == std::string::npos);
  }
  // The marker form of the same read, with the quote placeholder.
  text_between(reply, "dlink#引号:#引号", "#引号");
  return 0;
}

#include <cstdlib>

#include "http/http_request.h"
#include "script/json_document.h"
#include "share/request_params.h"
#include "share/result_codes.h"
#include "share/share_client.h"

namespace sharelink {

namespace {

// Deeper than any real folder tree; a service that keeps naming new sub-folders
// must not exhaust the stack.
constexpr int kMaxFolderDepth = 512;

}  // namespace

int ShareClient::list_folder(const std::string& uk, const std::string& shareid,
                             const std::string& dir, FileList& files) {
  Listing listing{uk, shareid, files, {}};
  return list_folder_into(listing, dir, 1);
}

int ShareClient::list_folder_into(Listing& listing, const std::string& dir, int depth) {
  if (depth > kMaxFolderDepth) return kJsonParseFailed;
  // A folder named again inside itself (or twice in one share) is listed once.
  if (!listing.listed.insert(dir).second) return 0;
  for (int page = 1;; ++page) {
    HttpRequest request;
    request.url = origin_ + "/share/list?uk=" + listing.uk + "&shareid=" + listing.shareid +
                  "&order=server_filename&desc=1&showempty=0&web=1&page=" + std::to_string(page) +
                  "&num=" + std::to_string(kListPageSize) + "&dir=" + percent_encode(dir) +
                  "&t=0." + random_digits(16) +
                  "&bdstoken=null&channel=chunlei&clienttype=0&web=1&app_id=" + kWebAppId +
                  "&logid=" + make_logid();
    JsonDocument reply;
    const int code = reply_code(send(request, true), reply);
    if (code != 0) return code;
    if (reply.type_of("list") != JsonDocument::kTypeArray) return kJsonParseFailed;
    const int count = reply.count("list");
    for (int i = 0; i < count; ++i) {
      const std::string base = "list[" + std::to_string(i) + "]";
      const std::vector<std::string> texts =
          reply.get_texts(base, {"size", "path", "isdir", "server_filename"});
      FileEntry entry;
      entry.size = texts[0];
      entry.path = texts[1];
      entry.fs_id = reply.get_text(base + ".fs_id", true);
      entry.isdir = texts[2];
      entry.app_id = kWebAppId;
      entry.server_filename = texts[3];
      count_entry(entry);
      listing.files.push_back(entry);
      if (entry.isdir == "1") {
        const int sub = list_folder_into(listing, entry.path, depth + 1);
        if (sub != 0) return sub;
      }
    }
    if (count < kListPageSize) {
      ++progress_.folders_listed;
      report_progress();
      return 0;
    }
    report_progress();
  }
}

}  // namespace sharelink

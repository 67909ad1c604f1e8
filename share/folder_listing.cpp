#include <utility>

#include "http/http_request.h"
#include "script/json_document.h"
#include "share/request_params.h"
#include "share/result_codes.h"
#include "share/service_replies.h"
#include "share/share_client.h"

namespace sharelink {

int ShareClient::list_folder(const std::string& uk, const std::string& shareid,
                             const std::string& dir, FileList& files) {
  Listing listing{uk, shareid, files, {}};
  return list_folder_into(listing, dir, 1);
}

int ShareClient::list_folder_into(Listing& listing, const std::string& dir, int depth) {
  // A folder named again inside itself (or twice in one share) is listed once.
  if (!listing.listed.insert(dir).second) return 0;
  if (depth > limits_.max_folder_depth) return kFolderTooDeep;
  std::set<std::string> ids;  // of the entries this folder listed
  for (int page = 1;; ++page) {
    if (listing.pages >= limits_.max_list_pages) return kTooManyEntries;
    ++listing.pages;
    FileList found;
    bool full = false;
    const int code = read_list_page(listing, dir, page, found, ids, full);
    if (code != 0 && !ran_out_of_room(code)) return code;
    // A page with nothing new ends the folder: a service that ignores the page
    // number answers the same entries again and again.
    const bool ends = code == 0 && (!full || found.empty());
    // Entries of this page wait while the sub-folders before them are listed;
    // the limit counts them.
    listing.pending += found.size();
    for (FileEntry& entry : found) {
      --listing.pending;
      count_entry(entry);
      const bool folder = entry.isdir == "1";
      const std::string path = folder ? entry.path : std::string();
      listing.files.push_back(std::move(entry));
      if (folder) {
        const int sub = list_folder_into(listing, path, depth + 1);
        if (sub != 0) return sub;
      }
    }
    if (code != 0) return code;
    if (ends) {
      ++progress_.folders_listed;
      report_progress();
      return 0;
    }
    report_progress();
  }
}

int ShareClient::read_list_page(Listing& listing, const std::string& dir, int page, FileList& found,
                                std::set<std::string>& ids, bool& full) {
  HttpRequest request;
  request.url = origin_ + "/share/list?uk=" + percent_encode(listing.uk) +
                "&shareid=" + percent_encode(listing.shareid) +
                "&order=server_filename&desc=1&showempty=0&web=1&page=" + std::to_string(page) +
                "&num=" + std::to_string(kListPageSize) + "&dir=" + percent_encode(dir) + "&t=0." +
                random_digits(16) +
                "&bdstoken=null&channel=chunlei&clienttype=0&web=1&app_id=" + kWebAppId +
                "&logid=" + make_logid();
  JsonDocument reply;
  const int code = reply_code(send(request, true), reply);
  if (code != 0) return code;
  full = reply.count("list") >= kListPageSize;
  return read_entries(reply, "list", false, listing.files.size() + listing.pending, ids, found);
}

}  // namespace sharelink

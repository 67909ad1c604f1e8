// The share page's data object, read as ShareClient reads it: the object after
// "yunData.setData(" cut out of the page by its braces, parsed, its tokens read
// and its file list turned into entries. Input: the page as local text.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz/fuzz_support.h"
#include "script/json_document.h"
#include "share/file_entry.h"
#include "share/reply_text.h"
#include "share/result_codes.h"
#include "share/service_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sharelink;
  const std::string page(reinterpret_cast<const char*>(data), size);
  const std::string marker = "yunData.setData(";

  const std::string object = cut_json_object(page, marker);
  if (object.empty()) return 0;
  // The cut is a piece of the page after the marker, from its opening brace.
  FUZZ_CHECK(object.front() == '{');
  FUZZ_CHECK(page.find(object, page.find(marker)) != std::string::npos);

  JsonDocument doc;
  if (!doc.parse(object)) return 0;
  for (const char* token : {"sign", "timestamp", "bdstoken", "uk", "shareid"})
    doc.get_text(token);
  if (doc.type_of("file_list") != JsonDocument::kTypeObject) return 0;

  // Little room, so that the limits are reached as often as the end of the list.
  constexpr std::size_t kRoom = 8;
  ListRoom room{kRoom, 6 * kEntryTextLimit};
  std::set<std::string> ids;
  FileList files;
  int skipped = 0;
  const int code = read_list(doc, "file_list.list", true, room, ids, files, skipped);
  FUZZ_CHECK(files.size() <= kRoom && ids.size() == files.size() && skipped >= 0);
  FUZZ_CHECK(code == 0 || code == kJsonParseFailed || code == kTooManyEntries ||
             code == kListTooLarge);
  if (code == kTooManyEntries) FUZZ_CHECK(files.size() == kRoom);
  for (const FileEntry& entry : files) {
    // Only what the next requests can carry becomes an entry.
    FUZZ_CHECK(!entry.fs_id.empty() &&
               entry.fs_id.find_first_not_of("0123456789") == std::string::npos);
    FUZZ_CHECK(entry.isdir == "0" || entry.isdir == "1");
    FUZZ_CHECK(entry.isdir == "0" || !entry.path.empty());
    FUZZ_CHECK(ids.count(entry.fs_id) == 1);
    FUZZ_CHECK(entry.server_filename.size() <= kEntryTextLimit &&
               entry.path.size() <= kEntryTextLimit);
  }
  return 0;
}

#include "share/service_replies.h"

#include <optional>
#include <vector>

#include "http/http_request.h"
#include "script/json_document.h"
#include "share/request_params.h"
#include "share/result_codes.h"
#include "share/share_client.h"
#include "text/local_text.h"

namespace sharelink {

namespace {

// An item's members, read in one go in their JSON form, which shows each
// member's type where the plain form would not: a string is quoted, an object
// or array bracketed, a float keeps its fraction or exponent.
const std::vector<std::string> kItemFields = {"fs_id", "server_filename", "isdir",      "size",
                                              "path",  "app_id",          "parent_path"};
enum ItemField { kFsId, kName, kIsDir, kSize, kPath, kAppId, kParentPath };

bool is_string_form(const std::string& json) {
  return json.size() >= 2 && json.front() == '"' && json.back() == '"';
}

bool is_number_form(const std::string& json) {
  return !json.empty() && (json.front() == '-' || (json.front() >= '0' && json.front() <= '9'));
}

// The text of a string's JSON form. The form escapes only quotes, backslashes
// and control characters, so without a backslash byte it is the text itself.
// A zero character would end a text where the reader converts it: it becomes
// U+FFFD, so that a name keeps what follows it.
std::string string_text(const std::string& json) {
  if (json.find('\\') == std::string::npos) return json.substr(1, json.size() - 2);
  std::string literal;
  literal.reserve(json.size());
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (is_lead_byte(c) && i + 1 < json.size()) {
      // Both bytes: a trail byte may be a backslash's.
      literal += c;
      literal += json[++i];
    } else if (c == '\\' && json.compare(i, 6, "\\u0000") == 0) {
      literal += "\\ufffd";
      i += 5;
    } else if (c == '\\' && i + 1 < json.size()) {
      literal += c;
      literal += json[++i];
    } else {
      literal += c;
    }
  }
  JsonDocument value;
  return value.parse("[" + literal + "]") ? value.get_text("[0]") : std::string();
}

// A member that holds a text or a number, as text into out ("" when absent or
// null). False for a member of any other type.
bool text_member(const std::string& json, std::string& out) {
  if (json.empty() || json == "null") {
    out.clear();
  } else if (is_string_form(json)) {
    out = string_text(json);
  } else if (is_number_form(json)) {
    out = json;  // a number reads the same in both forms
  } else {
    return false;
  }
  return true;
}

// An id goes into requests: only an unsigned 64-bit integer as the reply wrote
// it. A float, a negative number, a text or anything beyond 2^64 - 1 (which the
// reader can only hold rounded) is none.
bool is_id(const std::string& json) {
  static const std::string kLargest = "18446744073709551615";
  if (json.empty() || json.size() > kLargest.size() || (json[0] == '0' && json.size() > 1)) {
    return false;
  }
  for (const char c : json) {
    if (c < '0' || c > '9') return false;
  }
  return json.size() < kLargest.size() || json <= kLargest;
}

std::optional<FileEntry> entry_of(const std::vector<std::string>& json, bool on_share_page) {
  if (!is_id(json[kFsId]) || !is_string_form(json[kName])) return std::nullopt;
  // A JSON form is never shorter than its text: a longer one is checked once read.
  for (const std::string& member : json) {
    if (member.size() > 6 * kEntryTextLimit + 2) return std::nullopt;
  }
  FileEntry entry;
  entry.fs_id = json[kFsId];
  entry.server_filename = string_text(json[kName]);
  if (!text_member(json[kIsDir], entry.isdir) || (entry.isdir != "0" && entry.isdir != "1") ||
      !text_member(json[kSize], entry.size) || !text_member(json[kPath], entry.path) ||
      (entry.isdir == "1" && entry.path.empty())) {
    return std::nullopt;
  }
  if (!on_share_page) {
    entry.app_id = ShareClient::kWebAppId;
    return entry;
  }
  if (!text_member(json[kAppId], entry.app_id) ||
      !text_member(json[kParentPath], entry.parent_path)) {
    return std::nullopt;
  }
  entry.decoded_parent_path = percent_decode(entry.parent_path, true);
  return entry;
}

bool within_text_limit(const FileEntry& entry) {
  for (const std::string* text : {&entry.app_id, &entry.parent_path, &entry.decoded_parent_path,
                                  &entry.server_filename, &entry.size, &entry.path}) {
    if (text->size() > kEntryTextLimit) return false;
  }
  return true;
}

}  // namespace

bool ran_out_of_room(int code) {
  return code == kTooManyEntries || code == kListTooLarge || code == kFolderTooDeep;
}

std::size_t entry_bytes(const FileEntry& entry) {
  return sizeof(FileEntry) + entry.fs_id.size() + entry.app_id.size() + entry.parent_path.size() +
         entry.decoded_parent_path.size() + entry.server_filename.size() + entry.size.size() +
         entry.isdir.size() + entry.path.size() + entry.dlink.size();
}

int failure_code(const HttpResponse& response) {
  if (response.failure == 0) return 0;
  // Only the stop fires the token of a request whose answer is still wanted.
  if (response.failure == kHttpFailureCancelled) return kStopped;
  if (response.cause == HttpCause::out_of_memory) return kOutOfMemory;
  return kRequestFailed;
}

int reply_code(const HttpResponse& response, JsonDocument& reply) {
  if (response.failure != 0) return failure_code(response);
  if (!reply.parse(response.text) || reply.type_of() != JsonDocument::kTypeObject) {
    return kJsonParseFailed;
  }
  return read_errno(response.text);
}

namespace {

// Calls visit with the entry each item of the array at path describes, or
// with null for an item that describes none, until visit returns a code.
template <typename Visit>
int each_item(const JsonDocument& reply, const std::string& path, bool on_share_page, Visit visit) {
  // Only a real array is counted: "length" of an object or a text is whatever
  // the service wrote there.
  if (reply.type_of(path) != JsonDocument::kTypeArray) return kJsonParseFailed;
  const int count = reply.count(path);
  for (int i = 0; i < count; ++i) {
    const std::string base = path + "[" + std::to_string(i) + "]";
    std::optional<FileEntry> entry =
        entry_of(reply.get_texts(base, kItemFields, true), on_share_page);
    const bool usable = entry && within_text_limit(*entry);
    const int code = visit(usable ? &*entry : nullptr);
    if (code != 0) return code;
  }
  return 0;
}

int take_entry(FileEntry& entry, ListRoom& room, std::set<std::string>& ids, FileList& found) {
  if (ids.count(entry.fs_id) > 0) return 0;
  if (room.entries == 0) return kTooManyEntries;
  const std::size_t bytes = entry_bytes(entry);
  if (bytes > room.bytes) return kListTooLarge;
  ids.insert(entry.fs_id);
  found.push_back(std::move(entry));
  --room.entries;
  room.bytes -= bytes;
  return 0;
}

}  // namespace

int read_list(const JsonDocument& reply, const std::string& path, bool on_share_page,
              ListRoom& room, std::set<std::string>& ids, FileList& found, int& skipped) {
  return each_item(reply, path, on_share_page, [&](FileEntry* entry) {
    if (entry == nullptr) {
      ++skipped;
      return 0;
    }
    return take_entry(*entry, room, ids, found);
  });
}

int read_items(const JsonDocument& reply, const std::string& path, bool on_share_page,
               std::size_t max_bytes, ListItems& items) {
  std::size_t bytes = 0;
  int skipped = 0;
  const int code = each_item(reply, path, on_share_page, [&](FileEntry* entry) {
    if (entry == nullptr) {
      ++skipped;
      return 0;
    }
    bytes += entry_bytes(*entry) + sizeof(int);
    if (bytes > max_bytes) return kListTooLarge;
    items.skipped_before.push_back(skipped);
    items.entries.push_back(std::move(*entry));
    skipped = 0;
    return 0;
  });
  items.skipped_after = skipped;
  items.bytes = bytes;
  return code;
}

int take_items(ListItems& items, ListRoom& room, std::set<std::string>& ids, FileList& found,
               int& skipped) {
  for (std::size_t i = 0; i < items.entries.size(); ++i) {
    skipped += items.skipped_before[i];
    const int code = take_entry(items.entries[i], room, ids, found);
    if (code != 0) return code;
  }
  skipped += items.skipped_after;
  return 0;
}

}  // namespace sharelink

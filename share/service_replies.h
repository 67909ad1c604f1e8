#pragma once

// Service replies as JSON documents, and the entries their lists describe.

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "share/file_entry.h"

namespace sharelink {

class JsonDocument;
struct HttpResponse;

// The code of a request that got no answer: kStopped when the stop cancelled
// it, kOutOfMemory when its reply did not fit in memory, else -996; 0 when
// an answer came.
int failure_code(const HttpResponse& response);

// failure_code for a request that got no answer, -998 for an answer that is
// not a JSON object, else the reply's errno. reply holds the parsed answer.
int reply_code(const HttpResponse& response, JsonDocument& reply);

// Codes of a list that ran out of room: the entries listed until then are the
// share's, and the code says the list is not complete.
bool ran_out_of_room(int code);

// Longest text an entry may hold in a member (name, path, size, ids): no file
// system takes a longer path, and a page of a hundred entries with names of
// hundreds of kilobytes would hold tens of megabytes.
constexpr std::size_t kEntryTextLimit = 4096;

// The bytes one entry keeps: its texts and its record.
std::size_t entry_bytes(const FileEntry& entry);

// What a list may still take.
struct ListRoom {
  std::size_t entries = 0;
  std::size_t bytes = 0;  // counted by entry_bytes
};

// The entries the items of the array at path describe, appended to found,
// each id once: an entry whose fs_id is in ids already is left out, the
// others' ids go into ids. skipped counts the items that describe no entry.
// kJsonParseFailed when there is no array at path (nothing read);
// kTooManyEntries when there are more entries than room, kListTooLarge when
// their bytes pass it (found then holds what fitted); else 0. room shrinks by
// what was added. Nothing is sized
// by what the reply claims: found grows by the items that are there.
//
// An item is an entry when it is an object with an fs_id that is an unsigned
// 64-bit integer, a string server_filename, an isdir of 0 or 1 (number or
// text) and, for a folder, a path; size, path, app_id and parent_path, when
// present, must be texts or numbers; no text longer than kEntryTextLimit. An
// item that fails is skipped rather than failing the whole list: it could
// never get a link, and as an entry it would reach the report as a file with
// an empty link. Entries of the share page keep their app_id and parent path;
// those of a folder listing get the web app id.
int read_list(const JsonDocument& reply, const std::string& path, bool on_share_page,
              ListRoom& room, std::set<std::string>& ids, FileList& found, int& skipped);

// A list read ahead of the list it goes to, without its room or ids: the
// entries in order, each with the number of items before it that describe
// none.
struct ListItems {
  FileList entries;
  std::vector<int> skipped_before;
  int skipped_after = 0;
  std::size_t bytes = 0;  // what the entries keep
};

// read_list's reading alone, into items while they keep at most max_bytes:
// kListTooLarge past it (items then partial), kJsonParseFailed without an
// array.
int read_items(const JsonDocument& reply, const std::string& path, bool on_share_page,
               std::size_t max_bytes, ListItems& items);
// What read_list then does with them: the same found, room, ids and skipped
// as read_list on the reply they were read from. Takes the entries.
int take_items(ListItems& items, ListRoom& room, std::set<std::string>& ids, FileList& found,
               int& skipped);

}  // namespace sharelink

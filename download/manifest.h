#pragma once

// The record of a download folder, .sharelink-download.json: which files of
// which share are the download's, under which local name, and how far each
// piece of each has come. Small, versioned, and written atomically, so that a
// run stopped at any moment (a kill among them) resumes from its last write.

#include <cstdint>
#include <string>
#include <vector>

#include "download/disk_file.h"

namespace sharelink {

constexpr const char* kManifestName = ".sharelink-download.json";
constexpr int kManifestVersion = 1;

// A stretch of a file that one request fetches: bytes [offset, offset +
// length), of which the first done are on disk.
struct PieceRecord {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint64_t done = 0;
};

struct FileRecord {
  std::string id;     // the file's id in the share (fs_id)
  std::string share;  // the share link, as typed
  std::uint64_t size = 0;
  std::string local_name;  // the path below the folder, "/"-separated, UTF-8
  bool finished = false;   // the final name holds all size bytes
  // The pieces planned so far; bytes of the file that no piece covers are
  // still to fetch.
  std::vector<PieceRecord> pieces;
};

struct Manifest {
  std::vector<FileRecord> files;
};

// Reads the folder's record. A missing file is an empty record and no error;
// a file that is not a record of ours (another version, damaged, too large,
// pieces outside the file) is an empty record with a reason, and the caller
// goes on as without one. Text is UTF-8.
Manifest read_manifest(const std::string& folder, std::string& problem);

// The record as its JSON text, and the reverse (false for anything that is
// not a complete, consistent record: every number a whole one of at most 2^50,
// every piece inside its file with done <= length and none overlapping,
// every name a safe relative path (is_safe_relative_path) and none twice, not
// even as another's ".part", and no file listed twice). The text is
// {"version":1,"files":[{"id","share","size","name","finished",
// "pieces":[[offset,length,done],...]},...]}; manifest_text gives "" when
// memory runs out, and write_manifest then leaves the last record as it was.
std::string manifest_text(const Manifest& manifest);
bool parse_manifest(const std::string& text, Manifest& manifest, std::string& problem);

DiskError write_manifest(const std::string& folder, const Manifest& manifest);

}  // namespace sharelink

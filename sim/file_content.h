#pragma once

// The bytes of every file the simulator serves: a pure function of the file's
// id and the offset, so that any range of a file of any size is made on the
// spot and a downloaded file can be checked against it without a copy.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sharelink::sim {

// Writes bytes [offset, offset + length) of the file into out.
void fill_file_content(std::uint64_t fs_id, std::uint64_t offset, char* out, std::size_t length);

// The same bytes as a string, for small pieces.
std::string file_bytes(std::uint64_t fs_id, std::uint64_t offset, std::size_t count);

}  // namespace sharelink::sim

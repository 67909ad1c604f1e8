#include "sim/file_content.h"

#include <algorithm>
#include <cstring>

namespace sharelink::sim {
namespace {

constexpr std::uint64_t kIdSpread = 0x9E3779B97F4A7C15ull;

std::uint64_t splitmix64(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The 8 bytes of the block, least significant first whatever the machine.
void block_bytes(std::uint64_t fs_id, std::uint64_t block, unsigned char bytes[8]) {
  const std::uint64_t value = splitmix64(fs_id * kIdSpread ^ block);
  for (int i = 0; i < 8; ++i)
    bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

void fill_file_content(std::uint64_t fs_id, std::uint64_t offset, char* out, std::size_t length) {
  unsigned char bytes[8];
  std::size_t done = 0;
  const std::size_t skip = offset % 8;
  if (skip != 0 && length > 0) {  // the tail of a block the range starts inside
    block_bytes(fs_id, offset / 8, bytes);
    done = std::min<std::size_t>(8 - skip, length);
    std::memcpy(out, bytes + skip, done);
  }
  for (std::uint64_t block = (offset + done) / 8; done < length; ++block) {
    block_bytes(fs_id, block, bytes);
    const std::size_t n = std::min<std::size_t>(8, length - done);
    std::memcpy(out + done, bytes, n);
    done += n;
  }
}

std::string file_bytes(std::uint64_t fs_id, std::uint64_t offset, std::size_t count) {
  std::string out(count, '\0');
  fill_file_content(fs_id, offset, out.data(), count);
  return out;
}

}  // namespace sharelink::sim

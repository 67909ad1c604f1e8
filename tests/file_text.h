#pragma once

// The whole of a file a test reads back, as bytes; "" when it cannot be read.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace sharelink::testing {

inline std::string file_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace sharelink::testing

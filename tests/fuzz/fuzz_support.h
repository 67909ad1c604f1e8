#pragma once

// What the fuzz targets share: checks that stop the run in every build (the
// GCC Release build defines NDEBUG, so assert would check nothing there), and
// the cutting of one input into the several texts a reader takes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A property of the code under test that no input may break: a broken one is
// reported like a crash, with the input that broke it.
#define FUZZ_CHECK(condition)         \
  ((condition) ? static_cast<void>(0) \
               : sharelink::fuzz::check_failed(#condition, __FILE__, __LINE__))

namespace sharelink::fuzz {

[[noreturn]] inline void check_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

// The input cut at its zero bytes into count texts: the last one takes the rest,
// zero bytes included; texts the input does not reach are empty.
inline std::vector<std::string> split_input(const std::uint8_t* data, std::size_t size,
                                            std::size_t count) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (parts.size() + 1 < count) {
    const std::size_t zero = at < input.size() ? input.find('\0', at) : std::string::npos;
    const std::size_t end = zero == std::string::npos ? input.size() : zero;
    parts.push_back(at < input.size() ? input.substr(at, end - at) : std::string());
    at = end + 1;
  }
  parts.push_back(at < input.size() ? input.substr(at) : std::string());
  return parts;
}

}  // namespace sharelink::fuzz

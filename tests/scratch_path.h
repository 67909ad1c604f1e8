#pragma once

// A name in the tests' temporary folder for a file or folder a test makes:
// removed, with whatever it holds, when the test is done with it, and before
// it starts, so that a run cut short leaves nothing in the next one's way.

#include <filesystem>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace sharelink::testing {

class ScratchPath {
 public:
  explicit ScratchPath(const std::string& name) : path_(::testing::TempDir() + name) { remove(); }
  ~ScratchPath() { remove(); }
  ScratchPath(const ScratchPath&) = delete;
  ScratchPath& operator=(const ScratchPath&) = delete;

  const std::string& path() const { return path_; }

 private:
  void remove() const {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  std::string path_;
};

}  // namespace sharelink::testing

#pragma once

// The row a list asked its presenter for last. A list asks for a row once a
// part or a cell, one after another, and the presenter makes the row's texts
// anew each time.

#include <cstddef>

namespace sharelink {

template <typename Row>
class RowCache {
 public:
  // The row at index: fetch(index) unless it is the one kept.
  template <typename Fetch>
  const Row& get(std::size_t index, const Fetch& fetch) {
    if (!kept_ || index_ != index) {
      row_ = fetch(index);
      index_ = index;
      kept_ = true;
    }
    return row_;
  }
  // The rows changed: the next question asks again.
  void forget() { kept_ = false; }

 private:
  Row row_{};
  std::size_t index_ = 0;
  bool kept_ = false;
};

}  // namespace sharelink

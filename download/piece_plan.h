#pragma once

// How one file's bytes are split among requests. A piece is a stretch of the
// file that one request at a time fetches, front to back; the thread that
// fetches it and the owner that plans share it, so its end can move while it
// runs (an idle connection takes its back half) and its progress is read for
// the record while bytes arrive.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "download/manifest.h"

namespace sharelink {

class Piece {
 public:
  Piece(std::uint64_t offset, std::uint64_t end, std::uint64_t done);

  std::uint64_t offset() const { return offset_; }
  std::uint64_t end() const;
  std::uint64_t done() const;
  bool complete() const;
  PieceRecord record() const;

  // The fetching side. Reserves up to length bytes at the next position, never
  // past the end: how many (0 once the end is reached), and where into at.
  std::size_t reserve(std::size_t length, std::uint64_t& at);
  // The bytes reserved last are on disk.
  void commit(std::size_t length);
  // A reply of the whole file came: the piece starts again at byte 0 (only
  // for a piece that starts there).
  void restart();
  // Where the next byte goes.
  std::uint64_t position() const;

  // The owner's side: gives the back half of what nobody has reserved yet
  // away when it is at least 2 x minimum bytes; where the new piece starts.
  std::optional<std::uint64_t> split(std::uint64_t minimum);

 private:
  mutable std::mutex mutex_;
  const std::uint64_t offset_;
  std::uint64_t end_;
  std::uint64_t reserved_;  // absolute: bytes before it are on disk or being written
  std::uint64_t written_;   // absolute: bytes before it are on disk
};

// What the owner keeps beside a piece: only its thread touches these.
struct PieceSlot {
  std::shared_ptr<Piece> piece;
  bool running = false;
  int tries = 0;              // in a row without progress
  std::uint64_t reached = 0;  // the furthest position any try has come to
  std::chrono::steady_clock::time_point not_before{};
};

class FilePlan {
 public:
  // A file with nothing fetched yet.
  explicit FilePlan(std::uint64_t size);
  // A file an earlier run began: its recorded pieces, none believed past what
  // the .part holds (on_disk bytes).
  FilePlan(std::uint64_t size, const std::vector<PieceRecord>& records, std::uint64_t on_disk);

  std::uint64_t size() const { return size_; }
  std::vector<PieceSlot>& slots() { return slots_; }
  // Bytes no piece covers yet.
  std::uint64_t unplanned() const;
  // Bytes the running pieces still have to fetch.
  std::uint64_t running_left() const;
  std::uint64_t done() const;
  bool complete() const;
  std::vector<PieceRecord> records() const;

  // A new piece of at most length bytes from the first bytes no piece covers:
  // its slot's index; nullopt when none is left.
  std::optional<std::size_t> plan_next(std::uint64_t length);
  // Splits the running piece with the most left: the new piece's slot index.
  std::optional<std::size_t> steal(std::uint64_t minimum);
  // One piece for the whole file, nothing kept: for a server that ignores
  // ranges.
  void restart_whole();

 private:
  std::uint64_t size_;
  std::vector<PieceSlot> slots_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps_;  // [begin, end), in order
};

// The length of the next new piece: an even share among the connections of
// all that is left (unplanned and running alike), so that they all end
// together; within the bounds, and the rest of a stretch when what would
// remain of it is smaller than the smallest piece.
std::uint64_t next_piece_length(std::uint64_t left_everywhere, std::uint64_t left_here,
                                int connections, std::uint64_t smallest, std::uint64_t largest);

}  // namespace sharelink

#include "download/piece_plan.h"

#include <algorithm>

namespace sharelink {

Piece::Piece(std::uint64_t offset, std::uint64_t end, std::uint64_t done)
    : offset_(offset), end_(end), reserved_(offset + done), written_(offset + done) {}

std::uint64_t Piece::end() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return end_;
}

std::uint64_t Piece::done() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_ - offset_;
}

bool Piece::complete() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_ >= end_;
}

PieceRecord Piece::record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return PieceRecord{offset_, end_ - offset_, std::min(written_, end_) - offset_};
}

std::size_t Piece::reserve(std::size_t length, std::uint64_t& at) {
  std::lock_guard<std::mutex> lock(mutex_);
  at = reserved_;
  const std::uint64_t room = end_ > reserved_ ? end_ - reserved_ : 0;
  const std::size_t granted = static_cast<std::size_t>(std::min<std::uint64_t>(length, room));
  reserved_ += granted;
  return granted;
}

void Piece::commit(std::size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  written_ = std::min(written_ + length, reserved_);
}

void Piece::restart() {
  std::lock_guard<std::mutex> lock(mutex_);
  reserved_ = written_ = offset_;
}

std::uint64_t Piece::position() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

std::optional<std::uint64_t> Piece::split(std::uint64_t minimum) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t left = end_ > reserved_ ? end_ - reserved_ : 0;
  if (minimum == 0 || left < 2 * minimum) return std::nullopt;
  end_ = reserved_ + left / 2;
  return end_;
}

FilePlan::FilePlan(std::uint64_t size) : size_(size) {
  if (size > 0) gaps_.emplace_back(0, size);
}

FilePlan::FilePlan(std::uint64_t size, const std::vector<PieceRecord>& records,
                   std::uint64_t on_disk)
    : size_(size) {
  std::vector<PieceRecord> sorted = records;
  std::sort(sorted.begin(), sorted.end(),
            [](const PieceRecord& a, const PieceRecord& b) { return a.offset < b.offset; });
  std::uint64_t covered = 0;
  for (const PieceRecord& record : sorted) {
    // A piece that overlaps another or leaves the file is not trusted: its
    // bytes are fetched again.
    if (record.offset < covered || record.length == 0 || record.offset > size ||
        record.length > size - record.offset)
      continue;
    if (record.offset > covered) gaps_.emplace_back(covered, record.offset);
    // A kill between a write of the record and the writes of the bytes it
    // counts cannot happen (the bytes go first), but a .part cut short by
    // hand or by a full disk can: only what the .part holds counts.
    const std::uint64_t held = on_disk > record.offset ? on_disk - record.offset : 0;
    const std::uint64_t done = std::min({record.done, record.length, held});
    PieceSlot slot;
    slot.piece = std::make_shared<Piece>(record.offset, record.offset + record.length, done);
    slot.reached = record.offset + done;
    slots_.push_back(std::move(slot));
    covered = record.offset + record.length;
  }
  if (covered < size) gaps_.emplace_back(covered, size);
}

std::uint64_t FilePlan::unplanned() const {
  std::uint64_t total = 0;
  for (const auto& gap : gaps_)
    total += gap.second - gap.first;
  return total;
}

std::uint64_t FilePlan::running_left() const {
  std::uint64_t total = 0;
  for (const PieceSlot& slot : slots_) {
    if (!slot.running) continue;
    const std::uint64_t end = slot.piece->end();
    const std::uint64_t at = slot.piece->position();
    total += end > at ? end - at : 0;
  }
  return total;
}

std::uint64_t FilePlan::done() const {
  std::uint64_t total = 0;
  for (const PieceSlot& slot : slots_)
    total += slot.piece->done();
  return total;
}

bool FilePlan::complete() const {
  if (!gaps_.empty()) return false;
  return std::all_of(slots_.begin(), slots_.end(),
                     [](const PieceSlot& slot) { return slot.piece->complete(); });
}

std::vector<PieceRecord> FilePlan::records() const {
  std::vector<PieceRecord> out;
  out.reserve(slots_.size());
  for (const PieceSlot& slot : slots_)
    out.push_back(slot.piece->record());
  return out;
}

std::optional<std::size_t> FilePlan::plan_next(std::uint64_t length) {
  if (gaps_.empty() || length == 0) return std::nullopt;
  auto& gap = gaps_.front();
  const std::uint64_t begin = gap.first;
  const std::uint64_t end = std::min(gap.second, begin + length);
  gap.first = end;
  if (gap.first == gap.second) gaps_.erase(gaps_.begin());
  PieceSlot slot;
  slot.piece = std::make_shared<Piece>(begin, end, 0);
  slot.reached = begin;
  slots_.push_back(std::move(slot));
  return slots_.size() - 1;
}

std::optional<std::size_t> FilePlan::steal(std::uint64_t minimum) {
  PieceSlot* largest = nullptr;
  std::uint64_t most = 0;
  for (PieceSlot& slot : slots_) {
    if (!slot.running) continue;
    const std::uint64_t end = slot.piece->end();
    const std::uint64_t at = slot.piece->position();
    if (end > at && end - at > most) {
      most = end - at;
      largest = &slot;
    }
  }
  if (largest == nullptr) return std::nullopt;
  const std::uint64_t old_end = largest->piece->end();
  const std::optional<std::uint64_t> from = largest->piece->split(minimum);
  if (!from) return std::nullopt;
  PieceSlot slot;
  slot.piece = std::make_shared<Piece>(*from, old_end, 0);
  slot.reached = *from;
  slots_.push_back(std::move(slot));
  return slots_.size() - 1;
}

void FilePlan::restart_whole() {
  slots_.clear();
  gaps_.clear();
  if (size_ > 0) gaps_.emplace_back(0, size_);
}

std::uint64_t next_piece_length(std::uint64_t left_everywhere, std::uint64_t left_here,
                                int connections, std::uint64_t smallest, std::uint64_t largest) {
  largest = std::max<std::uint64_t>(largest, 1);
  smallest = std::min(std::max<std::uint64_t>(smallest, 1), largest);
  const std::uint64_t share =
      left_everywhere / static_cast<std::uint64_t>(std::max(connections, 1));
  std::uint64_t length = std::clamp(share, smallest, largest);
  if (left_here <= length || (left_here - length < smallest && left_here <= largest))
    length = left_here;
  return length;
}

}  // namespace sharelink

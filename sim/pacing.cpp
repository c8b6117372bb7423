#include "sim/pacing.hpp"

#include <algorithm>

namespace sim {

std::size_t SerialLine::put(std::string_view bytes, Clock::time_point read_at) {
  const std::size_t n = std::min(bytes.size(), room());
  if (size_ == 0) next_ = std::max(next_, read_at);
  for (std::size_t i = 0; i < n; ++i) bytes_[(head_ + size_ + i) % kCapacity] = bytes[i];
  size_ += n;
  return n;
}

std::optional<Clock::time_point> SerialLine::next_arrival() const {
  if (size_ == 0) return std::nullopt;
  return next_;
}

char SerialLine::pop() {
  const char byte = bytes_[head_];
  head_ = (head_ + 1) % kCapacity;
  --size_;
  next_ += kCharTime;
  return byte;
}

bool ReceiveFifo::admit(char byte, Clock::time_point at) {
  if (size_ == kDepth) return false;
  waiting_[(head_ + size_) % kDepth] = {byte, at};
  ++size_;
  return true;
}

std::optional<Clock::time_point> ReceiveFifo::next_take() const {
  if (size_ == 0) return std::nullopt;
  return std::max(waiting_[head_].arrived, ready_);
}

char ReceiveFifo::take() {
  const Waiting oldest = waiting_[head_];
  const Clock::time_point at = std::max(oldest.arrived, ready_);
  head_ = (head_ + 1) % kDepth;
  --size_;
  const std::chrono::microseconds busy =
      oldest.byte == '\r' ? std::max<std::chrono::microseconds>(gap_, line_work_) : gap_;
  ready_ = at + busy;
  return oldest.byte;
}

void ReceiveFifo::clear() {
  head_ = size_ = 0;
  ready_ = {};
}

}  // namespace sim

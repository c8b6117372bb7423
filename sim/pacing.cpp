#include "sim/pacing.hpp"

#include <algorithm>

namespace sim {

void ReceiveFifo::begin_read(std::size_t count, Clock::time_point at) {
  const Clock::time_point earliest = at - kLateReader;
  read_from_ = last_read_ ? std::max(*last_read_, earliest) : earliest;
  step_ = count == 0 ? Clock::duration{} : (at - read_from_) / static_cast<long>(count);
  index_ = 0;
  last_read_ = at;
}

bool ReceiveFifo::admit() {
  if (gap_.count() == 0) return true;
  ++index_;
  const Clock::time_point arrival = read_from_ + step_ * static_cast<long>(index_);
  // The console has taken what it could before this byte arrived.
  while (level_ > 0 && ready_ <= arrival) {
    --level_;
    ready_ += gap_;
  }
  if (level_ == 0 && ready_ <= arrival) {
    ready_ = arrival + gap_;  // an idle console takes the byte at once
    return true;
  }
  if (level_ == kDepth) return false;
  ++level_;
  return true;
}

}  // namespace sim

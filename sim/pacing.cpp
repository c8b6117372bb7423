#include "sim/pacing.hpp"

#include <algorithm>

namespace sim {

Clock::time_point ReceiveFifo::arrival(Clock::time_point read_at) {
  const Clock::time_point at = std::max(read_at, next_arrival_);
  next_arrival_ = at + kCharTime;
  return at;
}

bool ReceiveFifo::admit(Clock::time_point at) {
  if (gap_.count() == 0) return true;
  // The waiting bytes are taken one gap apart, the newest at taken_; those
  // taken by `at` have left.
  while (level_ > 0 && taken_ - gap_ * static_cast<long>(level_ - 1) <= at) --level_;
  if (level_ == kDepth) return false;
  taken_ = std::max(at, taken_ + gap_);
  if (taken_ > at) ++level_;  // else an idle console takes it at once
  return true;
}

}  // namespace sim

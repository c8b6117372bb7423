#pragma once

// The slow console behind a serial line: bytes come off the line no faster
// than 115200 8N1 carries them, into a small receive FIFO, like a UART's, that
// the console empties at one byte per `gap`. A byte that finds it full is lost.

#include <chrono>
#include <cstddef>

namespace sim {

using Clock = std::chrono::steady_clock;

class ReceiveFifo {
 public:
  static constexpr std::size_t kDepth = 16;
  // One character of 115200 8N1: ten bits, about 86.8 us.
  static constexpr std::chrono::nanoseconds kCharTime{10 * 1'000'000'000LL / 115'200};

  // A zero gap turns the FIFO off: every byte is taken.
  explicit ReceiveFifo(std::chrono::microseconds gap) : gap_(gap) {}

  // When the next byte of a read made at `read_at` came off the line: at the
  // read, or one character time after the byte before it if that is later. So
  // bytes count as a burst however the pseudo-terminal grouped them.
  Clock::time_point arrival(Clock::time_point read_at);
  // True when a byte that arrived at `at` fits in the FIFO; false when it is lost.
  bool admit(Clock::time_point at);

 private:
  std::chrono::microseconds gap_;
  Clock::time_point next_arrival_{};
  std::size_t level_ = 0;      // bytes waiting for the console
  Clock::time_point taken_{};  // when the console takes (or took) the newest of them
};

}  // namespace sim

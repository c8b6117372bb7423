#pragma once

// The slow console: a small receive FIFO, like a UART's, that the console
// empties at one byte per `gap`. A byte that finds the FIFO full is lost.

#include <chrono>
#include <cstddef>
#include <optional>

namespace sim {

using Clock = std::chrono::steady_clock;

class ReceiveFifo {
 public:
  static constexpr std::size_t kDepth = 16;
  // Bytes read together are taken to have arrived spread over the time since
  // the previous read, but no earlier than this before the read: a reader woken
  // late must not turn paced bytes into a burst, and an idle line must not turn
  // a burst into paced bytes.
  static constexpr std::chrono::milliseconds kLateReader{100};

  // A zero gap turns the model off: every byte is taken.
  explicit ReceiveFifo(std::chrono::microseconds gap) : gap_(gap) {}

  // Starts a read of `count` bytes taken from the line at `at`; admit() is
  // then called once for each of them, in order.
  void begin_read(std::size_t count, Clock::time_point at);
  // True when the next byte of the read fits; false when it is lost.
  bool admit();

 private:
  std::chrono::microseconds gap_;
  std::size_t level_ = 0;      // bytes waiting for the console
  Clock::time_point ready_{};  // when the console takes its next byte
  std::optional<Clock::time_point> last_read_;
  Clock::time_point read_from_{};  // the span the current read's bytes arrived in
  Clock::duration step_{};
  std::size_t index_ = 0;
};

}  // namespace sim

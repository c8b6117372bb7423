#pragma once

// The slow console behind a serial line: bytes come off the line no faster
// than 115200 8N1 carries them, into a small receive FIFO, like a UART's, out
// of which the console takes one byte per `gap`, and waits longer after a line
// it ends. A byte that finds the FIFO full is lost.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

namespace sim {

using Clock = std::chrono::steady_clock;

// The wire: bytes written to the port and not yet off the line.
class SerialLine {
 public:
  // One character of 115200 8N1: ten bits, about 86.8 us.
  static constexpr std::chrono::nanoseconds kCharTime{10 * 1'000'000'000LL / 115'200};
  // About a third of a second of line time; a writer faster than that waits
  // in the pseudo-terminal, as it would on a real port.
  static constexpr std::size_t kCapacity = 4096;

  [[nodiscard]] std::size_t room() const { return kCapacity - size_; }
  // Bytes read together at `read_at`, at most room() of them; how many went on.
  // The first comes off at the read, or one character time after the byte
  // before it if that is later; the rest one character time apart. So bytes
  // count as a burst however the pseudo-terminal grouped them.
  std::size_t put(std::string_view bytes, Clock::time_point read_at);
  // When the oldest byte on the line comes off it, if there is one.
  [[nodiscard]] std::optional<Clock::time_point> next_arrival() const;
  // That byte, off the line.
  char pop();

 private:
  std::array<char, kCapacity> bytes_{};
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  Clock::time_point next_{};  // the oldest byte's arrival, or the earliest for the next one
};

class ReceiveFifo {
 public:
  static constexpr std::size_t kDepth = 16;

  // A zero gap: every byte is taken as it arrives (but after a line's work).
  ReceiveFifo(std::chrono::microseconds gap, std::chrono::milliseconds line_work)
      : gap_(gap), line_work_(line_work) {}

  // A byte that arrived at `at`, after every take due by then: false when the
  // FIFO is full and the byte is lost.
  bool admit(char byte, Clock::time_point at);
  // When the console takes the oldest waiting byte, if any.
  [[nodiscard]] std::optional<Clock::time_point> next_take() const;
  // That byte, taken at next_take(). After a CR, which ends a line, the
  // console works on the line before it takes the next.
  char take();
  // When the console can take the next byte (or could have, if that is past).
  [[nodiscard]] Clock::time_point ready() const { return ready_; }
  // The console is busy until `until` at least (a command's work), taking nothing.
  void busy_until(Clock::time_point until) { ready_ = std::max(ready_, until); }
  // The console restarts: what waited is gone, and it is idle.
  void clear();

 private:
  struct Waiting {
    char byte;
    Clock::time_point arrived;
  };
  std::chrono::microseconds gap_;
  std::chrono::milliseconds line_work_;
  std::array<Waiting, kDepth> waiting_{};
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  Clock::time_point ready_{};  // when the console can take the next byte
};

}  // namespace sim

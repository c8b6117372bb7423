#pragma once

// The device's echo as the pace of typing: a paced byte goes only once the
// device has echoed what was typed before it, so a console slower than the
// fixed pause makes a slower upload, not a damaged one. Logic over bytes and
// times alone; the port's writes and reads are told to it (serial/echo.hpp).
//
// Only a device that echoes is waited for: waiting starts once it has echoed
// kEchoesToStart typed bytes in a row, each in a read of echo alone, and stops
// after kMissesToStop waits in a row ran out; it may start again the same way.

#include <array>
#include <chrono>
#include <cstddef>
#include <string_view>

class EchoPace {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kMaxWait{500};
  static constexpr int kEchoesToStart = 3;
  static constexpr int kMissesToStop = 2;

  // A new port cycle: nothing owed, not waiting.
  void reset();
  // Bytes written to the port together at `at` (taken before the write).
  void typed(std::string_view bytes, Clock::time_point at);
  // One read of the port, made at `at`.
  void heard(std::string_view bytes, Clock::time_point at);

  // True while the next paced byte must wait for the device's echo.
  [[nodiscard]] bool owed() const { return waiting_ && owed_ > 0; }
  // When the wait under way runs out: kMaxWait after the last write or the
  // last echo, whichever is later (an echo that lags behind but comes is waited for).
  [[nodiscard]] Clock::time_point deadline() const;
  // The wait ran out without the echo: what is owed is given up on.
  void ran_out();

  [[nodiscard]] bool waiting() const { return waiting_; }
  // How long the device took to echo the last typed byte it echoed in order,
  // from its write to the read that brought the echo.
  [[nodiscard]] Clock::duration echo_delay() const { return echo_delay_; }

  // Told, for each typed byte that is owed an echo, once it is known whether
  // its echo came in order (`echoed`, in the read made at `heard_at`) or the
  // device went past it; the byte is named by the time of its write and itself
  // ('\n' for a line end).
  using Listener = void (*)(Clock::time_point typed_at, char c, bool echoed,
                            Clock::time_point heard_at);
  void listen(Listener listener) { listener_ = listener; }

 private:
  struct Expected {
    char c;        // '\n' stands for a line end (a run of CR and LF)
    bool overdue;  // its wait ran out, or nobody waited and it is old
    Clock::time_point at;
  };
  static constexpr std::size_t kMaxExpected = 64;

  void expect(char c, Clock::time_point at);
  bool match(char c, Clock::time_point at, bool& fresh, bool& tab);
  void pop_front(bool echoed, Clock::time_point heard_at);
  void age(Clock::time_point now);
  [[nodiscard]] Expected& at(std::size_t i) { return ring_[(head_ + i) % kMaxExpected]; }

  std::array<Expected, kMaxExpected> ring_{};
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  std::size_t owed_ = 0;          // expected bytes not overdue
  bool typed_line_end_ = false;   // the last byte typed ended a line
  bool echoed_line_end_ = false;  // the last bytes heard echoed a line end
  bool heard_tab_ = false;        // ...or blanks that echo a TAB

  bool waiting_ = false;
  int run_ = 0;     // typed bytes echoed in a row, each in a read of echo alone
  int misses_ = 0;  // waits in a row that ran out
  Clock::time_point last_write_{};
  Clock::time_point last_echo_{};
  Clock::duration echo_delay_{};
  Listener listener_ = nullptr;
};

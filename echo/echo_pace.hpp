#pragma once

// The device's echo as the pace of typing: a paced byte goes only once the
// device has echoed what was typed before it, so a console slower than the
// fixed pause makes a slower upload, not a damaged one. Logic over bytes and
// times alone; the serial layer tells it of the port's writes and reads.
//
// Only a device that echoes is waited for: waiting starts once it has echoed
// kEchoesToStart typed bytes in a row in reads of echo alone (or of echo and
// the answer to a line it echoed), and stops after kMissesToStop waits in a
// row ran out; it may start again the same way.

#include <array>
#include <chrono>
#include <cstddef>
#include <string_view>

#include "echo/echo_match.hpp"

class EchoPace {
 public:
  using Clock = std::chrono::steady_clock;
  // The longest wait for an echo within a line...
  static constexpr std::chrono::milliseconds kMaxWait{500};
  // ...and once the device has echoed a line end it was typed: it may work
  // that long on the line (opening a session, applying a setting).
  static constexpr std::chrono::milliseconds kLineWait{5000};
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
  // When the wait under way runs out: kMaxWait, or kLineWait for each line
  // the device has to work on first, after the last write or the last echo,
  // whichever is later (an echo that lags behind but comes is waited for).
  [[nodiscard]] Clock::time_point deadline() const;
  // The wait ran out without the echo: what is owed is given up on.
  void ran_out();

  [[nodiscard]] bool waiting() const { return waiting_; }
  // How long the device took to echo the last typed byte it echoed in order
  // (waited for or not), from its write to the read that brought the echo.
  [[nodiscard]] Clock::duration echo_delay() const { return echo_delay_; }
  // The answer to a DEL typed last: whatever the device sends after it ("\b \b",
  // "^?", a bell; nothing at the start of a line), waited for only where the
  // device's echo paces typing.
  struct EraseAnswer {
    bool awaited = false;  // the last byte typed is a DEL, and the echo paces typing
    bool heard = false;    // the device has sent something since
    Clock::time_point typed_at{};
    Clock::time_point last_heard{};  // the last read since the DEL
  };
  [[nodiscard]] EraseAnswer erase_answer() const {
    EraseAnswer answer = erase_;
    answer.awaited = answer.awaited && waiting_;
    return answer;
  }

  // The device echoes what is typed, kept echoing until lately, and the echo
  // of bytes typed is still to come: its last word has not been said.
  [[nodiscard]] bool echo_to_come() const;

  // Told, for each typed byte that is owed an echo, once it is known whether
  // its echo came in order (`echoed`, in the read made at `heard_at`) or the
  // device went past it; the byte is named by the time of its write and itself
  // ('\n' for a line end).
  using Listener = void (*)(Clock::time_point typed_at, char c, bool echoed,
                            Clock::time_point heard_at);
  void listen(Listener listener) { listener_ = listener; }

 private:
  struct Expected {
    char c;               // '\n' stands for a line end (a CR, or an LF not after one)
    bool owed;            // waited for: not given up on, nor too old when nobody waited
    bool line_end_after;  // a line end was typed right after it
    Clock::time_point at;
  };
  // Ten seconds of typing: an echo that lags behind is still matched to its own byte,
  // not to a later one like it.
  static constexpr std::size_t kMaxExpected = 1024;
  static constexpr int kMaxLinesWorked = 3;

  void expect(char c, bool owed, Clock::time_point at);
  void pop_front(bool echoed, Clock::time_point heard_at);
  void give_up_front();
  void forgive(Expected& e);  // no longer owed
  void age(Clock::time_point now);
  void hear(const char* bytes, std::size_t size, Clock::time_point at);
  std::size_t echo_run(const char* bytes, std::size_t size, Clock::time_point at, bool in_order,
                       int& fresh_echoes, bool& answered);
  [[nodiscard]] Expected& at(std::size_t i) { return ring_[(head_ + i) % kMaxExpected]; }
  [[nodiscard]] const Expected& at(std::size_t i) const {
    return ring_[(head_ + i) % kMaxExpected];
  }

  std::array<Expected, kMaxExpected> ring_{};
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  std::size_t owed_ = 0;   // expected bytes still owed
  bool typed_cr_ = false;  // the last byte typed was a CR: an LF after it is the same line end

  // What the last reads left open: a line end of two bytes (CR LF, which the
  // port hands over as two line feeds) whose first byte was heard, an echoed
  // TAB whose blanks may go on, whether an echo may begin where they left off.
  int line_end_bytes_ = 0;
  bool tab_open_ = false;
  bool line_from_echo_ = false;  // the device's line began with an echoed line end (its prompt's)
  bool own_text_open_ = false;   // the last byte heard was text of the device's own
  echo_match::EscapeFilter escapes_;

  bool waiting_ = false;
  int run_ = 0;             // typed bytes echoed in a row, in reads of echo alone
  int misses_ = 0;          // waits in a row that ran out
  int echoes_ = 0;          // echoes heard in order this cycle, up to kEchoesToStart
  bool line_work_ = false;  // the last echo was of a typed line end, and no wait ran out since
  bool line_ends_echoed_ = false;   // the device echoed a typed line end this cycle
  bool line_ends_skipped_ = false;  // ...or went past one: line ends are no longer waited for
  Clock::time_point last_write_{};
  Clock::time_point last_echo_{};      // the last echo waited for
  Clock::time_point last_in_order_{};  // the last echo, waited for or late
  Clock::duration echo_delay_{};
  EraseAnswer erase_;
  Listener listener_ = nullptr;
};

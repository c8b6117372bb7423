#pragma once

// The simulated device's console: echo, lines, commands, the configuration
// session, the reset, and the counts the summary reports.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sim/conf_checker.hpp"
#include "sim/pacing.hpp"

namespace sim {

inline constexpr std::string_view kPrompt = "drovan> ";
inline constexpr std::string_view kSessionPrompt = "drovan(conf)> ";
inline constexpr std::chrono::milliseconds kRebootTime{1000};

// Where the console's output goes (the line to the program, or a test's string).
class Sink {
 public:
  virtual void put(std::string_view bytes) = 0;

 protected:
  ~Sink() = default;
};

struct Counts {
  std::uint64_t received = 0;
  std::uint64_t dropped = 0;   // lost to the slow console
  std::uint64_t accepted = 0;  // setting lines of configuration sessions
  std::uint64_t rejected = 0;  // any other non-blank, non-comment line of a session
};

class ConsoleModel {
 public:
  // A console that does not echo (`echo` false) still answers.
  ConsoleModel(Sink& sink, std::chrono::microseconds min_gap, bool echo = true)
      : sink_(sink), fifo_(min_gap), echo_(echo) {}

  // Bytes read from the line together at `at`.
  void receive(std::string_view bytes, Clock::time_point at);
  // When tick() next has something to do (the end of a reboot), if ever.
  [[nodiscard]] std::optional<Clock::time_point> deadline() const { return booted_at_; }
  void tick(Clock::time_point now);

  [[nodiscard]] const Counts& counts() const { return counts_; }
  [[nodiscard]] const Settings& active() const { return active_; }
  [[nodiscard]] bool in_session() const { return in_session_; }

 private:
  void take(char byte);
  void end_line();
  void command(std::string_view line);
  void session_line(std::string_view line);
  void prompt();
  void echo(std::string_view bytes);

  Sink& sink_;
  ReceiveFifo fifo_;
  bool echo_;
  Counts counts_;
  std::array<char, 256> line_{};
  std::size_t length_ = 0;
  bool overflow_ = false;
  bool after_cr_ = false;
  bool in_session_ = false;
  unsigned session_line_ = 0;
  Settings staged_;
  Settings active_ = Settings::factory();
  Clock::time_point now_{};                     // of the bytes being taken
  std::optional<Clock::time_point> booted_at_;  // set while rebooting
};

// The summary line, without its line end, in `out`; the part of `out` used.
std::string_view summary(const Counts& counts, std::array<char, 160>& out);

}  // namespace sim

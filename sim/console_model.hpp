#pragma once

// The simulated device's console: echo, lines, commands, the configuration
// session, the reset, and the counts the summary reports.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>

#include "sim/adapter.hpp"
#include "sim/conf_checker.hpp"
#include "sim/pacing.hpp"
#include "sim/sink.hpp"

namespace sim {

inline constexpr std::string_view kPrompt = "drovan> ";
inline constexpr std::string_view kSessionPrompt = "drovan(conf)> ";
inline constexpr std::chrono::milliseconds kRebootTime{1000};

struct Counts {
  std::uint64_t received = 0;
  std::uint64_t dropped = 0;   // lost to the slow console: its FIFO was full
  std::uint64_t accepted = 0;  // setting lines of configuration sessions
  std::uint64_t rejected = 0;  // any other non-blank, non-comment line of a session
  std::uint64_t noise = 0;     // lost on the line before the console
};

struct ConsoleOptions {
  std::chrono::microseconds min_gap{0};    // between two bytes taken; 0: as they come
  std::chrono::milliseconds line_work{0};  // after the CR that ends a line
  std::chrono::milliseconds conf_work{0};  // after the line "set conf", if longer than line_work
  unsigned line_noise = 0;                 // one byte in N lost on the line; 0: none
  bool echo = true;                        // without it the console still answers
  // The prompt after a line once the console is ready for the next byte, not
  // at once: its line's work (and a session's opening) done.
  bool prompt_after_work = false;
  // The adapter's latency timer on the way back; none: the output goes to the
  // sink as it is said, whole and at once.
  std::optional<std::chrono::milliseconds> latency;
};

// Time-driven: what the console says comes when it takes a byte out of its
// FIFO, so the caller hands it the bytes read and then ticks it at deadline().
class ConsoleModel {
 public:
  ConsoleModel(Sink& sink, const ConsoleOptions& options)
      : sink_(sink),
        fifo_(options.min_gap, options.line_work),
        conf_work_(options.conf_work),
        noise_(options.line_noise),
        echo_(options.echo),
        prompt_after_work_(options.prompt_after_work) {
    if (options.latency) adapter_.emplace(sink, *options.latency);
  }

  // How many bytes the line can take now.
  [[nodiscard]] std::size_t room() const { return wire_.room(); }
  // Bytes read from the port together at `at`, at most room(); how many were taken.
  std::size_t receive(std::string_view bytes, Clock::time_point at);
  // When tick() next has something to do, if ever.
  [[nodiscard]] std::optional<Clock::time_point> deadline() const;
  // Everything due by `now`, in order; Clock::time_point::max() runs it all out.
  void tick(Clock::time_point now);

  [[nodiscard]] const Counts& counts() const { return counts_; }
  [[nodiscard]] const Settings& active() const { return active_; }
  [[nodiscard]] bool in_session() const { return in_session_; }

 private:
  void arrive(char byte);
  void boot();
  void take(char byte);
  void end_line();
  void command(std::string_view line);
  void session_line(std::string_view line);
  void prompt();
  void echo(std::string_view bytes);
  void say(std::string_view bytes);

  Sink& sink_;
  std::optional<Adapter> adapter_;
  SerialLine wire_;
  ReceiveFifo fifo_;
  std::chrono::milliseconds conf_work_;
  unsigned noise_;
  std::minstd_rand noise_draw_{1};  // a fixed seed: the same bytes lose the same ones
  bool echo_;
  bool prompt_after_work_;
  std::optional<Clock::time_point> prompt_at_;  // a prompt held back while the console works
  Counts counts_;
  std::array<char, 256> line_{};
  std::size_t length_ = 0;
  bool overflow_ = false;
  bool after_cr_ = false;
  bool in_session_ = false;
  unsigned session_line_ = 0;
  Settings staged_;
  Settings active_ = Settings::factory();
  Clock::time_point now_{};                     // of the event being handled
  std::optional<Clock::time_point> booted_at_;  // set while rebooting
};

// The summary line, without its line end, in `out`; the part of `out` used.
// The bytes lost to line noise are told only on a noisy line.
std::string_view summary(const Counts& counts, std::array<char, 160>& out, bool noisy_line = false);

}  // namespace sim

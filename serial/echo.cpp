#include "serial/echo.hpp"

#include <algorithm>
#include <csignal>
#include <utility>

namespace {

EchoModel pace;

using Clock = std::chrono::steady_clock;

// Times a stopped program (Ctrl-Z, then fg) was continued, and the last of
// them heard. What the device sent while the program was stopped is read only
// when it runs again: it is dated just after the program's last word with the
// port, not as late as the read, for it came in time.
volatile std::sig_atomic_t continued = 0;
std::sig_atomic_t continued_seen = 0;
Clock::time_point last_event{};

void note_continued(int /*signal_number*/) { continued = continued + 1; }

void watch_for_stops() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = note_continued;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGCONT, &action, nullptr) == 0;
  }();
  (void)installed;
}

}  // namespace

void echo_cycle_begins() {
  watch_for_stops();
  continued_seen = continued;
  pace.reset();
}

void echo_typed(std::string_view bytes, std::chrono::steady_clock::time_point at) {
  last_event = at;
  pace.typed(bytes, at);
}

void echo_heard(std::string_view bytes, std::chrono::steady_clock::time_point at) {
  if (continued != continued_seen) {
    continued_seen = continued;
    at = std::min(at, last_event + std::chrono::microseconds(1));
  }
  last_event = at;
  pace.heard(bytes, at);
}

EchoModel& echo_pace() { return pace; }

long echo_answer_wait_us() {
  if (!pace.waiting()) return 0;
  const auto delay = std::clamp<Clock::duration>(2 * pace.echo_delay(), Clock::duration::zero(),
                                                 EchoModel::kMaxWait);
  return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(delay).count());
}

DelAnswer echo_del_answer() {
  const EchoModel::EraseAnswer erase = pace.erase_answer();
  return {erase.awaited, erase.heard,
          erase.typed_at + std::chrono::microseconds(echo_answer_wait_us()), erase.last_heard};
}

void echo_wait_ran_out() { pace.ran_out(); }

void echo_typing_file(bool file) { pace.typing_file(file); }

void echo_inserted_next() { pace.inserted_next(); }

EchoVerdict echo_verdict() { return pace.finish(); }

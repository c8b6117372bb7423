#include "serial/pause.hpp"

#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "menus/console.hpp"

namespace {

// The kernel's default 50 us timer slack would lengthen every 10 ms pause of an
// upload by up to half a percent; ask for precise wake-ups once per process.
void tighten_timer_slack() {
  static const bool done = [] {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    return true;
  }();
  (void)done;
}

// The kernel wakes a sleeper some tens of microseconds late; the last stretch
// of a pause is waited out on the clock instead, so that a 10 ms pause lasts
// 10 ms and an upload keeps its pace without shortening any pause.
constexpr long kSpinNs = 200'000;

timespec add_ns(timespec t, long ns) {
  t.tv_nsec += ns;
  while (t.tv_nsec >= 1'000'000'000) {
    t.tv_sec += 1;
    t.tv_nsec -= 1'000'000'000;
  }
  while (t.tv_nsec < 0) {
    t.tv_sec -= 1;
    t.tv_nsec += 1'000'000'000;
  }
  return t;
}

bool before(const timespec& a, const timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

void pause_us(long microseconds) {
  console_flush();
  tighten_timer_slack();
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const timespec deadline = add_ns(now, microseconds * 1000);
  const timespec wake = add_ns(deadline, -std::min(kSpinNs, microseconds * 1000));
  // An absolute deadline makes a sleep that a signal interrupts resume for the time left.
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
  }
  do {
    ::clock_gettime(CLOCK_MONOTONIC, &now);
  } while (before(now, deadline));
}

#include "serial/pause.hpp"

#include <sys/prctl.h>

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

}  // namespace

void pause_us(long microseconds) {
  console_flush();
  tighten_timer_slack();
  timespec deadline{};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += microseconds / 1'000'000;
  deadline.tv_nsec += (microseconds % 1'000'000) * 1000;
  if (deadline.tv_nsec >= 1'000'000'000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1'000'000'000;
  }
  // An absolute deadline makes a resumed sleep end exactly where it would have.
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

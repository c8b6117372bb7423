#include "serial/pause.hpp"

#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "console/console.hpp"

namespace {

timespec to_timespec(MonoClock::duration d) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Sleeps until the deadline or a little after, as the kernel wakes it.
void nap_until(MonoClock::time_point deadline) {
  // steady_clock is CLOCK_MONOTONIC: an absolute deadline on it makes a sleep
  // that a signal interrupts resume for the time left.
  const timespec wake = to_timespec(deadline.time_since_epoch());
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
  }
}

}  // namespace

// The kernel's default 50 us timer slack would lengthen every 10 ms pause of an
// upload by up to half a percent.
void tighten_timer_slack() {
  static const bool done = [] {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    return true;
  }();
  (void)done;
}

timespec time_left_until(MonoClock::time_point deadline) {
  return to_timespec(std::max(deadline - MonoClock::now(), MonoClock::duration::zero()));
}

void sleep_until(MonoClock::time_point deadline) {
  tighten_timer_slack();
  nap_until(deadline - kPrecisionSpin);
  while (MonoClock::now() < deadline) {
  }
}

void pause_us(long microseconds) {
  console_flush();
  // Only paced bytes need precision; these pauses do not spin for it.
  nap_until(MonoClock::now() + std::chrono::microseconds(microseconds));
}

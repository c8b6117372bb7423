#include "serial/pause.hpp"

#include <sys/prctl.h>

#include <algorithm>
#include <ctime>

#include "console/console.hpp"
#include "console/ending_signals.hpp"

namespace {

timespec to_timespec(MonoClock::duration d) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Sleeps until the deadline or a little after, as the kernel wakes it. A
// signal (SIGIO) does not shorten it; one that ends the program ends it there.
void nap_until(MonoClock::time_point deadline) {
  for (auto now = MonoClock::now(); now < deadline; now = MonoClock::now()) {
    const timespec left = to_timespec(deadline - now);
    (void)wait_ready(nullptr, 0, &left);
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

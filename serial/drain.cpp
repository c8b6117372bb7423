#include "serial/drain.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <string_view>

#include "console/console.hpp"
#include "console/ending_signals.hpp"
#include "echo/echo_model.hpp"
#include "serial/echo.hpp"
#include "serial/pause.hpp"
#include "serial/port.hpp"

namespace {

enum class PortState { kQuiet, kReadable, kGone };

// Waits until the port has input or the deadline passes. A signal (SIGIO)
// only makes it look again; one that ends the program ends the cycle there.
PortState wait_for_port(MonoClock::time_point deadline) {
  for (;;) {
    if (deadline <= MonoClock::now() || fd < 0) return PortState::kQuiet;
    const timespec timeout = time_left_until(deadline);
    pollfd p{fd, POLLIN, 0};
    const int n = wait_ready(&p, 1, &timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return PortState::kGone;
    if (n == 0) return PortState::kQuiet;
    if ((p.revents & POLLIN) != 0) return PortState::kReadable;
    return PortState::kGone;  // hung up or failed: nothing more will come
  }
}

// Whether the port has input now, without waiting.
bool port_readable_now() {
  pollfd p{fd, POLLIN, 0};
  const timespec no_wait{};
  return fd >= 0 && wait_ready(&p, 1, &no_wait) > 0 && (p.revents & POLLIN) != 0;
}

// After a DEL, the device's answer to it, and the rest of that answer if it
// comes over more reads, so that a DEL goes only once the device has taken the
// one before. A device that answers nothing costs the wait's bound.
void wait_for_del_answer(ByteConsumer consumer) {
  DelAnswer answer = echo_del_answer();
  if (!answer.awaited) return;
  while (!answer.heard) {
    const PortState state = wait_for_port(answer.deadline);
    if (state == PortState::kGone) return;
    // What came while this program was not running is read before the wait is given up.
    if (state == PortState::kQuiet && !port_readable_now()) return;
    if (!show_port_input(consumer)) return;
    answer = echo_del_answer();
  }
  // A device that never stops talking holds the next byte no longer than the bound.
  for (;;) {
    const auto quiet = std::min(answer.last_heard + kAnswerQuiet, answer.deadline);
    if (wait_for_port(quiet) != PortState::kReadable || !show_port_input(consumer)) return;
    answer = echo_del_answer();
  }
}

}  // namespace

bool show_port_input(ByteConsumer consumer) {
  std::array<char, kPortReadSize> received{};
  ssize_t n = 0;
  do {
    n = ::read(fd, received.data(), received.size());
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  const auto size = static_cast<std::size_t>(n);
  // The echo model hears the bytes as the line brought them; the operator and
  // the capture get every CR as a line feed, as the port once handed them over.
  echo_heard(std::string_view(received.data(), size), MonoClock::now());
  std::replace(received.begin(), received.begin() + n, '\r', '\n');
  const std::string_view shown(received.data(), size);
  if (consumer == nullptr) {
    console_write(shown);
  } else {
    // Byte by byte, so that a byte the consumer cannot take is told right after it.
    for (const char c : shown) {
      console_putc(c);
      consumer(c);
    }
  }
  // The operator sees the device's output now, not at the next line feed.
  console_flush();
  return true;
}

void port_pause(long microseconds, ByteConsumer consumer) {
  port_pause_until(MonoClock::now() + std::chrono::microseconds(microseconds), consumer);
}

void port_pause_until(MonoClock::time_point deadline, ByteConsumer consumer) {
  console_flush();
  tighten_timer_slack();
  // The port is watched until just before the deadline; the rest is waited out
  // precisely, so that the pause neither shortens nor stretches.
  while (wait_for_port(deadline - kPrecisionSpin) == PortState::kReadable) {
    if (!show_port_input(consumer)) break;
  }
  sleep_until(deadline);
}

void port_wait_turn(MonoClock::time_point not_before, ByteConsumer consumer) {
  port_pause_until(not_before, consumer);
  EchoModel& pace = echo_pace();
  while (pace.owed()) {
    const auto deadline = pace.deadline();
    const PortState state = wait_for_port(deadline);
    if (state == PortState::kGone) break;  // the write that follows tells the operator
    if (state == PortState::kReadable) {
      if (!show_port_input(consumer)) break;
      continue;
    }
    // What came while this program was not running (stopped, or scheduled
    // late) is read before the wait is given up; a lagging echo that came
    // moves the deadline on.
    if (port_readable_now() && show_port_input(consumer) && MonoClock::now() < pace.deadline()) {
      continue;
    }
    if (pace.owed()) echo_wait_ran_out();
  }
  wait_for_del_answer(consumer);
}

bool drain_until_quiet(long pause_microseconds, ByteConsumer consumer) {
  console_flush();
  auto bound = port_last_write() + kLastWordBound;
  // The echo of what was typed, still on its way from a device whose echo
  // lags behind typing, is heard out: the verdict needs it.
  const auto echo_bound = port_last_write() + EchoModel::kEchoWindow;
  const EchoModel& pace = echo_pace();
  bool alive = true;
  for (;;) {
    const bool echo_to_come = pace.echo_to_come() && MonoClock::now() < echo_bound;
    const auto deadline =
        echo_to_come ? echo_bound : std::min(MonoClock::now() + kDeviceQuiet, bound);
    const PortState state = wait_for_port(deadline);
    if (state == PortState::kQuiet) break;
    if (state == PortState::kGone || !show_port_input(consumer)) {
      alive = false;
      break;
    }
    // After the echo, the device's answer to it.
    if (echo_to_come) bound = std::max(bound, MonoClock::now() + kDeviceQuiet);
  }
  pause_us(pause_microseconds);
  wait_flag = 1;
  return alive;
}

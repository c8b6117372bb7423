#pragma once

// The simulator's end passed on to COMMAND: a signal that would end the
// simulator (SIGTERM, SIGHUP, SIGINT, SIGQUIT), or the caller's terminal gone,
// reaches COMMAND, and the port is served until COMMAND has ended, so that a
// program ends its device's line (erasing what it cut short) at the console's
// pace. A hangup is passed on once however many ways it comes (the terminal's
// reads failing, SIGHUP from the kernel and from the caller's shell): a second
// signal makes a program end at once. A COMMAND still there after kGrace is
// killed.

#include <sys/types.h>

#include <chrono>
#include <optional>

#include "sim/pacing.hpp"
#include "sim/relay.hpp"

namespace sim {

class CommandEnd {
 public:
  static constexpr std::chrono::seconds kGrace{30};

  // `relay` is COMMAND's console, if it has one of its own; it must outlive this.
  CommandEnd(pid_t command, Relay* relay) : command_(command), relay_(relay) {}

  // A signal that ends the simulator, to be passed on.
  void pass_on(int signal_number);
  // After the relay has served: its caller's terminal may have gone, and
  // COMMAND's hung up with it.
  void look_at_relay();
  // The poll's timeout, within `timeout` (milliseconds, -1 for none).
  [[nodiscard]] int timeout(int timeout) const;
  // Past the grace, COMMAND is killed: true once it was, and waiting for it may block.
  bool kill_if_overdue();

 private:
  void begin();

  pid_t command_;
  Relay* relay_;
  std::optional<Clock::time_point> deadline_;
  bool killed_ = false;
};

}  // namespace sim

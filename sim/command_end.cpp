#include "sim/command_end.hpp"

#include <algorithm>
#include <csignal>

namespace sim {

void CommandEnd::pass_on(int signal_number) {
  if (signal_number == SIGHUP && relay_ != nullptr) {
    relay_->hang_up();  // the kernel's SIGHUP, through COMMAND's own terminal, unless it is ending
  } else if (signal_number != SIGHUP || !deadline_) {
    // Another SIGTERM, SIGINT or SIGQUIT was sent on purpose: it ends COMMAND
    // at once, as it would end the program run without the simulator.
    (void)::kill(command_, signal_number);
  }
  begin();
}

void CommandEnd::look_at_relay() {
  if (relay_ != nullptr && relay_->caller_gone()) begin();
}

int CommandEnd::timeout(int timeout) const {
  if (!deadline_ || killed_) return timeout;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now()).count();
  const int grace = static_cast<int>(std::clamp<long long>(left, 0, kGrace.count() * 1000));
  return timeout < 0 ? grace : std::min(timeout, grace);
}

bool CommandEnd::kill_if_overdue() {
  if (!killed_ && deadline_ && Clock::now() >= *deadline_) {
    (void)::kill(command_, SIGKILL);
    killed_ = true;
  }
  return killed_;
}

void CommandEnd::begin() {
  if (deadline_) return;
  deadline_ = Clock::now() + kGrace;
  if (relay_ != nullptr) relay_->command_ending();
}

}  // namespace sim

#include "serial/cycle_guard.hpp"

#include <csignal>

#include "console/ending_signals.hpp"
#include "serial/low_latency.hpp"
#include "serial/open_line.hpp"
#include "serial/port.hpp"
#include "serial/port_settings.hpp"

namespace {

// The port the second signal puts right.
volatile std::sig_atomic_t guarded_port = -1;

// The program is being ended in the middle of a port cycle: the device must
// not keep a half-typed line that the next program's command would be glued
// onto, nor act on it. The erase goes as typing goes, and shows what the
// device answers.
void end_cycle() {
  // A port that fails takes nothing more: it is closed all the same.
  if (fd >= 0) (void)end_open_line();
  close_port();
}

// A second signal: the erase is left where it is.
void end_cycle_at_once() {
  const int port = guarded_port;
  if (port < 0) return;
  restore_latency(port);
  restore_port_settings_at_once(port);
}

}  // namespace

void guard_cycle(int port) {
  guarded_port = port;
  arm_ending_signals(end_cycle, end_cycle_at_once);
}

void unguard_cycle() {
  guarded_port = -1;
  disarm_ending_signals();
}

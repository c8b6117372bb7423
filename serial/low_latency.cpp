#include "serial/low_latency.hpp"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <csignal>

namespace {

// The port's own settings, taken before the flag was added; valid while
// `changed` is set, which is set only after they are complete.
serial_struct own_settings{};
volatile std::sig_atomic_t changed = 0;

}  // namespace

void ask_low_latency(int port) {
  changed = 0;
  serial_struct settings{};
  if (::ioctl(port, TIOCGSERIAL, &settings) != 0) return;
  if ((settings.flags & ASYNC_LOW_LATENCY) != 0) return;
  own_settings = settings;
  settings.flags |= ASYNC_LOW_LATENCY;
  // Marked before the change: a signal during it puts back flags that may not
  // have changed, which does no harm.
  changed = 1;
  if (::ioctl(port, TIOCSSERIAL, &settings) != 0) changed = 0;
}

void restore_latency(int port) {
  if (changed == 0) return;
  // Cleared only once done: a signal before then puts them back itself.
  (void)::ioctl(port, TIOCSSERIAL, &own_settings);
  changed = 0;
}

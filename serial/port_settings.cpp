#include "serial/port_settings.hpp"

#include <sys/ioctl.h>
#include <termios.h>

#include <csignal>
#include <ctime>

namespace {

// Valid while `saved` is set, which is set only once they are complete.
termios before{};
volatile std::sig_atomic_t saved = 0;

// Bytes still queued would go out at the settings put back: they are given
// this long (a 256-byte erase at 115200 takes 22 ms) to leave first.
constexpr int kDrainPolls = 50;
constexpr long kDrainPollNs = 10'000'000;

}  // namespace

void save_port_settings(int port) {
  saved = 0;
  if (::tcgetattr(port, &before) == 0) saved = 1;
}

void restore_port_settings(int port) {
  if (saved == 0) return;
  for (int i = 0; i < kDrainPolls; ++i) {
    int queued = 0;
    if (::ioctl(port, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
    const timespec pause{0, kDrainPollNs};
    ::nanosleep(&pause, nullptr);
  }
  (void)::tcsetattr(port, TCSANOW, &before);
  saved = 0;
}

void restore_port_settings_at_once(int port) {
  if (saved == 0) return;
  (void)::tcflush(port, TCOFLUSH);
  (void)::tcsetattr(port, TCSANOW, &before);
  saved = 0;
}

#include "menus/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <string_view>

#include "capture/capture.hpp"
#include "console/console.hpp"
#include "menus/main_menu.hpp"
#include "serial/drain.hpp"
#include "serial/pause.hpp"
#include "serial/port.hpp"
#include "serial/upload.hpp"

char ch = 0;

namespace {

constexpr std::string_view kHowToLeave = "\n\rTecla <q> + ENTER sai do terminal\n\r";
constexpr std::string_view kCannotOpenFile = "\nImpossivel abrir o arquivo";
// While the port is away, its name is looked for this often: no cost at all
// while connected, one wake-up a second while unplugged.
constexpr std::chrono::seconds kPortLookInterval{1};

enum class Leave { kQuit, kConsoleClosed };

// The mode waits on its own poll for the port: SIGIO would only interrupt that
// wait to say what the poll says anyway. Held off for the mode, and on the way
// out nothing signalled meanwhile is left behind for the rest of the program.
class SigioHeldOff {
 public:
  SigioHeldOff() {
    sigemptyset(&io_);
    sigaddset(&io_, SIGIO);
    ::sigprocmask(SIG_BLOCK, &io_, &previous_);
  }
  ~SigioHeldOff() {
    const timespec now{};
    while (::sigtimedwait(&io_, nullptr, &now) == SIGIO) {
    }
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
    wait_flag = 1;
  }
  SigioHeldOff(const SigioHeldOff&) = delete;
  SigioHeldOff& operator=(const SigioHeldOff&) = delete;

 private:
  sigset_t io_{};
  sigset_t previous_{};
};

// The port's input notification has no use in the mode (see SigioHeldOff); not
// raised at all, it costs the device's side of each burst nothing either.
void stop_port_signal() {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_ASYNC);
}

ByteConsumer capture() { return wr_fl == 1 ? receive_file : nullptr; }

class Terminal {
 public:
  explicit Terminal(PortCycle& port) : port_(port) {}
  Leave run();

 private:
  void key(char key);
  void type_conf_file();
  void port_lost();
  void look_for_port();

  PortCycle& port_;
  int latch_ = 0;
  bool away_ = false;                // the port hung up; its name is looked for
  bool away_reported_ = false;       // ...and a key of this line was answered so
  MonoClock::time_point next_look_;  // when the port's name is looked for next
};

// The adapter went away: let go of the port (so the system can give the name
// back when it returns), tell the operator once, and look for it from now on.
void Terminal::port_lost() {
  port_.close();
  away_ = true;
  away_reported_ = false;
  next_look_ = MonoClock::now() + kPortLookInterval;
  print_port_error();
}

void Terminal::look_for_port() {
  next_look_ = MonoClock::now() + kPortLookInterval;
  if (!port_.open()) return;
  away_ = false;
  stop_port_signal();
  console_write("\nPorta ");
  console_write(devicename);
  console_write(" reconectada\n\r");
}

// Key '3': types the configuration file over the port that the mode holds.
void Terminal::type_conf_file() {
  console_write(kSendingFile);
  UploadFile file(kConfFile);
  const ssize_t n = file.read_part();
  if (n < 0) {
    console_write(kCannotOpenFile);
    // A file that is there but is no file to upload gets its reason told.
    if (file.refused() || file.is_open()) file.report();
    return;
  }
  const PacedEnd end = send_paced_file(file, n, capture());
  if (end == PacedEnd::kPortFailed) port_lost();
  if (end == PacedEnd::kFileFailed) file.report();
}

// Every key but 'q'. The first ordinary key after entry is dropped: as a rule
// it is the ENTER that chose the mode from the menu.
void Terminal::key(char key) {
  ch = key;
  if (away_) {
    // Told again rather than lost without a word; once per line typed.
    if (!away_reported_) print_port_error();
    away_reported_ = ch != '\n';
    return;
  }
  if (ch == '3') {
    type_conf_file();
  } else if (latch_ == 1) {
    // Only 7-bit characters reach the device; NUL and accented bytes do not.
    bool sent = static_cast<signed char>(ch) <= 0 || port_write(&ch, 1);
    if (sent && ch == '\n') sent = port_write(std::string_view("\r"));
    if (!sent) port_lost();
  } else {
    latch_ = 1;
  }
}

// The mode's loop. It sleeps until the operator types or the port has input
// (or, while the port is away, until it is time to look for it), so device
// output never waits for a key and an idle terminal costs nothing.
Leave Terminal::run() {
  stop_port_signal();
  console_write(kHowToLeave);
  for (;;) {
    console_flush();
    std::array<pollfd, 2> watch{{{STDIN_FILENO, POLLIN, 0}, {away_ ? -1 : fd, POLLIN, 0}}};
    const timespec look_in = away_ ? time_left_until(next_look_) : timespec{};
    const int ready = ::ppoll(watch.data(), watch.size(), away_ ? &look_in : nullptr, nullptr);
    if (ready < 0) {
      // A failing poll (out of memory) is retried, but not at full speed.
      if (errno != EINTR) pause_us(kShortDrainPauseUs);
      continue;
    }
    if (ready == 0) {
      look_for_port();
      continue;
    }
    // The operator first: a device that never stops talking must not keep 'q' unread.
    if (watch[0].revents != 0) {
      const int key = console_getc();
      if (key == kConsoleClosed) return Leave::kConsoleClosed;
      if (key == kConsoleInterrupted) continue;
      if (key == 'q') {
        ch = 'q';
        return Leave::kQuit;
      }
      this->key(static_cast<char>(key));
    } else if (watch[1].revents != 0) {
      // The poll has just said so: read without asking again. A port that hangs
      // up, or is readable with nothing to read, is gone.
      if ((watch[1].revents & POLLIN) == 0 || !show_port_input(capture())) {
        port_lost();
        continue;
      }
      pause_us(kShortDrainPauseUs);
    }
  }
}

}  // namespace

void terminal_mode() {
  {
    const SigioHeldOff held_off;
    PortCycle port;
    if (!port.is_open()) {
      print_menu();
      print_port_error();
      return;
    }
    // Closed console input ends the program; there is nobody to show a menu to.
    if (Terminal(port).run() == Leave::kConsoleClosed) return;
  }  // the port is closed before the menu comes back
  print_menu();
}

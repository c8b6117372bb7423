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
#include <utility>

#include "capture/capture.hpp"
#include "console/console.hpp"
#include "console/ending_signals.hpp"
#include "menus/main_menu.hpp"
#include "serial/drain.hpp"
#include "serial/open_line.hpp"
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

// Typed keys go to the device no faster than its console takes them: each
// one this long after the previous write to the port returned.
constexpr std::chrono::microseconds kKeyGap{kKeyPauseUs};

class Terminal {
 public:
  explicit Terminal(PortCycle& port) : port_(port) {}
  Leave run();

 private:
  bool take(char key);
  void ordinary(char key);
  bool answered_away(char key);
  static void wait_turn();
  void type(char key);
  void type_conf_file();
  void console_closed();
  void port_lost();
  void look_for_port();

  PortCycle& port_;
  int latch_ = 0;
  bool line_start_ = true;           // nothing read yet of the console's current line
  char held_ = 0;                    // a 'q' or '3' that began a line: a command if ENTER follows
  bool away_ = false;                // the port hung up; its name is looked for
  bool away_reported_ = false;       // ...and the current line was told so
  MonoClock::time_point next_look_;  // when the port's name is looked for next
};

// The adapter went away: let go of the port (so the system can give the name
// back when it returns), tell the operator once, and look for it from now on.
// Told in the middle of a line (a '3' whose file was cut short, keys typed
// ahead), the message answers that line: the rest of it was typed before the
// loss and is not answered again.
void Terminal::port_lost() {
  port_.close();
  away_ = true;
  away_reported_ = !line_start_;
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
  // A line the device was left holding (the adapter pulled while '3' typed) is
  // erased and ended before anything typed is glued onto it, paced as typed keys.
  if (!end_open_line(wait_turn)) port_lost();
}

// While the port is away a key is answered with the port error rather than
// lost without a word; once per line typed.
bool Terminal::answered_away(char key) {
  if (!away_) return false;
  if (!away_reported_) print_port_error();
  away_reported_ = key != '\n';
  return true;
}

// Waits until the device's console can take the next byte (and, with a device
// that echoes, has echoed the one before), showing its output meanwhile.
void Terminal::wait_turn() { port_wait_turn(port_last_write() + kKeyGap, capture()); }

// One byte to the device, when its console can take it; ENTER goes as LF and
// the CR right after it. The device's output is shown while the key waits.
void Terminal::type(char key) {
  wait_turn();
  bool sent = port_write(&key, 1);
  if (sent && key == '\n') sent = port_write(std::string_view("\r"));
  if (!sent) port_lost();
}

// Command '3': types the configuration file over the port that the mode holds.
void Terminal::type_conf_file() {
  console_write(kSendingFile);
  UploadFile file(kConfFile);
  const ssize_t n = file.read_part();
  if (n < 0) {
    console_write(kCannotOpenFile);
    // A file that is there but is no file to upload gets its reason told, on a
    // line of its own: it goes to standard error, the text above to standard output.
    if (file.refused() || file.is_open()) {
      console_putc('\n');
      file.report();
    }
    return;
  }
  // The file starts a line of its own on the device.
  if (!end_open_line(wait_turn)) {
    port_lost();
    return;
  }
  const PacedEnd end = send_paced_file(file, n, capture());
  if (end == PacedEnd::kPortFailed) port_lost();
  if (end == PacedEnd::kFileFailed) file.report();
  // A last line without its line feed is the file's own text: a CR alone ends it.
  if (end == PacedEnd::kWhole) mark_line_whole();
}

// A key that is no command. The first one after entry is dropped: as a rule
// it is the ENTER that chose the mode from the menu.
void Terminal::ordinary(char key) {
  ch = key;
  line_start_ = key == '\n';
  if (answered_away(key)) return;
  if (latch_ == 0) {
    latch_ = 1;
    return;
  }
  // Only 7-bit characters reach the device; NUL and accented bytes do not.
  if (static_cast<signed char>(ch) > 0) type(ch);
}

// One key read from the console; true when it ends the mode. 'q' and '3' are
// commands only as a line of their own: anywhere else ("hdb3", "frequency")
// they are typed like any other character.
bool Terminal::take(char key) {
  if (held_ != 0) {
    const char command = std::exchange(held_, 0);
    if (key == '\n' && command == 'q') {
      ch = 'q';
      return true;
    }
    if (key == '\n') {
      if (!answered_away(command)) type_conf_file();
      ordinary(key);  // the ENTER after '3' is an ordinary key, as it always was
      return false;
    }
    ordinary(command);
  } else if (line_start_ && (key == 'q' || key == '3')) {
    held_ = key;
    line_start_ = false;
    return false;
  }
  ordinary(key);
  return false;
}

// The console is gone and the program with it: what the operator typed goes
// out, and the device is not left holding an unended line. A line never ended
// by ENTER is erased first: the operator did not ask the device to act on it.
void Terminal::console_closed() {
  if (held_ != 0) ordinary(std::exchange(held_, 0));
  if (away_) return;
  if (!end_open_line(wait_turn)) port_lost();
}

// The mode's loop. It sleeps until the operator types or the port has input
// (or, while the port is away, until it is time to look for it), so device
// output never waits for a key and an idle terminal costs nothing. Keys are
// read one at a time, as they can be typed, so those typed ahead wait in the
// console's own buffer and keep their order.
Leave Terminal::run() {
  stop_port_signal();
  console_write(kHowToLeave);
  for (;;) {
    console_flush();
    std::array<pollfd, 2> watch{{{STDIN_FILENO, POLLIN, 0}, {away_ ? -1 : fd, POLLIN, 0}}};
    const timespec look_in = away_ ? time_left_until(next_look_) : timespec{};
    const int ready = wait_ready(watch.data(), watch.size(), away_ ? &look_in : nullptr);
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
      if (key == kConsoleClosed) {
        console_closed();
        return Leave::kConsoleClosed;
      }
      if (key == kConsoleInterrupted) continue;
      if (take(static_cast<char>(key))) return Leave::kQuit;
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

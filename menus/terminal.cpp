#include "menus/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string_view>

#include "capture/capture.hpp"
#include "menus/console.hpp"
#include "menus/main_menu.hpp"
#include "serial/pause.hpp"
#include "serial/port.hpp"
#include "serial/unique_fd.hpp"
#include "serial/upload.hpp"
#include "serial/write_all.hpp"

char ch = 0;

namespace {

constexpr std::string_view kHowToLeave = "\n\rTecla <q> + ENTER sai do terminal\n\r";
constexpr std::string_view kCannotOpenFile = "\nImpossivel abrir o arquivo";

enum class Leave { kQuit, kConsoleClosed };

// Shows what the device sent; each byte also goes to the capture while it is on.
void drain_to_console() { drain(kShortDrainPauseUs, wr_fl == 1 ? receive_file : nullptr); }

// Key '3': types the configuration file over the port that the mode holds.
void type_conf_file() {
  console_write(kSendingFile);
  const UniqueFd file(::open(kConfFile, O_RDONLY | O_CLOEXEC));
  if (!file.is_open()) {
    console_write(kCannotOpenFile);
    return;
  }
  send_paced_file(fd, file.get());
}

// Every key but 'q'. The first ordinary key after entry is dropped: as a rule
// it is the ENTER that chose the mode from the menu.
void handle_key(char key, int& latch) {
  ch = key;
  if (ch == '3') {
    type_conf_file();
  } else if (latch == 1) {
    // Only 7-bit characters reach the device; NUL and accented bytes do not.
    if (static_cast<signed char>(ch) > 0) write_all(fd, &ch, 1);
    if (ch == '\n') write_all(fd, std::string_view("\r"));
  } else {
    latch = 1;
  }
  drain_to_console();
}

// The mode's loop over an open port. It sleeps until the operator types or the
// port has input, so device output never waits for a key and an idle terminal
// costs nothing.
Leave run_terminal() {
  int latch = 0;
  bool port_watched = true;
  console_write(kHowToLeave);
  for (;;) {
    console_flush();
    std::array<pollfd, 2> watch{{{STDIN_FILENO, POLLIN, 0}, {port_watched ? fd : -1, POLLIN, 0}}};
    if (::poll(watch.data(), watch.size(), -1) < 0) {
      // SIGIO from the port ends the wait: just look again. A failing poll
      // (out of memory) is retried, but not at full speed.
      if (errno != EINTR) pause_us(kShortDrainPauseUs);
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
      handle_key(static_cast<char>(key), latch);
    } else if (watch[1].revents != 0) {
      // Input waits in the port, whether or not an earlier drain absorbed its signal.
      wait_flag = 0;
      drain_to_console();
      // An unplugged adapter stays readable for ever with nothing to read:
      // stop watching it, or the loop would spin. 'q' still works.
      if ((watch[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) port_watched = false;
    }
  }
}

}  // namespace

void terminal_mode() {
  {
    const PortCycle port;
    if (!port.is_open()) {
      print_menu();
      print_port_error();
      return;
    }
    // Closed console input ends the program; there is nobody to show a menu to.
    if (run_terminal() == Leave::kConsoleClosed) return;
  }  // the port is closed before the menu comes back
  print_menu();
}

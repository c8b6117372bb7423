#include "serial/port.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

#include "console/console.hpp"
#include "console/ending_signals.hpp"
#include "console/write_all.hpp"
#include "serial/cycle_guard.hpp"
#include "serial/echo.hpp"
#include "serial/low_latency.hpp"
#include "serial/open_line.hpp"
#include "serial/port_holder.hpp"
#include "serial/port_settings.hpp"

char devicename[kDeviceNameSize] = "/dev/ttyUSB0";
int fd = -1;
volatile std::sig_atomic_t wait_flag = 1;
struct termios newtio {};
struct sigaction saio {};

namespace {
std::chrono::steady_clock::time_point last_write;

// Why the last open of the port failed, where the operator can do something about it.
enum class Refusal { kNone, kPermission, kBusy };
Refusal refusal = Refusal::kNone;

Refusal refusal_of(int error) {
  if (error == EACCES || error == EPERM) return Refusal::kPermission;
  // Another program took the port exclusively (TIOCEXCL).
  if (error == EBUSY) return Refusal::kBusy;
  return Refusal::kNone;
}

void print_holder() {
  console_write("A porta ");
  console_write(devicename);
  console_write(" esta em uso por outro programa");
  if (const auto holder = port_holder(devicename)) {
    std::array<char, 48> who{};
    const int n = std::snprintf(who.data(), who.size(), ": %s (pid %d).", holder->name.data(),
                                static_cast<int>(holder->pid));
    console_write(
        std::string_view(who.data(), n > 0 ? std::min<std::size_t>(n, who.size() - 1) : 0));
  } else {
    console_write(" (fuser -v ");
    console_write(devicename);
    console_write(" mostra qual).");
  }
  console_line(" Feche-o e tente de novo.");
}
}  // namespace

void signal_handler_IO(int /*signal_number*/) { wait_flag = 0; }

void conf_serial() {
  saio = {};
  saio.sa_handler = signal_handler_IO;
  sigemptyset(&saio.sa_mask);
  saio.sa_flags = 0;  // no SA_RESTART: the signal must end a wait for the console
  ::sigaction(SIGIO, &saio, nullptr);

  newtio = {};
  newtio.c_cflag = B115200 | CS8 | CLOCAL | CREAD;
  // Read as the line brings it: a CR LF echo and two CR echoes differ for the
  // echo model; what is shown gets every CR as a line feed (show_port_input).
  newtio.c_iflag = 0;
  newtio.c_oflag = ONLCR;  // without OPOST: bytes reach the line unchanged
  newtio.c_lflag = 0;
  newtio.c_cc[VMIN] = 1;
  newtio.c_cc[VTIME] = 0;
  ::cfsetispeed(&newtio, B115200);
  ::cfsetospeed(&newtio, B115200);

  ::fcntl(fd, F_SETOWN, ::getpid());
  ::fcntl(fd, F_SETFL, O_ASYNC);
  ::tcflush(fd, TCIFLUSH);
  save_port_settings(fd);
  ::tcsetattr(fd, TCSANOW, &newtio);
}

void print_port_error() {
  console_line(kPortError);
  if (refusal == Refusal::kPermission) {
    console_write("Sem permissao para abrir ");
    console_write(devicename);
    console_line(
        ": entre no grupo dialout (sudo usermod -aG dialout $USER) e abra a sessao de novo.");
  } else if (refusal == Refusal::kBusy) {
    print_holder();
  }
}

bool port_write(const void* data, std::size_t size) {
  if (fd < 0 || size == 0) return fd >= 0;
  const char* bytes = static_cast<const char*>(data);
  // No echo of these bytes can come before the write begins.
  const auto at = std::chrono::steady_clock::now();
  const bool written = write_all(fd, data, size);
  line_written(bytes, size, written);
  if (!written) return false;
  last_write = std::chrono::steady_clock::now();
  echo_typed(std::string_view(bytes, size), at);
  return true;
}

std::chrono::steady_clock::time_point port_last_write() { return last_write; }

bool PortCycle::open() {
  close();
  refusal = Refusal::kNone;
  fd = ::open(devicename, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    refusal = refusal_of(errno);
    return false;
  }
  // A regular file or a FIFO at the port's name (what a write to a missing
  // /dev/ttyUSB0 leaves behind) is no device: nothing is typed into it.
  // Two programs typing into one console interleave their bytes: the port is
  // ours alone or not at all, as other serial terminals agree. The lock goes
  // with the descriptor, so it is released at close or if the program dies.
  const bool terminal = ::isatty(fd) != 0;
  if (!terminal || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (terminal && errno == EWOULDBLOCK) refusal = Refusal::kBusy;
    ::close(fd);
    fd = -1;
    return false;
  }
  // Armed before anything of the port is changed: a signal from here on
  // finds it put back.
  guard_cycle(fd);
  conf_serial();
  last_write = std::chrono::steady_clock::now();
  echo_cycle_begins();
  // Whatever was signalled before the flush is gone with the flushed bytes.
  wait_flag = 1;
  recall_open_line(devicename);
  ask_low_latency(fd);
  return true;
}

void PortCycle::close() { close_port(); }

void close_port() {
  if (fd < 0) return;
  // A signal come since the last wait ends the cycle from here, line and all.
  act_on_ending_signal();
  restore_latency(fd);
  restore_port_settings(fd);
  remember_open_line(devicename);
  const int port = fd;
  fd = -1;
  ::close(port);
  // Once the port is put right and closed: a signal come meanwhile ends the program here.
  unguard_cycle();
}

#include "serial/port.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "console/console.hpp"
#include "console/write_all.hpp"

char devicename[kDeviceNameSize] = "/dev/ttyUSB0";
int fd = -1;
volatile std::sig_atomic_t wait_flag = 1;
struct termios newtio {};
struct sigaction saio {};

namespace {

std::chrono::steady_clock::time_point last_write;

// Whether the device of the open cycle holds an unended line; the signal
// handler reads it, so it is kept where a handler may look.
volatile std::sig_atomic_t cycle_line_open = 0;
// The port the handler must end and close: `fd` while a cycle is open.
volatile std::sig_atomic_t guarded_port = -1;

// The names of the ports whose device holds a line left unended; a name is
// here only while its line is open. The menu offers six ports.
constexpr std::size_t kRememberedPorts = 8;
std::array<std::array<char, kDeviceNameSize>, kRememberedPorts> open_lines{};

std::array<char, kDeviceNameSize>* remembered(const char* name) {
  for (auto& entry : open_lines) {
    if (entry[0] != '\0' && std::strncmp(entry.data(), name, entry.size()) == 0) return &entry;
  }
  return nullptr;
}

void remember_line(const char* name, bool open) {
  auto* entry = remembered(name);
  if (!open) {
    if (entry != nullptr) (*entry)[0] = '\0';
    return;
  }
  if (entry != nullptr) return;
  for (auto& free : open_lines) {
    if (free[0] != '\0') continue;
    // devicename is a terminated string of the same size.
    const std::size_t length = ::strnlen(name, free.size() - 1);
    std::memcpy(free.data(), name, length);
    free[length] = '\0';
    return;
  }
}

constexpr std::array<int, 3> kEndingSignals = {SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, kEndingSignals.size()> previous_actions{};
std::array<bool, kEndingSignals.size()> guarding{};

// Writes the carriage return that ends the device's line, from a signal
// handler: without blocking for long on a port that takes nothing.
void end_line_before_dying(int port) {
  ::fcntl(port, F_SETFL, O_NONBLOCK);
  for (int tries = 0; tries < 10; ++tries) {
    const ssize_t n = ::write(port, "\r", 1);
    if (n == 1 || (n < 0 && errno != EINTR && errno != EAGAIN)) return;
    pollfd p{port, POLLOUT, 0};
    ::poll(&p, 1, 20);
  }
}

// The program is being ended in the middle of a port cycle: the device must
// not keep a half-typed line that the next program's command would be glued
// onto. Then the signal does what it would have done.
void end_cycle_and_die(int signal_number) {
  const int port = guarded_port;
  if (port >= 0) {
    if (cycle_line_open != 0) end_line_before_dying(port);
    ::close(port);
  }
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  ::sigaction(signal_number, &plain, nullptr);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  (void)::raise(signal_number);
  ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
}

// Signals that the caller chose to ignore (nohup, a background job) stay ignored.
void guard_cycle() {
  guarded_port = fd;
  struct sigaction guard {};
  guard.sa_handler = end_cycle_and_die;
  sigemptyset(&guard.sa_mask);
  for (const int s : kEndingSignals) sigaddset(&guard.sa_mask, s);
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    guarding[i] = false;
    if (::sigaction(kEndingSignals[i], nullptr, &previous_actions[i]) != 0) continue;
    if (previous_actions[i].sa_handler == SIG_IGN) continue;
    guarding[i] = ::sigaction(kEndingSignals[i], &guard, nullptr) == 0;
  }
}

void unguard_cycle() {
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    if (guarding[i]) ::sigaction(kEndingSignals[i], &previous_actions[i], nullptr);
    guarding[i] = false;
  }
  guarded_port = -1;
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
  newtio.c_iflag = ICRNL;
  newtio.c_oflag = ONLCR;  // without OPOST: bytes reach the line unchanged
  newtio.c_lflag = 0;
  newtio.c_cc[VMIN] = 1;
  newtio.c_cc[VTIME] = 0;
  ::cfsetispeed(&newtio, B115200);
  ::cfsetospeed(&newtio, B115200);

  ::fcntl(fd, F_SETOWN, ::getpid());
  ::fcntl(fd, F_SETFL, O_ASYNC);
  ::tcflush(fd, TCIFLUSH);
  ::tcsetattr(fd, TCSANOW, &newtio);
}

void print_port_error() { console_line(kPortError); }

bool port_write(const void* data, std::size_t size) {
  if (fd < 0 || size == 0) return fd >= 0;
  const char last = static_cast<const char*>(data)[size - 1];
  const bool leaves_open = last != '\r' && last != '\n';
  // Marked open before the write: a signal during it then ends the line at
  // worst once too often, never leaves it open.
  if (leaves_open) cycle_line_open = 1;
  if (!write_all(fd, data, size)) return false;
  cycle_line_open = leaves_open ? 1 : 0;
  last_write = std::chrono::steady_clock::now();
  return true;
}

std::chrono::steady_clock::time_point port_last_write() { return last_write; }

bool end_open_line() { return cycle_line_open == 0 || port_write(std::string_view("\r")); }

bool PortCycle::open() {
  close();
  fd = ::open(devicename, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // A regular file or a FIFO at the port's name (what a write to a missing
  // /dev/ttyUSB0 leaves behind) is no device: nothing is typed into it.
  // Two programs typing into one console interleave their bytes: the port is
  // ours alone or not at all, as other serial terminals agree. The lock goes
  // with the descriptor, so it is released at close or if the program dies.
  if (::isatty(fd) == 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    fd = -1;
    return false;
  }
  conf_serial();
  last_write = std::chrono::steady_clock::now();
  // Whatever was signalled before the flush is gone with the flushed bytes.
  wait_flag = 1;
  cycle_line_open = remembered(devicename) != nullptr ? 1 : 0;
  guard_cycle();
  return true;
}

void PortCycle::close() {
  if (fd < 0) return;
  unguard_cycle();
  remember_line(devicename, cycle_line_open != 0);
  cycle_line_open = 0;
  ::close(fd);
  fd = -1;
}

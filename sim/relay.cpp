#include "sim/relay.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

// The caller's terminal as found, and whether the relay has it raw now: what
// the stop signals' handler needs, so process-wide.
termios g_caller_mode{};
volatile std::sig_atomic_t g_raw = 0;

constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

bool in_foreground() { return ::tcgetpgrp(STDIN_FILENO) == ::getpgrp(); }

// SIGTSTP, SIGTTIN, SIGTTOU: the caller's terminal back as it was, then stop,
// by SIGSTOP: its terminal raw, the caller sends none of these by a key, so
// whoever sent one wants the simulator stopped, also where the kernel would
// not stop an orphaned process group for them.
void give_back_and_stop(int) {
  const int saved = errno;
  if (g_raw != 0 && in_foreground()) {
    (void)::tcsetattr(STDIN_FILENO, TCSANOW, &g_caller_mode);
    g_raw = 0;
  }
  (void)::kill(::getpid(), SIGSTOP);
  errno = saved;
}

void set_raw() {
  termios raw = g_caller_mode;
  ::cfmakeraw(&raw);
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) g_raw = 1;
}

bool fail(SetupError& error) {
  error.step = SetupError::kConsole;
  error.error = errno;
  return false;
}

// A description of the caller's terminal or pipe of the relay's own, so that
// it can be non-blocking without the caller's shell finding it so afterwards.
// Anything else (a file, a socket) is shared, and written as it is.
int own_description(int fd, int flags) {
  struct stat about {};
  if (::fstat(fd, &about) == 0 && (S_ISCHR(about.st_mode) || S_ISFIFO(about.st_mode))) {
    char path[32];
    (void)std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    const int own = ::open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (own >= 0) return own;
  }
  return ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

// Room for the one descriptor a report carries.
using ControlRoom = std::array<char, CMSG_SPACE(sizeof(int))>;

msghdr message_over(iovec& payload, ControlRoom& control) {
  msghdr message{};
  message.msg_iov = &payload;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  return message;
}

bool send_descriptor(int channel, int fd) {
  SetupError none;
  iovec payload{&none, sizeof none};
  alignas(cmsghdr) ControlRoom control{};
  msghdr message = message_over(payload, control);
  cmsghdr* const header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  ssize_t n = 0;
  do {
    n = ::sendmsg(channel, &message, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof none);
}

}  // namespace

std::optional<CallerTerminal> caller_terminal() {
  CallerTerminal caller;
  if (::tcgetattr(STDIN_FILENO, &caller.mode) != 0) return std::nullopt;
  (void)::ioctl(STDIN_FILENO, TIOCGWINSZ, &caller.size);
  return caller;
}

bool take_console(int channel, const CallerTerminal& caller, SetupError& error) {
  std::optional<UniqueFd> slave;
  {
    const UniqueFd master(::open("/dev/ptmx", O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.is_open() || ::unlockpt(master.get()) != 0) return fail(error);
    // The peer through the master rather than through its name, and above the
    // standard descriptors whichever of them the caller left closed.
    const UniqueFd peer(::ioctl(master.get(), TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!peer.is_open()) return fail(error);
    slave.emplace(::fcntl(peer.get(), F_DUPFD_CLOEXEC, 3));
    if (!slave->is_open()) return fail(error);
    // COMMAND starts with the caller's settings and size, as it would on the caller's terminal.
    if (::tcsetattr(slave->get(), TCSANOW, &caller.mode) != 0) return fail(error);
    (void)::ioctl(slave->get(), TIOCSWINSZ, &caller.size);
    if (!send_descriptor(channel, master.get())) return fail(error);
  }  // the master is the simulator's alone from here
  if (::setsid() < 0 || ::ioctl(slave->get(), TIOCSCTTY, 0) != 0) return fail(error);
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::dup2(slave->get(), fd) < 0) return fail(error);
  }
  return true;
}

ssize_t receive_report(int channel, SetupError& error, int& descriptor) {
  descriptor = -1;
  iovec payload{&error, sizeof error};
  alignas(cmsghdr) ControlRoom control{};
  msghdr message = message_over(payload, control);
  ssize_t n = 0;
  do {
    n = ::recvmsg(channel, &message, MSG_CMSG_CLOEXEC);
  } while (n < 0 && errno == EINTR);
  for (cmsghdr* header = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr; header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS) {
      std::memcpy(&descriptor, CMSG_DATA(header), sizeof descriptor);
    }
  }
  return n;
}

Relay::Relay(int console, const termios& caller_mode)
    : in_(own_description(STDIN_FILENO, O_RDONLY)), out_(own_description(STDOUT_FILENO, O_WRONLY)) {
  console_.emplace(console);
  (void)::fcntl(console, F_SETFL, ::fcntl(console, F_GETFL) | O_NONBLOCK);
  g_caller_mode = caller_mode;
  struct sigaction stop {};
  stop.sa_handler = give_back_and_stop;
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  for (const int s : kStopSignals) sigaddset(&stop.sa_mask, s);
  for (const int s : kStopSignals) (void)::sigaction(s, &stop, nullptr);
  // Every key goes to COMMAND as it is; COMMAND's terminal does the echo,
  // the line editing and the signals of Ctrl-C and Ctrl-Z. Started in the
  // background, the simulator stops here (SIGTTOU) until brought to the foreground.
  set_raw();
}

Relay::~Relay() {
  restore();
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  for (const int s : kStopSignals) (void)::sigaction(s, &plain, nullptr);
}

bool Relay::Pending::write_to(int fd) {
  while (!empty()) {
    const ssize_t n = ::write(fd, bytes.data() + at, end - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else if (n >= 0 || errno != EINTR) {
      return false;
    }
  }
  at = end = 0;
  return true;
}

ssize_t Relay::Pending::read_from(int fd) {
  const ssize_t n = ::read(fd, bytes.data(), bytes.size());
  at = 0;
  end = n > 0 ? static_cast<std::size_t>(n) : 0;
  return n;
}

void Relay::prepare(pollfd* fds) const {
  const bool open = console_.has_value() && !console_ended_;
  fds[0] = {open && !caller_gone_ && to_command_.empty() ? in_.get() : -1, POLLIN, 0};
  short events = 0;
  if (open && to_caller_.empty()) events |= POLLIN;
  if (open && !to_command_.empty()) events |= POLLOUT;
  fds[1] = {events != 0 ? console_->get() : -1, events, 0};
  fds[2] = {to_caller_.empty() ? -1 : out_.get(), POLLOUT, 0};
}

void Relay::serve(const pollfd* fds) {
  if (fds[0].revents != 0) {
    const ssize_t n = to_command_.read_from(in_.get());
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      hang_up();  // the caller's terminal is gone
      return;
    }
  }
  if (console_ && !to_command_.empty() && !to_command_.write_to(console_->get())) {
    to_command_ = {};  // COMMAND's terminal no longer takes input
  }
  if (fds[2].revents != 0) write_output();
  // A flooding COMMAND gets a bounded share of each wake-up, like the line.
  if (fds[1].revents != 0) (void)take_output(16);
}

int Relay::take_output(int max_reads) {
  int reads = 0;
  while (reads < max_reads && console_ && !console_ended_ && to_caller_.empty()) {
    const ssize_t n = to_caller_.read_from(console_->get());
    if (n > 0) {
      ++reads;
      write_output();
    } else if (n < 0 && errno == EAGAIN) {
      break;
    } else if (n == 0 || errno != EINTR) {
      console_ended_ = true;  // EIO: every process has closed COMMAND's terminal
    }
  }
  return reads;
}

void Relay::write_output() {
  if (caller_gone_) {
    to_caller_ = {};
    return;
  }
  if (!to_caller_.write_to(out_.get())) {
    // Nobody reads the caller's side any more (a closed pipe, a terminal
    // gone): COMMAND hears of it as it would without the relay.
    to_caller_ = {};
    hang_up();
  }
}

void Relay::resize() const {
  winsize size{};
  if (console_ && ::ioctl(STDIN_FILENO, TIOCGWINSZ, &size) == 0) {
    (void)::ioctl(console_->get(), TIOCSWINSZ, &size);  // the kernel signals COMMAND
  }
}

void Relay::resume() {
  if (holding_) {
    // In the background the terminal is another's: it stays as it is, and
    // the relay's first read of it stops the simulator again (SIGTTIN).
    if (in_foreground()) {
      set_raw();
    } else {
      g_raw = 0;
    }
  }
  resize();
}

void Relay::hang_up() {
  caller_gone_ = true;
  if (!command_ending_) console_.reset();  // COMMAND's session gets SIGHUP, its reads end
  to_command_ = {};
  to_caller_ = {};
  restore();
}

void Relay::drain() {
  // No more reads than the line's own drain: a writer left behind must not keep the simulator.
  for (int reads = 0; reads < 32; ++reads) {
    if (take_output(1) == 0 && to_caller_.empty()) break;
    // A caller's side slow to take it gets a second at a time; one that takes nothing, no more.
    while (!to_caller_.empty()) {
      pollfd p{out_.get(), POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) {
        restore();
        return;
      }
      write_output();
    }
  }
  restore();
}

void Relay::restore() {
  holding_ = false;
  if (g_raw != 0) (void)::tcsetattr(STDIN_FILENO, TCSANOW, &g_caller_mode);
  g_raw = 0;
}

}  // namespace sim

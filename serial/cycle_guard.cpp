#include "serial/cycle_guard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include "serial/open_line.hpp"

namespace {

// SIGQUIT (Ctrl-\) ends the program as surely as Ctrl-C does; its core dump
// comes after the line is ended.
constexpr std::array<int, 4> kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
std::array<struct sigaction, kEndingSignals.size()> previous_actions{};
std::array<bool, kEndingSignals.size()> guarding{};
// The port the handler must end and close.
volatile std::sig_atomic_t guarded_port = -1;

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

}  // namespace

void guard_cycle(int port) {
  guarded_port = port;
  struct sigaction guard {};
  guard.sa_handler = end_cycle_and_die;
  sigemptyset(&guard.sa_mask);
  for (const int s : kEndingSignals) sigaddset(&guard.sa_mask, s);
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    guarding[i] = false;
    if (::sigaction(kEndingSignals[i], nullptr, &previous_actions[i]) != 0) continue;
    if (previous_actions[i].sa_handler == SIG_IGN) continue;  // nohup, a background job
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

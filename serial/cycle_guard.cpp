#include "serial/cycle_guard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <ctime>

#include "serial/low_latency.hpp"
#include "serial/open_line.hpp"
#include "serial/pause.hpp"

namespace {

// SIGQUIT (Ctrl-\) ends the program as surely as Ctrl-C does; its core dump
// comes after the line is ended.
constexpr std::array<int, 4> kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
std::array<struct sigaction, kEndingSignals.size()> previous_actions{};
std::array<bool, kEndingSignals.size()> guarding{};
// The port the handler must end and close.
volatile std::sig_atomic_t guarded_port = -1;

// Set once a signal has begun to end the cycle.
volatile std::sig_atomic_t ending = 0;

// Writes one byte from a signal handler, without blocking for long on a port
// that takes nothing. False when the port fails or takes nothing.
bool write_before_dying(int port, char byte) {
  for (int tries = 0; tries < 10; ++tries) {
    const ssize_t n = ::write(port, &byte, 1);
    if (n == 1) return true;
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
    pollfd p{port, POLLOUT, 0};
    ::poll(&p, 1, 20);
  }
  return false;
}

// The gap of a typed key: the device's console takes no faster.
void key_gap() {
  timespec left{0, kKeyPauseUs * 1000};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Ends the device's line: a line cut short is erased first, so that the CR
// does not make the device act on half a setting or command.
void end_line_before_dying(int port) {
  ::fcntl(port, F_SETFL, O_NONBLOCK);
  if (cycle_line_open == kLineCut) {
    for (std::sig_atomic_t left = cycle_line_held; left > 0; --left) {
      key_gap();
      if (!write_before_dying(port, kErase)) return;
    }
    key_gap();
  }
  (void)write_before_dying(port, '\r');
}

// The signal does what it would have done.
[[noreturn]] void die_of(int signal_number) {
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  ::sigaction(signal_number, &plain, nullptr);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  (void)::raise(signal_number);
  ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  ::_exit(128 + signal_number);  // not reached: the signal's default action ends the program
}

// The program is being ended in the middle of a port cycle: the device must
// not keep a half-typed line that the next program's command would be glued
// onto, nor act on it. An erase takes 10 ms a byte: whoever will not wait
// for it sends the signal again and the program dies at once.
void end_cycle_and_die(int signal_number) {
  if (ending != 0) die_of(signal_number);
  ending = 1;
  const int port = guarded_port;
  if (port >= 0) {
    restore_latency(port);
    sigset_t again;
    sigemptyset(&again);
    for (const int s : kEndingSignals) sigaddset(&again, s);
    ::sigprocmask(SIG_UNBLOCK, &again, nullptr);
    if (cycle_line_open != kLineEnded) end_line_before_dying(port);
    ::close(port);
  }
  die_of(signal_number);
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

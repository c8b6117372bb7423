#include "serial/cycle_guard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

#include "serial/echo.hpp"
#include "serial/low_latency.hpp"
#include "serial/open_line.hpp"
#include "serial/pause.hpp"
#include "serial/port_settings.hpp"

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

// The monotonic clock in microseconds.
long long now_us() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<long long>(t.tv_sec) * kSecondUs + t.tv_nsec / 1000;
}

void sleep_until_us(long long at) {
  for (long long left = at - now_us(); left > 0; left = at - now_us()) {
    const timespec t{static_cast<time_t>(left / kSecondUs),
                     static_cast<long>(left % kSecondUs) * 1000};
    ::nanosleep(&t, nullptr);
  }
}

enum class Heard { kNothing, kSomething, kGone };

// Reads what the port holds and drops it: the program is dying, and the device
// is heard only for its pace. A device that never stops talking is read a
// bounded number of times.
Heard drop_input(int port) {
  Heard heard = Heard::kNothing;
  std::array<char, 256> sink{};
  for (int reads = 0; reads < 16; ++reads) {
    const ssize_t n = ::read(port, sink.data(), sink.size());
    if (n > 0) {
      heard = Heard::kSomething;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && errno == EAGAIN ? heard : Heard::kGone;
    }
  }
  return heard;
}

// Waits until the device sends something, or until `until` (microseconds on
// the monotonic clock).
Heard hear_until(int port, long long until) {
  for (long long left = until - now_us(); left > 0; left = until - now_us()) {
    pollfd p{port, POLLIN, 0};
    const int n = ::poll(&p, 1, static_cast<int>((left + 999) / 1000));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n > 0 && (p.revents & POLLIN) == 0)) return Heard::kGone;
    if (n > 0) return drop_input(port);
  }
  return Heard::kNothing;
}

// The turn of a byte that erases or ends the line, as a typed key's: at least
// 10 ms after the byte before (written at `written`) and, when that byte is
// owed an answer, once the device has sent one (the whole of it, if it comes
// in parts), at most `answer_wait` microseconds after it. False when the port
// is gone.
bool wait_turn_before_dying(int port, long long written, long answer_wait) {
  if (answer_wait > 0) {
    const long long deadline = written + answer_wait;
    constexpr long long kQuietUs = std::chrono::microseconds(kAnswerQuiet).count();
    Heard heard = hear_until(port, deadline);
    while (heard == Heard::kSomething) {
      heard = hear_until(port, std::min(now_us() + kQuietUs, deadline));
    }
    if (heard == Heard::kGone) return false;
  }
  sleep_until_us(written + kKeyPauseUs);
  // What came meanwhile answers no byte still to go.
  return drop_input(port) != Heard::kGone;
}

// Ends the device's line: a line cut short is erased first, so that the CR
// does not make the device act on half a setting or command. Each byte goes
// at the device's pace, as the program's typing went.
void end_line_before_dying(int port) {
  ::fcntl(port, F_SETFL, O_NONBLOCK);
  const long answer_wait = echo_answer_wait_us();
  // When the last byte typed went is not known here: the gap counts from now.
  long long written = now_us();
  bool owed = echo_owed != 0;  // the echo of the last bytes typed
  if (cycle_line_open == kLineCut) {
    for (std::sig_atomic_t left = cycle_line_held; left > 0; --left) {
      if (!wait_turn_before_dying(port, written, owed ? answer_wait : 0)) return;
      if (!write_before_dying(port, kErase)) return;
      written = now_us();
      owed = true;
    }
  }
  if (!wait_turn_before_dying(port, written, owed ? answer_wait : 0)) return;
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
// onto, nor act on it. An erase takes 10 ms a byte, or the device's pace if
// slower: whoever will not wait for it sends the signal again and the program
// dies at once.
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
    restore_port_settings(port);
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

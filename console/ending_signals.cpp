#include "console/ending_signals.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "console/console.hpp"

namespace {

std::array<struct sigaction, kEndingSignals.size()> previous_actions{};
std::array<bool, kEndingSignals.size()> armed{};

Ending ending_to_run = nullptr;
volatile AtOnce at_once_to_run = nullptr;
// The first ending signal, once it has come; 0 before.
volatile std::sig_atomic_t recorded = 0;
bool ending_runs = false;

sigset_t ending_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : kEndingSignals) sigaddset(&set, s);
  return set;
}

void record(int signal_number) {
  if (recorded != 0) {
    // Whoever sends it again will not wait for the ending.
    const AtOnce now = at_once_to_run;
    if (now != nullptr) now();
    die_of(signal_number);
  }
  recorded = signal_number;
}

}  // namespace

// Runs the ending for a recorded signal, once; a wait inside the ending waits
// as any other, a second signal ending it at once.
void act_on_ending_signal() {
  const int signal_number = recorded;
  if (signal_number == 0 || ending_runs || ending_to_run == nullptr) return;
  ending_runs = true;
  ending_to_run();
  console_flush();
  die_of(signal_number);
}

void arm_ending_signals(Ending ending, AtOnce at_once) {
  recorded = 0;
  ending_runs = false;
  ending_to_run = ending;
  at_once_to_run = at_once;
  struct sigaction action {};
  action.sa_handler = record;
  // No SA_RESTART: a blocking call the signal comes in returns, and the
  // program gets to its next wait.
  action.sa_mask = ending_set();
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    armed[i] = false;
    if (::sigaction(kEndingSignals[i], nullptr, &previous_actions[i]) != 0) continue;
    if (previous_actions[i].sa_handler == SIG_IGN) continue;
    armed[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
  }
}

void disarm_ending_signals() {
  for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
    if (armed[i]) ::sigaction(kEndingSignals[i], &previous_actions[i], nullptr);
    armed[i] = false;
  }
  ending_to_run = nullptr;
  at_once_to_run = nullptr;
  if (recorded != 0) {
    console_flush();
    die_of(recorded);
  }
}

int wait_ready(pollfd* fds, nfds_t count, const timespec* timeout) {
  if (ending_to_run == nullptr || ending_runs) return ::ppoll(fds, count, timeout, nullptr);
  // Held off from the check to the wait, and let in only by the wait itself:
  // a signal between the two cannot be missed until the wait times out.
  const sigset_t ending = ending_set();
  sigset_t before;
  ::sigprocmask(SIG_BLOCK, &ending, &before);
  if (recorded != 0) {
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    act_on_ending_signal();
  }
  const int n = ::ppoll(fds, count, timeout, &before);
  const int error = errno;
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  act_on_ending_signal();
  errno = error;
  return n;
}

void die_of(int signal_number) {
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

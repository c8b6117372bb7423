#pragma once

#include <poll.h>

#include <array>
#include <csignal>
#include <ctime>

// SIGINT, SIGTERM, SIGHUP and SIGQUIT while the program holds something that
// must be put right before it ends (a port cycle: the device's line, the
// port's settings). The handler only records the first of them; the wait in
// which it comes, or the next wait if it came between two, runs the ending
// given at arming, in ordinary code, and the program then dies of the signal.
// A second of these signals ends the program at once. Signals the program was
// started with ignored (nohup, a background job) stay ignored.

// SIGQUIT (Ctrl-\) ends the program as surely as Ctrl-C does; its core dump
// comes after the ending.
inline constexpr std::array<int, 4> kEndingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The ending puts right what the program holds; the program dies of the signal
// when it returns. `at_once` runs in the handler of a second signal, before the
// program dies: it must be async-signal-safe.
using Ending = void (*)();
using AtOnce = void (*)();
void arm_ending_signals(Ending ending, AtOnce at_once);
// Puts back what the signals did before. A signal recorded and not yet acted
// on ends the program now: nothing is held any more.
void disarm_ending_signals();

// ppoll(2), as the program waits for its console and its port and sleeps: a
// recorded ending signal, come before the wait or during it, runs the ending
// and does not return. Other signals (SIGIO) end the wait with EINTR.
int wait_ready(pollfd* fds, nfds_t count, const timespec* timeout);

// Where the program is about to let go of what it holds: a signal recorded
// since the last wait runs the ending now, and the program dies of it.
void act_on_ending_signal();

// The signal does what it would have done: the program dies of it.
[[noreturn]] void die_of(int signal_number);

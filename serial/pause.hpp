#pragma once

#include <chrono>
#include <ctime>

// Pauses used throughout the program, in microseconds.
inline constexpr long kKeyPauseUs = 10'000;     // after every key read, before every paced byte
inline constexpr long kCommandPauseUs = 5'000;  // around the writes of a command or an upload
inline constexpr long kShortDrainPauseUs = 1'000;
inline constexpr long kUploadDrainPauseUs = 5'000;
inline constexpr long kSecondUs = 1'000'000;

using MonoClock = std::chrono::steady_clock;

// Sleeps for the whole of the given time. A signal (the port's SIGIO) does not
// shorten it: the sleep resumes until the deadline. A signal that ends the
// program does (console/ending_signals.hpp). Pending console output is
// flushed first, so the operator sees everything printed before the wait.
void pause_us(long microseconds);

// Sleeps until the deadline, precisely: neither early nor, as far as the clock
// allows, late. Does not flush the console.
void sleep_until(MonoClock::time_point deadline);

// The kernel wakes a sleeper some tens of microseconds late; a precise wait
// sleeps until this long before its deadline and waits out the rest on the clock.
inline constexpr std::chrono::microseconds kPrecisionSpin{200};

// The time left until the deadline (zero once it has passed), as ppoll() takes it.
timespec time_left_until(MonoClock::time_point deadline);

// Asks once per process for precise timer wake-ups (no timer slack).
void tighten_timer_slack();

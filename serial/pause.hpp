#pragma once

// Pauses used throughout the program, in microseconds.
inline constexpr long kKeyPauseUs = 10'000;     // after every key read, before every paced byte
inline constexpr long kCommandPauseUs = 5'000;  // around the writes of a command or an upload
inline constexpr long kShortDrainPauseUs = 1'000;
inline constexpr long kUploadDrainPauseUs = 5'000;
inline constexpr long kSecondUs = 1'000'000;

// Sleeps for the whole of the given time. A signal (the port's SIGIO) does not
// shorten it: the sleep resumes until the deadline. Pending console output is
// flushed first, so the operator sees everything printed before the wait.
void pause_us(long microseconds);

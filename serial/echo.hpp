#pragma once

// Every byte written to the port and every read of it are heard here, by the
// model of what came back (echo/echo_model.hpp): typing's pace in every port
// cycle, an upload's verdict at its end.

#include <chrono>
#include <string_view>

#include "echo/echo_model.hpp"

// A port cycle begins: a fresh pace, nothing owed.
void echo_cycle_begins();
// Bytes written to the port together; `at` taken before the write.
void echo_typed(std::string_view bytes, std::chrono::steady_clock::time_point at);
// One read of the port.
void echo_heard(std::string_view bytes, std::chrono::steady_clock::time_point at);

EchoModel& echo_pace();
// The wait for the echo ran out: what is owed is given up on.
void echo_wait_ran_out();

// The bytes typed while `file` is on are the upload's file.
void echo_typing_file(bool file);
// Once the upload's port cycle is over: whether the device echoed the whole file.
EchoVerdict echo_verdict();
// The next byte typed is the CR inserted before a bare LF: no byte of the file.
void echo_inserted_next();

// A DEL is answered by whatever the device sends after it ("\b \b", "^?", a
// bell; nothing at the start of a line): the pace does not know its echo, so
// the byte after a DEL waits for that answer, on a device whose echo paces
// typing. The answer is waited for at most twice as long as the device took to
// echo its last typed byte (a DEL takes it as long; the margin keeps a late
// answer from letting the next DEL go early, which would leave one more byte in
// its receive FIFO for the rest of the erase), and never longer than the pace
// waits. Zero: nothing is waited for.
long echo_answer_wait_us();
// An answer of several bytes may come in more than one read: it is taken as
// whole once the port has been quiet this long after it.
inline constexpr std::chrono::milliseconds kAnswerQuiet{2};

// The answer to the DEL typed last, while the running program waits for it.
struct DelAnswer {
  bool awaited = false;  // the last byte typed is a DEL, and the echo paces typing
  bool heard = false;    // the device has sent something since
  std::chrono::steady_clock::time_point deadline{};    // when the wait gives up
  std::chrono::steady_clock::time_point last_heard{};  // the last read since the DEL
};
DelAnswer echo_del_answer();

#pragma once

// Every byte written to the port and every read of it are heard here, by the
// pace of typing (echo/echo_pace.hpp) in every port cycle, and during an
// upload by its accounting (echo/echo_check.hpp).

#include <chrono>
#include <csignal>
#include <string_view>

class EchoCheck;
class EchoPace;

// A port cycle begins: a fresh pace, nothing owed.
void echo_cycle_begins();
// Bytes written to the port together; `at` taken before the write.
void echo_typed(std::string_view bytes, std::chrono::steady_clock::time_point at);
// One read of the port.
void echo_heard(std::string_view bytes, std::chrono::steady_clock::time_point at);

EchoPace& echo_pace();
// The wait for the echo ran out: what is owed is given up on.
void echo_wait_ran_out();

// The upload's accounting hears every read from now on, and the bytes typed
// while `file` is on as the file's (null: it hears nothing more).
void echo_account(EchoCheck* check);
void echo_typing_file(bool file);
// The next byte typed is the CR inserted before a bare LF: no byte of the file.
void echo_inserted_next();

// The pace's last figures, for the signal guard's erase (plain variables a
// handler may read): whether the device's echo paces typing, and how long, in
// microseconds, it took to echo the last typed byte it echoed (at most the
// pace's longest wait within a line).
extern volatile std::sig_atomic_t echo_paces_typing;
extern volatile std::sig_atomic_t echo_delay_us;

#pragma once

#include <string_view>

// The operator's console: standard input and output, used through read(2) and
// write(2) so that a signal never loses output nor leaves input in a stuck state.

// Values of console_getc() besides the bytes 0..255.
inline constexpr int kConsoleClosed = -1;       // input ended (or failed for good)
inline constexpr int kConsoleInterrupted = -2;  // a signal ended the wait; input still open

// Reads one byte from standard input, flushing pending output first.
int console_getc();

// True once standard input has ended; every later console_getc() returns kConsoleClosed.
bool console_closed();

// Output is line-buffered: it reaches standard output at each line feed, when
// the buffer fills, before every console read and before every pause.
void console_write(std::string_view text);
void console_line(std::string_view text);  // text followed by a line feed
void console_putc(char c);
void console_flush();

// Reports the current errno for `what` on standard error in the form of perror,
// after flushing standard output so the operator reads the messages in order.
void console_perror(const char* what);
// The same, with a reason of the program's own ("what: reason").
void console_error(const char* what, std::string_view reason);

// Makes sure descriptors 0, 1 and 2 are open (on /dev/null where one is closed),
// so that no file or port opened later can take a console descriptor.
void console_claim_standard_descriptors();

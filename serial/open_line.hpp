#pragma once

#include <cstddef>

#include "echo/echo_match.hpp"

// The memory of a line that the program began on a device and did not end
// (the last byte sent was neither CR nor LF). It belongs to the port's name,
// so it outlives port cycles and changes of port.
//
// A line cut short (typing stopped in its middle) must not be executed: it is
// erased, one DEL per byte the device holds, before the CR that ends it. A line
// typed whole (the last line of a file without a final line feed) is ended
// with the CR alone: its text is what the file says.

// The most a line on the device holds; what is typed beyond it the device's
// own line buffer has already cut, so no more DELs than this are needed.
inline constexpr std::size_t kLineCapacity = 256;

using echo_match::kErase;

// What the line of the port in the open cycle is.
enum class LineState { kEnded, kCut, kWhole };
extern LineState cycle_line_open;
// How many bytes of it the device holds, at most kLineCapacity.
extern std::size_t cycle_line_held;

// After each write to the port. Of a longer write that failed some bytes may
// have gone: they count if they only lengthen the line, so that the erase
// takes at worst a byte too many, never leaves part of the line standing.
// A failed write of one byte wrote nothing.
void line_written(const char* data, std::size_t size, bool written);

// The line left open is the whole last line of a file: a CR alone ends it.
void mark_line_whole();

// The wait before each byte that erases or ends a line, where the caller's
// typing would wait before its next byte (port_wait_turn, which also waits for
// the device's answer to the DEL before).
using TurnWait = void (*)();
// The pause of a paced byte; what uploads and commands wait.
void paced_byte_wait();

// Erases a line cut short: one DEL per byte the device holds, each after
// `wait_turn`. The line stays open (a CR still has to end it). False when the
// port fails.
bool erase_cut_line(TurnWait wait_turn = paced_byte_wait);

// Ends a line that the device holds unended, erased first if it was cut short,
// so that what is typed next starts a line of its own. Each byte goes after
// `wait_turn`. Nothing is written when no line is open. False when the port fails.
bool end_open_line(TurnWait wait_turn = paced_byte_wait);

// At a cycle's open: what is remembered for that port becomes the cycle's.
void recall_open_line(const char* port_name);
// At a cycle's close: the cycle's line is remembered for its port.
void remember_open_line(const char* port_name);

#pragma once

#include <csignal>

// The memory of a line that the program began on a device and did not end
// (the last byte sent was neither CR nor LF). It belongs to the port's name,
// so it outlives port cycles and changes of port.

// The line of the port in the open cycle; a signal handler reads it.
extern volatile std::sig_atomic_t cycle_line_open;

// At a cycle's open: what is remembered for that port becomes the cycle's.
void recall_open_line(const char* port_name);
// At a cycle's close: the cycle's line is remembered for its port.
void remember_open_line(const char* port_name);

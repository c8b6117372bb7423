#pragma once

#include <termios.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <string_view>

// The serial port: its name, its descriptor in the current port cycle, and the
// data-ready notification raised by SIGIO.

inline constexpr std::size_t kDeviceNameSize = 80;
inline constexpr std::size_t kPortReadSize = 1024;  // every read of the port
inline constexpr std::string_view kPortError = "\nERRO: A porta esta ocupada ou nao existe!";

extern char devicename[kDeviceNameSize];
extern int fd;
// 0 once the open port has signalled input, 1 after a drain.
extern volatile std::sig_atomic_t wait_flag;
extern struct termios newtio;
extern struct sigaction saio;

void signal_handler_IO(int signal_number);

// Line settings for the device's console (115200 8N1, no flow control, raw
// output, CR received as LF) and SIGIO delivery to this process.
void conf_serial();

// Prints the port error as a line. When the last open of the port was refused
// for want of permission, or because another program holds it, a line after it
// says so and what to do; a port that is not there gets no more.
void print_port_error();

// Writes every byte to the port of the current cycle; false when the port fails
// (the adapter was unplugged, say). Keeps track of the line the device is left
// holding unended and of how many bytes it holds (serial/open_line.hpp).
bool port_write(const void* data, std::size_t size);
inline bool port_write(std::string_view text) { return port_write(text.data(), text.size()); }
// When port_write last wrote (or the cycle began, if it has not written).
std::chrono::steady_clock::time_point port_last_write();

// One port cycle: opens `devicename` into `fd`, takes the port for this program
// alone and configures it; closes it when the cycle ends, on every path. Only a
// terminal is taken: a file or a FIFO left at the port's name is refused.
// The driver is asked for low latency for the cycle (serial/low_latency.hpp).
// While the cycle is open, SIGINT, SIGTERM, SIGHUP or SIGQUIT (unless ignored)
// end it first: the device's line erased if it was cut short and ended with a
// carriage return, the port put back and closed (serial/cycle_guard.hpp).
// Ends the open cycle, if any: the port's own settings put back, its line
// remembered, the port closed.
void close_port();

class PortCycle {
 public:
  PortCycle() { open(); }
  ~PortCycle() { close(); }
  PortCycle(const PortCycle&) = delete;
  PortCycle& operator=(const PortCycle&) = delete;

  // Opens the port anew (after a close). False when it cannot be opened, is
  // not a terminal, or another program holds it.
  bool open();
  void close();
  [[nodiscard]] bool is_open() const { return fd >= 0; }
};

#pragma once

#include <termios.h>

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

// Prints the port error as a line.
void print_port_error();

// One port cycle: opens `devicename` into `fd` and configures it; closes it when
// the cycle ends, on every path.
class PortCycle {
 public:
  PortCycle();
  ~PortCycle();
  PortCycle(const PortCycle&) = delete;
  PortCycle& operator=(const PortCycle&) = delete;

  [[nodiscard]] bool is_open() const { return fd >= 0; }
};

using ByteConsumer = void (*)(char);

// Response drain: when the port has signalled, one read of at most 1024 bytes is
// echoed to the console (each byte also handed to `consumer`, if any), then the
// pause, then the notification is cleared. It never waits for the device.
void drain(long pause_microseconds, ByteConsumer consumer = nullptr);

#include "serial/command.hpp"

#include <string_view>

#include "serial/pause.hpp"
#include "serial/port.hpp"
#include "serial/write_all.hpp"

void send_command(const char* msg) {
  const PortCycle port;
  if (!port.is_open()) {
    print_port_error();
    return;
  }
  pause_us(kCommandPauseUs);
  write_all(fd, std::string_view(msg));
  pause_us(kCommandPauseUs);
  write_all(fd, std::string_view("\r"));
  pause_us(kCommandPauseUs);
  drain(kShortDrainPauseUs);
}

void send_reset() { send_command("run reset"); }

#include "serial/command.hpp"

#include <string_view>

#include "serial/drain.hpp"
#include "serial/open_line.hpp"
#include "serial/pause.hpp"
#include "serial/port.hpp"

namespace {

// False when the port failed under the command.
bool command_over_port(const char* msg) {
  if (!end_open_line()) return false;
  port_pause(kCommandPauseUs);
  if (!port_write(std::string_view(msg))) return false;
  port_pause(kCommandPauseUs);
  if (!port_write(std::string_view("\r"))) return false;
  port_pause(kCommandPauseUs);
  drain_until_quiet(kShortDrainPauseUs);
  return true;
}

}  // namespace

void send_command(const char* msg) {
  const PortCycle port;
  if (!port.is_open() || !command_over_port(msg)) print_port_error();
}

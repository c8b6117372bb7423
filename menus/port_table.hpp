#pragma once

#include <array>
#include <string_view>

#include "serial/port.hpp"

// The ports that menu key 1 offers: the nodes the USB-serial adapter may get.
// The screen, the dialog and the tests all read this one table.

struct PortChoice {
  char key;
  std::string_view name;  // as shown on screen and in the confirmation
  std::string_view path;  // copied into devicename
  bool is_default;        // the port selected at start
};

inline constexpr std::array<PortChoice, 6> kPortChoices = {{
    {'0', "ttyUSB0", "/dev/ttyUSB0", true},
    {'1', "ttyUSB1", "/dev/ttyUSB1", false},
    {'2', "ttyUSB2", "/dev/ttyUSB2", false},
    {'3', "ttyUSB3", "/dev/ttyUSB3", false},
    {'4', "ttyUSB4", "/dev/ttyUSB4", false},
    {'5', "ttyUSB5", "/dev/ttyUSB5", false},
}};

static_assert([] {
  for (const auto& port : kPortChoices) {
    if (port.path.size() >= kDeviceNameSize) return false;
  }
  return true;
}());

#include "serial/open_line.hpp"

#include <array>
#include <cstring>

#include "serial/port.hpp"

volatile std::sig_atomic_t cycle_line_open = 0;

namespace {

// The names of the ports whose device holds a line left unended; a name is
// here only while its line is open. The menu offers six ports.
constexpr std::size_t kRememberedPorts = 8;
using PortName = std::array<char, kDeviceNameSize>;
std::array<PortName, kRememberedPorts> open_lines{};

PortName* remembered(const char* name) {
  for (auto& entry : open_lines) {
    if (entry[0] != '\0' && std::strncmp(entry.data(), name, entry.size()) == 0) return &entry;
  }
  return nullptr;
}

}  // namespace

void recall_open_line(const char* port_name) {
  cycle_line_open = remembered(port_name) != nullptr ? 1 : 0;
}

void remember_open_line(const char* port_name) {
  PortName* entry = remembered(port_name);
  const bool open = cycle_line_open != 0;
  cycle_line_open = 0;
  if (!open) {
    if (entry != nullptr) (*entry)[0] = '\0';
    return;
  }
  if (entry != nullptr) return;
  for (auto& free : open_lines) {
    if (free[0] != '\0') continue;
    // Port names are terminated strings of the same size.
    const std::size_t length = ::strnlen(port_name, free.size() - 1);
    std::memcpy(free.data(), port_name, length);
    free[length] = '\0';
    return;
  }
}

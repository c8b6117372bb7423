#include "serial/open_line.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "serial/drain.hpp"
#include "serial/pause.hpp"
#include "serial/port.hpp"

LineState cycle_line_open = LineState::kEnded;
std::size_t cycle_line_held = 0;

namespace {

// The ports whose device holds a line left unended; a name is here only while
// its line is open. The menu offers six ports.
constexpr std::size_t kRememberedPorts = 8;
using PortName = std::array<char, kDeviceNameSize>;
struct RememberedLine {
  PortName name{};
  LineState state = LineState::kEnded;
  std::size_t held = 0;
};
std::array<RememberedLine, kRememberedPorts> open_lines{};

RememberedLine* remembered(const char* name) {
  for (auto& entry : open_lines) {
    if (entry.name[0] != '\0' && std::strncmp(entry.name.data(), name, entry.name.size()) == 0) {
      return &entry;
    }
  }
  return nullptr;
}

bool only_lengthens(const char* data, std::size_t size) {
  return std::none_of(data, data + size,
                      [](char c) { return c == '\r' || c == '\n' || c == kErase; });
}

// The line as the device holds it once `data` has reached it.
void advance(const char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (c == '\r' || c == '\n') {
      cycle_line_open = LineState::kEnded;
      cycle_line_held = 0;
    } else if (c == kErase) {
      // A Backspace on an empty line erases nothing; on a file's line it
      // leaves a line that is no longer the file's.
      if (cycle_line_held > 0) --cycle_line_held;
      if (cycle_line_open == LineState::kWhole) cycle_line_open = LineState::kCut;
    } else {
      cycle_line_open = LineState::kCut;
      cycle_line_held = std::min(cycle_line_held + 1, kLineCapacity);
    }
  }
}

}  // namespace

void line_written(const char* data, std::size_t size, bool written) {
  if (written || (size > 1 && only_lengthens(data, size))) advance(data, size);
}

void mark_line_whole() {
  if (cycle_line_open == LineState::kCut) cycle_line_open = LineState::kWhole;
}

void paced_byte_wait() {
  port_wait_turn(MonoClock::now() + std::chrono::microseconds(kKeyPauseUs));
}

bool erase_cut_line(TurnWait wait_turn) {
  if (cycle_line_open != LineState::kCut) return true;
  while (cycle_line_held > 0) {
    wait_turn();
    if (!port_write(&kErase, 1)) return false;
  }
  return true;
}

bool end_open_line(TurnWait wait_turn) {
  if (!erase_cut_line(wait_turn)) return false;
  if (cycle_line_open == LineState::kEnded) return true;
  wait_turn();
  return port_write(std::string_view("\r"));
}

void recall_open_line(const char* port_name) {
  const RememberedLine* entry = remembered(port_name);
  cycle_line_held = entry != nullptr ? entry->held : 0;
  cycle_line_open = entry != nullptr ? entry->state : LineState::kEnded;
}

void remember_open_line(const char* port_name) {
  RememberedLine* entry = remembered(port_name);
  const LineState state = cycle_line_open;
  const std::size_t held = cycle_line_held;
  cycle_line_open = LineState::kEnded;
  cycle_line_held = 0;
  if (state == LineState::kEnded) {
    if (entry != nullptr) entry->name[0] = '\0';
    return;
  }
  if (entry == nullptr) {
    entry = std::find_if(open_lines.begin(), open_lines.end(),
                         [](const RememberedLine& e) { return e.name[0] == '\0'; });
    if (entry == open_lines.end()) return;
    // Port names are terminated strings of the same size.
    const std::size_t length = ::strnlen(port_name, entry->name.size() - 1);
    std::memcpy(entry->name.data(), port_name, length);
    entry->name[length] = '\0';
  }
  entry->state = state;
  entry->held = held;
}

// Cost of the echo accounting of an upload: a 64 KB configuration typed at 10 ms
// a byte (eleven minutes of typing, in simulated time) to devices that echo it
// whole, echo it with losses, answer in words of their own, or flood the line
// at 100 KB/s. Prints, for each, the CPU time spent in the accounting, the
// largest memory it held (its own count, and the heap in use as malloc sees it)
// and the verdict, against the goals of 50 ms and 2 MB.

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "serial/echo_check.hpp"

namespace {

using Clock = EchoCheck::Clock;
constexpr std::size_t kFileSize = std::size_t{64} * 1024;
constexpr double kTimeGoalMs = 50;
constexpr double kMemoryGoalMiB = 2;

const std::string kLines[] = {
    "e1.signalling = r2-digital\n", "fxs.count = 16\n",
    "fxs.ports = 1-16\n",           "fxo.count = 16\n",
    "tdmoe.peer = 10.0.0.3\n",      "# FXS ports of the second card\n",
    "e1.line_code = hdb3\n",        "tdmoe.bridge = e1-r2\n",
};

std::string config_file() {
  std::string file;
  for (std::size_t i = 0; file.size() < kFileSize; ++i) file += kLines[i % std::size(kLines)];
  file.resize(kFileSize);
  return file;
}

double cpu_ms() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::size_t heap_in_use() { return mallinfo2().uordblks; }

enum class Device { kEcho, kLossy, kOwnWords, kFlood };

struct Event {
  bool typed;
  bool from_file;
  char c;
  Clock::time_point at;
};

// What an upload of the file to the device writes and reads, in order: the
// file typed as an upload does it, the device's bytes 1 ms after each typed byte.
std::vector<Event> upload(const std::string& file, Device device) {
  std::mt19937 random(7);
  std::vector<Event> events;
  auto says = [&](std::string_view bytes, Clock::time_point at) {
    for (const char h : bytes) events.push_back({false, false, h, at});
  };
  auto type = [&](char c, bool from_file, Clock::time_point at) {
    events.push_back({true, from_file, c, at});
    at += std::chrono::milliseconds(1);
    switch (device) {
      case Device::kEcho:
        says(c == '\r' ? "\r\ndrovan(conf)> " : c == '\n' ? "" : std::string_view(&c, 1), at);
        break;
      case Device::kLossy:
        if (random() % 10 != 0) says(std::string_view(&c, 1), at);
        break;
      case Device::kOwnWords:
        if (c == '\r') says("\r\naccepted: fxs.count = 16\r\ndrovan(conf)> ", at);
        break;
      case Device::kFlood: {
        std::string flood(1000, ' ');
        for (char& h : flood) h = static_cast<char>(' ' + random() % 95);
        says(flood, at);
        says(std::string_view(&c, 1), at);
        break;
      }
    }
  };
  Clock::time_point t = Clock::now();
  char previous = 0;
  for (const char c : file) {
    if (c == '\n' && previous != '\r') type('\r', false, t + std::chrono::microseconds(50));
    previous = c;
    t += std::chrono::milliseconds(10);
    type(c, true, t);
  }
  return events;
}

void feed(EchoCheck& check, const Event& e) {
  if (e.typed) {
    check.typed(e.c, e.from_file, e.at);
  } else {
    check.heard(e.c, e.at);
  }
}

struct Figures {
  double ms = 0;
  std::size_t own_peak = 0;
  std::size_t heap_peak = 0;
  EchoVerdict verdict;
};

// Once timed alone, once again to watch its memory after every typed byte.
Figures run(const std::vector<Event>& events) {
  Figures f;
  {
    EchoCheck check;
    const double start = cpu_ms();
    for (const Event& e : events) feed(check, e);
    f.verdict = check.finish();
    f.ms = cpu_ms() - start;
  }
  const std::size_t heap_before = heap_in_use();
  auto check = std::make_unique<EchoCheck>();
  for (const Event& e : events) {
    feed(*check, e);
    if (!e.typed) continue;
    f.own_peak = std::max(f.own_peak, check->footprint());
    f.heap_peak = std::max(f.heap_peak, heap_in_use() - heap_before);
  }
  return f;
}

const char* kind_text(EchoVerdict::Kind k) {
  switch (k) {
    case EchoVerdict::Kind::kNone:
      return "none";
    case EchoVerdict::Kind::kWhole:
      return "whole";
    case EchoVerdict::Kind::kLost:
      return "lost";
    case EchoVerdict::Kind::kNoEcho:
      return "no echo";
  }
  return "?";
}

}  // namespace

int main() {
  const std::string file = config_file();
  std::printf("echo accounting of a %zu-byte file typed at 10 ms a byte (%.1f min simulated)\n",
              file.size(), static_cast<double>(file.size()) * 0.01 / 60);
  std::printf("%-10s %10s %12s %12s  %s\n", "device", "cpu ms", "own KiB", "heap KiB", "verdict");
  bool met = true;
  const std::pair<const char*, Device> devices[] = {{"echo", Device::kEcho},
                                                    {"lossy", Device::kLossy},
                                                    {"own words", Device::kOwnWords},
                                                    {"flood", Device::kFlood}};
  for (const auto& [name, device] : devices) {
    const Figures f = run(upload(file, device));
    std::printf("%-10s %10.1f %12.1f %12.1f  %s, %zu of %zu bytes lost\n", name, f.ms,
                static_cast<double>(f.own_peak) / 1024, static_cast<double>(f.heap_peak) / 1024,
                kind_text(f.verdict.kind), f.verdict.lost, f.verdict.bytes);
    const double peak_mib = static_cast<double>(std::max(f.own_peak, f.heap_peak)) / (1024 * 1024);
    if (device != Device::kFlood) met = met && f.ms < kTimeGoalMs;
    met = met && peak_mib < kMemoryGoalMiB;
  }
  std::printf("goals (%.0f ms for a file the device echoes or not, %.0f MB for every device): %s\n",
              kTimeGoalMs, kMemoryGoalMiB, met ? "met" : "MISSED");
  return 0;
}

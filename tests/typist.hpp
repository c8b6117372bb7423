#pragma once

// A typist in simulated time (whole milliseconds) that waits its turn as the
// program does: each byte 10 ms after the one before, and, while the pace says
// an echo is owed, until the device's reads bring it or the wait runs out.
// The pace and whatever else listens hear each read as it comes, as the port
// hands it over.

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "echo/echo_pace.hpp"

class Typist {
 public:
  using Clock = EchoPace::Clock;
  // What the device sends: each read's bytes, by the millisecond it is read.
  using Reads = std::multimap<int, std::string>;

  Typist(EchoPace& pace, Reads reads,
         std::function<void(const std::string&, Clock::time_point)> also_hears = nullptr)
      : reads(std::move(reads)), pace_(pace), also_hears_(std::move(also_hears)) {}

  [[nodiscard]] Clock::time_point at(int ms) const { return zero_ + std::chrono::milliseconds(ms); }

  // Hears every read made by `until`.
  void hear_until(int until) {
    while (!reads.empty() && reads.begin()->first <= until) {
      auto [t, bytes] = *reads.begin();
      reads.erase(reads.begin());
      // What the port hands over: its ICRNL turns every CR into a line feed.
      std::replace(bytes.begin(), bytes.end(), '\r', '\n');
      now = std::max(now, t);
      pace_.heard(bytes, at(t));
      if (also_hears_) also_hears_(bytes, at(t));
    }
  }

  // Waits until the next byte may go, 10 ms after the one before at the soonest.
  void wait_turn() {
    const int not_before = last_ + 10;
    hear_until(not_before);
    now = std::max(now, not_before);
    while (pace_.owed()) {
      const auto deadline = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(pace_.deadline() - zero_).count());
      if (!reads.empty() && reads.begin()->first <= deadline) {
        hear_until(reads.begin()->first);
      } else {
        now = std::max(now, deadline);
        pace_.ran_out();
      }
    }
    last_ = now;
  }

  Reads reads;
  int now = 0;

 private:
  EchoPace& pace_;
  std::function<void(const std::string&, Clock::time_point)> also_hears_;
  Clock::time_point zero_ = Clock::now();
  int last_ = -10;
};

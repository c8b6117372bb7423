#pragma once

// A typist in simulated time (whole milliseconds) that waits its turn as the
// program does: each byte 10 ms after the one before, and, while the echo
// model says the device is owed a wait, until the device's reads end it or
// the wait runs out. The model hears each read as it comes, split into reads
// as a USB adapter may split it.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>

#include "echo/echo_model.hpp"

class Typist {
 public:
  using Clock = EchoModel::Clock;
  // What the device sends: each write's bytes, by the millisecond they arrive.
  using Reads = std::multimap<int, std::string>;
  // How the bytes of one write are handed over: as written, a byte a read, or
  // cut at random places (a fixed seed).
  enum class Split { kAsWritten, kByteEach, kRandom };

  Typist(EchoModel& model, Reads reads, Split split = Split::kAsWritten)
      : reads(std::move(reads)), model_(model), split_(split) {}

  [[nodiscard]] Clock::time_point at(int ms) const { return zero_ + std::chrono::milliseconds(ms); }

  // Hears every read made by `until`.
  void hear_until(int until) {
    while (!reads.empty() && reads.begin()->first <= until) {
      auto [t, bytes] = *reads.begin();
      reads.erase(reads.begin());
      now = std::max(now, t);
      hear(bytes, at(t));
    }
  }

  // Waits until the next byte may go, 10 ms after the one before at the soonest.
  void wait_turn() {
    const int not_before = last_ + 10;
    hear_until(not_before);
    now = std::max(now, not_before);
    while (model_.owed()) {
      const auto deadline = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(model_.deadline() - zero_).count());
      if (!reads.empty() && reads.begin()->first <= deadline) {
        hear_until(reads.begin()->first);
      } else {
        now = std::max(now, deadline);
        model_.ran_out();
      }
    }
    last_ = now;
  }

  Reads reads;
  int now = 0;
  // Told of every read as the device wrote it, before it is split (a bench's record).
  std::function<void(const std::string&, Clock::time_point)> on_heard;

 private:
  void hear(const std::string& bytes, Clock::time_point t) {
    if (on_heard) on_heard(bytes, t);
    if (split_ == Split::kAsWritten) {
      model_.heard(bytes, t);
      return;
    }
    std::size_t i = 0;
    while (i < bytes.size()) {
      const std::size_t piece = split_ == Split::kByteEach
                                    ? 1
                                    : std::uniform_int_distribution<std::size_t>(1, 12)(random_);
      const std::size_t n = std::min(piece, bytes.size() - i);
      model_.heard(std::string_view(bytes).substr(i, n), t);
      i += n;
    }
  }

  EchoModel& model_;
  Split split_;
  std::mt19937 random_{20261208};
  Clock::time_point zero_ = Clock::now();
  int last_ = -10;
};

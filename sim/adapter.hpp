#pragma once

// The console's output on its way to the program, as a USB-serial adapter
// (an FT232) delivers it: each byte crosses the 115200 8N1 line, and the
// adapter hands over what has crossed in USB packets, when its latency timer
// expires (every `latency` since its last packet) or as soon as 62 bytes wait.
// So the program reads the device's words split as on a real adapter, not in
// the blocks the console said them.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string_view>

#include "sim/pacing.hpp"
#include "sim/sink.hpp"

namespace sim {

class Adapter {
 public:
  // A USB packet of the adapter: 64 bytes, two of them its status.
  static constexpr std::size_t kPacketBytes = 62;

  // A zero latency hands over each byte as soon as it has crossed the line.
  Adapter(Sink& sink, std::chrono::milliseconds latency) : sink_(sink), latency_(latency) {}

  // Bytes the console says at `at`: they go onto the line after those before them.
  void put(std::string_view bytes, Clock::time_point at);
  // When tick() next writes a packet, if anything waits.
  [[nodiscard]] std::optional<Clock::time_point> deadline() const;
  // Every packet due by `now`, in order; Clock::time_point::max() writes all.
  void tick(Clock::time_point now);

 private:
  struct Crossing {
    char byte;
    Clock::time_point across;  // when its stop bit ends on the adapter's side
  };

  Sink& sink_;
  std::chrono::milliseconds latency_;
  std::deque<Crossing> waiting_;   // said and not yet handed over, on the line or in the adapter
  Clock::time_point line_free_{};  // when the last byte said has crossed
  // The timer runs all along: it expires every `latency_` after the last
  // packet, an empty one (status alone, unseen by the program) while idle.
  Clock::time_point last_packet_{};
};

}  // namespace sim

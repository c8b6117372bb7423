#include "sim/adapter.hpp"

#include <algorithm>
#include <string>

namespace sim {

void Adapter::put(std::string_view bytes, Clock::time_point at) {
  for (const char byte : bytes) {
    line_free_ = std::max(line_free_, at) + SerialLine::kCharTime;
    waiting_.push_back({byte, line_free_});
  }
}

std::optional<Clock::time_point> Adapter::deadline() const {
  if (waiting_.empty()) return std::nullopt;
  // The timer's first expiry once the oldest byte has crossed; after a packet
  // of 62 the bytes left wait for the next one at least.
  const Clock::time_point first = waiting_.front().across;
  Clock::time_point expiry = std::max(first, last_packet_);
  if (latency_.count() > 0) {
    const auto periods = first > last_packet_
                             ? (first - last_packet_ + latency_ - Clock::duration(1)) / latency_
                             : 1;
    expiry = last_packet_ + periods * latency_;
  }
  if (waiting_.size() >= kPacketBytes) expiry = std::min(expiry, waiting_[kPacketBytes - 1].across);
  return expiry;
}

void Adapter::tick(Clock::time_point now) {
  std::string packet;
  for (auto due = deadline(); due && *due <= now; due = deadline()) {
    packet.clear();
    while (!waiting_.empty() && waiting_.front().across <= *due && packet.size() < kPacketBytes) {
      packet += waiting_.front().byte;
      waiting_.pop_front();
    }
    last_packet_ = *due;
    sink_.put(packet);
  }
}

}  // namespace sim

#pragma once

// The simulated device's configuration: nine settings, each line of a
// configuration session checked on its own and against what the same session
// has staged before it.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace sim {

enum class Key : std::size_t {
  kFraming,
  kLineCode,
  kSignalling,
  kBridge,
  kPeer,
  kFxoCount,
  kFxoPorts,
  kFxsCount,
  kFxsPorts,
};
inline constexpr std::size_t kKeyCount = 9;

// The names as typed, in the order `show conf` prints them.
inline constexpr std::array<std::string_view, kKeyCount> kKeyNames = {
    "e1.framing", "e1.line_code", "e1.signalling", "tdmoe.bridge", "tdmoe.peer",
    "fxo.count",  "fxo.ports",    "fxs.count",     "fxs.ports",
};

std::optional<Key> key_named(std::string_view name);

// A set of settings, some possibly unset. Values are short words: a fixed
// buffer each, no allocation.
class Settings {
 public:
  static constexpr std::size_t kValueSize = 24;

  // The device as it leaves the factory: everything off, no ports.
  static Settings factory();

  [[nodiscard]] bool has(Key key) const { return length_[index(key)] != 0; }
  [[nodiscard]] std::string_view get(Key key) const {
    return {values_[index(key)].data(), length_[index(key)]};
  }
  // False (and nothing stored) when the value does not fit.
  bool set(Key key, std::string_view value);
  // Every setting of `other` that is set replaces ours.
  void merge(const Settings& other);
  [[nodiscard]] bool empty() const;

 private:
  static constexpr std::size_t index(Key key) { return static_cast<std::size_t>(key); }
  std::array<std::array<char, kValueSize>, kKeyCount> values_{};
  std::array<std::size_t, kKeyCount> length_{};
};

// The verdict on one line of a configuration session.
struct Verdict {
  enum Kind { kIgnored, kAccepted, kRejected };
  Kind kind = kIgnored;  // kIgnored: a comment or a blank line
  Key key{};             // with kAccepted: what to stage
  std::string_view value;
  std::array<char, 112> reason{};  // with kRejected: why, NUL-terminated
};

// Checks one line (without its line end) against the settings staged so far.
Verdict check_line(std::string_view line, const Settings& staged);

}  // namespace sim

#include "sim/conf_checker.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace sim {

namespace {

constexpr int kMaxPorts = 64;  // FXO and FXS together

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool one_of(std::string_view value, std::initializer_list<std::string_view> words) {
  return std::find(words.begin(), words.end(), value) != words.end();
}

// A whole decimal number in [low, high], or nothing.
std::optional<int> number(std::string_view s, int low, int high) {
  int n = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (ec != std::errc() || end != s.data() + s.size() || n < low || n > high) return std::nullopt;
  return n;
}

struct Range {
  int first = 0;
  int count = 0;  // 0 for "none"
};

// "none" or "first-last", ports numbered 1 to 64.
std::optional<Range> port_range(std::string_view s) {
  if (s == "none") return Range{};
  const auto dash = s.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto first = number(s.substr(0, dash), 1, kMaxPorts);
  const auto last = number(s.substr(dash + 1), 1, kMaxPorts);
  if (!first || !last || *last < *first) return std::nullopt;
  return Range{*first, *last - *first + 1};
}

bool ipv4(std::string_view s) {
  for (int part = 0; part < 4; ++part) {
    const auto dot = part < 3 ? s.find('.') : s.size();
    if (dot == std::string_view::npos || !number(s.substr(0, dot), 0, 255)) return false;
    s.remove_prefix(std::min(dot + 1, s.size()));
  }
  return s.empty();
}

bool valid_value(Key key, std::string_view v) {
  switch (key) {
    case Key::kFraming:
      return one_of(v, {"off", "cas-crc4", "ccs-crc4"});
    case Key::kLineCode:
      return one_of(v, {"off", "hdb3", "ami"});
    case Key::kSignalling:
      return one_of(v, {"off", "r2-digital", "r2-mfc5c", "isdn"});
    case Key::kBridge:
      return one_of(v, {"off", "ports", "e1", "e1+ports"});
    case Key::kPeer:
      return v == "none" || ipv4(v);
    case Key::kFxoCount:
    case Key::kFxsCount:
      return number(v, 0, kMaxPorts).has_value();
    case Key::kFxoPorts:
    case Key::kFxsPorts:
      return port_range(v).has_value();
  }
  return false;
}

// Two settings that must agree, checked once both are known (values already valid).
struct Relation {
  Key a;
  Key b;
  bool (*agree)(std::string_view a, std::string_view b);
  const char* why;
};

int count_of(std::string_view v) { return number(v, 0, kMaxPorts).value_or(-1); }

constexpr Relation kRelations[] = {
    {Key::kFraming, Key::kLineCode,
     [](std::string_view f, std::string_view c) { return (f == "off") == (c == "off"); },
     "a line code only with E1 framing"},
    {Key::kFraming, Key::kSignalling,
     [](std::string_view f, std::string_view s) {
       if (s == "off") return f == "off";
       return f == (s == "isdn" ? "ccs-crc4" : "cas-crc4");
     },
     "R2 needs CAS framing, ISDN CCS"},
    {Key::kSignalling, Key::kBridge,
     [](std::string_view s, std::string_view b) {
       return s != "off" || (b != "e1" && b != "e1+ports");
     },
     "bridging the E1 needs the E1 line"},
    {Key::kBridge, Key::kPeer,
     [](std::string_view b, std::string_view p) { return (b == "off") == (p == "none"); },
     "a bridge needs a peer, and only a bridge"},
    {Key::kFxoCount, Key::kFxoPorts,
     [](std::string_view c, std::string_view p) {
       const Range r = *port_range(p);
       return r.count == count_of(c) && (r.count == 0 || r.first == 1);
     },
     "FXO ports are numbered from 1"},
    {Key::kFxsCount, Key::kFxsPorts,
     [](std::string_view c, std::string_view p) { return port_range(p)->count == count_of(c); },
     "one port per FXS line"},
    {Key::kFxoCount, Key::kFxsPorts,
     [](std::string_view c, std::string_view p) {
       const Range r = *port_range(p);
       return r.count == 0 || r.first == count_of(c) + 1;
     },
     "FXS ports follow the FXO ports"},
    {Key::kFxoCount, Key::kFxsCount,
     [](std::string_view o, std::string_view s) { return count_of(o) + count_of(s) <= kMaxPorts; },
     "64 ports at most"},
};

int clip(std::string_view s) { return static_cast<int>(std::min<std::size_t>(s.size(), 40)); }

}  // namespace

std::optional<Key> key_named(std::string_view name) {
  const auto* at = std::find(kKeyNames.begin(), kKeyNames.end(), name);
  if (at == kKeyNames.end()) return std::nullopt;
  return static_cast<Key>(at - kKeyNames.begin());
}

Settings Settings::factory() {
  Settings s;
  for (const Key k : {Key::kFraming, Key::kLineCode, Key::kSignalling, Key::kBridge}) {
    s.set(k, "off");
  }
  s.set(Key::kPeer, "none");
  s.set(Key::kFxoCount, "0");
  s.set(Key::kFxoPorts, "none");
  s.set(Key::kFxsCount, "0");
  s.set(Key::kFxsPorts, "none");
  return s;
}

bool Settings::set(Key key, std::string_view value) {
  if (value.empty() || value.size() > kValueSize) return false;
  std::copy(value.begin(), value.end(), values_[index(key)].begin());
  length_[index(key)] = value.size();
  return true;
}

void Settings::merge(const Settings& other) {
  for (std::size_t i = 0; i < kKeyCount; ++i) {
    if (other.has(static_cast<Key>(i))) set(static_cast<Key>(i), other.get(static_cast<Key>(i)));
  }
}

bool Settings::empty() const {
  return std::all_of(length_.begin(), length_.end(), [](std::size_t n) { return n == 0; });
}

Verdict check_line(std::string_view line, const Settings& staged) {
  Verdict v;
  line = trim(line);
  if (line.empty() || line.front() == '#') return v;
  v.kind = Verdict::kRejected;
  char* out = v.reason.data();
  const std::size_t room = v.reason.size();

  const auto eq = line.find('=');
  if (eq == std::string_view::npos) {
    (void)std::snprintf(out, room, "not a setting: %.*s", clip(line), line.data());
    return v;
  }
  const std::string_view name = trim(line.substr(0, eq));
  const std::string_view value = trim(line.substr(eq + 1));
  const auto key = key_named(name);
  if (!key) {
    (void)std::snprintf(out, room, "unknown key: %.*s", clip(name), name.data());
    return v;
  }
  if (value.size() > Settings::kValueSize || !valid_value(*key, value)) {
    (void)std::snprintf(out, room, "bad value for %.*s: %.*s", clip(name), name.data(), clip(value),
                        value.data());
    return v;
  }
  for (const Relation& r : kRelations) {
    if (r.a != *key && r.b != *key) continue;
    const Key other = r.a == *key ? r.b : r.a;
    if (!staged.has(other)) continue;
    const std::string_view a = r.a == *key ? value : staged.get(other);
    const std::string_view b = r.b == *key ? value : staged.get(other);
    if (r.agree(a, b)) continue;
    const std::string_view other_value = staged.get(other);
    const std::string_view other_name = kKeyNames[static_cast<std::size_t>(other)];
    (void)std::snprintf(out, room, "%.*s %.*s does not match %.*s %.*s (%s)", clip(name),
                        name.data(), clip(value), value.data(), clip(other_name), other_name.data(),
                        clip(other_value), other_value.data(), r.why);
    return v;
  }
  v.kind = Verdict::kAccepted;
  v.key = *key;
  v.value = value;
  return v;
}

}  // namespace sim

#include "sim/console_model.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace sim {

namespace {

constexpr std::string_view kBanner = "\r\nDROVAN TDMoE simulated console\r\n";

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace

void ConsoleModel::receive(std::string_view bytes, Clock::time_point at) {
  tick(at);
  now_ = at;
  for (const char b : bytes) {
    ++counts_.received;
    const Clock::time_point arrived = fifo_.arrival(at);
    // A rebooting console hears nothing: those bytes are gone, but not for
    // want of pace, so they are not counted as dropped.
    if (booted_at_) continue;
    if (!fifo_.admit(arrived)) {
      ++counts_.dropped;
      continue;
    }
    take(b);
  }
}

void ConsoleModel::tick(Clock::time_point now) {
  if (!booted_at_ || now < *booted_at_) return;
  booted_at_.reset();
  sink_.put(kBanner);
  char line[160];
  const int n = std::snprintf(
      line, sizeof line, "e1 %.*s, bridge %.*s, %.*s FXO, %.*s FXS\r\n",
      static_cast<int>(active_.get(Key::kSignalling).size()), active_.get(Key::kSignalling).data(),
      static_cast<int>(active_.get(Key::kBridge).size()), active_.get(Key::kBridge).data(),
      static_cast<int>(active_.get(Key::kFxoCount).size()), active_.get(Key::kFxoCount).data(),
      static_cast<int>(active_.get(Key::kFxsCount).size()), active_.get(Key::kFxsCount).data());
  if (n > 0) sink_.put(std::string_view(line, std::min<std::size_t>(n, sizeof line - 1)));
  prompt();
}

void ConsoleModel::take(char byte) {
  const bool after_cr = after_cr_;
  after_cr_ = byte == '\r';
  switch (byte) {
    case '\r':
      echo("\r\n");
      end_line();
      return;
    case '\n':
      // CR LF ends one line: its LF was echoed with the CR. A lone LF is echoed.
      if (!after_cr) echo("\n");
      return;
    case '\b':
    case 0x7f:
      if (length_ > 0) {
        --length_;
        echo("\b \b");
      }
      return;
    default:
      echo(std::string_view(&byte, 1));
      if (length_ < line_.size()) {
        line_[length_++] = byte;
      } else {
        overflow_ = true;
      }
  }
}

void ConsoleModel::end_line() {
  const std::string_view line(line_.data(), length_);
  const bool overflow = overflow_;
  length_ = 0;
  overflow_ = false;
  if (!in_session_) {
    command(trim(line));
    return;
  }
  ++session_line_;
  if (trim(line) == "run reset" || trim(line) == "set conf") {
    command(trim(line));
    return;
  }
  if (overflow) {
    ++counts_.rejected;
    char text[64];
    const int n =
        std::snprintf(text, sizeof text, "error: line %u: line too long\r\n", session_line_);
    if (n > 0) sink_.put(std::string_view(text, std::min<std::size_t>(n, sizeof text - 1)));
    prompt();
    return;
  }
  session_line(line);
}

void ConsoleModel::session_line(std::string_view line) {
  const Verdict v = check_line(line, staged_);
  if (v.kind == Verdict::kAccepted) {
    staged_.set(v.key, v.value);
    ++counts_.accepted;
  } else if (v.kind == Verdict::kRejected) {
    ++counts_.rejected;
    char text[160];
    const int n =
        std::snprintf(text, sizeof text, "error: line %u: %s\r\n", session_line_, v.reason.data());
    if (n > 0) sink_.put(std::string_view(text, std::min<std::size_t>(n, sizeof text - 1)));
  }
  prompt();
}

void ConsoleModel::command(std::string_view line) {
  if (line.empty()) {
    // nothing to answer
  } else if (line == "set conf") {
    // A second upload without a reset starts afresh: the first one's settings
    // would otherwise be judged together with its own.
    if (in_session_ && !staged_.empty()) {
      sink_.put("staged settings dropped: no reset applied them\r\n");
    }
    in_session_ = true;
    session_line_ = 0;
    staged_ = Settings{};
    sink_.put("configuration: one setting per line, 'run reset' applies them\r\n");
  } else if (line == "run reset") {
    active_.merge(staged_);
    staged_ = Settings{};
    in_session_ = false;
    sink_.put("resetting...\r\n");
    booted_at_ = now_ + kRebootTime;
    return;  // silent until booted
  } else if (line == "show conf") {
    for (std::size_t i = 0; i < kKeyCount; ++i) {
      sink_.put(kKeyNames[i]);
      sink_.put(" = ");
      sink_.put(active_.get(static_cast<Key>(i)));
      sink_.put("\r\n");
    }
  } else if (line == "help") {
    sink_.put("commands: set conf, show conf, run reset\r\n");
  } else {
    sink_.put("unknown command: ");
    sink_.put(line.substr(0, 40));
    sink_.put("\r\n");
  }
  prompt();
}

void ConsoleModel::echo(std::string_view bytes) {
  if (echo_) sink_.put(bytes);
}

void ConsoleModel::prompt() { sink_.put(in_session_ ? kSessionPrompt : kPrompt); }

std::string_view summary(const Counts& c, std::array<char, 160>& out) {
  const int n =
      std::snprintf(out.data(), out.size(),
                    "drovan-sim: received %" PRIu64 " bytes, %" PRIu64 " dropped, %" PRIu64
                    " configuration lines accepted, %" PRIu64 " rejected",
                    c.received, c.dropped, c.accepted, c.rejected);
  return {out.data(), n > 0 ? std::min<std::size_t>(n, out.size() - 1) : 0};
}

}  // namespace sim

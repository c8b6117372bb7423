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

std::size_t ConsoleModel::receive(std::string_view bytes, Clock::time_point at) {
  tick(at);
  const std::size_t n = wire_.put(bytes, at);
  counts_.received += n;
  tick(at);  // the first byte, if it comes off the line at once
  return n;
}

std::optional<Clock::time_point> ConsoleModel::deadline() const {
  std::optional<Clock::time_point> next = booted_at_;
  const auto packet = adapter_ ? adapter_->deadline() : std::nullopt;
  for (const auto& event : {prompt_at_, fifo_.next_take(), wire_.next_arrival(), packet}) {
    if (event && (!next || *event < *next)) next = event;
  }
  return next;
}

void ConsoleModel::tick(Clock::time_point now) {
  // A reboot's end, a prompt held back, a take or an arrival at one instant in
  // that order: the prompt comes before what the console takes once ready, and
  // a byte taken leaves room for one that arrives then.
  for (;;) {
    const auto take_at = fifo_.next_take();
    const auto arrival = wire_.next_arrival();
    if (booted_at_ && *booted_at_ <= now && (!arrival || *booted_at_ <= *arrival)) {
      now_ = *booted_at_;
      boot();
    } else if (prompt_at_ && *prompt_at_ <= now && (!arrival || *prompt_at_ <= *arrival)) {
      now_ = *prompt_at_;
      prompt_at_.reset();
      say(in_session_ ? kSessionPrompt : kPrompt);
    } else if (take_at && *take_at <= now && (!arrival || *take_at <= *arrival)) {
      now_ = *take_at;
      take(fifo_.take());
    } else if (arrival && *arrival <= now) {
      now_ = *arrival;
      arrive(wire_.pop());
    } else {
      break;
    }
  }
  // What the console said crosses the line after it said it: no packet of it is due before.
  if (adapter_) adapter_->tick(now);
}

void ConsoleModel::arrive(char byte) {
  // Drawn for every byte, so the losses depend on the bytes alone, not on their timing.
  const bool garbled = noise_ > 0 && noise_draw_() % noise_ == 0;
  // A rebooting console hears nothing: those bytes are gone, but not for
  // want of pace, so they are not counted.
  if (booted_at_) return;
  if (garbled) {
    ++counts_.noise;
  } else if (!fifo_.admit(byte, now_)) {
    ++counts_.dropped;
  }
}

void ConsoleModel::boot() {
  booted_at_.reset();
  say(kBanner);
  char line[160];
  const int n = std::snprintf(
      line, sizeof line, "e1 %.*s, bridge %.*s, %.*s FXO, %.*s FXS\r\n",
      static_cast<int>(active_.get(Key::kSignalling).size()), active_.get(Key::kSignalling).data(),
      static_cast<int>(active_.get(Key::kBridge).size()), active_.get(Key::kBridge).data(),
      static_cast<int>(active_.get(Key::kFxoCount).size()), active_.get(Key::kFxoCount).data(),
      static_cast<int>(active_.get(Key::kFxsCount).size()), active_.get(Key::kFxsCount).data());
  if (n > 0) say(std::string_view(line, std::min<std::size_t>(n, sizeof line - 1)));
  say(kPrompt);
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
    if (n > 0) say(std::string_view(text, std::min<std::size_t>(n, sizeof text - 1)));
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
    if (n > 0) say(std::string_view(text, std::min<std::size_t>(n, sizeof text - 1)));
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
      say("staged settings dropped: no reset applied them\r\n");
    }
    in_session_ = true;
    session_line_ = 0;
    staged_ = Settings{};
    say("configuration: one setting per line, 'run reset' applies them\r\n");
    // Opening the session is work of its own: answered at once, then nothing
    // more is taken for a while.
    fifo_.busy_until(now_ + conf_work_);
  } else if (line == "run reset") {
    active_.merge(staged_);
    staged_ = Settings{};
    in_session_ = false;
    say("resetting...\r\n");
    fifo_.clear();  // what it had not taken yet is never heard
    booted_at_ = now_ + kRebootTime;
    return;  // silent until booted
  } else if (line == "show conf") {
    for (std::size_t i = 0; i < kKeyCount; ++i) {
      say(kKeyNames[i]);
      say(" = ");
      say(active_.get(static_cast<Key>(i)));
      say("\r\n");
    }
  } else if (line == "help") {
    say("commands: set conf, show conf, run reset\r\n");
  } else {
    say("unknown command: ");
    say(line.substr(0, 40));
    say("\r\n");
  }
  prompt();
}

void ConsoleModel::echo(std::string_view bytes) {
  if (echo_) say(bytes);
}

void ConsoleModel::say(std::string_view bytes) {
  if (adapter_) {
    adapter_->put(bytes, now_);
  } else {
    sink_.put(bytes);
  }
}

// The prompt that answers a line: at once, or once the console is ready for
// the next byte, when the work that line asked for is done.
void ConsoleModel::prompt() {
  if (prompt_after_work_) {
    prompt_at_ = fifo_.ready();
  } else {
    say(in_session_ ? kSessionPrompt : kPrompt);
  }
}

std::string_view summary(const Counts& c, std::array<char, 160>& out, bool noisy_line) {
  int n = std::snprintf(out.data(), out.size(),
                        "drovan-sim: received %" PRIu64 " bytes, %" PRIu64 " dropped, %" PRIu64
                        " configuration lines accepted, %" PRIu64 " rejected",
                        c.received, c.dropped, c.accepted, c.rejected);
  if (n > 0 && noisy_line && static_cast<std::size_t>(n) < out.size()) {
    const int more = std::snprintf(out.data() + n, out.size() - static_cast<std::size_t>(n),
                                   ", %" PRIu64 " lost to line noise", c.noise);
    if (more > 0) n += more;
  }
  return {out.data(), n > 0 ? std::min<std::size_t>(n, out.size() - 1) : 0};
}

}  // namespace sim

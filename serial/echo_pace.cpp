#include "serial/echo_pace.hpp"

#include <algorithm>

#include "serial/echo_match.hpp"

void EchoPace::reset() {
  const Listener listener = listener_;
  *this = EchoPace{};
  listener_ = listener;
}

void EchoPace::typed(std::string_view bytes, Clock::time_point at) {
  age(at);
  for (const char b : bytes) {
    if (echo_match::is_line_end(b)) {
      // CR LF is one line end: consoles echo the CR as CR LF and the LF after it as nothing.
      if (!typed_line_end_) expect('\n', at);
      typed_line_end_ = true;
      continue;
    }
    typed_line_end_ = false;
    // Control characters (DEL, Ctrl keys) are echoed in consoles' own ways,
    // if at all, and bytes that are not sent never are: neither is waited for.
    if (echo_match::expected_back(b)) expect(b, at);
  }
  last_write_ = at;
}

void EchoPace::expect(char c, Clock::time_point at) {
  if (size_ == kMaxExpected) pop_front(false, at);  // so old that it cannot hold typing up any more
  ring_[(head_ + size_) % kMaxExpected] = {c, false, at};
  ++size_;
  ++owed_;
}

void EchoPace::pop_front(bool echoed, Clock::time_point heard_at) {
  if (!at(0).overdue) --owed_;
  if (listener_ != nullptr) listener_(at(0).at, at(0).c, echoed, heard_at);
  head_ = (head_ + 1) % kMaxExpected;
  --size_;
}

// While nobody waits, a byte not echoed within kMaxWait no longer blocks the
// match of those typed after it: it is given up on as a wait would have been.
void EchoPace::age(Clock::time_point now) {
  if (waiting_) return;
  for (std::size_t i = 0; i < size_ && now - at(i).at > kMaxWait; ++i) {
    if (!at(i).overdue) {
      at(i).overdue = true;
      --owed_;
    }
  }
}

// The byte heard echoes the oldest byte typed that it can echo. Those typed
// before that one will not come back: the device has gone past them (a byte
// lost, and the CR typed at once after it echoed).
bool EchoPace::match(char c, Clock::time_point at_time, bool& fresh, bool& tab) {
  std::size_t i = 0;
  while (i < size_ && !echo_match::same(at(i).c, c)) ++i;
  if (i == size_) return false;
  if (i > 0) run_ = 0;
  for (; i > 0; --i) pop_front(false, at_time);
  fresh = !at(0).overdue;
  tab = at(0).c == '\t';
  if (fresh) {
    last_echo_ = std::max(last_echo_, at_time);
    echo_delay_ = at_time - at(0).at;
  }
  pop_front(true, at_time);
  return true;
}

// An echo leads what one read brings: what follows it unmatched is the
// device's own (an answer, a prompt, a status line), which arrives at once,
// while an echo arrives as the bytes are typed. Once a line of its own has
// ended, an echo may lead the next.
void EchoPace::heard(std::string_view bytes, Clock::time_point at_time) {
  age(at_time);
  bool leading = true;
  bool echo_alone = true;
  int fresh_echoes = 0;
  // A run of CR and LF is one line end; an echoed one may be split over reads,
  // but a line end of the device's own ends before a read of the echo.
  bool in_line_end = echoed_line_end_;
  for (const char c : bytes) {
    const bool line_end = echo_match::is_line_end(c);
    // The blanks that a TAB became are one echo.
    const bool continues = line_end ? in_line_end : (heard_tab_ && c == ' ');
    if (!line_end) echoed_line_end_ = false;
    in_line_end = line_end;
    if (continues) continue;
    heard_tab_ = false;
    bool fresh = false;
    bool tab = false;
    if (leading && match(c, at_time, fresh, tab)) {
      heard_tab_ = tab && c == ' ';
      echoed_line_end_ = line_end;
      if (fresh) {
        ++fresh_echoes;
        misses_ = 0;
      }
      continue;
    }
    echoed_line_end_ = false;
    echo_alone = false;
    leading = line_end;
  }
  // Only echoes that came alone count towards waiting: a device's own text
  // whose first letters happen to be the ones typed must not start it.
  if (echo_alone) run_ += fresh_echoes;
  if (run_ >= kEchoesToStart) waiting_ = true;
}

EchoPace::Clock::time_point EchoPace::deadline() const {
  return std::max(last_write_, last_echo_) + kMaxWait;
}

void EchoPace::ran_out() {
  for (std::size_t i = 0; i < size_; ++i) at(i).overdue = true;
  owed_ = 0;
  run_ = 0;
  if (++misses_ >= kMissesToStop) {
    waiting_ = false;
    misses_ = 0;
  }
}

#include "echo/echo_pace.hpp"

#include <algorithm>

using echo_match::is_line_end;
using echo_match::same;

void EchoPace::reset() {
  const Listener listener = listener_;
  *this = EchoPace{};
  listener_ = listener;
}

void EchoPace::typed(std::string_view bytes, Clock::time_point at_time) {
  age(at_time);
  if (!bytes.empty()) erase_ = {bytes.back() == echo_match::kErase, false, at_time, {}};
  for (const char b : bytes) {
    // Every CR ends a line the device works on, a blank one too; the LF after
    // it is the same line end (consoles echo CR as CR LF and that LF as nothing).
    if (b == '\r' || (b == '\n' && !typed_cr_)) {
      if (size_ > 0 && at(size_ - 1).c != '\n') at(size_ - 1).line_end_after = true;
      expect('\n', !line_ends_skipped_, at_time);
    } else if (b != '\n' && echo_match::expected_back(b)) {
      // Control characters (DEL, Ctrl keys) are echoed in consoles' own ways,
      // if at all, and bytes that are not sent never are: neither is waited for.
      expect(b, true, at_time);
    }
    typed_cr_ = b == '\r';
  }
  last_write_ = at_time;
}

void EchoPace::expect(char c, bool owed, Clock::time_point at_time) {
  // The oldest is so old that it cannot hold typing up any more; nothing is
  // known of its echo, so nobody is told of it.
  if (size_ == kMaxExpected) give_up_front();
  ring_[(head_ + size_) % kMaxExpected] = {c, owed, false, at_time};
  ++size_;
  if (owed) ++owed_;
}

void EchoPace::forgive(Expected& e) {
  if (!e.owed) return;
  e.owed = false;
  --owed_;
}

void EchoPace::give_up_front() {
  if (at(0).owed) --owed_;
  head_ = (head_ + 1) % kMaxExpected;
  --size_;
}

void EchoPace::pop_front(bool echoed, Clock::time_point heard_at) {
  if (listener_ != nullptr) listener_(at(0).at, at(0).c, echoed, heard_at);
  give_up_front();
}

// While nobody waits, a byte not echoed within kMaxWait no longer blocks the
// match of those typed after it: it is given up on as a wait would have been.
void EchoPace::age(Clock::time_point now) {
  if (waiting_) return;
  for (std::size_t i = 0; i < size_ && now - at(i).at > kMaxWait; ++i) forgive(at(i));
}

void EchoPace::heard(std::string_view bytes, Clock::time_point at_time) {
  age(at_time);
  if (erase_.awaited && !bytes.empty()) {
    erase_.heard = true;
    erase_.last_heard = at_time;
  }
  // Colour and cursor codes are taken out first: the device's text is what is left.
  std::array<char, 1024> text{};
  std::size_t n = 0;
  for (const char c : bytes) {
    if (!escapes_.keep(c)) continue;
    text[n++] = c;
    if (n == text.size()) {
      hear(text.data(), n, at_time);
      n = 0;
    }
  }
  if (n > 0) hear(text.data(), n, at_time);
}

// An echo comes as the bytes are typed; a line of the device's own (an
// answer, a prompt, a status line) comes whole. So an echo leads a read (but
// not the rest of a line of the device's own), or a line, or follows the
// device's answer to a line it echoed; and what follows it in its read is
// nothing, more echo, a line end, or the device's answer to a line typed. A
// typed byte's letter that begins other text is the device's own: its wait
// goes on.
void EchoPace::hear(const char* bytes, std::size_t size, Clock::time_point at_time) {
  bool echo_alone = true;  // nothing of the device's own but the answer to a line it echoed
  bool answering = false;
  bool leading = true;
  // A read that may go on with a line of the device's own (its prompt, split
  // over reads) holds an echo at its start only of the oldest byte owed.
  bool in_order = own_text_open_ && !line_from_echo_;
  int fresh_echoes = 0;
  std::size_t i = 0;
  while (i < size) {
    const char c = bytes[i];
    const bool line_end = is_line_end(c);
    // The second byte of a CR LF (two line feeds, as the port hands it over).
    if (line_end && line_end_bytes_ == 1) {
      line_end_bytes_ = 2;
      ++i;
      continue;
    }
    // The blanks a TAB became are one echo.
    if (!line_end && tab_open_ && c == ' ') {
      ++i;
      continue;
    }
    tab_open_ = false;
    line_end_bytes_ = 0;
    bool answered = false;
    const std::size_t used =
        leading ? echo_run(bytes + i, size - i, at_time, in_order, fresh_echoes, answered) : 0;
    in_order = false;
    if (used > 0) {
      own_text_open_ = false;
      i += used;
      answering = answering || answered;
      leading = true;
      continue;
    }
    if (!answering) echo_alone = false;
    own_text_open_ = !line_end;
    if (line_end) {
      line_end_bytes_ = 1;
      line_from_echo_ = false;
      leading = true;
    } else {
      leading = line_from_echo_;
    }
    ++i;
  }
  // Only echoes that came alone count towards waiting: a device's own text
  // whose first letters happen to be the ones typed must not start it.
  if (echo_alone) run_ += fresh_echoes;
  if (run_ >= kEchoesToStart) waiting_ = true;
}

// The echo that begins `bytes`, if it is one: how many bytes of it are echo
// (`in_order`: only of the oldest byte owed). The typed bytes it echoes are
// settled, those typed before them gone past.
std::size_t EchoPace::echo_run(const char* bytes, std::size_t size, Clock::time_point at_time,
                               bool in_order, int& fresh_echoes, bool& answered) {
  std::size_t first = 0;
  while (first < size_ && !same(at(first).c, bytes[0])) ++first;
  if (first == size_ || (in_order && first > 0)) return 0;

  // The longest run of heard bytes that echo the typed ones in order, and
  // where it may end: after an echoed line end or a byte a line end was typed
  // after (what follows is the device's answer), or where nothing, or a line
  // end, follows.
  struct Cut {
    std::size_t heard = 0;   // bytes of echo
    std::size_t typed = 0;   // typed bytes echoed, from `first`
    bool answered = false;   // what follows is the device's answer to a line
    int line_end_bytes = 0;  // of the last one, a line end
    bool tab_open = false;   // the last one, a TAB, came back as blanks
  };
  Cut cut;
  Cut run;
  while (run.heard < size && first + run.typed < size_ &&
         same(at(first + run.typed).c, bytes[run.heard])) {
    const Expected& e = at(first + run.typed);
    const std::size_t from = run.heard++;
    ++run.typed;
    run.line_end_bytes = 0;
    run.tab_open = false;
    if (e.c == '\n') {
      if (run.heard < size && is_line_end(bytes[run.heard])) ++run.heard;  // CR LF
      run.line_end_bytes = static_cast<int>(run.heard - from);
    } else if (e.c == '\t' && bytes[from] == ' ') {
      while (run.heard < size && bytes[run.heard] == ' ') ++run.heard;
      run.tab_open = true;
    }
    // A device that echoes no line end answers right after a line's last
    // letter; but letters found past bytes still owed that run into text are
    // the device's words ("conf" of "configuration"), not the echo.
    run.answered = e.c == '\n' || (e.line_end_after && first == 0);
    if (run.answered) cut = run;
  }
  if (run.heard == size || is_line_end(bytes[run.heard])) cut = run;
  if (cut.typed == 0) return 0;

  if (first > 0) run_ = 0;
  bool skips_line_end = false;
  for (std::size_t k = 0; k < first; ++k) {
    skips_line_end = skips_line_end || at(0).c == '\n';
    pop_front(false, at_time);
  }
  // A line end gone past for a letter of the line after it: the device
  // echoes no line end, and is not waited for one again this cycle.
  if (skips_line_end && at(0).c != '\n' && !line_ends_skipped_) {
    line_ends_skipped_ = true;
    for (std::size_t k = 0; k < size_; ++k) {
      if (at(k).c == '\n') forgive(at(k));
    }
  }
  for (std::size_t k = 0; k < cut.typed; ++k) {
    const Expected& e = at(0);
    // How late the echo comes, from echoes of the oldest bytes owed: a match
    // far down the record is as likely the device's words as a late echo.
    if (first == 0) echo_delay_ = at_time - e.at;
    if (e.owed) {
      last_echo_ = std::max(last_echo_, at_time);
      ++fresh_echoes;
      misses_ = 0;
    }
    // A line end alone, or the start of a line's answer, is no proof of an echo.
    if (e.c != '\n') {
      echoes_ = std::min(echoes_ + 1, kEchoesToStart);
      last_in_order_ = at_time;
    }
    line_work_ = e.c == '\n';
    if (line_work_) line_ends_echoed_ = true;
    pop_front(true, at_time);
  }
  // What the next read may go on with.
  line_end_bytes_ = cut.line_end_bytes;
  tab_open_ = cut.tab_open;
  if (cut.answered) line_from_echo_ = true;
  answered = cut.answered;
  return cut.heard;
}

EchoPace::Clock::time_point EchoPace::deadline() const {
  // Each line typed and still owed before the newest byte is one more the
  // device works on before it echoes that byte.
  int lines = line_work_ ? 1 : 0;
  for (std::size_t i = 0; i + 1 < size_; ++i) {
    if (at(i).owed && at(i).c == '\n') ++lines;
  }
  lines = std::min(lines, kMaxLinesWorked);
  const Clock::duration wait = lines == 0 ? Clock::duration(kMaxWait) : kLineWait * lines;
  return std::max(last_write_, last_echo_) + wait;
}

void EchoPace::ran_out() {
  for (std::size_t i = 0; i < size_; ++i) at(i).owed = false;
  owed_ = 0;
  run_ = 0;
  line_work_ = false;
  if (++misses_ >= kMissesToStop) {
    waiting_ = false;
    misses_ = 0;
  }
}

bool EchoPace::echo_to_come() const {
  // A device whose echo stopped long before typing did has stopped echoing.
  if (echoes_ < kEchoesToStart || last_in_order_ + kLineWait < last_write_) return false;
  for (std::size_t i = 0; i < size_; ++i) {
    if (at(i).c != '\n' || (line_ends_echoed_ && !line_ends_skipped_)) return true;
  }
  return false;
}

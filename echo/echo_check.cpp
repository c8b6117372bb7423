#include "echo/echo_check.hpp"

#include <algorithm>
#include <limits>

#include "echo/echo_match.hpp"

namespace {

// Rows are traced back and settled this many at a time, from the newest row:
// the best alignments of a few seconds of typing agree long before that far back.
constexpr std::size_t kSettleRows = 128;
// Bounds of what is kept; a device that talks more than this around its echo
// (kilobytes a second) cannot be matched and is judged as not echoing.
constexpr std::size_t kMaxHeard = 16384;
constexpr std::size_t kMaxSteps = std::size_t{256} * 1024;
// An echo comes as the text typed, a run of bytes with nothing between them
// but, at a line end, the device's prompt; what a device says of its own
// accord (status lines, answers) matches typed letters only here and there.
// Echoed bytes at most this many columns after the echo before run on.
constexpr std::size_t kRunOn = 2;
// Characters settled before a device can be judged to stream text of its own.
constexpr std::size_t kJudgeAfter = 1024;

enum Step : std::uint8_t { kUp, kLeft, kDiag };

using echo_match::is_line_end;
using echo_match::same;

}  // namespace

void EchoCheck::typed(char byte, bool from_file, Clock::time_point at, bool in_step) {
  // The CR inserted before an LF is on that LF's line.
  const std::uint32_t line = from_file ? lines_.line_of(byte) : lines_.next_line();
  if (from_file) ++file_bytes_;
  if (is_line_end(byte)) {
    // Devices echo CR as CR LF and LF as nothing: a run of line-end bytes is one line end.
    if (typed_line_end_ && !waiting_.empty() && waiting_.back().c == '\n') {
      auto& bytes = waiting_.back().file_bytes;
      if (from_file && bytes < std::numeric_limits<std::uint8_t>::max()) ++bytes;
    } else {
      add_typed({'\n',
                 static_cast<std::uint8_t>(from_file ? 1 : 0),
                 in_step,
                 false,
                 false,
                 line,
                 at,
                 kPinUnknown,
                 {},
                 last_character_,
                 last_character_at_});
      typed_line_end_ = true;
    }
  } else if (echo_match::expected_back(byte)) {
    add_typed({byte, 1, in_step, false, false, line, at, kPinUnknown, {}, 0, {}});
    last_character_ = byte;
    last_character_at_ = at;
    last_line_ = line;
    typed_line_end_ = false;
  }
  // Other control characters are not expected back: consoles echo them in ways of their own.
  if (!gave_up_) fill_rows(at);
}

void EchoCheck::fate(Clock::time_point typed_at, char c, bool echoed, Clock::time_point heard_at) {
  if (gave_up_) return;
  auto it = std::lower_bound(waiting_.begin(), waiting_.end(), typed_at,
                             [](const Token& t, Clock::time_point at) { return t.at < at; });
  for (; it != waiting_.end() && it->at == typed_at; ++it) {
    if (it->c != c || !it->in_step) continue;
    it->gone_past = !echoed;
    it->echo_seen = echoed;
    it->echo_at = heard_at;
  }
}

void EchoCheck::heard(char byte, Clock::time_point at) {
  // Colour and cursor codes are neither echo nor text.
  if (!escapes_.keep(byte)) return;
  // Nothing heard before the first typed byte can be its echo.
  if (gave_up_ || tokens_ == 0) return;
  if (is_line_end(byte)) {
    // A line end is kept as '\r' when a CR is in it, '\n' when it is a line
    // feed alone. The port hands a CR over as a line feed: a console's CR LF
    // comes as two. A device's own line end and the echo of one typed after
    // it are two.
    if (!heard_line_end_ || typed_since_heard_) {
      add_heard(byte == '\r' ? '\r' : '\n', at);
      heard_line_end_bytes_ = 1;
    } else if (++heard_line_end_bytes_ >= 2 || byte == '\r') {
      heard_.back() = '\r';
    }
    heard_line_end_ = true;
  } else if (static_cast<signed char>(byte) > 0) {
    // NUL and 8-bit bytes are never typed, so they cannot be an echo.
    add_heard(byte, at);
    heard_line_end_ = false;
  }
}

void EchoCheck::add_typed(Token token) {
  if (gave_up_) return;
  ++tokens_;
  typed_since_heard_ = true;
  waiting_.push_back(token);
}

void EchoCheck::add_heard(char c, Clock::time_point at) {
  typed_since_heard_ = false;
  heard_.push_back(c);
  heard_times_.push_back(at);
  if (heard_.size() > kMaxHeard) give_up();
}

void EchoCheck::give_up() {
  gave_up_ = true;
  waiting_ = {};
  heard_ = {};
  heard_times_ = {};
  rows_ = {};
  steps_ = {};
  previous_ = {};
  current_ = {};
  fates_ = {};
}

// Where the echo of the typed line end at `index` of waiting_ must be: the
// first line end heard after it, if that came before the next token was typed
// (after it, the line end heard could as well be the echo of a later one, as
// from a device that held what it heard) and the device's echo kept up with
// typing. kPinUnknown while that cannot be told.
std::int64_t EchoCheck::pin(std::size_t index, bool final) {
  Token& token = waiting_[index];
  if (token.pin != kPinUnknown) return token.pin;
  if (!token.in_step && !echo_keeps_up(token)) {
    token.pin = kNoPin;
    return token.pin;
  }
  Clock::time_point next{};
  if (index + 1 < waiting_.size()) {
    next = waiting_[index + 1].at;
  } else if (typing_over_) {
    next = *typing_over_;
  } else {
    // The last line end, and nothing written after it: whatever the device
    // sends later may as well be the echo of an earlier line end.
    if (final) token.pin = kNoPin;
    return token.pin;
  }
  const auto from = std::upper_bound(heard_times_.begin(), heard_times_.end(), token.at);
  std::int64_t found = kNoPin;
  for (auto i = static_cast<std::size_t>(from - heard_times_.begin()); i < heard_.size(); ++i) {
    if (heard_times_[i] >= next) break;
    if (is_line_end(heard_[i])) {
      found = static_cast<std::int64_t>(heard_base_ + i);
      break;
    }
  }
  token.pin = found;
  return found;
}

// Whether the device's echo kept up with typing at the typed line end: all it
// sent between the character before the line end and the line end echoes that
// character. An echo that lags behind typing brings an earlier line then, and
// its line end is that line's.
bool EchoCheck::echo_keeps_up(const Token& line_end) const {
  if (line_end.before == 0) return true;
  auto i = std::upper_bound(heard_times_.begin(), heard_times_.end(), line_end.before_at);
  for (; i != heard_times_.end() && *i <= line_end.at; ++i) {
    const char h = heard_[static_cast<std::size_t>(i - heard_times_.begin())];
    if (!is_line_end(h) && !same(line_end.before, h)) return false;
  }
  return true;
}

// For the character at the front of waiting_: the column at which its line's
// echoed line end was pinned (the character's echo comes before it), or the
// end of what is heard.
std::size_t EchoCheck::line_cut(bool final) {
  for (std::size_t i = 1; i < waiting_.size(); ++i) {
    if (waiting_[i].c != '\n') continue;
    const std::int64_t at = pin(i, final);
    return at >= 0 ? static_cast<std::size_t>(at) : heard_end();
  }
  return heard_end();
}

// Aligns every typed token whose window has closed by `now`.
void EchoCheck::fill_rows(Clock::time_point now) {
  const bool final = now == Clock::time_point::max();
  while (!waiting_.empty() && waiting_.front().at + kEchoWindow <= now) {
    const Token& token = waiting_.front();
    std::size_t row_end = heard_end();
    if (token.c == '\n') {
      const std::int64_t at = pin(0, final);
      if (at >= 0) row_end = static_cast<std::size_t>(at) + 1;
    } else {
      row_end = line_cut(final);
    }
    // Typing saw its echo, or the echo of the byte after it: it came no later.
    const Token* seen = token.echo_seen                                ? &token
                        : waiting_.size() > 1 && waiting_[1].echo_seen ? &waiting_[1]
                                                                       : nullptr;
    if (seen != nullptr) row_end = std::min(row_end, column_after(seen->echo_at));
    fill_row(token, row_end);
    waiting_.pop_front();
    // Settled sooner where the device talks a lot around a slow typing (lines
    // of its own while typing waits), so that what is kept stays within bounds.
    const bool heavy = steps_.size() >= kMaxSteps || heard_.size() >= kMaxHeard / 2;
    if (rows_.size() >= 2 * kSettleRows || (heavy && rows_.size() >= 2)) {
      commit(rows_.size() / 2, false);
    }
  }
}

// One row of the longest common subsequence of the typed tokens and the heard
// ones, over the cells of the token's window: the heard tokens that arrived
// after it was typed and within kEchoWindow. Left of the window the row is the
// row before it; right of it, its last value.
// A line end pinned to its echo matches only there; a byte the device went
// past matches nowhere; a character's row ends where its line's echo ends.
std::size_t EchoCheck::column_after(Clock::time_point at) const {
  const auto past = std::upper_bound(heard_times_.begin(), heard_times_.end(), at);
  return heard_base_ + static_cast<std::size_t>(past - heard_times_.begin());
}

void EchoCheck::fill_row(const Token& token, std::size_t row_end) {
  while (next_lo_ < heard_end() && heard_time(next_lo_) <= token.at) ++next_lo_;
  std::size_t hi = std::max(next_hi_, next_lo_);
  while (hi < heard_end() && heard_time(hi) <= token.at + kEchoWindow) ++hi;
  next_hi_ = hi;
  hi = std::max(std::min(hi, row_end), next_lo_);
  const std::size_t lo = next_lo_;
  const std::int64_t pinned = token.c == '\n' ? token.pin : kNoPin;
  // Where typing saw the echo, only that read can hold it: a line of the
  // device's own, arriving at once, never stands in for a typed byte.
  const std::size_t from = token.echo_seen ? column_after(token.echo_at - Clock::duration(1)) : 0;
  const std::size_t width = hi - lo + 1;

  // The row before, over this row's cells: past its last cell it keeps its last value.
  // (Typing paused for longer than the window, by a run of bytes that are not
  // typed, leaves the row before wholly left of this one.)
  const std::int32_t last = previous_.empty() ? 0 : previous_.back();
  std::size_t known = 0;
  const std::int32_t* before = nullptr;
  if (lo < previous_lo_ + previous_.size()) {
    known = previous_lo_ + previous_.size() - lo;
    before = previous_.data() + (lo - previous_lo_);
  }

  current_.resize(width);
  const std::size_t offset = steps_base_ + steps_.size();
  steps_.resize(steps_.size() + width);
  std::uint8_t* steps = steps_.data() + (offset - steps_base_);
  const char* heard = heard_.data() + (lo - heard_base_);  // heard[i - 1] is cell i's token
  const char typed = token.c;
  // The alignment keeps as many of the file's bytes as it can: a line end is
  // worth the file bytes of its run.
  const std::int32_t gain = token.file_bytes;
  weight_ += token.file_bytes;
  std::int32_t* row = current_.data();
  std::int32_t diagonal_base = known > 0 ? before[0] : last;
  row[0] = diagonal_base;
  steps[0] = kUp;
  for (std::size_t i = 1; i < width; ++i) {
    const std::int32_t up = i < known ? before[i] : last;
    const std::int32_t left = row[i - 1];
    const bool match = !token.gone_past && lo + i - 1 >= from && same(typed, heard[i - 1]) &&
                       (pinned < 0 || static_cast<std::int64_t>(lo + i - 1) == pinned);
    const std::int32_t diagonal = diagonal_base + (match ? gain : 0);
    diagonal_base = up;
    const std::int32_t best = std::max(std::max(up, left), diagonal);
    row[i] = best;
    // Traced back from the end, a match is taken where there is one, then a
    // heard token as the device's own before a typed one is taken as lost:
    // echoes match as late as they can, so an echo after the device's prompt
    // is the echo, not a letter of the prompt.
    steps[i] = match && best == diagonal ? kDiag : (best == left ? kLeft : kUp);
  }
  rows_.push_back({lo, hi, offset, token});
  previous_.swap(current_);
  previous_lo_ = lo;
}

// Traces the best alignment back from the newest row and settles the oldest
// `count` rows by it; `whole` once the device has said its last word.
void EchoCheck::commit(std::size_t count, bool whole) {
  if (count == 0) return;
  fates_.assign(count, -1);
  // Before the end, from what the device had sent by the newest row's time:
  // what it sent later belongs to rows not yet settled, and a match that
  // reached for it (a lost byte found again a line further on, in a file of
  // like lines) would be undone by the rows that own it.
  std::size_t cell = whole ? rows_.back().hi : rows_.back().lo;
  for (std::size_t k = rows_.size(); k-- > 0;) {
    const Row& row = rows_[k];
    cell = std::min(cell, row.hi);
    std::int64_t fate = -1;
    while (cell > row.lo) {
      const std::uint8_t step = steps_[row.offset - steps_base_ + (cell - row.lo)];
      if (step == kLeft) {
        --cell;
        continue;
      }
      if (step == kDiag) fate = static_cast<std::int64_t>(--cell);
      break;
    }
    if (k < count) fates_[k] = fate;
  }
  for (std::size_t k = 0; k < count; ++k) {
    const bool matched = fates_[k] >= 0;
    settle(rows_[k].token, matched ? static_cast<std::size_t>(fates_[k]) : 0, matched);
  }
  rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(count));
  trim();
  if (talks_on_its_own()) give_up();
}

void EchoCheck::Losses::note(const Token& token) {
  ++tokens;
  bytes += token.file_bytes;
  if (token.file_bytes > 0) lines.note(token.line);  // not the inserted CR of a line end alone
}

void EchoCheck::settle(const Token& token, std::size_t column, bool matched) {
  const bool character = token.c != '\n';
  if (character) {
    ++characters_;
    if (first_line_ == 0) first_line_ = token.line;
    if (!matched && token.line == first_line_) first_line_whole_ = false;
  }
  if (!matched) {
    (character ? characters_lost_ : line_ends_lost_).note(token);
    return;
  }
  if (character) {
    const bool run_on = any_echo_ && column <= last_column_ + kRunOn;
    if (run_on) {
      ++run_on_;
      last_run_line_ = token.line;
    }
    // The first character echoed begins the run.
    if (token.line == first_line_ && !run_on && any_echo_) first_line_whole_ = false;
    any_echo_ = true;
    ++characters_matched_;
  } else {
    ++line_ends_echoed_;
    if (heard_[column - heard_base_] == '\r') {
      ++line_ends_with_cr_;
    } else {
      lone_line_feeds_.note(token);
    }
  }
  last_column_ = column;
}

// A device whose text matches typed letters here and there but hardly ever as
// a run of them, over a good part of the file, streams words of its own and
// echoes nothing: there is no echo to follow through the rest.
bool EchoCheck::talks_on_its_own() const {
  return characters_ >= kJudgeAfter && run_on_ * 4 < characters_ &&
         (characters_matched_ - run_on_) * 2 > characters_;
}

// Lets go of heard tokens and steps that no row can reach any more.
void EchoCheck::trim() {
  const std::size_t keep = rows_.empty() ? next_lo_ : std::min(rows_.front().lo, next_lo_);
  const auto drop = static_cast<std::ptrdiff_t>(std::min(keep - heard_base_, heard_.size()));
  heard_.erase(heard_.begin(), heard_.begin() + drop);
  heard_times_.erase(heard_times_.begin(), heard_times_.begin() + drop);
  heard_base_ += static_cast<std::size_t>(drop);
  const std::size_t from = rows_.empty() ? steps_base_ + steps_.size() : rows_.front().offset;
  steps_.erase(steps_.begin(), steps_.begin() + static_cast<std::ptrdiff_t>(from - steps_base_));
  steps_base_ = from;
}

EchoVerdict EchoCheck::finish() {
  std::int32_t matched = 0;
  if (!gave_up_) {
    fill_rows(Clock::time_point::max());
    matched = previous_.empty() ? 0 : previous_.back();
    commit(rows_.size(), true);
  }
  EchoVerdict v;
  v.bytes = file_bytes_;
  if (file_bytes_ == 0) return v;
  if (gave_up_ || characters_ == 0 || (run_on_ * 2 < characters_ && !echo_runs_through())) {
    // Too little came back as a run of the text typed to call it an echo: a
    // device that echoes nothing, or answers or talks in words of its own, or
    // whose echo stopped for good.
    v.kind = EchoVerdict::Kind::kNoEcho;
    return v;
  }
  // The count from the alignment's value, exact whatever the steps it was
  // traced back in; the lines from the trace.
  std::size_t lost = weight_ - static_cast<std::size_t>(matched);
  v.lines = characters_lost_.lines;
  if (line_ends_echoed_ == 0) {
    // A device that echoes no line end at all is not expected to.
    lost -= std::min(lost, line_ends_lost_.bytes);
  } else {
    v.lines.merge(line_ends_lost_.lines);
  }
  // Where line ends come back with their CR, one echoed as line feeds alone
  // lost its CR: the device ran two lines into one.
  if (line_ends_with_cr_ > lone_line_feeds_.tokens) {
    lost += lone_line_feeds_.bytes;
    v.lines.merge(lone_line_feeds_.lines);
  }
  if (lost == 0) return EchoVerdict{EchoVerdict::Kind::kWhole, file_bytes_, 0, {}};
  v.kind = EchoVerdict::Kind::kLost;
  v.lost = lost;
  return v;
}

// The device echoed the file's first line whole, and its echo still came as a
// run on the last lines: it echoes, whatever it lost between.
bool EchoCheck::echo_runs_through() const {
  const std::uint32_t last_lines = std::max<std::uint32_t>(1, last_line_ / 10);
  return first_line_whole_ && run_on_ > 0 && last_run_line_ + last_lines >= last_line_;
}

std::size_t EchoCheck::footprint() const {
  return sizeof *this + waiting_.size() * sizeof(Token) + heard_.capacity() +
         heard_times_.capacity() * sizeof(Clock::time_point) + rows_.size() * sizeof(Row) +
         steps_.capacity() + (previous_.capacity() + current_.capacity()) * sizeof(std::int32_t) +
         fates_.capacity() * sizeof(std::int64_t);
}

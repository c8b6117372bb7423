#include "serial/echo_check.hpp"

#include <algorithm>
#include <limits>

namespace {

// Rows are traced back and settled this many at a time, from the newest row:
// the best alignments of a few seconds of typing agree long before that far back.
constexpr std::size_t kSettleRows = 128;
// Bounds of what is kept; a device that talks more than this around its echo
// (kilobytes a second) cannot be matched and is judged as not echoing.
constexpr std::size_t kMaxHeard = 16384;
constexpr std::size_t kMaxSteps = std::size_t{256} * 1024;
// An echo comes byte by byte, as the bytes are typed; an answer of the device's
// own comes all at once. Echoes this far apart from the previous one are the former.
constexpr std::chrono::milliseconds kApart{2};

enum Step : std::uint8_t { kUp, kLeft, kDiag };

bool is_line_end(char c) { return c == '\r' || c == '\n'; }

// A typed TAB may come back expanded to blanks.
bool same(char typed, char heard) { return typed == heard || (typed == '\t' && heard == ' '); }

}  // namespace

void EchoCheck::typed(char byte, bool from_file, Clock::time_point at) {
  if (from_file) ++file_bytes_;
  if (is_line_end(byte)) {
    // Devices echo CR as CR LF and LF as nothing: a run of line-end bytes is one line end.
    if (typed_line_end_ && !waiting_.empty() && waiting_.back().c == '\n') {
      auto& bytes = waiting_.back().file_bytes;
      if (from_file && bytes < std::numeric_limits<std::uint8_t>::max()) ++bytes;
    } else {
      add_typed({'\n', static_cast<std::uint8_t>(from_file ? 1 : 0), line_, at});
      typed_line_end_ = true;
    }
    if (from_file && byte == '\n') ++line_;
  } else if (byte == '\t' || (byte >= ' ' && byte < 0x7f)) {
    add_typed({byte, 1, line_, at});
    typed_line_end_ = false;
  }
  // Other control characters are not expected back: consoles echo them in ways of their own.
  if (!gave_up_) fill_rows(at);
}

void EchoCheck::heard(char byte, Clock::time_point at) {
  // Nothing heard before the first typed byte can be its echo.
  if (gave_up_ || tokens_ == 0) return;
  if (is_line_end(byte)) {
    if (!heard_line_end_) add_heard('\n', at);
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
  waiting_.push_back(token);
}

void EchoCheck::add_heard(char c, Clock::time_point at) {
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

// Aligns every typed token whose window has closed by `now`.
void EchoCheck::fill_rows(Clock::time_point now) {
  while (!waiting_.empty() && waiting_.front().at + kEchoWindow <= now) {
    fill_row(waiting_.front());
    waiting_.pop_front();
    if (rows_.size() >= 2 * kSettleRows || (steps_.size() >= kMaxSteps && rows_.size() >= 2)) {
      commit(rows_.size() / 2, false);
    }
  }
}

// One row of the longest common subsequence of the typed tokens and the heard
// ones, over the cells of the token's window: the heard tokens that arrived
// after it was typed and within kEchoWindow. Left of the window the row is the
// row before it; right of it, its last value.
void EchoCheck::fill_row(const Token& token) {
  while (next_lo_ < heard_end() && heard_time(next_lo_) <= token.at) ++next_lo_;
  std::size_t hi = std::max(next_hi_, next_lo_);
  while (hi < heard_end() && heard_time(hi) <= token.at + kEchoWindow) ++hi;
  next_hi_ = hi;
  const std::size_t lo = next_lo_;
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
    const bool match = same(typed, heard[i - 1]);
    const std::int32_t diagonal = diagonal_base + (match ? gain : 0);
    diagonal_base = up;
    const std::int32_t best = std::max(std::max(up, left), diagonal);
    row[i] = best;
    // Traced back from the end, a heard token is taken as the device's own
    // before a typed one is taken as lost: echoes match as early as they can.
    steps[i] = best == left ? kLeft : (match && best == diagonal ? kDiag : kUp);
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
}

void EchoCheck::settle(const Token& token, std::size_t column, bool matched) {
  const bool character = token.c != '\n';
  if (character) ++characters_;
  if (matched) {
    if (!character) return;
    const Clock::time_point at = heard_time(column);
    if (!any_echo_ || at - last_echo_ >= kApart) ++in_step_;
    any_echo_ = true;
    last_echo_ = at;
    return;
  }
  if (token.file_bytes == 0) return;  // only the inserted CR of a line end
  auto& v = verdict_;
  if (v.line_count > 0 && v.lines[v.line_count - 1] == token.line) return;
  if (v.line_count < EchoVerdict::kMaxLines) {
    v.lines[v.line_count++] = token.line;
  } else {
    v.more_lines = true;
  }
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
  EchoVerdict v = verdict_;
  v.bytes = file_bytes_;
  if (file_bytes_ == 0) {
    v.kind = EchoVerdict::Kind::kNone;
  } else if (gave_up_ || characters_ == 0 || in_step_ * 3 < characters_) {
    // Too little came back byte by byte as it was typed to call it an echo:
    // a device that echoes nothing, or answers in words of its own.
    v.kind = EchoVerdict::Kind::kNoEcho;
  } else if (static_cast<std::size_t>(matched) == weight_) {
    v = EchoVerdict{EchoVerdict::Kind::kWhole, file_bytes_};
  } else {
    // The count from the alignment's value, exact whatever the steps it was
    // traced back in; the lines from the trace.
    v.kind = EchoVerdict::Kind::kLost;
    v.lost = weight_ - static_cast<std::size_t>(matched);
  }
  return v;
}

std::size_t EchoCheck::footprint() const {
  return sizeof *this + waiting_.size() * sizeof(Token) + heard_.capacity() +
         heard_times_.capacity() * sizeof(Clock::time_point) + rows_.size() * sizeof(Row) +
         steps_.capacity() + (previous_.capacity() + current_.capacity()) * sizeof(std::int32_t) +
         fates_.capacity() * sizeof(std::int64_t);
}

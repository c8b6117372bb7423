#include "echo/echo_model.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "echo/echo_match.hpp"

namespace {

using echo_match::same;

// The alignment's states: where its last heard token left the device's line.
enum State : std::uint8_t {
  kFree,  // at a line's start, or past a typed line end not echoed: text of its own is free
  kRun,   // right after the echo of a typed character
  kOwn,   // text of the device's own after echo on the same line
  kTab,   // right after a TAB echoed as a blank or as "^I": more blanks, or the 'I', are its
};
enum Move : std::uint8_t { kNone, kLeft, kDiag, kUp };

// Scores, in quarters of a byte: a byte matched is worth kGain.
constexpr std::int32_t kGain = 4;
// A character of the device's own that breaks into a run of echo: a byte
// garbled on the line, a second copy of an echo.
constexpr std::int32_t kOwnText = 2;
// ...right after the echo of the newest byte, before anything more was typed:
// the device's words, not an echo the device goes on with.
constexpr std::int32_t kOwnAfterNewest = 8;
// Text of the device's own that runs from echoed letters to the line's end:
// the letters were the start of a line of its own.
constexpr std::int32_t kOwnLine = 8;
// A line end heard where the next byte typed is a line end is its echo: what
// follows it (the device's answer to the line) never stands in for the line.
constexpr std::int32_t kPinned = 16;
// A line end after an echoed letter, where the next byte was already typed:
// the device breaks the line (a wrap) or begins one of its own.
constexpr std::int32_t kBreak = 6;
constexpr std::int32_t kNeg = std::numeric_limits<std::int32_t>::min() / 4;

// An alignment that has fallen this far behind the best one (in quarters of a
// byte, on both lanes) is given up: the echo runs along behind typing, so each
// heard byte costs a narrow band of cells, and a held echo, whose alignment
// leads, keeps every cell it may still need.
constexpr std::int32_t kDrop = 32 * kGain;
// Typed tokens this far behind the newest are no longer looked for, whatever
// their alignment: a device that floods the line with text of its own costs a
// bounded band per byte. More than typing sends in the longest hold it waits out.
constexpr std::uint64_t kMaxBand = 512;
// Steps kept for the trace back; beyond it the oldest half is settled.
constexpr std::size_t kMaxSteps = std::size_t{1} << 20;
// Typed tokens kept unsettled at most (a device that answers nothing for long).
constexpr std::size_t kMaxRows = 16384;
// Echoes that come at least this far apart keep pace with typing; a line of
// the device's own comes all at once and never starts the waiting.
constexpr auto kEchoApart = std::chrono::milliseconds(2);

std::int32_t best_of(const std::array<std::int32_t, 4>& s) {
  return *std::max_element(s.begin(), s.end());
}

std::uint8_t arg_best(const std::array<std::int32_t, 4>& s) {
  return static_cast<std::uint8_t>(std::max_element(s.begin(), s.end()) - s.begin());
}

// The best way into each state, and its step back.
struct Into {
  std::array<std::int32_t, 4> score{kNeg, kNeg, kNeg, kNeg};
  std::array<std::uint8_t, 4> step{};
  void relax(int state, std::int32_t value, Move move, int from) {
    if (value <= score[state]) return;
    score[state] = value;
    step[state] = static_cast<std::uint8_t>(move | (from << 2));
  }
};

}  // namespace

void EchoModel::Losses::note(const Row& r) {
  ++tokens;
  bytes += r.file_bytes;
  lines.note(r.line);
}

void EchoModel::reset() { *this = EchoModel{}; }

void EchoModel::typed(std::string_view bytes, Clock::time_point at) {
  at = std::max(at, last_typed_at_);
  last_typed_at_ = at;
  if (!bytes.empty()) erase_ = {bytes.back() == echo_match::kErase, false, at, {}};
  for (const char b : bytes) {
    const bool from_file = typing_file_ && !std::exchange(inserted_next_, false);
    std::uint32_t line = 0;
    if (typing_file_) line = from_file ? lines_.line_of(b) : lines_.next_line();
    if (from_file) ++file_bytes_;
    const auto weight = static_cast<std::uint8_t>(from_file ? 1 : 0);
    if (b == '\r' || (b == '\n' && !typed_cr_)) {
      // Every CR ends a line the device works on, a blank one too.
      add_row('\n', weight, line, at);
    } else if (b == '\n') {
      // The LF after a CR is the same line end (consoles echo CR as CR LF, LF as nothing).
      Row& end = row(rows() - 1);
      if (end.file_bytes < std::numeric_limits<std::uint8_t>::max()) end.file_bytes += weight;
    } else if (echo_match::expected_back(b)) {
      // Control characters (DEL, Ctrl keys) are echoed in consoles' own ways,
      // if at all; bytes that are not sent never are.
      add_row(b, weight, line, at);
      if (from_file) last_line_ = line;
    }
    typed_cr_ = b == '\r';
  }
  last_write_ = at;
  quiet_due_ = false;
  answer_due_ = false;
  awaiting_answer_ = false;
  if (!waiting_) {
    // A byte nobody waited for, not echoed in the time a wait would have
    // taken, is given up on as a wait would have given it up.
    for (aged_ = std::max({aged_, frontier_, row_base_}); aged_ < rows(); ++aged_) {
      if (row(aged_).at + kMaxWait >= at) break;
      row(aged_).given_up = true;
    }
  }
  // No echo heard from now on can be of bytes typed longer ago than the window.
  close_cells(at);
  if (rows_.size() > kMaxRows) settle(true);
}

void EchoModel::add_row(char c, std::uint8_t file_bytes, std::uint32_t line, Clock::time_point at) {
  if (cells_.empty()) cells_.push_back({{0, kNeg, kNeg, kNeg}, {0, kNeg, kNeg, kNeg}});
  Row r{c, file_bytes, typing_file_, false, line, at, columns_, {0, 1, 2, 3}};
  // A line end the device has been seen to go past unechoed is not waited for.
  r.given_up = c == '\n' && line_ends_skipped_;
  Cell next = cells_.back();
  if (c == '\n') {
    // Past a typed line end not echoed, the device's text is free again.
    const std::uint8_t from = arg_best(next.verdict);
    r.from.fill(from);
    next.verdict = {next.verdict[from], kNeg, kNeg, kNeg};
    next.pace = {best_of(next.pace), kNeg, kNeg, kNeg};
  } else {
    // A character skipped inside a run breaks it, as in column().
    const auto broken = [](Scores& s) {
      s[kOwn] = std::max({s[kOwn], s[kRun], s[kTab]});
      s[kRun] = s[kTab] = kNeg;
    };
    const Scores& v = next.verdict;
    r.from[kOwn] = v[kOwn] >= v[kRun] && v[kOwn] >= v[kTab] ? kOwn
                   : v[kRun] >= v[kTab]                     ? kRun
                                                            : kTab;
    broken(next.verdict);
    broken(next.pace);
  }
  rows_.push_back(r);
  cells_.push_back(next);
  matched_ = {kNeg, kNeg, kNeg, kNeg};
  skipped_ = next.pace;
}

void EchoModel::heard(std::string_view bytes, Clock::time_point at) {
  at = std::max({at, last_heard_at_, last_typed_at_});
  if (erase_.awaited && !bytes.empty()) {
    erase_.heard = true;
    erase_.last_heard = at;
  }
  for (const char b : bytes) hear(tokens_.next(b), at);
  if (!bytes.empty()) last_heard_at_ = at;
}

void EchoModel::hear(heard::Token token, Clock::time_point at) {
  switch (token.kind) {
    case heard::Kind::kNothing:
      // The CR of an LF CR: a line end with a CR in it.
      if (token.c == '\r' && last_text_ == '\n' && !cols_.empty()) cols_.back().cr = true;
      return;
    case heard::Kind::kXoff:
      if (!xoff_) xoff_at_ = at;
      xoff_ = true;
      return;
    case heard::Kind::kXon:
      xoff_ = false;
      return;
    case heard::Kind::kText:
      column(token.c, false, at);
      last_text_ = token.c;
      return;
    case heard::Kind::kOther:
      column('\0', false, at);  // no typed byte matches it
      last_text_ = '\0';
      return;
    case heard::Kind::kLineEnd:
      column('\n', true, at);
      if (token.c == '\r') cols_.back().cr = true;
      last_text_ = '\n';
      return;
  }
}

// Cells whose token is too old to be echoed at `at`, or whose alignment fell
// too far behind the best, are closed: a closed cell can only pass its score
// on, and the lowest one open holds the best of them, so the rest are let go of.
void EchoModel::close_cells(Clock::time_point at) {
  if (cells_.empty()) return;
  const std::uint64_t n = rows();
  std::uint64_t lo = std::max(band_, cell_base_);
  while (lo < n && row(lo).at + kEchoWindow < at) ++lo;
  if (n > kMaxBand) lo = std::max(lo, n - kMaxBand);
  while (lo < n && best_of(cell(lo).verdict) < best_verdict_ - kDrop &&
         best_of(cell(lo).pace) < best_ - kDrop) {
    ++lo;
  }
  band_ = std::min(lo, n);
  while (cell_base_ < band_) {
    cells_.pop_front();
    ++cell_base_;
  }
}

// One heard token: the alignment's newest column, over the cells still open.
void EchoModel::column(char c, bool line_end, Clock::time_point at) {
  if (cells_.empty()) cells_.push_back({{0, kNeg, kNeg, kNeg}, {0, kNeg, kNeg, kNeg}});
  ++columns_;
  const std::uint64_t n = rows();
  close_cells(at);

  const std::uint64_t first = band_;
  const auto count = static_cast<std::uint32_t>(n - first + 1);
  const std::size_t offset = steps_base_ + steps_.size();
  // Room for the steps kept and one more column, reserved once: never doubled.
  if (steps_.capacity() == 0) steps_.reserve(kMaxSteps + (kMaxBand + 1) * kStates);
  steps_.resize(steps_.size() + std::size_t{count} * kStates);
  std::uint8_t* steps = steps_.data() + (offset - steps_base_);
  cols_.push_back({first, count, offset, false});

  const std::int32_t best_before = best_;
  const char previous = last_text_;
  // Moves into a cell from the cell left of it: the heard token is the device's own.
  const auto left = [&](const Scores& in, bool newest, bool next_typed, bool next_line_end,
                        Into& out) {
    for (int s = 0; s < kStates; ++s) {
      const std::int32_t v = in[s];
      if (v == kNeg) continue;
      if (line_end) {
        const std::int32_t cost = s == kOwn                                ? kOwnLine
                                  : next_line_end                          ? kPinned
                                  : (s == kRun || s == kTab) && next_typed ? kBreak
                                                                           : 0;
        out.relax(kFree, v - cost, kLeft, s);
      } else if (s == kTab && (c == ' ' || ((c == 'I' || c == 'i') && previous == '^'))) {
        out.relax(c == ' ' ? kTab : kRun, v, kLeft, s);
      } else if (s == kFree || s == kOwn) {
        out.relax(s, v - (s == kOwn ? kOwnText : 0), kLeft, s);
      } else {
        out.relax(kOwn, v - kOwnText - (newest ? kOwnAfterNewest : 0), kLeft, s);
      }
    }
  };

  Cell old_below{};  // the cell below, as it was before this column
  for (std::uint64_t k = first; k <= n; ++k) {
    Cell& here = cell(k);
    const Cell old = here;
    const bool newest = k == n;
    Into verdict;
    Into pace;
    const bool next_line_end = !newest && row(k).c == '\n';
    left(old.verdict, newest, !newest, next_line_end, verdict);
    Into pace_left_matched;
    Into pace_left_skipped;
    if (newest) {
      left(matched_, true, false, false, pace_left_matched);
      left(skipped_, true, false, false, pace_left_skipped);
    } else {
      left(old.pace, false, true, next_line_end, pace);
    }
    Into pace_diag;
    Into pace_up;
    if (k > first) {
      const Row& t = row(k - 1);
      const Cell& below = cell(k - 1);  // already this column's
      // Its echo: never before the byte was written, nor after the window.
      if (t.at <= at && at <= t.at + kEchoWindow &&
          (line_end ? t.c == '\n' : t.c != '\n' && (same(t.c, c) || (t.c == '\t' && c == '^')))) {
        const int into = line_end ? kFree : t.c == '\t' && (c == ' ' || c == '^') ? kTab : kRun;
        // A line end is worth one byte however many it has: its LF may be
        // typed after its echo came. Bytes typed outside the file count a
        // little, so that the alignment follows their echo too.
        const std::int32_t gain = t.in_file ? kGain : 1;
        const std::int32_t pace_gain = t.given_up ? 0 : kGain;
        for (int s = 0; s < kStates; ++s) {
          if (old_below.verdict[s] != kNeg)
            verdict.relax(into, old_below.verdict[s] + gain, kDiag, s);
          if (old_below.pace[s] != kNeg)
            pace_diag.relax(into, old_below.pace[s] + pace_gain, kDiag, s);
        }
      }
      for (int s = 0; s < kStates; ++s) {
        // A typed character skipped inside a run breaks it: what follows on the
        // line is the device's own until the echo goes on.
        const int into = t.c == '\n' ? kFree : s == kRun || s == kTab ? kOwn : s;
        if (below.verdict[s] != kNeg) verdict.relax(into, below.verdict[s], kUp, s);
        if (below.pace[s] != kNeg) pace_up.relax(into, below.pace[s], kUp, s);
      }
    }
    if (newest) {
      for (int s = 0; s < kStates; ++s) {
        matched_[s] = std::max(pace_left_matched.score[s], pace_diag.score[s]);
        skipped_[s] = std::max(pace_left_skipped.score[s], pace_up.score[s]);
        pace.score[s] = std::max(matched_[s], skipped_[s]);
      }
    } else {
      for (int s = 0; s < kStates; ++s) {
        pace.score[s] = std::max({pace.score[s], pace_diag.score[s], pace_up.score[s]});
      }
    }
    old_below = old;
    here.verdict = verdict.score;
    here.pace = pace.score;
    std::copy(verdict.step.begin(), verdict.step.end(), steps + (k - first) * kStates);
  }

  // Where the pace's best alignment ends, and the best scores the band follows.
  const std::uint64_t frontier_before = frontier_;
  best_ = kNeg;
  best_verdict_ = kNeg;
  for (std::uint64_t k = first; k <= n; ++k) {
    const std::int32_t b = best_of(cell(k).pace);
    if (b > best_) {
      best_ = b;
      frontier_ = k;
    }
    best_verdict_ = std::max(best_verdict_, best_of(cell(k).verdict));
  }
  const bool progress = best_ > best_before;
  if (progress) last_progress_ = at;
  if (frontier_ > frontier_before) {
    const Row& echoed = row(frontier_ - 1);
    if (frontier_ > frontier_before + 1) run_ = 0;
    if (echoed.c != '\n') {
      echoes_ = std::min(echoes_ + 1, kEchoesToStart);
      if (at - last_counted_ >= kEchoApart || run_ == 0) ++run_;
      last_counted_ = at;
    }
    echo_delay_ = at - echoed.at;
    line_work_ = echoed.c == '\n';
    if (line_work_) line_ends_echoed_ = true;
    misses_ = 0;
    if (run_ >= kEchoesToStart) waiting_ = true;
    // The device echoed the newest line end: its answer may follow.
    if (frontier_ == n && echoed.c == '\n') {
      answer_from_ = at;
      answer_due_ = answers_lines_;
      awaiting_answer_ = true;
    }
  } else if (frontier_ < frontier_before || line_end) {
    // What looked like echo was not, or a line of the device's own came
    // between echoes: they are not in step with typing.
    run_ = 0;
    // A letter of the device's answer taken for an echo, then seen not to
    // be one: the device may still be working on the line echoed before it.
    if (frontier_ < frontier_before) {
      line_work_ = frontier_ > row_base_ && row(frontier_ - 1).c == '\n';
    }
  }
  // A command echoed whole in one burst, from its line's first byte to its
  // line end, each byte the next typed with nothing between: an echo too,
  // however fast it came.
  const bool one_step = frontier_ == frontier_before + 1;
  if (one_step && !line_end && arg_best(cell(frontier_).pace) == kRun) {
    const std::uint64_t echoed = frontier_ - 1;
    if (in_a_row_++ == 0) {
      burst_whole_ = echoed == 0 || (echoed > row_base_ && row(echoed - 1).c == '\n');
    }
  } else {
    if (one_step && line_end && row(frontier_ - 1).c == '\n' && burst_whole_ &&
        in_a_row_ >= kEchoesToStart) {
      waiting_ = true;
    }
    in_a_row_ = 0;
  }
  if (waiting_) paced_ = true;
  if (!progress && !line_end) {
    // Text of the device's own after the last write: a line's answer, proof
    // that the device answers lines of its own accord.
    if (awaiting_answer_ && frontier_ == n) answers_lines_ = true;
    awaiting_answer_ = false;
    answer_due_ = false;
    if (waiting_ && !quiet_due_) {
      quiet_due_ = true;
      quiet_from_ = at;
    }
  }
  if (steps_.size() > kMaxSteps) settle(false);
}

bool EchoModel::newest_answered() const {
  if (rows() == 0) return true;
  return best_of(matched_) > best_of(skipped_);
}

bool EchoModel::owed() const {
  if (xoff_) return true;
  if (!waiting_) return false;
  if (rows() > 0 && !row(rows() - 1).given_up && !newest_answered()) return true;
  return answer_due_ || quiet_due_;
}

EchoModel::Clock::time_point EchoModel::deadline() const {
  if (xoff_) return xoff_at_ + kXoffWait;
  if (rows() > 0 && !row(rows() - 1).given_up && !newest_answered()) {
    // Each line typed and not yet echoed before the newest byte is one more
    // the device works on before it echoes that byte.
    int lines = line_work_ ? 1 : 0;
    for (std::uint64_t i = std::max(frontier_, row_base_); i + 1 < rows(); ++i) {
      if (row(i).c == '\n' && !row(i).given_up) ++lines;
    }
    lines = std::min(lines, 3);
    const Clock::duration wait = lines == 0 ? Clock::duration(kMaxWait) : kLineWait * lines;
    return std::max(last_write_, last_progress_) + wait;
  }
  if (answer_due_) return answer_from_ + kLineWait;
  return std::min(last_heard_at_ + kAnswerQuiet, quiet_from_ + kMaxWait);
}

void EchoModel::ran_out() {
  if (xoff_) {
    // Typing goes on, and the verdict tells.
    xoff_ = false;
    held_off_ = true;
    return;
  }
  if (rows() > 0 && !row(rows() - 1).given_up && !newest_answered()) {
    const bool line_end = row(rows() - 1).c == '\n';
    for (std::uint64_t i = std::max(frontier_, row_base_); i < rows(); ++i) {
      row(i).given_up = true;
    }
    run_ = 0;
    line_work_ = false;
    // A device that echoes no line end is not waited for one again.
    if (line_end && !line_ends_echoed_) line_ends_skipped_ = true;
    if (++misses_ >= kMissesToStop) {
      waiting_ = false;
      misses_ = 0;
    }
    return;
  }
  if (answer_due_) {
    // It answers no more of its own accord: not waited for again until it does.
    answers_lines_ = false;
    answer_due_ = false;
    return;
  }
  quiet_due_ = false;
}

bool EchoModel::echo_to_come() const {
  if (echoes_ < kEchoesToStart || last_progress_ + kLineWait < last_write_) return false;
  for (std::uint64_t i = std::max(frontier_, row_base_); i < rows(); ++i) {
    if (row(i).c != '\n' || (line_ends_echoed_ && !line_ends_skipped_)) return true;
  }
  return false;
}

// Traces the best alignment back and settles the typed tokens whose fate lies
// in the older half of the steps kept (all of them when `final`).
void EchoModel::settle(bool final) {
  const std::uint64_t n = rows();
  if (n == settled_ || cells_.empty()) return;
  const std::uint64_t cut = final ? columns_ + 1 : col_base_ + cols_.size() / 2;
  trace_.clear();
  std::uint64_t r = n;
  std::uint64_t j = columns_;
  int s = arg_best(cell(n).verdict);
  while (r > settled_) {
    const Row& t = row(r - 1);
    if (j <= t.born) {
      trace_.push_back(((r - 1) << 1) | 0U);
      trace_.push_back(j);
      s = t.from[s];
      --r;
      continue;
    }
    if (j < col_base_) break;
    const Column& col = cols_[j - col_base_];
    if (r < col.first || r >= col.first + col.count) break;
    const std::uint8_t step = steps_[col.offset - steps_base_ + (r - col.first) * kStates + s];
    const int move = step & 3;
    s = step >> 2;
    if (move == kLeft) {
      --j;
    } else if (move == kDiag) {
      trace_.push_back(((r - 1) << 1) | 1U);
      trace_.push_back(j);
      --r;
      --j;
    } else if (move == kUp) {
      trace_.push_back(((r - 1) << 1) | 0U);
      trace_.push_back(j);
      --r;
    } else {
      break;
    }
  }
  // What the trace could not reach was settled by steps let go of: nothing
  // known of its echo, so nothing of it is called whole.
  const std::uint64_t reached = r;
  for (std::uint64_t i = settled_; i < reached; ++i) note_fate(i, false, 0);
  settled_ = std::max(settled_, reached);
  for (std::size_t k = trace_.size(); k >= 2; k -= 2) {
    const std::uint64_t entry = trace_[k - 2];
    const std::uint64_t col = trace_[k - 1];
    if (!final && col >= cut) break;
    note_fate(entry >> 1, (entry & 1U) != 0, col);
    settled_ = (entry >> 1) + 1;
  }
  // Let go of what no later trace needs.
  const std::uint64_t drop_to = std::min(cut, columns_ + 1);
  while (!cols_.empty() && col_base_ < drop_to) {
    cols_.pop_front();
    ++col_base_;
  }
  const std::size_t from = cols_.empty() ? steps_base_ + steps_.size() : cols_.front().offset;
  steps_.erase(steps_.begin(), steps_.begin() + static_cast<std::ptrdiff_t>(from - steps_base_));
  steps_base_ = from;
  const std::uint64_t keep = std::min(settled_, cell_base_);
  while (row_base_ < keep && !rows_.empty()) {
    rows_.pop_front();
    ++row_base_;
  }
}

void EchoModel::note_fate(std::uint64_t index, bool matched, std::uint64_t col) {
  const Row& t = row(index);
  // Only the file's bytes are accounted for.
  if (t.file_bytes == 0) return;
  const bool character = t.c != '\n';
  if (character) {
    ++characters_;
    if (first_line_ == 0) first_line_ = t.line;
    if (!matched && t.line == first_line_) first_line_whole_ = false;
  }
  if (!matched) {
    (character ? characters_lost_ : line_ends_lost_).note(t);
    return;
  }
  if (character) {
    ++characters_matched_;
    last_matched_line_ = t.line;
    return;
  }
  ++line_ends_matched_;
  if (col >= col_base_ && cols_[col - col_base_].cr) {
    ++line_ends_with_cr_;
  } else {
    lone_line_feeds_.note(t);
  }
}

EchoVerdict EchoModel::finish() {
  settle(true);
  EchoVerdict v;
  v.bytes = file_bytes_;
  v.held_off = held_off_;
  if (file_bytes_ == 0) return v;
  // The echo of the first line whole, and echo still on the last lines: the
  // device echoes, whatever it lost between.
  const std::uint32_t last_lines = std::max<std::uint32_t>(1, last_line_ / 10);
  const bool runs_through =
      first_line_whole_ && characters_matched_ > 0 && last_matched_line_ + last_lines >= last_line_;
  if (characters_matched_ == 0 ||
      (!runs_through && (characters_matched_ * 2 < characters_ || !paced_))) {
    // Too little came back to call it an echo: a device that echoes nothing,
    // or answers in words of its own (never in step with typing), or whose
    // echo stopped for good.
    v.kind = EchoVerdict::Kind::kNoEcho;
    return v;
  }
  std::size_t lost = characters_lost_.bytes;
  v.lines = characters_lost_.lines;
  // A device that echoes no line end at all is not expected to.
  if (line_ends_matched_ > 0) {
    lost += line_ends_lost_.bytes;
    v.lines.merge(line_ends_lost_.lines);
  }
  // Where line ends come back with their CR, one echoed as a line feed alone
  // lost its CR: the device ran two lines into one.
  if (line_ends_with_cr_ > lone_line_feeds_.tokens) {
    lost += lone_line_feeds_.bytes;
    v.lines.merge(lone_line_feeds_.lines);
  }
  v.lost = lost;
  v.kind = lost == 0 ? EchoVerdict::Kind::kWhole : EchoVerdict::Kind::kLost;
  if (lost == 0) v.lines = {};
  return v;
}

std::size_t EchoModel::footprint() const {
  return sizeof *this + rows_.size() * sizeof(Row) + cells_.size() * sizeof(Cell) +
         cols_.size() * sizeof(Column) + steps_.capacity() +
         trace_.capacity() * sizeof(std::uint64_t);
}

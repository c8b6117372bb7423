#pragma once

// Whether the device got the whole file: what an upload typed is compared with
// what the device sent back. The echo must hold every typed byte, in order;
// whatever else the device says (prompts, answers, messages, wrapped lines) is
// allowed anywhere around and inside it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "echo/echo_match.hpp"
#include "echo/line_list.hpp"

struct EchoVerdict {
  enum class Kind {
    kNone,    // nothing of the file was typed: nothing to tell
    kWhole,   // the device echoed every byte
    kLost,    // the device echoes, and some bytes did not come back
    kNoEcho,  // the device does not echo the file, or not in a way that can be matched
  };
  Kind kind = Kind::kNone;
  std::size_t bytes = 0;  // bytes of the file typed to the device
  std::size_t lost = 0;   // of those, the ones missing from the echo
  LineList lines;         // the file's lines that lost them
};

// One upload's accounting. It is fed as the upload goes (every byte written to
// the port, every byte read from it, with their times) and keeps only what can
// still matter: a device echoes a byte soon after it is typed, or, busy, holds
// what it hears for a few seconds and then echoes it, so what it sends later
// than kEchoWindow after a byte is not kept to judge that byte.
//
// The echo is matched to the typed bytes by the longest common subsequence,
// each typed byte allowed to match only what arrived within its window: a byte
// counts as lost only when no order-keeping match of the echo can account for
// it. Two witnesses narrow the match. A line end is echoed by the first line
// end the device sends after it, when that comes before anything more is
// typed: what follows (the device's answer) can never stand in for a byte of
// the line. And a byte typed while typing waited for each echo (EchoPace) that
// the device went past without echoing is lost. The alignment is traced back
// in steps of a few hundred typed bytes, so memory stays bounded whatever the
// length of the file; a device whose output is too heavy to be matched within
// bounds is judged as not echoing.
class EchoCheck {
 public:
  using Clock = std::chrono::steady_clock;
  // Longer than the longest wait of typing for the device's echo (a device
  // that worked seconds on a line), with a margin.
  static constexpr std::chrono::milliseconds kEchoWindow{7000};

  // A byte written to the port at `at` (taken before the write); `from_file`
  // is false for the carriage return the upload inserts before a line feed;
  // `in_step` when typing waits for each echo, so that fate() will tell.
  void typed(char byte, bool from_file, Clock::time_point at, bool in_step = false);
  // Typing saw the echo of the byte `c` typed at `typed_at` ('\n' for a line
  // end) come in order, in the read made at `heard_at`, or the device go past it.
  void fate(Clock::time_point typed_at, char c, bool echoed, Clock::time_point heard_at);
  // The upload wrote again at `at` (its final CR): the file's typing is over.
  void typing_over(Clock::time_point at) { typing_over_ = at; }
  // A byte read from the port at `at`.
  void heard(char byte, Clock::time_point at);
  // Once the device has said its last word.
  EchoVerdict finish();

  // Bytes of memory the accounting holds now.
  [[nodiscard]] std::size_t footprint() const;

 private:
  static constexpr std::int64_t kPinUnknown = -2;
  static constexpr std::int64_t kNoPin = -1;
  struct Token {
    char c;                   // '\n' stands for a line end (any run of CR and LF)
    std::uint8_t file_bytes;  // bytes of the file it stands for
    bool in_step;             // typed while typing waited for each echo
    bool gone_past;           // ...and the device went past it without echoing it
    bool echo_seen;           // ...or typing saw its echo, read at echo_at
    std::uint32_t line;       // line of the file where it begins, from 1
    Clock::time_point at;
    std::int64_t pin;  // a line end's echo: the column it must match, kNoPin or kPinUnknown
    Clock::time_point echo_at;
    char before;  // a line end's: the character typed before it, at before_at
    Clock::time_point before_at;
  };
  // Tokens lost, the file bytes they stand for and the lines that lost them.
  struct Losses {
    LineList lines;
    std::size_t tokens = 0;
    std::size_t bytes = 0;
    void note(const Token& token);
  };
  // One typed token's row of the alignment: its cells lo..hi (received tokens
  // consumed), each cell's step back stored from `offset` in the arena.
  struct Row {
    std::size_t lo;
    std::size_t hi;
    std::size_t offset;
    Token token;
  };

  void add_typed(Token token);
  void add_heard(char c, Clock::time_point at);
  void fill_rows(Clock::time_point now);
  void fill_row(const Token& token, std::size_t row_end);
  std::int64_t pin(std::size_t index, bool final);
  [[nodiscard]] std::size_t line_cut(bool final);
  [[nodiscard]] bool echo_keeps_up(const Token& line_end) const;
  // The first column heard after `at`.
  [[nodiscard]] std::size_t column_after(Clock::time_point at) const;
  void commit(std::size_t rows, bool whole);
  void settle(const Token& token, std::size_t column, bool matched);
  void trim();
  void give_up();
  [[nodiscard]] bool talks_on_its_own() const;
  [[nodiscard]] bool echo_runs_through() const;
  [[nodiscard]] Clock::time_point heard_time(std::size_t column) const {
    return heard_times_[column - heard_base_];
  }
  [[nodiscard]] std::size_t heard_end() const { return heard_base_ + heard_.size(); }

  bool gave_up_ = false;
  std::optional<Clock::time_point> typing_over_;
  std::size_t file_bytes_ = 0;
  LineCounter lines_;
  echo_match::EscapeFilter escapes_;
  int heard_line_end_bytes_ = 0;  // bytes of the line end heard last
  char last_character_ = 0;       // the last character typed, at last_character_at_
  Clock::time_point last_character_at_{};
  bool typed_line_end_ = false;     // the last token typed is a line end still open
  bool heard_line_end_ = false;     // ...and the last one heard
  bool typed_since_heard_ = false;  // a token was typed after the last one heard
  std::size_t tokens_ = 0;          // typed tokens in all
  std::size_t weight_ = 0;          // file bytes of the tokens aligned so far

  std::deque<Token> waiting_;  // typed, their windows still open
  std::vector<char> heard_;    // heard tokens, and their times apart
  std::vector<Clock::time_point> heard_times_;
  std::size_t heard_base_ = 0;  // column of heard_.front()
  std::size_t next_lo_ = 0;     // first column after the last token's time
  std::size_t next_hi_ = 0;

  std::deque<Row> rows_;
  std::vector<std::uint8_t> steps_;  // the arena of steps back
  std::size_t steps_base_ = 0;       // offset of steps_.front()
  std::vector<std::int32_t> previous_;
  std::size_t previous_lo_ = 0;
  std::vector<std::int32_t> current_;
  std::vector<std::int64_t> fates_;  // scratch of commit(): matched column, or -1

  // Settled so far.
  std::size_t characters_ = 0;          // typed tokens other than line ends
  std::size_t characters_matched_ = 0;  // of those, matched
  std::size_t run_on_ = 0;              // ...right after the echo before
  bool any_echo_ = false;
  std::size_t last_column_ = 0;
  std::size_t line_ends_echoed_ = 0;
  std::size_t line_ends_with_cr_ = 0;  // ...echoed with a CR in them
  // Whether the echo runs through the file: its first line came back whole,
  // and the last characters that came back as a run of echo, on which line.
  std::uint32_t first_line_ = 0;
  bool first_line_whole_ = true;
  std::uint32_t last_run_line_ = 0;
  std::uint32_t last_line_ = 0;  // of the characters typed
  Losses characters_lost_;
  Losses line_ends_lost_;
  Losses lone_line_feeds_;  // line ends echoed without their CR
};

#pragma once

// What came back of what was typed: one alignment of the bytes typed to the
// port against the bytes the device sent, updated byte by byte as they come.
// Typing reads it for its pace (has the device answered what was typed?), an
// upload for its verdict (which bytes of the file never came back?).
//
// The alignment uses the bytes, their order and their times (an echo never
// comes before its byte was written, nor later than kEchoWindow after it),
// never where one read of the port ended and the next began: the device's
// bytes split into any reads give the same decisions.
//
// It keeps as many typed bytes as it can, matched in order, and it reads the
// device's lines as an echo makes them: a line is the device's prompt or
// words, then the echo run to the line's end. So text of the device's own is
// free at the start of a line, costs where it breaks into a run of echo, and
// costs most where it follows matched letters to the line's end: a line of the
// device's own ("16:42:07 link UP") that begins with a lost byte's letter does
// not stand in for it.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

#include "echo/heard_tokens.hpp"
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
  bool held_off = false;  // the device held typing off (XOFF) longer than typing waits
};

class EchoModel {
 public:
  using Clock = std::chrono::steady_clock;
  // The longest wait for an echo within a line...
  static constexpr std::chrono::milliseconds kMaxWait{500};
  // ...and once the device has echoed a line end: it may work that long on
  // the line (opening a session, applying a setting).
  static constexpr std::chrono::milliseconds kLineWait{5000};
  // A device that sent XOFF is not typed to until its XON, this long at most.
  static constexpr std::chrono::milliseconds kXoffWait{10000};
  // A device still sending text of its own after its echo (a prompt, a redraw
  // of the line) is typed to once it has been quiet this long: more than the
  // 5.4 ms a USB adapter takes to fill a packet at 115200 baud.
  static constexpr std::chrono::milliseconds kAnswerQuiet{8};
  // Longer than the longest wait of typing for the echo, with a margin.
  static constexpr std::chrono::milliseconds kEchoWindow{7000};
  // Waiting starts once the device has echoed this many typed bytes in a row,
  // and stops after this many waits in a row ran out.
  static constexpr int kEchoesToStart = 3;
  static constexpr int kMissesToStop = 2;

  // A new port cycle: nothing typed, nothing heard.
  void reset();
  // Bytes written to the port together at `at` (taken before the write).
  void typed(std::string_view bytes, Clock::time_point at);
  // Bytes read from the port at `at`, as the line brought them.
  void heard(std::string_view bytes, Clock::time_point at);

  // The upload's accounting: bytes typed while `file` is on are the file's;
  // the next byte typed after inserted_next() is a CR the upload inserted.
  void typing_file(bool file) { typing_file_ = file; }
  void inserted_next() { inserted_next_ = true; }
  // Once the device has said its last word: whether it echoed the whole file.
  EchoVerdict finish();

  // True while the next paced byte must wait: for the echo of what was
  // typed, for the answer to a line, for the device to fall quiet, for XON.
  [[nodiscard]] bool owed() const;
  // When the wait under way runs out.
  [[nodiscard]] Clock::time_point deadline() const;
  // The wait ran out: what it waited for is given up on.
  void ran_out();

  // Whether the device's echo paces typing now.
  [[nodiscard]] bool waiting() const { return waiting_; }
  // How long the device took to echo the last typed byte it echoed in turn.
  [[nodiscard]] Clock::duration echo_delay() const { return echo_delay_; }
  // The answer to a DEL typed last: whatever the device sends after it ("\b \b",
  // "^?", a bell; nothing at the start of a line), waited for only where the
  // device's echo paces typing.
  struct EraseAnswer {
    bool awaited = false;
    bool heard = false;
    Clock::time_point typed_at{};
    Clock::time_point last_heard{};
  };
  [[nodiscard]] EraseAnswer erase_answer() const {
    EraseAnswer answer = erase_;
    answer.awaited = answer.awaited && waiting_;
    return answer;
  }
  // The device echoes, kept echoing until lately, and the echo of bytes typed
  // is still to come: its last word has not been said.
  [[nodiscard]] bool echo_to_come() const;

  // Bytes of memory the model holds now.
  [[nodiscard]] std::size_t footprint() const;

 private:
  static constexpr int kStates = 4;
  using Scores = std::array<std::int32_t, kStates>;
  struct Row {  // a typed token: a character, or a line end ('\n')
    char c;
    std::uint8_t file_bytes;  // bytes of the file it stands for
    bool in_file;             // typed while the file was
    bool given_up;            // its echo was waited for and did not come
    std::uint32_t line;       // the file's line it is on
    Clock::time_point at;
    std::uint64_t born;                      // columns heard when it was typed
    std::array<std::uint8_t, kStates> from;  // its first cell's step back, by state
  };
  struct Cell {
    Scores verdict;  // weights: bytes of the file
    Scores pace;     // weights: every byte typed, none for those given up on
  };
  struct Column {         // a heard token, and the steps back of the cells it computed
    std::uint64_t first;  // the lowest cell computed
    std::uint32_t count;
    std::size_t offset;  // into steps_
    bool cr;             // a line end with a CR in it
  };

  void add_row(char c, std::uint8_t file_bytes, std::uint32_t line, Clock::time_point at);
  void hear(heard::Token token, Clock::time_point at);
  void close_cells(Clock::time_point at);
  void column(char c, bool line_end, Clock::time_point at);
  void settle(bool final);
  void note_fate(std::uint64_t row, bool matched, std::uint64_t col);
  [[nodiscard]] const Row& row(std::uint64_t index) const { return rows_[index - row_base_]; }
  [[nodiscard]] Row& row(std::uint64_t index) { return rows_[index - row_base_]; }
  [[nodiscard]] Cell& cell(std::uint64_t index) { return cells_[index - cell_base_]; }
  [[nodiscard]] const Cell& cell(std::uint64_t index) const { return cells_[index - cell_base_]; }
  [[nodiscard]] std::uint64_t rows() const { return row_base_ + rows_.size(); }
  [[nodiscard]] bool newest_answered() const;

  // The typed tokens not yet settled, the cells of the newest column.
  std::deque<Row> rows_;
  std::uint64_t row_base_ = 0;
  std::deque<Cell> cells_;  // cells cell_base_ .. rows()
  std::uint64_t cell_base_ = 0;
  Scores matched_{};  // the newest cell's pace scores, split: it matched its token...
  Scores skipped_{};  // ...or not
  std::uint64_t columns_ = 0;
  std::deque<Column> cols_;
  std::uint64_t col_base_ = 1;  // the column of cols_.front()
  std::vector<std::uint8_t> steps_;
  std::size_t steps_base_ = 0;
  std::vector<std::uint64_t> trace_;  // scratch of settle()
  std::uint64_t frontier_ = 0;        // the pace's: the first cell no better than the best
  std::int32_t best_ = 0;             // the pace's best score
  std::int32_t best_verdict_ = 0;     // the best score over every byte typed
  std::uint64_t band_ = 0;            // cells below it are closed
  std::uint64_t aged_ = 0;            // typed tokens before it given up on or echoed
  heard::Tokenizer tokens_;
  char last_text_ = 0;  // the text heard last, for "^I"
  Clock::time_point last_heard_at_{};
  Clock::time_point last_typed_at_{};
  bool typed_cr_ = false;

  // The pace.
  bool waiting_ = false;
  int run_ = 0;
  int in_a_row_ = 0;          // echoes in one burst, each of the next byte typed...
  bool burst_whole_ = false;  // ...from a line's first byte
  bool paced_ = false;        // the echo paced typing at some time this cycle
  int misses_ = 0;
  int echoes_ = 0;
  Clock::time_point last_counted_{};
  bool line_work_ = false;          // the last echo was of a typed line end
  bool line_ends_echoed_ = false;   // the device echoed a typed line end this cycle
  bool line_ends_skipped_ = false;  // ...or went past one unechoed: no longer waited for
  bool answers_lines_ = false;      // the device answers a line on its own once done with it
  bool awaiting_answer_ = false;    // the newest line end was echoed, nothing heard since
  bool answer_due_ = false;         // ...and the device answers lines: its answer is waited for
  Clock::time_point answer_from_{};
  bool quiet_due_ = false;  // text of the device's own came after the echo: wait for quiet
  Clock::time_point quiet_from_{};
  bool xoff_ = false;
  Clock::time_point xoff_at_{};
  bool held_off_ = false;
  Clock::time_point last_write_{};
  Clock::time_point last_progress_{};
  Clock::duration echo_delay_{};
  EraseAnswer erase_;

  // The accounting.
  bool typing_file_ = false;
  bool inserted_next_ = false;
  LineCounter lines_;
  std::size_t file_bytes_ = 0;
  std::uint32_t last_line_ = 0;
  std::uint64_t settled_ = 0;  // rows settled
  std::size_t characters_ = 0;
  std::size_t characters_matched_ = 0;
  std::uint32_t first_line_ = 0;
  bool first_line_whole_ = true;
  std::uint32_t last_matched_line_ = 0;
  std::size_t line_ends_matched_ = 0;
  std::size_t line_ends_with_cr_ = 0;
  struct Losses {
    LineList lines;
    std::size_t tokens = 0;
    std::size_t bytes = 0;
    void note(const Row& r);
  };
  Losses characters_lost_;
  Losses line_ends_lost_;
  Losses lone_line_feeds_;
};

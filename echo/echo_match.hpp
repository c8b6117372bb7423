#pragma once

// What counts as the echo of a typed byte, for the typing's pace and for the
// upload's accounting alike.

namespace echo_match {

inline bool is_line_end(char c) { return c == '\r' || c == '\n'; }

inline constexpr char kErase = 0x7f;  // DEL, what a terminal sends for Backspace

// Printable characters and TAB come back; control characters are echoed in
// consoles' own ways (`\b \b`, `^X`) if at all, and NUL and 8-bit bytes are
// never typed.
inline bool expected_back(char c) { return c == '\t' || (c >= ' ' && c < 0x7f); }

inline char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A heard byte echoes a typed one: the same, a letter in the other case (some
// consoles echo in capitals), a TAB expanded to blanks, a line end as any run
// of CR and LF.
inline bool same(char typed, char heard) {
  if (is_line_end(typed)) return is_line_end(heard);
  return lower(typed) == lower(heard) || (typed == '\t' && heard == ' ');
}

// Colour and cursor codes (ESC [ ... final byte, or ESC and one byte) that a
// device wraps around its text: neither an echo nor words of its own. Fed the
// device's bytes in order, across reads.
class EscapeFilter {
 public:
  // False for a byte inside an escape sequence.
  bool keep(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (state_ == State::kEscape && u >= 0x20) {
      state_ = c == '[' ? State::kControl : State::kText;
      return false;
    }
    if (state_ == State::kControl && u >= 0x20 && u < 0x7f) {
      if (u >= 0x40) state_ = State::kText;  // the final byte
      return false;
    }
    // Text, or a control character that ends a broken sequence and is itself.
    state_ = c == kEsc ? State::kEscape : State::kText;
    return state_ == State::kText;
  }

 private:
  static constexpr char kEsc = 0x1b;
  enum class State : unsigned char { kText, kEscape, kControl };
  State state_ = State::kText;
};

}  // namespace echo_match

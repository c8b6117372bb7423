#pragma once

// What counts as the echo of a typed byte.

namespace echo_match {

inline bool is_line_end(char c) { return c == '\r' || c == '\n'; }

inline constexpr char kErase = 0x7f;  // DEL, what a terminal sends for Backspace

// Printable characters and TAB come back; control characters are echoed in
// consoles' own ways (`\b \b`, `^X`) if at all, and NUL and 8-bit bytes are
// never typed.
inline bool expected_back(char c) { return c == '\t' || (c >= ' ' && c < 0x7f); }

inline char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A heard byte echoes a typed one: the same, a letter in the other case (some
// consoles echo in capitals), a TAB expanded to blanks (or shown as "^I"), a
// line end as a line end.
inline bool same(char typed, char heard) {
  if (is_line_end(typed)) return is_line_end(heard);
  return lower(typed) == lower(heard) || (typed == '\t' && heard == ' ');
}

}  // namespace echo_match

#pragma once

// What counts as the echo of a typed byte, for the typing's pace and for the
// upload's accounting alike.

namespace echo_match {

inline bool is_line_end(char c) { return c == '\r' || c == '\n'; }

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

}  // namespace echo_match

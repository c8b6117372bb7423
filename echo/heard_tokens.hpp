#pragma once

// What the device sends, as the echo model reads it: byte by byte, whatever
// reads the bytes came in, into the tokens an echo can be made of.

#include <cstdint>

namespace heard {

inline constexpr char kXon = 0x11;
inline constexpr char kXoff = 0x13;
inline constexpr char kEsc = 0x1b;

enum class Kind : std::uint8_t {
  kNothing,  // part of an escape sequence, a control byte, the second byte of a line end (in `c`)
  kText,     // a printable character or a TAB, in `c`
  kOther,    // a byte no typed byte can be the echo of (8-bit)
  kLineEnd,  // CR, LF, CR LF or LF CR; `c` is '\r' where it holds a CR
  kXoff,     // flow control: neither echo nor text
  kXon,
};

struct Token {
  Kind kind;
  char c;
};

// Escape sequences as ECMA-48 defines them are taken out (ESC, intermediates
// 0x20-0x2F, a final byte 0x30-0x7E; CSI with its parameters; OSC, DCS and the
// other strings up to BEL or ST): colours and cursor moves are not words.
class Tokenizer {
 public:
  Token next(char byte) {
    const auto u = static_cast<unsigned char>(byte);
    switch (state_) {
      case State::kEscape:
        if (u >= 0x20 && u <= 0x2f) {
          state_ = State::kIntermediate;
          return {};
        }
        if (byte == '[') {
          state_ = State::kCsi;
          return {};
        }
        if (byte == ']' || byte == 'P' || byte == 'X' || byte == '^' || byte == '_') {
          state_ = State::kString;
          return {};
        }
        if (u >= 0x30 && u <= 0x7e) {
          state_ = State::kText;
          return {};
        }
        break;  // a control byte breaks the sequence off and is itself
      case State::kIntermediate:
        if (u >= 0x20 && u <= 0x2f) return {};
        if (u >= 0x30 && u <= 0x7e) {
          state_ = State::kText;
          return {};
        }
        break;
      case State::kCsi:
        if (u >= 0x20 && u <= 0x3f) return {};
        if (u >= 0x40 && u <= 0x7e) {
          state_ = State::kText;
          return {};
        }
        break;
      case State::kString:
        if (byte == 0x07) {
          state_ = State::kText;
          return {};
        }
        if (byte == kEsc) {
          state_ = State::kStringEsc;
          return {};
        }
        return {};
      case State::kStringEsc:
        // ST is ESC '\'; another ESC keeps the string's end open.
        state_ = byte == '\\' ? State::kText : byte == kEsc ? State::kStringEsc : State::kString;
        return {};
      case State::kText:
        break;
    }
    state_ = State::kText;
    const char previous = line_end_;
    line_end_ = 0;
    if (byte == '\r' || byte == '\n') {
      // CR LF and LF CR are one line end; CR CR, LF LF are two.
      if (previous != 0 && previous != byte) return {Kind::kNothing, byte};
      line_end_ = byte;
      return {Kind::kLineEnd, byte};
    }
    if (byte == kEsc) {
      state_ = State::kEscape;
      return {};
    }
    if (byte == kXoff) return {Kind::kXoff, byte};
    if (byte == kXon) return {Kind::kXon, byte};
    if (byte == '\t' || (u >= 0x20 && u < 0x7f)) return {Kind::kText, byte};
    if (u >= 0x80) return {Kind::kOther, byte};
    // Backspaces, bells, NUL: how a console draws, not what it says.
    return {};
  }

 private:
  enum class State : std::uint8_t { kText, kEscape, kIntermediate, kCsi, kString, kStringEsc };
  State state_ = State::kText;
  char line_end_ = 0;  // the first byte of the line end heard last, while it may go on
};

}  // namespace heard

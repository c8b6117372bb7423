#pragma once

// Devices typed to in simulated time: each hears every byte as it is typed and
// adds what it sends back to the typist's reads.

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "tests/typist.hpp"

using Reads = Typist::Reads;
// The device's answer to byte `i` of the wire (`c`, of the file's line `line`)
// typed at `t`: the reads it adds.
using Device = std::function<void(char c, std::size_t i, int line, int t, Reads& reads)>;
// What a device sends back for byte `i` (`c`, of line `line`); empty: nothing.
using Answer = std::function<std::string(char c, std::size_t i, int line)>;

// Answers, to be called on a byte alone or handed to a device.
inline std::string echo(char c, std::size_t = 0, int = 0) { return {c}; }
inline std::string nothing(char, std::size_t = 0, int = 0) { return {}; }
// Echo as a console gives it: CR as CR LF, the LF after it as nothing.
inline std::string crlf(char c, std::size_t = 0, int = 0) {
  return c == '\r' ? "\r\n" : c == '\n' ? "" : echo(c);
}

inline const std::string kOk = "ok\r\ndrovan(conf)> ";

// A device that sends its answer to each typed byte 1 ms after it.
inline Device at_once(Answer answer) {
  return [answer = std::move(answer)](char c, std::size_t i, int line, int t, Reads& reads) {
    const std::string a = answer(c, i, line);
    if (!a.empty()) reads.emplace(t + 1, a);
  };
}

// A console with a 16-byte FIFO that takes a byte `gap` ms after the one
// before at the soonest and answers it as it takes it; it works `line_ms` on
// each CR, and drops what its FIFO cannot hold.
inline Device console(int gap, Answer answer, int line_ms = 0) {
  struct State {
    int free_at = 0;
    std::deque<int> taken;  // when the bytes in the FIFO are taken
  };
  auto s = std::make_shared<State>();
  return [=](char c, std::size_t i, int line, int t, Reads& reads) {
    if (i == 0) *s = State{};  // a new run of the table's row
    while (!s->taken.empty() && s->taken.front() <= t) s->taken.pop_front();
    if (s->taken.size() >= 16) return;
    const int take = std::max(t, s->free_at);
    s->taken.push_back(take);
    s->free_at = take + (c == '\r' ? line_ms : gap);
    const std::string a = answer(c, i, line);
    if (!a.empty()) reads.emplace(take + 1, a);
  };
}

// A console that echoes a line end at once, works `work_ms` on it, then
// sends `answer`; it takes nothing while it works.
inline Device answering_after_work(int work_ms, std::string answer) {
  auto free_at = std::make_shared<int>(0);
  return [=](char c, std::size_t i, int, int t, Reads& reads) {
    if (i == 0) *free_at = 0;  // a new run of the table's row
    const int taken = std::max(t, *free_at);
    if (c == '\r') {
      reads.emplace(taken + 1, "\r\n");
      reads.emplace(taken + 1 + work_ms, answer);
      *free_at = taken + 1 + work_ms;
    } else if (!crlf(c).empty()) {
      reads.emplace(taken + 1, crlf(c));
    }
  };
}

// Echo as a console gives it; after byte `at_byte` it holds typing off for `hold_ms`.
inline Device holding_off(std::size_t at_byte, int hold_ms = 300) {
  return [=](char c, std::size_t i, int, int t, Reads& reads) {
    reads.emplace(t + 1, i == at_byte ? crlf(c) + "\x13" : crlf(c));
    if (i == at_byte) reads.emplace(t + 1 + hold_ms, "\x11");
  };
}

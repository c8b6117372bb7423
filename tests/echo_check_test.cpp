// The echo accounting alone: an upload typed at its pace, devices that echo it
// in their ways, and the verdict each one gets.

#include "serial/echo_check.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = EchoCheck::Clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

const std::string kFile =
    "e1.signalling = r2-digital\nfxs.count = 16\nfxs.ports = 1-16\ntdmoe.peer = 10.0.0.3\n";

// What a device sends back for the byte typed at position `i` of the wire; an
// answer comes with the echo of a line end, in one burst.
using Device = std::function<std::string(char typed, std::size_t i, int line)>;

std::string echo(char c) { return {c}; }

// Types the file as an upload does (a CR inserted right before the pause of an
// LF that lacks one, 10 ms a byte) and feeds the device's bytes back 1 ms after each.
EchoVerdict account(const std::string& file, const Device& device) {
  EchoCheck check;
  Clock::time_point t = Clock::now();
  char previous = 0;
  int line = 1;
  std::size_t i = 0;
  auto type = [&](char c, bool from_file, Clock::time_point at) {
    check.typed(c, from_file, at);
    for (const char h : device(c, i++, line)) check.heard(h, at + milliseconds(1));
  };
  for (const char c : file) {
    if (c == '\n' && previous != '\r') type('\r', false, t + microseconds(50));
    previous = c;
    t += milliseconds(10);
    type(c, true, t);
    if (c == '\n') ++line;
  }
  return check.finish();
}

struct Case {
  const char* name;
  Device device;
  EchoVerdict::Kind kind;
  std::size_t lost;
  std::vector<std::uint32_t> lines;
  std::string file = kFile;
  bool more_lines = false;
};

// Long enough for the alignment to be settled in several steps.
std::string repeated(std::string_view line, int times) {
  std::string file;
  for (int i = 0; i < times; ++i) file += line;
  return file;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class EchoAccounting : public testing::TestWithParam<Case> {};

TEST_P(EchoAccounting, Verdict) {
  const Case& c = GetParam();
  const EchoVerdict v = account(c.file, c.device);
  EXPECT_EQ(v.kind, c.kind);
  if (c.kind == EchoVerdict::Kind::kNoEcho) return;
  EXPECT_EQ(v.bytes, c.file.size());
  EXPECT_EQ(v.more_lines, c.more_lines);
  EXPECT_EQ(v.lost, c.lost);
  EXPECT_EQ(std::vector<std::uint32_t>(v.lines.begin(), v.lines.begin() + v.line_count), c.lines);
}

using K = EchoVerdict::Kind;

INSTANTIATE_TEST_SUITE_P(
    Devices, EchoAccounting,
    testing::Values(
        Case{"WholeEcho", [](char c, std::size_t, int) { return echo(c); }, K::kWhole, 0, {}},
        Case{"PromptsAnswersAndAMessageInsideALine",
             [](char c, std::size_t i, int) -> std::string {
               if (i == 35) return "\r\nLINK UP e1 16 ok\r\n" + echo(c);
               if (c == '\r') return "\r\nok: staged\r\ndrovan(conf)> ";
               return c == '\n' ? "" : echo(c);
             },
             K::kWhole,
             0,
             {}},
        Case{"CrEchoedAsCrLf",
             [](char c, std::size_t, int) -> std::string {
               return c == '\r' ? "\r\n" : c == '\n' ? "" : echo(c);
             },
             K::kWhole,
             0,
             {}},
        Case{"ByteLostInLineThree",
             // "fxs.ports = 1-16" arriving as "fxs.ports = 1-6": still a valid setting
             [](char c, std::size_t i, int) { return i == 58 ? std::string() : echo(c); },
             K::kLost,
             1,
             {3}},
        Case{"LostLineEnd",
             // two settings run together
             [](char c, std::size_t, int line) {
               return line == 2 && (c == '\r' || c == '\n') ? std::string() : echo(c);
             },
             K::kLost,
             1,
             {2}},
        Case{"NoEchoAtAll", [](char, std::size_t, int) { return std::string(); }, K::kNoEcho},
        Case{"OwnAnswerToEachLine",
             [](char c, std::size_t, int line) -> std::string {
               if (c != '\r') return {};
               return "\r\naccepted: line " + std::to_string(line) +
                      " e1.signalling fxs.count = 16 tdmoe.peer 10.0.0.3\r\ndrovan(conf)> ";
             },
             K::kNoEcho},
        Case{"TabEchoedAsBlanks",
             [](char c, std::size_t, int) { return c == '\t' ? std::string("    ") : echo(c); },
             K::kWhole,
             0,
             {},
             "fxs.count\t= 16\nfxs.ports\t= 1-16\n"},
        Case{"LossesAllAlongALongFile",
             [](char c, std::size_t, int line) {
               return line % 4 == 0 && c == '6' ? std::string() : echo(c);
             },
             K::kLost,
             15,
             {4, 8, 12, 16, 20, 24, 28, 32, 36, 40},
             repeated("fxs.count = 16\n", 60),
             true},
        Case{"FloodAroundTheEcho",
             [](char c, std::size_t, int) { return std::string(2000, 'x') + echo(c); },
             K::kNoEcho}));

}  // namespace

// The echo accounting alone: an upload typed at its pace, devices that echo it
// in their ways, and the verdict each one gets, the same however the device's
// bytes are split into reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "echo/echo_model.hpp"
#include "serial/line_end.hpp"
#include "tests/devices.hpp"
#include "tests/typist.hpp"

namespace {

using Clock = EchoModel::Clock;
using Split = Typist::Split;

const std::string kFile =
    "e1.signalling = r2-digital\nfxs.count = 16\nfxs.ports = 1-16\ntdmoe.peer = 10.0.0.3\n";

// Types the file as an upload does (a CR inserted at once before an LF that
// lacks one; each byte 10 ms after the one before and, with a device that
// echoes, once it has echoed what was typed before; the upload's final CR)
// and hears the device's reads, `own` among them.
EchoVerdict account(const std::string& file, const Device& device, Reads reads = {},
                    int stopped_after = -1, Split split = Split::kAsWritten) {
  EchoModel model;
  Typist typist(model, std::move(reads), split);
  std::size_t i = 0;
  int line = 1;
  auto type = [&](char c, bool from_file) {
    const Clock::time_point at = typist.at(typist.now);
    if (!from_file) model.inserted_next();
    model.typed(std::string(1, c), at);
    device(c, i, line, typist.now, typist.reads);
    if (static_cast<int>(i++) != stopped_after) return;
    // What the device sent meanwhile is read when the program runs again.
    typist.now += 1500;
    Reads late;
    while (!typist.reads.empty() && typist.reads.begin()->first <= typist.now) {
      late.emplace(typist.now, typist.reads.begin()->second);
      typist.reads.erase(typist.reads.begin());
    }
    typist.reads.merge(late);
  };
  model.typing_file(true);
  char previous = 0;
  for (const char c : file) {
    if (cr_goes_before(previous, c)) type('\r', false);
    previous = c;
    typist.wait_turn();
    type(c, true);
    if (c == '\n') ++line;
  }
  model.typing_file(false);
  typist.hear_until(typist.now + 5);
  model.typed("\r", typist.at(typist.now + 5));
  typist.hear_until(std::numeric_limits<int>::max());
  return model.finish();
}

struct Case {
  const char* name;
  Device device;
  EchoVerdict::Kind kind;
  std::size_t lost;
  std::vector<std::uint32_t> lines;
  std::string file = kFile;
  bool more_lines = false;
  Reads own = {};          // what the device says of its own accord
  int stopped_after = -1;  // the program stopped for 1.5 s after typing this byte of the wire
  bool held_off = false;   // the device held typing off past the longest wait for XON
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
  for (const Split split : {Split::kAsWritten, Split::kByteEach, Split::kRandom}) {
    SCOPED_TRACE(static_cast<int>(split));
    const EchoVerdict v = account(c.file, c.device, c.own, c.stopped_after, split);
    EXPECT_EQ(v.kind, c.kind);
    EXPECT_EQ(v.held_off, c.held_off);
    if (c.kind == EchoVerdict::Kind::kNoEcho) continue;
    EXPECT_EQ(v.bytes, c.file.size());
    EXPECT_EQ(v.lines.more, c.more_lines);
    EXPECT_EQ(v.lost, c.lost);
    EXPECT_EQ(
        std::vector<std::uint32_t>(v.lines.first.begin(), v.lines.first.begin() + v.lines.count),
        c.lines);
  }
}

using K = EchoVerdict::Kind;

// A device that holds what it hears for its first `ms` milliseconds and then
// echoes it, all at once, as a console does, each line answered with its prompt.
Device held(int ms) {
  return [ms](char c, std::size_t, int, int t, Reads& reads) {
    const std::string e = c == '\r' ? "\r\ndrovan(conf)> " : crlf(c);
    if (!e.empty()) reads.emplace(std::max(t + 1, ms), e);
  };
}

// Status text streamed at 2000 bytes a second, 20 bytes for each byte typed.
Device streaming() {
  auto at = std::make_shared<std::size_t>(0);
  return [at](char, std::size_t i, int, int t, Reads& reads) {
    if (i == 0) *at = 0;  // a new run of the table's row
    static const std::string kStatus = "e1 sync ok, fxs 16 idle, tdmoe peer 10.0.0.3 up\r\n";
    std::string text;
    for (int k = 0; k < 20; ++k) text += kStatus[(*at)++ % kStatus.size()];
    reads.emplace(t + 5, text);
  };
}

// Echo as a console gives it, but for the bytes `lost`; `own` is sent 5 ms
// after the first of them.
Device losing(std::function<bool(std::size_t)> lost, std::string own = {}) {
  return [=](char c, std::size_t i, int, int t, Reads& reads) {
    if (!lost(i)) {
      const std::string e = crlf(c);
      if (!e.empty()) reads.emplace(t + 1, e);
    } else if (!own.empty()) {
      reads.emplace(t + 5, own);
    }
  };
}

// Echo as a console gives it, `ms` late.
Device late(int ms) {
  return [ms](char c, std::size_t, int, int t, Reads& reads) {
    if (!crlf(c).empty()) reads.emplace(t + ms, crlf(c));
  };
}

// Echo as a console gives it, but for byte `lost`, answered instead by `own`
// 100 ms after it was typed.
Device losing_then_saying(std::size_t lost, std::string own) {
  return [=](char c, std::size_t i, int, int t, Reads& reads) {
    if (i == lost) {
      reads.emplace(t + 100, own);
    } else if (!crlf(c).empty()) {
      reads.emplace(t + 1, crlf(c));
    }
  };
}

// A line editor that redraws the whole line after each key it takes.
Device redrawing() {
  auto line = std::make_shared<std::string>();
  return [line](char c, std::size_t i, int, int t, Reads& reads) {
    if (i == 0) line->clear();  // a new run of the table's row
    if (c == '\n') return;
    if (c == '\r') {
      line->clear();
      reads.emplace(t + 1, "\r\n");
      return;
    }
    *line += c;
    reads.emplace(t + 1, "\rdrovan(conf)> " + *line + "\x1b[K");
  };
}

const std::string kLongComment = "e1.signalling = r2-digital\nfxs.count = 16\n# " +
                                 std::string(100, 'x') + "\nfxs.ports = 1-16\n";

// Lines of the device's own, every 300 ms.
Reads alarms() {
  Reads r;
  for (int t = 150; t < 20'000; t += 300) r.emplace(t, "\r\nALARM e1 los fxs ports 1-16\r\n");
  return r;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, EchoAccounting,
    testing::Values(
        Case{"WholeEcho", at_once(echo), K::kWhole, 0, {}},
        Case{"PromptsAnswersAndAMessageInsideALine",
             at_once([](char c, std::size_t i, int) -> std::string {
               if (i == 35) return "\r\nLINK UP e1 16 ok\r\n" + echo(c);
               if (c == '\r') return "\r\nok: staged\r\ndrovan(conf)> ";
               return c == '\n' ? "" : echo(c);
             }),
             K::kWhole,
             0,
             {}},
        Case{"CrEchoedAsCrLf", at_once(crlf), K::kWhole, 0, {}},
        Case{"ByteLostInLineThree",
             // "fxs.ports = 1-16" arriving as "fxs.ports = 1-6": still a valid setting
             at_once([](char c, std::size_t i, int) { return i == 58 ? std::string() : echo(c); }),
             K::kLost,
             1,
             {3}},
        Case{"LostLineEnd",
             // two settings run together
             at_once([](char c, std::size_t, int line) {
               return line == 2 && (c == '\r' || c == '\n') ? std::string() : echo(c);
             }),
             K::kLost,
             1,
             {2}},
        Case{"NoEchoAtAll", at_once(nothing), K::kNoEcho},
        Case{"OwnAnswerToEachLine", at_once([](char c, std::size_t, int line) -> std::string {
               if (c != '\r') return {};
               return "\r\naccepted: line " + std::to_string(line) +
                      " e1.signalling fxs.count = 16 tdmoe.peer 10.0.0.3\r\ndrovan(conf)> ";
             }),
             K::kNoEcho},
        Case{"TabEchoedAsBlanks",
             at_once([](char c, std::size_t, int) {
               return c == '\t' ? std::string("    ") : echo(c);
             }),
             K::kWhole,
             0,
             {},
             "fxs.count\t= 16\nfxs.ports\t= 1-16\n"},
        Case{"LossesAllAlongALongFile",
             at_once([](char c, std::size_t, int line) {
               return line % 4 == 0 && c == '6' ? std::string() : echo(c);
             }),
             K::kLost,
             15,
             {4, 8, 12, 16, 20, 24, 28, 32, 36, 40},
             repeated("fxs.count = 16\n", 60),
             true},
        Case{"FloodAroundTheEcho",
             at_once([](char c, std::size_t, int) { return std::string(2000, 'x') + echo(c); }),
             K::kNoEcho},
        // The '6' lost, and the device's answer that quotes a '6' cannot stand in for it.
        Case{"AnswerAfterTheLineEndCannotStandIn",
             at_once([](char c, std::size_t i, int line) -> std::string {
               if (i == 59) return {};
               if (c == '\r' && line == 3) {
                 return "\r\nerror: line 3: fxs.ports 1-1 does not match fxs.count 16\r\n";
               }
               return crlf(c);
             }),
             K::kLost,
             1,
             {3}},
        // Lines 2 and 3 run together on the device.
        Case{"CrLostLineFeedEchoedAlone",
             at_once([](char c, std::size_t, int line) -> std::string {
               if (line == 2 && c == '\r') return {};
               if (line == 2 && c == '\n') return "\n";
               return crlf(c);
             }),
             K::kLost,
             1,
             {2}},
        Case{"StatusTextAndNoEcho", streaming(), K::kNoEcho},
        Case{"HeldWhileBusyThenEchoed", held(1200), K::kWhole, 0, {}},
        Case{"HeldThreeSecondsThenEchoed",
             held(3000),
             K::kWhole,
             0,
             {},
             repeated("fxs.count = 16\n", 40)},
        Case{"EchoInCapitals",
             at_once([](char c, std::size_t, int) {
               return crlf(static_cast<char>(std::toupper(c)));
             }),
             K::kWhole,
             0,
             {}},
        // Its prompt ends the line on screen.
        Case{"NoLineEndEchoed",
             at_once([](char c, std::size_t, int) -> std::string {
               return c == '\r' ? "drovan(conf)> " : c == '\n' ? "" : echo(c);
             }),
             K::kWhole,
             0,
             {}},
        // The program stopped for 1.5 s after byte 30: its echo read that late.
        Case{
            "EchoReadLateByAStoppedProgram", at_once(crlf), K::kWhole, 0, {}, kFile, false, {}, 30},
        Case{"EveryByteEchoedTwice",
             at_once([](char c, std::size_t, int) { return crlf(c) + crlf(c); }),
             K::kWhole,
             0,
             {}},
        // Its lines every 0.3 s hold the letters of a byte lost meanwhile.
        Case{"AlarmLinesAroundALostByte",
             at_once([](char c, std::size_t i, int) { return i == 52 ? "" : crlf(c); }),
             K::kLost,
             1,
             {3},
             kFile,
             false,
             alarms()},
        // The same in a file of CR LF line ends, where the CR waits its turn: a
        // line end of the device's own and the echo of one typed after it are two.
        Case{"AlarmLinesAroundLostBytesInACrLfFile",
             at_once([](char c, std::size_t i,
                        int) { return i == 52 || i == 20 || i == 70 ? "" : crlf(c); }),
             K::kLost,
             3,
             {1, 3, 4},
             "e1.signalling = r2-digital\r\nfxs.count = 16\r\nfxs.ports = 1-16\r\ntdmoe.peer = "
             "10.0.0.3\r\n",
             false,
             alarms()},
        // Typing waits out the console's work on each line, and the verdict agrees;
        // its prompt comes with the LF it takes once the line's work is done.
        Case{"ConsoleWorkingLongOnEachLine",
             console(
                 3, [](char c, std::size_t, int) { return c == '\n' ? "drovan(conf)> " : crlf(c); },
                 800),
             K::kWhole,
             0,
             {}},
        // The '1' of "fxs.count = 16" lost, and a line of the device's own that
        // begins with a '1' while typing waits for it: not its echo.
        Case{"StatusLineAfterItsOwnLineEndBeginsWithTheLostByte",
             losing([](std::size_t i) { return i == 40; }, "\r\n16:00:07 e1 slip\r\n"),
             K::kLost,
             1,
             {2}},
        Case{"StatusLineRightAfterTheEchoBeginsWithTheLostByte",
             losing([](std::size_t i) { return i == 40; }, "16:00:07 e1 slip\r\n"),
             K::kLost,
             1,
             {2}},
        Case{"EchoFollowedByAnAlarmLineInOneRead",
             at_once([](char c, std::size_t i,
                        int) { return i == 45 ? crlf(c) + "\r\nALARM e1 los\r\n" : crlf(c); }),
             K::kWhole,
             0,
             {}},
        // More than typing keeps a record of is typed before the echo comes.
        Case{"EchoASecondLate", late(1000), K::kWhole, 0, {}, repeated(kFile, 3)},
        Case{"EchoInColourWithAByteLost",
             at_once(
                 [](char c, std::size_t i, int) {
                   return i == 58 || crlf(c).empty() ? std::string()
                                                     : "\x1b[1;32m" + crlf(c) + "\x1b[0m";
                 }),
             K::kLost,
             1,
             {3}},
        Case{"LinesEndingInCrAlone",
             losing([](std::size_t i) { return i == 85; }),
             K::kLost,
             1,
             {5},
             "e1.signalling = r2-digital\rfxs.count = 16\rfxs.ports = 1-16\rtdmoe.peer = "
             "10.0.0.3\rfxo.count = 4\r"},
        // The echo runs through the file: lines 1, 2, 19 and 20 whole, most of
        // the rest lost. However many, the bytes are lost, not unechoed.
        Case{"EchoThatLosesMostOfTheFile",
             losing([](std::size_t i) { return i >= 32 && i < 288 && i % 16 < 14 && i % 16 != 3; }),
             K::kLost,
             208,
             {3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
             repeated("fxs.count = 16\n", 20),
             true},
        // The '1' of "fxs.count = 16" lost, and an alarm line that begins with a
        // '1' while typing waits for it: not its echo.
        Case{"AlarmBeginningWithTheLostByte",
             losing_then_saying(40, "\r\n16:42:07 E1 link 1 UP\r\n"),
             K::kLost,
             1,
             {2}},
        // ...and the console then redraws its prompt and the line typed so far.
        Case{"AlarmBeginningWithTheLostByteThenTheLineRedrawn",
             losing_then_saying(40, "\r\n16:42:07 E1 link 1 UP\r\ndrovan(conf)> fxs.count = "),
             K::kLost,
             1,
             {2}},
        Case{"OkAfterWorkThenThePrompt", answering_after_work(200, kOk), K::kWhole, 0, {}},
        // XOFF and XON are neither echo nor text.
        Case{"HeldOffAWhile", holding_off(45), K::kWhole, 0, {}},
        // Past the longest wait typing goes on, and the verdict tells.
        Case{"HeldOffPastTheLongestWait",
             holding_off(45, 12000),
             K::kWhole,
             0,
             {},
             kFile,
             false,
             {},
             -1,
             true},
        // Bold as terminfo writes it: its end, ESC ( B, is a sequence too.
        Case{"EchoInBold",
             at_once(
                 [](char c, std::size_t, int) {
                   return crlf(c).empty() || c == '\r' ? crlf(c)
                                                       : "\x1b[1m" + crlf(c) + "\x1b(B\x1b[m";
                 }),
             K::kWhole,
             0,
             {}},
        Case{"TabEchoedAsCaretI",
             at_once([](char c, std::size_t,
                        int) { return c == '\t' ? std::string("^I") : crlf(c); }),
             K::kWhole,
             0,
             {},
             "fxs.count\t= 16\nfxs.ports\t= 1-16\n"},
        Case{"LineRedrawnAfterEachKey", redrawing(), K::kWhole, 0, {}},
        // One 'x' of a hundred lost: any of them could be the one, the count is what tells.
        Case{"ByteLostInARunOfOneLetter",
             losing([](std::size_t i) { return i == 95; }),
             K::kLost,
             1,
             {3},
             kLongComment},
        Case{"CrEchoedAsCrAlone",
             at_once([](char c, std::size_t, int) { return c == '\n' ? std::string() : echo(c); }),
             K::kWhole,
             0,
             {}}));

}  // namespace

// The pace of typing alone: when each byte may go, against devices that echo
// in their ways, the same however their bytes are split into reads. Time is
// simulated in whole milliseconds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "echo/echo_model.hpp"
#include "tests/devices.hpp"
#include "tests/typist.hpp"

namespace {

using Split = Typist::Split;

// Types `text` as the program does and returns the gaps between the bytes, in ms.
std::vector<int> gaps(const std::string& text, const Device& device, Reads reads = {},
                      Split split = Split::kAsWritten) {
  EchoModel pace;
  Typist typist(pace, std::move(reads), split);
  std::vector<int> sent;
  for (std::size_t i = 0; i < text.size(); ++i) {
    typist.wait_turn();
    pace.typed(std::string(1, text[i]), typist.at(typist.now));
    device(text[i], i, 0, typist.now, typist.reads);  // no device here asks for the line
    sent.push_back(typist.now);
  }
  std::vector<int> out;
  for (std::size_t i = 1; i < sent.size(); ++i) out.push_back(sent[i] - sent[i - 1]);
  return out;
}

std::vector<int> tens(std::size_t n) { return std::vector<int>(n, 10); }

std::vector<int> with(std::vector<int> v, std::map<std::size_t, int> changes) {
  for (const auto& [i, gap] : changes) v[i] = gap;
  return v;
}

struct Case {
  const char* name;
  std::string text;
  Device device;
  std::vector<int> expected;
  Reads own = {};  // what the device says of its own accord
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Pace : public testing::TestWithParam<Case> {};

TEST_P(Pace, WhenEachByteGoes) {
  const Case& c = GetParam();
  for (const Split split : {Split::kAsWritten, Split::kByteEach, Split::kRandom}) {
    EXPECT_EQ(gaps(c.text, c.device, c.own, split), c.expected) << static_cast<int>(split);
  }
}

const std::string kLine = "fxs.count = 16";
const std::string kTwoLines = "fxs.count = 16\r\nfxo.count = 1";
const std::string kThreeLines = kTwoLines + "\r\nfxs.ports = 1-16";

std::string colour(char c, std::size_t, int) { return "\x1b[1;32m" + echo(c) + "\x1b[0m"; }

// A console that echoes a command with its prompt in one read, then works
// `busy_ms` before it takes the next byte; it echoes the rest as it comes.
Device busy_after_command(int busy_ms) {
  auto free_at = std::make_shared<int>(0);
  return [=](char c, std::size_t i, int, int t, Reads& reads) {
    if (i == 0) *free_at = 0;  // a new run of the table's row
    if (*free_at == 0) {
      if (c != '\r') return;
      reads.emplace(t + 1, "set conf\r\nconfiguration: one setting per line\r\ndrovan(conf)> ");
      *free_at = t + 1 + busy_ms;
      return;
    }
    reads.emplace(std::max(t, *free_at) + 1, crlf(c));
  };
}

const std::string kThreeCrLines = "fxs.count = 16\rfxo.count = 1\rfxs.ports = 1-16";
const std::string kLongComment = kLine + "\r\n# " + std::string(100, 'x') + "\r\n" + kLine;

Reads status_lines() {
  Reads r;
  for (int t = 3; t < 2000; t += 50) r.emplace(t, "\r\nLINK UP e1 fxs.count 16 ok\r\n");
  return r;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, Pace,
    testing::Values(
        Case{"EchoKeepingUp", kLine, at_once(echo), tens(13)},
        // Three echoes start the wait; the device is then caught up with and followed.
        Case{"EchoLaggingBehind",
             kLine,
             console(25, echo),
             {10, 10, 10, 10, 10, 76, 25, 25, 25, 25, 25, 25, 25}},
        Case{"ByteSwallowed", kLine,
             at_once([](char c, std::size_t i, int) { return i == 6 ? "" : echo(c); }),
             with(tens(13), {{6, 500}})},
        Case{"NoEcho", kLine, at_once(nothing), tens(13)},
        // Two waits in a row run out, then typing goes on as without echo.
        Case{"EchoThatStops", kLine,
             at_once([](char c, std::size_t i, int) { return i < 5 ? echo(c) : ""; }),
             with(tens(13), {{5, 500}, {6, 500}})},
        Case{"PromptsBetweenLines", kTwoLines, at_once([](char c, std::size_t, int) {
               return c == '\r' ? "\r\nok: staged\r\ndrovan(conf)> " : crlf(c);
             }),
             tens(28)},
        Case{"CrEchoedAsCrLf", kTwoLines, at_once(crlf), tens(28)},
        // A console that works 300 ms on each line it ends is waited for.
        Case{"SlowLineEnd", kTwoLines, console(0, crlf, 300), with(tens(28), {{16, 281}})},
        Case{"TabEchoedAsBlanks", "fxs.count\t= 16\r\nfxs.ports\t= 1-16",
             at_once([](char c, std::size_t, int) { return c == '\t' ? "      " : crlf(c); }),
             tens(31)},
        Case{"EchoInCapitals", kLine, at_once([](char c, std::size_t, int) {
               return echo(static_cast<char>(std::toupper(c)));
             }),
             tens(13)},
        // A line's work is waited out, up to 5 s.
        Case{"WorksLongOnEachLine", kTwoLines, console(0, crlf, 800), with(tens(28), {{16, 781}})},
        Case{"WorksSecondsOnEachLine", kTwoLines, console(0, crlf, 2000),
             with(tens(28), {{16, 1981}})},
        // Each CR is a line the console works on, a blank one too.
        Case{"TwoBlankLines", "fxs.count = 16\r\n\r\n\r\nfxo.count = 1", console(0, crlf, 600),
             with(tens(32), {{16, 581}, {18, 590}, {20, 590}})},
        Case{"BusyAfterACommandEchoedWithItsPrompt", "set conf\rfxs.count = 16",
             busy_after_command(3000), with(tens(22), {{9, 2992}})},
        // Its answer begins with the command's last letters ("conf" of
        // "configuration"): no echo, no wait.
        Case{"AnswerBeginningWithTheCommandsLetters", "set conf\rfxs.count = 16",
             at_once([](char c, std::size_t, int) {
               return c == '\r' ? "configuration: one setting per line\r\ndrovan(conf)> " : "";
             }),
             tens(22)},
        // One wait for the first line end, none for the next.
        Case{"NoLineEndEchoed", kThreeLines, at_once([](char c, std::size_t, int) {
               return c == '\r' || c == '\n' ? "" : echo(c);
             }),
             with(tens(46), {{14, 500}})},
        Case{"EchoInColour",
             kLine,
             console(25, colour),
             {10, 10, 10, 10, 10, 76, 25, 25, 25, 25, 25, 25, 25}},
        // The long wait, then a short one, then typing goes on as without echo.
        Case{"SilentForGoodAfterALine", kThreeLines,
             at_once([](char c, std::size_t i, int) { return i < 16 ? crlf(c) : ""; }),
             with(tens(46), {{16, 5000}, {17, 500}})},
        // Lines of its own, twenty a second, with the typed letters in them:
        // no echo, so typing never waits.
        Case{"StatusLinesWithoutEcho", kTwoLines, at_once(nothing), tens(28), status_lines()},
        // Its prompt comes once the line's work is done: the next line's first
        // byte waits in its receive FIFO meanwhile, and the byte after it waits
        // for its echo, after the prompt.
        Case{"PromptAfterTheLinesWork", kThreeCrLines, answering_after_work(300, "drovan(conf)> "),
             with(tens(44), {{15, 300}, {29, 300}})},
        Case{"OkAfterTheLinesWorkThenThePrompt", kThreeCrLines, answering_after_work(200, kOk),
             with(tens(44), {{15, 200}, {29, 200}})},
        // Nothing is typed between XOFF and XON.
        Case{"HeldOffAWhile", kTwoLines, holding_off(5), with(tens(28), {{5, 301}})},
        // One 'x' of a hundred lost costs one wait, not one for each 'x' after it.
        Case{"ByteLostInARunOfOneLetter", kLongComment,
             at_once([](char c, std::size_t i, int) { return i == 60 ? "" : crlf(c); }),
             with(tens(kLongComment.size() - 1), {{60, 500}})}));

}  // namespace

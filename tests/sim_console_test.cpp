// The simulated console's model, fed with bytes and instants of the test's
// choosing: echo, answers, the configuration session, the reset, and which
// bytes the slow console loses. It answers as it takes bytes, so each test
// ticks it past what it was given.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/adapter.hpp"
#include "sim/console_model.hpp"
#include "sim/pacing.hpp"

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

class StringSink final : public sim::Sink {
 public:
  void put(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

struct ConsoleCase {
  const char* name;
  std::string input;
  std::string output;
  unsigned accepted;
  unsigned rejected;
};

void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << c.name; }

class Console : public testing::TestWithParam<ConsoleCase> {};

TEST_P(Console, EchoAndAnswers) {
  const ConsoleCase& c = GetParam();
  StringSink sink;
  sim::ConsoleModel model(sink, {});
  model.receive(c.input, sim::Clock::now());
  model.tick(sim::Clock::time_point::max());
  EXPECT_EQ(sink.text, c.output);
  EXPECT_EQ(model.counts().received, c.input.size());
  EXPECT_EQ(model.counts().accepted, c.accepted);
  EXPECT_EQ(model.counts().rejected, c.rejected);
}

const std::string kFactoryConf =
    "e1.framing = off\r\ne1.line_code = off\r\ne1.signalling = off\r\ntdmoe.bridge = off\r\n"
    "tdmoe.peer = none\r\nfxo.count = 0\r\nfxo.ports = none\r\nfxs.count = 0\r\n"
    "fxs.ports = none\r\n";
const std::string kSessionOpen =
    "set conf\r\nconfiguration: one setting per line, 'run reset' applies them\r\ndrovan(conf)> ";

INSTANTIATE_TEST_SUITE_P(
    Lines, Console,
    testing::Values(
        ConsoleCase{"BlankLine", "\r", "\r\ndrovan> ", 0, 0},
        ConsoleCase{"Unknown", "xyz\r\n", "xyz\r\nunknown command: xyz\r\ndrovan> ", 0, 0},
        ConsoleCase{"LoneLfEchoed", "\n\r", "\n\r\ndrovan> ", 0, 0},
        ConsoleCase{"Help", "help\r",
                    "help\r\ncommands: set conf, show conf, run reset\r\ndrovan> ", 0, 0},
        ConsoleCase{"Backspace",
                    "ab\x7f"
                    "c\r",
                    "ab\b \bc\r\nunknown command: ac\r\ndrovan> ", 0, 0},
        ConsoleCase{"ShowFactory", "show conf\r", "show conf\r\n" + kFactoryConf + "drovan> ", 0,
                    0},
        ConsoleCase{"SessionCountsAndErrors",
                    "set conf\r\n# note\r\n\r\nfxs.count = 16\r\nfxs.ports = 1-12\r\njunk\r\n",
                    kSessionOpen + "# note\r\ndrovan(conf)> \r\ndrovan(conf)> " +
                        "fxs.count = 16\r\ndrovan(conf)> fxs.ports = 1-12\r\n" +
                        "error: line 4: fxs.ports 1-12 does not match fxs.count 16 (one port per "
                        "FXS line)\r\ndrovan(conf)> junk\r\n" +
                        "error: line 5: not a setting: junk\r\ndrovan(conf)> ",
                    1, 2},
        ConsoleCase{"LongLineRejected", "set conf\r" + std::string(300, 'x') + "\r",
                    kSessionOpen + std::string(300, 'x') +
                        "\r\nerror: line 1: line too long\r\ndrovan(conf)> ",
                    0, 1},
        // Outside a session nothing is a setting: nothing counted.
        ConsoleCase{"SettingOutsideSession", "fxo.count = 4\r",
                    "fxo.count = 4\r\nunknown command: fxo.count = 4\r\ndrovan> ", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Console, ResetIsSilentForASecondThenBootsWithTheStagedSettings) {
  StringSink sink;
  sim::ConsoleModel model(sink, {.min_gap = milliseconds(3)});
  auto t = sim::Clock::now();
  for (const char* line : {"set conf\r", "fxo.count = 4\r", "fxo.ports = 1-4\r", "run reset\r"}) {
    t += milliseconds(200);
    model.receive(line, t);
    model.tick(t + milliseconds(100));
    sink.text.clear();
  }
  // The console takes "run reset\r" a byte per 3 ms: its CR 27 ms after the read.
  t += milliseconds(27);
  ASSERT_TRUE(model.deadline().has_value());
  EXPECT_EQ(*model.deadline(), t + sim::kRebootTime);
  EXPECT_FALSE(model.in_session());

  model.receive("show conf\r", t + milliseconds(500));
  model.tick(t + milliseconds(999));
  EXPECT_EQ(sink.text, "");
  EXPECT_EQ(model.counts().dropped, 0U);

  model.tick(t + sim::kRebootTime);
  EXPECT_EQ(sink.text,
            "\r\nDROVAN TDMoE simulated console\r\ne1 off, bridge off, 4 FXO, 0 FXS\r\n"
            "drovan> ");
  EXPECT_FALSE(model.deadline().has_value());
  EXPECT_EQ(model.active().get(sim::Key::kFxoPorts), "1-4");
  EXPECT_EQ(model.active().get(sim::Key::kFxsPorts), "none");  // untouched: as before
  EXPECT_EQ(model.counts().accepted, 2U);
}

TEST(Console, SummaryLine) {
  std::array<char, 160> out{};
  EXPECT_EQ(sim::summary({1234, 5, 9, 2}, out),
            "drovan-sim: received 1234 bytes, 5 dropped, 9 configuration lines accepted, 2 "
            "rejected");
}

// One read: `count` bytes read together `at_ms` after the start.
struct Read {
  double at_ms;
  std::size_t count;
};

struct PaceCase {
  const char* name;
  int gap_ms;
  std::vector<Read> reads;
  std::size_t min_dropped;
  std::size_t max_dropped;
};

void PrintTo(const PaceCase& c, std::ostream* os) { *os << c.name; }

std::vector<Read> every(double first_ms, double step_ms, std::size_t reads, std::size_t count,
                        double jitter_ms = 0) {
  std::vector<Read> out;
  for (std::size_t i = 0; i < reads; ++i) {
    const double wobble = (i % 2 == 0 ? jitter_ms : -jitter_ms);
    out.push_back({first_ms + step_ms * static_cast<double>(i) + wobble, count});
  }
  return out;
}

std::vector<Read> joined(std::vector<Read> a, const std::vector<Read>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::size_t dropped_by(int gap_ms, const std::vector<Read>& reads) {
  StringSink sink;
  sim::ConsoleModel model(sink, {.min_gap = milliseconds(gap_ms)});
  const auto start = sim::Clock::now();
  for (const Read& r : reads) {
    const auto at = start + std::chrono::duration_cast<sim::Clock::duration>(
                                std::chrono::duration<double, std::milli>(r.at_ms));
    model.receive(std::string(r.count, 'x'), at);
  }
  model.tick(sim::Clock::time_point::max());
  return model.counts().dropped;
}

class SlowConsole : public testing::TestWithParam<PaceCase> {};

TEST_P(SlowConsole, LosesOnlyWhatComesTooFast) {
  const PaceCase& c = GetParam();
  const std::size_t dropped = dropped_by(c.gap_ms, c.reads);
  EXPECT_GE(dropped, c.min_dropped);
  EXPECT_LE(dropped, c.max_dropped);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, SlowConsole,
    testing::Values(
        PaceCase{"PacedOneAtATime", 3, every(0, 10, 600, 1), 0, 0},
        PaceCase{"PacedReadTwoAtATime", 3, every(0, 20, 300, 2), 0, 0},
        PaceCase{"PacedWithJitter", 3, every(0, 10, 600, 1, 2), 0, 0},
        PaceCase{"PacedReaderAlwaysLate", 3, every(0, 120, 50, 12), 0, 0},
        // Read at once, paced bytes come as a burst; one the FIFO holds loses nothing.
        PaceCase{"PacedReaderStalledOnce", 3,
                 joined(joined(every(0, 10, 50, 1), {{700, 16}}), every(710, 10, 50, 1)), 0, 0},
        PaceCase{"CommandWrittenAtOnce", 3, {{0, 9}, {5, 1}, {500, 9}, {505, 1}}, 0, 0},
        PaceCase{"FasterThanTheConsole", 3, every(0, 1, 200, 1), 100, 150},
        PaceCase{"WholeFileAtOnce", 3, {{0, 600}}, 530, 600 - 17},
        // An idle line does not make a burst look paced.
        PaceCase{"BurstAfterIdle", 3, {{0, 1}, {10'000, 600}}, 530, 600 - 17},
        PaceCase{"ModelOff", 0, {{0, 600}}, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The pseudo-terminal groups a writer's bytes as it likes; the line rate does not.
TEST(SlowConsole, BurstLosesTheSameHoweverSplitIntoWrites) {
  const std::size_t in_one = dropped_by(3, {{0, 40}});
  for (std::size_t first = 1; first < 40; ++first) {
    const std::size_t in_two = dropped_by(3, {{0, first}, {1, 40 - first}});
    EXPECT_LE(in_two, in_one + 2) << first << " then " << 40 - first;
    EXPECT_GE(in_two + 2, in_one) << first << " then " << 40 - first;
  }
}

// A console that prints its prompt once its work on the line is done: what
// came meanwhile waits in its FIFO, as without the option, and is echoed
// after that prompt; what found the FIFO full is lost.
TEST(Console, PromptAfterWorkComesWhenTheLineIsDone) {
  StringSink sink;
  sim::ConsoleModel model(sink, {.line_work = milliseconds(100), .prompt_after_work = true});
  const auto t = sim::Clock::now();
  model.receive("help\rabcdefghijklmnopqrst", t);
  const std::string answer = "help\r\ncommands: set conf, show conf, run reset\r\n";
  model.tick(t + milliseconds(50));
  EXPECT_EQ(sink.text, answer);
  // The CR, the fifth byte off the line, was taken as it came.
  ASSERT_TRUE(model.deadline().has_value());
  EXPECT_EQ(*model.deadline(), t + 4 * sim::SerialLine::kCharTime + milliseconds(100));
  model.tick(sim::Clock::time_point::max());
  EXPECT_EQ(sink.text, answer + "drovan> abcdefghijklmnop");
  EXPECT_EQ(model.counts().dropped, 4U);
}

// The adapter on the way back, driven from one deadline to the next: every
// byte handed over in order, not before it has crossed the line, in packets of
// at most 62, and no later than the latency after its crossing or than the
// crossing of the 62nd byte waiting with it.
struct Said {
  double at_ms;
  std::size_t count;
};

struct AdapterCase {
  const char* name;
  int latency_ms;
  std::vector<Said> said;
};

std::vector<Said> every_said(double first_ms, double step_ms, std::size_t times,
                             std::size_t count) {
  std::vector<Said> out;
  for (std::size_t i = 0; i < times; ++i) {
    out.push_back({first_ms + step_ms * static_cast<double>(i), count});
  }
  return out;
}

void PrintTo(const AdapterCase& c, std::ostream* os) { *os << c.name; }

class PacketSink final : public sim::Sink {
 public:
  void put(std::string_view bytes) override { packets.emplace_back(bytes); }
  std::vector<std::string> packets;
};

class AdapterPackets : public testing::TestWithParam<AdapterCase> {};

TEST_P(AdapterPackets, InOrderNeitherEarlyNorLateNorTooBig) {
  const AdapterCase& c = GetParam();
  const milliseconds latency(c.latency_ms);
  PacketSink sink;
  sim::Adapter adapter(sink, latency);
  // Off the adapter's timer: its phase is its own.
  const sim::Clock::time_point start =
      sim::Clock::time_point(std::chrono::seconds(100)) + microseconds(337);
  std::string said;
  std::vector<sim::Clock::time_point> across;  // each byte's own, from the line's rate alone
  std::vector<sim::Clock::time_point> handed;  // when its packet came
  std::size_t packet_max = 0;
  auto run_to = [&](sim::Clock::time_point until) {
    for (auto due = adapter.deadline(); due && *due <= until; due = adapter.deadline()) {
      const std::size_t before = sink.packets.size();
      adapter.tick(*due);
      ASSERT_GT(sink.packets.size(), before) << "a deadline with no packet";
      for (std::size_t p = before; p < sink.packets.size(); ++p) {
        packet_max = std::max(packet_max, sink.packets[p].size());
        handed.insert(handed.end(), sink.packets[p].size(), *due);
      }
    }
  };
  sim::Clock::time_point line_free{};
  for (const Said& s : c.said) {
    const auto at = start + std::chrono::duration_cast<sim::Clock::duration>(
                                std::chrono::duration<double, std::milli>(s.at_ms));
    ASSERT_NO_FATAL_FAILURE(run_to(at));
    std::string bytes;
    for (std::size_t i = 0; i < s.count; ++i) {
      bytes += static_cast<char>('!' + (said.size() + i) % 90);
      line_free = std::max(line_free, at) + sim::SerialLine::kCharTime;
      across.push_back(line_free);
    }
    adapter.put(bytes, at);
    said += bytes;
  }
  ASSERT_NO_FATAL_FAILURE(run_to(sim::Clock::time_point::max()));

  std::string got;
  for (const auto& p : sink.packets) got += p;
  ASSERT_EQ(got, said);
  EXPECT_LE(packet_max, sim::Adapter::kPacketBytes);
  for (std::size_t k = 0; k < said.size(); ++k) {
    EXPECT_GE(handed[k], across[k]) << "byte " << k;
    EXPECT_LE(handed[k], across[k] + latency) << "byte " << k;
    if (k + 61 < said.size()) {
      EXPECT_LE(handed[k], across[k + 61]) << "byte " << k;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Output, AdapterPackets,
    testing::Values(AdapterCase{"OneByte", 1, {{0, 1}}},
                    AdapterCase{"EchoOfPacedTyping", 1, every_said(0, 10, 30, 1)},
                    AdapterCase{"EchoOfPacedTypingAt16", 16, every_said(0, 10, 30, 1)},
                    AdapterCase{"AnswerAtOnce", 1, {{0, 300}}},
                    AdapterCase{"AnswerAtOnceAt16", 16, {{0, 300}}},
                    // Said while what came before still crosses the line.
                    AdapterCase{"SaidWhileCrossing", 16, {{0, 40}, {2, 40}, {2.5, 1}, {30, 200}}},
                    AdapterCase{"EveryByteAsItCrosses", 0, {{0, 100}, {3, 5}, {50, 1}}},
                    AdapterCase{"SmallWordsOftenAt16", 16, every_said(0, 7, 40, 3)}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Menu key 6 and the reset question: what reaches the wire and what the operator sees.

#include <gtest/gtest.h>

#include <algorithm>

#include "menus/dialog.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

const std::string kResetting = "\n\rReinicializando... ";

TEST(MenuReset, WithoutPortReportsThenMenuAfterThreeSeconds) {
  Rig rig({.device = false});
  ASSERT_TRUE(rig.wait_output(kMenu));
  rig.type("6\n");
  ASSERT_TRUE(rig.wait_output(kMenu + kResetting + kPortErrorLine));
  const auto reported = Clock::now();
  ASSERT_TRUE(rig.wait_output_count(kMenu, 2, 6));
  EXPECT_GE(ms_between(reported, Clock::now()), 2900.0);
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + kResetting + kPortErrorLine + kMenu);
}

TEST(MenuReset, SendsRunResetThenCarriageReturnAndShowsReply) {
  Rig rig;
  rig.on_wire = [](Rig& r, char c) {
    if (c == '\r') r.device_send("OK\r\n");
  };
  rig.type("6\n");
  ASSERT_TRUE(rig.wait_output_count(kMenu, 2, 8));
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.wire(), "run reset\r");
  // The device's CR arrives as a line feed.
  EXPECT_EQ(rig.out(), kStartup + kMenu + kResetting + "OK\n\n" + kMenu);

  // Two writes: the carriage return comes a 5 ms pause after the text, not
  // with it (microseconds). The reader stamps the text when it wakes, late by
  // a few milliseconds on a loaded machine, so only a fifth of the pause is a
  // safe bound.
  const auto& w = rig.wire_bytes();
  ASSERT_EQ(w.size(), 10U);
  EXPECT_GE(ms_between(w[8].at, w[9].at), 1.0);
}

// An answer longer than one read and the port's buffer is shown whole, in order.
TEST(MenuReset, LongReplyShowsWhole) {
  Rig rig;
  rig.on_wire = [](Rig& r, char c) {
    if (c == '\r') r.device_send(std::string(3000, 'x'));
  };
  rig.type("6\n");
  ASSERT_TRUE(rig.wait_output(kResetting));
  const auto from = rig.out().find(kResetting) + kResetting.size();
  // The reply is shown before the reset's 3 s pause (the menu after that is
  // another test's): all of it, then a moment for anything more.
  rig.until([&] { return rig.out().size() >= from + 3000; }, 5);
  rig.run_for(0.2);
  const std::string reply = rig.out().substr(from);
  const auto shown = std::count(reply.begin(), reply.end(), 'x');
  EXPECT_EQ(static_cast<std::size_t>(shown), reply.size());
  EXPECT_EQ(shown, 3000);
}

struct QuestionCase {
  const char* name;
  const char* keys;
  const char* wire;
};

void PrintTo(const QuestionCase& c, std::ostream* os) { *os << c.name; }

class ResetQuestion : public testing::TestWithParam<QuestionCase> {};

TEST_P(ResetQuestion, AnswersAndIgnoredKeys) {
  const QuestionCase& c = GetParam();
  const std::string prompt = "\nDeseja resetar o equipamento (s/n)? ";
  Rig rig({.entry = [&] {
    reset_question(prompt);
    return 7;  // the question returned
  }});
  rig.type(c.keys);
  EXPECT_EQ(rig.wait_exit(8), 7);
  EXPECT_EQ(rig.wire(), c.wire);
  // The prompt once, never repeated, and nothing of the question's own after it.
  EXPECT_EQ(rig.out(), prompt);
}

INSTANTIATE_TEST_SUITE_P(Dialog, ResetQuestion,
                         testing::Values(QuestionCase{"IgnoredThenNo", "x\n\nn\n", ""},
                                         QuestionCase{"UpperNo", "N", ""},
                                         QuestionCase{"NineEndsIt", "9", ""},
                                         QuestionCase{"UpperYesSends", "y\nS", "run reset\r"},
                                         QuestionCase{"LowerYesSends", "s", "run reset\r"}),
                         [](const testing::TestParamInfo<QuestionCase>& info) {
                           return info.param.name;
                         });

struct TypeAheadCase {
  const char* name;
  RigConsole console;
  const char* ahead;   // typed at once, before the menu is even shown
  const char* answer;  // typed once the question shows
  const char* quit;
};

void PrintTo(const TypeAheadCase& c, std::ostream* os) { *os << c.name; }

class ResetTypeAhead : public testing::TestWithParam<TypeAheadCase> {};

// On an operator's terminal, a double press of the dialog's 's' waits in the
// terminal through the whole upload; it must not restart the device.
TEST_P(ResetTypeAhead, KeysTypedBeforeTheQuestionDoNotAnswerIt) {
  const TypeAheadCase& c = GetParam();
  Rig rig({.console = c.console});
  write_file(rig.dir() + "/drovan.conf", "x\n");
  rig.type(c.ahead);
  ASSERT_TRUE(rig.wait_output("Deseja resetar o equipamento (s/n)? ", 10)) << rig.out();
  // What came before is discarded just after the question is shown; no
  // operator answers sooner than this.
  rig.run_for(0.2);
  rig.type(c.answer);
  ASSERT_TRUE(rig.wait_output_count("<8> Sair", 2)) << rig.out();
  rig.type(c.quit);
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.wire(), "set conf\rx\r\n\r");
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, ResetTypeAhead,
    testing::Values(TypeAheadCase{"LineMode", RigConsole::kTerminalLines, "3\ns\ns\n", "n\n",
                                  "8\n"},
                    TypeAheadCase{"KeyMode", RigConsole::kTerminalKeys, "3ss", "n", "8"}),
    [](const testing::TestParamInfo<TypeAheadCase>& info) { return info.param.name; });

TEST(ResetQuestionInput, ClosedInputEndsItWithoutSending) {
  Rig rig({.entry = [] {
    reset_question("?");
    return 7;
  }});
  rig.type("x");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(3), 7);
  EXPECT_EQ(rig.wire(), "");
}

}  // namespace

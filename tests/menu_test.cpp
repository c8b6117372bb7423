// The start-up text, the main menu and its keys, seen on the real console of a child.

#include <gtest/gtest.h>

#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

struct MenuCase {
  const char* name;
  const char* keys;
  bool close_input;      // false: the keys must end the program by themselves
  std::string expected;  // everything printed after the start-up menu
};

void PrintTo(const MenuCase& c, std::ostream* os) { *os << c.name; }

class MenuKeys : public testing::TestWithParam<MenuCase> {};

TEST_P(MenuKeys, PrintExactlyAndExitZero) {
  const MenuCase& c = GetParam();
  Rig rig({.device = false});
  rig.type(c.keys);
  if (c.close_input) rig.close_input();
  EXPECT_EQ(rig.wait_exit(5), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + c.expected);
  EXPECT_EQ(rig.err(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Main, MenuKeys,
    testing::Values(MenuCase{"NothingTyped", "", true, ""},
                    MenuCase{"IgnoredKeysPrintNothing", "0\n9\nabz Q\n\t\x7f\xe9\n", true, ""},
                    MenuCase{"KeyEightQuits", "8\n", false, ""},
                    MenuCase{"KeyEightQuitsWhileCapturing", "4\n8\n", false,
                             menu_text(true) + "\nGravando dados do terminal em drovan.conf\n\r"},
                    MenuCase{"KeysOnOneLineRunInOrder", "4 4\n", true,
                             menu_text(true) + "\nGravando dados do terminal em drovan.conf\n\r" +
                                 menu_text(false) + "\nParou de gravar.\n\r"},
                    MenuCase{"NothingAfterEight", "8\n6\n", false, ""}),
    [](const testing::TestParamInfo<MenuCase>& info) { return info.param.name; });

TEST(MainLoop, EveryKeyCostsItsPause) {
  // 50 ignored keys take at least 50 pauses of 10 ms.
  Rig rig({.device = false});
  ASSERT_TRUE(rig.wait_output(kMenu));
  const auto start = Clock::now();
  rig.type(std::string(49, 'x') + "8");
  EXPECT_EQ(rig.wait_exit(10), 0);
  EXPECT_GE(ms_between(start, Clock::now()), 500.0);
}

TEST(MainLoop, ClosedInputEndsPromptlyWhileKeysWait) {
  // Input closed with no key ever typed: no hang, status 0.
  Rig rig({.device = false});
  ASSERT_TRUE(rig.wait_output(kMenu));
  const auto start = Clock::now();
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(5), 0);
  EXPECT_LT(ms_between(start, Clock::now()), 2000.0);
}

TEST(Executable, RunsWithoutDeviceAndQuits) {
  Rig rig({.device = false, .executable = DROVAN_EXECUTABLE});
  rig.type("6\n");
  ASSERT_TRUE(rig.wait_output(kMenu + "\n\rReinicializando... "));
  rig.type("8\n");
  EXPECT_EQ(rig.wait_exit(10), 0);
  // /dev/ttyUSB0 is absent on a build machine; where an adapter is plugged in,
  // only the error line may differ.
  if (rig.out().find(kPortErrorLine) != std::string::npos) {
    EXPECT_EQ(rig.out(), kStartup + kMenu + "\n\rReinicializando... " + kPortErrorLine + kMenu);
  }
}

TEST(Executable, ClosedInputExitsZero) {
  Rig rig({.device = false, .executable = DROVAN_EXECUTABLE});
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(5), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu);
}

}  // namespace

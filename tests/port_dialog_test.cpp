// Menu key 1: the port screen, the choice of devicename and its use afterwards.

#include "menus/port_dialog.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "console/console.hpp"
#include "serial/port.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

const std::string kPortScreen =
    "\nEscolha a porta"
    "\n===============\n"
    "<0> ttyUSB0 (Padrao)\n"
    "<1> ttyUSB1\n"
    "<2> ttyUSB2\n"
    "<3> ttyUSB3\n"
    "<4> ttyUSB4\n"
    "<5> ttyUSB5\n"
    "<9> Retorna ao menu\n";

TEST(PortDialog, NineAtOnceNamesTheStartingPort) {
  // The real program, so that devicename holds its value at start.
  Rig rig({.device = false, .executable = DROVAN_EXECUTABLE});
  rig.type("1\n9\n8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(),
            kStartup + kMenu + kPortScreen + kMenu + "\nPorta /dev/ttyUSB0 selecionada\n");
}

struct Choice {
  char key;
  std::string confirmation;  // empty: no port chosen
  std::string devicename;    // after the dialog
};

void PrintTo(const Choice& c, std::ostream* os) { *os << c.key; }

class PortChoice : public testing::TestWithParam<Choice> {};

// 6, 7 and 8 are ignored; the key that follows decides. devicename is printed
// after the dialog: the rig's longer path must not show behind the new one.
TEST_P(PortChoice, SetsDevicenameAndConfirms) {
  const Choice& c = GetParam();
  Rig rig({.device = false, .entry = [] {
             port_dialog();
             console_write(devicename);
             console_flush();
             return 0;
           }});
  const std::string before = rig.device_path();
  rig.type(std::string("6\n7\n8\n") + c.key);
  EXPECT_EQ(rig.wait_exit(), 0);
  const std::string name = c.devicename.empty() ? before : c.devicename;
  EXPECT_EQ(rig.out(),
            kPortScreen + c.confirmation + kMenu + "\nPorta " + name + " selecionada\n" + name);
}

INSTANTIATE_TEST_SUITE_P(Keys, PortChoice,
                         testing::Values(Choice{'0', "\nPorta: ttyUSB0\n", "/dev/ttyUSB0"},
                                         Choice{'1', "\nPorta: ttyUSB1\n", "/dev/ttyUSB1"},
                                         Choice{'2', "\nPorta: ttyUSB2\n", "/dev/ttyUSB2"},
                                         Choice{'3', "\nPorta: ttyUSB3\n", "/dev/ttyUSB3"},
                                         Choice{'4', "\nPorta: ttyUSB4\n", "/dev/ttyUSB4"},
                                         Choice{'5', "\nPorta: ttyUSB5\n", "/dev/ttyUSB5"},
                                         Choice{'9', "", ""}),
                         [](const testing::TestParamInfo<Choice>& info) {
                           return std::string(1, info.param.key);
                         });

struct PortUse {
  const char* name;
  const char* menu_key;
  std::string shown;  // after the selection message
};

void PrintTo(const PortUse& u, std::ostream* os) { *os << u.name; }

class ChosenPortUsed : public testing::TestWithParam<PortUse> {};

// The rig's device stays silent and untouched once ttyUSB3 is chosen: the next
// operation opens /dev/ttyUSB3, absent here, and reports it.
TEST_P(ChosenPortUsed, NextOperationOpensIt) {
  if (::access("/dev/ttyUSB3", F_OK) == 0) GTEST_SKIP() << "an adapter is plugged in";
  const PortUse& u = GetParam();
  Rig rig;
  rig.type(std::string("1\n3\n") + u.menu_key + "\n");
  const std::string expected = kStartup + kMenu + kPortScreen + "\nPorta: ttyUSB3\n" + kMenu +
                               "\nPorta /dev/ttyUSB3 selecionada\n" + u.shown;
  // No need to sit out what follows (the reset's 3 s).
  EXPECT_TRUE(rig.wait_output(expected));
  EXPECT_EQ(rig.out(), expected);
  EXPECT_EQ(rig.wire(), "");
}

INSTANTIATE_TEST_SUITE_P(
    MenuKeys, ChosenPortUsed,
    testing::Values(PortUse{"Terminal", "2", kMenu + kPortErrorLine},
                    PortUse{"Reset", "6", "\n\rReinicializando... " + kPortErrorLine}),
    [](const testing::TestParamInfo<PortUse>& info) { return info.param.name; });

}  // namespace

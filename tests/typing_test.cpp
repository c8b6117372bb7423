// Terminal mode's typing as the device's console takes it: one byte per 10 ms,
// the device shown meanwhile, and a program ended by a signal in the middle of
// a line leaving no half-typed line on the device.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "menus/main_menu.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

const std::string kBanner = "\n\rTecla <q> + ENTER sai do terminal\n\r";

// A whole line handed over at once, as a console does at ENTER.
TEST(Typing, KeysGoTenMillisecondsApartAndTheDeviceIsShownMeanwhile) {
  const std::string line = "e1.line_code = hdb3";
  Rig rig;
  rig.type("2\n");
  ASSERT_TRUE(rig.wait_output(kBanner));
  rig.type(line + "\nq\n8\n");
  ASSERT_TRUE(rig.wait_wire("line_"));
  rig.device_send("busy");
  EXPECT_TRUE(rig.wait_output(kBanner + "busy"));
  EXPECT_LT(rig.wire().size(), line.size());  // shown while typing, not after
  EXPECT_EQ(rig.wait_exit(), 0);
  ASSERT_EQ(rig.wire(), line + "\n\r");

  const auto& bytes = rig.wire_bytes();
  std::vector<double> gaps;
  for (std::size_t i = 1; i + 1 < bytes.size(); ++i) {
    gaps.push_back(ms_between(bytes[i - 1].at, bytes[i].at));
  }
  // The CR goes with its LF; every other byte waits its turn. One late read by
  // the test may make a single gap look short, never the whole line.
  EXPECT_LT(ms_between(bytes[bytes.size() - 2].at, bytes.back().at), 5.0);
  EXPECT_GE(ms_between(bytes.front().at, bytes[bytes.size() - 2].at), 10.0 * line.size() - 2);
  std::sort(gaps.begin(), gaps.end());
  EXPECT_GE(gaps[gaps.size() / 10], 9.0);
}

struct Interruption {
  const char* name;
  int signal;
  bool ignored;  // the program was started with the signal ignored (nohup)
};

void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

class Interrupted : public testing::TestWithParam<Interruption> {};

TEST_P(Interrupted, MidLineEndsTheDevicesLineAndDiesOfTheSignal) {
  const Interruption& c = GetParam();
  Rig rig({.entry = [c] {
    if (c.ignored) (void)std::signal(c.signal, SIG_IGN);
    return drovan_main();
  }});
  rig.type("2\n" + std::string(60, 'a'));
  ASSERT_TRUE(rig.wait_wire("aaa"));
  ::kill(rig.pid(), c.signal);
  rig.run_for(0.4);  // the erase takes 10 ms a byte
  ASSERT_EQ(rig.exited(), !c.ignored);
  if (c.ignored) return;
  EXPECT_EQ(rig.exit_signal(), c.signal);
  // Typing stopped at once: the line the device held, as many DELs, then the CR.
  const std::string wire = rig.wire();
  const std::size_t held = wire.find('\x7f');
  EXPECT_LT(held, 20U);
  EXPECT_EQ(wire, std::string(held, 'a') + std::string(held, '\x7f') + "\r");
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupted,
                         testing::Values(Interruption{"Term", SIGTERM, false},
                                         Interruption{"HupIgnoredByTheCaller", SIGHUP, true}),
                         [](const testing::TestParamInfo<Interruption>& info) {
                           return info.param.name;
                         });

}  // namespace

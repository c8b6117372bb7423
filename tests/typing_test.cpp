// Terminal mode's typing as the device's console takes it: one byte per 10 ms,
// the device shown meanwhile, and a program ended by a signal in the middle of
// a line leaving no half-typed line on the device.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

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

// Where a signal finds the program in terminal mode, and what it should leave.
struct Interruption {
  const char* name;
  int signal;
  std::string keys;        // typed after the menu's "2\n"
  std::size_t echoed = 0;  // the device echoes this many bytes, then falls silent
  double settle = 0;       // time after the wire shows `keys`' first bytes
  int second = 0;          // sent at the first DEL
  bool ignored = false;    // the program was started with the signal ignored (nohup)
};

void PrintTo(const Interruption& c, std::ostream* os) { *os << c.name; }

class Interrupted : public testing::TestWithParam<Interruption> {};

// The port's line settings, as the next program on it finds them.
tcflag_t port_lflag(const std::string& path) {
  const int port = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  const bool read = port >= 0 && ::tcgetattr(port, &t) == 0;
  if (port >= 0) ::close(port);
  return read ? t.c_lflag : ~tcflag_t{0};
}

TEST_P(Interrupted, EndsTheDevicesLineAndDiesOfTheSignal) {
  const Interruption& c = GetParam();
  Rig rig({.entry = [c] {
    if (c.ignored) (void)std::signal(c.signal, SIG_IGN);
    return drovan_main();
  }});
  const tcflag_t own = port_lflag(rig.device_path());
  rig.set_echo(c.echoed > 0);
  rig.on_wire = [&c](Rig& r, char byte) {
    if (r.wire_bytes().size() == c.echoed) r.set_echo(false);
    if (byte == '\x7f' && c.second != 0 && r.wire().find('\x7f') == r.wire().size() - 1) {
      ::kill(r.pid(), c.second);
    }
  };
  rig.type("2\n" + c.keys);
  ASSERT_TRUE(rig.wait_wire(c.keys.substr(0, 3)));
  rig.run_for(c.settle);
  const std::size_t before_signal = rig.wire().size();
  ::kill(rig.pid(), c.signal);
  rig.until([&] { return rig.exited(); }, c.ignored ? 0.4 : 3);
  ASSERT_EQ(rig.exited(), !c.ignored);
  if (c.ignored) return;
  rig.run_for(0.05);
  EXPECT_EQ(rig.exit_signal(), c.second != 0 ? c.second : c.signal);
  const std::string wire = rig.wire();
  const std::size_t held = wire.find('\x7f');
  ASSERT_NE(held, std::string::npos) << wire;
  EXPECT_EQ(wire.substr(0, held), c.keys.substr(0, held));
  // Typing stopped at once: nothing more of it after the signal.
  EXPECT_LE(held, before_signal + 1);
  // The byte after the last echoed one went; the signal came while its echo was waited for.
  if (c.echoed > 0) {
    EXPECT_EQ(held, c.echoed + 1);
  }
  if (c.second != 0) {
    // The erase left where the second signal found it, the line not ended.
    EXPECT_LT(wire.size() - held, held / 2) << wire;
    EXPECT_EQ(wire.find('\r'), std::string::npos);
  } else {
    // The line the device held, as many DELs, then the CR.
    EXPECT_EQ(wire, c.keys.substr(0, held) + std::string(held, '\x7f') + "\r");
  }
  EXPECT_EQ(port_lflag(rig.device_path()), own);
}

const std::string kLongLine(60, 'a');

INSTANTIATE_TEST_SUITE_P(
    Signals, Interrupted,
    testing::Values(
        // A silent device: typing waits only its pause.
        Interruption{"TermInThePause", SIGTERM, kLongLine},
        // The echo stopped: typing waits for it, for 500 ms at most.
        Interruption{"IntInThePacesWait", SIGINT, kLongLine, 5, 0.1},
        // All typed: the mode waits for a key.
        Interruption{"HupInTheConsoleRead", SIGHUP, "abc", 0, 0.1},
        Interruption{"SecondSignalEndsItAtOnce", SIGTERM, kLongLine, 0, 0.2, SIGINT},
        Interruption{"HupIgnoredByTheCaller", SIGHUP, kLongLine, 0, 0, 0, true}),
    [](const testing::TestParamInfo<Interruption>& info) { return info.param.name; });

}  // namespace

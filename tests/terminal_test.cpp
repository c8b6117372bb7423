// Menu key 2: keystrokes to the wire, device output to the console, the '3' and
// 'q' keys, and a port that goes away under the mode.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/rig.hpp"
#include "tests/texts.hpp"

using namespace std::string_literals;

namespace {

const std::string kBanner = "\n\rTecla <q> + ENTER sai do terminal\n\r";
const std::string kSending = "\nEnviando o conteudo do arquivo... ";
const std::string kNoFile = "\nImpossivel abrir o arquivo";
const std::string kCapturing = "\nGravando dados do terminal em drovan.conf\n\r";

struct KeysCase {
  const char* name;
  std::string keys;  // typed at once, then the console input is closed
  const char* conf;  // content of drovan.conf; nullptr: no such file
  std::string wire;
  std::string expected;  // everything printed after the start-up menu
  bool device = true;
};

void PrintTo(const KeysCase& c, std::ostream* os) { *os << c.name; }

class TerminalKeys : public testing::TestWithParam<KeysCase> {};

TEST_P(TerminalKeys, WireAndConsole) {
  const KeysCase& c = GetParam();
  Rig rig({.device = c.device});
  if (c.conf != nullptr) write_file(rig.dir() + "/drovan.conf", c.conf);
  rig.type(c.keys);
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(5), 0);
  rig.wait_wire(c.wire, 1);
  EXPECT_EQ(rig.wire(), c.wire);
  EXPECT_EQ(rig.out(), kStartup + kMenu + c.expected);
  EXPECT_EQ(rig.err(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Mode, TerminalKeys,
    testing::Values(
        KeysCase{"MenuEnterIsNotSentTypedEnterIsLfCr", "2\nshow\n", nullptr, "show\n\r", kBanner},
        KeysCase{"FirstKeyIsDroppedWhateverItIs", "2ab\n", nullptr, "b\n\r", kBanner},
        KeysCase{"QAsFirstKeySendsNothing", "2\nq\n", nullptr, "", kBanner + kMenu},
        // 'q' and '3' are commands only as a line of their own.
        KeysCase{"QAndThreeInsideLinesAreTyped", "2\nfrequency 3\nquit\n3x\nq\n", "FILE",
                 "frequency 3\n\rquit\n\r3x\n\r", kBanner + kMenu},
        KeysCase{"UpperQIsSent", "2\nQ\nq\n", nullptr, "Q\n\r", kBanner + kMenu},
        KeysCase{"OnlySevenBitCharactersAreSent", "2\n\xc3\xa9t\0\x01\x7f\xff\n"s, nullptr,
                 "t\x01\x7f\n\r", kBanner},
        // ...and the line it leaves unended on the device is erased and ended.
        KeysCase{"ClosedInputEndsTheProgramWithoutMenu", "2\nab", nullptr, "ab\x7f\x7f\r", kBanner},
        KeysCase{"NoPortReportsAfterTheMenu", "2\nx\n", nullptr, "", kMenu + kPortErrorLine, false},
        // The '3' key types drovan.conf with the shared paced transmission.
        KeysCase{"ThreeAloneTypesTheFileAndItsEnterGoesOn", "2\nab\n3\ncd\n", "x\ny",
                 "ab\n\rx\r\ny\n\rcd\n\r", kBanner + kSending},
        KeysCase{"ThreeAsFirstKeyLeavesTheDropPending", "23\nk\n", "z", "zk\n\r",
                 kBanner + kSending},
        KeysCase{"ThreeEndsTheLineTheFileLeftOpen", "23\n3\n", "ip 1", "ip 1\rip 1\n\r",
                 kBanner + kSending + kSending},
        KeysCase{"ThreeWithoutFileSaysSoAndGoesOn", "2\n3\nab\n", nullptr, "\n\rab\n\r",
                 kBanner + kSending + kNoFile}),
    [](const testing::TestParamInfo<KeysCase>& info) { return info.param.name; });

struct BurstCase {
  const char* name;
  std::vector<std::string> bursts;
  useconds_t gap_us;  // between two bursts
};

void PrintTo(const BurstCase& c, std::ostream* os) { *os << c.name; }

std::string pattern(std::size_t size) {
  std::string s;
  for (std::size_t i = 0; i < size; ++i) s.push_back(static_cast<char>('a' + i % 26));
  return s;
}

// Neither processor time nor a timer that keeps waking the program up.
void expect_asleep_for_a_second(Rig& rig) {
  const double cpu = rig.child_cpu_seconds();
  const long wakeups = rig.child_wakeups();
  rig.run_for(1.0);
  EXPECT_LT(rig.child_cpu_seconds() - cpu, 0.05);
  EXPECT_LT(rig.child_wakeups() - wakeups, 10);
}

class DeviceOutput : public testing::TestWithParam<BurstCase> {};

TEST_P(DeviceOutput, ShowsWholeWithoutAnyKeystroke) {
  const BurstCase& c = GetParam();
  Rig rig;
  rig.type("2\n");
  ASSERT_TRUE(rig.wait_output(kStartup + kMenu + kBanner));
  std::string all;
  for (const auto& burst : c.bursts) {
    if (!all.empty()) ::usleep(c.gap_us);
    rig.device_send(burst);
    all += burst;
  }
  EXPECT_TRUE(rig.wait_output(kBanner + all, 3));
  EXPECT_EQ(rig.out(), kStartup + kMenu + kBanner + all);
  EXPECT_EQ(rig.wire(), "");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Mode, DeviceOutput,
    testing::Values(BurstCase{"OneLine", {"login: "}, 0},
                    BurstCase{"TwoBurstsHalfAMillisecondApart", {"first;", "second"}, 500},
                    BurstCase{"MoreThanOneRead", {pattern(3000)}, 0},
                    BurstCase{"ManySmallBursts", std::vector<std::string>(20, "x."), 200}),
    [](const testing::TestParamInfo<BurstCase>& info) { return info.param.name; });

TEST(TerminalMode, DeviceOutputDoesNotTakeTheDroppedKeysPlace) {
  Rig rig;
  rig.type("2");  // the ENTER of the menu choice comes late
  ASSERT_TRUE(rig.wait_output(kStartup + kMenu + kBanner));
  rig.device_send("ready");
  ASSERT_TRUE(rig.wait_output(kBanner + "ready"));
  rig.type("\nab\n");
  EXPECT_TRUE(rig.wait_wire("ab\n\r"));
  EXPECT_EQ(rig.wire(), "ab\n\r");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
}

TEST(TerminalMode, IdleUsesNoProcessorTime) {
  Rig rig;
  rig.type("2\n");
  ASSERT_TRUE(rig.wait_output(kBanner));
  rig.run_for(0.1);
  expect_asleep_for_a_second(rig);
}

TEST(TerminalMode, PortGoneIsToldNeitherSpinsAndQStillLeaves) {
  Rig rig;
  rig.type("2\n");
  ASSERT_TRUE(rig.wait_output(kStartup + kMenu + kBanner));
  rig.close_device();  // the adapter unplugged
  ASSERT_TRUE(rig.wait_output(kBanner + kPortErrorLine));
  rig.run_for(0.2);
  expect_asleep_for_a_second(rig);  // looking for the port costs a wake-up a second
  EXPECT_FALSE(rig.exited());

  // A key for the missing device is answered, once for its line; 'q' returns to a working menu.
  rig.type("ab\n");
  ASSERT_TRUE(rig.wait_output_count(kPortErrorLine, 2));
  rig.type("q\n4\n");
  EXPECT_TRUE(rig.wait_output(kCapturing));
  rig.type("8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + kBanner + kPortErrorLine + kPortErrorLine + kMenu +
                           menu_text(true) + kCapturing);
}

// The adapter comes back: the mode picks it up by itself, and the capture
// holds the device's output from both sides of the gap.
TEST(TerminalMode, PortBackIsPickedUpAndTheCaptureGoesOn) {
  Rig rig;
  rig.type("4\n2\n");
  ASSERT_TRUE(rig.wait_output(kBanner));
  rig.device_send("before;");
  ASSERT_TRUE(rig.wait_output("before;"));
  rig.close_device();
  ASSERT_TRUE(rig.wait_output(kPortErrorLine));
  rig.replug_device();
  const std::string back = "\nPorta " + rig.device_path() + " reconectada\n\r";
  ASSERT_TRUE(rig.wait_output(back, 4));
  rig.type("x\n");
  EXPECT_TRUE(rig.wait_wire("x\n\r"));
  rig.device_send("after");
  EXPECT_TRUE(rig.wait_output(back + "after"));
  rig.type("q\n8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.wire(), "x\n\r");
  EXPECT_EQ(read_file(rig.dir() + "/drovan.conf"), "before;after");
}

}  // namespace

// Menu key 4 and the capture of what the device sends in terminal mode.

#include "capture/capture.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "serial/command.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

const std::string kBanner = "\n\rTecla <q> + ENTER sai do terminal\n\r";
const std::string kCapturing = "\nGravando dados do terminal em drovan.conf\n\r";
const std::string kStopped = "\nParou de gravar.\n\r";
const std::string kCannotWrite = "Impossivel gravar em drovan.conf.\n";

bool exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(Capture, AppendsWhatTheDeviceSendsNotWhatIsTyped) {
  Rig rig;
  const std::string conf = rig.dir() + "/drovan.conf";
  write_file(conf, "old\n");
  rig.type("4\n2\n");
  ASSERT_TRUE(rig.wait_output(kStartup + kMenu + menu_text(true) + kCapturing + kBanner));
  rig.device_send("OK\r\n");
  ASSERT_TRUE(rig.wait_output(kBanner + "OK\n\n"));
  // A line feed reaches the console as it is printed, just before it is recorded.
  EXPECT_TRUE(rig.until([&] { return read_file(conf) == "old\nOK\n\n"; }, 2)) << read_file(conf);

  rig.type("typed\n");
  ASSERT_TRUE(rig.wait_wire("typed\n\r"));
  rig.device_send("#");
  ASSERT_TRUE(rig.wait_output(kBanner + "OK\n\n#"));
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(read_file(conf), "old\nOK\n\n#");
}

TEST(Capture, SwitchedOffAgainRecordsNothing) {
  Rig rig;
  rig.type("4\n4\n2\n");
  ASSERT_TRUE(rig.wait_output(kBanner));
  rig.device_send("OK");
  ASSERT_TRUE(rig.wait_output(kBanner + "OK"));
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + menu_text(true) + kCapturing + menu_text(false) +
                           kStopped + kBanner + "OK");
  EXPECT_FALSE(exists(rig.dir() + "/drovan.conf"));
}

TEST(Capture, RepliesToCommandsAreNotRecorded) {
  Rig rig({.entry = [] {
    wr_fl = 1;
    send_command("run reset");
    return 0;
  }});
  rig.on_wire = [](Rig& r, char c) {
    if (c == '\r') r.device_send("done\r\n");
  };
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), "done\n\n");
  EXPECT_FALSE(exists(rig.dir() + "/drovan.conf"));
}

struct FailureCase {
  const char* name;
  // Spoils the working directory once the program runs in it.
  std::function<void(const std::string& dir)> spoil;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class CaptureFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(CaptureFailure, ReportsEveryByteNotWrittenAndGoesOn) {
  Rig rig;
  ASSERT_TRUE(rig.wait_output(kMenu));
  GetParam().spoil(rig.dir());
  rig.type("4\n2\n");
  ASSERT_TRUE(rig.wait_output(kBanner));
  rig.device_send("OK\r\n");
  // Each byte is shown before the attempt to record it.
  const std::string shown =
      "O" + kCannotWrite + "K" + kCannotWrite + "\n" + kCannotWrite + "\n" + kCannotWrite;
  EXPECT_TRUE(rig.wait_output(kBanner + shown));
  rig.type("q\n8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(),
            kStartup + kMenu + menu_text(true) + kCapturing + kBanner + shown + menu_text(true));
}

INSTANTIATE_TEST_SUITE_P(
    Capture, CaptureFailure,
    testing::Values(
        // Nothing can be created in a removed directory, not even by root.
        FailureCase{"FileCannotBeCreated",
                    [](const std::string& dir) { std::filesystem::remove_all(dir); }},
        FailureCase{"DiskFull",
                    [](const std::string& dir) {
                      std::filesystem::create_symlink("/dev/full", dir + "/drovan.conf");
                    }}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(Capture, CapturedTextIsWhatTheThreeKeySends) {
  Rig rig;
  rig.type("4\n2\n");
  ASSERT_TRUE(rig.wait_output(kBanner));
  rig.device_send("ip 1\r\n");
  ASSERT_TRUE(rig.wait_output(kBanner + "ip 1\n\n"));
  rig.type("3\n");
  // The device's CR came back as LF; each LF goes out with a CR before it.
  EXPECT_TRUE(rig.wait_wire("ip 1\r\n\r\n\n\r"));
  EXPECT_EQ(rig.wire(), "ip 1\r\n\r\n\n\r");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
}

}  // namespace

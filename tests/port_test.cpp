// The port cycle and the drain, run in this process on a pseudo-terminal.

#include "serial/port.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "console/unique_fd.hpp"
#include "serial/command.hpp"
#include "serial/drain.hpp"
#include "tests/rig.hpp"

namespace {

class PortCycleTest : public testing::Test {
 protected:
  void SetUp() override {
    char name[128] = {};
    ASSERT_EQ(::openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    set_devicename(name);
  }
  void TearDown() override {
    ::close(master_);
    ::close(slave_);
    set_devicename("/dev/ttyUSB0");
  }
  int master_ = -1;
  int slave_ = -1;
};

TEST_F(PortCycleTest, StaleNotificationDoesNotMakeTheNextCommandWait) {
  {
    const PortCycle cycle;
    ASSERT_TRUE(cycle.is_open());
    // The device answers after the cycle's last drain, just before the close.
    ASSERT_EQ(::write(master_, "late", 4), 4);
    for (int i = 0; i < 200 && wait_flag != 0; ++i) ::usleep(1000);
    ASSERT_EQ(wait_flag, 0);
  }
  EXPECT_EQ(fd, -1);
  // The device is silent now; the next command must still come back.
  const auto start = Clock::now();
  send_command("run reset");
  EXPECT_LT(ms_between(start, Clock::now()), 500.0);
  EXPECT_EQ(wait_flag, 1);
}

TEST_F(PortCycleTest, BytesBeforeTheCycleAreDropped) {
  ASSERT_EQ(::write(master_, "old", 3), 3);
  ::usleep(20000);
  const PortCycle cycle;
  ASSERT_TRUE(cycle.is_open());
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 50), 0);
}

// What the program wrote to a device, all of it there by now.
std::string read_available(int master) {
  char buf[256];
  pollfd p{master, POLLIN, 0};
  const ssize_t n = ::poll(&p, 1, 0) > 0 ? ::read(master, buf, sizeof buf) : 0;
  return {buf, n > 0 ? static_cast<std::size_t>(n) : 0};
}

// A port left as another program set it (9600 baud, line editing, echo): the
// program's settings stand for the cycle and the port's come back after it.
TEST_F(PortCycleTest, SettingsGivenBackAtClose) {
  termios own{};
  ASSERT_EQ(::tcgetattr(slave_, &own), 0);
  own.c_iflag = ICRNL | IXON;
  own.c_lflag = ICANON | ECHO | ISIG;
  own.c_cc[VMIN] = 4;
  ::cfsetispeed(&own, B9600);
  ::cfsetospeed(&own, B9600);
  ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &own), 0);
  ASSERT_EQ(::tcgetattr(slave_, &own), 0);
  {
    const PortCycle cycle;
    ASSERT_TRUE(cycle.is_open());
    termios during{};
    ASSERT_EQ(::tcgetattr(slave_, &during), 0);
    EXPECT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B115200));
    EXPECT_EQ(during.c_lflag, 0U);
    ASSERT_TRUE(port_write(std::string_view("run reset\r")));
  }
  termios after{};
  ASSERT_EQ(::tcgetattr(slave_, &after), 0);
  EXPECT_EQ(after.c_iflag, own.c_iflag);
  EXPECT_EQ(after.c_oflag, own.c_oflag);
  EXPECT_EQ(after.c_cflag, own.c_cflag);
  EXPECT_EQ(after.c_lflag, own.c_lflag);
  EXPECT_EQ(after.c_cc[VMIN], own.c_cc[VMIN]);
  EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B9600));
  // What was written went out as typed, before the settings changed.
  EXPECT_EQ(read_available(master_), "run reset\r");
}

// The operator switches ports with a line cut short on the first one: the
// line is still erased and ended there before the next command, and only there.
TEST_F(PortCycleTest, OpenLineBelongsToThePortItWasLeftOn) {
  const std::string first(devicename);
  {
    const PortCycle cycle;
    ASSERT_TRUE(port_write(std::string_view("ab")));
  }
  int master = -1;
  int slave = -1;
  char other[128] = {};
  ASSERT_EQ(::openpty(&master, &slave, other, nullptr, nullptr), 0);
  const UniqueFd other_master(master);
  const UniqueFd other_slave(slave);
  set_devicename(other);
  send_command("x");
  set_devicename(first);
  send_command("run reset");
  EXPECT_EQ(read_available(master_), "ab\x7f\x7f\rrun reset\r");
  EXPECT_EQ(read_available(master), "x\r");
}

TEST(PortCycleNoDevice, FailedOpenLeavesNoDescriptor) {
  set_devicename("/nonexistent/ttyUSB9");
  {
    const PortCycle cycle;
    EXPECT_FALSE(cycle.is_open());
  }
  EXPECT_LT(fd, 0);
  set_devicename("/dev/ttyUSB0");
}

}  // namespace

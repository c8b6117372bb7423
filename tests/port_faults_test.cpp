// The port misbehaving under the program: unplugged during an upload, held by
// another copy, a device that never stops talking, a line left unended in
// terminal mode, and a program started with its standard output closed.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "console/unique_fd.hpp"
#include "menus/main_menu.hpp"
#include "menus/terminal.hpp"
#include "serial/command.hpp"
#include "serial/port.hpp"
#include "serial/upload.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

const std::string kSending(kSendingFile);
const std::string kAdvice = "\nReinicialize o equipamento para efetivar as configuracoes. \r\n";
const std::string kBanner = "\n\rTecla <q> + ENTER sai do terminal\n\r";

// The port's node given `mode`, its directory open to all, so that only the
// node's own mode may refuse.
bool port_node_mode(mode_t mode) {
  const std::string port(devicename);
  return ::chmod(port.substr(0, port.rfind('/')).c_str(), 0755) == 0 &&
         ::chmod(devicename, mode) == 0;
}

// Root opens any node and ignores an exclusive port: the program as an
// ordinary user needs root dropped to nobody first. False where that fails.
bool as_ordinary_user() {
  return ::geteuid() != 0 ||
         (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0);
}

int upload_drovan_conf(std::string_view content) {
  write_file("drovan.conf", content);
  send_file(0, "drovan.conf");
  return 0;
}

// Typing stops at the first failed write, and the failure is told, not the
// advice alone as if the file had gone through.
TEST(PortFault, UnpluggedMidUploadStopsAtOnceAndSaysSo) {
  Rig rig({.entry = [] { return upload_drovan_conf(std::string(400, 'k')); }});
  rig.on_wire = [](Rig& r, char) {
    if (r.wire_bytes().size() == 20) r.close_device();
  };
  const auto start = Clock::now();
  EXPECT_EQ(rig.wait_exit(4), 0);
  EXPECT_LT(ms_between(start, Clock::now()), 2000.0);  // not 4 s of typing into nothing
  EXPECT_EQ(rig.wire(), std::string(20, 'k'));
  EXPECT_EQ(rig.out(), kSending + kPortErrorLine + kAdvice);
}

TEST(PortFault, PortHeldByAnotherCopyIsBusyUntilItLetsGo) {
  Rig holder;
  holder.type("2\n");
  ASSERT_TRUE(holder.wait_output(kBanner));
  const RigOptions second{.device = false, .port = holder.device_path(), .entry = [] {
                            return upload_drovan_conf("x");
                          }};
  {
    Rig other(second);
    EXPECT_EQ(other.wait_exit(), 0);
    // The copy holding the lock is named: the test's own executable, forked.
    EXPECT_EQ(other.out(), kSending + kPortErrorLine + "A porta " + holder.device_path() +
                               " esta em uso por outro programa: drovan-tests (pid " +
                               std::to_string(holder.pid()) + "). Feche-o e tente de novo.\n" +
                               kAdvice);
  }
  holder.type("ab\n");
  EXPECT_TRUE(holder.wait_wire("ab\n\r"));
  holder.type("q\n");
  ASSERT_TRUE(holder.wait_output_count(kMenu, 2));
  Rig after(second);
  EXPECT_EQ(after.wait_exit(), 0);
  EXPECT_EQ(after.out(), kSending + kNoEchoVerdict + kAdvice);
  holder.run_for(0.05);
  EXPECT_EQ(holder.wire(), "ab\n\rx\r");
}

// A port the program may not open, and the line after the error that says why.
// Run as root, the program drops to nobody first, or root's privilege would
// open the node and ignore an exclusive port anyway.
struct Refusal {
  const char* name;
  mode_t mode;
  bool exclusive;  // another process holds the port with TIOCEXCL, no lock
  std::string (*reason)(const std::string& port);
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class PortRefused : public testing::TestWithParam<Refusal> {};

TEST_P(PortRefused, TheLineAfterTheErrorSaysWhy) {
  const Refusal& c = GetParam();
  Rig rig({.entry = [&c] {
    if (!port_node_mode(c.mode)) return 90;
    const UniqueFd exclusive(c.exclusive ? ::open(devicename, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1);
    if (c.exclusive && (!exclusive.is_open() || ::ioctl(exclusive.get(), TIOCEXCL) != 0)) {
      return 91;
    }
    if (!as_ordinary_user()) return 77;
    send_command("run reset");
    return 0;
  }});
  const int status = rig.wait_exit();
  if (status == 77) GTEST_SKIP() << "cannot drop root's privileges here";
  EXPECT_EQ(status, 0);
  EXPECT_EQ(rig.out(), kPortErrorLine + c.reason(rig.device_path()));
  EXPECT_EQ(rig.wire(), "");
}

INSTANTIATE_TEST_SUITE_P(
    PortFault, PortRefused,
    testing::Values(
        // Root's node, mode 600, no dialout group: the remedy.
        Refusal{"WithoutPermissionTellsTheRemedy", 0, false,
                [](const std::string& port) {
                  return "Sem permissao para abrir " + port +
                         ": entre no grupo dialout (sudo usermod -aG dialout $USER) e abra a "
                         "sessao de novo.\n";
                }},
        // Only the test process holds the port besides the program; from root
        // dropped to nobody the program may not look into root's descriptors,
        // and points to fuser instead.
        Refusal{"TakenExclusivelyIsInUse", 0666, true,
                [](const std::string& port) {
                  const std::string holder =
                      ::geteuid() == 0 ? " (fuser -v " + port + " mostra qual)."
                                       : ": drovan-tests (pid " + std::to_string(::getpid()) + ").";
                  return "A porta " + port + " esta em uso por outro programa" + holder +
                         " Feche-o e tente de novo.\n";
                }}),
    [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

// The device's last word is waited for only while it keeps quiet pauses.
TEST(PortFault, DeviceThatNeverStopsTalkingStillLetsTheUploadEnd) {
  Rig rig({.entry = [] { return upload_drovan_conf("A"); }});
  const auto start = Clock::now();
  rig.until(
      [&] {
        rig.device_send("tagarela ");
        return rig.exited();
      },
      8);
  EXPECT_LT(ms_between(start, Clock::now()), 5000.0);
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.wire(), "A\r");
  EXPECT_EQ(rig.out().substr(0, kSending.size()), kSending);
  EXPECT_EQ(rig.out().substr(rig.out().size() - kAdvice.size()), kAdvice);
}

struct LeftLine {
  const char* name;
  const char* keys;
  const char* conf;  // drovan.conf
  const char* wire;
};

void PrintTo(const LeftLine& c, std::ostream* os) { *os << c.name; }

class LineLeftInTerminal : public testing::TestWithParam<LeftLine> {};

TEST_P(LineLeftInTerminal, ResetCommandIsALineOfItsOwn) {
  Rig rig;
  write_file(rig.dir() + "/drovan.conf", GetParam().conf);
  rig.type(GetParam().keys);
  ASSERT_TRUE(rig.wait_wire("run reset\r", 8));
  // Nothing follows the command on the wire. The reset's 3 s pause and the
  // menu after it are MenuReset's: the rig ends the program in that pause.
  rig.run_for(0.2);
  EXPECT_EQ(rig.wire(), GetParam().wire);
}

// "23": the ENTER after the '3' is the one the mode drops on entry.
INSTANTIATE_TEST_SUITE_P(Terminal, LineLeftInTerminal,
                         testing::Values(LeftLine{"FileWithoutLastEnterEndsItFirst", "23\nq\n6\n",
                                                  "ip 1", "ip 1\rrun reset\r"},
                                         LeftLine{"QAfterEnterAddsNothing", "2\nshow\nq\n6\n", "",
                                                  "show\n\rrun reset\r"},
                                         LeftLine{"NothingTyped", "2\nq\n6\n", "", "run reset\r"}),
                         [](const testing::TestParamInfo<LeftLine>& info) {
                           return info.param.name;
                         });

// Terminal '3' types drovan.conf while the capture appends the echo to that same
// file: the upload stops at the size the file had when it began.
TEST(PortFault, TerminalUploadOfTheFileBeingCapturedEnds) {
  Rig rig({.echo = true});
  write_file(rig.dir() + "/drovan.conf", "set x\n");
  rig.type("4\n2\n3\n");
  ASSERT_TRUE(rig.wait_output(kSending + "set x\n\n"));
  rig.run_for(0.3);
  rig.type("q\n8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  // The file, then the ENTER typed after the '3'.
  EXPECT_EQ(rig.wire(), "set x\r\n\n\r");
  EXPECT_EQ(read_file(rig.dir() + "/drovan.conf"), "set x\nset x\n\n\n\n");
}

// The adapter pulled while '3' types leaves half a line on the device; once the
// mode has the port back, it is erased and a CR ends it before the operator's
// next line. The loss is told once: the ENTER of that '3' was typed before it.
TEST(PortFault, HalfLineLeftByTerminalThreeIsErasedAfterTheReconnect) {
  Rig rig;
  write_file(rig.dir() + "/drovan.conf", "set bits 8\n");
  rig.on_wire = [](Rig& r, char) {
    if (r.wire_bytes().size() == 5) r.close_device();
  };
  rig.type("2\n3\n");
  ASSERT_TRUE(rig.wait_output(kPortErrorLine));
  rig.replug_device();
  ASSERT_TRUE(rig.wait_output("\nPorta " + rig.device_path() + " reconectada\n\r", 4));
  rig.type("three\n");
  EXPECT_TRUE(rig.wait_wire("three\n\r"));
  EXPECT_EQ(rig.wire(), "set b\x7f\x7f\x7f\x7f\x7f\rthree\n\r");
  rig.type("q\n8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out().find(kPortErrorLine), rig.out().rfind(kPortErrorLine));
}

struct NotATerminal {
  const char* name;
  void (*make)(const std::string& path);
  const char* content;  // read back from it afterwards
};

void PrintTo(const NotATerminal& c, std::ostream* os) { *os << c.name; }

class NotATerminalPort : public testing::TestWithParam<NotATerminal> {};

// What `echo x > /dev/ttyUSB0` leaves when no adapter is plugged in: the
// program must not type its commands into a file, nor read it as the device.
TEST_P(NotATerminalPort, IsThePortErrorAndNothingIsWritten) {
  char dir[] = "/tmp/drovan-port-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/ttyUSB0";
  GetParam().make(path);
  const UniqueFd reader(::open(path.c_str(), O_RDONLY | O_NONBLOCK));  // a FIFO's far end
  {
    Rig rig({.device = false, .port = path, .entry = [] {
               send_command("run reset");
               terminal_mode();
               return 0;
             }});
    EXPECT_EQ(rig.wait_exit(), 0);
    EXPECT_EQ(rig.out(), kPortErrorLine + kMenu + kPortErrorLine);
  }
  char got[64];
  const ssize_t n = ::read(reader.get(), got, sizeof got);
  EXPECT_EQ(std::string(got, n > 0 ? static_cast<std::size_t>(n) : 0), GetParam().content);
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, NotATerminalPort,
    testing::Values(
        NotATerminal{"RegularFile", [](const std::string& p) { write_file(p, "x\n"); }, "x\n"},
        NotATerminal{"Fifo", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }, ""}),
    [](const testing::TestParamInfo<NotATerminal>& info) { return info.param.name; });

// Started with standard output closed: the port must not become descriptor 1,
// or the program would type its own screens into the device.
TEST(ConsoleFault, ClosedStandardOutputNeverReachesTheWire) {
  Rig rig({.echo = true, .entry = [] {
             ::close(STDOUT_FILENO);
             return drovan_main();
           }});
  rig.type("2\nhi\nq\n8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.wire(), "hi\n\r");
}

}  // namespace

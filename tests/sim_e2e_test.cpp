// drovan-sim as its users run it: the built program under the simulator on a
// console the test drives, a careless writer, and the launcher's own exits.
// Where the kernel refuses namespaces these tests skip and say why.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "console/unique_fd.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

const std::string kSim = DROVAN_SIM;
const std::string kSource = DROVAN_SOURCE_DIR;
const std::string kExample = "conf/r2/drovan_e1_r2_16fxs.txt";  // menu 5, key 'a'

// Empty when namespaces work here; else the simulator's reason.
const std::string& refusal() {
  static const std::string reason = [] {
    Rig rig({.device = false, .executable = kSim, .args = {"--", "true"}});
    const int status = rig.wait_exit(10);
    return status == 1 ? rig.err() : std::string();
  }();
  return reason;
}

#define SKIP_WITHOUT_NAMESPACES() \
  if (!refusal().empty()) GTEST_SKIP() << "namespaces refused here: " << refusal()

struct Summary {
  bool found = false;
  unsigned long received = 0, dropped = 0, accepted = 0, rejected = 0, noise = 0;
};

Summary summary_in(const std::string& err) {
  Summary s;
  const auto at = err.find("drovan-sim: received ");
  if (at == std::string::npos) return s;
  int used = 0;
  const int got = std::sscanf(err.c_str() + at,
                              "drovan-sim: received %lu bytes, %lu dropped, %lu configuration "
                              "lines accepted, %lu rejected\n%n",
                              &s.received, &s.dropped, &s.accepted, &s.rejected, &used);
  s.found = got == 4 && used > 0;
  (void)std::sscanf(err.c_str() + at + used, ", %lu lost to line noise", &s.noise);
  return s;
}

// The shipped example of key 'a', whole.
std::string shipped_example() { return read_file(kSource + "/" + kExample); }

// The first `count` lines of a file.
std::string first_lines(const std::string& file, std::size_t count) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < count && end < file.size(); ++i) end = file.find('\n', end) + 1;
  return file.substr(0, end);
}

// Key 'a' of the program under `rig` sends `example`: it stands at the shipped
// file's path in the rig's working directory, which the program looks in first.
void place_example(Rig& rig, const std::string& example) {
  const std::filesystem::path path = rig.dir() + "/" + kExample;
  std::filesystem::create_directories(path.parent_path());
  write_file(path.string(), example);
}

// The adapter's latency timer on the way back: 1 ms as the program sets it
// (the simulator's default), 16 ms as an adapter left at its own default.
class SimUpload : public testing::TestWithParam<const char*> {};

TEST_P(SimUpload, ProgramUploadsAnExampleToTheSimulatedDevice) {
  SKIP_WITHOUT_NAMESPACES();
  Rig rig({.device = false,
           .executable = kSim,
           .args = {"--latency-ms", GetParam(), "--", DROVAN_EXECUTABLE}});
  // The example's settings without its comments: what the device is left
  // running is the same, in a third of the typing.
  const std::string file = settings_of(shipped_example());
  ASSERT_EQ(settings_in(file), settings_in(shipped_example()));
  place_example(rig, file);
  ASSERT_TRUE(rig.wait_output(kMenu, 10)) << rig.out() << rig.err();
  rig.type("5\n");
  ASSERT_TRUE(rig.wait_output("<9> Retorna ao menu"));
  rig.type("a");
  ASSERT_TRUE(rig.wait_output("(s/n)? ", 30)) << rig.out();
  rig.type("s");
  ASSERT_TRUE(rig.wait_output_count(kMenu, 2, 10)) << rig.out();
  rig.type("8\n");
  EXPECT_EQ(rig.wait_exit(10), 0);

  // The device's echo and answers, as the operator saw them.
  const std::string& out = rig.out();
  EXPECT_NE(out.find("configuration: one setting per line"), std::string::npos) << out;
  EXPECT_NE(out.find("drovan(conf)> fxs.ports = 1-16\n"), std::string::npos) << out;
  EXPECT_NE(out.find("run reset\n\nresetting..."), std::string::npos) << out;
  EXPECT_EQ(out.find("error:"), std::string::npos) << out;
  EXPECT_NE(out.find("\nEco conferido: o equipamento recebeu os "), std::string::npos) << out;

  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_EQ(s.dropped, 0U);
  EXPECT_EQ(s.rejected, 0U);
  EXPECT_EQ(s.accepted, settings_in(file));
  // The file with a CR before each LF, "set conf\r" and "run reset\r" at least.
  EXPECT_GE(s.received, file.size() + settings_in(file) + 19);
  // Only the summary on standard error.
  EXPECT_EQ(rig.err().find("drovan-sim"), rig.err().rfind("drovan-sim"));
}

INSTANTIATE_TEST_SUITE_P(Latency, SimUpload, testing::Values("1", "16"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) + "ms";
                         });

// Menu 5, example 'a' as `example`, no reset, then quit: the program that
// `rig` runs under the simulator.
void upload_example_under(Rig& rig, const std::string& example) {
  place_example(rig, example);
  ASSERT_TRUE(rig.wait_output(kMenu, 10)) << rig.out() << rig.err();
  rig.type("5\na");
  ASSERT_TRUE(rig.wait_output("(s/n)? ", 60)) << rig.out();
  rig.type("n8\n");
  EXPECT_EQ(rig.wait_exit(10), 0);
}

// A console one millisecond a byte slower than the pace: typing waits for
// its echo, so nothing is lost and the upload is only slower.
TEST(SimEndToEnd, SlowConsoleGetsTheWholeFile) {
  SKIP_WITHOUT_NAMESPACES();
  Rig rig({.device = false,
           .executable = kSim,
           .args = {"--min-gap-ms", "11", "--", DROVAN_EXECUTABLE}});
  ASSERT_NO_FATAL_FAILURE(upload_example_under(rig, shipped_example()));
  const std::string& out = rig.out();
  EXPECT_NE(out.find("\nEco conferido: o equipamento recebeu os "), std::string::npos) << out;
  EXPECT_EQ(out.find("error:"), std::string::npos) << out;
  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_EQ(s.dropped, 0U);
  EXPECT_EQ(s.rejected, 0U);
}

// A noisy line loses bytes without a word from the console; the program's
// verdict says so, counting no more than were lost.
TEST(SimEndToEnd, NoisyLineGetsTheWarning) {
  SKIP_WITHOUT_NAMESPACES();
  Rig rig({.device = false,
           .executable = kSim,
           .args = {"--line-noise", "100", "--", DROVAN_EXECUTABLE}});
  // The example's first ten lines: the line's fixed draw loses three of their
  // bytes, one of them a line's first (the whole file loses seven, in 15 s).
  ASSERT_NO_FATAL_FAILURE(upload_example_under(rig, first_lines(shipped_example(), 10)));
  const std::string& out = rig.out();
  const auto warning = out.find("\nATENCAO: ");
  ASSERT_NE(warning, std::string::npos) << out;
  EXPECT_NE(out.find(" bytes do arquivo nao voltaram no eco do equipamento (linhas ", warning),
            std::string::npos);
  EXPECT_NE(out.find(").\nEnvie o arquivo de novo antes de reinicializar o equipamento.\n"
                     "\nReinicialize",
                     warning),
            std::string::npos)
      << out;
  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_EQ(s.dropped, 0U);
  EXPECT_GT(s.noise, 0U) << rig.err();
  EXPECT_LE(std::stoul(out.substr(warning + 10)), s.noise);
}

// Accented letters are not typed; the operator is told which line held them.
TEST(SimEndToEnd, BytesOutsideAsciiAreTold) {
  SKIP_WITHOUT_NAMESPACES();
  Rig rig({.device = false, .executable = kSim, .args = {"--", DROVAN_EXECUTABLE}});
  write_file(rig.dir() + "/drovan.conf", "fxs.count = 16\n# configura\xc3\xa7\xc3\xa3o\n");
  ASSERT_TRUE(rig.wait_output(kMenu, 10)) << rig.out() << rig.err();
  rig.type("3\ns");
  ASSERT_TRUE(rig.wait_output_count("(s/n)? ", 2, 30)) << rig.out();
  EXPECT_NE(rig.out().find("\nEco conferido: o equipamento recebeu os 28 bytes do arquivo.\n"
                           "\nATENCAO: 4 bytes do arquivo fora do ASCII nao foram enviados "
                           "(linhas 2).\n\nReinicialize"),
            std::string::npos)
      << rig.out();
  rig.type("n8\n");
  EXPECT_EQ(rig.wait_exit(10), 0);
}

// A console that works 3 s opening the session after "set conf", and answers
// it at once: typing waits for it, the file arrives whole and the verdict says so.
// Behind an adapter's 16 ms packets the command's echo comes after the file's
// first byte went: the session's work is waited for all the same.
class ConfMsBusy : public testing::TestWithParam<const char*> {};

TEST_P(ConfMsBusy, SessionGetsTheWholeFile) {
  SKIP_WITHOUT_NAMESPACES();
  Rig rig({.device = false,
           .executable = kSim,
           .args = {"--conf-ms", "3000", "--latency-ms", GetParam(), "--", DROVAN_EXECUTABLE}});
  const std::string file =
      "e1.framing = cas-crc4\ne1.line_code = hdb3\ne1.signalling = r2-digital\n"
      "fxs.count = 16\nfxs.ports = 1-16\n";
  write_file(rig.dir() + "/drovan.conf", file);
  ASSERT_TRUE(rig.wait_output(kMenu, 10)) << rig.out() << rig.err();
  rig.type("3\ns");
  // The verdict comes before the dialog's 3 s pause (that pause and the question
  // after it are ConfDialog's): the simulator is stopped there, and the program with it.
  ASSERT_TRUE(rig.wait_output("para efetivar as configuracoes. \r\n", 30)) << rig.out();
  ::kill(rig.pid(), SIGTERM);
  EXPECT_EQ(rig.wait_exit(10), 128 + SIGTERM);
  const std::string& out = rig.out();
  EXPECT_NE(out.find("\nEco conferido: o equipamento recebeu os " + std::to_string(file.size()) +
                     " bytes do arquivo.\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("error:"), std::string::npos) << out;
  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_EQ(s.dropped, 0U);
  EXPECT_EQ(s.accepted, settings_in(file));
  EXPECT_EQ(s.rejected, 0U);
}

INSTANTIATE_TEST_SUITE_P(Latency, ConfMsBusy, testing::Values("1", "16"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) + "ms";
                         });

// From a terminal the simulator relays COMMAND's own and sets the caller's raw
// for the run: a COMMAND killed outright must still leave it as it was.
TEST(SimEndToEnd, CallersTerminalRestoredWhenCommandIsKilled) {
  SKIP_WITHOUT_NAMESPACES();
  const std::string inner = "stty -g; " + kSim + " -- sh -c 'kill -9 $$'; echo status $?; stty -g";
  Rig rig({.device = false, .executable = "/usr/bin/script", .args = {"-qec", inner, "/dev/null"}});
  EXPECT_EQ(rig.wait_exit(10), 0) << rig.out() << rig.err();
  const std::string& out = rig.out();
  const auto before = out.substr(0, out.find('\r'));
  const auto status = out.find("status 137\r\n");
  ASSERT_NE(status, std::string::npos) << out;
  EXPECT_EQ(out.substr(out.find('\n', status) + 1), before + "\r\n") << out;
}

// The caller's terminal closed (a terminal window, a tmux session) in the
// middle of an upload's line: the program's erase of that line reaches the
// device, every DEL and the CR after them, before the simulator stops serving
// the port, and its summary follows. A shell leads the terminal's session and,
// as an interactive one does, passes the hangup on to its job a moment later:
// the simulator hears of it from its reads, then by that SIGHUP, then by the
// kernel's once the shell is gone.
TEST(SimEndToEnd, HungUpTerminalLetsTheProgramEraseItsLine) {
  SKIP_WITHOUT_NAMESPACES();
  std::optional<UniqueFd> terminal;
  terminal.emplace(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(terminal->is_open());
  ASSERT_EQ(::grantpt(terminal->get()), 0);
  ASSERT_EQ(::unlockpt(terminal->get()), 0);
  const std::string slave = ::ptsname(terminal->get());
  Rig rig({.device = false, .entry = [slave] {
             if (::setsid() < 0) return 90;
             const int tty = ::open(slave.c_str(), O_RDWR);  // becomes the controlling terminal
             if (tty < 0 || ::dup2(tty, STDIN_FILENO) < 0 || ::dup2(tty, STDOUT_FILENO) < 0) {
               return 91;
             }
             ::close(tty);
             ::execl("/bin/sh", "sh", "-c",
                     "exec 3<&0; trap 'sleep 0.1; kill -HUP $p; exit' HUP; \"$0\" --min-gap-ms 25 "
                     "--log device.log -- \"$1\" <&3 3<&- & p=$!; wait $p; wait $p",
                     DROVAN_SIM, DROVAN_EXECUTABLE, nullptr);
             return 92;
           }});
  std::filesystem::create_directory_symlink(kSource + "/conf", rig.dir() + "/conf");
  std::string screen;
  const auto shows = [&](std::string_view text, double seconds) {
    return rig.until(
        [&] {
          pollfd p{terminal->get(), POLLIN, 0};
          std::array<char, 4096> buf{};
          const ssize_t n = ::poll(&p, 1, 0) == 1 ? ::read(p.fd, buf.data(), buf.size()) : 0;
          if (n > 0) screen.append(buf.data(), static_cast<std::size_t>(n));
          return screen.find(text) != std::string::npos;
        },
        seconds);
  };
  ASSERT_TRUE(shows("<8> Sair", 10)) << screen << rig.err();
  ASSERT_EQ(::write(terminal->get(), "5\r", 2), 2);
  ASSERT_TRUE(shows("<9> Retorna ao menu", 5)) << screen;
  ASSERT_EQ(::write(terminal->get(), "a\r", 2), 2);
  // A dozen bytes into a line of 59, at 25 ms a byte.
  const std::string started = "# DROVAN TDMoE ";
  ASSERT_TRUE(shows("drovan(conf)> " + started, 20)) << screen;
  terminal.reset();
  // The shell ends at once; the simulator once the program has.
  (void)rig.wait_exit(30);

  const std::string log = read_file(rig.dir() + "/device.log");
  ASSERT_EQ(log.rfind("set conf\r", 0), 0U) << log;
  // The line cut short, from the line end before it.
  const auto erase = log.find('\x7f');
  ASSERT_NE(erase, std::string::npos) << "no DEL: " << log;
  const std::string last = log.substr(log.find_last_of("\r\n", erase) + 1);
  const std::string typed = last.substr(0, last.find('\x7f'));
  EXPECT_EQ(typed.rfind(started, 0), 0U) << last;
  EXPECT_EQ(last, typed + std::string(typed.size(), '\x7f') + "\r");
  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_EQ(s.received, log.size());
  EXPECT_EQ(s.dropped, 0U);
}

// Stopped from outside, as a shell's job control does, the simulator gives the
// caller's terminal back as it was; continued, it takes it raw again, and the
// run ends as usual.
TEST(SimEndToEnd, StoppedSimulatorGivesTheTerminalBack) {
  SKIP_WITHOUT_NAMESPACES();
  // The shell has no job control: the simulator runs in the terminal's foreground.
  const std::string inner =
      "w() { n=0; until eval \"$1\"; do [ $n -lt 200 ] || return 1; sleep 0.05; n=$((n+1)); "
      "done; }; b=$(stty -g); " +
      kSim +
      " -- sh -c 'until [ -e done ]; do sleep 0.05; done' </dev/tty & p=$!; "
      "w '[ \"$(stty -g)\" != \"$b\" ]' && r=$(stty -g) && kill -TSTP $p && "
      "w 'grep -q \") T \" /proc/$p/stat' && [ \"$(stty -g)\" = \"$b\" ] && echo given back; "
      "kill -CONT $p; w '[ \"$(stty -g)\" = \"$r\" ]' && echo raw again; "
      ": >done; wait $p; echo status $?; [ \"$(stty -g)\" = \"$b\" ] && echo as before";
  Rig rig({.device = false, .executable = "/usr/bin/script", .args = {"-qec", inner, "/dev/null"}});
  EXPECT_EQ(rig.wait_exit(30), 0) << rig.out() << rig.err();
  const std::string& out = rig.out();
  EXPECT_NE(out.find("given back"), std::string::npos) << out;
  EXPECT_NE(out.find("raw again"), std::string::npos) << out;
  EXPECT_NE(out.find("status 0"), std::string::npos) << out;
  EXPECT_NE(out.find("as before"), std::string::npos) << out;
}

// A configuration session typed by hand in terminal mode, every line handed
// over at once as a console does at ENTER: paced typing loses nothing, and a
// '3' inside a value is typed, not taken for the upload command.
TEST(SimEndToEnd, SessionTypedInTerminalModeLosesNothing) {
  SKIP_WITHOUT_NAMESPACES();
  Rig rig({.device = false, .executable = kSim, .args = {"--", DROVAN_EXECUTABLE}});
  write_file(rig.dir() + "/drovan.conf", "bogus = 1\n");
  ASSERT_TRUE(rig.wait_output(kMenu, 10)) << rig.out() << rig.err();
  rig.type("2\n");
  ASSERT_TRUE(rig.wait_output("sai do terminal\n\r"));
  rig.type(
      "set conf\ne1.framing = cas-crc4\ne1.line_code = hdb3\ne1.signalling = r2-digital\n"
      "fxs.count = 16\nfxs.ports = 1-16\nq\n8\n");
  EXPECT_EQ(rig.wait_exit(15), 0) << rig.out();
  EXPECT_EQ(rig.out().find("error:"), std::string::npos) << rig.out();
  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_EQ(s.dropped, 0U);
  EXPECT_EQ(s.accepted, 5U);
  EXPECT_EQ(s.rejected, 0U);
}

TEST(SimEndToEnd, UnpacedWriterLosesBytesAndLines) {
  SKIP_WITHOUT_NAMESPACES();
  // The example's settings in one write, CR LF ended, then a final CR.
  const std::string script = "printf 'set conf\\r' >/dev/ttyUSB0; sleep 0.2; grep -v '^#' '" +
                             kSource + "/" + kExample +
                             "' | sed 's/$/\\r/' >/dev/ttyUSB0; sleep 0.2; printf '\\r' "
                             ">/dev/ttyUSB0; sleep 0.2";
  Rig rig({.device = false, .executable = kSim, .args = {"--", "sh", "-c", script}});
  EXPECT_EQ(rig.wait_exit(10), 0) << rig.err();
  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_GT(s.dropped, 0U);
  EXPECT_GT(s.rejected, 0U);
}

// The test's input is no terminal, so script makes the pseudo-terminal, in the
// namespace's own devpts (its first, whatever the host's count), and the
// program's screen comes through it.
TEST(SimEndToEnd, ScriptOpensATerminalInside) {
  SKIP_WITHOUT_NAMESPACES();
  const std::string inner = std::string("tty && exec ") + DROVAN_EXECUTABLE;
  Rig rig(
      {.device = false, .executable = kSim, .args = {"--", "script", "-qec", inner, "/dev/null"}});
  ASSERT_TRUE(rig.wait_output("<8> Sair \r\n", 10)) << rig.out() << rig.err();
  rig.type("8\n");
  EXPECT_EQ(rig.wait_exit(10), 0) << rig.out() << rig.err();
  EXPECT_EQ(rig.out().rfind("/dev/pts/0\r\n", 0), 0U) << rig.out();
  EXPECT_TRUE(summary_in(rig.err()).found) << rig.err();
}

struct LaunchCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* err;  // expected at the start of standard error
  bool needs_namespaces;
};

void PrintTo(const LaunchCase& c, std::ostream* os) { *os << c.name; }

class SimLaunch : public testing::TestWithParam<LaunchCase> {};

TEST_P(SimLaunch, ExitStatusAndMessage) {
  const LaunchCase& c = GetParam();
  if (c.needs_namespaces) SKIP_WITHOUT_NAMESPACES();
  Rig rig({.device = false, .executable = kSim, .args = c.args});
  EXPECT_EQ(rig.wait_exit(10), c.status) << rig.err();
  EXPECT_EQ(rig.err().rfind(c.err, 0), 0U) << rig.err();
  EXPECT_EQ(rig.out(), "");
}

const char* const kUsage =
    "usage: drovan-sim [--port N] [--min-gap-ms MS] [--line-ms MS] [--prompt-after-work] "
    "[--conf-ms MS] [--line-noise N] [--latency-ms MS] [--no-echo] [--log FILE] [--] "
    "[COMMAND";
const char* const kSummary = "drovan-sim: received ";
const char* const kPrivateDevCheck =
    "test -c /dev/ttyUSB3 && test -c /dev/null && test -d /dev/pts && "
    "test ! -e /dev/ttyUSB0 -o -c /dev/ttyUSB0";

INSTANTIATE_TEST_SUITE_P(
    Exits, SimLaunch,
    testing::Values(
        LaunchCase{"CommandStatus", {"sh", "-c", "exit 3"}, 3, kSummary, true},
        LaunchCase{
            "KilledCommand", {"--", "sh", "-c", "kill -TERM $$"}, 128 + SIGTERM, kSummary, true},
        // The simulated port, under the chosen number, and /dev's devices still there.
        LaunchCase{
            "PrivateDev", {"--port", "3", "--", "sh", "-c", kPrivateDevCheck}, 0, kSummary, true},
        // Writers that outlive COMMAND and flood the line do not keep the simulator.
        LaunchCase{"FloodOutlivesCommand",
                   {"--min-gap-ms", "0", "--", "sh", "-c",
                    "(exec yes >/dev/ttyUSB0) & (exec yes >/dev/ttyUSB0) & sleep 0.3"},
                   0,
                   kSummary,
                   true},
        LaunchCase{"NotFound",
                   {"--", "/no/such/command"},
                   127,
                   "drovan-sim: cannot run /no/such/command: No such file or directory\n",
                   true},
        LaunchCase{"UnknownOption", {"--fast", "true"}, 2, kUsage, false},
        LaunchCase{"PortNotANumber", {"--port", "x", "true"}, 2, kUsage, false},
        LaunchCase{"GapMissing", {"--min-gap-ms"}, 2, kUsage, false},
        LaunchCase{"ConfMsOverAMinute", {"--conf-ms", "60001", "true"}, 2, kUsage, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimEndToEnd, HostDevUntouched) {
  SKIP_WITHOUT_NAMESPACES();
  const bool before = std::filesystem::exists("/dev/ttyUSB5");
  Rig rig({.device = false,
           .executable = kSim,
           .args = {"--port", "5", "--", "sh", "-c", "test -c /dev/ttyUSB5 && : > /dev/ttyUSB5"}});
  EXPECT_EQ(rig.wait_exit(10), 0) << rig.err();
  EXPECT_EQ(std::filesystem::exists("/dev/ttyUSB5"), before);
}

// A link at the port's name, in a /dev of the test's own namespace (a tmpfs
// holding the host's null device and a devpts of its own): the simulator gives
// the port a name of its own and neither covers the link's target nor trips on
// a dangling one.
class SimPortName : public testing::TestWithParam<const char*> {};

TEST_P(SimPortName, LinkReplacedNotItsTarget) {
  SKIP_WITHOUT_NAMESPACES();
  // $1 the link's target, $2 the simulator. The setup's trace tells a skip's reason.
  const char* const script =
      "{ set -x; mkdir host-dev && mount --rbind /dev host-dev && mount -t tmpfs tmpfs /dev && "
      ": >/dev/null && mount --bind host-dev/null /dev/null && mkdir /dev/pts && "
      "mount -t devpts -o newinstance,ptmxmode=0666 devpts /dev/pts && "
      "ln -s pts/ptmx /dev/ptmx && ln -s \"$1\" /dev/ttyUSB0 && set +x; } 2>setup.log || "
      "{ cat setup.log >&2; exit 99; }; "
      "\"$2\" -- sh -c 'test \"$(stat -c %t:%T /dev/null)\" = 1:3 && tty -s </dev/ttyUSB0 && "
      "echo lost >/dev/null' || exit; test \"$(readlink /dev/ttyUSB0)\" = \"$1\"";
  Rig rig({.device = false,
           .executable = "/usr/bin/unshare",
           .args = {"-rm", "sh", "-c", script, "sh", GetParam(), kSim}});
  const int status = rig.wait_exit(10);
  if (status == 99) GTEST_SKIP() << "cannot make a /dev of the test's own here: " << rig.err();
  EXPECT_EQ(status, 0) << rig.err();
  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_EQ(s.received, 0U);
}

INSTANTIATE_TEST_SUITE_P(Links, SimPortName, testing::Values("/dev/null", "/dev/no-such-device"),
                         [](const auto& info) { return info.index == 0 ? "ToNull" : "Dangling"; });

// A user namespace of the test's own, where no further one may be made and
// the simulator runs without privilege: the kernel's refusal, as an operator meets it.
TEST(SimEndToEnd, RefusedNamespacesFailAtOnceWithOneLine) {
  const std::string script =
      "echo 0 > /proc/sys/user/max_user_namespaces || exit 99; exec setpriv --bounding-set -all "
      "--inh-caps -all --ambient-caps -all " +
      kSim + " -- true";
  Rig rig({.device = false, .executable = "/usr/bin/unshare", .args = {"-Ur", "sh", "-c", script}});
  const int status = rig.wait_exit(10);
  if (rig.err().rfind("drovan-sim:", 0) != 0) {
    GTEST_SKIP() << "cannot make a namespace that refuses namespaces here: " << rig.err();
  }
  EXPECT_EQ(status, 1);
  const std::string& err = rig.err();
  EXPECT_EQ(err.rfind("drovan-sim: the kernel refused a private mount namespace (unshare: ", 0), 0U)
      << err;
  EXPECT_NE(err.find("run it with sudo, or allow unprivileged user namespaces"), std::string::npos);
  EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line, no summary: " << err;
  EXPECT_EQ(rig.out(), "");
}

// Without a command: the pseudo-terminal's path on standard output, served
// until a signal ends it, then the summary.
TEST(SimEndToEnd, ServesItsPathUntilTerminated) {
  Rig rig({.device = false, .executable = kSim, .args = {"--min-gap-ms", "0"}});
  ASSERT_TRUE(rig.wait_output("\n"));
  const std::string path = rig.out().substr(0, rig.out().find('\n'));
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0U) << path;
  {
    const UniqueFd port(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(port.is_open());
    ASSERT_EQ(::write(port.get(), "show conf\r", 10), 10);
    std::string answer;
    char buf[512];
    rig.until(
        [&] {
          pollfd p{port.get(), POLLIN, 0};
          if (::poll(&p, 1, 0) == 1) {
            const ssize_t n = ::read(port.get(), buf, sizeof buf);
            if (n > 0) answer.append(buf, static_cast<std::size_t>(n));
          }
          return answer.find("drovan> ") != std::string::npos;
        },
        5);
    EXPECT_EQ(answer.rfind("show conf\r\ne1.framing = off\r\n", 0), 0U) << answer;
  }
  ::kill(rig.pid(), SIGTERM);
  EXPECT_EQ(rig.wait_exit(5), 0);
  const Summary s = summary_in(rig.err());
  ASSERT_TRUE(s.found) << rig.err();
  EXPECT_EQ(s.received, 10U);
}

}  // namespace

// Uploads: the bytes a file becomes on the wire, their pace, and what the operator reads.

#include "serial/upload.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "serial/line_end.hpp"
#include "sim/console_model.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

const std::string kSending = "\nEnviando o conteudo do arquivo... ";
const std::string kAdvice = "\nReinicialize o equipamento para efetivar as configuracoes. \r\n";
const std::string kEmpty = "\nATENCAO: o arquivo esta vazio: nada dele foi enviado.\n";

std::vector<double> gaps_ms(const std::vector<Clock::time_point>& t) {
  std::vector<double> g;
  for (std::size_t i = 1; i < t.size(); ++i) g.push_back(ms_between(t[i - 1], t[i]));
  std::sort(g.begin(), g.end());
  return g;
}

struct WireCase {
  const char* name;
  std::string content;
  int mode;
  std::string wire;
  std::string told;  // what the operator is told of bytes not sent, or of an empty file
};

void PrintTo(const WireCase& c, std::ostream* os) { *os << c.name; }

class UploadWire : public testing::TestWithParam<WireCase> {};

TEST_P(UploadWire, FileBecomesTheseBytes) {
  const WireCase& c = GetParam();
  Rig rig({.entry = [&] {
    write_file("drovan.conf", c.content);
    send_file(c.mode, "drovan.conf");
    return 0;
  }});
  EXPECT_EQ(rig.wait_exit(5), 0);
  EXPECT_EQ(rig.wire(), c.wire);
  // A file of which nothing is typed gets no verdict.
  const bool typed = std::any_of(c.content.begin(), c.content.end(),
                                 [](char b) { return static_cast<signed char>(b) > 0; });
  EXPECT_EQ(rig.out(), kSending + (typed ? kNoEchoVerdict : "") + c.told + kAdvice);
  EXPECT_EQ(rig.err(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Upload, UploadWire,
    testing::Values(WireCase{"LineFeedsGetCarriageReturns", "A\nB\n", 1, "set conf\rA\r\nB\r\n\r"},
                    WireCase{"CrLfUnchanged", "A\r\nB\r\n", 1, "set conf\rA\r\nB\r\n\r"},
                    WireCase{"LoneCrUnchanged", "A\rB", 1, "set conf\rA\rB\r"},
                    WireCase{"LeadingLineFeedModeZero", "\nA", 0, "\r\nA\r"},
                    WireCase{"EightBitAndNulDropped",
                             std::string("A\0B\x80"
                                         "\xc3\xa9"
                                         "C",
                                         7),
                             0, "ABC\r",
                             "\nATENCAO: 4 bytes do arquivo fora do ASCII nao foram enviados "
                             "(linhas 1).\n"},
                    WireCase{"EmptyWithSetConf", "", 1, "set conf\r\r", kEmpty},
                    WireCase{"EmptyAlone", "", 0, "\r", kEmpty},
                    WireCase{"OtherModeIsFileAlone", "Z", 2, "Z\r"}),
    [](const testing::TestParamInfo<WireCase>& info) { return info.param.name; });

TEST(UploadPacing, DroppedBytesStillTakeTheirPause) {
  Rig rig({.entry = [] {
    write_file("drovan.conf", std::string("A\0\0\0\0B", 6));
    send_file(0, "drovan.conf");
    return 0;
  }});
  EXPECT_EQ(rig.wait_exit(5), 0);
  ASSERT_EQ(rig.wire(), "AB\r");
  EXPECT_GE(ms_between(rig.wire_bytes()[0].at, rig.wire_bytes()[1].at), 45.0);
}

TEST(UploadPacing, LongFileArrivesWholeAndPacedWhileTheDeviceEchoes) {
  // 2050 bytes: more than two reads of the file, with a CR ending the first read
  // and its LF starting the second, and a bare LF starting the third (which
  // needs no more than that: every byte costs 10 ms).
  std::string content;
  for (int i = 0; content.size() < 2050; ++i) content += "linha " + std::to_string(i) + "\n";
  content.resize(2050);
  content[1022] = 'x';
  content[1023] = '\r';
  content[1024] = '\n';
  content[2047] = 'y';
  content[2048] = '\n';
  std::string expected = "set conf\r";
  char previous = '\0';
  for (const char b : content) {
    if (cr_goes_before(previous, b)) expected += '\r';
    expected += b;
    previous = b;
  }
  expected += '\r';

  Rig rig({.echo = true, .entry = [&] {
             write_file("drovan.conf", content);
             send_file(1, "drovan.conf");
             return 0;
           }});
  // The device's answer to the last line comes a little after it.
  const std::string answer = "pronto> ";
  rig.on_wire = [&](Rig& r, char) {
    if (r.wire_bytes().size() != expected.size()) return;
    ::usleep(50'000);
    r.device_send(answer);
  };
  EXPECT_EQ(rig.wait_exit(60), 0);
  ASSERT_EQ(rig.wire(), expected);
  // Every echoed byte shown, in order (the port shows a received CR as LF), and
  // the answer, all before the advice.
  std::string shown = expected;
  std::replace(shown.begin(), shown.end(), '\r', '\n');
  EXPECT_EQ(rig.out(), kSending + shown + answer +
                           "\nEco conferido: o equipamento recebeu os 2050 bytes do arquivo.\n" +
                           kAdvice);

  // The file's own bytes, in wire order, skipping the CRs inserted before LFs.
  std::vector<Clock::time_point> file_bytes;
  const auto& w = rig.wire_bytes();
  for (std::size_t i = 9, f = 0; f < content.size(); ++i) {
    if (w[i].byte == '\r' && content[f] == '\n') continue;
    file_bytes.push_back(w[i].at);
    ++f;
  }
  const auto gaps = gaps_ms(file_bytes);
  // Echoes raise SIGIO all along; pauses must not be cut short by them. A late
  // wake-up of this reader makes single gaps look short, hence percentiles.
  EXPECT_GE(gaps[gaps.size() / 20], 9.0);
  EXPECT_GE(gaps[gaps.size() / 2], 9.95);
  EXPECT_GE(ms_between(file_bytes.front(), file_bytes.back()),
            10.0 * static_cast<double>(content.size() - 1) - 5);
}

// A console that loses the CR ending line 4 and echoes the LF after it alone:
// lines 4 and 5 run into one on the device. Its other line ends come back as
// CR LF, so the lone LF is told from a line end echoed whole.
TEST(UploadEcho, LostCrLfEchoedNamesItsLine) {
  const std::string prompt = "drovan(conf)> ";
  Rig rig({.entry = [] {
    write_file("drovan.conf",
               "e1.framing = cas-crc4\ne1.line_code = hdb3\ne1.signalling = r2-digital\n"
               "fxs.count = 16\nfxs.ports = 1-16\nfxo.count = 0\n");
    send_file(1, "drovan.conf");
    return 0;
  }});
  int crs = 0;
  bool after_cr = false;
  rig.on_wire = [&](Rig& r, char c) {
    const bool lf_of_crlf = c == '\n' && after_cr;
    after_cr = false;
    if (c == '\r') {
      if (++crs == 5) return;  // "set conf", lines 1 to 3, then line 4's: lost
      after_cr = true;
      r.device_send("\r\n" + prompt);
    } else if (!lf_of_crlf) {
      r.device_send(std::string_view(&c, 1));
    }
  };
  EXPECT_EQ(rig.wait_exit(30), 0);
  const std::string& out = rig.out();
  EXPECT_EQ(out.find("Eco conferido"), std::string::npos) << out;
  const auto warning = out.find("\nATENCAO: ");
  ASSERT_NE(warning, std::string::npos) << out;
  EXPECT_EQ(out.substr(warning),
            "\nATENCAO: 1 byte do arquivo nao voltou no eco do equipamento "
            "(linhas 4).\nEnvie o arquivo de novo antes de reinicializar o "
            "equipamento.\n" +
                kAdvice)
      << out;
}

// The menu's key 3 dialog.

const std::string kAskSetConf = "\nEnviar o comando 'set conf' (s/n)? ";
const std::string kAskReset = "\nDeseja resetar o equipamento (s/n)? ";

// Ctrl-C in the middle of a setting: the device must not act on the part of
// it that it holds. That part is erased, paced as typed keys, before the CR.
TEST(UploadInterrupted, MidLineErasesWhatTheDeviceHoldsThenEndsTheLine) {
  const std::string typed = "set conf\rfxo.count = 16\r\nfxs.count = 16\r\n";
  Rig rig({.entry = [] {
    write_file("drovan.conf", "fxo.count = 16\nfxs.count = 16\n");
    send_file(1, "drovan.conf");
    return 0;
  }});
  rig.on_wire = [](Rig& r, char) {
    if (r.wire_bytes().size() == std::string("set conf\rfxo.count = 16\r\nfxs.").size()) {
      ::kill(r.pid(), SIGINT);
    }
  };
  rig.wait_exit();
  rig.run_for(0.1);
  EXPECT_EQ(rig.exit_signal(), SIGINT);
  const std::string wire = rig.wire();
  const std::size_t erase = wire.find('\x7f');
  ASSERT_NE(erase, std::string::npos) << wire;
  const std::string part = wire.substr(0, erase);
  EXPECT_EQ(part, typed.substr(0, part.size()));
  const std::size_t held = part.size() - part.find_last_of("\r\n") - 1;
  EXPECT_GT(held, 0U);
  EXPECT_EQ(wire, part + std::string(held, '\x7f') + "\r");
  const auto& bytes = rig.wire_bytes();
  EXPECT_GE(ms_between(bytes[erase - 1].at, bytes.back().at), 10.0 * held - 2);
}

// The simulator's slow console played over the rig's pseudo-terminal: it takes
// a byte per 25 ms out of a 16-byte receive FIFO, edits its line (DEL erases a
// character and answers "\b \b") and acts on the line at CR. Its answers go
// back a byte per write, so that a DEL's answer may come in parts.
class SlowConsole final : public sim::Sink {
 public:
  explicit SlowConsole(Rig& rig)
      : rig_(rig), model_(*this, {.min_gap = std::chrono::milliseconds(25)}) {
    rig.on_wire = [this](Rig& r, char c) {
      model_.receive(std::string_view(&c, 1), r.wire_bytes().back().at);
      if (on_wire) on_wire(c);
    };
  }
  void put(std::string_view bytes) override {
    said.append(bytes);
    for (const char c : bytes) rig_.device_send(std::string_view(&c, 1));
  }
  // Pumps the rig and runs the console on time until done() holds or the time is up.
  void run_until(const std::function<bool()>& done, double seconds) {
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(seconds));
    while (!done() && Clock::now() < end) {
      const auto soon = Clock::now() + std::chrono::milliseconds(20);
      const auto next = std::min(model_.deadline().value_or(soon), soon);
      rig_.until([] { return false; }, std::chrono::duration<double>(next - Clock::now()).count());
      model_.tick(Clock::now());
    }
  }
  [[nodiscard]] const sim::ConsoleModel& model() const { return model_; }
  std::function<void(char)> on_wire;
  std::string said;

 private:
  Rig& rig_;
  sim::ConsoleModel model_;
};

// A signal in the middle of a line to a console slower than the typing's
// 10 ms: the erase goes at the console's pace, none of it overflows its FIFO,
// and the CR after it makes it act on an empty line, not on the cut one.
TEST(UploadInterrupted, EraseToASlowConsoleWaitsForEachDelsAnswer) {
  const std::string cut_line = "tdmoe.peer = 192.168.100.200   # bridge far end, site B (rack 4)";
  ASSERT_EQ(cut_line.size(), 64U);
  Rig rig({.entry = [cut_line] {
    write_file("drovan.conf", "fxo.count = 16\nfxs.count = 16\n" + cut_line + "\n");
    send_file(1, "drovan.conf");
    return 0;
  }});
  SlowConsole device(rig);
  const std::string typed = cut_line.substr(0, 48);
  device.on_wire = [&](char) {
    if (rig.wire().ends_with(typed)) ::kill(rig.pid(), SIGTERM);
  };
  device.run_until([&] { return rig.exited(); }, 60);
  ASSERT_EQ(rig.exit_signal(), SIGTERM);
  device.run_until([&] { return !device.model().deadline(); }, 5);
  rig.run_for(0.1);  // whatever the console still said

  const std::string wire = rig.wire();
  const std::size_t erase = wire.find('\x7f');
  ASSERT_NE(erase, std::string::npos) << wire;
  const std::size_t held = erase - wire.rfind('\n', erase) - 1;
  EXPECT_GE(held, typed.size());
  EXPECT_EQ(wire.substr(erase), std::string(held, '\x7f') + "\r");
  const sim::Counts& counts = device.model().counts();
  EXPECT_EQ(counts.dropped, 0U);
  EXPECT_EQ(counts.accepted, 2U);
  EXPECT_EQ(counts.rejected, 0U);
  std::string erased;
  for (std::size_t i = 0; i < held; ++i) erased += "\b \b";
  EXPECT_TRUE(device.said.ends_with(erased + "\r\n" + std::string(sim::kSessionPrompt)))
      << device.said;
}

TEST(ConfDialog, MissingFileReportsBothStreamsThenAsksAfterThreeSeconds) {
  Rig rig;
  rig.type("3\ns");
  ASSERT_TRUE(rig.wait_output(kAskSetConf + "\nImpossivel abrir o arquivo. "));
  const auto reported = Clock::now();
  ASSERT_TRUE(rig.wait_output(kAskReset, 6));
  EXPECT_GE(ms_between(reported, Clock::now()), 2900.0);
  rig.type("n");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(),
            kStartup + kMenu + kAskSetConf + "\nImpossivel abrir o arquivo. " + kAskReset + kMenu);
  EXPECT_EQ(rig.err(), "drovan.conf: No such file or directory\n");
  EXPECT_EQ(rig.wire(), "");
}

TEST(ConfDialog, NoPortShowsMenuErrorAndAdvice) {
  Rig rig({.device = false});
  write_file(rig.dir() + "/drovan.conf", "x\n");
  rig.type("3\nn");
  ASSERT_TRUE(rig.wait_output(kAskReset, 6));
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + kAskSetConf + kSending + kMenu + kPortErrorLine +
                           kAdvice + kAskReset);
}

TEST(ConfDialog, NineUploadsNothingOtherKeysIgnored) {
  Rig rig;
  write_file(rig.dir() + "/drovan.conf", "x\n");
  rig.type("3\ny5\n9");
  ASSERT_TRUE(rig.wait_output(kAskReset, 6));
  rig.type("y5\nn\n8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + kAskSetConf + kAskReset + kMenu);
  EXPECT_EQ(rig.wire(), "");
}

TEST(ConfDialog, FileAloneThenResetOnTheWire) {
  Rig rig;
  write_file(rig.dir() + "/drovan.conf", "x\n");
  rig.type("3\nN");
  ASSERT_TRUE(rig.wait_output(kAskReset, 6));
  rig.type("S");
  ASSERT_TRUE(rig.wait_output_count(kMenu, 2));
  EXPECT_EQ(rig.wire(),
            "x\r\n\r"
            "run reset\r");
  EXPECT_EQ(rig.out(), kStartup + kMenu + kAskSetConf + kSending + kNoEchoVerdict + kAdvice +
                           kAskReset + kMenu);
}

}  // namespace

// The simulated device's checker: every example of the catalogue passes it
// whole, and each kind of wrong setting is rejected with its reason.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "menus/example_catalogue.hpp"
#include "sim/conf_checker.hpp"
#include "sim/console_model.hpp"
#include "tests/rig.hpp"

namespace {

class StringSink final : public sim::Sink {
 public:
  void put(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

// The file as the program types it: a CR before every LF.
std::string typed(const std::string& file) {
  std::string out;
  for (const char c : file) {
    if (c == '\n') out.push_back('\r');
    out.push_back(c);
  }
  return out;
}

class ExampleFile : public testing::TestWithParam<ExampleConf> {};

TEST_P(ExampleFile, PassesTheCheckerWhole) {
  const std::string path(GetParam().path);
  const std::string file = read_file(std::string(DROVAN_SOURCE_DIR) + "/" + path);
  ASSERT_FALSE(file.empty()) << path;
  const std::size_t settings = settings_in(file);

  StringSink sink;
  sim::ConsoleModel model(sink, {});
  model.receive("set conf\r" + typed(file) + "\rrun reset\r", sim::Clock::now());
  model.tick(sim::Clock::time_point::max());
  EXPECT_EQ(model.counts().accepted, settings) << path;
  EXPECT_EQ(model.counts().rejected, 0U) << path << sink.text;
  EXPECT_EQ(sink.text.find("error"), std::string::npos) << sink.text;

  // What the file says is what the device now runs.
  for (std::size_t at = 0; at < file.size(); at = file.find('\n', at) + 1) {
    const std::string line = file.substr(at, file.find('\n', at) - at);
    const auto eq = line.find(" = ");
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    const auto key = sim::key_named(line.substr(0, eq));
    ASSERT_TRUE(key.has_value()) << line;
    EXPECT_EQ(model.active().get(*key), line.substr(eq + 3)) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, ExampleFile, testing::ValuesIn(kExampleCatalogue),
                         [](const auto& info) { return std::string(1, info.param.key); });

// Example after example without a reset, as menu 5 answered 'n' each time:
// each upload is judged on its own, not against the one before.
TEST(ExampleFile, UploadedInARowWithoutResetAllAccepted) {
  StringSink sink;
  sim::ConsoleModel model(sink, {});
  std::size_t settings = 0;
  for (const ExampleConf& example : kExampleCatalogue) {
    const std::string file =
        read_file(std::string(DROVAN_SOURCE_DIR) + "/" + std::string(example.path));
    settings += settings_in(file);
    model.receive("set conf\r" + typed(file) + "\r", sim::Clock::now());
    model.tick(sim::Clock::time_point::max());
  }
  EXPECT_EQ(model.counts().rejected, 0U) << sink.text;
  EXPECT_EQ(model.counts().accepted, settings);
}

struct LineCase {
  const char* name;
  std::vector<const char*> before;  // staged first, each accepted
  const char* line;
  const char* reason;  // nullptr: accepted
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

class CheckLine : public testing::TestWithParam<LineCase> {};

TEST_P(CheckLine, VerdictAndReason) {
  const LineCase& c = GetParam();
  sim::Settings staged;
  for (const char* before : c.before) {
    const sim::Verdict v = sim::check_line(before, staged);
    ASSERT_EQ(v.kind, sim::Verdict::kAccepted) << before << ": " << v.reason.data();
    staged.set(v.key, v.value);
  }
  const sim::Verdict v = sim::check_line(c.line, staged);
  if (c.reason == nullptr) {
    EXPECT_EQ(v.kind, sim::Verdict::kAccepted) << v.reason.data();
  } else {
    EXPECT_EQ(v.kind, sim::Verdict::kRejected);
    EXPECT_STREQ(v.reason.data(), c.reason);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CheckLine,
    testing::Values(
        LineCase{"Spaces", {}, "  fxo.count=4  ", nullptr},
        LineCase{"NoEquals", {}, "e1.framing cas-crc4", "not a setting: e1.framing cas-crc4"},
        LineCase{"UnknownKey", {}, "e1.fring = cas-crc4", "unknown key: e1.fring"},
        LineCase{"EmptyValue", {}, "fxs.count =", "bad value for fxs.count: "},
        LineCase{"BadWord", {}, "e1.framing = cas-", "bad value for e1.framing: cas-"},
        LineCase{"CountTooBig", {}, "fxo.count = 65", "bad value for fxo.count: 65"},
        LineCase{"CountNotNumber", {}, "fxo.count = 1x", "bad value for fxo.count: 1x"},
        LineCase{"RangeBackwards", {}, "fxs.ports = 9-3", "bad value for fxs.ports: 9-3"},
        LineCase{"RangePastLast", {}, "fxs.ports = 1-65", "bad value for fxs.ports: 1-65"},
        LineCase{
            "PeerNotAddress", {}, "tdmoe.peer = 192.168.1", "bad value for tdmoe.peer: 192.168.1"},
        LineCase{"PeerPartTooBig",
                 {},
                 "tdmoe.peer = 10.0.0.256",
                 "bad value for tdmoe.peer: 10.0.0.256"},
        LineCase{"CountAgainstPorts",
                 {"fxs.count = 16"},
                 "fxs.ports = 1-12",
                 "fxs.ports 1-12 does not match fxs.count 16 (one port per FXS line)"},
        LineCase{"PortsAgainstCountEitherOrder",
                 {"fxs.ports = 1-12"},
                 "fxs.count = 16",
                 "fxs.count 16 does not match fxs.ports 1-12 (one port per FXS line)"},
        LineCase{"FxoFromOne",
                 {"fxo.count = 4"},
                 "fxo.ports = 2-5",
                 "fxo.ports 2-5 does not match fxo.count 4 (FXO ports are numbered from 1)"},
        LineCase{"FxsAfterFxo",
                 {"fxo.count = 4", "fxs.count = 28"},
                 "fxs.ports = 1-28",
                 "fxs.ports 1-28 does not match fxo.count 4 (FXS ports follow the FXO ports)"},
        LineCase{
            "FxsRightAfterFxo", {"fxo.count = 4", "fxs.count = 28"}, "fxs.ports = 5-32", nullptr},
        LineCase{"TooManyPorts",
                 {"fxo.count = 32"},
                 "fxs.count = 48",
                 "fxs.count 48 does not match fxo.count 32 (64 ports at most)"},
        LineCase{"IsdnNeedsCcs",
                 {"e1.framing = cas-crc4"},
                 "e1.signalling = isdn",
                 "e1.signalling isdn does not match e1.framing cas-crc4 (R2 needs CAS framing, "
                 "ISDN CCS)"},
        LineCase{"LineCodeWithoutFraming",
                 {"e1.framing = off"},
                 "e1.line_code = hdb3",
                 "e1.line_code hdb3 does not match e1.framing off (a line code only with E1 "
                 "framing)"},
        LineCase{"BridgeE1WithoutE1",
                 {"e1.signalling = off"},
                 "tdmoe.bridge = e1",
                 "tdmoe.bridge e1 does not match e1.signalling off (bridging the E1 needs the E1 "
                 "line)"},
        LineCase{"PeerWithoutBridge",
                 {"tdmoe.bridge = off"},
                 "tdmoe.peer = 192.168.1.2",
                 "tdmoe.peer 192.168.1.2 does not match tdmoe.bridge off (a bridge needs a peer, "
                 "and only a bridge)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

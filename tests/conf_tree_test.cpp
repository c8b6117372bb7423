// The conf/ tree of the source: every file the catalogue names is there, fits
// one upload, is plain text, and configures what its menu label offers.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "menus/example_catalogue.hpp"
#include "tests/rig.hpp"

namespace {

const std::string kSource = DROVAN_SOURCE_DIR;

using Settings = std::vector<std::pair<std::string, std::string>>;

// "key = value" lines in order; comment and blank lines skipped. A line that
// is neither yields a setting with an empty value, which the checks reject.
Settings parse(const std::string& text) {
  Settings settings;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t eq = line.find(" = ");
    if (eq == std::string::npos) {
      settings.emplace_back(line, "");
    } else {
      settings.emplace_back(line.substr(0, eq), line.substr(eq + 3));
    }
  }
  return settings;
}

// Ports in a range "first-last", 0 for "none", -1 when it is neither.
int range_size(const std::string& range, int expected_first) {
  if (range == "none") return 0;
  const std::size_t dash = range.find('-');
  if (dash == std::string::npos || std::stoi(range.substr(0, dash)) != expected_first) return -1;
  return std::stoi(range.substr(dash + 1)) - expected_first + 1;
}

TEST(ConfTree, EveryFileIsPlainTextThatFitsOneUpload) {
  for (const auto& row : kExampleCatalogue) {
    const std::string path(row.path);
    const std::string text = read_file(kSource + "/" + path);
    ASSERT_FALSE(text.empty()) << path << " is missing or empty";
    EXPECT_LE(text.size(), 1024U) << path;
    EXPECT_EQ(text.back(), '\n') << path;
    EXPECT_EQ(text.rfind("# ", 0), 0U) << path << " has no header comment";
    for (const char c : text) {
      ASSERT_TRUE(c == '\n' || (c >= ' ' && c <= '~')) << path << ": byte " << int{c};
    }
  }
}

TEST(ConfTree, HoldsNothingButTheCatalogue) {
  std::set<std::string> listed;
  for (const auto& row : kExampleCatalogue) listed.emplace(row.path);
  EXPECT_EQ(listed.size(), kExampleCatalogue.size()) << "two rows send the same file";
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kSource + "/conf")) {
    if (!entry.is_directory()) {
      found.insert(std::filesystem::relative(entry.path(), kSource).string());
    }
  }
  EXPECT_EQ(found, listed);
}

struct Configured {
  char key;
  const char* signalling;
  const char* bridge;
  int fxo;
  int fxs;
};

// What each label promises (row l included: 4 FXO and 28 FXS).
constexpr Configured kConfigured[] = {
    {'a', "r2-digital", "off", 0, 16},      {'b', "r2-digital", "off", 0, 32},
    {'c', "r2-digital", "off", 16, 0},      {'d', "r2-digital", "off", 32, 0},
    {'e', "r2-digital", "off", 16, 16},     {'f', "r2-digital", "off", 4, 28},
    {'g', "r2-mfc5c", "off", 0, 16},        {'h', "r2-mfc5c", "off", 0, 32},
    {'i', "r2-mfc5c", "off", 16, 0},        {'j', "r2-mfc5c", "off", 32, 0},
    {'k', "r2-mfc5c", "off", 16, 16},       {'l', "r2-mfc5c", "off", 4, 28},
    {'m', "off", "ports", 0, 16},           {'n', "off", "ports", 0, 32},
    {'o', "off", "ports", 0, 48},           {'p', "off", "ports", 0, 64},
    {'q', "off", "ports", 16, 0},           {'r', "off", "ports", 32, 0},
    {'s', "off", "ports", 48, 0},           {'t', "off", "ports", 64, 0},
    {'u', "off", "ports", 16, 16},          {'v', "off", "ports", 32, 32},
    {'w', "r2-digital", "e1+ports", 0, 32}, {'x', "isdn", "e1+ports", 0, 32},
    {'y', "r2-digital", "e1", 0, 0},        {'z', "isdn", "e1", 0, 0},
};

TEST(ConfTree, EachFileConfiguresWhatItsLabelOffers) {
  const std::map<std::string, std::string> framing = {
      {"r2-digital", "cas-crc4"}, {"r2-mfc5c", "cas-crc4"}, {"isdn", "ccs-crc4"}, {"off", "off"}};
  std::vector<std::string> first_keys;
  for (const Configured& c : kConfigured) {
    const ExampleConf* row = example_for_key(c.key);
    ASSERT_NE(row, nullptr);
    const std::string path(row->path);
    const Settings settings = parse(read_file(kSource + "/" + path));

    // One format: the same settings, in the same order, in every file.
    std::vector<std::string> keys;
    std::map<std::string, std::string> value;
    for (const auto& [k, v] : settings) {
      EXPECT_FALSE(v.empty()) << path << ": \"" << k << '"';
      keys.push_back(k);
      value[k] = v;
    }
    if (first_keys.empty()) first_keys = keys;
    EXPECT_EQ(keys, first_keys) << path;

    EXPECT_EQ(value["e1.signalling"], c.signalling) << path;
    EXPECT_EQ(value["e1.framing"], framing.at(c.signalling)) << path;
    EXPECT_EQ(value["e1.line_code"], std::string(c.signalling) == "off" ? "off" : "hdb3") << path;
    EXPECT_EQ(value["tdmoe.bridge"], c.bridge) << path;
    // FXO ports come first, the FXS ports right after them.
    EXPECT_EQ(value["fxo.count"], std::to_string(c.fxo)) << path;
    EXPECT_EQ(value["fxs.count"], std::to_string(c.fxs)) << path;
    EXPECT_EQ(range_size(value["fxo.ports"], 1), c.fxo) << path;
    EXPECT_EQ(range_size(value["fxs.ports"], c.fxo + 1), c.fxs) << path;
  }
}

}  // namespace

// The installed tree as a technician gets it: `cmake --install` into a prefix of
// its own, then the installed program, started from an empty directory under
// the installed simulator, uploads an example that only the installed data
// directory holds.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "menus/example_catalogue.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

namespace fs = std::filesystem;

// Installs the build into a fresh prefix for the life of the object.
class InstalledTree {
 public:
  InstalledTree() {
    char templ[] = "/tmp/drovan-install-XXXXXX";
    if (::mkdtemp(templ) != nullptr) prefix_ = templ;
  }
  ~InstalledTree() {
    std::error_code ignored;
    if (!prefix_.empty()) fs::remove_all(prefix_, ignored);
  }
  InstalledTree(const InstalledTree&) = delete;
  InstalledTree& operator=(const InstalledTree&) = delete;

  // The installer's exit status; its output in log().
  int install() {
    Rig rig({.device = false,
             .executable = DROVAN_CMAKE_COMMAND,
             .args = {"--install", DROVAN_BINARY_DIR, "--prefix", prefix_}});
    const int status = rig.wait_exit(60);
    log_ = rig.out() + rig.err();
    return status;
  }
  [[nodiscard]] const std::string& prefix() const { return prefix_; }
  [[nodiscard]] const std::string& log() const { return log_; }

 private:
  std::string prefix_;
  std::string log_;
};

// The key = value lines of an example (neither comments nor blank lines).
unsigned long settings_in(const std::string& file) {
  unsigned long n = 0;
  for (std::size_t at = 0; at < file.size(); at = file.find('\n', at) + 1) {
    if (file[at] != '#' && file[at] != '\n') ++n;
  }
  return n;
}

TEST(Installed, FromAnEmptyDirectoryUploadsAnExample) {
  InstalledTree tree;
  ASSERT_EQ(tree.install(), 0) << tree.log();
  const fs::path prefix = tree.prefix();
  for (const ExampleConf& example : kExampleCatalogue) {
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/drovan-terminal" / example.path))
        << example.path;
  }
  for (const char* path :
       {"share/man/man1/drovan-terminal.1.gz", "share/man/man1/drovan-sim.1.gz",
        "share/man/pt_BR/man1/drovan-terminal.1.gz", "share/doc/drovan-terminal/guia-rapido.md"}) {
    EXPECT_TRUE(fs::is_regular_file(prefix / path)) << path;
  }

  const std::string bin = tree.prefix() + "/bin/";

  Rig rig({.device = false,
           .executable = bin + "drovan-sim",
           .args = {"--", bin + "drovan-terminal"}});  // a fresh, empty working directory
  if (!rig.wait_output(kMenu, 10) && rig.wait_exit(5) == 1) {
    GTEST_SKIP() << "namespaces refused here: " << rig.err();
  }
  ASSERT_NE(rig.out().find(kMenu), std::string::npos) << rig.out() << rig.err();
  rig.type("5");
  ASSERT_TRUE(rig.wait_output("<9> Retorna ao menu"));
  rig.type("a");
  ASSERT_TRUE(rig.wait_output("(s/n)? ", 30)) << rig.out() << rig.err();
  rig.type("s");
  ASSERT_TRUE(rig.wait_output_count(kMenu, 2, 10)) << rig.out();
  rig.type("8");
  EXPECT_EQ(rig.wait_exit(10), 0);

  EXPECT_EQ(rig.out().find("Impossivel abrir o arquivo"), std::string::npos) << rig.err();
  const std::string example =
      read_file(tree.prefix() + "/share/drovan-terminal/" + std::string(kExampleCatalogue[0].path));
  // Every line accepted, no byte dropped.
  const std::string summary = " bytes, 0 dropped, " + std::to_string(settings_in(example)) +
                              " configuration lines accepted, 0 rejected\n";
  EXPECT_NE(rig.err().find("drovan-sim: received "), std::string::npos) << rig.err();
  EXPECT_NE(rig.err().find(summary), std::string::npos) << rig.err();
  EXPECT_TRUE(fs::is_empty(rig.dir()));
}

}  // namespace

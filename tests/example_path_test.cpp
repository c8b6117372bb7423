// Where an example is read from: the working directory first, then the
// installed data directory, else the catalogue's own relative path (which the
// upload's error then names; ExampleDialog.WithoutConfTree... shows that text).

#include "menus/example_path.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/rig.hpp"

namespace {

namespace fs = std::filesystem;

constexpr const char* kRelative = "conf/r2/drovan_e1_r2_16fxs.txt";

enum class There { kNothing, kFile, kDirectory, kFileAsConf };
enum class Chosen { kRelative, kInstalled };

struct Case {
  const char* name;
  There workdir;
  There installed;
  Chosen chosen;
};

constexpr Case kCases[] = {
    {"working directory only", There::kFile, There::kNothing, Chosen::kRelative},
    {"installed tree only", There::kNothing, There::kFile, Chosen::kInstalled},
    {"both: the working directory wins", There::kFile, There::kFile, Chosen::kRelative},
    {"neither: the relative path, for the error", There::kNothing, There::kNothing,
     Chosen::kRelative},
    // Whatever stands at the path is used: the upload decides what it accepts.
    {"a directory in the working directory", There::kDirectory, There::kFile, Chosen::kRelative},
    {"conf is a plain file in the working directory", There::kFileAsConf, There::kFile,
     Chosen::kInstalled},
};

void lay(const fs::path& root, There what) {
  const fs::path file = root / kRelative;
  switch (what) {
    case There::kNothing:
      return;
    case There::kFile:
      fs::create_directories(file.parent_path());
      write_file(file, "x\n");
      return;
    case There::kDirectory:
      fs::create_directories(file);
      return;
    case There::kFileAsConf:
      write_file(root / "conf", "x\n");
      return;
  }
}

// Works from a directory of its own and goes back where it was when done.
class InDirectory {
 public:
  explicit InDirectory(const fs::path& dir) : saved_(fs::current_path()) { fs::current_path(dir); }
  ~InDirectory() {
    std::error_code ignored;
    fs::current_path(saved_, ignored);
  }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  fs::path saved_;
};

TEST(ExamplePath, WorkingDirectoryThenInstalledTreeThenTheRelativePath) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    char templ[] = "/tmp/drovan-lookup-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    const fs::path root = templ;
    const fs::path workdir = root / "work";
    const fs::path data_dir = root / "share" / "drovan-terminal";
    fs::create_directories(workdir);
    fs::create_directories(data_dir);
    lay(workdir, c.workdir);
    lay(data_dir, c.installed);

    PathBuffer out{};
    std::string found;
    {
      const InDirectory in(workdir);
      found = find_example(kRelative, data_dir.string(), out);
    }
    EXPECT_EQ(found, c.chosen == Chosen::kRelative ? kRelative : (data_dir / kRelative).string());
    fs::remove_all(root);
  }
}

}  // namespace

// What an upload does with a path that is no file to type: a directory, a FIFO
// (which must not hang the program), a link to an endless device. Each is
// refused as a file that cannot be opened, with its reason, and nothing reaches
// the port: from menu 3's upload, from an example, and from terminal mode's '3'.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "menus/example_catalogue.hpp"
#include "serial/upload.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

struct Refused {
  const char* name;
  void (*make)(const std::string& path);
  const char* reason;
};

void PrintTo(const Refused& c, std::ostream* os) { *os << c.name; }

void make_directory(const std::string& path) { std::filesystem::create_directories(path); }
void make_fifo(const std::string& path) { (void)::mkfifo(path.c_str(), 0600); }
void make_zero_link(const std::string& path) { std::filesystem::create_symlink("/dev/zero", path); }

const Refused kRefused[] = {
    {"Directory", make_directory, "Is a directory"},
    {"Fifo", make_fifo, "Not a regular file"},
    {"LinkToDevZero", make_zero_link, "Not a regular file"},
};

const std::string kCannotOpen = "\nImpossivel abrir o arquivo. ";

class RefusedFile : public testing::TestWithParam<Refused> {};

// Menu 3 and menu 5 both upload through send_file.
TEST_P(RefusedFile, UploadRefusesItBeforeThePort) {
  const Refused& c = GetParam();
  Rig rig({.entry = [&] {
    c.make("drovan.conf");
    send_file(1, "drovan.conf");
    return 0;
  }});
  EXPECT_EQ(rig.wait_exit(3), 0);
  EXPECT_EQ(rig.out(), kCannotOpen);
  EXPECT_EQ(rig.err(), std::string("drovan.conf: ") + c.reason + "\n");
  EXPECT_EQ(rig.wire(), "");
}

TEST_P(RefusedFile, ExampleIsRefusedAndTheQuestionStillComes) {
  const Refused& c = GetParam();
  const std::string path(kExampleCatalogue[0].path);
  Rig rig;
  std::filesystem::create_directories(std::filesystem::path(rig.dir() + "/" + path).parent_path());
  c.make(rig.dir() + "/" + path);
  rig.type("5a");
  ASSERT_TRUE(rig.wait_output(kCannotOpen + "\n\rDeseja reinicializar o equipamento? (s/n)? "));
  rig.type("n");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.err(), path + ": " + c.reason + "\n");
  EXPECT_EQ(rig.wire(), "");
}

TEST_P(RefusedFile, TerminalThreeSaysSoAndTheModeGoesOn) {
  const Refused& c = GetParam();
  Rig rig;
  c.make(rig.dir() + "/drovan.conf");
  rig.type("2\n3\nok\nq\n8\n");
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + "\n\rTecla <q> + ENTER sai do terminal\n\r" +
                           std::string(kSendingFile) + "\nImpossivel abrir o arquivo\n" + kMenu);
  EXPECT_EQ(rig.err(), std::string("drovan.conf: ") + c.reason + "\n");
  EXPECT_EQ(rig.wire(), "\n\rok\n\r");
}

INSTANTIATE_TEST_SUITE_P(Kinds, RefusedFile, testing::ValuesIn(kRefused),
                         [](const testing::TestParamInfo<Refused>& info) {
                           return info.param.name;
                         });

}  // namespace

// Menu key 5: the catalogue screen, the key-to-file table, the uploads and the
// reset question that follows them.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "menus/example_catalogue.hpp"
#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

const std::string kCatalogueScreen =
    "\nArquivos de exemplos"
    "\n====================\n"
    "E1 R2 Digital     ETH TDMoE          \n"
    "================= =================  \n"
    "<a> 16FXS         <m> 16FXS          \n"
    "<b> 32FXS         <n> 32FXS          \n"
    "<c> 16FXO         <o> 48FXS          \n"
    "<d> 32FXO         <p> 64FXS          \n"
    "<e> 16FXO 16FXS   <q> 16FXO          \n"
    "<f> 04FXO 28FXS   <r> 32FXO          \n"
    "                  <s> 48FXO          \n"
    "E1 R2 MFC5c       <t> 64FXO          \n"
    "================= <u> 16FXO 16FXS    \n"
    "<g> 16FXS         <v> 32FXO 32FXS    \n"
    "<h> 32FXS         <w> 32FXS BRG R2   \n"
    "<i> 16FXO         <x> 32FXS BRG ISDN \n"
    "<j> 32FXO         <y> BRIGDE CAS R2  \n"
    "<k> 16FXO 16FXS   <z> BRIDGE CCS ISDN\n"
    "<l> 04FXO 28FXS   <9> Retorna ao menu\n";

const std::string kSending = "\nEnviando...\n\r";
const std::string kResetPrompt = "\n\rDeseja reinicializar o equipamento? (s/n)? ";
const std::string kBackToMenu = "\r\n" + kMenu + "\r\n";

struct Example {
  char key;
  const char* label;
  const char* path;
};

void PrintTo(const Example& e, std::ostream* os) { *os << e.key << ' ' << e.path; }

// Written out again here, so that a slip in the program's table shows up.
constexpr Example kExpected[] = {
    {'a', "16FXS", "conf/r2/drovan_e1_r2_16fxs.txt"},
    {'b', "32FXS", "conf/r2/drovan_e1_r2_32fxs.txt"},
    {'c', "16FXO", "conf/r2/drovan_e1_r2_16fxo.txt"},
    {'d', "32FXO", "conf/r2/drovan_e1_r2_32fxo.txt"},
    {'e', "16FXO 16FXS", "conf/r2/drovan_e1_r2_16fxo_16fxs.txt"},
    {'f', "04FXO 28FXS", "conf/r2/drovan_e1_r2_4fxo_28fxs.txt"},
    {'g', "16FXS", "conf/r2mfc5c/drovan_e1_r2_mfc5c_16fxs.txt"},
    {'h', "32FXS", "conf/r2mfc5c/drovan_e1_r2_mfc5c_32fxs.txt"},
    {'i', "16FXO", "conf/r2mfc5c/drovan_e1_r2_mfc5c_16fxo.txt"},
    {'j', "32FXO", "conf/r2mfc5c/drovan_e1_r2_mfc5c_32fxo.txt"},
    {'k', "16FXO 16FXS", "conf/r2mfc5c/drovan_e1_r2_mfc5c_16fxo_16fxs.txt"},
    {'l', "04FXO 28FXS", "conf/r2mfc5c/drovan_e1_r2_mfc5c_4fxo_26fxs.txt"},
    {'m', "16FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_16fxs.txt"},
    {'n', "32FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_32fxs.txt"},
    {'o', "48FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_48fxs.txt"},
    {'p', "64FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_64fxs.txt"},
    {'q', "16FXO", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_16fxo.txt"},
    {'r', "32FXO", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_32fxo.txt"},
    {'s', "48FXO", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_48fxo.txt"},
    {'t', "64FXO", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_64fxo.txt"},
    {'u', "16FXO 16FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_16fxo_16fxs.txt"},
    {'v', "32FXO 32FXS", "conf/tdmoe/tdmoe-fx/drovan_tdmoe_conf_32fxo_32fxs.txt"},
    {'w', "32FXS BRG R2", "conf/tdmoe/tdmoe-e1+fxo_fxs/drovan_tdmoe_conf_e1_r2_32fxs.txt"},
    {'x', "32FXS BRG ISDN", "conf/tdmoe/tdmoe-e1+fxo_fxs/drovan_tdmoe_conf_e1_isdn_32fxs.txt"},
    {'y', "BRIGDE CAS R2", "conf/tdmoe/tdmoe-e1/drovan_tdmoe_conf_tdmoe-e1_r2.txt"},
    {'z', "BRIDGE CCS ISDN", "conf/tdmoe/tdmoe-e1/drovan_tdmoe_conf_tdmoe-e1_isdn.txt"},
};

TEST(ExampleCatalogue, EveryLetterChoosesItsOwnFile) {
  for (const Example& e : kExpected) {
    const ExampleConf* row = example_for_key(e.key);
    ASSERT_NE(row, nullptr) << e.key;
    EXPECT_EQ(row->label, e.label) << e.key;
    EXPECT_EQ(row->path, e.path) << e.key;
  }
  for (const char key : {'A', 'Z', '9', '0', '`', '{', '\n', '\0'}) {
    EXPECT_EQ(example_for_key(key), nullptr) << int{key};
  }
}

// The screen and ignored keys: 'A' and ENTER do nothing, '9' says it returns and
// asks the reset question a second later.
TEST(ExampleDialog, NineReturnsAndAsksAfterASecond) {
  Rig rig;
  rig.type("5\nA\n9");
  const std::string returning = kStartup + kMenu + kCatalogueScreen + "\nRetornando...\n\r";
  ASSERT_TRUE(rig.wait_output(returning));
  const auto returned = Clock::now();
  ASSERT_TRUE(rig.wait_output(kResetPrompt, 3));
  EXPECT_GE(ms_between(returned, Clock::now()), 950.0);
  rig.type("n");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), returning + kResetPrompt + kBackToMenu);
  EXPECT_EQ(rig.wire(), "");
}

TEST(ExampleDialog, ClosedInputLeavesAtOnce) {
  Rig rig;
  rig.type("5\nA");
  rig.close_input();
  const auto start = Clock::now();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_LT(ms_between(start, Clock::now()), 800.0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + kCatalogueScreen);
}

// The rest need the upload on the wire.

TEST(ExampleDialog, WithoutConfTreeReportsTheFileAndStillAsks) {
  Rig rig;  // a fresh directory: no conf/ in it
  rig.type("5z");
  ASSERT_TRUE(rig.wait_output(kResetPrompt, 5));
  rig.type("n");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + kCatalogueScreen + kSending +
                           "\nImpossivel abrir o arquivo. " + kResetPrompt + kBackToMenu);
  EXPECT_EQ(rig.err(),
            "conf/tdmoe/tdmoe-e1/drovan_tdmoe_conf_tdmoe-e1_isdn.txt: No such file or directory\n");
  EXPECT_EQ(rig.wire(), "");
}

class ExampleUpload : public testing::TestWithParam<Example> {};

TEST_P(ExampleUpload, SendsSetConfThenItsFile) {
  const Example& e = GetParam();
  const std::string shipped = read_file(std::string(DROVAN_SOURCE_DIR) + "/" + e.path);
  ASSERT_FALSE(shipped.empty()) << e.path;
  // Which file the key sends is checked here; the files themselves are ConfTree's.
  // The shipped file's header line alone stands at its path: typed in under a
  // second, where the whole file takes more than five.
  const std::string content = shipped.substr(0, shipped.find('\n') + 1);
  std::string typed;  // the files have LF line ends; each goes out as CR LF
  for (const char c : content) {
    if (c == '\n') typed += '\r';
    typed += c;
  }

  Rig rig;
  const std::filesystem::path path = rig.dir() + "/" + e.path;
  std::filesystem::create_directories(path.parent_path());
  write_file(path.string(), content);
  rig.type(std::string("5") + e.key);
  ASSERT_TRUE(rig.wait_output(kResetPrompt, 15));
  rig.type("n");
  rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.wire(), "set conf\r" + typed + "\r");
  EXPECT_EQ(rig.out(), kStartup + kMenu + kCatalogueScreen + kSending +
                           "\nEnviando o conteudo do arquivo... " + kNoEchoVerdict +
                           "\nReinicialize o equipamento para efetivar as configuracoes. \r\n" +
                           kResetPrompt + kBackToMenu);
}

// The first and last rows, and the two whose label and file name disagreed.
INSTANTIATE_TEST_SUITE_P(Keys, ExampleUpload,
                         testing::Values(kExpected[0], kExpected['d' - 'a'], kExpected['l' - 'a'],
                                         kExpected[25]),
                         [](const testing::TestParamInfo<Example>& info) {
                           return std::string(1, info.param.key);
                         });

}  // namespace

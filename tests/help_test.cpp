// Menu key 7: the help screen and the ways back from it.

#include <gtest/gtest.h>

#include <string>

#include "tests/rig.hpp"
#include "tests/texts.hpp"

namespace {

// The version must be the one of the start-up line, kStartup's "1.0".
const std::string kHelp =
    "\nSoftware terminal DROVAN TDMoE para Linux Versao 1.0"
    "\n===================================================="
    "\n"
    "\nAjuda do menu:"
    "\nMenu 1: Selecione a porta de comunicacao, pode-se verificar se o driver esta instalado "
    "atraves do comando lsusb e mostrara ' Future Technology Devices International, Ltd FT232 "
    "USB-Serial (UART) IC'e lsmod | grep ftdi, mostrara ftdi_sio."
    "\nMenu 2: Se comunica com o DROVAN via terminal, tecle q + <ENTER> para sair e tecle 3 + "
    "<ENTER> para enviar o conteudo do drovan.conf."
    "\nMenu 3: Envia o conteudo do arquivo drovan.conf localizado no mesmo diretorio do "
    "aplicativo."
    "\nMenu 4: Habilita / desabilita a gravacao de os todos dados da comunicacao serial no modo "
    "terminal para o arquivo drovan.conf."
    "\nMenu 5: Abre a envia exemplos de arquivos de configuracao do DROVAN."
    "\nMenu 6: Envia comando de reset para o DROVAN TDMoE."
    "\nMenu 7: Mostra este conteudo."
    "\nMenu 8: Fecha a porta serial e finaliza o programa!"
    "\nTecle s + <ENTER> para retornar ao menu...";

struct HelpCase {
  const char* name;
  const char* keys;
  bool close_input;
  std::string after;  // everything printed after the help screen
};

void PrintTo(const HelpCase& c, std::ostream* os) { *os << c.name; }

class HelpKeys : public testing::TestWithParam<HelpCase> {};

TEST_P(HelpKeys, ScreenThenKeys) {
  const HelpCase& c = GetParam();
  Rig rig({.device = false});
  rig.type(c.keys);
  if (c.close_input) rig.close_input();
  EXPECT_EQ(rig.wait_exit(), 0);
  EXPECT_EQ(rig.out(), kStartup + kMenu + kHelp + c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Help, HelpKeys,
    testing::Values(
        // Upper-case S and other keys are ignored; only 's' brings the menu back.
        HelpCase{"LowerSReturnsToMenu", "7\nS\nx1\ns\n8\n", false, kMenu},
        // '9' leaves without the menu, and the main loop obeys the next key.
        HelpCase{"NineLeavesWithoutMenu", "7\n9\n4\n8\n", false,
                 menu_text(true) + "\nGravando dados do terminal em drovan.conf\n\r"},
        HelpCase{"ClosedInputEndsIt", "7\nS", true, ""}),
    [](const testing::TestParamInfo<HelpCase>& info) { return info.param.name; });

}  // namespace

#pragma once

#include <array>
#include <string_view>

// The help screen of menu key 7. Each text brings its own leading line feed;
// the version is printed right after kHelpTitle.

inline constexpr std::string_view kHelpTitle =
    "\nSoftware terminal DROVAN TDMoE para Linux Versao ";

inline constexpr std::array<std::string_view, 11> kHelpBody = {
    "\n====================================================",
    "\n",
    "\nAjuda do menu:",
    "\nMenu 1: Selecione a porta de comunicacao, pode-se verificar se o driver esta instalado "
    "atraves do comando lsusb e mostrara ' Future Technology Devices International, Ltd FT232 "
    "USB-Serial (UART) IC'e lsmod | grep ftdi, mostrara ftdi_sio.",
    "\nMenu 2: Se comunica com o DROVAN via terminal, tecle q + <ENTER> para sair e tecle 3 + "
    "<ENTER> para enviar o conteudo do drovan.conf.",
    "\nMenu 3: Envia o conteudo do arquivo drovan.conf localizado no mesmo diretorio do "
    "aplicativo.",
    "\nMenu 4: Habilita / desabilita a gravacao de os todos dados da comunicacao serial no modo "
    "terminal para o arquivo drovan.conf.",
    "\nMenu 5: Abre a envia exemplos de arquivos de configuracao do DROVAN.",
    "\nMenu 6: Envia comando de reset para o DROVAN TDMoE.",
    "\nMenu 7: Mostra este conteudo.",
    "\nMenu 8: Fecha a porta serial e finaliza o programa!",
};

inline constexpr std::string_view kHelpReturnPrompt =
    "\nTecle s + <ENTER> para retornar ao menu...";

#pragma once

// The console texts as the operator must see them, written out in full here so
// that a changed byte in the program shows up as a failed comparison.

#include <string>

inline const std::string kStartup = "\rVersao: 1.0";

inline std::string menu_text(bool capturing) {
  return std::string("\n---------------------------------\n") +
         "|        DROVAN Terminal         |\n"
         "---------------------------------\n"
         "<1> Selecionar a porta de comunicacao\n"
         "<2> Modo terminal \n"
         "<3> Enviar o arquivo drovan.conf \n" +
         (capturing ? "<4> Para de gravar dados da serial no arquivo \n"
                    : "<4> Gravar dados da serial no arquivo \n") +
         "<5> Enviar exemplo de arquivo conf \n"
         "<6> Resetar o DROVAN TDMoE \n"
         "<7> Ajuda \n"
         "<8> Sair \n";
}

inline const std::string kMenu = menu_text(false);
inline const std::string kPortErrorLine = "\nERRO: A porta esta ocupada ou nao existe!\n";
// The verdict of an upload to a device that echoes nothing (the tests' own, as a rule).
inline const std::string kNoEchoVerdict =
    "\nO equipamento nao ecoou o arquivo: a recepcao nao pode ser conferida.\n";

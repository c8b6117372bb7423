#include "menus/main_menu.hpp"

#include <array>
#include <csignal>

#include "capture/capture.hpp"
#include "console/console.hpp"
#include "menus/conf_dialog.hpp"
#include "menus/examples.hpp"
#include "menus/help.hpp"
#include "menus/port_dialog.hpp"
#include "menus/terminal.hpp"
#include "serial/command.hpp"
#include "serial/pause.hpp"

namespace {

constexpr std::array<std::string_view, 3> kMenuHead = {
    "\n---------------------------------",
    "|        DROVAN Terminal         |",
    "---------------------------------",
};
constexpr std::array<std::string_view, 3> kMenuItems1To3 = {
    "<1> Selecionar a porta de comunicacao",
    "<2> Modo terminal ",
    "<3> Enviar o arquivo drovan.conf ",
};
constexpr std::string_view kItem4CaptureOff = "<4> Gravar dados da serial no arquivo ";
constexpr std::string_view kItem4CaptureOn = "<4> Para de gravar dados da serial no arquivo ";
constexpr std::array<std::string_view, 4> kMenuItems5To8 = {
    "<5> Enviar exemplo de arquivo conf ",
    "<6> Resetar o DROVAN TDMoE ",
    "<7> Ajuda ",
    "<8> Sair ",
};

void reset_from_menu() {
  console_write("\n\rReinicializando... ");
  send_command("run reset");
  pause_us(3 * kSecondUs);
  print_menu();
}

// Key 4: switches the capture and shows the menu with the new state.
void capture_toggle() {
  wr_fl = wr_fl == 0 ? 1 : 0;
  print_menu();
  console_write(wr_fl == 1 ? "\nGravando dados do terminal em drovan.conf\n\r"
                           : "\nParou de gravar.\n\r");
}

struct MenuAction {
  char key;
  void (*run)();
};

// Keys 1 to 7; key 8 ends the loop itself.
constexpr std::array<MenuAction, 7> kMenuActions = {{
    {'1', port_dialog},
    {'2', terminal_mode},
    {'3', conf_file_dialog},
    {'4', capture_toggle},
    {'5', example_dialog},
    {'6', reset_from_menu},
    {'7', help_dialog},
}};

void run_menu_key(int key) {
  for (const auto& action : kMenuActions) {
    if (action.key == key) action.run();
  }
}

}  // namespace

void print_menu() {
  for (const auto line : kMenuHead) console_line(line);
  for (const auto line : kMenuItems1To3) console_line(line);
  console_line(wr_fl == 0 ? kItem4CaptureOff : kItem4CaptureOn);
  for (const auto line : kMenuItems5To8) console_line(line);
}

int drovan_main() {
  console_claim_standard_descriptors();
  // A console that stops reading our output must not kill the program.
  (void)std::signal(SIGPIPE, SIG_IGN);

  console_write("\rVersao: ");
  console_write(VERSAO);
  print_menu();

  int running = 1;
  while (running != 0) {
    const int key = console_getc();
    if (key == kConsoleClosed) break;
    if (key == '8') running = 0;
    run_menu_key(key);
    // Closed input ends the program at once, also when a dialog noticed it.
    if (console_closed()) break;
    pause_us(kKeyPauseUs);
  }
  console_flush();
  return 0;
}

#include "menus/conf_dialog.hpp"

#include "menus/dialog.hpp"
#include "menus/main_menu.hpp"
#include "serial/upload.hpp"

void conf_file_dialog() {
  console_write("\nEnviar o comando 'set conf' (s/n)? ");
  dialog_key_loop([](char key) {
    switch (key) {
      case 'S':
      case 's':
        send_file(1, kConfFile, print_menu);
        return true;
      case 'N':
      case 'n':
        send_file(0, kConfFile, print_menu);
        return true;
      default:
        return false;
    }
  });
  if (console_closed()) return;
  pause_us(3 * kSecondUs);
  reset_question("\nDeseja resetar o equipamento (s/n)? ");
  if (console_closed()) return;
  print_menu();
}

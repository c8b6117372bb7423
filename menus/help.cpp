#include "menus/help.hpp"

#include "console/console.hpp"
#include "menus/dialog.hpp"
#include "menus/help_text.hpp"
#include "menus/main_menu.hpp"

void print_menu_ajuda() {
  console_write(kHelpTitle);
  console_write(VERSAO);
  for (const auto text : kHelpBody) console_write(text);
}

void help_dialog() {
  print_menu_ajuda();
  console_write(kHelpReturnPrompt);
  // Only a lower-case 's' brings the menu back; '9' leaves without it.
  dialog_key_loop([](char key) {
    if (key != 's') return false;
    print_menu();
    return true;
  });
}

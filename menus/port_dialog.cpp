#include "menus/port_dialog.hpp"

#include <cstring>

#include "console/console.hpp"
#include "menus/dialog.hpp"
#include "menus/main_menu.hpp"
#include "menus/port_table.hpp"
#include "serial/port.hpp"

void print_menu_porta() {
  console_write("\nEscolha a porta");
  console_line("\n===============");
  for (const auto& port : kPortChoices) {
    console_putc('<');
    console_putc(port.key);
    console_write("> ");
    console_write(port.name);
    console_line(port.is_default ? " (Padrao)" : "");
  }
  console_line("<9> Retorna ao menu");
}

void port_dialog() {
  print_menu_porta();
  dialog_key_loop([](char key) {
    for (const auto& port : kPortChoices) {
      if (port.key != key) continue;
      console_write("\nPorta: ");
      console_line(port.name);
      // The terminator goes with the path: a longer name chosen before must not show through.
      std::memcpy(devicename, port.path.data(), port.path.size());
      devicename[port.path.size()] = '\0';
      return true;
    }
    return false;
  });
  if (console_closed()) return;
  print_menu();
  console_write("\nPorta ");
  console_write(devicename);
  console_write(" selecionada\n");
}

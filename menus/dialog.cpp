#include "menus/dialog.hpp"

#include "serial/command.hpp"

void reset_question(std::string_view prompt) {
  console_write(prompt);
  dialog_key_loop([](char key) {
    switch (key) {
      case 'S':
      case 's':
        send_command("run reset");
        return true;
      case 'N':
      case 'n':
        return true;
      default:
        return false;
    }
  });
}

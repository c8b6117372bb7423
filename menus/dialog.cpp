#include "menus/dialog.hpp"

#include <termios.h>
#include <unistd.h>

#include "serial/command.hpp"

void reset_question(std::string_view prompt) {
  console_write(prompt);
  console_flush();
  // A key pressed during the upload (a double press of the dialog's 's') must not
  // answer a question it was never typed for. Scripted input is kept: it is meant.
  // The console reads with read(2) alone, so the terminal's queue is all there is.
  if (::isatty(STDIN_FILENO) != 0) (void)::tcflush(STDIN_FILENO, TCIFLUSH);
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

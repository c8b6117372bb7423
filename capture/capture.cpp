#include "capture/capture.hpp"

#include <fcntl.h>

#include "menus/console.hpp"
#include "menus/main_menu.hpp"
#include "serial/unique_fd.hpp"
#include "serial/upload.hpp"
#include "serial/write_all.hpp"

int wr_fl = 0;

void capture_toggle() {
  wr_fl = wr_fl == 0 ? 1 : 0;
  print_menu();
  console_write(wr_fl == 1 ? "\nGravando dados do terminal em drovan.conf\n\r"
                           : "\nParou de gravar.\n\r");
}

void receive_file(char c) {
  // Appending mode: created when missing, every byte goes to the end.
  const UniqueFd file(::open(kConfFile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
  // A full disk loses the byte just as surely as a file that cannot be opened.
  if (!file.is_open() || !write_all(file.get(), &c, 1)) {
    console_line("Impossivel gravar em drovan.conf.");
  }
}

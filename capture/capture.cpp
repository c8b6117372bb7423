#include "capture/capture.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "menus/console.hpp"
#include "menus/main_menu.hpp"
#include "serial/write_all.hpp"

int wr_fl = 0;

void capture_toggle() {
  wr_fl = wr_fl == 0 ? 1 : 0;
  print_menu();
  console_write(wr_fl == 1 ? "\nGravando dados do terminal em drovan.conf\n\r"
                           : "\nParou de gravar.\n\r");
}

void receive_file(char c) {
  const int file = ::open(kCaptureFile.data(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (file < 0) {
    console_line("Impossivel gravar em drovan.conf.");
    return;
  }
  write_all(file, &c, 1);
  ::close(file);
}

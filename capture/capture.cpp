#include "capture/capture.hpp"

#include <fcntl.h>

#include "console/console.hpp"
#include "console/unique_fd.hpp"
#include "console/write_all.hpp"
#include "serial/upload.hpp"

int wr_fl = 0;

void receive_file(char c) {
  // Appending mode: created when missing, every byte goes to the end. Never blocking:
  // a FIFO in its place must not freeze the terminal.
  const UniqueFd file(
      ::open(kConfFile, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666));
  // A full disk loses the byte just as surely as a file that cannot be opened.
  if (!file.is_open() || !write_all(file.get(), &c, 1)) {
    console_line("Impossivel gravar em drovan.conf.");
  }
}

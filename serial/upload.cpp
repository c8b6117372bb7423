#include "serial/upload.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "menus/console.hpp"
#include "menus/main_menu.hpp"
#include "serial/pause.hpp"
#include "serial/port.hpp"
#include "serial/unique_fd.hpp"
#include "serial/write_all.hpp"

std::array<char, kFileReadSize> buf_storage{};

namespace {

ssize_t read_some(int file_fd, char* into, std::size_t size) {
  ssize_t n = 0;
  do {
    n = ::read(file_fd, into, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

// Types n bytes of buf_storage; `previous` carries the last byte across reads,
// so a CR that ends one read and an LF that starts the next stay CR LF.
void pace_bytes(int port_fd, std::size_t n, char& previous) {
  for (std::size_t i = 0; i < n; ++i) {
    const char b = buf_storage[i];
    if (b == '\n' && previous != '\r') write_all(port_fd, "\r", 1);
    previous = b;
    pause_us(kKeyPauseUs);
    // The device's console takes 7-bit ASCII only; NUL and 8-bit bytes are skipped.
    if (static_cast<signed char>(b) > 0) write_all(port_fd, &b, 1);
  }
}

}  // namespace

void send_paced_file(int port_fd, int file_fd) {
  char previous = '\0';
  for (;;) {
    const ssize_t n = read_some(file_fd, buf_storage.data(), buf_storage.size());
    if (n <= 0) return;
    pace_bytes(port_fd, static_cast<std::size_t>(n), previous);
  }
}

void send_file(int mode, const char* path) {
  const UniqueFd file(::open(path, O_RDONLY | O_CLOEXEC));
  if (!file.is_open()) {
    console_write("\nImpossivel abrir o arquivo. ");
    console_perror(path);
    return;
  }
  console_write(kSendingFile);
  {
    const PortCycle port;
    if (!port.is_open()) {
      print_menu();
      print_port_error();
    } else {
      pause_us(kCommandPauseUs);
      if (mode == 1) write_all(fd, std::string_view("set conf\r"));
      pause_us(kCommandPauseUs);
      send_paced_file(fd, file.get());
      pause_us(kCommandPauseUs);
      write_all(fd, std::string_view("\r"));
      drain(kUploadDrainPauseUs);
      pause_us(kUploadDrainPauseUs);
    }
  }
  console_write("\nReinicialize o equipamento para efetivar as configuracoes. ");
  console_line("\r");
}

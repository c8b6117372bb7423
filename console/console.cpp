#include "console/console.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "console/ending_signals.hpp"
#include "console/write_all.hpp"

namespace {

std::array<char, 4096> out_buf;
std::size_t out_used = 0;
bool input_ended = false;

}  // namespace

void console_flush() {
  if (out_used == 0) return;
  // If standard output is gone there is nobody to show this to; drop it and go on.
  write_all(STDOUT_FILENO, out_buf.data(), out_used);
  out_used = 0;
}

void console_write(std::string_view text) {
  bool line_ended = false;
  while (!text.empty()) {
    if (out_used == out_buf.size()) console_flush();
    const std::size_t n = std::min(text.size(), out_buf.size() - out_used);
    std::memcpy(out_buf.data() + out_used, text.data(), n);
    line_ended = line_ended || text.substr(0, n).find('\n') != std::string_view::npos;
    out_used += n;
    text.remove_prefix(n);
  }
  if (line_ended) console_flush();
}

void console_line(std::string_view text) {
  console_write(text);
  console_putc('\n');
}

void console_putc(char c) { console_write(std::string_view(&c, 1)); }

void console_perror(const char* what) { console_error(what, std::strerror(errno)); }

void console_error(const char* what, std::string_view reason) {
  console_flush();
  write_all(STDERR_FILENO, std::string_view(what));
  write_all(STDERR_FILENO, std::string_view(": "));
  write_all(STDERR_FILENO, reason);
  write_all(STDERR_FILENO, std::string_view("\n"));
}

void console_claim_standard_descriptors() {
  for (int d = STDIN_FILENO; d <= STDERR_FILENO; ++d) {
    if (::fcntl(d, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: the closed one. It stays open for the whole run.
    const int null = ::open("/dev/null", O_RDWR);
    if (null != d && null >= 0) ::close(null);
  }
}

int console_getc() {
  console_flush();
  if (input_ended) return kConsoleClosed;
  unsigned char c = 0;
  ssize_t n = ::read(STDIN_FILENO, &c, 1);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    // Standard input inherited in non-blocking mode: wait for it as a blocking read would.
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (wait_ready(&p, 1, nullptr) < 0) return kConsoleInterrupted;
    n = ::read(STDIN_FILENO, &c, 1);
  }
  if (n == 1) return c;
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
    return kConsoleInterrupted;
  }
  // End of file, or an input that can no longer be read (EIO, EBADF): nothing
  // more will ever come from the operator.
  input_ended = true;
  return kConsoleClosed;
}

bool console_closed() { return input_ended; }

#include "serial/port.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "menus/console.hpp"
#include "serial/pause.hpp"

char devicename[kDeviceNameSize] = "/dev/ttyUSB0";
int fd = -1;
volatile std::sig_atomic_t wait_flag = 1;
struct termios newtio {};
struct sigaction saio {};

void signal_handler_IO(int /*signal_number*/) { wait_flag = 0; }

void conf_serial() {
  saio = {};
  saio.sa_handler = signal_handler_IO;
  sigemptyset(&saio.sa_mask);
  saio.sa_flags = 0;  // no SA_RESTART: the signal must end a wait for the console
  ::sigaction(SIGIO, &saio, nullptr);

  newtio = {};
  newtio.c_cflag = B115200 | CS8 | CLOCAL | CREAD;
  newtio.c_iflag = ICRNL;
  newtio.c_oflag = ONLCR;  // without OPOST: bytes reach the line unchanged
  newtio.c_lflag = 0;
  newtio.c_cc[VMIN] = 1;
  newtio.c_cc[VTIME] = 0;
  ::cfsetispeed(&newtio, B115200);
  ::cfsetospeed(&newtio, B115200);

  ::fcntl(fd, F_SETOWN, ::getpid());
  ::fcntl(fd, F_SETFL, O_ASYNC);
  ::tcflush(fd, TCIFLUSH);
  ::tcsetattr(fd, TCSANOW, &newtio);
}

void print_port_error() { console_line(kPortError); }

PortCycle::PortCycle() {
  fd = ::open(devicename, O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return;
  conf_serial();
  // Whatever was signalled before the flush is gone with the flushed bytes.
  wait_flag = 1;
}

PortCycle::~PortCycle() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

namespace {

// The port's reads block once it is configured; only read what is already there.
bool port_has_input() {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace

void drain(long pause_microseconds, ByteConsumer consumer) {
  if (wait_flag != 0) return;
  if (fd >= 0 && port_has_input()) {
    std::array<char, kPortReadSize> received{};
    ssize_t n = 0;
    do {
      n = ::read(fd, received.data(), received.size());
    } while (n < 0 && errno == EINTR);
    for (ssize_t i = 0; i < n; ++i) {
      console_putc(received[static_cast<std::size_t>(i)]);
      if (consumer != nullptr) consumer(received[static_cast<std::size_t>(i)]);
    }
  }
  pause_us(pause_microseconds);
  wait_flag = 1;
}

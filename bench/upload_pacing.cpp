// Pacing of an upload: a 1024-byte file typed through the program's own upload
// code to an echoing pseudo-terminal device. Prints the time from the first to
// the last file byte against the ideal 10.23 s and the gaps between file bytes.

#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/port.hpp"
#include "serial/upload.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFileSize = 1024;

}  // namespace

int main() {
  int master = -1;
  int slave = -1;
  char name[128] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  std::snprintf(devicename, sizeof devicename, "%.79s", name);

  char dir_template[] = "/tmp/drovan-bench-XXXXXX";
  if (::mkdtemp(dir_template) == nullptr || ::chdir(dir_template) != 0) return 1;
  std::string content;
  for (std::size_t i = 0; i < kFileSize; ++i) content += static_cast<char>('!' + i % 90);
  FILE* f = std::fopen("drovan.conf", "wb");
  if (f == nullptr) return 1;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);

  // The device: records each byte's arrival and echoes it back. SIGIO is left
  // to the uploading thread, as in the program.
  std::vector<Clock::time_point> arrivals;
  arrivals.reserve(kFileSize + 16);
  std::atomic<bool> stop{false};
  std::thread device([&] {
    sigset_t io;
    sigemptyset(&io);
    sigaddset(&io, SIGIO);
    pthread_sigmask(SIG_BLOCK, &io, nullptr);
    // Where allowed, a real-time reader stamps each byte as it lands, so that
    // its own late wake-ups do not show as short gaps.
    sched_param priority{};
    priority.sched_priority = 10;
    const bool realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
    std::fprintf(stderr, "device reader: %s\n", realtime ? "real-time" : "normal priority");
    char buf[256];
    while (!stop) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      const auto now = Clock::now();
      if (n <= 0) continue;
      for (ssize_t i = 0; i < n; ++i) arrivals.push_back(now);
      (void)!::write(master, buf, static_cast<std::size_t>(n));
    }
  });

  send_file(0, "drovan.conf");
  stop = true;
  (void)!::write(slave, "\n", 1);  // wakes the device's last read
  device.join();

  if (arrivals.size() < kFileSize) {
    std::fprintf(stderr, "only %zu bytes reached the device\n", arrivals.size());
    return 1;
  }
  std::vector<double> gaps;
  for (std::size_t i = 1; i < kFileSize; ++i) {
    gaps.push_back(
        std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count());
  }
  const double total = std::chrono::duration<double>(arrivals[kFileSize - 1] - arrivals[0]).count();
  std::sort(gaps.begin(), gaps.end());
  const double ideal = 10.23;
  std::printf("\nupload of %zu bytes to an echoing device\n", kFileSize);
  std::printf("first to last file byte: %.4f s (ideal %.2f s, %+.3f %%)\n", total, ideal,
              100.0 * (total - ideal) / ideal);
  std::printf("gap ms: min %.3f  median %.3f  p99 %.3f  max %.3f\n", gaps.front(),
              gaps[gaps.size() / 2], gaps[gaps.size() * 99 / 100], gaps.back());
  ::close(master);
  ::close(slave);
  return 0;
}

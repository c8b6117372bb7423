// Terminal mode as the operator feels it: how long a device's output takes to
// reach the console, and what an idle terminal costs. The program runs in a
// child driven through the test rig (a pseudo-terminal as the device, pipes as
// the console); the figures are printed, not judged. A reference relay, the
// least a program can do on this path (poll, read the port, write the console),
// runs beside it under the same bursts as the floor to compare with.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "console/unique_fd.hpp"
#include "console/write_all.hpp"
#include "serial/port.hpp"
#include "tests/rig.hpp"

namespace {

constexpr int kBursts = 200;  // for each of the two, interleaved
constexpr std::size_t kBurstSize = 32;
constexpr double kIdleSeconds = 10.0;
constexpr std::string_view kRelayReady = "relay ready\n";

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  return values[at];
}

// The reference relay, run in the rig's child in place of the program: the
// port opened and set up as the program does, but waited on with poll alone
// (no SIGIO), and each read written straight to standard output.
int relay() {
  const UniqueFd port(::open(devicename, O_RDWR | O_NOCTTY | O_NONBLOCK));
  if (!port.is_open()) return 1;
  termios line{};
  line.c_cflag = B115200 | CS8 | CLOCAL | CREAD;
  line.c_iflag = ICRNL;
  line.c_oflag = ONLCR;
  line.c_cc[VMIN] = 1;
  ::cfsetispeed(&line, B115200);
  ::cfsetospeed(&line, B115200);
  ::tcflush(port.get(), TCIFLUSH);
  if (::tcsetattr(port.get(), TCSANOW, &line) != 0) return 1;
  write_all(STDOUT_FILENO, kRelayReady);

  std::array<char, kPortReadSize> buf{};
  for (;;) {
    std::array<pollfd, 2> watch{{{STDIN_FILENO, POLLIN, 0}, {port.get(), POLLIN, 0}}};
    if (::poll(watch.data(), watch.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (watch[1].revents != 0) {
      const ssize_t n = ::read(port.get(), buf.data(), buf.size());
      if (n > 0) write_all(STDOUT_FILENO, buf.data(), static_cast<std::size_t>(n));
    }
    if (watch[0].revents != 0) {
      // Keys are not relayed; the end of input ends the relay.
      const ssize_t n = ::read(STDIN_FILENO, buf.data(), buf.size());
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return 0;
    }
  }
}

struct Latencies {
  std::vector<double> first_byte_ms;
  std::vector<double> whole_burst_ms;
};

// Waits `gap` seconds, then sends one burst to the device and times its arrival
// on the console.
bool time_burst(Rig& rig, double gap, const std::string& burst, Latencies& into) {
  rig.run_for(gap);
  const std::size_t shown = rig.out().size();
  const auto sent = Clock::now();
  rig.device_send(burst);
  if (!rig.until([&] { return rig.out().size() > shown; }, 2)) return false;
  into.first_byte_ms.push_back(ms_between(sent, Clock::now()));
  if (!rig.until([&] { return rig.out().size() >= shown + burst.size(); }, 2)) return false;
  into.whole_burst_ms.push_back(ms_between(sent, Clock::now()));
  return true;
}

void print_figures(const char* who, const Latencies& l) {
  std::printf("  %-6s first byte:  median %.3f ms, p99 %.3f ms\n", who,
              percentile(l.first_byte_ms, 0.5), percentile(l.first_byte_ms, 0.99));
  std::printf("  %-6s whole burst: median %.3f ms, p99 %.3f ms\n", who,
              percentile(l.whole_burst_ms, 0.5), percentile(l.whole_burst_ms, 0.99));
}

void print_ratio(const char* what, const std::vector<double>& ours,
                 const std::vector<double>& reference) {
  std::printf("  ours/floor %-12s median x%.2f, p99 x%.2f\n", what,
              percentile(ours, 0.5) / percentile(reference, 0.5),
              percentile(ours, 0.99) / percentile(reference, 0.99));
}

}  // namespace

int main() {
  Rig ours;
  ours.type("2\n");
  if (!ours.wait_output("\n\rTecla <q> + ENTER sai do terminal\n\r")) {
    (void)std::fprintf(stderr, "terminal mode did not start\n");
    return 1;
  }
  RigOptions relay_options;
  relay_options.entry = relay;
  Rig reference(relay_options);
  if (!reference.wait_output(kRelayReady)) {
    (void)std::fprintf(stderr, "the reference relay did not start\n");
    return 1;
  }

  // Both get the same gaps and bursts, one after the other, the first of each
  // pair changing sides, so that the machine's noise falls on both alike.
  std::mt19937 random(20240607);
  std::uniform_real_distribution<double> gap_seconds(0.001, 0.030);
  const std::string burst(kBurstSize, '#');
  Latencies ours_ms;
  Latencies floor_ms;
  for (int i = 0; i < kBursts; ++i) {
    const double gap = gap_seconds(random);
    const bool ours_first = i % 2 == 0;
    for (int side = 0; side < 2; ++side) {
      const bool is_ours = (side == 0) == ours_first;
      if (!time_burst(is_ours ? ours : reference, gap, burst, is_ours ? ours_ms : floor_ms)) {
        (void)std::fprintf(stderr, "%s: burst %d not shown whole\n", is_ours ? "ours" : "floor", i);
        return 1;
      }
    }
  }
  std::printf("display latency, %d bursts of %zu bytes at random intervals each:\n", kBursts,
              kBurstSize);
  print_figures("ours", ours_ms);
  print_figures("floor", floor_ms);
  print_ratio("first byte:", ours_ms.first_byte_ms, floor_ms.first_byte_ms);
  print_ratio("whole burst:", ours_ms.whole_burst_ms, floor_ms.whole_burst_ms);

  reference.close_input();
  const int floor_status = reference.wait_exit(5);

  ours.run_for(0.1);
  const double cpu = ours.child_cpu_seconds();
  const long wakeups = ours.child_wakeups();
  ours.run_for(kIdleSeconds);
  std::printf("idle in terminal mode for %.0f s: %.3f s of processor time, %ld wake-ups\n",
              kIdleSeconds, ours.child_cpu_seconds() - cpu, ours.child_wakeups() - wakeups);

  ours.type("q\n8\n");
  return ours.wait_exit(5) == 0 && floor_status == 0 ? 0 : 1;
}

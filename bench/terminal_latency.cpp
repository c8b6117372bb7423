// Terminal mode as the operator feels it: how long a device's output takes to
// reach the console, and what an idle terminal costs. The program runs in a
// child driven through the test rig (a pseudo-terminal as the device, pipes as
// the console); the figures are printed, not judged.

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/rig.hpp"

namespace {

constexpr int kBursts = 200;
constexpr std::size_t kBurstSize = 32;
constexpr double kIdleSeconds = 10.0;

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[at];
}

}  // namespace

int main() {
  Rig rig;
  rig.type("2\n");
  if (!rig.wait_output("\n\rTecla <q> + ENTER sai do terminal\n\r")) {
    std::fprintf(stderr, "terminal mode did not start\n");
    return 1;
  }

  std::mt19937 random(20240607);
  std::uniform_real_distribution<double> gap_seconds(0.001, 0.030);
  const std::string burst(kBurstSize, '#');
  std::vector<double> first_byte_ms;
  std::vector<double> whole_burst_ms;
  for (int i = 0; i < kBursts; ++i) {
    rig.run_for(gap_seconds(random));
    const std::size_t shown = rig.out().size();
    const auto sent = Clock::now();
    rig.device_send(burst);
    if (!rig.until([&] { return rig.out().size() > shown; }, 2)) {
      std::fprintf(stderr, "burst %d never shown\n", i);
      return 1;
    }
    first_byte_ms.push_back(ms_between(sent, Clock::now()));
    if (!rig.until([&] { return rig.out().size() >= shown + kBurstSize; }, 2)) {
      std::fprintf(stderr, "burst %d shown in part\n", i);
      return 1;
    }
    whole_burst_ms.push_back(ms_between(sent, Clock::now()));
  }
  std::printf("display latency, %d bursts of %zu bytes at random intervals:\n", kBursts,
              kBurstSize);
  std::printf("  first byte:  median %.3f ms, p99 %.3f ms\n", percentile(first_byte_ms, 0.5),
              percentile(first_byte_ms, 0.99));
  std::printf("  whole burst: median %.3f ms, p99 %.3f ms\n", percentile(whole_burst_ms, 0.5),
              percentile(whole_burst_ms, 0.99));

  rig.run_for(0.1);
  const double cpu = rig.child_cpu_seconds();
  const long wakeups = rig.child_wakeups();
  rig.run_for(kIdleSeconds);
  std::printf("idle in terminal mode for %.0f s: %.3f s of processor time, %ld wake-ups\n",
              kIdleSeconds, rig.child_cpu_seconds() - cpu, rig.child_wakeups() - wakeups);

  rig.type("q\n8\n");
  return rig.wait_exit(5) == 0 ? 0 : 1;
}

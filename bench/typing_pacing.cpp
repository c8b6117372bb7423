// Pacing of typed keys in terminal mode: lines handed over at once, as a
// console does at ENTER, typed by the program to a pseudo-terminal device.
// Prints the gaps between typed bytes (the CR that goes with its LF left out)
// and the time the whole text took against the ideal of 10 ms a byte.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/rig.hpp"

namespace {

constexpr int kLines = 5;
constexpr std::size_t kLineSize = 40;
constexpr double kGapMs = 10.0;

double percentile(const std::vector<double>& sorted, double p) {
  const auto at = static_cast<std::size_t>(std::lround(p * static_cast<double>(sorted.size() - 1)));
  return sorted[at];
}

}  // namespace

int main() {
  std::string text;
  for (int line = 0; line < kLines; ++line) {
    for (std::size_t i = 0; i < kLineSize; ++i) text += static_cast<char>('a' + (i + line) % 26);
    text += '\n';
  }
  std::string wire_text;
  for (const char c : text) wire_text += c == '\n' ? std::string("\n\r") : std::string(1, c);

  Rig rig;
  rig.type("2\n");
  if (!rig.wait_output("sai do terminal\n\r")) return 1;
  rig.run_for(0.1);
  rig.type(text);
  if (!rig.wait_wire(wire_text, 30)) {
    (void)std::fprintf(stderr, "typed text did not reach the device whole\n");
    return 1;
  }

  // Gaps between the bytes the program types one at a time: each CR goes with its LF.
  std::vector<Clock::time_point> paced;
  for (const auto& b : rig.wire_bytes()) {
    if (b.byte != '\r') paced.push_back(b.at);
  }
  std::vector<double> gaps;
  for (std::size_t i = 1; i < paced.size(); ++i) gaps.push_back(ms_between(paced[i - 1], paced[i]));
  std::sort(gaps.begin(), gaps.end());
  const double total = ms_between(paced.front(), paced.back());
  const double ideal = kGapMs * static_cast<double>(gaps.size());
  std::printf("typed %zu bytes in %d lines handed over at once\n", paced.size(), kLines);
  std::printf("gap: p1 %.3f ms, median %.3f ms, p99 %.3f ms, max %.3f ms\n", percentile(gaps, 0.01),
              percentile(gaps, 0.5), percentile(gaps, 0.99), gaps.back());
  std::printf("total: %.1f ms against the ideal %.1f ms (%+.2f %%)\n", total, ideal,
              100.0 * (total - ideal) / ideal);
  rig.type("q\n8\n");
  return rig.wait_exit() == 0 ? 0 : 1;
}

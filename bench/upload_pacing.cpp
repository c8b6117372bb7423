// Pacing of an upload: a 1024-byte file typed through the program's own upload
// code to an echoing pseudo-terminal device. Prints the time from the first to
// the last file byte against the ideal 10.23 s and the gaps between file bytes,
// and how late the device's echo of each byte reaches the program's standard
// output (captured through a pipe) while the upload runs.

#include <fcntl.h>
#include <pthread.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/unique_fd.hpp"
#include "console/write_all.hpp"
#include "serial/port.hpp"
#include "serial/upload.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kFileSize = 1024;
constexpr double kIdealSeconds = 10.23;  // 1023 pauses of 10 ms between first and last byte
constexpr std::string_view kAdvice =
    "\nReinicialize o equipamento para efetivar as configuracoes. \r\n";
constexpr std::string_view kEchoWhole = "\nEco conferido: o equipamento recebeu os 1024 bytes";

// Goals the figures are printed against.
constexpr double kLagMedianGoalMs = 1.0;
constexpr double kLagP99GoalMs = 5.0;
constexpr double kMinGapGoalMs = 10.0;
constexpr double kTotalGoalPercent = 0.5;

double ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// values must be sorted.
double percentile(const std::vector<double>& values, double p) {
  const auto at = static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  return values[at];
}

const char* verdict(bool met) { return met ? "met" : "MISSED"; }

// Where allowed, a real-time thread stamps each byte as it lands, so that its
// own late wake-ups do not show in the figures.
bool try_realtime() {
  sched_param priority{};
  priority.sched_priority = 10;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
}

struct Stamped {
  std::vector<char> bytes;
  std::vector<Clock::time_point> at;
};

}  // namespace

int main() {
  int master = -1;
  int slave = -1;
  char name[128] = {};
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  const UniqueFd master_fd(master);
  const UniqueFd slave_fd(slave);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  (void)std::snprintf(devicename, sizeof devicename, "%.79s", name);

  char dir_template[] = "/tmp/drovan-bench-XXXXXX";
  if (::mkdtemp(dir_template) == nullptr || ::chdir(dir_template) != 0) return 1;
  std::string content;
  for (std::size_t i = 0; i < kFileSize; ++i) content += static_cast<char>('!' + i % 90);
  {
    const UniqueFd file(::open("drovan.conf", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.is_open() || !write_all(file.get(), content)) return 1;
  }

  // SIGIO is left to the uploading thread, as in the program: the helper
  // threads start with it blocked and only this thread takes it back.
  sigset_t io;
  sigemptyset(&io);
  sigaddset(&io, SIGIO);
  pthread_sigmask(SIG_BLOCK, &io, nullptr);

  // The device: records each byte's arrival and echoes it back, noting when.
  Stamped received;
  received.bytes.reserve(kFileSize + 16);
  received.at.reserve(kFileSize + 16);
  std::vector<Clock::time_point> echoed;
  echoed.reserve(kFileSize + 16);
  std::atomic<bool> stop{false};
  std::thread device([&] {
    (void)std::fprintf(stderr, "device reader: %s\n",
                       try_realtime() ? "real-time" : "normal priority");
    char buf[256];
    while (!stop) {
      const ssize_t n = ::read(master, buf, sizeof buf);
      const auto now = Clock::now();
      if (n <= 0) continue;
      for (ssize_t i = 0; i < n; ++i) {
        received.bytes.push_back(buf[i]);
        received.at.push_back(now);
      }
      const auto echo_at = Clock::now();
      for (ssize_t i = 0; i < n; ++i) echoed.push_back(echo_at);
      write_all(master, buf, static_cast<std::size_t>(n));
    }
  });

  // The console: the program's standard output becomes a pipe whose bytes are
  // stamped as they come out.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    std::perror("pipe");
    return 1;
  }
  const UniqueFd shown_fd(ends[0]);
  const UniqueFd saved_stdout(::dup(STDOUT_FILENO));
  if (!saved_stdout.is_open() || ::dup2(ends[1], STDOUT_FILENO) < 0) return 1;
  ::close(ends[1]);  // standard output is now the pipe's only writer
  Stamped shown;
  shown.bytes.reserve(8192);
  shown.at.reserve(8192);
  std::thread console([&] {
    (void)std::fprintf(stderr, "console reader: %s\n",
                       try_realtime() ? "real-time" : "normal priority");
    char buf[4096];
    for (;;) {
      const ssize_t n = ::read(shown_fd.get(), buf, sizeof buf);
      const auto now = Clock::now();
      if (n == 0) break;
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      for (ssize_t i = 0; i < n; ++i) {
        shown.bytes.push_back(buf[i]);
        shown.at.push_back(now);
      }
    }
  });
  pthread_sigmask(SIG_UNBLOCK, &io, nullptr);

  send_file(0, "drovan.conf");

  // Putting standard output back closes the pipe's write end: the reader sees its end.
  ::dup2(saved_stdout.get(), STDOUT_FILENO);
  console.join();
  stop = true;
  (void)!::write(slave, "\n", 1);  // wakes the device's last read
  device.join();

  if (received.at.size() < kFileSize) {
    (void)std::fprintf(stderr, "only %zu bytes reached the device\n", received.at.size());
    return 1;
  }
  std::vector<double> gaps;
  for (std::size_t i = 1; i < kFileSize; ++i) {
    gaps.push_back(ms_between(received.at[i - 1], received.at[i]));
  }
  // A byte read late lengthens its gap and shortens the next by as much, so no
  // single gap seen here proves a byte typed too soon. Ten gaps taken together
  // are judged instead, allowing the reader half a millisecond of lateness.
  constexpr std::size_t kWindow = 10;
  constexpr double kReaderLatenessMs = 0.5;
  double window_min = 1e9;
  for (std::size_t i = 0; i + kWindow <= gaps.size(); ++i) {
    double sum = 0;
    for (std::size_t k = i; k < i + kWindow; ++k) sum += gaps[k];
    window_min = std::min(window_min, sum / kWindow);
  }
  const double total = ms_between(received.at[0], received.at[kFileSize - 1]) / 1000.0;
  const double off_percent = 100.0 * (total - kIdealSeconds) / kIdealSeconds;
  std::sort(gaps.begin(), gaps.end());
  std::printf("\nupload of %zu bytes to an echoing device\n", kFileSize);
  std::printf("first to last file byte: %.4f s (ideal %.2f s, %+.3f %%)\n", total, kIdealSeconds,
              off_percent);
  // The reader's own late wake-up makes one gap look long and the next short:
  // the pace is judged on the low percentile, the minimum shown for what it is.
  const double gap_p1 = percentile(gaps, 0.01);
  std::printf("gap ms: min %.3f  p1 %.3f  median %.3f  p99 %.3f  max %.3f\n", gaps.front(), gap_p1,
              percentile(gaps, 0.5), percentile(gaps, 0.99), gaps.back());

  // The echo on the console: after the progress text, the k-th byte shown
  // before or after the advice is the echo of the k-th file byte.
  const std::string_view out(shown.bytes.data(), shown.bytes.size());
  const auto start = out.find(kSendingFile);
  const auto advice = out.find(kAdvice);
  const auto verdict_at = out.find(kEchoWhole);
  if (start == std::string_view::npos || advice == std::string_view::npos || advice < start ||
      verdict_at == std::string_view::npos || verdict_at < start || verdict_at > advice) {
    std::printf(
        "echo: the progress text, the verdict of a whole echo or the advice is missing from the "
        "output (%zu bytes)\n",
        out.size());
    return 1;
  }
  std::printf("verdict: %.*s", static_cast<int>(advice - verdict_at - 1),
              out.data() + verdict_at + 1);
  std::vector<std::size_t> echo_positions;
  for (std::size_t i = start + kSendingFile.size(); i < verdict_at; ++i)
    echo_positions.push_back(i);
  const std::size_t before_advice = echo_positions.size();
  for (std::size_t i = advice + kAdvice.size(); i < out.size(); ++i) echo_positions.push_back(i);
  const std::size_t after_advice = echo_positions.size() - before_advice;

  const std::size_t matched = std::min({echo_positions.size(), kFileSize, echoed.size()});
  std::vector<double> lags;
  std::size_t wrong = 0;
  for (std::size_t k = 0; k < matched; ++k) {
    const std::size_t at = echo_positions[k];
    if (out[at] != content[k]) ++wrong;
    lags.push_back(ms_between(echoed[k], shown.at[at]));
  }
  std::sort(lags.begin(), lags.end());
  std::printf("echo shown: %zu bytes before the advice, %zu after (%zu file bytes echoed)\n",
              before_advice, after_advice, std::min(echoed.size(), kFileSize));
  if (wrong > 0) std::printf("echo: %zu bytes shown out of order or changed\n", wrong);
  // An echo byte never shown counts as missing the lag goals.
  const bool all_shown = matched == kFileSize && wrong == 0;
  const double lag_median = lags.empty() ? -1 : percentile(lags, 0.5);
  const double lag_p99 = lags.empty() ? -1 : percentile(lags, 0.99);
  if (lags.empty()) {
    std::printf("echo lag: no echo shown\n");
  } else {
    std::printf("echo lag ms: min %.3f  median %.3f  p99 %.3f  max %.3f\n", lags.front(),
                lag_median, lag_p99, lags.back());
  }

  std::printf("\ngoals:\n");
  std::printf("  echo lag median < %.0f ms (%.3f): %s\n", kLagMedianGoalMs, lag_median,
              verdict(all_shown && lag_median < kLagMedianGoalMs));
  std::printf("  echo lag p99 < %.0f ms (%.3f): %s\n", kLagP99GoalMs, lag_p99,
              verdict(all_shown && lag_p99 < kLagP99GoalMs));
  std::printf("  no gap under %.0f ms at the port (least mean of %zu gaps %.3f): %s\n",
              kMinGapGoalMs, kWindow, window_min,
              verdict(window_min >= kMinGapGoalMs - kReaderLatenessMs / kWindow));
  std::printf("  total within %.1f %% of ideal (%+.3f %%): %s\n", kTotalGoalPercent, off_percent,
              verdict(std::abs(off_percent) <= kTotalGoalPercent));
  return 0;
}

// drovan-sim: a simulated DROVAN console on a pseudo-terminal, seen by COMMAND
// as /dev/ttyUSBN in a mount namespace of its own. From a terminal, COMMAND
// gets one of its own there, relayed to the caller's.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "console/unique_fd.hpp"
#include "console/write_all.hpp"
#include "sim/command_end.hpp"
#include "sim/console_model.hpp"
#include "sim/namespace.hpp"
#include "sim/relay.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: drovan-sim [--port N] [--min-gap-ms MS] [--line-ms MS] [--prompt-after-work] "
    "[--conf-ms MS] [--line-noise N] [--latency-ms MS] [--no-echo] [--log FILE] [--] "
    "[COMMAND [ARG...]]\n";
constexpr int kDefaultGapMs = 3;
// The adapter's latency timer as the program sets it (low latency); 16 is its own default.
constexpr int kDefaultLatencyMs = 1;

struct Options {
  int port = 0;
  int min_gap_ms = kDefaultGapMs;
  int line_ms = 0;
  int conf_ms = 0;
  int line_noise = 0;
  int latency_ms = kDefaultLatencyMs;
  bool prompt_after_work = false;
  bool echo = true;
  const char* log = nullptr;  // every byte received, as it came off the port
  char** command = nullptr;   // null: serve the pseudo-terminal until interrupted
};

bool whole_number(const char* text, int low, int high, int& out) {
  const std::string_view s(text);
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size() && out >= low && out <= high;
}

bool parse(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.empty() || arg[0] != '-') break;
    if (arg == "--no-echo") {
      options.echo = false;
      continue;
    }
    if (arg == "--prompt-after-work") {
      options.prompt_after_work = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    if (arg == "--port") {
      if (!whole_number(argv[++i], 0, 99, options.port)) return false;
    } else if (arg == "--min-gap-ms") {
      if (!whole_number(argv[++i], 0, 1000, options.min_gap_ms)) return false;
    } else if (arg == "--line-ms") {
      if (!whole_number(argv[++i], 0, 60'000, options.line_ms)) return false;
    } else if (arg == "--conf-ms") {
      if (!whole_number(argv[++i], 0, 60'000, options.conf_ms)) return false;
    } else if (arg == "--line-noise") {
      if (!whole_number(argv[++i], 0, 1'000'000, options.line_noise)) return false;
    } else if (arg == "--latency-ms") {
      // The FT232's timer goes up to 255 ms.
      if (!whole_number(argv[++i], 0, 255, options.latency_ms)) return false;
    } else if (arg == "--log") {
      options.log = argv[++i];
    } else {
      return false;
    }
  }
  if (i < argc) options.command = &argv[i];
  return true;
}

void say(std::string_view text) { (void)write_all(STDERR_FILENO, text); }

// The line towards the program. When nobody reads the port, what the device
// says piles up in the pseudo-terminal; once that is full it is thrown away,
// as it would be on a serial line with nobody listening.
class LineSink final : public sim::Sink {
 public:
  LineSink(int master, int slave) : master_(master), slave_(slave) {}
  void put(std::string_view bytes) override {
    for (int flushed = 0; !bytes.empty();) {
      const ssize_t n = ::write(master_, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno == EAGAIN && flushed++ == 0) {
        (void)::tcflush(slave_, TCIFLUSH);
      } else if (n >= 0 || errno != EINTR) {
        return;
      }
    }
  }

 private:
  int master_;
  int slave_;
};

// Reads what the port holds into the model, as much as its line takes now;
// false once the port failed. What the line cannot take yet waits in the
// pseudo-terminal, and its writer with it, as on a real port.
bool serve_line(int master, sim::ConsoleModel& model, int log) {
  std::array<char, sim::SerialLine::kCapacity> buf{};
  while (model.room() > 0) {
    const ssize_t n = ::read(master, buf.data(), model.room());
    if (n > 0) {
      if (log >= 0) (void)write_all(log, buf.data(), static_cast<std::size_t>(n));
      (void)model.receive(std::string_view(buf.data(), static_cast<std::size_t>(n)),
                          sim::Clock::now());
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
  return true;
}

// To the model's next deadline, to the microsecond: the adapter's packets and
// the line's bytes come well under a millisecond apart. Null: none.
const timespec* poll_timeout(const sim::ConsoleModel& model, timespec& out) {
  const auto deadline = model.deadline();
  if (!deadline) return nullptr;
  const auto left = std::clamp<sim::Clock::duration>(
      std::chrono::ceil<std::chrono::microseconds>(*deadline - sim::Clock::now()),
      sim::Clock::duration::zero(), std::chrono::seconds(60));
  const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
  out.tv_sec = static_cast<time_t>(seconds.count());
  out.tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - seconds).count());
  return &out;
}

void report_setup_failure(const sim::SetupError& e, const char* device, const char* command) {
  std::array<char, 512> line{};
  int n = 0;
  if (e.step == sim::SetupError::kExec) {
    n = std::snprintf(line.data(), line.size(), "drovan-sim: cannot run %s: %s\n", command,
                      std::strerror(e.error));
  } else if (e.step == sim::SetupError::kConsole) {
    n = std::snprintf(line.data(), line.size(),
                      "drovan-sim: cannot give %s a terminal of its own: %s\n", command,
                      std::strerror(e.error));
  } else if (sim::namespaces_refused(e.step)) {
    n = std::snprintf(line.data(), line.size(),
                      "drovan-sim: the kernel refused a private mount namespace (%s: %s); run "
                      "it with sudo, or allow unprivileged user namespaces (sysctl "
                      "user.max_user_namespaces > 0, kernel.unprivileged_userns_clone=1, "
                      "kernel.apparmor_restrict_unprivileged_userns=0)\n",
                      sim::step_text(e.step), std::strerror(e.error));
  } else {
    n = std::snprintf(line.data(), line.size(),
                      "drovan-sim: cannot put the simulated port at %s (%s: %s)\n", device,
                      sim::step_text(e.step), std::strerror(e.error));
  }
  if (n > 0) say(std::string_view(line.data(), std::min<std::size_t>(n, line.size() - 1)));
}

// In the child: COMMAND in its private /dev, on a terminal of its own when the
// caller is on one; never returns.
[[noreturn]] void run_command(char** command, const char* device, const char* slave_path,
                              int report, const sigset_t& mask,
                              const std::optional<sim::CallerTerminal>& caller) {
  (void)::sigprocmask(SIG_SETMASK, &mask, nullptr);
  (void)std::signal(SIGPIPE, SIG_DFL);
  sim::SetupError error;
  if (sim::make_private_device(device, slave_path, error) &&
      (!caller || sim::take_console(report, *caller, error))) {
    ::execvp(command[0], command);
    error = {sim::SetupError::kExec, errno};
  }
  (void)write_all(report, &error, sizeof error);
  ::_exit(error.step == sim::SetupError::kExec && error.error != ENOENT ? 126 : 127);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    say(kUsage);
    return 2;
  }
  std::array<char, 32> device{};
  (void)std::snprintf(device.data(), device.size(), "/dev/ttyUSB%d", options.port);

  int master_fd = -1;
  int slave_fd = -1;
  std::array<char, 128> slave_path{};
  if (::openpty(&master_fd, &slave_fd, slave_path.data(), nullptr, nullptr) != 0) {
    std::perror("drovan-sim: openpty");
    return 1;
  }
  const UniqueFd master(master_fd);
  const UniqueFd log(options.log != nullptr
                         ? ::open(options.log, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                         : -1);
  if (options.log != nullptr && !log.is_open()) {
    std::array<char, 512> line{};
    const int n = std::snprintf(line.data(), line.size(), "drovan-sim: cannot write %s: %s\n",
                                options.log, std::strerror(errno));
    if (n > 0) say(std::string_view(line.data(), std::min<std::size_t>(n, line.size() - 1)));
    return 1;
  }
  // Held for the simulator's whole life, so the pseudo-terminal outlives the
  // program closing and reopening its port.
  const UniqueFd slave(slave_fd);
  termios raw{};
  (void)::tcgetattr(slave.get(), &raw);
  ::cfmakeraw(&raw);  // no echo from the line discipline before a program sets the port up
  (void)::tcsetattr(slave.get(), TCSANOW, &raw);
  (void)::fcntl(master.get(), F_SETFD, FD_CLOEXEC);
  (void)::fcntl(slave.get(), F_SETFD, FD_CLOEXEC);
  (void)::fcntl(master.get(), F_SETFL, ::fcntl(master.get(), F_GETFL) | O_NONBLOCK);

  sigset_t handled;
  sigset_t before;
  sigemptyset(&handled);
  for (const int s : {SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&handled, s);
  // With a terminal, COMMAND's console is relayed to it.
  const std::optional<sim::CallerTerminal> caller =
      options.command != nullptr ? sim::caller_terminal() : std::nullopt;
  if (caller) {
    sigaddset(&handled, SIGWINCH);
    sigaddset(&handled, SIGCONT);  // blocked, it still continues the simulator
  }
  (void)::sigprocmask(SIG_BLOCK, &handled, &before);
  const UniqueFd signals(::signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK));
  (void)std::signal(SIGPIPE, SIG_IGN);

  pid_t child = -1;
  std::optional<sim::Relay> relay;
  if (options.command != nullptr) {
    // Reports and COMMAND's console from the child, which alone can open a
    // pseudo-terminal of the namespace's devpts.
    int report[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, report) != 0) {
      std::perror("drovan-sim: socketpair");
      return 1;
    }
    const UniqueFd report_in(report[0]);
    {
      const UniqueFd report_out(report[1]);
      child = ::fork();
      if (child < 0) {
        std::perror("drovan-sim: fork");
        return 1;
      }
      if (child == 0) {
        run_command(options.command, device.data(), slave_path.data(), report[1], before, caller);
      }
    }
    // The channel closes when exec succeeds; before that come the console, if
    // any, and a report of what failed.
    sim::SetupError error;
    for (;;) {
      int console = -1;
      const ssize_t n = sim::receive_report(report_in.get(), error, console);
      if (console >= 0 && caller && !relay) {
        relay.emplace(console, caller->mode);
      } else if (console >= 0) {
        const UniqueFd unasked(console);
      }
      if (n != static_cast<ssize_t>(sizeof error) || error.step != sim::SetupError::kNone) break;
    }
    if (error.step != sim::SetupError::kNone) {
      relay.reset();  // the caller's terminal as it was, for the message
      int status = 0;
      (void)::waitpid(child, &status, 0);
      report_setup_failure(error, device.data(), options.command[0]);
      return error.step == sim::SetupError::kExec ? WEXITSTATUS(status) : 1;
    }
  } else {
    // The path is the one line on standard output, for scripts to read.
    std::array<char, 160> line{};
    const int n = std::snprintf(line.data(), line.size(), "%s\n", slave_path.data());
    (void)write_all(STDOUT_FILENO, std::string_view(line.data(), static_cast<std::size_t>(n)));
    say("drovan-sim: serving the simulated console until interrupted\n");
  }

  LineSink sink(master.get(), slave.get());
  sim::ConsoleModel model(sink, {.min_gap = std::chrono::milliseconds(options.min_gap_ms),
                                 .line_work = std::chrono::milliseconds(options.line_ms),
                                 .conf_work = std::chrono::milliseconds(options.conf_ms),
                                 .line_noise = static_cast<unsigned>(options.line_noise),
                                 .echo = options.echo,
                                 .prompt_after_work = options.prompt_after_work,
                                 .latency = std::chrono::milliseconds(options.latency_ms)});
  int exit_status = 0;
  sim::CommandEnd ending(child, relay ? &*relay : nullptr);
  for (bool done = false; !done;) {
    // The line, the signals, then the relay's three (ignored without one).
    std::array<pollfd, 2 + sim::Relay::kPollFds> fds{};
    fds.fill({-1, 0, 0});
    fds[0] = {model.room() > 0 ? master.get() : -1, POLLIN, 0};
    fds[1] = {signals.get(), POLLIN, 0};
    if (relay) relay->prepare(&fds[2]);
    timespec timeout{};
    const timespec* wait = poll_timeout(model, timeout);
    // While the command ends, its grace bounds the wait too.
    timespec grace{};
    if (const int grace_ms = ending.timeout(-1); grace_ms >= 0) {
      grace = {grace_ms / 1000, static_cast<long>(grace_ms % 1000) * 1'000'000L};
      if (wait == nullptr || grace.tv_sec < wait->tv_sec ||
          (grace.tv_sec == wait->tv_sec && grace.tv_nsec < wait->tv_nsec)) {
        wait = &grace;
      }
    }
    if (::ppoll(fds.data(), fds.size(), wait, nullptr) < 0 && errno != EINTR) {
      break;
    }
    model.tick(sim::Clock::now());
    if ((fds[0].revents & POLLIN) != 0 && !serve_line(master.get(), model, log.get())) break;
    if (relay) relay->serve(&fds[2]);
    ending.look_at_relay();
    signalfd_siginfo info{};
    while (::read(signals.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      const auto signo = static_cast<int>(info.ssi_signo);
      if (child < 0) {
        done = signo != SIGCHLD;
      } else if (signo == SIGWINCH) {
        if (relay) relay->resize();
      } else if (signo == SIGCONT) {
        if (relay) relay->resume();
      } else if (signo == SIGTERM || signo == SIGHUP ||
                 ((signo == SIGINT || signo == SIGQUIT) && (relay || info.ssi_code != SI_KERNEL))) {
        // COMMAND decides; the device serves it to the end. On a terminal of
        // its own COMMAND hears no keyboard of the caller's, so these too.
        ending.pass_on(signo);
      }
      // Otherwise SIGINT and SIGQUIT came from the caller's keyboard (the
      // kernel's), and reached COMMAND too: it alone decides.
    }
    int status = 0;
    const int wait_how = ending.kill_if_overdue() ? 0 : WNOHANG;
    if (child > 0 && ::waitpid(child, &status, wait_how) == child) {
      exit_status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
      done = true;
    }
  }
  // What COMMAND wrote last is still in the port, and in its console. The
  // console takes it all at once, as it would have in time: the counts are
  // whole. A bounded share, as a writer left behind may flood the port.
  for (int rounds = 0; rounds < 32 && serve_line(master.get(), model, log.get()) &&
                       model.room() < sim::SerialLine::kCapacity;
       ++rounds) {
    model.tick(sim::Clock::time_point::max());
  }
  model.tick(sim::Clock::time_point::max());
  if (relay) relay->drain();
  relay.reset();

  std::array<char, 160> text{};
  const std::string_view line = sim::summary(model.counts(), text, options.line_noise > 0);
  std::array<char, 162> with_end{};
  const auto end = std::copy(line.begin(), line.end(), with_end.begin());
  *end = '\n';
  say(std::string_view(with_end.data(), line.size() + 1));
  return exit_status;
}

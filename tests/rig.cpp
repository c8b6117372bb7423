#include "tests/rig.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "console/write_all.hpp"
#include "menus/main_menu.hpp"
#include "serial/port.hpp"

namespace {

void make_pipe(int ends[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
}

std::size_t count_of(std::string_view haystack, std::string_view needle) {
  std::size_t n = 0;
  for (auto at = haystack.find(needle); at != std::string_view::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

// The operator's terminal: a pseudo-terminal in the kernel's default mode, its
// line editing turned off for kTerminalKeys. Both ends are closed on exec.
void open_console_terminal(RigConsole kind, int& master, int& slave) {
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty");
  }
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  if (kind != RigConsole::kTerminalKeys) return;
  termios mode{};
  ::tcgetattr(slave, &mode);
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON);
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  ::tcsetattr(slave, TCSANOW, &mode);
}

}  // namespace

double ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

Rig::Rig(const RigOptions& options) : echo_(options.echo) {
  (void)std::signal(SIGPIPE, SIG_IGN);
  if (options.workdir.empty()) {
    char templ[] = "/tmp/drovan-test-XXXXXX";
    if (::mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = templ;
    own_dir_ = true;
  } else {
    dir_ = options.workdir;
  }

  if (options.device) {
    // The program reaches the device through a name of the test's own, as it
    // reaches an adapter through /dev/ttyUSB0: a pseudo-terminal's number, once
    // closed, may go to another test running alongside.
    char templ[] = "/tmp/drovan-port-XXXXXX";
    if (::mkdtemp(templ) == nullptr) throw std::runtime_error("mkdtemp");
    link_dir_ = templ;
    device_path_ = link_dir_ + "/ttyUSB0";
    plug_device();
  } else {
    device_path_ = options.port.empty() ? dir_ + "/no-such-port" : options.port;
  }

  // The executable's argv, built before the fork; execv() does not write to it.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(options.executable.c_str()));
  for (const auto& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const bool terminal = options.console != RigConsole::kPipes;
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  int err[2];
  if (terminal) {
    // in[1] and out[0], the test's ends, are both the master; in[0] and out[1] the slave.
    open_console_terminal(options.console, in[1], in[0]);
    out[0] = ::fcntl(in[1], F_DUPFD_CLOEXEC, 0);
    out[1] = in[0];
  } else {
    make_pipe(in);
    make_pipe(out);
  }
  make_pipe(err);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    // A session of its own, with the terminal as its controlling terminal and
    // the child in the foreground, as a program started from a shell.
    if (terminal) ::setsid();
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    if (terminal) ::ioctl(STDIN_FILENO, TIOCSCTTY, 0);
    // Every other descriptor of the test (the pseudo-terminal's master above all) is closed.
    ::close_range(3, ~0U, 0);
    if (::chdir(dir_.c_str()) != 0) ::_exit(126);
    if (!options.executable.empty()) {
      ::execv(options.executable.c_str(), argv.data());
      ::_exit(127);
    }
    set_devicename(device_path_);
    ::_exit(options.entry ? options.entry() : drovan_main());
  }
  ::close(in[0]);
  if (!terminal) ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  out_fd_ = out[0];
  err_fd_ = err[0];
}

Rig::~Rig() {
  if (!exited_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int d : {master_, slave_, in_, out_fd_, err_fd_}) {
    if (d >= 0) ::close(d);
  }
  if (!link_dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(link_dir_, ignored);
  }
  if (own_dir_) {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
}

void Rig::type(std::string_view keys) {
  if (in_ >= 0) write_all(in_, keys);
}

void Rig::close_input() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

void Rig::device_send(std::string_view bytes) {
  if (master_ >= 0) write_all(master_, bytes);
}

void Rig::plug_device() {
  char name[128] = {};
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty");
  }
  termios raw{};
  ::tcgetattr(slave_, &raw);
  ::cfmakeraw(&raw);  // no echo by the line discipline before the program configures it
  ::tcsetattr(slave_, TCSANOW, &raw);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  if (::symlink(name, device_path_.c_str()) != 0) throw std::runtime_error("symlink");
}

void Rig::close_device() {
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
  ::unlink(device_path_.c_str());
}

void Rig::replug_device() {
  close_device();
  plug_device();
}

std::string Rig::wire() const {
  std::string s;
  s.reserve(wire_.size());
  for (const auto& b : wire_) s.push_back(b.byte);
  return s;
}

void Rig::pump(int timeout_ms) {
  pollfd fds[3] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}, {master_, POLLIN, 0}};
  const int n = ::poll(fds, 3, timeout_ms);
  const auto now = Clock::now();
  if (n > 0) {
    char buf[4096];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        (i == 0 ? out_ : err_).append(buf, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        (i == 0 ? out_fd_ : err_fd_) = -1;
      }
    }
    if ((fds[2].revents & POLLIN) != 0) {
      const ssize_t got = ::read(master_, buf, sizeof buf);
      for (ssize_t i = 0; i < got; ++i) {
        wire_.push_back({buf[i], now});
        if (echo_) device_send(std::string_view(&buf[i], 1));
        if (on_wire) on_wire(*this, buf[i]);
      }
    }
  }
  if (!exited_ && pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
}

bool Rig::until(const std::function<bool()>& done, double seconds) {
  const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (done()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return done();
    // Once the child is gone and its output read, nothing more can change.
    if (exited_ && out_fd_ < 0 && err_fd_ < 0 && master_ < 0) return done();
    pump(static_cast<int>(std::min<long>(left.count(), 20)));
  }
}

void Rig::run_for(double seconds) {
  until([] { return false; }, seconds);
}

bool Rig::wait_output(std::string_view text, double seconds) {
  return until([&] { return out_.find(text) != std::string::npos; }, seconds);
}

bool Rig::wait_output_count(std::string_view text, std::size_t count, double seconds) {
  return until([&] { return count_of(out_, text) >= count; }, seconds);
}

bool Rig::wait_wire(std::string_view text, double seconds) {
  return until([&] { return wire().find(text) != std::string::npos; }, seconds);
}

int Rig::wait_exit(double seconds) {
  // Read the rest of the output as well, so tests can compare all of it.
  until([&] { return exited_ && out_fd_ < 0 && err_fd_ < 0; }, seconds);
  if (!exited_ || !WIFEXITED(status_)) return -1;
  return WEXITSTATUS(status_);
}

int Rig::exit_signal() const { return exited_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0; }

double Rig::child_cpu_seconds() const {
  // /proc/<pid>/stat: utime and stime are fields 14 and 15, counted after the
  // command name, which sits in parentheses and may itself hold blanks.
  const std::string stat = read_file("/proc/" + std::to_string(pid_) + "/stat");
  const auto name_end = stat.rfind(')');
  if (name_end == std::string::npos) return -1;
  std::istringstream fields(stat.substr(name_end + 2));
  std::string skip;
  for (int field = 3; field < 14; ++field) fields >> skip;
  long utime = 0;
  long stime = 0;
  fields >> utime >> stime;
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long Rig::child_wakeups() const {
  std::istringstream status(read_file("/proc/" + std::to_string(pid_) + "/status"));
  long total = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.find("ctxt_switches:") == std::string::npos) continue;
    total += std::stol(line.substr(line.find(':') + 1));
  }
  return total;
}

void set_devicename(std::string_view path) {
  const std::size_t n = std::min(path.size(), sizeof devicename - 1);
  std::memcpy(devicename, path.data(), n);
  devicename[n] = '\0';
}

void write_file(const std::string& path, std::string_view content) {
  std::ofstream f(path, std::ios::binary);
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string settings_of(const std::string& file) {
  std::string settings;
  for (std::size_t at = 0; at < file.size();) {
    const std::size_t end = std::min(file.find('\n', at), file.size() - 1) + 1;
    if (file[at] != '#' && file[at] != '\n') settings += file.substr(at, end - at);
    at = end;
  }
  return settings;
}

std::size_t settings_in(const std::string& file) {
  const std::string settings = settings_of(file);
  return static_cast<std::size_t>(std::count(settings.begin(), settings.end(), '\n')) +
         (settings.empty() || settings.back() == '\n' ? 0 : 1);
}

#pragma once

// Test rig: the program's own loop runs in a forked child whose standard input,
// output and error are pipes held by the test (the console; input and output
// may be a pseudo-terminal instead, as an operator's), while the master side of
// a pseudo-terminal plays the device whose slave the child opens as its port.
// Everything is pumped from the test's thread: no helper threads, so the fork
// is safe under the sanitizers.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

using Clock = std::chrono::steady_clock;

struct WireByte {
  char byte;
  Clock::time_point at;  // when the device read it
};

enum class RigConsole {
  kPipes,          // standard input and output are pipes: scripted use
  kTerminalLines,  // a pseudo-terminal in its default mode: keys reach the program at ENTER
  kTerminalKeys,   // a pseudo-terminal without ICANON: each key reaches the program as typed
};

struct RigOptions {
  bool device = true;      // false: the port names a path that does not exist
  std::string port;        // with device false: the port names this path (another rig's device)
  bool echo = false;       // the device sends back every byte it receives
  std::string workdir;     // the child's working directory; empty: a fresh temporary one
  std::string executable;  // non-empty: exec this program instead of running the loop in-process
  std::function<int()> entry;     // set: run this in the child instead of the program's main loop
  std::vector<std::string> args;  // with executable: its arguments after its name
  // With a terminal, its slave is the child's controlling terminal, standard
  // input and output, and out() is what the terminal shows (echo, CR LF).
  RigConsole console = RigConsole::kPipes;
};

class Rig {
 public:
  explicit Rig(const RigOptions& options = {});
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // The console.
  void type(std::string_view keys);
  void close_input();
  [[nodiscard]] const std::string& out() const { return out_; }
  [[nodiscard]] const std::string& err() const { return err_; }
  // Waits until the output (from its start) contains text.
  bool wait_output(std::string_view text, double seconds = 5);
  // Waits until the output holds at least `count` occurrences of text.
  bool wait_output_count(std::string_view text, std::size_t count, double seconds = 5);

  // The device.
  void device_send(std::string_view bytes);
  // The adapter unplugged: the device hangs up and its name goes away.
  void close_device();
  // The adapter plugged back in: a new device under the same name.
  void replug_device();
  void set_echo(bool on) { echo_ = on; }
  // Called for every byte the device receives (after it is recorded).
  std::function<void(Rig&, char)> on_wire;
  [[nodiscard]] std::string wire() const;
  [[nodiscard]] const std::vector<WireByte>& wire_bytes() const { return wire_; }
  bool wait_wire(std::string_view text, double seconds = 5);

  // Pumps console and device until done() holds or the time is up.
  bool until(const std::function<bool()>& done, double seconds);
  // Pumps for the given time.
  void run_for(double seconds);
  // Waits for the child to end; its exit status, or -1 if it did not end in time
  // or was killed by a signal.
  int wait_exit(double seconds = 5);
  // The signal that killed the child (after wait_exit), or 0.
  [[nodiscard]] int exit_signal() const;
  [[nodiscard]] bool exited() const { return exited_; }
  [[nodiscard]] pid_t pid() const { return pid_; }
  // Processor time (user and system) the child has used so far, in seconds.
  [[nodiscard]] double child_cpu_seconds() const;
  // How often the child has been put to sleep and woken so far (its context
  // switches): a loop that polls with a timer shows here even when it costs
  // little processor time.
  [[nodiscard]] long child_wakeups() const;

  [[nodiscard]] const std::string& dir() const { return dir_; }
  [[nodiscard]] const std::string& device_path() const { return device_path_; }

 private:
  void pump(int timeout_ms);
  void plug_device();

  std::string dir_;
  bool own_dir_ = false;
  std::string device_path_;
  std::string link_dir_;  // holds the device's name; empty without a device
  int master_ = -1;
  int slave_ = -1;  // kept open so the pseudo-terminal lives between port cycles
  int in_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
  bool echo_ = false;
  std::string out_;
  std::string err_;
  std::vector<WireByte> wire_;
};

// Milliseconds between two instants.
double ms_between(Clock::time_point from, Clock::time_point to);

// Points the program's port at path (cut to the size of `devicename`).
void set_devicename(std::string_view path);

// Test-only helpers for files in the rig's working directory.
void write_file(const std::string& path, std::string_view content);
std::string read_file(const std::string& path);
// The setting lines of a configuration file (neither comments nor blank), and their count.
std::string settings_of(const std::string& file);
std::size_t settings_in(const std::string& file);

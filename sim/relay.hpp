#pragma once

// COMMAND's console when the caller's standard input is a terminal: a
// pseudo-terminal of the namespace's own devpts, opened by the child inside
// the namespace and handed to the simulator, which relays between it and the
// caller's terminal, raw for the run, in the simulator's poll loop. Stopped
// (SIGTSTP, SIGTTIN, SIGTTOU), the simulator gives the caller's terminal back
// first; continued, it takes it raw again (resume()).

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <termios.h>

#include <array>
#include <cstddef>
#include <optional>

#include "console/unique_fd.hpp"
#include "sim/namespace.hpp"

namespace sim {

// How the caller's terminal is set when COMMAND starts.
struct CallerTerminal {
  termios mode{};
  winsize size{};
};

// The caller's terminal on standard input, if standard input is one.
std::optional<CallerTerminal> caller_terminal();

// In the child, inside the namespace: opens a pseudo-terminal from /dev/ptmx,
// set like the caller's, sends its master over `channel`, and makes its slave
// the controlling terminal and standard input, output and error of a session
// of its own.
bool take_console(int channel, const CallerTerminal& caller, SetupError& error);

// The child's reports on `channel` (a SOCK_SEQPACKET socket): a SetupError, and
// with the console's report its master. One report per call: its size, 0 once
// exec has closed the channel, or -1; `descriptor` is what came with it, or -1.
ssize_t receive_report(int channel, SetupError& error, int& descriptor);

class Relay {
 public:
  // The caller's input, COMMAND's console, the caller's output.
  static constexpr std::size_t kPollFds = 3;

  // Owns `console`; the caller's terminal is raw until restore(), but while
  // the simulator is stopped. One relay per process: the stop signals' handler is its.
  Relay(int console, const termios& caller_mode);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // What to wait for, in kPollFds entries; then what poll found there.
  void prepare(pollfd* fds) const;
  void serve(const pollfd* fds);
  // The caller's window size, passed on to COMMAND's terminal (SIGWINCH).
  void resize() const;
  // The simulator was continued (SIGCONT): the caller's terminal raw again if
  // the simulator is in its foreground, and its window size passed on.
  void resume();
  // The caller's terminal is gone: COMMAND's hangs up too, which sends it
  // SIGHUP. Once COMMAND is ending (command_ending()) its terminal stays open
  // and what it writes is dropped: a hangup then would be a second signal,
  // and a program ends at once on a second one, its device's line half typed.
  void hang_up();
  // COMMAND has been told to end; the relay signals it no more.
  void command_ending() { command_ending_ = true; }
  // The caller's terminal went away, or was let go for a SIGHUP.
  [[nodiscard]] bool caller_gone() const { return caller_gone_; }
  // COMMAND has ended: what it wrote last goes out, then restore().
  void drain();
  // The caller's terminal as it was; again does nothing.
  void restore();

 private:
  // Bytes read and not yet written on.
  struct Pending {
    std::array<char, 4096> bytes{};
    std::size_t at = 0;
    std::size_t end = 0;
    [[nodiscard]] bool empty() const { return at == end; }
    // As much as fd takes now; false on an error other than being full.
    bool write_to(int fd);
    // One read into the emptied buffer; read()'s result.
    ssize_t read_from(int fd);
  };

  // Reads COMMAND's output and writes it on, at most max_reads times; how many it made.
  int take_output(int max_reads);
  void write_output();

  std::optional<UniqueFd> console_;  // closed at hang-up
  bool console_ended_ = false;       // every slave closed: nothing more comes
  UniqueFd in_;
  UniqueFd out_;
  bool holding_ = true;  // until restore(): the caller's terminal is raw in the foreground
  bool caller_gone_ = false;
  bool command_ending_ = false;
  Pending to_command_;
  Pending to_caller_;
};

}  // namespace sim

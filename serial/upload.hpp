#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "console/unique_fd.hpp"
#include "echo/line_list.hpp"
#include "serial/drain.hpp"

inline constexpr std::size_t kFileReadSize = 1024;  // every read of a file

// The operator's configuration file, in the working directory: uploaded by menu
// key 3 and terminal key '3', appended by the capture.
inline constexpr const char* kConfFile = "drovan.conf";
inline constexpr std::string_view kSendingFile = "\nEnviando o conteudo do arquivo... ";

// The file content about to be typed to the device, one read at a time.
extern std::array<char, kFileReadSize> buf_storage;

// A configuration file opened for an upload. Only a regular file is accepted:
// it is opened without blocking (a FIFO must not hang the program), and it is
// sent up to the size it had when opened, so that a capture appending to it
// meanwhile does not feed the upload its own echo for ever.
class UploadFile {
 public:
  explicit UploadFile(const char* path);

  // False when the file cannot be opened or is not a regular file.
  [[nodiscard]] bool is_open() const { return file_.is_open() && error_ == 0; }
  // True when the file opened but is not one to upload (a directory, a device...).
  [[nodiscard]] bool refused() const { return file_.is_open() && error_ != 0; }

  // Reads the next part (at most 1024 bytes) into buf_storage: its size, 0 at
  // the end, -1 when the read fails.
  ssize_t read_part();

  // Reports on standard error, in the form of perror, why the file could not be
  // opened or read.
  void report() const;

 private:
  const char* path_;
  UniqueFd file_;
  off_t left_ = 0;
  int error_ = 0;  // errno of the failure, or kNotRegular
};

// The file's bytes that are not typed (NUL and 0x80-0xFF: the console takes
// 7-bit ASCII only), and the first lines that hold them.
struct Unsent {
  std::size_t bytes = 0;
  LineList lines;

  // Each byte of the file, in order.
  void count(char b);

 private:
  LineCounter lines_;
};

// How a paced transmission ended.
enum class PacedEnd { kWhole, kPortFailed, kFileFailed };

// Paced transmission over the port of the current cycle: `n` bytes already in
// buf_storage, then the rest of the file part after part. Each byte is typed
// after a 10 ms pause, and with a device that echoes once it has echoed what
// was typed before (port_wait_turn); a CR inserted before an LF that does not
// follow one (across parts too) goes at once; bytes 0x00 and 0x80-0xFF are
// dropped but still paced. What the device sends meanwhile is shown (and
// handed to `consumer`). The bytes not sent are counted in `unsent`, if given.
// Stops at once when the port or the file fails.
PacedEnd send_paced_file(UploadFile& file, ssize_t n, ByteConsumer consumer = nullptr,
                         Unsent* unsent = nullptr);

// Uploads the file at path: "set conf\r" first when mode is 1, the paced file,
// a final "\r", the device's answer, whether its echo held the whole file, and
// the advice to restart the device.
// `on_port_failure`, if given, runs before the port error when the port cannot
// be opened (the menus show the menu there).
void send_file(int mode, const char* path, void (*on_port_failure)() = nullptr);

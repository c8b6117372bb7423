#include "serial/upload.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "console/console.hpp"
#include "echo/echo_model.hpp"
#include "serial/echo.hpp"
#include "serial/line_end.hpp"
#include "serial/open_line.hpp"
#include "serial/pause.hpp"
#include "serial/port.hpp"

std::array<char, kFileReadSize> buf_storage{};

namespace {

constexpr int kNotRegular = -1;
constexpr std::string_view kCannotOpen = "\nImpossivel abrir o arquivo. ";

constexpr std::string_view kEchoWhole = "\nEco conferido: o equipamento recebeu os ";
constexpr std::string_view kAttention = "\nATENCAO: ";
constexpr std::string_view kSendAgain =
    "Envie o arquivo de novo antes de reinicializar o equipamento.\n";
constexpr std::string_view kNoEcho =
    "\nO equipamento nao ecoou o arquivo: a recepcao nao pode ser conferida.\n";
// Typing went on after the longest wait for XON: bytes may have found the
// device's buffer full, whatever its echo says.
constexpr std::string_view kHeldOff =
    "\nATENCAO: o equipamento suspendeu o envio (XOFF) por mais de 10 s e o envio continuou.\n";
constexpr std::string_view kEmptyFile = "\nATENCAO: o arquivo esta vazio: nada dele foi enviado.\n";

// Types n bytes of buf_storage; `previous` carries the last byte across parts,
// so a CR that ends one part and an LF that starts the next stay CR LF.
bool pace_bytes(std::size_t n, char& previous, ByteConsumer consumer, Unsent* unsent) {
  for (std::size_t i = 0; i < n; ++i) {
    const char b = buf_storage[i];
    if (unsent != nullptr) unsent->count(b);
    if (cr_goes_before(previous, b)) {
      echo_inserted_next();
      if (!port_write(std::string_view("\r"))) return false;
    }
    previous = b;
    // Every byte takes its pause, also one that is then not sent.
    port_wait_turn(MonoClock::now() + std::chrono::microseconds(kKeyPauseUs), consumer);
    // The device's console takes 7-bit ASCII only; NUL and 8-bit bytes are skipped.
    if (static_cast<signed char>(b) > 0 && !port_write(&b, 1)) return false;
  }
  return true;
}

void print_count(std::size_t n) {
  std::array<char, 24> text{};
  const auto end = std::to_chars(text.data(), text.data() + text.size(), n).ptr;
  console_write(std::string_view(text.data(), static_cast<std::size_t>(end - text.data())));
}

// " (linhas 3, 7, ...).\n"
void print_lines(const LineList& lines) {
  console_write(" (linhas ");
  for (std::size_t i = 0; i < lines.count; ++i) {
    if (i > 0) console_write(", ");
    print_count(lines.first[i]);
  }
  if (lines.more) console_write(", ...");
  console_write(").\n");
}

// Tells the operator of the file's bytes that were not typed.
void print_unsent(const Unsent& unsent) {
  if (unsent.bytes == 0) return;
  console_write(kAttention);
  print_count(unsent.bytes);
  console_write(unsent.bytes == 1 ? " byte do arquivo fora do ASCII nao foi enviado"
                                  : " bytes do arquivo fora do ASCII nao foram enviados");
  print_lines(unsent.lines);
}

// Tells the operator whether the device's echo holds the whole file.
void print_echo_verdict(const EchoVerdict& v) {
  switch (v.kind) {
    case EchoVerdict::Kind::kNone:
      return;
    case EchoVerdict::Kind::kWhole:
      console_write(kEchoWhole);
      print_count(v.bytes);
      console_write(" bytes do arquivo.\n");
      break;
    case EchoVerdict::Kind::kLost:
      console_write(kAttention);
      print_count(v.lost);
      console_write(v.lost == 1 ? " byte do arquivo nao voltou no eco do equipamento"
                                : " bytes do arquivo nao voltaram no eco do equipamento");
      print_lines(v.lines);
      console_write(kSendAgain);
      break;
    case EchoVerdict::Kind::kNoEcho:
      console_write(kNoEcho);
      break;
  }
  if (v.held_off) {
    console_write(kHeldOff);
    if (v.kind != EchoVerdict::Kind::kLost) console_write(kSendAgain);
  }
}

// The upload's own port cycle: how the file's typing ended.
PacedEnd upload_over_port(int mode, UploadFile& file, ssize_t n, Unsent& unsent) {
  if (!end_open_line()) return PacedEnd::kPortFailed;
  port_pause(kCommandPauseUs);
  if (mode == 1 && !port_write(std::string_view("set conf\r"))) return PacedEnd::kPortFailed;
  port_pause(kCommandPauseUs);
  echo_typing_file(true);
  const PacedEnd end = send_paced_file(file, n, nullptr, &unsent);
  echo_typing_file(false);
  if (end == PacedEnd::kPortFailed) return end;
  if (end == PacedEnd::kFileFailed) {
    file.report();
    // The line the file's failure cut short is erased, not executed.
    if (!erase_cut_line()) return PacedEnd::kPortFailed;
    // The CR after the DELs waits its turn as they did.
    paced_byte_wait();
  }
  port_pause(kCommandPauseUs);
  // The line the device holds is ended also when the file could not be read to its end.
  if (!port_write(std::string_view("\r"))) return PacedEnd::kPortFailed;
  // The adapter pulled while the device says its last word: no verdict can be had.
  if (!drain_until_quiet(kUploadDrainPauseUs)) return PacedEnd::kPortFailed;
  port_pause(kUploadDrainPauseUs);
  return end;
}

}  // namespace

UploadFile::UploadFile(const char* path)
    : path_(path), file_(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
  struct stat about {};
  if (!file_.is_open() || ::fstat(file_.get(), &about) != 0) {
    error_ = errno;
  } else if (S_ISDIR(about.st_mode)) {
    error_ = EISDIR;
  } else if (!S_ISREG(about.st_mode)) {
    error_ = kNotRegular;
  } else {
    left_ = about.st_size;
  }
}

ssize_t UploadFile::read_part() {
  if (!is_open()) return -1;
  const auto want = static_cast<std::size_t>(std::min<off_t>(left_, kFileReadSize));
  if (want == 0) return 0;
  ssize_t n = 0;
  do {
    n = ::read(file_.get(), buf_storage.data(), want);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    error_ = errno;
    return -1;
  }
  left_ = n == 0 ? 0 : left_ - n;  // a file cut short meanwhile ends here
  return n;
}

void UploadFile::report() const {
  console_error(path_, error_ == kNotRegular ? "Not a regular file" : std::strerror(error_));
}

void Unsent::count(char b) {
  const std::uint32_t line = lines_.line_of(b);
  if (static_cast<signed char>(b) > 0) return;
  ++bytes;
  lines.note(line);
}

PacedEnd send_paced_file(UploadFile& file, ssize_t n, ByteConsumer consumer, Unsent* unsent) {
  char previous = '\0';
  while (n > 0) {
    if (!pace_bytes(static_cast<std::size_t>(n), previous, consumer, unsent)) {
      return PacedEnd::kPortFailed;
    }
    n = file.read_part();
  }
  return n == 0 ? PacedEnd::kWhole : PacedEnd::kFileFailed;
}

void send_file(int mode, const char* path, void (*on_port_failure)()) {
  UploadFile file(path);
  // A file that opens but cannot be read is no better than one that does not open.
  const ssize_t n = file.read_part();
  if (n < 0) {
    console_write(kCannotOpen);
    file.report();
    return;
  }
  console_write(kSendingFile);
  Unsent unsent;
  PacedEnd end = PacedEnd::kPortFailed;
  {
    PortCycle port;
    if (!port.is_open()) {
      if (on_port_failure != nullptr) on_port_failure();
      print_port_error();
    } else {
      end = upload_over_port(mode, file, n, unsent);
      // The adapter went away under the upload: typing stopped at once.
      if (end == PacedEnd::kPortFailed) print_port_error();
    }
  }
  // After the device's last word. A file that failed to be read, or a port that
  // failed, has already been told of: no echo can make such an upload whole.
  if (end == PacedEnd::kWhole) {
    // An empty file has no echo to judge: the operator is told why none comes.
    if (n == 0) console_write(kEmptyFile);
    print_echo_verdict(echo_verdict());
    print_unsent(unsent);
  }
  console_write("\nReinicialize o equipamento para efetivar as configuracoes. ");
  console_line("\r");
}

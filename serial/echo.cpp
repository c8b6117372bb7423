#include "serial/echo.hpp"

#include <utility>

#include "serial/echo_check.hpp"
#include "serial/echo_pace.hpp"

namespace {

EchoPace pace;
EchoCheck* check = nullptr;
bool typing_file = false;
bool inserted_next = false;
bool file_typed = false;  // the accounting heard the file typed, and nothing after it yet

// What typing learnt of a byte's echo is the accounting's first witness.
void tell_check(std::chrono::steady_clock::time_point typed_at, char c, bool echoed) {
  if (check != nullptr) check->fate(typed_at, c, echoed);
}

}  // namespace

void echo_cycle_begins() {
  pace.reset();
  pace.listen(tell_check);
}

void echo_typed(std::string_view bytes, std::chrono::steady_clock::time_point at) {
  const bool in_step = pace.waiting();
  pace.typed(bytes, at);
  const bool from_file = !std::exchange(inserted_next, false);
  if (check == nullptr) return;
  if (!typing_file) {
    if (std::exchange(file_typed, false)) check->typing_over(at);
    return;
  }
  file_typed = true;
  for (const char b : bytes) check->typed(b, from_file, at, in_step);
}

void echo_heard(std::string_view bytes, std::chrono::steady_clock::time_point at) {
  pace.heard(bytes, at);
  if (check == nullptr) return;
  for (const char b : bytes) check->heard(b, at);
}

EchoPace& echo_pace() { return pace; }

void echo_account(EchoCheck* accounting) {
  check = accounting;
  typing_file = false;
  inserted_next = false;
  file_typed = false;
}

void echo_typing_file(bool file) { typing_file = file; }

void echo_inserted_next() { inserted_next = true; }

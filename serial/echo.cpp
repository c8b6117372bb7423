#include "serial/echo.hpp"

#include <utility>

#include "serial/echo_check.hpp"
#include "serial/echo_pace.hpp"

namespace {

EchoPace pace;
EchoCheck* check = nullptr;
bool typing_file = false;
bool inserted_next = false;

}  // namespace

void echo_cycle_begins() { pace.reset(); }

void echo_typed(std::string_view bytes, std::chrono::steady_clock::time_point at) {
  pace.typed(bytes, at);
  const bool from_file = !std::exchange(inserted_next, false);
  if (check == nullptr || !typing_file) return;
  for (const char b : bytes) check->typed(b, from_file, at);
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
}

void echo_typing_file(bool file) { typing_file = file; }

void echo_inserted_next() { inserted_next = true; }

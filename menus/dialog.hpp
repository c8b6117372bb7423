#pragma once

#include <string_view>

#include "console/console.hpp"
#include "serial/pause.hpp"

// The key loop of every dialog: `on_key` gets each key read and returns true
// when that key completes the dialog. '9' ends every dialog, whether or not
// `on_key` gives it an action; keys outside the dialog's set are consumed
// silently. The loop also ends when console input closes.
template <typename OnKey>
void dialog_key_loop(OnKey&& on_key) {
  for (;;) {
    const int key = console_getc();
    if (key == kConsoleClosed) return;
    const bool done = key >= 0 && on_key(static_cast<char>(key));
    pause_us(kKeyPauseUs);
    if (done || key == '9') return;
  }
}

// The yes/no question that may restart the device ('S'/'s' sends "run reset").
// On a terminal, keys typed before the question was shown are discarded.
void reset_question(std::string_view prompt);

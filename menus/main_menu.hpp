#pragma once

#include <string_view>

inline constexpr std::string_view VERSAO = "1.0";

// The main menu; item 4 follows the capture flag.
void print_menu();

// The program: start-up text, then the main loop until menu key 8 or the end
// of console input. Returns the exit status (0).
int drovan_main();

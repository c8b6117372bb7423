#include "menus/terminal.hpp"

void terminal_mode() {}

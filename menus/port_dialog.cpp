#include "menus/port_dialog.hpp"

void print_menu_porta() {}
void port_dialog() {}

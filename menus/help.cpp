#include "menus/help.hpp"

void print_menu_ajuda() {}
void help_dialog() {}

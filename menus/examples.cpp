#include "menus/examples.hpp"

void print_menu_exemplo_conf() {}
void example_dialog() {}

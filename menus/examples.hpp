#pragma once

void print_menu_exemplo_conf();

// Menu key 5: uploads one of the example configurations, then offers the reset.
void example_dialog();

#pragma once

void print_menu_ajuda();

// Menu key 7: the help screen.
void help_dialog();

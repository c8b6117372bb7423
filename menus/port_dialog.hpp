#pragma once

void print_menu_porta();

// Menu key 1: chooses one of the six ports.
void port_dialog();

#include "menus/main_menu.hpp"

int main() { return drovan_main(); }

#include "menus/conf_dialog.hpp"

void conf_file_dialog() {}

#pragma once

// Menu key 3: uploads drovan.conf, then offers the reset.
void conf_file_dialog();

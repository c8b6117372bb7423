#pragma once

// Menu key 2: an interactive terminal on the device's console.
void terminal_mode();

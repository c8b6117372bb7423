#pragma once

// The keystroke that terminal mode read last.
extern char ch;

// Menu key 2: an interactive terminal on the device's console. What the
// operator types goes to the device one byte per 10 ms (ENTER as LF, then CR at
// once), what the device sends is shown at once (and recorded while the capture
// is on). A line holding only 'q' leaves; one holding only '3' types
// drovan.conf to the device.
void terminal_mode();

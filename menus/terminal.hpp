#pragma once

// The keystroke that terminal mode read last.
extern char ch;

// Menu key 2: an interactive terminal on the device's console. What the
// operator types goes to the device (ENTER as LF then CR), what the device
// sends is shown at once (and recorded while the capture is on); 'q' leaves and
// '3' types drovan.conf to the device.
void terminal_mode();

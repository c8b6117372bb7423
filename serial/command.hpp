#pragma once

// One command line to the device's console, in a port cycle of its own: the
// text, a carriage return, and whatever the device answers meanwhile.
void send_command(const char* msg);


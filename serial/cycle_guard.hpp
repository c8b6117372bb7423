#pragma once

// While a port cycle is open, SIGINT, SIGTERM, SIGHUP and SIGQUIT end the
// device's open line with a carriage return and close the port before the
// program dies of the signal. Signals the program was started with ignored stay ignored.

// Arms the guard for the port just opened.
void guard_cycle(int port);
// Puts back what the signals did before; called before the port is closed.
void unguard_cycle();

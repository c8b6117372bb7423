#pragma once

// While a port cycle is open, SIGINT, SIGTERM, SIGHUP and SIGQUIT put the
// port's own flags back, erase the device's line if typing was cut in its
// middle (one DEL per byte it holds, typed as keys are: 10 ms apart and, on a
// device whose echo paces typing, each once the device has answered the one
// before), end it with a carriage return and close the port before the
// program dies of the signal. A second of these signals while the erase goes
// out ends the program at once. Signals the program was started with ignored
// stay ignored.

// Arms the guard for the port just opened.
void guard_cycle(int port);
// Puts back what the signals did before; called before the port is closed.
void unguard_cycle();

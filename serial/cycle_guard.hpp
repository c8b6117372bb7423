#pragma once

// While a port cycle is open, SIGINT, SIGTERM, SIGHUP and SIGQUIT end it
// before the program dies of the signal (console/ending_signals.hpp): the
// device's line, if typing was cut in its middle, is erased (one DEL per byte
// it holds) and ended with a carriage return, each byte typed as keys are, at
// the device's pace; then the port's own settings are put back and it is
// closed. A second of these signals ends the program at once, the port's
// settings put back without waiting for what is still queued.

// Arms the guard for the port just opened.
void guard_cycle(int port);
// Disarms it; called once the port's settings are put back, before it is closed.
void unguard_cycle();

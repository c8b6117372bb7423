#pragma once

// An FT232 holds what it receives up to 16 ms (its latency timer) before the
// host sees it; asked for low latency, ftdi_sio runs the timer at 1 ms, so the
// device's echo and output reach the program up to 15 ms sooner. An ordinary
// user may set the flag. A port that refuses (a pseudo-terminal, another
// driver) is used as it is, without a word.

// Adds ASYNC_LOW_LATENCY to the port's flags when they lack it, remembering
// the port's own.
void ask_low_latency(int port);
// Puts the port's own flags back, if they were changed. Async-signal-safe: a
// program ended at once by a second signal calls it.
void restore_latency(int port);

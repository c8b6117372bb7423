#pragma once

// The port's terminal settings as the program found them, put back when it
// closes the port, so that the next program on it finds them as they were.

// Takes the port's settings before the program's own are applied.
void save_port_settings(int port);
// Puts them back once what was written has gone out (a bounded wait), if they
// were taken.
void restore_port_settings(int port);
// Puts them back now, dropping what is still queued rather than sending it at
// the settings put back. Async-signal-safe: for a program ended at once.
void restore_port_settings_at_once(int port);

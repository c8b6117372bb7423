#pragma once

#include <chrono>

// Showing what the device sends: every byte read from the port goes to the
// console at once, unchanged, and to the consumer if there is one (the capture).

using ByteConsumer = void (*)(char);

// The device is taken to have said its last word once it has been quiet this
// long: its answers come in bursts a few milliseconds apart at most.
inline constexpr std::chrono::milliseconds kDeviceQuiet{200};
// ...but a device that never stops talking must not hold the program: a port
// cycle ends at the latest this long after the last byte written to it.
inline constexpr std::chrono::milliseconds kLastWordBound{2000};

// One read of at most 1024 bytes from the port, known to be readable, shown at
// once. False when the port failed or hung up (nothing could be read).
bool show_port_input(ByteConsumer consumer = nullptr);

// A pause inside a port cycle: it lasts exactly as long as asked, and whatever
// the device sends meanwhile is shown as it arrives.
void port_pause(long microseconds, ByteConsumer consumer = nullptr);
// The same, until the deadline (at once if it has passed).
void port_pause_until(std::chrono::steady_clock::time_point deadline,
                      ByteConsumer consumer = nullptr);

// Waits until the device's console can take the next paced byte: not before
// `not_before`, and, with a device that echoes, not before it has echoed what
// was typed (at most EchoModel::kMaxWait for it) and answered a DEL typed last
// (at most echo_answer_wait_us() for it). What the device sends meanwhile is
// shown. A port that fails ends the wait at once.
void port_wait_turn(std::chrono::steady_clock::time_point not_before,
                    ByteConsumer consumer = nullptr);

// The drain that ends a port cycle: shows what the device sends until it has
// been quiet for kDeviceQuiet (kLastWordBound after the last write at most;
// while the echo of what was typed is still to come from a device that echoes,
// until it comes, within the accounting's echo window), then the pause, then
// the notification is cleared. False when the port failed or hung up meanwhile.
bool drain_until_quiet(long pause_microseconds, ByteConsumer consumer = nullptr);

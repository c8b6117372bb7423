#pragma once

// The private /dev of the command run under the simulator: a mount namespace
// of its own (inside a user namespace of its own when not root) in which
// /dev/ttyUSBN is the simulator's pseudo-terminal and /dev/pts a devpts of its
// own, so COMMAND can open pseudo-terminals. Nothing on the host changes.

namespace sim {

// The step of the setup that failed, and its errno; sent by the child to the
// parent through a pipe, so the parent alone speaks to the operator.
struct SetupError {
  enum Step : int { kNone, kUnshare, kIdMap, kPrivate, kNewDev, kBindPort, kPtys, kConsole, kExec };
  Step step = kNone;
  int error = 0;
};

// What the step was doing, for the message.
const char* step_text(SetupError::Step step);

// True when the step failing means the kernel refused the namespaces.
bool namespaces_refused(SetupError::Step step);

// Runs in the forked child, before exec: on success `device` (e.g.
// "/dev/ttyUSB0") names the pseudo-terminal at `slave_path` for this process
// and its children. A device node at `device` is covered. Otherwise (nothing
// there, a link, anything else) /dev is rebuilt on a tmpfs from binds of the
// other original entries, with a name of the port's own, since devtmpfs is
// shared across mount namespaces and nothing may be created in it. Either way
// /dev/pts is then a new devpts instance and /dev/ptmx opens into it.
bool make_private_device(const char* device, const char* slave_path, SetupError& error);

}  // namespace sim

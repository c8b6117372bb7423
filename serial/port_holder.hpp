#pragma once

#include <sys/types.h>

#include <array>
#include <optional>

// Who holds a port that another program has taken, as far as /proc tells: the
// process whose lock (flock) is on the port's node, else the first other
// process with that device open. The look is bounded, and finds nothing among
// another user's processes whose descriptors it may not see.

struct PortHolder {
  pid_t pid = 0;
  std::array<char, 16> name{};  // its command name (/proc/PID/comm), terminated
};

std::optional<PortHolder> port_holder(const char* port_name);

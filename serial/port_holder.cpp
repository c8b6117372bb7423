#include "serial/port_holder.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "console/unique_fd.hpp"

namespace {

// Descriptors looked at, over all processes: a busy machine is not walked for long.
constexpr int kMostDescriptors = 16384;

struct CloseDir {
  void operator()(DIR* d) const { (void)::closedir(d); }
};
using Dir = std::unique_ptr<DIR, CloseDir>;

// A directory entry that names a process: its pid, else 0.
pid_t pid_named(const char* name) {
  char* end = nullptr;
  const long pid = std::strtol(name, &end, 10);
  return *name != '\0' && *end == '\0' && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

// The flock on the port's own node, from /proc/locks: "1: FLOCK  ADVISORY  WRITE
// PID MAJ:MIN:INODE 0 EOF", the file system's device in hex. Waiters ("->") are no holders.
pid_t lock_holder(const struct stat& port) {
  const UniqueFd locks(::open("/proc/locks", O_RDONLY | O_CLOEXEC));
  if (!locks.is_open()) return 0;
  std::array<char, 16384> text{};
  std::size_t used = 0;
  while (used < text.size() - 1) {
    const ssize_t n = ::read(locks.get(), text.data() + used, text.size() - 1 - used);
    if (n <= 0) break;  // a lock table longer than this is looked at in part
    used += static_cast<std::size_t>(n);
  }
  for (char* line = text.data(); line != nullptr && *line != '\0';) {
    char* const next = std::strchr(line, '\n');
    if (next != nullptr) *next = '\0';
    std::array<char, 16> kind{};
    int pid = 0;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long inode = 0;
    if (std::sscanf(line, "%*d: %15s %*s %*s %d %x:%x:%lu", kind.data(), &pid, &major, &minor,
                    &inode) == 5 &&
        std::strcmp(kind.data(), "FLOCK") == 0 && pid > 0 &&
        ::makedev(major, minor) == port.st_dev && inode == port.st_ino) {
      return static_cast<pid_t>(pid);
    }
    line = next != nullptr ? next + 1 : nullptr;
  }
  return 0;
}

// The first process but this one with the port's device open (a program that
// took it exclusively, say, and holds no lock).
pid_t device_opener(const struct stat& port) {
  const Dir proc(::opendir("/proc"));
  if (!proc) return 0;
  int looked = 0;
  for (const dirent* e = ::readdir(proc.get()); e != nullptr && looked < kMostDescriptors;
       e = ::readdir(proc.get())) {
    const pid_t pid = pid_named(e->d_name);
    if (pid == 0 || pid == ::getpid()) continue;
    std::array<char, 64> fds{};
    (void)std::snprintf(fds.data(), fds.size(), "/proc/%d/fd", static_cast<int>(pid));
    const Dir open_files(::opendir(fds.data()));
    if (!open_files) continue;  // gone, or another user's
    for (const dirent* f = ::readdir(open_files.get()); f != nullptr && looked < kMostDescriptors;
         f = ::readdir(open_files.get())) {
      if (f->d_name[0] == '.') continue;
      ++looked;
      struct stat about {};
      if (::fstatat(::dirfd(open_files.get()), f->d_name, &about, 0) == 0 &&
          S_ISCHR(about.st_mode) && about.st_rdev == port.st_rdev) {
        return pid;
      }
    }
  }
  return 0;
}

}  // namespace

std::optional<PortHolder> port_holder(const char* port_name) {
  struct stat port {};
  if (::stat(port_name, &port) != 0 || !S_ISCHR(port.st_mode)) return std::nullopt;
  PortHolder holder;
  holder.pid = lock_holder(port);
  if (holder.pid == 0) holder.pid = device_opener(port);
  if (holder.pid == 0) return std::nullopt;
  std::array<char, 64> comm{};
  (void)std::snprintf(comm.data(), comm.size(), "/proc/%d/comm", static_cast<int>(holder.pid));
  const UniqueFd name(::open(comm.data(), O_RDONLY | O_CLOEXEC));
  ssize_t n = name.is_open() ? ::read(name.get(), holder.name.data(), holder.name.size() - 1) : -1;
  if (n <= 0) return std::nullopt;  // it ended meanwhile
  if (holder.name[n - 1] == '\n') --n;
  holder.name[n] = '\0';
  return holder;
}

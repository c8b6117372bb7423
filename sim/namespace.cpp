#include "sim/namespace.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "console/unique_fd.hpp"

namespace sim {

namespace {

bool fail(SetupError& error, SetupError::Step step) {
  error.step = step;
  error.error = errno;
  return false;
}

bool write_text(const char* path, const char* text) {
  const UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC));
  if (!fd.is_open()) return false;
  const auto size = static_cast<ssize_t>(std::strlen(text));
  ssize_t n = 0;
  do {
    n = ::write(fd.get(), text, static_cast<std::size_t>(size));
  } while (n < 0 && errno == EINTR);
  return n == size;  // the kernel takes an id map in one write or not at all
}

// Maps the caller's own uid and gid to themselves: files the command creates
// belong to the caller, and the command has no privilege on the host.
bool map_ids(uid_t uid, gid_t gid) {
  char line[64];
  if (!write_text("/proc/self/setgroups", "deny")) return false;
  (void)std::snprintf(line, sizeof line, "%u %u 1", uid, uid);
  if (!write_text("/proc/self/uid_map", line)) return false;
  (void)std::snprintf(line, sizeof line, "%u %u 1", gid, gid);
  return write_text("/proc/self/gid_map", line);
}

bool enter_namespaces(SetupError& error) {
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  // Root needs no user namespace; one without the privilege (a container) still may use one.
  if (uid == 0 && ::unshare(CLONE_NEWNS) == 0) return true;
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return fail(error, SetupError::kUnshare);
  if (!map_ids(uid, gid)) return fail(error, SetupError::kIdMap);
  return true;
}

// A placeholder in the new /dev for the old entry `name`, then the entry bound
// onto it; an entry that will not bind is left out rather than left empty.
void bind_entry(int old_dev, int new_dev, const char* name) {
  struct stat about {};
  if (::fstatat(old_dev, name, &about, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISLNK(about.st_mode)) {
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(old_dev, name, target, sizeof target - 1);
    if (n < 0) return;
    target[n] = '\0';
    (void)::symlinkat(target, new_dev, name);
    return;
  }
  const bool dir = S_ISDIR(about.st_mode);
  if (dir) {
    if (::mkdirat(new_dev, name, 0755) != 0) return;
  } else {
    const UniqueFd placeholder(
        ::openat(new_dev, name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    if (!placeholder.is_open()) return;
  }
  char from[PATH_MAX];
  char to[PATH_MAX];
  (void)std::snprintf(from, sizeof from, "/proc/self/fd/%d/%s", old_dev, name);
  (void)std::snprintf(to, sizeof to, "/dev/%s", name);
  if (::mount(from, to, nullptr, MS_BIND | (dir ? MS_REC : 0), nullptr) != 0) {
    (void)::unlinkat(new_dev, name, dir ? AT_REMOVEDIR : 0);
  }
}

bool rebuild_dev(const char* device, SetupError& error) {
  const char* const port_name = std::strrchr(device, '/') + 1;
  const UniqueFd old_dev(::open("/dev", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!old_dev.is_open()) return fail(error, SetupError::kNewDev);
  if (::mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0) {
    return fail(error, SetupError::kNewDev);
  }
  const UniqueFd new_dev(::open("/dev", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!new_dev.is_open()) return fail(error, SetupError::kNewDev);
  // The old entries, listed through its descriptor: the tmpfs now hides them.
  alignas(dirent64) std::array<char, 8192> listing{};
  for (;;) {
    const long n = ::syscall(SYS_getdents64, old_dev.get(), listing.data(), listing.size());
    if (n < 0) return fail(error, SetupError::kNewDev);
    if (n == 0) break;
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const dirent64*>(listing.data() + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      // Whatever holds the port's name on the host (a link, say) is not carried
      // over, nor the host's pseudo-terminals: the namespace has a devpts of its own.
      if (std::strcmp(entry->d_name, port_name) == 0 || std::strcmp(entry->d_name, "pts") == 0 ||
          std::strcmp(entry->d_name, "ptmx") == 0) {
        continue;
      }
      bind_entry(old_dev.get(), new_dev.get(), entry->d_name);
    }
  }
  const UniqueFd placeholder(::open(device, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
  if (!placeholder.is_open()) return fail(error, SetupError::kNewDev);
  // A lone ptmx bound here would open nothing: the kernel looks for the devpts
  // beside the node it was opened through, so the name leads into that devpts.
  if (::mkdirat(new_dev.get(), "pts", 0755) != 0 ||
      ::symlinkat("pts/ptmx", new_dev.get(), "ptmx") != 0) {
    return fail(error, SetupError::kNewDev);
  }
  return true;
}

// A devpts instance of the namespace's own over /dev/pts, its ptmx open to
// everyone, as on the host's: COMMAND and what it starts make pseudo-terminals
// there, as root and as an ordinary user.
bool mount_ptys(bool dev_rebuilt, SetupError& error) {
  if (::mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666") !=
      0) {
    return fail(error, SetupError::kPtys);
  }
  // The host's /dev/ptmx (a node, or a link) now leads into the new instance.
  if (!dev_rebuilt && ::mount("/dev/pts/ptmx", "/dev/ptmx", nullptr, MS_BIND, nullptr) != 0) {
    return fail(error, SetupError::kPtys);
  }
  return true;
}

}  // namespace

const char* step_text(SetupError::Step step) {
  switch (step) {
    case SetupError::kNone:
      return "";
    case SetupError::kUnshare:
      return "unshare";
    case SetupError::kIdMap:
      return "user id map";
    case SetupError::kPrivate:
      return "private mount tree";
    case SetupError::kNewDev:
      return "private /dev";
    case SetupError::kBindPort:
      return "bind mount";
    case SetupError::kPtys:
      return "devpts";
    case SetupError::kConsole:
      return "console";
    case SetupError::kExec:
      return "exec";
  }
  return "";
}

bool namespaces_refused(SetupError::Step step) {
  return step == SetupError::kUnshare || step == SetupError::kIdMap || step == SetupError::kPrivate;
}

bool make_private_device(const char* device, const char* slave_path, SetupError& error) {
  if (!enter_namespaces(error)) return false;
  // Mounts made from here on stay in this namespace.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return fail(error, SetupError::kPrivate);
  }
  // The port is taken while its path still leads to it: the new devpts hides
  // the host's /dev/pts, and a rebuilt /dev does not carry it over.
  const UniqueFd port(::open(slave_path, O_PATH | O_CLOEXEC));
  if (!port.is_open()) return fail(error, SetupError::kBindPort);
  // A device at the name (a real adapter) is covered, through a descriptor of
  // what was looked at, since a mount follows links. Anything else there, a
  // link above all, or nothing, and the port gets a name of its own: mounting
  // onto a link would cover its target instead.
  const UniqueFd at_name(::open(device, O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat about {};
  char target[PATH_MAX];
  const bool covered =
      at_name.is_open() && ::fstat(at_name.get(), &about) == 0 && S_ISCHR(about.st_mode);
  if (covered) {
    (void)std::snprintf(target, sizeof target, "/proc/self/fd/%d", at_name.get());
  } else if (rebuild_dev(device, error)) {
    (void)std::snprintf(target, sizeof target, "%s", device);
  } else {
    return false;
  }
  char source[PATH_MAX];
  (void)std::snprintf(source, sizeof source, "/proc/self/fd/%d", port.get());
  if (::mount(source, target, nullptr, MS_BIND, nullptr) != 0) {
    return fail(error, SetupError::kBindPort);
  }
  return mount_ptys(!covered, error);
}

}  // namespace sim

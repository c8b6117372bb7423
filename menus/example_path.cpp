#include "menus/example_path.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

// The data directory relative to the bin directory, from the install layout
// (normally "../share"). Relative, not absolute: the same build then works
// installed under any prefix, by `cmake --install --prefix`, or by the package
// into /usr while it was configured for /usr/local.
#ifndef DROVAN_DATADIR_FROM_BINDIR
#define DROVAN_DATADIR_FROM_BINDIR "../share"
#endif

namespace {

constexpr std::string_view kDataFromBin = DROVAN_DATADIR_FROM_BINDIR;
constexpr std::string_view kPackageDir = "drovan-terminal";

// Anything but "no such file" counts as there (a file we may not read, say):
// the upload then reports it by that name rather than try another file.
bool exists(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

// Writes head + "/" + tail into out, NUL-terminated; head may be out's own text.
bool join(PathBuffer& out, std::string_view head, std::string_view tail) {
  if (head.size() + 1 + tail.size() >= out.size()) return false;
  std::memmove(out.data(), head.data(), head.size());
  out[head.size()] = '/';
  std::memcpy(out.data() + head.size() + 1, tail.data(), tail.size());
  out[head.size() + 1 + tail.size()] = '\0';
  return true;
}

}  // namespace

bool installed_data_dir(PathBuffer& out) {
  // The link's text is the executable's absolute path; after an in-place
  // upgrade it ends in " (deleted)", which leaves its directory as it was.
  const ssize_t n = ::readlink("/proc/self/exe", out.data(), out.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= out.size()) return false;
  const std::string_view exe(out.data(), static_cast<std::size_t>(n));
  const std::size_t slash = exe.rfind('/');
  if (slash == std::string_view::npos) return false;
  return join(out, exe.substr(0, slash), kDataFromBin) &&
         join(out, std::string_view(out.data()), kPackageDir);
}

const char* find_example(const char* relative, std::string_view data_dir, PathBuffer& out) {
  if (exists(relative)) return relative;
  if (data_dir.empty() || !join(out, data_dir, relative)) return relative;
  return exists(out.data()) ? out.data() : relative;
}

const char* example_path(const char* relative, PathBuffer& out) {
  if (!installed_data_dir(out)) out[0] = '\0';
  return find_example(relative, std::string_view(out.data()), out);
}

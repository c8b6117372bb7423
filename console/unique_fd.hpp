#pragma once

#include <unistd.h>

// Owns one descriptor (a file or the like) and closes it on every path out of
// its scope. A negative value means that the open failed.
class UniqueFd {
 public:
  explicit UniqueFd(int descriptor) : descriptor_(descriptor) {}
  ~UniqueFd() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  [[nodiscard]] bool is_open() const { return descriptor_ >= 0; }
  [[nodiscard]] int get() const { return descriptor_; }

 private:
  int descriptor_;
};

#pragma once

#include <cstddef>
#include <string_view>

// Writes every byte of data to fd, retrying on EINTR, short counts and EAGAIN.
// Returns false only when the descriptor reports a real error.
bool write_all(int fd, const void* data, std::size_t size);

inline bool write_all(int fd, std::string_view text) {
  return write_all(fd, text.data(), text.size());
}

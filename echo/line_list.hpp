#pragma once

// The first lines of a file that something befell, as the operator is told
// them: "(linhas 3, 7, ...)".

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

struct LineList {
  static constexpr std::size_t kMax = 10;

  std::array<std::uint32_t, kMax> first{};  // in order, without repeats
  std::size_t count = 0;                    // entries of `first` in use
  bool more = false;                        // more lines than `first` holds

  // Lines are noted in order; one noted again at once is noted once.
  void note(std::uint32_t line) {
    if (count > 0 && first[count - 1] == line) return;
    if (count < kMax) {
      first[count++] = line;
    } else {
      more = true;
    }
  }

  // Both lists in one, in order.
  void merge(const LineList& other) {
    std::array<std::uint32_t, 2 * kMax> all{};
    const auto end = std::set_union(first.begin(), first.begin() + count, other.first.begin(),
                                    other.first.begin() + other.count, all.begin());
    const auto total = static_cast<std::size_t>(end - all.begin());
    count = std::min(total, kMax);
    std::copy_n(all.begin(), count, first.begin());
    more = more || other.more || total > kMax;
  }
};

// The line of a file each byte is on, from 1, however the file's lines end:
// CR LF, LF, or CR alone.
class LineCounter {
 public:
  // The line `b` is on; bytes are told in order.
  std::uint32_t line_of(char b) {
    if (after_cr_ && b != '\n') ++line_;
    after_cr_ = b == '\r';
    const std::uint32_t line = line_;
    if (b == '\n') ++line_;
    return line;
  }
  // The line the next byte will be on, if it is not an LF.
  [[nodiscard]] std::uint32_t next_line() const { return after_cr_ ? line_ + 1 : line_; }

 private:
  std::uint32_t line_ = 1;
  bool after_cr_ = false;
};

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

#pragma once

#include <string_view>

namespace sim {

// Where the console's output goes (the line to the program, or a test's string).
class Sink {
 public:
  virtual void put(std::string_view bytes) = 0;

 protected:
  ~Sink() = default;
};

}  // namespace sim

#pragma once

// The device's console ends its lines at CR: a line feed that does not follow
// a CR gets one typed right before it (a CR LF file goes out unchanged).
[[nodiscard]] constexpr bool cr_goes_before(char previous, char byte) {
  return byte == '\n' && previous != '\r';
}

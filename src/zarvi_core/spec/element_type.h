// ElementType: the X12 data type of an element, a small value.
#pragma once

#include <cstdint>
#include <string>

namespace zarvi_core::spec {

struct ElementType {
  // Numbered in this order: AN 0, ID 1, N 2, R 3, DT 4, TM 5.
  enum class Kind : uint8_t { AN, ID, N, R, DT, TM };

  Kind kind = Kind::AN;
  // Implied decimals of N (0 to 9) or the scale of R (0 to 18); 0 otherwise.
  uint8_t scale = 0;

  friend bool operator==(const ElementType&, const ElementType&) = default;
};

// "AN (string)", "N2 (integer with 2 implied decimals)", "R (decimal, scale 2)" ...
std::string to_string(const ElementType& type);

}  // namespace zarvi_core::spec

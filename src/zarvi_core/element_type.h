// ElementType: the X12 data type of an element, a small value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zarvi_core {

struct ElementType {
  // Numbered in this order: AN 0, ID 1, N 2, R 3, DT 4, TM 5.
  enum class Kind : uint8_t { AN, ID, N, R, DT, TM };

  Kind kind = Kind::AN;
  // Implied decimals of N (0 to 9) or the scale of R (0 to 18); 0 otherwise.
  uint8_t scale = 0;

  // Types whose values are numbers (N and R).
  bool is_numeric() const noexcept { return kind == Kind::N || kind == Kind::R; }

  friend bool operator==(const ElementType&, const ElementType&) = default;
};

// "AN (string)", "N2 (integer with 2 implied decimals)", "R (decimal, scale 2)" ...
std::string to_string(const ElementType& type);

// The type as a spec writes it: "AN", "ID", "N2", "R", "DT", "TM".
std::string type_code(const ElementType& type);

// "AN", "ID", "DT", "TM", "R" or "N" and one digit; none for any other text.
// The scale of R is left 0 for the caller to set.
std::optional<ElementType> parse_element_type(std::string_view text);

}  // namespace zarvi_core

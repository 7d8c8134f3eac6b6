// Trigger: the segment id (and element values) that opens an instance of a
// loop.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

namespace zarvi_core::spec {

// The element at `position` (1-based) must exist, be simple and hold
// exactly `value`.
struct Condition {
  uint64_t position = 0;
  std::string value;

  friend auto operator<=>(const Condition&, const Condition&) = default;
  friend bool operator==(const Condition&, const Condition&) = default;
};

struct Trigger {
  std::string segment;
  std::vector<Condition> conditions;  // sorted by position, then value

  friend bool operator==(const Trigger&, const Trigger&) = default;
};

}  // namespace zarvi_core::spec

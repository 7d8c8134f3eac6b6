// Balancing rules of a spec: sums that must agree inside each instance of a
// loop, and the text of a scaled amount, which diagnostics and decimal
// columns print with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zarvi_core/int128.h"
#include "zarvi_core/spec/loops.h"

namespace zarvi_core::spec {

struct BalanceTerm {
  LoopId loop = 0;
  std::size_t occurrence = 0;      // index into that loop's occurrences
  std::vector<uint64_t> elements;  // positions, in the order written
  std::optional<uint64_t> component;
  bool negative = false;
};

struct BalanceRule {
  std::string name;
  LoopId per = 0;
  std::vector<BalanceTerm> target;
  std::vector<BalanceTerm> sum;
  uint8_t scale = 0;  // the largest scale among the R elements read
};

// The decimal text of `value` scaled by 10^scale: "-" when negative, the
// magnitude's digits padded with zeros to at least scale + 1 digits, and "."
// before the last `scale` digits when scale > 0. 5 at scale 2 is "0.05".
std::string render_amount(i128 value, uint8_t scale);
void append_amount(std::string& out, i128 value, uint8_t scale);

}  // namespace zarvi_core::spec

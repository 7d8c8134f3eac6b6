// Balancing rules: sums that must agree inside each instance of a loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

}  // namespace zarvi_core::spec

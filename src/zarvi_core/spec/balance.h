// Balancing rules of a spec: sums that must agree inside each instance of a
// loop. Their shape check, their compilation into BalanceRule records (owned
// by the Spec), and the texts of their terms and of scaled amounts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zarvi_core/int128.h"
#include "zarvi_core/result.h"
#include "zarvi_core/spec/loops.h"
#include "zarvi_core/spec/spec_error.h"

namespace zarvi_core::spec {

class Spec;

struct BalanceTerm {
  LoopId loop = 0;
  std::size_t occurrence = 0;      // index into that loop's occurrences
  std::vector<uint64_t> elements;  // positions, in the order written
  std::optional<uint64_t> component;
  bool negative = false;
  friend bool operator==(const BalanceTerm&, const BalanceTerm&) = default;
};

struct BalanceRule {
  std::string name;
  LoopId per = 0;
  std::vector<BalanceTerm> target;
  std::vector<BalanceTerm> sum;
  // The largest scale among the R elements read: every amount of the rule is
  // parsed and printed at this scale.
  uint8_t scale = 0;
  friend bool operator==(const BalanceRule&, const BalanceRule&) = default;
};

// One side of a rule for messages: CLP03 of 2100 "claim_payment_information"
// - CLP04 of 2100 "claim_payment_information".
std::string render_terms(const Spec& spec, LoopId per, const std::vector<BalanceTerm>& terms);

}  // namespace zarvi_core::spec

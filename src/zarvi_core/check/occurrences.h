// Structural tables of the envelope checker: occurrence limits and positions
// in one flat list, per-loop layouts and the counters to test when an instance
// closes. Built once from a Spec; they hold no reference to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zarvi_core/diagnostic.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::check::occurrences {

using spec::LoopId;

// One occurrence's place in the order and its maximum (none: unbounded).
struct Limit {
  uint64_t position = 0;
  std::optional<uint64_t> max;
};

// Every occurrence of every loop, loops in LoopId order; occurrence k of loop
// L is entries[bases[L] + k].
struct Limits {
  std::vector<Limit> entries;
  std::vector<size_t> bases;
};

struct Layout {
  // The loop's index among its parent's children, or among the roots.
  std::optional<size_t> slot;
  std::optional<uint64_t> max;
  // The first occurrence's position when the loop takes part in order tests.
  std::optional<uint64_t> position;
  // The opener control element of a control loop.
  std::optional<uint64_t> opener;
  size_t occurrences = 0;
  size_t children = 0;
  bool root = false;  // a loop without a parent
};

// An item placed in an instance, for order tests.
struct OrderRecord {
  LoopId loop = 0;
  size_t occurrence = 0;
  uint64_t position = 0;
};

Limits limits(const spec::Spec& spec);
std::vector<Layout> layouts(const spec::Spec& spec);
// Per loop, the counter offsets tested at close: each required occurrence,
// then (occurrences + j) for each required child loop j.
std::vector<std::vector<size_t>> required(const spec::Spec& spec);

// The later of two optional records by position, `b` winning ties; null
// when both are absent. Inline: every placed segment asks.
inline const OrderRecord* later_of(const std::optional<OrderRecord>& a,
                                   const std::optional<OrderRecord>& b) {
  if (!a) return b ? &*b : nullptr;
  if (!b) return &*a;
  return a->position > b->position ? &*a : &*b;
}

// The same as a value.
inline std::optional<OrderRecord> later(const std::optional<OrderRecord>& a,
                                        const std::optional<OrderRecord>& b) {
  const OrderRecord* r = later_of(a, b);
  return r != nullptr ? std::optional<OrderRecord>(*r) : std::nullopt;
}

// OutOfOrder for occurrence `occurrence` of `loop` placed after `previous`.
Rule out_of_order(const spec::Spec& spec, const Shares& shares, LoopId loop, size_t occurrence,
                  const OrderRecord& previous);

}  // namespace zarvi_core::check::occurrences

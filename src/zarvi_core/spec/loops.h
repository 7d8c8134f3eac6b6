// Loops: the compiled loop forest (parents, roots, children), triggers,
// envelope controls, and the checks on parent cycles and on sibling loops
// that could open on the same segment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "zarvi_core/result.h"
#include "zarvi_core/spec/control_error.h"
#include "zarvi_core/spec/occurrences.h"
#include "zarvi_core/spec/spec_error.h"
#include "zarvi_core/spec/trigger.h"
#include "zarvi_core/spec/usage.h"

namespace zarvi_core::spec {

// The index of a loop in the spec's loop list; loops are numbered in the
// byte order of their names.
using LoopId = std::size_t;

// What a loop's count element counts.
enum class Count : uint8_t { Segments, Children };

// The envelope control a loop's opening and closing segments carry; element
// positions are 1-based, never 0.
struct Control {
  uint64_t opener_element = 0;  // in the trigger segment
  uint64_t closer_element = 0;  // in the "end" segment
  uint64_t count_element = 0;   // in the "end" segment
  Count count = Count::Segments;

  friend bool operator==(const Control&, const Control&) = default;
};

struct LoopDef {
  std::string name;
  std::optional<LoopId> parent;
  Trigger trigger;
  std::vector<OccurrenceDef> occurrences;  // sorted by "pos"
  // Segment ids of the occurrences that do not open on the trigger, distinct,
  // in "pos" order of first appearance.
  std::vector<std::string> held;
  std::vector<LoopId> children;  // ascending
  std::optional<std::string> end;
  std::optional<Control> control;
  Usage usage = Usage::Situational;
  std::optional<uint64_t> max;  // never 0
};

// Refuses parents that form a cycle (the first found walking from each loop
// in LoopId order).
Result<Unit, SpecError> check_cycles(const std::vector<LoopDef>& loops);

// Fills each loop's children (ascending) and returns the roots (ascending).
std::vector<LoopId> link_children(std::vector<LoopDef>& loops);

// Refuses sibling loops that could open on the same segment with the same
// specificity: the roots first, then the children of each loop in order.
Result<Unit, SpecError> check_ambiguity(const std::vector<LoopDef>& loops,
                                        const std::vector<LoopId>& roots);

}  // namespace zarvi_core::spec

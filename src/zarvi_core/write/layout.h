// The write layout: the order in which each loop's instance writes its
// segment plans and child loops, the plan that opens an instance, the columns
// that decide the instances of a loop read above its table, envelope levels,
// and how many repeat groups one segment of each table holds. Built once from
// the spec and the write plan; it holds indices only and outlives neither.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/plan.h"

namespace zarvi_core::write::layout {

using spec::LoopId;

// One step inside a loop instance: a segment plan of the loop (its index in
// the loop's plans) or a child loop (its LoopId).
struct Item {
  enum class Kind : uint8_t { Segment, Loop };
  Kind kind = Kind::Segment;
  std::size_t index = 0;
  friend bool operator==(const Item&, const Item&) = default;
};

struct LoopLayout {
  std::vector<Item> items;
  std::optional<std::size_t> opener;  // the segment plan that opens an instance
  std::vector<std::size_t> read_columns;  // declared columns of the role's table
  std::optional<uint64_t> level;          // envelope level; none without a control
};

class Layout {
 public:
  Layout(const plan::WritePlan& plan, const spec::Spec& spec);

  const std::vector<Item>& items(LoopId loop) const { return loops_[loop].items; }
  // Whether segment plan `segment` of the loop opens an instance.
  bool opens(LoopId loop, std::size_t segment) const { return loops_[loop].opener == segment; }
  std::optional<std::size_t> opener(LoopId loop) const { return loops_[loop].opener; }
  // For a loop read above its table: the columns its plans write from it,
  // in plan and element order; empty for every other role.
  const std::vector<std::size_t>& read_columns(LoopId loop) const {
    return loops_[loop].read_columns;
  }
  // How many of the loop's ancestors have a control; none without one.
  std::optional<uint64_t> level(LoopId loop) const { return loops_[loop].level; }
  // Repeat groups in one segment of the table; 1 without a repeat.
  uint64_t groups(std::size_t table) const { return groups_[table]; }

 private:
  std::vector<LoopLayout> loops_;  // by LoopId
  std::vector<uint64_t> groups_;   // by table index
};

}  // namespace zarvi_core::write::layout

// The write plan: for every loop of a spec, where its instances come from and
// which segments each instance writes, element by element, from table columns
// or fixed codes. Made once per write from the spec alone (WritePlan::make)
// and read-only afterwards. It holds indices into the spec (loops,
// occurrences, tables, declared columns), no pointers: the spec it was made
// from must be the one it is used with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "zarvi_core/result.h"
#include "zarvi_core/shared.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/refusal.h"

namespace zarvi_core::write::plan {

using spec::LoopId;

// Where a loop's instances come from.
enum class Role : uint8_t {
  NotWritten,  // no instance is written
  Envelope,    // the loop has a control: one instance per enclosing instance
  Rows,        // one instance per row of the role's table
  ReadBy,      // a column of the role's table reads the loop, at or below its anchor
  ReadAbove,   // a column of the role's table reads an ancestor of its anchor
  Implied,     // one instance when a child has one
};

// An element's value: a fixed code, a column of the source table (an index
// among the table's declared columns), or a column of a repeated group.
struct Constant {
  std::string code;
  friend bool operator==(const Constant&, const Constant&) = default;
};
struct ColumnValue {
  std::size_t column = 0;
  friend bool operator==(const ColumnValue&, const ColumnValue&) = default;
};
struct RepeatedValue {
  std::size_t column = 0;
  uint64_t offset = 0;  // in the group; the element is the repeat's from + offset
  friend bool operator==(const RepeatedValue&, const RepeatedValue&) = default;
};
using Value = std::variant<Constant, ColumnValue, RepeatedValue>;

struct ElementPlan {
  uint64_t element = 0;  // 1-based
  std::optional<uint64_t> component;
  Value value;
  friend bool operator==(const ElementPlan&, const ElementPlan&) = default;
};

// What a segment plan writes from.
enum class Source : uint8_t {
  Envelope,  // no table: an envelope segment the writer fills itself
  Row,       // one row of `table` per segment
  Repeated,  // a segment table's segment, its groups from rows of `table`
};

struct SegmentPlan {
  Source source = Source::Envelope;
  std::size_t table = 0;       // for Row and Repeated
  std::size_t occurrence = 0;  // into the loop's occurrence list
  std::vector<ElementPlan> elements;  // by element, then component (none first)
  friend bool operator==(const SegmentPlan&, const SegmentPlan&) = default;
};

struct LoopPlan {
  Role role = Role::NotWritten;
  std::optional<std::size_t> table;  // for Rows, ReadBy and ReadAbove
  std::vector<SegmentPlan> segments;  // by occurrence "pos", then occurrence index
  friend bool operator==(const LoopPlan&, const LoopPlan&) = default;
};

// A column whose values a valid file can never hold: its where condition
// names a code that the element's own code list rejects.
struct Unwritten {
  // Shared with every finding about the column's cells.
  SharedText place;
  SharedText code;
  SharedTexts codes;  // the element's code list
  std::size_t table = 0;
  std::size_t column = 0;  // among the table's declared columns
  friend bool operator==(const Unwritten&, const Unwritten&) = default;
};

class WritePlan;
using Planned = Result<WritePlan, refusal::PlanError>;

class WritePlan {
 public:
  // The plan of `spec`, or every reason it cannot be written.
  static Planned make(const spec::Spec& spec);

  WritePlan(std::vector<LoopPlan> loops, std::vector<Unwritten> unwritten)
      : loops_(std::move(loops)), unwritten_(std::move(unwritten)) {}

  const LoopPlan& loop(LoopId id) const { return loops_[id]; }
  Role role(LoopId id) const { return loops_[id].role; }
  std::optional<std::size_t> role_table(LoopId id) const { return loops_[id].table; }
  const std::vector<SegmentPlan>& segments(LoopId id) const { return loops_[id].segments; }
  std::span<const LoopPlan> loops() const { return loops_; }
  const std::vector<Unwritten>& unwritten() const { return unwritten_; }

 private:
  std::vector<LoopPlan> loops_;  // by LoopId
  std::vector<Unwritten> unwritten_;
};

}  // namespace zarvi_core::write::plan

// The walk of the loop tree: the context one loop instance is written under
// (the current row of each table, and a range that restricts a table's rows)
// and which instances a loop has under a context, by its role in the write
// plan. A Context refers to the context it was made under, which must
// outlive it; the walk keeps each on the stack of the instance being written.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "zarvi_core/spec/spec.h"
#include "zarvi_core/write/data.h"
#include "zarvi_core/write/layout.h"
#include "zarvi_core/write/nest.h"
#include "zarvi_core/write/plan.h"

namespace zarvi_core::write::walk {

using spec::LoopId;

// Positions [first, end) in a table's group of rows under its parent row.
struct Range {
  size_t table = 0;
  size_t first = 0;
  size_t end = 0;
  friend bool operator==(const Range&, const Range&) = default;
};

// A chain of bindings: each context adds at most one current row and one
// range to the one it was made under; the nearest binding of a table wins.
class Context {
 public:
  Context() = default;  // the root: no rows, no range

  // This context with `row` as the table's current row.
  Context with_row(size_t table, size_t row) const;
  // This context with the rows of `range` only, the first of them current.
  Context with_range(const Range& range, size_t first_row) const;

  std::optional<size_t> row(size_t table) const;
  std::optional<Range> range(size_t table) const;

 private:
  const Context* parent_ = nullptr;
  // The nearest context up the chain that does not bind this one's table:
  // a lookup of another table passes a run of bindings of one table (a
  // chain of loops read above a table) in one step.
  const Context* skip_ = nullptr;
  std::optional<size_t> table_;  // the table this context binds
  size_t row_ = 0;
  std::optional<Range> range_;
};

// The last answer of has_data for one loop.
struct DataAnswer {
  size_t table = 0;
  size_t row = 0;
  bool known = false;
  bool value = false;
};

// What the walk reads; all borrowed for the walk.
struct Inputs {
  const spec::Spec& spec;
  const plan::WritePlan& plan;
  const layout::Layout& layout;
  const std::vector<data::Data>& data;
  const nest::Nest& nest;
  // When given, one per loop, kept from call to call: a chain of loops read
  // by one table asks has_data again for the same row at each level.
  std::vector<DataAnswer>* answers = nullptr;
};

// Appends to `out` one context per instance of `loop` under `context`, in
// order. The contexts refer to `context`.
void instances(const Inputs& in, LoopId loop, const Context& context, std::vector<Context>& out);

// Whether a loop read by table `table` has anything to write for row `row`:
// a plain column of one of its plans from that table, or of a child loop
// read by the same table, holds a value there.
bool has_data(const Inputs& in, LoopId loop, size_t table, size_t row);

// The rows of `table` under `context`: its group under the parent table's
// current row (none without one), or its single group, cut to the context's
// range for it.
std::span<const size_t> rows(const Inputs& in, size_t table, const Context& context);

}  // namespace zarvi_core::write::walk

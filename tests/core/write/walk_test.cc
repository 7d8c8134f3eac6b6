#include "zarvi_core/write/walk.h"

#include <optional>

#include <gtest/gtest.h>

namespace zarvi_core::write::walk {
namespace {

// A chain as the walk makes one: a row of table 0, a run of bindings of
// table 1 (two ranges, as loops read above it make, then a row), a row of
// table 2, and table 0 bound again. Lookups pass runs of one table's
// bindings in a step: these pin what they find.
TEST(WalkContext, NearestBindingWins) {
  const Context root;
  const Context a = root.with_row(0, 5);
  const Context b = a.with_range(Range{1, 1, 3}, 7);
  const Context c = b.with_range(Range{1, 0, 1}, 8);
  const Context d = c.with_row(1, 9);
  const Context e = d.with_row(2, 4);
  const Context copy = e;  // as instances() hands them out
  const Context f = copy.with_row(0, 6);
  const std::optional<size_t> none;
  const std::optional<Range> no_range;
  const struct {
    const char* name;
    const Context& at;
    size_t table;
    std::optional<size_t> row;
    std::optional<Range> range;
  } cases[] = {
      {"the root binds nothing", root, 0, none, no_range},
      {"a row without range", a, 0, 5, no_range},
      {"a range binds its first row", b, 1, 7, Range{1, 1, 3}},
      {"the nearer range", c, 1, 8, Range{1, 0, 1}},
      {"a row below ranges keeps the nearer range", d, 1, 9, Range{1, 0, 1}},
      {"past a run of another table", d, 0, 5, no_range},
      {"past two runs", e, 0, 5, no_range},
      {"a copy answers alike", copy, 1, 9, Range{1, 0, 1}},
      {"a table bound again", f, 0, 6, no_range},
      {"under a later binding of another table", f, 1, 9, Range{1, 0, 1}},
      {"never bound", f, 3, none, no_range},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(k.at.row(k.table), k.row);
    EXPECT_EQ(k.at.range(k.table), k.range);
  }
}

}  // namespace
}  // namespace zarvi_core::write::walk

#include "zarvi_core/project/rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zarvi_core::project::rows {
namespace {

using column::Cell;
using column::ColumnType;

// A view longer than any binary column may hold. Only its length is ever
// looked at: the overflow check refuses it before any byte is copied.
Cell oversized() {
  static const char byte = 'x';
  return Cell::binary(std::string_view(&byte, column::kMaxBinaryBytes + 1));
}

TEST(PushDropping, OverflowingTextIsNulledAndTheRestKept) {
  struct Expected {
    size_t column;
    uint64_t total;
  };
  struct Case {
    const char* name;
    std::vector<Cell> cells;
    bool pushed;
    std::vector<Expected> dropped;
    std::vector<std::string> row;  // rendered cells when pushed
  };
  const Case cases[] = {
      {"a row that fits", {Cell::binary("ab"), Cell::int64(7), Cell::binary("c")}, true, {},
       {"ab", "7", "c"}},
      {"one text too large",
       {oversized(), Cell::int64(7), Cell::binary("c")},
       true,
       {{0, column::kMaxBinaryBytes + 1}},
       {"∅", "7", "c"}},
      {"two texts too large, in column order",
       {oversized(), Cell::int64(7), oversized()},
       true,
       {{0, column::kMaxBinaryBytes + 1}, {2, column::kMaxBinaryBytes + 1}},
       {"∅", "7", "∅"}},
      {"a width error appends nothing", {Cell::binary("a")}, false, {}, {}},
      {"a type error appends nothing",
       {oversized(), Cell::binary("7"), Cell::binary("c")},
       false,
       {{0, column::kMaxBinaryBytes + 1}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    column::Table table("t", {{"a", ColumnType::binary()},
                              {"n", ColumnType::int64()},
                              {"b", ColumnType::binary()}});
    std::vector<Cell> cells = c.cells;
    std::vector<Dropped> dropped;
    EXPECT_EQ(push_dropping(table, cells, dropped), c.pushed);
    ASSERT_EQ(dropped.size(), c.dropped.size());
    for (size_t i = 0; i < dropped.size(); ++i) {
      EXPECT_EQ(dropped[i].column, c.dropped[i].column);
      EXPECT_EQ(dropped[i].total, c.dropped[i].total);
      EXPECT_EQ(dropped[i].value.bytes().size(), column::kMaxBinaryBytes + 1);
    }
    ASSERT_EQ(table.rows(), c.pushed ? 1u : 0u);
    for (size_t i = 0; i < c.row.size(); ++i)
      EXPECT_EQ(table.columns()[i].data.render(0), c.row[i]);
  }
}

}  // namespace
}  // namespace zarvi_core::project::rows

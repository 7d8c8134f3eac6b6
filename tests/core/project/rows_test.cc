#include "zarvi_core/project/rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zarvi_core::project::rows {
namespace {

using column::Cell;

TEST(PushDropping, OverflowingTextIsNulledAndTheRestKept) {
  // A view longer than any binary column may hold. Only its length is ever
  // looked at: the overflow check refuses it before any byte is copied.
  static const char byte = 'x';
  const Cell big = Cell::binary(std::string_view(&byte, column::kMaxBinaryBytes + 1));
  struct Case {
    const char* name;
    std::vector<Cell> cells;
    std::vector<size_t> dropped;   // columns, in order
    std::vector<std::string> row;  // rendered cells; none when nothing is appended
  };
  const Case cases[] = {
      {"a row that fits", {Cell::binary("ab"), Cell::int64(7), Cell::binary("c")}, {},
       {"ab", "7", "c"}},
      {"one text too large", {big, Cell::int64(7), Cell::binary("c")}, {0}, {"∅", "7", "c"}},
      {"two texts too large", {big, Cell::int64(7), big}, {0, 2}, {"∅", "7", "∅"}},
      {"a width error appends nothing", {Cell::binary("a")}, {}, {}},
      {"a type error appends nothing", {big, Cell::binary("7"), Cell::binary("c")}, {0}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    column::table::Table table("t", {{"a", column::ColumnType::binary()},
                              {"n", column::ColumnType::int64()},
                              {"b", column::ColumnType::binary()}});
    std::vector<Cell> cells = c.cells;
    std::vector<Dropped> dropped;
    EXPECT_EQ(push_dropping(table, cells, dropped), !c.row.empty());
    // A table that keeps no rows drops the same values.
    std::vector<Cell> counted_cells = c.cells;
    std::vector<Dropped> counted;
    std::vector<uint64_t> totals;
    EXPECT_EQ(count_dropping(table, totals, counted_cells, counted), !c.row.empty());
    ASSERT_EQ(counted.size(), dropped.size());
    for (size_t i = 0; i < counted.size(); ++i) {
      EXPECT_EQ(counted[i].column, dropped[i].column);
      EXPECT_EQ(counted[i].total, dropped[i].total);
    }
    ASSERT_EQ(dropped.size(), c.dropped.size());
    for (size_t i = 0; i < dropped.size(); ++i) {
      EXPECT_EQ(dropped[i].column, c.dropped[i]);
      EXPECT_EQ(dropped[i].total, column::kMaxBinaryBytes + 1);
      EXPECT_EQ(dropped[i].value.bytes().size(), column::kMaxBinaryBytes + 1);
    }
    ASSERT_EQ(table.rows(), c.row.empty() ? 0u : 1u);
    for (size_t i = 0; i < c.row.size(); ++i)
      EXPECT_EQ(table.columns()[i].data.render(0), c.row[i]);
  }
}

// Without rows, the byte totals of the rows kept decide what later rows drop.
TEST(CountDropping, TotalsGrowWithTheRowsKept) {
  const column::table::Table table("t", {{"a", column::ColumnType::binary()},
                                  {"b", column::ColumnType::binary()}});
  std::vector<uint64_t> totals;
  std::vector<Dropped> dropped;
  std::vector<Cell> first = {Cell::binary("ab"), Cell::binary("c")};
  EXPECT_TRUE(count_dropping(table, totals, first, dropped, 4));
  EXPECT_EQ(totals, (std::vector<uint64_t>{2, 1}));
  std::vector<Cell> refused = {Cell::int64(1), Cell::binary("c")};
  EXPECT_FALSE(count_dropping(table, totals, refused, dropped, 4));
  EXPECT_EQ(totals, (std::vector<uint64_t>{2, 1}));
  std::vector<Cell> second = {Cell::binary("abc"), Cell::binary("d")};
  EXPECT_TRUE(count_dropping(table, totals, second, dropped, 4));
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].column, 0u);
  EXPECT_EQ(dropped[0].total, 5u);
  EXPECT_EQ(totals, (std::vector<uint64_t>{2, 2}));
}

// A value that brings its column exactly to the limit is kept and one byte
// more is dropped, in a table that keeps no rows as in one that does (whose
// columns accept what check accepts). Only lengths are looked at.
TEST(CountDropping, DecidesAtTheLimitAsAColumnDoes) {
  static const char byte = 'x';
  constexpr uint64_t kMax = column::kMaxBinaryBytes;
  struct Case {
    const char* name;
    std::string held;  // in the column before the value
    uint64_t size;     // of the value
    bool kept;
  };
  const Case cases[] = {
      {"an empty column filled exactly", "", kMax, true},
      {"an empty column one byte over", "", kMax + 1, false},
      {"a column holding bytes filled exactly", "abc", kMax - 3, true},
      {"a column holding bytes one byte over", "abc", kMax - 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Cell value = Cell::binary(std::string_view(&byte, c.size));
    column::ColumnData kept(column::ColumnType::binary());
    kept.push_checked(Cell::binary(c.held));
    EXPECT_EQ(kept.check(value).ok(), c.kept);

    const column::table::Table table("t", {{"a", column::ColumnType::binary()}});
    std::vector<uint64_t> totals = {c.held.size()};
    std::vector<Cell> cells = {value};
    std::vector<Dropped> dropped;
    EXPECT_TRUE(count_dropping(table, totals, cells, dropped));
    const uint64_t total = c.held.size() + c.size;
    EXPECT_EQ(totals[0], c.kept ? total : c.held.size());
    ASSERT_EQ(dropped.size(), c.kept ? 0u : 1u);
    if (!c.kept) {
      EXPECT_EQ(dropped[0].total, total);
    }
  }
}

}  // namespace
}  // namespace zarvi_core::project::rows

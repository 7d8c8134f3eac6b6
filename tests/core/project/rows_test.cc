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
// more is dropped, in a table that keeps no rows (counted cell by cell or by
// the row writer) as in one that does (whose columns accept what check
// accepts). Only lengths are looked at.
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

    std::vector<uint64_t> tallied = {c.held.size()};
    std::vector<Dropped> tallied_dropped;
    RowWriter writer(1, tallied, tallied_dropped);
    writer.binary(value.bytes());
    writer.end();
    EXPECT_EQ(tallied, totals);
    ASSERT_EQ(tallied_dropped.size(), dropped.size());
    if (!c.kept) {
      EXPECT_EQ(tallied_dropped[0].total, total);
    }
  }
}

// The row writer appends what push_dropping appends, and drops what both
// push_dropping and count_dropping drop, for every row of valid kinds.
TEST(RowWriter, MatchesPushingAndCountingCells) {
  static const char byte = 'x';
  const Cell big = Cell::binary(std::string_view(&byte, column::kMaxBinaryBytes + 1));
  const std::vector<std::pair<std::string, column::ColumnType>> types = {
      {"a", column::ColumnType::binary()},        {"n", column::ColumnType::int64()},
      {"d", column::ColumnType::decimal128(18, 2)}, {"t", column::ColumnType::date32()},
      {"s", column::ColumnType::time32()},        {"b", column::ColumnType::binary()}};
  struct Case {
    const char* name;
    std::vector<std::vector<Cell>> rows;
  };
  const Case cases[] = {
      {"values", {{Cell::binary("ab"), Cell::int64(-7), Cell::decimal128(12345),
                   Cell::date32(19000), Cell::time32(3600), Cell::binary("")}}},
      {"nulls", {{Cell::null(), Cell::null(), Cell::null(), Cell::null(), Cell::null(),
                  Cell::null()}}},
      {"texts too large",
       {{big, Cell::int64(1), Cell::null(), Cell::date32(0), Cell::null(), Cell::binary("c")},
        {Cell::binary("e"), Cell::null(), Cell::decimal128(-1), Cell::null(), Cell::time32(0),
         big},
        {big, Cell::int64(2), Cell::null(), Cell::null(), Cell::null(), big}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    column::table::Table pushed("t", types);
    column::table::Table written("t", types);
    std::vector<Dropped> pushed_dropped, written_dropped, counted_dropped, tallied_dropped;
    std::vector<uint64_t> counted_totals, tallied_totals;
    for (const std::vector<Cell>& row : c.rows) {
      std::vector<Cell> cells = row;
      ASSERT_TRUE(push_dropping(pushed, cells, pushed_dropped));
      cells = row;
      ASSERT_TRUE(count_dropping(pushed, counted_totals, cells, counted_dropped, 4));
      RowWriter keep(written, written_dropped);
      RowWriter drop(types.size(), tallied_totals, tallied_dropped, 4);
      for (const Cell& cell : row) {
        keep.cell(cell);
        drop.cell(cell);
      }
      keep.end();
      drop.end();
    }
    EXPECT_EQ(column::table::to_string(written), column::table::to_string(pushed));
    EXPECT_EQ(tallied_totals, counted_totals);
    const auto same = [](const std::vector<Dropped>& a, const std::vector<Dropped>& b) {
      ASSERT_EQ(a.size(), b.size());
      for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].column, b[i].column);
        EXPECT_EQ(a[i].total, b[i].total);
        // The same borrowed bytes; never read (a large one is only a length).
        EXPECT_EQ(a[i].value.bytes().data(), b[i].value.bytes().data());
        EXPECT_EQ(a[i].value.bytes().size(), b[i].value.bytes().size());
      }
    };
    same(written_dropped, pushed_dropped);
    same(tallied_dropped, counted_dropped);
  }
}

}  // namespace
}  // namespace zarvi_core::project::rows

#include "zarvi_core/column/table.h"

#include <gtest/gtest.h>

#include "../alloc_count.h"

#include <algorithm>
#include <string>
#include <vector>

namespace zarvi_core::column::table {
namespace {

Table claims() {
  return Table("claims", {{"row", ColumnType::int64()},
                          {"status", ColumnType::binary()},
                          {"paid", ColumnType::decimal128(18, 2)}});
}

std::vector<Cell> row(int64_t n, std::string_view status, i128 paid) {
  return {Cell::int64(n), Cell::binary(status), Cell::decimal128(paid)};
}

TEST(Table, RowsAllocateOnlyWhenBuffersGrow) {
  Table t = claims();
  const std::vector<Cell> cells = row(1, "paid in full", 12345);
  const std::vector<Cell> refused = {Cell::int64(1), Cell::int64(2), Cell::null()};
  const zarvi_test::AllocationCount appended;
  for (int i = 0; i < 100000; ++i) ASSERT_TRUE(t.push_row(cells).ok());
  // Three buffers for the binary column and two for each other one, each
  // doubling: about 80 allocations in all.
  EXPECT_LT(appended.count(), 150u);
  // Refusals allocate only for their message.
  const zarvi_test::AllocationCount refusing;
  EXPECT_FALSE(t.push_row(refused).ok());
  EXPECT_LT(refusing.count(), 10u);
}

TEST(Table, RefusedRowsChangeNothing) {
  const struct {
    std::vector<Cell> cells;
    std::string expected;
  } cases[] = {
      {{Cell::int64(1), Cell::binary("x")}, "table \"claims\" has 3 columns; the row has 2 cells"},
      {{Cell::int64(1), Cell::int64(2), Cell::decimal128(1)},
       "table \"claims\" column \"status\": a binary column cannot hold an int64 value (2)"},
      {{Cell::int64(1), Cell::binary("x"), Cell::date32(3)},
       "table \"claims\" column \"paid\": a decimal128(18, 2) column cannot hold a date32 value (3)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    Table t = claims();
    ASSERT_TRUE(t.push_row(row(0, "ab", 1)).ok());
    const auto r = t.push_row(c.cells);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(to_string(r.error()), c.expected);
    EXPECT_EQ(t.rows(), 1u);
    for (const ColumnRef col : t.columns()) {
      SCOPED_TRACE(col.name);
      EXPECT_EQ(col.data.rows(), 1u);
      EXPECT_EQ(col.data.validity().size(), 1u);
    }
    EXPECT_EQ(t.column("status")->bytes(), "ab");
  }
}

// Few rows are copied into one block and the table keeps its buffers for the
// next; many are moved out rather than copied.
TEST(Table, TakeRowsKeepsColumnsAndStartsOver) {
  struct Case { const char* name; int rows; bool moved; };
  const Case cases[] = {{"a batch", 3, false}, {"a whole file", 20000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table t = claims();
    for (int i = 0; i < c.rows; ++i) ASSERT_TRUE(t.push_row(row(i, "s", i)).ok());
    const auto* bytes_before = t.column("status")->bytes().data();

    Table taken = t.take_rows();
    EXPECT_EQ(taken.name(), "claims");
    EXPECT_EQ(taken.rows(), static_cast<size_t>(c.rows));
    EXPECT_EQ(taken.render_row(2), "2 | s | 0.02");
    EXPECT_EQ(taken.render_row(c.rows), std::nullopt);
    EXPECT_EQ(taken.column("nope"), std::nullopt);
    EXPECT_EQ(taken.column("status")->bytes().data() == bytes_before, c.moved);

    EXPECT_EQ(t.rows(), 0u);
    EXPECT_EQ(t.header(), taken.header());
    ASSERT_TRUE(t.push_row(row(9, "new", 5)).ok());
    EXPECT_EQ(t.render_row(0), "9 | new | 0.05");
    EXPECT_EQ(t.column("status")->offsets().size(), 2u);
    EXPECT_EQ(t.column("status")->bytes().data() == bytes_before, !c.moved);
    // The copy stands alone: the table's new rows do not show through.
    EXPECT_EQ(taken.render_row(0), "0 | s | 0.00");
    const Table again = t.take_rows();
    EXPECT_EQ(again.render_row(0), "9 | new | 0.05");
  }
}

// A taken table, packed or without rows, takes rows of its own like any
// other, and a table assigned over another frees what that one held.
TEST(Table, TakenTablesTakeRowsOfTheirOwn) {
  struct Case { const char* name; int rows; };
  const Case cases[] = {{"no rows", 0}, {"packed rows", 3}, {"moved-out rows", 20000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table t = claims();
    for (int i = 0; i < c.rows; ++i) ASSERT_TRUE(t.push_row(row(i, "s", i)).ok());
    Table taken = claims();
    ASSERT_TRUE(taken.push_row(row(7, "gone", 7)).ok());
    taken = t.take_rows();
    EXPECT_EQ(taken.columns().size(), 3u);
    EXPECT_EQ(taken.column("status")->rows(), static_cast<size_t>(c.rows));
    const auto refused = taken.push_row(std::vector<Cell>{Cell::int64(1)});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(to_string(refused.error()), "table \"claims\" has 3 columns; the row has 1 cells");
    ASSERT_TRUE(taken.push_row(row(9, "new", 5)).ok());
    EXPECT_EQ(taken.rows(), static_cast<size_t>(c.rows) + 1);
    EXPECT_EQ(taken.render_row(static_cast<size_t>(c.rows)), "9 | new | 0.05");
    if (c.rows > 0) {
      EXPECT_EQ(taken.render_row(0), "0 | s | 0.00");
    }
    EXPECT_EQ(t.rows(), 0u);
  }
}

// A taken table's columns read as the rows they were taken from, in every
// form a packed column takes (nulls, all valid, mixed; few rows and many),
// and its rows carry over when it takes one of its own.
TEST(Table, TakenColumnsReadAsTheirRows) {
  const struct {
    const char* name;
    int rows;
    bool (*valid)(int row);
  } cases[] = {
      {"one null row", 1, [](int) { return false; }},
      {"one valid row", 1, [](int) { return true; }},
      {"mixed rows", 11, [](int r) { return r % 3 == 1; }},
      {"many null rows", 100, [](int) { return false; }},
      {"many valid rows", 100, [](int) { return true; }},
  };
  const auto cells = [](int r, bool valid) -> std::vector<Cell> {
    if (!valid) return std::vector<Cell>(5, Cell::null());
    return {Cell::int64(r),
            Cell::binary(std::string_view("xxx").substr(0, static_cast<size_t>(r % 4))),
            Cell::decimal128(i128{r} * 1000), Cell::date32(r), Cell::time32(r)};
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Table t("mixed", {{"n", ColumnType::int64()},
                      {"s", ColumnType::binary()},
                      {"d", ColumnType::decimal128(18, 2)},
                      {"day", ColumnType::date32()},
                      {"at", ColumnType::time32()}});
    Table same = t.take_rows();
    for (int r = 0; r < c.rows; ++r) {
      ASSERT_TRUE(t.push_row(cells(r, c.valid(r))).ok());
      ASSERT_TRUE(same.push_row(cells(r, c.valid(r))).ok());
    }
    Table taken = t.take_rows();
    ASSERT_EQ(taken.rows(), static_cast<size_t>(c.rows));
    for (size_t i = 0; i < same.columns().size(); ++i) {
      const ColumnView want = same.columns()[i].data, got = taken.columns()[i].data;
      SCOPED_TRACE(same.columns()[i].name);
      EXPECT_EQ(got.type(), want.type());
      EXPECT_EQ(got.rows(), want.rows());
      EXPECT_EQ(got.null_count(), want.null_count());
      EXPECT_TRUE(std::ranges::equal(got.validity(), want.validity()));
      EXPECT_TRUE(std::ranges::equal(got.offsets(), want.offsets()));
      EXPECT_EQ(got.bytes(), want.bytes());
      for (size_t r = 0; r <= want.rows(); ++r) EXPECT_EQ(got.get(r), want.get(r)) << r;
      EXPECT_EQ(taken.column(same.columns()[i].name), got);
    }
    EXPECT_EQ(to_string(taken), to_string(same));
    ASSERT_TRUE(taken.push_row(cells(7, true)).ok());
    ASSERT_TRUE(same.push_row(cells(7, true)).ok());
    EXPECT_EQ(to_string(taken), to_string(same));
    // Arrow reads the count, not the bitmap.
    for (size_t i = 0; i < same.columns().size(); ++i)
      EXPECT_EQ(taken.columns()[i].data.null_count(), same.columns()[i].data.null_count())
          << same.columns()[i].name;
  }
}

// Packed columns of odd sizes side by side: each starts where its widest
// values are aligned, as Arrow consumers read them in place.
TEST(Table, TakenColumnsStayAligned) {
  Table t("codes", {{"a", ColumnType::binary()},
                    {"b", ColumnType::binary()},
                    {"c", ColumnType::binary()}});
  ASSERT_TRUE(t.push_row(std::vector<Cell>{Cell::binary("abc"), Cell::binary("de"), Cell::null()})
                  .ok());
  ASSERT_TRUE(t.push_row(std::vector<Cell>{Cell::binary("fg"), Cell::null(), Cell::binary("g")})
                  .ok());
  const Table taken = t.take_rows();
  for (const ColumnRef c : taken.columns()) {
    EXPECT_EQ(reinterpret_cast<uintptr_t>(c.data.offsets().data()) % alignof(int32_t), 0u)
        << c.name;
  }
}

// A taken table of few rows holds four bytes per column beside its rows.
TEST(Table, TakenColumnsCostFourBytes) {
  std::vector<std::pair<std::string, ColumnType>> columns;
  for (int i = 0; i < 64; ++i) columns.emplace_back("c" + std::to_string(i), ColumnType::int64());
  Table t("wide", columns);
  std::vector<Cell> cells(columns.size(), Cell::null());
  cells[0] = Cell::int64(1);
  ASSERT_TRUE(t.push_row(cells).ok());
  const size_t before = zarvi_test::g_live_bytes.load();
  const Table taken = t.take_rows();
  // 64 places and one value, in one block.
  EXPECT_LE(zarvi_test::g_live_bytes.load() - before, 64 * 4 + 32u);
  EXPECT_EQ(taken.render_row(0).value_or("").substr(0, 6), "1 | \xE2\x88");
}

TEST(Table, TextForm) {
  using Columns = std::initializer_list<std::pair<std::string, ColumnType>>;
  std::vector<Table> list;
  list.emplace_back("claims", Columns{{"row", ColumnType::int64()}, {"status", ColumnType::binary()}});
  ASSERT_TRUE(list[0].push_row(std::vector<Cell>{Cell::int64(0), Cell::null()}).ok());
  list.emplace_back("e", Columns{{"when", ColumnType::time32()}, {"n", ColumnType::int64(2)}});
  list.emplace_back("bare", Columns{});
  ASSERT_TRUE(list[2].push_row({}).ok());
  ASSERT_TRUE(list[2].push_row({}).ok());
  const std::string texts[] = {
      "## claims (rows: 1)\nrow: int64 | status: binary\n0 | \xE2\x88\x85\n\n",
      "## e (rows: 0)\nwhen: time32 (seconds) | n: int64 (scale 2)\n\n",
      "## bare (rows: 2)\n\n\n\n\n",
  };
  for (size_t i = 0; i < std::size(texts); ++i) EXPECT_EQ(to_string(list[i]), texts[i]);
  // Tables concatenate in name order.
  EXPECT_EQ(to_string(Tables(std::move(list))), texts[2] + texts[0] + texts[1]);
  EXPECT_EQ(to_string(Tables()), "");
}

TEST(Tables, SortedByteWiseAndStable) {
  std::vector<Table> list;
  for (const char* name : {"b", "a", "B", "a", "\xC3\xA9", "ab"})
    list.emplace_back(name, std::span<const std::pair<std::string, ColumnType>>());
  ASSERT_TRUE(list[3].push_row({}).ok());  // tells the second "a" apart
  const Tables tables(std::move(list));
  std::vector<std::string> names;
  for (const Table& t : tables) names.push_back(t.name());
  EXPECT_EQ(names, (std::vector<std::string>{"B", "a", "a", "ab", "b", "\xC3\xA9"}));
  EXPECT_EQ(tables[1].rows(), 0u);
  EXPECT_EQ(tables[2].rows(), 1u);
  EXPECT_EQ(tables.get("a"), &tables[1]);
  EXPECT_EQ(tables.get("z"), nullptr);
}

TEST(Tables, FrozenBuffersStayPut) {
  Table t = claims();
  ASSERT_TRUE(t.push_row(row(0, "abc", 1)).ok());
  const auto* before = t.column("paid")->decimal128_values().data();
  std::vector<Table> list;
  list.push_back(std::move(t));
  const SharedTables shared = freeze(Tables(std::move(list)));
  EXPECT_EQ(shared->get("claims")->column("paid")->decimal128_values().data(), before);
}

}  // namespace
}  // namespace zarvi_core::column::table

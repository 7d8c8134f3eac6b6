#include "zarvi_core/project/carry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/column/column.h"
#include "zarvi_core/column/parse.h"

namespace zarvi_core::project::carry {
namespace {

using column::Cell;
using column::ColumnType;

// What a row writer is handed, as cells (binary bytes copied).
struct Recorder {
  std::vector<Cell> cells;
  std::vector<std::string> bytes;  // kept alive for the binary cells

  void null() { cells.push_back(Cell::null()); }
  void binary(std::string_view b) {
    bytes.emplace_back(b);
    cells.push_back(Cell::binary(b));
  }
  void value(int64_t v) { cells.push_back(Cell::int64(v)); }
  void value(i128 v) { cells.push_back(Cell::decimal128(v)); }
  void value(int32_t v) { cells.push_back(Cell::date32(v)); }  // date32 or time32
  void cell(const Cell& c) {
    switch (c.kind()) {
      case Cell::Kind::Null: return null();
      case Cell::Kind::Binary: return binary(c.bytes());
      case Cell::Kind::Int64: return value(c.int64());
      case Cell::Kind::Decimal128: return value(c.decimal128());
      case Cell::Kind::Date32: return value(c.date32());
      case Cell::Kind::Time32: return value(c.time32());
    }
  }
};

// The cell a column keeps for a text, as the projector read it before
// set_text: null for no text, and for empty or invalid text of another type.
Cell cell_of(ColumnType type, const std::optional<std::string_view>& text) {
  if (!text) return Cell::null();
  Cell cell;
  if (type.kind != ColumnType::Kind::Binary && text->empty()) return cell;
  (void)column::parse::parse_cell(type, *text, cell);
  return cell;
}

// set_text holds what set() of the parsed cell holds, and write_to writes
// what row.cell(cell()) writes, whatever the holder held before (a long or a
// short text, a number, null).
TEST(Held, SetTextMatchesSetOfTheParsedCell) {
  std::vector<std::string> texts = {"", "-", "1", "12.5", "-0.05", "1.234", "20240229",
                                    "20230229", "240229", "1230", "235960", "x", "-12"};
  for (size_t n = 0; n <= 40; ++n) {
    std::string t;
    for (size_t i = 0; i < n; ++i) t.push_back(static_cast<char>('a' + i % 26));
    texts.push_back(t);
  }
  const struct {
    const char* name;
    ColumnType type;
  } types[] = {{"binary", ColumnType::binary()},
               {"int64", ColumnType::int64(2)},
               {"decimal", ColumnType::decimal128(18, 2)},
               {"date", ColumnType::date32()},
               {"time", ColumnType::time32()}};
  const std::string long_before(30, 'L');
  const Cell befores[] = {Cell::binary(long_before), Cell::binary("short"), Cell::int64(-3),
                          Cell::decimal128(7), Cell::null()};
  for (const auto& [name, type] : types) {
    SCOPED_TRACE(name);
    std::vector<std::optional<std::string_view>> inputs = {std::nullopt};
    for (const std::string& t : texts) inputs.emplace_back(t);
    for (const auto& text : inputs) {
      SCOPED_TRACE(text ? std::string(*text) : "(none)");
      const Cell expected_cell = cell_of(type, text);
      for (const Cell& before : befores) {
        Held direct, oracle;
        direct.set(before);
        oracle.set(before);
        EXPECT_EQ(oracle.cell(), before);
        direct.set_text(type, text);
        oracle.set(expected_cell);
        EXPECT_TRUE(direct.is_set());
        EXPECT_EQ(direct.cell(), expected_cell);
        EXPECT_EQ(oracle.cell(), expected_cell);
        Recorder written, expected;
        direct.write_to(written);
        expected.cell(expected_cell);
        EXPECT_EQ(written.cells, expected.cells);
        // A copy owns its bytes.
        Held copy;
        copy = direct;
        direct.set_text(ColumnType::binary(), std::string_view(long_before));
        EXPECT_EQ(copy.cell(), expected_cell);
      }
    }
  }
}

// Unset, a null and a value write as the row writer's null or value.
TEST(Held, WritesUnsetAndIndex) {
  Held held;
  Recorder row;
  held.write_to(row);
  held.set_int64(42);
  held.write_to(row);
  held.clear();
  EXPECT_FALSE(held.is_set());
  held.write_to(row);
  EXPECT_EQ(row.cells, (std::vector<Cell>{Cell::null(), Cell::int64(42), Cell::null()}));
}

}  // namespace
}  // namespace zarvi_core::project::carry

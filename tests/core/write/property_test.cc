// Random tables for the built-in 5010 spec, whole or as changes to the tables
// of a real file: the writer never crashes and always accounts for its
// output. Without a finding the output reads back without a diagnostic; with
// a delimiter in a value it is not read back at all.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../test_input.h"
#include "read_back.h"
#include "zarvi_core/project/plan.h"
#include "zarvi_core/write/writer.h"

namespace zarvi_core::write::writer {
namespace {

using namespace zarvi_core::write::testing;
using column::Cell;
using column::ColumnType;

const spec::Spec& spec5010() { return *spec::shared_builtin_835().value(); }

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  int64_t between(int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(engine_);
  }
  bool chance(int percent) { return between(0, 99) < percent; }

  // A cell for a column of `type`; texts borrow from `keep`, which must not
  // move while the cell is used.
  Cell cell(const ColumnType& type, std::string& keep) {
    if (chance(20)) return Cell::null();
    switch (type.kind) {
      case ColumnType::Kind::Binary: {
        static constexpr char kAlphabet[] = "A1 *:~^.-";
        keep.clear();
        for (int64_t n = between(0, 3); n > 0; --n) keep += kAlphabet[between(0, 8)];
        return Cell::binary(keep);
      }
      case ColumnType::Kind::Int64:
        if (chance(5)) return Cell::int64(chance(50) ? INT64_MIN : INT64_MAX);
        return Cell::int64(between(-3, 8));
      case ColumnType::Kind::Decimal128:
        return Cell::decimal128(chance(5) ? -(i128(1) << 120) : between(-100000, 100000));
      case ColumnType::Kind::Date32: return Cell::date32(static_cast<int32_t>(between(-800000, 3000000)));
      case ColumnType::Kind::Time32: return Cell::time32(static_cast<int32_t>(between(-100, 90000)));
    }
    return Cell::null();
  }

 private:
  std::mt19937_64 engine_;
};

// Every table of the spec with 0 to 4 rows of random cells.
column::table::Tables random_tables(Random& random) {
  std::vector<column::table::Table> out;
  for (const spec::TableDef& def : spec5010().tables) {
    const auto columns = project::plan::table_columns(spec5010(), def);
    column::table::Table t(def.name, columns);
    std::vector<std::string> keep(columns.size());
    std::vector<Cell> cells(columns.size());
    for (int64_t rows = random.between(0, 4); rows > 0; --rows) {
      for (size_t c = 0; c < columns.size(); ++c) cells[c] = random.cell(columns[c].second, keep[c]);
      EXPECT_TRUE(t.push_row(cells).ok());
    }
    out.push_back(std::move(t));
  }
  return column::table::Tables(std::move(out));
}

// The tables of a real file with one to three cells changed.
column::table::Tables changed_tables(Random& random, const column::table::Tables& base) {
  column::table::Tables out = copy_of(base);
  for (int64_t n = random.between(1, 3); n > 0; --n) {
    const column::table::Table& t = out[static_cast<size_t>(random.between(0, out.size() - 1))];
    if (t.rows() == 0) continue;
    const column::table::ColumnRef c = t.columns()[static_cast<size_t>(random.between(0, t.columns().size() - 1))];
    std::string keep;
    const Cell cell = random.cell(c.data.type(), keep);
    out = with_cell(out, t.name(), c.name, static_cast<size_t>(random.between(0, t.rows() - 1)), cell);
  }
  return out;
}

struct Tally {
  size_t clean = 0;
  size_t delimiters = 0;
};

void check(const column::table::Tables& input, Tally& tally) {
  auto written = write_with_findings(spec5010(), input, fixed_envelope());
  ASSERT_TRUE(written.ok()) << finding::to_string(written.error());
  bool delimiter = false;
  bool read_back = false;
  for (const finding::Finding& f : written->findings) {
    EXPECT_FALSE(finding::to_string(f).empty());
    delimiter |= f.kind() == finding::Kind::DelimiterInValue;
    read_back |= f.kind() == finding::Kind::ReadBack;
  }
  if (delimiter) {
    ++tally.delimiters;
    EXPECT_FALSE(read_back);
  }
  if (written->findings.empty()) {
    ++tally.clean;
    // Read again independently of the writer's own read-back.
    const std::optional<Parsed> parsed = parse_builtin(written->bytes);
    ASSERT_TRUE(parsed.has_value());
    for (const Diagnostic& d : parsed->run.diagnostics) ADD_FAILURE() << to_string(d);
  }
}

TEST(WriterProperty, RandomTables) {
  Random random(20260106);
  Tally tally;
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    check(random_tables(random), tally);
  }
  EXPECT_GT(tally.delimiters, 0u);
}

TEST(WriterProperty, ChangedTablesOfARealFile) {
  const std::optional<Parsed> base = parse_builtin(zarvi_core::testing::data_file("simple_5010.835"));
  ASSERT_TRUE(base.has_value());
  Random random(7);
  Tally tally;
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    check(changed_tables(random, base->run.tables), tally);
  }
  EXPECT_GT(tally.clean, 0u);
  EXPECT_GT(tally.delimiters, 0u);
}

}  // namespace
}  // namespace zarvi_core::write::writer

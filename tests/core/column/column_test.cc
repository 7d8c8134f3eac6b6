#include "zarvi_core/column/column.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "zarvi_core/column/parse.h"

namespace zarvi_core::column {
namespace {

using Kind = ColumnType::Kind;

template <class T>
std::vector<T> vec(std::span<const T> s) {
  return {s.begin(), s.end()};
}

bool aligned(const void* p) { return reinterpret_cast<uintptr_t>(p) % 64 == 0; }

TEST(ColumnData, BinaryLayout) {
  ColumnData c(ColumnType::binary());
  c.push_checked(Cell::binary("AB"));
  c.push_null();
  c.push_checked(Cell::binary("C"));
  EXPECT_EQ(vec(c.offsets()), (std::vector<int32_t>{0, 2, 2, 3}));
  EXPECT_EQ(c.bytes(), "ABC");
  EXPECT_EQ(vec(c.validity()), (std::vector<uint8_t>{0b101}));
  EXPECT_EQ(c.get(1), Cell::null());
  EXPECT_EQ(c.get(3), std::nullopt);
  EXPECT_TRUE(aligned(c.offsets().data()) && aligned(c.bytes().data()) && aligned(c.validity().data()));
  // The validity grows a byte every eight rows.
  for (int i = 0; i < 5; ++i) c.push_checked(Cell::binary(""));
  EXPECT_EQ(vec(c.validity()), (std::vector<uint8_t>{0xFD}));
  c.push_null();
  c.push_checked(Cell::binary("D"));
  EXPECT_EQ(vec(c.validity()), (std::vector<uint8_t>{0xFD, 0x02}));
}

TEST(ColumnData, FixedWidthValuesAndNullSlots) {
  const struct {
    ColumnType type;
    Cell cell;
  } cases[] = {
      {ColumnType::int64(), Cell::int64(std::numeric_limits<int64_t>::min())},
      {ColumnType::decimal128(38, 2), Cell::decimal128(-12345)},
      {ColumnType::date32(), Cell::date32(-1)},
      {ColumnType::time32(), Cell::time32(86399)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(to_string(c.type));
    ColumnData col(c.type);
    col.push_null();
    ASSERT_TRUE(col.check(c.cell).ok());
    col.push_checked(c.cell);
    EXPECT_EQ(col.get(0), Cell::null());
    EXPECT_EQ(col.get(1), c.cell);
    // Null slots hold zero.
    switch (c.type.kind) {
      case Kind::Int64: EXPECT_EQ(col.int64_values()[0], 0); break;
      case Kind::Decimal128:
        EXPECT_EQ(col.decimal128_values()[0], 0);
        EXPECT_TRUE(aligned(col.decimal128_values().data()));
        break;
      default: EXPECT_EQ(col.int32_values()[0], 0); break;
    }
    // A cell of another kind is stored as a null, never reinterpreted.
    col.push_checked(Cell::binary("x"));
    EXPECT_EQ(col.get(2), Cell::null());
  }
}

TEST(ColumnData, CheckRefusesMismatchesWithTheirText) {
  // Binary cells borrow: their bytes must outlive the table of cases.
  const std::string forty(40, 'A');
  const std::string split = std::string(31, 'a') + "\xC3\xA9" + "zz";
  const std::string thirty_two(32, 'b');
  const std::string in_int64 = "an int64 column cannot hold a binary value (\"";
  const struct {
    const char* name;
    ColumnType type;
    Cell cell;
    std::string expected;  // empty: accepted
  } cases[] = {
      {"null fits anything", ColumnType::date32(), Cell::null(), ""},
      {"decimal scale not compared", ColumnType::decimal128(10, 4), Cell::decimal128(1), ""},
      {"int64 into date32", ColumnType::date32(), Cell::int64(7), "a date32 column cannot hold an int64 value (7)"},
      {"scaled int64 column", ColumnType::int64(2), Cell::date32(3), "an int64 (scale 2) column cannot hold a date32 value (3)"},
      {"decimal cell", ColumnType::binary(), Cell::decimal128(-12345), "a binary column cannot hold a decimal128 value (-12345)"},
      {"long binary cut", ColumnType::int64(), Cell::binary(forty), in_int64 + std::string(32, 'A') + "\"...)"},
      {"cut before a split sequence", ColumnType::int64(), Cell::binary(split), in_int64 + std::string(31, 'a') + "\"...)"},
      {"exactly 32 bytes kept", ColumnType::int64(), Cell::binary(thirty_two), in_int64 + thirty_two + "\")"},
      {"invalid bytes escaped", ColumnType::time32(), Cell::binary("\xFF\""),
       "a time32 (seconds) column cannot hold a binary value (\"\\xFF\\\"\")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = ColumnData(c.type).check(c.cell);
    EXPECT_EQ(r.ok() ? "" : to_string(r.error()), c.expected);
  }
}

TEST(ColumnData, BinaryByteTotalIsCappedAtInt32Max) {
  ColumnData col(ColumnType::binary());
  col.push_checked(Cell::binary("abc"));
  // Only the length of the offered bytes matters to check; no need to hold 2 GiB.
  const char* base = "x";
  const std::string_view fits(base, kMaxBinaryBytes - 3);
  const std::string_view over(base, kMaxBinaryBytes - 2);
  EXPECT_TRUE(col.check(Cell::binary(fits)).ok());
  EXPECT_EQ(to_string(col.check(Cell::binary(over)).error()),
            "a binary column holds at most 2147483647 bytes; this value would bring it to 2147483648");
  const std::string_view huge(base, std::numeric_limits<size_t>::max());
  EXPECT_EQ(col.check(Cell::binary(huge)).error().total, std::numeric_limits<uint64_t>::max());
  // Pushed without a check, bytes past the limit become a null, never a cut value.
  col.push_checked(Cell::binary(over));
  EXPECT_EQ(col.get(1), Cell::null());
  EXPECT_EQ(col.bytes(), "abc");
  EXPECT_EQ(vec(col.offsets()), (std::vector<int32_t>{0, 3, 3}));
}

TEST(ColumnData, Render) {
  // Decimals and times are also checked by the round trip below.
  const struct {
    ColumnType type;
    Cell cell;
    std::string expected;
  } cases[] = {
      {ColumnType::int64(), Cell::null(), "\xE2\x88\x85"},
      {ColumnType::binary(), Cell::binary("A\xFF"), "A\xEF\xBF\xBD"},
      {ColumnType::int64(2), Cell::int64(12345), "12345"},  // int64 ignores its scale
      {ColumnType::decimal128(38, 2), Cell::decimal128(-5), "-0.05"},
      {ColumnType::date32(), Cell::date32(-1), "1969-12-31"},
      {ColumnType::date32(), Cell::date32(parse::kMaxCivilDay), "5879610-09-09"},
      {ColumnType::date32(), Cell::date32(2146764180), "date32(2146764180)"},
      {ColumnType::date32(), Cell::date32(std::numeric_limits<int32_t>::min()), "-5877641-06-23"},
      {ColumnType::date32(), Cell::date32(-719528), "0000-01-01"},
      {ColumnType::date32(), Cell::date32(-719529), "-001-12-31"},
      {ColumnType::time32(), Cell::time32(86400), "time32(86400)"},
      {ColumnType::time32(), Cell::time32(-1), "time32(-1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    ColumnData col(c.type);
    col.push_checked(c.cell);
    EXPECT_EQ(col.render(0), c.expected);
    EXPECT_EQ(col.render(1), std::nullopt);
  }
}

// Short values are copied as overlapping moves and zero each fresh block
// they enter: every length and every start within a block must keep the
// bytes exact and the padding after them zero.
TEST(ColumnData, ShortValuesAtEveryOffset) {
  for (size_t length : {1, 2, 3, 4, 7, 8, 9, 16, 17}) {
    const std::string value = std::string("ABCDEFGHIJKLMNOPQ").substr(0, length);
    for (size_t start = 0; start < 64; ++start) {
      SCOPED_TRACE(std::to_string(length) + " bytes after " + std::to_string(start));
      ColumnData col(ColumnType::binary());
      const std::string lead(start, 'x');
      if (start > 0) col.push_checked(Cell::binary(lead));
      col.push_checked(Cell::binary(value));
      col.push_checked(Cell::binary(value));
      ASSERT_EQ(col.bytes(), lead + value + value);
      ASSERT_EQ(col.get(col.rows() - 1), Cell::binary(value));
      const auto* bytes = reinterpret_cast<const unsigned char*>(col.bytes().data());
      for (size_t i = col.bytes().size(); i % 64 != 0; ++i) ASSERT_EQ(bytes[i], 0);
    }
  }
}

// Large buffers move from the heap to mapped pages and grow there: every
// value survives the growth and the move, buffers stay 64-byte aligned, and
// the padding after the last value up to its 64-byte boundary is zero.
TEST(ColumnData, LargeColumnsKeepValuesAlignmentAndPadding) {
  constexpr int kRows = 300000;
  std::string text;
  auto cells = [&](int i) -> std::array<Cell, 3> {
    if (i % 7 == 3) return {Cell::null(), Cell::null(), Cell::null()};
    text.assign(static_cast<size_t>(i % 23), char('a' + i % 26));
    return {Cell::binary(text), Cell::int64(-i), Cell::decimal128(i128{i} << 70)};
  };
  std::array<ColumnData, 3> cols = {ColumnData(ColumnType::binary()), ColumnData(ColumnType::int64()),
                                    ColumnData(ColumnType::decimal128(38, 2))};
  for (int i = 0; i < kRows; ++i) {
    const auto row = cells(i);
    for (size_t k = 0; k < 3; ++k) cols[k].push_checked(row[k]);
  }
  ASSERT_GT(cols[0].bytes().size(), size_t{2} << 20);
  ASSERT_GT(cols[2].decimal128_values().size_bytes(), size_t{4} << 20);
  const std::array<ColumnData, 3> moved = std::move(cols);
  for (int i = 0; i < kRows; ++i) {
    const auto row = cells(i);
    for (size_t k = 0; k < 3; ++k) ASSERT_EQ(moved[k].get(i), row[k]) << i;
  }
  auto padded_zero = [](const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = size; i % 64 != 0; ++i)
      if (bytes[i] != 0) return false;
    return aligned(data);
  };
  for (const ColumnData& c : moved) {
    EXPECT_TRUE(padded_zero(c.validity().data(), c.validity().size_bytes()));
    EXPECT_EQ(c.null_count(), static_cast<size_t>((kRows - 4) / 7 + 1));
  }
  EXPECT_TRUE(padded_zero(moved[0].bytes().data(), moved[0].bytes().size()));
  EXPECT_TRUE(padded_zero(moved[0].offsets().data(), moved[0].offsets().size_bytes()));
  EXPECT_TRUE(aligned(moved[2].decimal128_values().data()));
}

}  // namespace
}  // namespace zarvi_core::column

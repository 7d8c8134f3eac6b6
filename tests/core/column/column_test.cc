#include "zarvi_core/column/column.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../alloc_count.h"
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

// A null's value slot is left to the zeroed padding: after a clear() that
// keeps blocks of earlier values, and across block boundaries, null slots
// and the padding still read zero.
TEST(ColumnData, NullSlotsAreZeroAfterReuse) {
  const struct {
    ColumnType type;
    Cell cell;
  } cases[] = {
      {ColumnType::int64(), Cell::int64(-1)},
      {ColumnType::decimal128(38, 2), Cell::decimal128(-1)},
      {ColumnType::date32(), Cell::date32(-1)},
      {ColumnType::time32(), Cell::time32(86399)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(to_string(c.type));
    ColumnData col(c.type);
    for (int i = 0; i < 40; ++i) col.push_checked(c.cell);
    col.clear();
    for (int i = 0; i < 40; ++i) col.push_checked(i % 3 == 1 ? c.cell : Cell::null());
    const std::span<const std::byte> values =
        c.type.kind == Kind::Int64        ? std::as_bytes(col.int64_values())
        : c.type.kind == Kind::Decimal128 ? std::as_bytes(col.decimal128_values())
                                          : std::as_bytes(col.int32_values());
    const size_t width = values.size() / 40;
    for (size_t i = 0; i < 40; ++i) {
      ASSERT_EQ(col.get(i), i % 3 == 1 ? c.cell : Cell::null()) << i;
      if (i % 3 == 1) continue;
      for (size_t b = i * width; b < (i + 1) * width; ++b) ASSERT_EQ(values[b], std::byte{0}) << i;
    }
    for (size_t b = values.size(); b % 64 != 0; ++b) ASSERT_EQ(values.data()[b], std::byte{0});
    EXPECT_EQ(col.null_count(), size_t{27});
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

// Bulk appends from foreign buffers (unaligned, read from an odd bit and
// element, after rows that leave the bitmap mid-byte) hold what appending
// the same cells one by one holds, buffers and padding alike.
TEST(ColumnData, BulkAppendsMatchCellAppends) {
  struct Case {
    const char* name;
    size_t before;  // rows pushed first
    int64_t from;   // first source element
    size_t n;
    int nulls;      // every nulls-th element null; 0: no bitmap
  };
  const Case cases[] = {
      {"aligned, no bitmap", 0, 0, 40, 0},
      {"odd start, sparse nulls", 3, 5, 77, 7},
      {"mid-byte column, dense nulls", 13, 9, 130, 2},
      {"all null", 1, 3, 20, 1},
      {"one row", 6, 7, 1, 3},
      {"empty", 2, 4, 0, 2},
  };
  constexpr int64_t kSource = 300;
  std::vector<uint8_t> bits(kSource / 8 + 1);
  std::vector<int64_t> ints(kSource);
  std::vector<int32_t> off32(kSource + 1);
  std::vector<int64_t> off64(kSource + 1);
  std::string bytes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::fill(bits.begin(), bits.end(), uint8_t{0});
    bytes.clear();
    for (int64_t i = 0; i < kSource; ++i) {
      const bool valid = c.nulls == 0 || i % c.nulls != 0;
      if (valid) bits[i / 8] |= uint8_t(1u << (i % 8));
      ints[i] = i * 1000003 - 7;  // values under nulls must not show through
      off32[i] = off64[i] = static_cast<int32_t>(bytes.size());
      bytes.append(static_cast<size_t>(i % 5 == 1 ? 0 : i % 19), char('a' + i % 26));  // nulls too
    }
    off32[kSource] = off64[kSource] = static_cast<int32_t>(bytes.size());
    const uint8_t* validity = c.nulls == 0 ? nullptr : bits.data();
    auto valid = [&](int64_t i) { return validity == nullptr || ((bits[i / 8] >> (i % 8)) & 1); };
    auto text = [&](int64_t i) {
      return std::string_view(bytes).substr(off32[i], off32[i + 1] - off32[i]);
    };
    // Foreign memory at an odd address.
    auto unaligned = [](const auto& v) {
      auto copy = std::make_shared<std::vector<std::byte>>(v.size() * sizeof v[0] + 1);
      std::memcpy(copy->data() + 1, v.data(), v.size() * sizeof v[0]);
      return copy;
    };
    const auto ints_u = unaligned(ints), off32_u = unaligned(off32), off64_u = unaligned(off64);

    ColumnData want_i(ColumnType::int64()), got_i(ColumnType::int64());
    std::array<ColumnData, 4> want_b = {ColumnData(ColumnType::binary()), ColumnData(ColumnType::binary()),
                                        ColumnData(ColumnType::binary()), ColumnData(ColumnType::binary())};
    std::array<ColumnData, 4> got_b = {ColumnData(ColumnType::binary()), ColumnData(ColumnType::binary()),
                                       ColumnData(ColumnType::binary()), ColumnData(ColumnType::binary())};
    for (size_t r = 0; r < c.before; ++r) {
      const Cell pre = r % 3 == 0 ? Cell::null() : Cell::binary("xyz");
      for (size_t b = 0; b < 4; ++b) {
        want_b[b].push_checked(pre);
        got_b[b].push_checked(pre);
      }
      const Cell number = r % 3 == 0 ? Cell::null() : Cell::int64(int64_t(r));
      want_i.push_checked(number);
      got_i.push_checked(number);
    }
    for (size_t k = 0; k < c.n; ++k) {
      const int64_t i = c.from + static_cast<int64_t>(k);
      want_i.push_checked(valid(i) ? Cell::int64(ints[i]) : Cell::null());
      for (auto& col : want_b) col.push_checked(valid(i) ? Cell::binary(text(i)) : Cell::null());
    }
    got_i.reserve(c.n);
    got_i.append_values(ints_u->data() + 1, validity, c.from, c.n);
    got_b[0].append_offsets32(off32_u->data() + 1, reinterpret_cast<const std::byte*>(bytes.data()), validity, c.from, c.n);
    got_b[1].reserve(c.n, bytes.size());
    got_b[1].append_offsets64(off64_u->data() + 1, reinterpret_cast<const std::byte*>(bytes.data()), validity, c.from, c.n);
    size_t total = 0;
    for (size_t k = 0; k < c.n; ++k) total += valid(c.from + int64_t(k)) ? text(c.from + int64_t(k)).size() : 0;
    for (size_t b : {size_t{2}, size_t{3}}) {
      got_b[b].append_binary(validity, c.from, c.n, total, [&](size_t k) { return text(c.from + int64_t(k)); });
    }
    auto padded = [](const void* data, size_t size) {
      return std::vector<uint8_t>(static_cast<const uint8_t*>(data),
                                  static_cast<const uint8_t*>(data) + ((size + 63) & ~size_t{63}));
    };
    auto same = [&](const ColumnData& want, const ColumnData& got) {
      EXPECT_EQ(got.rows(), want.rows());
      EXPECT_EQ(got.null_count(), want.null_count());
      EXPECT_EQ(padded(got.validity().data(), got.validity().size()),
                padded(want.validity().data(), want.validity().size()));
      EXPECT_EQ(vec(got.offsets()), vec(want.offsets()));
      EXPECT_EQ(padded(got.bytes().data(), got.bytes().size()),
                padded(want.bytes().data(), want.bytes().size()));
    };
    same(want_i, got_i);
    for (size_t b = 0; b < 4; ++b) {
      SCOPED_TRACE(b);
      same(want_b[b], got_b[b]);
    }
  }
}

// A packed copy reads as its source, cell by cell and buffer by buffer, with
// each buffer aligned to its values; few valid rows keep no bitmap, few null
// rows take no bytes at all. Appending to a copy leaves its block alone.
ColumnData owning(size_t rows) {
  ColumnData c(ColumnType::binary());
  for (size_t i = 0; i < rows; ++i) c.push_checked(Cell::binary("some rows"));
  return c;
}

// A column assigned over one that owns rows frees those rows, whatever form
// the assigned column takes.
TEST(ColumnData, AssignedOverFreesTheRowsItOwned) {
  alignas(16) static std::byte block[256];
  const struct {
    const char* name;
    ColumnData (*make)();
  } cases[] = {
      {"rows of its own", [] { return owning(3); }},
      {"no rows", [] { return ColumnData(ColumnType::binary()); }},
      {"a packed copy", [] { return owning(2).copy_to(block); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = zarvi_test::g_live_bytes.load();
    {
      ColumnData over = owning(40);
      over = c.make();
    }
    EXPECT_EQ(zarvi_test::g_live_bytes.load(), before);
  }
}

TEST(ColumnData, PackedCopiesReadAsTheirSource) {
  const struct {
    const char* name;
    int rows;
    int nulls;           // every nulls-th row null (1: all); 0: none
    size_t int64_bytes;  // the int64 column's packed size
  } cases[] = {
      {"one valid row", 1, 0, 8},        {"one null row", 1, 1, 0},
      {"mixed", 10, 3, 8 + 80},          {"64 valid rows", 64, 0, 512},
      {"65 valid rows", 65, 0, 16 + 520}, {"64 null rows", 64, 1, 0},
      {"100 null rows", 100, 1, 16 + 800},
  };
  const ColumnType types[] = {ColumnType::binary(), ColumnType::int64(),
                              ColumnType::decimal128(38, 2), ColumnType::date32(),
                              ColumnType::time32()};
  auto cell = [](ColumnType::Kind kind, int i, std::string& text) {
    switch (kind) {
      case Kind::Binary:
        text.assign(static_cast<size_t>(i % 4), char('a' + i % 26));
        return Cell::binary(text);
      case Kind::Int64: return Cell::int64(-i);
      case Kind::Decimal128: return Cell::decimal128(i128{i} << 70);
      case Kind::Date32: return Cell::date32(i);
      case Kind::Time32: return Cell::time32(i);
    }
    return Cell::null();
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ColumnData> source;
    std::string text;
    for (const ColumnType& type : types) {
      ColumnData& column = source.emplace_back(type);
      for (int i = 0; i < c.rows; ++i) {
        const bool null = c.nulls != 0 && i % c.nulls == 0;
        column.push_checked(null ? Cell::null() : cell(type.kind, i, text));
      }
    }
    EXPECT_EQ(source[1].packed_size(), c.int64_bytes);
    size_t size = 0;
    for (const ColumnData& column : source)
      size = (size + column.packed_align() - 1) / column.packed_align() * column.packed_align() +
             column.packed_size();
    alignas(16) std::byte block[8192];
    ASSERT_LE(size, sizeof block);
    std::memset(block, 0xAB, sizeof block);
    std::vector<ColumnData> packed;
    for (size_t at = 0; const ColumnData& column : source) {
      at = (at + column.packed_align() - 1) / column.packed_align() * column.packed_align();
      packed.push_back(column.copy_to(block + at));
      at += column.packed_size();
    }
    std::vector<std::byte> before(block, block + sizeof block);
    for (size_t k = 0; k < source.size(); ++k) {
      const ColumnData& from = source[k];
      ColumnData& copy = packed[k];
      SCOPED_TRACE(to_string(from.type()));
      EXPECT_EQ(copy.type(), from.type());
      EXPECT_EQ(copy.rows(), from.rows());
      EXPECT_EQ(copy.null_count(), from.null_count());
      EXPECT_EQ(vec(copy.validity()), vec(from.validity()));
      EXPECT_EQ(vec(copy.offsets()), vec(from.offsets()));
      EXPECT_EQ(copy.bytes(), from.bytes());
      for (size_t row = 0; row <= from.rows(); ++row) EXPECT_EQ(copy.get(row), from.get(row));
      const size_t width = from.packed_align();
      EXPECT_EQ(reinterpret_cast<uintptr_t>(from.type().kind == Kind::Binary
                                                ? static_cast<const void*>(copy.offsets().data())
                                                : copy.bytes().data()) % width, 0u);
      // An append copies the rows out first.
      copy.push_checked(cell(from.type().kind, 7, text));
      EXPECT_EQ(copy.rows(), from.rows() + 1);
      for (size_t row = 0; row < from.rows(); ++row) EXPECT_EQ(copy.get(row), from.get(row));
      EXPECT_EQ(copy.get(from.rows()), cell(from.type().kind, 7, text));
    }
    EXPECT_TRUE(std::equal(before.begin(), before.end(), block));
  }
}

}  // namespace
}  // namespace zarvi_core::column

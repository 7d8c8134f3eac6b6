#include "zarvi_core/column/column.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "zarvi_core/column/parse.h"
#include "zarvi_core/spec/balance.h"

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
      {ColumnType::date32(), Cell::date32(kMaxCivilDay), "5879610-09-09"},
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

// Month lengths and leap years: WalkTheCalendar.
TEST(CivilDate, Parses) {
  const std::pair<const char*, std::optional<CivilDate>> cases[] = {
      {"491231", CivilDate{2049, 12, 31}}, {"500101", CivilDate{1950, 1, 1}},
      {"00010101", CivilDate{1, 1, 1}}, {"99991231", CivilDate{9999, 12, 31}},
      {"000229", CivilDate{2000, 2, 29}}, {"20231301", {}}, {"20230100", {}},
      {"00000101", {}}, {"2023011", {}}, {"230101 ", {}}, {"", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(civil_date(text), expected) << text;
}

TEST(ParseR, Parses) {
  i128 nines = 0;
  for (int i = 0; i < 38; ++i) nines = nines * 10 + 9;
  const std::string nines_text(38, '9');
  const struct {
    std::string text;
    uint8_t scale;
    std::optional<i128> expected;
  } cases[] = {
      {"12.3", 2, 1230}, {"-0.05", 2, -5}, {"1.234", 2, {}}, {"+1", 2, {}}, {"5.", 2, 500},
      {".5", 2, 50}, {"1.2.3", 2, {}}, {".", 2, {}}, {"-", 2, {}}, {"", 2, {}}, {"-0", 2, 0},
      {nines_text, 0, nines}, {"1" + std::string(38, '0'), 0, {}},
      {"-" + nines_text.substr(0, 36) + ".99", 2, -nines},
      {nines_text, 1, {}},  // the scale pushes it past the limit
      {std::string(60, '0') + "1", 0, 1}, {"0", 255, 0}, {"1", 38, {}}, {"1", 37, (nines + 1) / 10},
      // 19 places fit 64 bits; from 20 on the value is built in 128.
      {"-99999999999999999.99", 2, -i128{9999999999999999999ull}},
      {"999999999999999999", 2, i128{999999999999999999ull} * 100},
      {"12345678901234567890", 0, i128{1234567890123456789ull} * 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " at scale " + std::to_string(c.scale));
    EXPECT_EQ(parse_r(c.text, c.scale), c.expected);
    // A refused text leaves the target as it was.
    i128 out = 7;
    EXPECT_EQ(parse_r_to(c.text, c.scale, out), c.expected.has_value());
    EXPECT_EQ(out, c.expected.value_or(7));
  }
}

TEST(ParseTm, Parses) {
  const std::pair<const char*, std::optional<uint32_t>> cases[] = {
      {"2359", 86340}, {"235959", 86399}, {"235960", {}}, {"1200005", 43200},
      {"12000599", 43205}, {"0000", 0}, {"2400", {}}, {"1260", {}},
      {"12000", {}}, {"120000123", {}}, {"12000a", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_tm(text), expected) << text;
}

TEST(CellFromText, OneRulePerType) {
  const struct {
    ColumnType type;
    std::string text;
    std::optional<Cell> expected;
  } cases[] = {
      {ColumnType::binary(), "a b", Cell::binary("a b")},
      {ColumnType::int64(2), "12345", Cell::int64(12345)},  // digits kept as written
      {ColumnType::int64(), "-9223372036854775808", Cell::int64(std::numeric_limits<int64_t>::min())},
      {ColumnType::int64(), "9223372036854775808", {}},
      {ColumnType::int64(), "-", {}},
      {ColumnType::decimal128(18, 2), "1.5", Cell::decimal128(150)},
      {ColumnType::date32(), "19700102", Cell::date32(1)},
      {ColumnType::date32(), "20230431", {}},
      {ColumnType::time32(), "0001", Cell::time32(60)},
  };
  for (const auto& c : cases) EXPECT_EQ(cell_from_text(c.type, c.text), c.expected) << c.text;
}

// Every day that DT can write, 0001-01-01 to 9999-12-31, follows the one
// before it in the calendar and converts back to its day number.
TEST(CivilDays, WalkTheCalendar) {
  CivilDate prev = civil_from_days(-719162);
  ASSERT_EQ(prev, (CivilDate{1, 1, 1}));
  for (int32_t day = -719161; day <= 2932896; ++day) {
    const CivilDate d = civil_from_days(day);
    const bool next_day = d.year == prev.year && d.month == prev.month && d.day == prev.day + 1;
    const bool next_month = d.day == 1 && ((d.year == prev.year && d.month == prev.month + 1) ||
                                           (d.year == prev.year + 1 && d.month == 1 && prev.month == 12));
    ASSERT_TRUE(next_day || next_month) << day;
    if (next_month) {
      ASSERT_TRUE(prev.day >= 28) << day;
      char text[32];
      auto dt = [&](unsigned dd) {
        return std::string(text, std::snprintf(text, sizeof text, "%04d%02u%02u", prev.year, unsigned{prev.month}, dd));
      };
      ASSERT_EQ(civil_date(dt(prev.day)), prev) << "last day of a month: " << dt(prev.day);
      ASSERT_EQ(civil_date(dt(prev.day + 1u)), std::nullopt) << "past the end of a month";
    }
    ASSERT_EQ(days_from_civil(d), day);
    prev = d;
  }
  EXPECT_EQ(prev, (CivilDate{9999, 12, 31}));
}

// render(parse(x)) == x for canonical texts of R and TM; dates are walked above.
TEST(ParseRender, RoundTrips) {
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 5000; ++i) {
    // Any magnitude of up to 38 digits at any scale that keeps it in range.
    const auto scale = static_cast<uint8_t>(rng() % 39);
    u128 limit = 1;
    for (int d = 0, digits = 1 + static_cast<int>(rng() % 38); d < digits; ++d) limit *= 10;
    const u128 magnitude = ((u128(rng()) << 64) | rng()) % limit;
    const i128 value = rng() % 2 ? -static_cast<i128>(magnitude) : static_cast<i128>(magnitude);
    const std::string text = spec::render_amount(value, scale);
    const auto parsed = parse_r(text, scale);
    ASSERT_EQ(parsed, value) << text;
    ColumnData col(ColumnType::decimal128(38, scale));
    col.push_checked(Cell::decimal128(*parsed));
    ASSERT_EQ(col.render(0), text);
  }
  ColumnData times(ColumnType::time32());
  for (int32_t t = 0; t < 86400; ++t) {
    times.push_checked(Cell::time32(t));
    std::string text = *times.render(static_cast<size_t>(t));
    text.erase(std::remove(text.begin(), text.end(), ':'), text.end());
    ASSERT_EQ(parse_tm(text), static_cast<uint32_t>(t)) << text;
  }
}

// Random bytes never crash a parser or a quoted value; whatever parses
// re-renders to a text that parses to the same value.
TEST(ParseRender, RandomBytes) {
  std::mt19937 rng(99);
  const char alphabet[] = "0123456789.-+e \xFF";
  for (int i = 0; i < 50000; ++i) {
    std::string s(rng() % 12, '\0');
    for (char& ch : s) ch = rng() % 4 == 0 ? static_cast<char>(rng()) : alphabet[rng() % 16];
    const auto scale = static_cast<uint8_t>(rng() % 40);
    if (const auto v = parse_r(s, scale)) {
      ASSERT_EQ(parse_r(spec::render_amount(*v, scale), scale), v) << s;
    }
    (void)civil_date(s), (void)parse_tm(s), (void)parse_int64(s);
    ASSERT_FALSE(ColumnData(ColumnType::int64()).check(Cell::binary(s)).ok());
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

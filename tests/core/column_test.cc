#include "zarvi_core/column.h"

#include <gtest/gtest.h>

#include <algorithm>
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
  EXPECT_EQ(vec(c.offsets()), (std::vector<int32_t>{0}));
  EXPECT_TRUE(c.validity().empty());
  c.push_checked(Cell::binary("AB"));
  c.push_null();
  c.push_checked(Cell::binary("C"));
  EXPECT_EQ(vec(c.offsets()), (std::vector<int32_t>{0, 2, 2, 3}));
  EXPECT_EQ(c.bytes(), "ABC");
  EXPECT_EQ(vec(c.validity()), (std::vector<uint8_t>{0b101}));
  EXPECT_EQ(c.rows(), 3u);
  EXPECT_EQ(c.null_count(), 1u);
  EXPECT_EQ(c.get(0), Cell::binary("AB"));
  EXPECT_EQ(c.get(1), Cell::null());
  EXPECT_EQ(c.get(3), std::nullopt);
  EXPECT_TRUE(aligned(c.offsets().data()));
  EXPECT_TRUE(aligned(c.bytes().data()));
  EXPECT_TRUE(aligned(c.validity().data()));
}

TEST(ColumnData, ValidityGrowsAByteEveryEightRows) {
  ColumnData c(ColumnType::int64());
  for (int i = 0; i < 8; ++i) c.push_checked(Cell::int64(i));
  EXPECT_EQ(c.validity().size(), 1u);
  c.push_null();
  EXPECT_EQ(vec(c.validity()), (std::vector<uint8_t>{0xFF, 0x00}));
  c.push_checked(Cell::int64(9));
  EXPECT_EQ(vec(c.validity()), (std::vector<uint8_t>{0xFF, 0x02}));
  EXPECT_EQ(vec(c.int64_values()), (std::vector<int64_t>{0, 1, 2, 3, 4, 5, 6, 7, 0, 9}));
  EXPECT_EQ(c.null_count(), 1u);
  EXPECT_EQ(c.get(10), std::nullopt);
}

TEST(ColumnData, FixedWidthValuesAndNullSlots) {
  const struct {
    const char* name;
    ColumnType type;
    Cell cell;
  } cases[] = {
      {"int64", ColumnType::int64(), Cell::int64(std::numeric_limits<int64_t>::min())},
      {"decimal128", ColumnType::decimal128(38, 2), Cell::decimal128(-12345)},
      {"date32", ColumnType::date32(), Cell::date32(-1)},
      {"time32", ColumnType::time32(), Cell::time32(86399)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ColumnData col(c.type);
    col.push_null();
    ASSERT_TRUE(col.check(c.cell).ok());
    col.push_checked(c.cell);
    EXPECT_EQ(col.get(0), Cell::null());
    EXPECT_EQ(col.get(1), c.cell);
    EXPECT_EQ(col.null_count(), 1u);
    EXPECT_TRUE(col.offsets().empty());
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
  const struct {
    const char* name;
    ColumnType type;
    Cell cell;
    std::string expected;  // empty: accepted
  } cases[] = {
      {"null fits anything", ColumnType::date32(), Cell::null(), ""},
      {"decimal scale not compared", ColumnType::decimal128(10, 4), Cell::decimal128(1), ""},
      {"int64 into date32", ColumnType::date32(), Cell::int64(7),
       "a date32 column cannot hold an int64 value (7)"},
      {"scaled int64 column", ColumnType::int64(2), Cell::date32(3),
       "an int64 (scale 2) column cannot hold a date32 value (3)"},
      {"decimal cell", ColumnType::binary(), Cell::decimal128(-12345),
       "a binary column cannot hold a decimal128 value (-12345)"},
      {"long binary cut", ColumnType::int64(), Cell::binary(forty),
       "an int64 column cannot hold a binary value (\"" + std::string(32, 'A') + "\"...)"},
      {"cut before a split sequence", ColumnType::int64(),
       Cell::binary(split),
       "an int64 column cannot hold a binary value (\"" + std::string(31, 'a') + "\"...)"},
      {"exactly 32 bytes kept", ColumnType::int64(), Cell::binary(thirty_two),
       "an int64 column cannot hold a binary value (\"" + std::string(32, 'b') + "\")"},
      {"invalid bytes escaped", ColumnType::time32(), Cell::binary("\xFF\""),
       "a time32 (seconds) column cannot hold a binary value (\"\\xFF\\\"\")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ColumnData col(c.type);
    const auto r = col.check(c.cell);
    if (c.expected.empty()) {
      EXPECT_TRUE(r.ok());
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(to_string(r.error()), c.expected);
    }
    EXPECT_EQ(col.rows(), 0u);
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
  const auto r = col.check(Cell::binary(over));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, CellError::Kind::Overflow);
  EXPECT_EQ(r.error().total, 2147483648u);
  EXPECT_EQ(to_string(r.error()),
            "a binary column holds at most 2147483647 bytes; this value would bring it to "
            "2147483648");
  const std::string_view huge(base, std::numeric_limits<size_t>::max());
  EXPECT_EQ(col.check(Cell::binary(huge)).error().total, std::numeric_limits<uint64_t>::max());
  // Pushed without a check, bytes past the limit become a null, never a cut value.
  col.push_checked(Cell::binary(over));
  EXPECT_EQ(col.get(1), Cell::null());
  EXPECT_EQ(col.bytes(), "abc");
  EXPECT_EQ(vec(col.offsets()), (std::vector<int32_t>{0, 3, 3}));
}

TEST(ColumnData, Render) {
  const struct {
    const char* name;
    ColumnType type;
    Cell cell;
    std::string expected;
  } cases[] = {
      {"null", ColumnType::int64(), Cell::null(), "\xE2\x88\x85"},
      {"binary lossy", ColumnType::binary(), Cell::binary("A\xFF"), "A\xEF\xBF\xBD"},
      {"int64 ignores its scale", ColumnType::int64(2), Cell::int64(12345), "12345"},
      {"decimal", ColumnType::decimal128(38, 2), Cell::decimal128(12345), "123.45"},
      {"negative decimal", ColumnType::decimal128(38, 2), Cell::decimal128(-5), "-0.05"},
      {"decimal scale 0", ColumnType::decimal128(38, 0), Cell::decimal128(-7), "-7"},
      {"epoch", ColumnType::date32(), Cell::date32(0), "1970-01-01"},
      {"day before epoch", ColumnType::date32(), Cell::date32(-1), "1969-12-31"},
      {"last day in range", ColumnType::date32(), Cell::date32(kMaxCivilDay), "5879610-09-09"},
      {"past the range", ColumnType::date32(), Cell::date32(2146764180), "date32(2146764180)"},
      {"most negative day", ColumnType::date32(), Cell::date32(std::numeric_limits<int32_t>::min()),
       "-5877641-06-23"},
      {"year zero", ColumnType::date32(), Cell::date32(-719528), "0000-01-01"},
      {"negative year padded", ColumnType::date32(), Cell::date32(-719529), "-001-12-31"},
      {"last second", ColumnType::time32(), Cell::time32(86399), "23:59:59"},
      {"a day", ColumnType::time32(), Cell::time32(86400), "time32(86400)"},
      {"negative time", ColumnType::time32(), Cell::time32(-1), "time32(-1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ColumnData col(c.type);
    col.push_checked(c.cell);
    EXPECT_EQ(col.render(0), c.expected);
    EXPECT_EQ(col.render(1), std::nullopt);
  }
}

// Month lengths and leap years: WalkTheCalendar.
TEST(CivilDate, Parses) {
  const struct {
    const char* text;
    std::optional<CivilDate> expected;
  } cases[] = {
      {"491231", CivilDate{2049, 12, 31}},
      {"500101", CivilDate{1950, 1, 1}},
      {"00010101", CivilDate{1, 1, 1}},
      {"99991231", CivilDate{9999, 12, 31}},
      {"000229", CivilDate{2000, 2, 29}},
      {"20231301", std::nullopt},
      {"20230100", std::nullopt},
      {"00000101", std::nullopt},
      {"2023011", std::nullopt},
      {"230101 ", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(civil_date(c.text), c.expected);
  }
}

TEST(ParseR, Parses) {
  i128 nines = 0;
  for (int i = 0; i < 38; ++i) nines = nines * 10 + 9;
  const std::string nines_text(38, '9');
  const struct {
    const char* name;
    std::string text;
    uint8_t scale;
    std::optional<i128> expected;
  } cases[] = {
      {"fraction padded", "12.3", 2, 1230},
      {"negative fraction", "-0.05", 2, -5},
      {"too many fraction digits", "1.234", 2, std::nullopt},
      {"plus sign", "+1", 2, std::nullopt},
      {"trailing point", "5.", 2, 500},
      {"leading point", ".5", 2, 50},
      {"two points", "1.2.3", 2, std::nullopt},
      {"lone point", ".", 2, std::nullopt},
      {"lone minus", "-", 2, std::nullopt},
      {"empty", "", 2, std::nullopt},
      {"negative zero", "-0", 2, 0},
      {"thirty-eight nines", nines_text, 0, nines},
      {"ten to the 38", "1" + std::string(38, '0'), 0, std::nullopt},
      {"nines with a scale", "-" + nines_text.substr(0, 36) + ".99", 2, -nines},
      {"scale pushes past the limit", nines_text, 1, std::nullopt},
      {"leading zeros", std::string(60, '0') + "1", 0, 1},
      {"zero at a huge scale", "0", 255, 0},
      {"one at scale 38", "1", 38, std::nullopt},
      {"one at scale 37", "1", 37, (nines + 1) / 10},
      // 19 places fit 64 bits; from 20 on the value is built in 128.
      {"nineteen places", "-99999999999999999.99", 2, -i128{9999999999999999999ull}},
      {"twenty places by scale", "999999999999999999", 2,
       i128{999999999999999999ull} * 100},
      {"twenty digits", "12345678901234567890", 0,
       i128{1234567890123456789ull} * 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(parse_r(c.text, c.scale), c.expected);
    // A refused text leaves the target as it was.
    i128 out = 7;
    EXPECT_EQ(parse_r_to(c.text, c.scale, out), c.expected.has_value());
    EXPECT_EQ(out, c.expected.value_or(7));
  }
}

TEST(ParseTm, Parses) {
  const struct {
    const char* text;
    std::optional<uint32_t> expected;
  } cases[] = {
      {"2359", 86340},
      {"235959", 86399},
      {"235960", std::nullopt},
      {"1200005", 43200},
      {"12000599", 43205},
      {"0000", 0},
      {"2400", std::nullopt},
      {"1260", std::nullopt},
      {"12000", std::nullopt},
      {"120000123", std::nullopt},
      {"12000a", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_tm(c.text), c.expected);
  }
}

TEST(CellFromText, OneRulePerType) {
  const struct {
    const char* name;
    ColumnType type;
    std::string text;
    std::optional<Cell> expected;
  } cases[] = {
      {"binary takes anything", ColumnType::binary(), "a b", Cell::binary("a b")},
      {"int64 keeps digits as written", ColumnType::int64(2), "12345", Cell::int64(12345)},
      {"int64 minimum", ColumnType::int64(), "-9223372036854775808",
       Cell::int64(std::numeric_limits<int64_t>::min())},
      {"int64 past maximum", ColumnType::int64(), "9223372036854775808", std::nullopt},
      {"int64 lone minus", ColumnType::int64(), "-", std::nullopt},
      {"decimal at the column scale", ColumnType::decimal128(18, 2), "1.5", Cell::decimal128(150)},
      {"date", ColumnType::date32(), "19700102", Cell::date32(1)},
      {"date before epoch", ColumnType::date32(), "691231", Cell::date32(-1)},
      {"first date", ColumnType::date32(), "00010101", Cell::date32(-719162)},
      {"bad date", ColumnType::date32(), "20230431", std::nullopt},
      {"time", ColumnType::time32(), "0001", Cell::time32(60)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cell_from_text(c.type, c.text), c.expected);
  }
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
      auto dt = [&](unsigned day_of_month) {
        char text[32];
        std::snprintf(text, sizeof text, "%04d%02u%02u", prev.year, unsigned{prev.month},
                      day_of_month);
        return std::string(text);
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
    (void)civil_date(s);
    (void)parse_tm(s);
    (void)parse_int64(s);
    ColumnData col(ColumnType::int64());
    ASSERT_FALSE(col.check(Cell::binary(s)).ok());
  }
}

TEST(ColumnData, AppendingAllocatesOnlyToGrow) {
  ColumnData col(ColumnType::binary());
  const std::byte* before = reinterpret_cast<const std::byte*>(col.bytes().data());
  int moves = 0;
  for (int i = 0; i < 100000; ++i) {
    col.push_checked(Cell::binary("abcd"));
    const auto* now = reinterpret_cast<const std::byte*>(col.bytes().data());
    if (now != before) ++moves, before = now;
  }
  EXPECT_LE(moves, 20);  // doubling: about log2(400000 / 64)
  ColumnData moved = std::move(col);
  EXPECT_EQ(reinterpret_cast<const std::byte*>(moved.bytes().data()), before);
}

// Short values are copied as overlapping moves and zero each fresh block
// they enter: every length and every start within a block must keep the
// bytes exact and the padding after them zero.
TEST(ColumnData, ShortValuesAtEveryOffset) {
  const struct {
    const char* name;
    size_t length;
  } cases[] = {
      {"one byte", 1}, {"two bytes", 2}, {"three bytes", 3}, {"four bytes", 4},
      {"seven bytes", 7}, {"eight bytes", 8}, {"nine bytes", 9}, {"sixteen bytes", 16},
      {"seventeen bytes", 17},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t start = 0; start < 64; ++start) {
      ColumnData col(ColumnType::binary());
      const std::string lead(start, 'x');
      std::string value;
      for (size_t i = 0; i < c.length; ++i) value += static_cast<char>('A' + i);
      if (start > 0) col.push_checked(Cell::binary(lead));
      col.push_checked(Cell::binary(value));
      col.push_checked(Cell::binary(value));
      ASSERT_EQ(col.bytes(), lead + value + value) << start;
      ASSERT_EQ(col.get(col.rows() - 1), Cell::binary(value)) << start;
      const auto* bytes = reinterpret_cast<const unsigned char*>(col.bytes().data());
      for (size_t i = col.bytes().size(); i % 64 != 0; ++i) ASSERT_EQ(bytes[i], 0) << start;
    }
  }
}

// Large buffers move from the heap to mapped pages and grow there: every
// value survives the growth and the move, buffers stay 64-byte aligned, and
// the padding after the last value up to its 64-byte boundary is zero.
TEST(ColumnData, LargeColumnsKeepValuesAlignmentAndPadding) {
  constexpr int kRows = 300000;
  auto value = [](int i) { return std::string(static_cast<size_t>(i % 23), char('a' + i % 26)); };
  auto padded_zero = [](const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = size; i % 64 != 0; ++i)
      if (bytes[i] != 0) return false;
    return reinterpret_cast<uintptr_t>(data) % 64 == 0;
  };
  ColumnData binary(ColumnType::binary());
  ColumnData int64(ColumnType::int64());
  ColumnData decimal(ColumnType::decimal128(38, 2));
  for (int i = 0; i < kRows; ++i) {
    const bool null = i % 7 == 3;
    const std::string text = value(i);
    binary.push_checked(null ? Cell::null() : Cell::binary(text));
    int64.push_checked(null ? Cell::null() : Cell::int64(-i));
    decimal.push_checked(null ? Cell::null() : Cell::decimal128(i128{i} << 70));
  }
  ASSERT_GT(binary.bytes().size(), size_t{2} << 20);
  ASSERT_GT(decimal.decimal128_values().size_bytes(), size_t{4} << 20);
  const ColumnData moved_binary = std::move(binary);
  const ColumnData moved_int64 = std::move(int64);
  const ColumnData moved_decimal = std::move(decimal);
  for (int i = 0; i < kRows; ++i) {
    const bool null = i % 7 == 3;
    const std::string text = value(i);
    ASSERT_EQ(moved_binary.get(i), null ? Cell::null() : Cell::binary(text)) << i;
    ASSERT_EQ(moved_int64.get(i), null ? Cell::null() : Cell::int64(-i)) << i;
    ASSERT_EQ(moved_decimal.get(i), null ? Cell::null() : Cell::decimal128(i128{i} << 70)) << i;
  }
  for (const ColumnData* c : {&moved_binary, &moved_int64, &moved_decimal}) {
    EXPECT_TRUE(padded_zero(c->validity().data(), c->validity().size_bytes()));
    EXPECT_TRUE(padded_zero(c->bytes().data(), c->bytes().size()));
    EXPECT_EQ(c->null_count(), static_cast<size_t>((kRows - 4) / 7 + 1));
  }
  EXPECT_TRUE(padded_zero(moved_binary.offsets().data(), moved_binary.offsets().size_bytes()));
}

}  // namespace
}  // namespace zarvi_core::column

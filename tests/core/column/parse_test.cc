#include "zarvi_core/column/parse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <random>
#include <string>

#include "zarvi_core/column/column.h"
#include "zarvi_core/text.h"

namespace zarvi_core::column::parse {
namespace {

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

// Every byte but a digit, at any place of an eight-byte date, refuses it.
TEST(CivilDate, RefusesEveryOtherByte) {
  for (size_t at = 0; at < 8; ++at) {
    for (int b = 0; b < 256; ++b) {
      std::string text = "20230615";
      text[at] = static_cast<char>(b);
      const bool digit = b >= '0' && b <= '9';
      if (!digit) {
        EXPECT_EQ(civil_date(text), std::nullopt) << at << ' ' << b;
      } else if (at == 7) {
        EXPECT_EQ(civil_date(text), (CivilDate{2023, 6, static_cast<uint8_t>(10 + b - '0')}));
      }
    }
  }
}

// The word-at-a-time form of an eight-byte date reads what the byte-at-a-
// time one does: month and day near their bounds, any year, stray bytes.
TEST(CivilDate, WordAgreesWithBytes) {
  std::mt19937 rng(8);
  for (int i = 0; i < 200000; ++i) {
    char text[9];
    std::snprintf(text, sizeof text, "%04u%02u%02u", static_cast<unsigned>(rng() % 10000),
                  static_cast<unsigned>(rng() % 14), static_cast<unsigned>(rng() % 33));
    if (rng() % 8 == 0) text[rng() % 8] = static_cast<char>(rng());
    const std::string_view date(text, 8);
    ASSERT_EQ(civil_date(date), detail::civil_date_bytes(date)) << date;
  }
}

// The value civil_date and days_from_civil give, which parse_date32 must match.
std::optional<int32_t> date32_of(std::string_view text) {
  const std::optional<CivilDate> date = civil_date(text);
  if (!date) return std::nullopt;
  return days_from_civil(*date);
}

std::optional<int32_t> parse_date32_of(std::string_view text) {
  int32_t out = -1;
  if (!parse_date32(text, out)) {
    EXPECT_EQ(out, -1) << "a refused text changed the output: " << text;
    return std::nullopt;
  }
  return out;
}

// Every eight-digit text of any year with months and days around their
// ranges (and the largest), every six-digit one, and bytes that are no digits.
TEST(ParseDate32, MatchesCivilDate) {
  const unsigned months[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 20, 99};
  std::string text = "00000000";
  auto two = [&](size_t at, unsigned v) {
    text[at] = static_cast<char>('0' + v / 10);
    text[at + 1] = static_cast<char>('0' + v % 10);
  };
  for (unsigned year = 0; year <= 9999; ++year) {
    two(0, year / 100);
    two(2, year % 100);
    for (unsigned month : months) {
      two(4, month);
      for (unsigned day = 0; day <= 33; ++day) {
        two(6, day == 33 ? 99 : day);
        ASSERT_EQ(parse_date32_of(text), date32_of(text)) << text;
      }
    }
  }
  text = "000000";
  for (unsigned v = 0; v <= 999999; ++v) {
    for (size_t i = 0, rest = v; i < 6; ++i, rest /= 10) text[5 - i] = static_cast<char>('0' + rest % 10);
    ASSERT_EQ(parse_date32_of(text), date32_of(text)) << text;
  }
  for (const std::string base : {"20240229", "240229"}) {
    for (size_t at = 0; at < base.size(); ++at) {
      for (int b = 0; b < 256; ++b) {
        text = base;
        text[at] = static_cast<char>(b);
        ASSERT_EQ(parse_date32_of(text), date32_of(text)) << at << ' ' << b;
      }
    }
  }
  for (const char* other : {"", "2024022", "202402290", "2024-2-9"})
    EXPECT_EQ(parse_date32_of(other), std::nullopt) << other;
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
    // So does the digit count, which is the text's digits when accepted.
    size_t digits = 99;
    EXPECT_EQ(parse_r_to(c.text, c.scale, out, &digits), c.expected.has_value());
    const auto written =
        std::count_if(c.text.begin(), c.text.end(), [](char ch) { return ch != '-' && ch != '.'; });
    EXPECT_EQ(digits, c.expected ? static_cast<size_t>(written) : 99u);
  }
}

// The word-at-a-time check accepts exactly what parse_r_to does, around
// the eight bytes it reads at once and the 38 places below the bound.
TEST(RDigits, AgreeWithParseR) {
  std::mt19937 rng(5);
  for (int i = 0; i < 200000; ++i) {
    std::string s(rng() % 12, '\0');
    for (char& ch : s) ch = "0123456789.-/:"[rng() % (rng() % 4 == 0 ? 14 : 10)];
    const auto scale = static_cast<uint8_t>(rng() % 45);
    i128 out;
    size_t digits = 0;
    const bool accepted = parse_r_to(s, scale, out, &digits);
    ASSERT_EQ(r_digits(s, scale), accepted ? std::optional<size_t>(digits) : std::nullopt)
        << s << " at scale " << int{scale};
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
    const std::string text = render_amount(value, scale);
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
      ASSERT_EQ(parse_r(render_amount(*v, scale), scale), v) << s;
    }
    (void)parse_tm(s), (void)parse_int64(s);
    ASSERT_EQ(parse_date32_of(s), date32_of(s)) << s;
    ASSERT_FALSE(ColumnData(ColumnType::int64()).check(Cell::binary(s)).ok());
  }
}

}  // namespace
}  // namespace zarvi_core::column::parse

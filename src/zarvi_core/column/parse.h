// Parsers of X12 element text into column values: dates (DT), times (TM),
// decimals (R) and integers, and the day-number conversions of date32.
// Pure functions over bytes, without trimming; a refused text is absent.
// cell_from_text returns cells that borrow the text (binary columns).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "zarvi_core/column.h"
#include "zarvi_core/int128.h"

namespace zarvi_core::column {

struct CivilDate {
  int32_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

// CCYYMMDD, or YYMMDD with years below 50 in 2000-2049 and the rest in
// 1950-1999. Year 0, invalid months and days, other lengths are refused.
std::optional<CivilDate> civil_date(std::string_view text);

// An R value times 10^scale: optional "-", digits with at most one ".", at
// least one digit, at most `scale` fraction digits (no rounding), magnitude
// at most 10^38 - 1.
std::optional<i128> parse_r(std::string_view text, uint8_t scale);

// HHMM, HHMMSS, HHMMSSD or HHMMSSDD as seconds since midnight; decimal
// seconds are dropped.
std::optional<uint32_t> parse_tm(std::string_view text);

// Optional "-" and one or more digits that fit a signed 64-bit integer.
std::optional<int64_t> parse_int64(std::string_view text);

// Days from 1970-01-01 of a proleptic Gregorian date; the year must keep the
// result within 32 bits (every year civil_date gives does).
int32_t days_from_civil(const CivilDate& date);
// The date of a day number; needs d <= kMaxCivilDay so that the arithmetic
// stays within 32 bits.
inline constexpr int32_t kMaxCivilDay = 2146764179;
CivilDate civil_from_days(int32_t d);

// Stores in `out` the cell a column of this type keeps for element text;
// false (out unchanged) when the text does not fit the type. Scales are not
// applied to int64 columns. Inline and in place: the projector converts every
// typed value it checks.
inline bool parse_cell(ColumnType type, std::string_view text, Cell& out) {
  switch (type.kind) {
    case ColumnType::Kind::Binary:
      out = Cell::binary(text);
      return true;
    case ColumnType::Kind::Int64:
      if (const auto v = parse_int64(text)) return out = Cell::int64(*v), true;
      return false;
    case ColumnType::Kind::Decimal128:
      if (const auto v = parse_r(text, type.scale)) return out = Cell::decimal128(*v), true;
      return false;
    case ColumnType::Kind::Date32:
      if (const auto date = civil_date(text)) return out = Cell::date32(days_from_civil(*date)), true;
      return false;
    case ColumnType::Kind::Time32:
      if (const auto t = parse_tm(text)) return out = Cell::time32(static_cast<int32_t>(*t)), true;
      return false;
  }
  return false;
}

// The cell a column of this type stores for element text, or none when the
// text does not fit the type. Binary cells borrow the text.
inline std::optional<Cell> cell_from_text(ColumnType type, std::string_view text) {
  Cell cell;
  if (!parse_cell(type, text, cell)) return std::nullopt;
  return cell;
}

}  // namespace zarvi_core::column

// Parsers of X12 element text into column values: dates (DT), times (TM),
// decimals (R) and integers, and the day-number conversions of date32.
// Pure functions over bytes, without trimming; a refused text is absent.
// cell_from_text returns cells that borrow the text (binary columns).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "zarvi_core/column/column.h"
#include "zarvi_core/int128.h"

namespace zarvi_core::column::parse {

struct CivilDate {
  int32_t year = 0;
  uint8_t month = 0;
  uint8_t day = 0;
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

namespace detail {
// The days of a month (1-12) of a year.
uint8_t month_length(int32_t year, int month);
// civil_date read a byte at a time, for any text and byte order.
std::optional<CivilDate> civil_date_bytes(std::string_view text);
// Eight bytes (little-endian order) read as one word: byte 2i of `pairs` is
// the two-digit number at 2i (century, year, month, day). False when a byte
// is not a digit: its high half is not 3, or its low half plus 6 reaches 16
// (no carry crosses a byte).
inline bool digit_pairs(std::string_view text, uint64_t& pairs) {
  uint64_t x;
  std::memcpy(&x, text.data(), sizeof x);
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0;
  constexpr uint64_t kLow = 0x0F0F0F0F0F0F0F0F;
  if ((x & kHigh) != 0x3030303030303030 || (((x & kLow) + 0x0606060606060606) & kHigh) != 0)
    return false;
  // Each byte times ten plus the next stays below 100.
  const uint64_t v = x & kLow;
  pairs = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
  return true;
}
}  // namespace detail

// CCYYMMDD, or YYMMDD with years below 50 in 2000-2049 and the rest in
// 1950-1999. Year 0, invalid months and days, other lengths are refused.
// Inline for the common eight-byte form, checked and split into its fields
// as one word: every DT value is checked, and its column converts it.
inline std::optional<CivilDate> civil_date(std::string_view text) {
  if constexpr (std::endian::native == std::endian::little) {
    if (text.size() == 8) {
      uint64_t pairs;
      if (!detail::digit_pairs(text, pairs)) return std::nullopt;
      const auto year = static_cast<int32_t>((pairs & 0xFF) * 100 + (pairs >> 16 & 0xFF));
      const auto month = static_cast<int>(pairs >> 32 & 0xFF);
      const auto day = static_cast<int>(pairs >> 48);
      if (year == 0 || month < 1 || month > 12 || day < 1) return std::nullopt;
      if (day > 28 && day > detail::month_length(year, month)) return std::nullopt;
      return CivilDate{year, static_cast<uint8_t>(month), static_cast<uint8_t>(day)};
    }
  }
  return detail::civil_date_bytes(text);
}

namespace detail {
// parse_r_to for a checked body (digits, then `fraction` digits after a
// point) that shifts in more than 19 places: exact in 128 bits, with the
// bound test.
bool parse_r_wide(std::string_view body, size_t fraction, uint8_t scale, bool negative,
                  i128& out);
}  // namespace detail

// An R value times 10^scale: optional "-", digits with at most one ".", at
// least one digit, at most `scale` fraction digits (no rounding), magnitude
// at most 10^38 - 1. Stored in `out`; false (out unchanged) when refused.
// When `digits` is given, an accepted text's digit count goes there too.
// Inline for the common short amount, which then stays in registers (an
// optional of 128 bits goes through memory and stalls its reader): every
// amount is read by the projector and the balancing sums. A caller that
// only checks the text leaves `out` unread, and the value is not built.
inline bool parse_r_to(std::string_view text, uint8_t scale, i128& out,
                       size_t* digits = nullptr) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  // One pass checks the form (digits, at most one point, digits) and
  // accumulates in 64 bits, which is exact while at most 19 places shift in
  // (digits, then missing fraction digits).
  const char* p = text.data();
  const char* const end = p + text.size();
  uint64_t low = 0;
  auto digit_run = [&] {
    const char* const start = p;
    for (; p != end; ++p) {
      const unsigned d = static_cast<unsigned>(static_cast<unsigned char>(*p)) - '0';
      if (d >= 10) break;
      low = low * 10 + d;
    }
    return static_cast<size_t>(p - start);
  };
  const size_t whole = digit_run();
  size_t fraction = 0;
  if (p != end && *p == '.') {
    ++p;
    fraction = digit_run();
  }
  if (p != end) return false;
  const size_t count = whole + fraction;
  if (count == 0 || fraction > scale) return false;
  if (count + (scale - fraction) > 19) {
    if (!detail::parse_r_wide(text, fraction, scale, negative, out)) return false;
  } else {
    for (size_t i = fraction; i < scale; ++i) low *= 10;
    // The sign goes on the two words in registers: negating `out` in place
    // would take two narrow stores, on which a wide read of it then stalls.
    const uint64_t high = negative && low != 0 ? ~uint64_t{0} : 0;
    if (negative) low = uint64_t{0} - low;
    out = static_cast<i128>(static_cast<u128>(high) << 64 | low);
  }
  if (digits != nullptr) *digits = count;
  return true;
}

namespace detail {
// The 1 to 8 bytes of `text` as one little-endian word, the bytes past them
// '0'; read in overlapping pieces, nothing outside the text.
inline uint64_t digit_word(std::string_view text) {
  const char* const p = text.data();
  const size_t n = text.size();
  auto load = [](const char* at, auto word) {
    std::memcpy(&word, at, sizeof word);
    return uint64_t{word};
  };
  uint64_t word;
  if (n >= 4)
    word = load(p, uint32_t{}) | load(p + n - 4, uint32_t{}) << (8 * (n - 4));
  else if (n >= 2)
    word = load(p, uint16_t{}) | load(p + n - 2, uint16_t{}) << (8 * (n - 2));
  else
    word = static_cast<unsigned char>(p[0]);
  return n == 8 ? word : word | 0x3030303030303030 << (8 * n);
}
}  // namespace detail

// The digit count of a text that parse_r_to accepts at `scale` (its length
// as an R value); none when refused. Nothing is built: a text of up to
// eight bytes after its sign is checked as one word.
inline std::optional<size_t> r_digits(std::string_view text, uint8_t scale) {
  if constexpr (std::endian::native == std::endian::little) {
    const std::string_view body = text.substr(!text.empty() && text.front() == '-');
    const size_t n = body.size();
    if (n - 1 < 8) {
      // Digits become 0-9; a byte is flagged when it is not below 10.
      const uint64_t a = detail::digit_word(body) ^ 0x3030303030303030;
      const uint64_t other =
          (((a & 0x7F7F7F7F7F7F7F7F) + 0x7676767676767676) | a) & 0x8080808080808080;
      size_t fraction = 0;
      if (other != 0) {
        const size_t at = static_cast<size_t>(std::countr_zero(other)) / 8;
        if ((other & (other - 1)) != 0 || body[at] != '.') return std::nullopt;
        fraction = n - at - 1;
      }
      const size_t digits = n - (other != 0);
      if (digits == 0 || fraction > scale) return std::nullopt;
      // Up to 38 places, every value is below the bound.
      if (digits + (scale - fraction) <= 38) return digits;
    }
  }
  i128 unread;
  size_t digits;
  if (!parse_r_to(text, scale, unread, &digits)) return std::nullopt;
  return digits;
}

// parse_r_to as an optional value.
inline std::optional<i128> parse_r(std::string_view text, uint8_t scale) {
  i128 value;
  if (!parse_r_to(text, scale, value)) return std::nullopt;
  return value;
}

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

// A date32 value (days from 1970-01-01) of a civil_date text, as
// days_from_civil(*civil_date(text)); false (out unchanged) when civil_date
// refuses the text. The common CCYYMMDD form is read and checked eight
// bytes at once and converted without a call: every date the projector
// checks or keeps comes here.
bool parse_date32_other(std::string_view text, int32_t& out);
inline bool parse_date32(std::string_view text, int32_t& out) {
  if (std::endian::native != std::endian::little || text.size() != 8)
    return parse_date32_other(text, out);
  uint64_t x;
  if (!detail::digit_pairs(text, x)) return false;
  const uint32_t cc = static_cast<uint32_t>(x & 0xFF);
  const uint32_t yy = static_cast<uint32_t>((x >> 16) & 0xFF);
  const uint32_t year = cc * 100 + yy;
  const uint32_t month = static_cast<uint32_t>((x >> 32) & 0xFF);
  const uint32_t day = static_cast<uint32_t>(x >> 48);
  if (year == 0 || month - 1 >= 12 || day == 0) return false;
  // 28 + the extra days of each month, two bits per month from January; a
  // 29th of February then asks whether the year leaps.
  constexpr uint32_t kExtra = 0b11'10'11'10'11'11'10'11'10'11'00'11;
  if (day > 28 + ((kExtra >> (2 * (month - 1))) & 3)) {
    const bool leap = yy != 0 ? yy % 4 == 0 : cc % 4 == 0;
    if (month != 2 || day != 29 || !leap) return false;
  }
  // Years counted from March, so that a leap day ends its year: every year
  // here is at least 0, and plain division floors.
  const uint32_t y = year - (month <= 2);
  // Days before each month's first from March 1.
  static constexpr uint16_t kBefore[12] = {306, 337, 0, 31, 61, 92, 122, 153, 184, 214, 245, 275};
  const uint32_t centuries = y / 100;
  const uint32_t days = y * 365 + y / 4 - centuries + centuries / 4 + kBefore[month - 1] + day - 1;
  out = static_cast<int32_t>(days) - 719468;
  return true;
}

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
    case ColumnType::Kind::Decimal128: {
      i128 v;
      if (parse_r_to(text, type.scale, v)) return out = Cell::decimal128(v), true;
      return false;
    }
    case ColumnType::Kind::Date32: {
      int32_t days;
      if (parse_date32(text, days)) return out = Cell::date32(days), true;
      return false;
    }
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

}  // namespace zarvi_core::column::parse

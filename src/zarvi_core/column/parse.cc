#include "zarvi_core/column/parse.h"

#include <cstring>
#include <limits>

namespace zarvi_core::column::parse {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view text) {
  for (char c : text)
    if (!is_digit(c)) return false;
  return true;
}

// The value of a run of at most 9 digits already checked to be digits.
int32_t digits_value(std::string_view digits) {
  int32_t v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return v;
}

// Floor division, which the date arithmetic needs for days before 0000-03-01.
constexpr int32_t floor_div(int32_t a, int32_t b) {
  return a >= 0 ? a / b : (a - (b - 1)) / b;
}

// 10^38 - 1, the largest magnitude of a decimal128 of precision 38.
constexpr u128 kMaxDecimal = [] {
  u128 v = 1;
  for (int i = 0; i < 38; ++i) v *= 10;
  return v - 1;
}();

bool is_leap(int32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

namespace detail {

uint8_t month_length(int32_t year, int month) {
  switch (month) {
    case 2: return is_leap(year) ? 29 : 28;
    case 4: case 6: case 9: case 11: return 30;
    default: return 31;
  }
}

std::optional<CivilDate> civil_date_bytes(std::string_view text) {
  int32_t year;
  if (text.size() == 8 && all_digits(text)) {
    year = digits_value(text.substr(0, 4));
    text.remove_prefix(4);
  } else if (text.size() != 6 || !all_digits(text)) {
    return std::nullopt;
  } else {
    // Two-digit years pivot at 50.
    const int32_t yy = digits_value(text.substr(0, 2));
    year = yy < 50 ? 2000 + yy : 1900 + yy;
    text.remove_prefix(2);
  }
  const int month = digits_value(text.substr(0, 2));
  const int day = digits_value(text.substr(2, 2));
  if (year == 0 || month < 1 || month > 12 || day < 1 || day > month_length(year, month))
    return std::nullopt;
  return CivilDate{year, static_cast<uint8_t>(month), static_cast<uint8_t>(day)};
}

}  // namespace detail

bool parse_date32_other(std::string_view text, int32_t& out) {
  const std::optional<CivilDate> date = civil_date(text);
  if (!date) return false;
  out = days_from_civil(*date);
  return true;
}

namespace detail {

bool parse_r_wide(std::string_view body, size_t fraction, uint8_t scale, bool negative,
                  i128& out) {
  // Up to 38 places stay below 10^38; only longer runs (leading zeros
  // included) need the bound test.
  u128 value = 0;
  size_t shifts = 0;
  auto shift_in = [&](unsigned d) {
    if (++shifts > 38 && value > (kMaxDecimal - d) / 10) return false;
    value = value * 10 + d;
    return true;
  };
  for (char c : body)
    if (c != '.' && !shift_in(static_cast<unsigned>(c - '0'))) return false;
  for (size_t i = fraction; i < scale; ++i)
    if (!shift_in(0)) return false;
  const i128 magnitude = static_cast<i128>(value);
  out = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace detail

std::optional<uint32_t> parse_tm(std::string_view text) {
  const size_t n = text.size();
  if ((n != 4 && n != 6 && n != 7 && n != 8) || !all_digits(text)) return std::nullopt;
  const uint32_t hh = static_cast<uint32_t>(digits_value(text.substr(0, 2)));
  const uint32_t mm = static_cast<uint32_t>(digits_value(text.substr(2, 2)));
  const uint32_t ss = n >= 6 ? static_cast<uint32_t>(digits_value(text.substr(4, 2))) : 0;
  if (hh > 23 || mm > 59 || ss > 59) return std::nullopt;
  return hh * 3600 + mm * 60 + ss;
}

std::optional<int64_t> parse_int64(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || !all_digits(text)) return std::nullopt;
  // Accumulate the magnitude unsigned so that the most negative value fits.
  const uint64_t limit =
      negative ? uint64_t{1} << 63 : uint64_t(std::numeric_limits<int64_t>::max());
  uint64_t value = 0;
  for (char c : text) {
    const auto d = static_cast<uint64_t>(c - '0');
    if (value > (limit - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  return negative ? static_cast<int64_t>(uint64_t{0} - value) : static_cast<int64_t>(value);
}

int32_t days_from_civil(const CivilDate& date) {
  const int32_t y = date.year - (date.month <= 2 ? 1 : 0);
  const int32_t era = floor_div(y, 400);
  const int32_t yoe = y - era * 400;                                    // [0, 399]
  const int32_t mp = (date.month + 9) % 12;                             // March = 0
  const int32_t doy = (153 * mp + 2) / 5 + date.day - 1;                // [0, 365]
  const int32_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;            // [0, 146096]
  return era * 146097 + doe - 719468;
}

CivilDate civil_from_days(int32_t d) {
  const int32_t z = d + 719468;
  const int32_t era = floor_div(z, 146097);
  const int32_t doe = z - era * 146097;                                 // [0, 146096]
  const int32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const int32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);          // [0, 365]
  const int32_t mp = (5 * doy + 2) / 153;                               // [0, 11]
  const int32_t day = doy - (153 * mp + 2) / 5 + 1;                     // [1, 31]
  const int32_t month = mp < 10 ? mp + 3 : mp - 9;                      // [1, 12]
  const int32_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return CivilDate{year, static_cast<uint8_t>(month), static_cast<uint8_t>(day)};
}

}  // namespace zarvi_core::column::parse

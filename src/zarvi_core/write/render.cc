#include "zarvi_core/write/render.h"

#include <cstdio>

#include "zarvi_core/column/parse.h"

namespace zarvi_core::write::render {
namespace {

constexpr std::string_view kYearRange = "a date needs a year from 1 to 9999";

// The date of a day count whose year lies in 1 to 9999; none otherwise.
std::optional<column::CivilDate> calendar_date(int32_t days) {
  // Past this count the conversion would overflow; every such day lies far
  // beyond year 9999 anyway.
  if (days > column::kMaxCivilDay) return std::nullopt;
  const column::CivilDate date = column::civil_from_days(days);
  if (date.year < 1 || date.year > 9999) return std::nullopt;
  return date;
}

std::string digits(const column::CivilDate& date, bool century) {
  char buf[32];
  if (century) {
    std::snprintf(buf, sizeof buf, "%04d%02u%02u", date.year, unsigned{date.month},
                  unsigned{date.day});
  } else {
    std::snprintf(buf, sizeof buf, "%02d%02u%02u", date.year % 100, unsigned{date.month},
                  unsigned{date.day});
  }
  return buf;
}

bool short_element(std::optional<uint64_t> max, uint64_t width) { return max && *max < width; }

}  // namespace

Rendered envelope_date(int32_t days, std::optional<uint64_t> max) {
  const auto date = calendar_date(days);
  if (!date) return err(std::string(kYearRange));
  return digits(*date, !short_element(max, 8));
}

Rendered date_text(int32_t days, std::optional<uint64_t> max) {
  const auto date = calendar_date(days);
  if (!date) return err(std::string(kYearRange));
  if (!short_element(max, 8)) return digits(*date, true);
  // A reader maps two-digit years into 1950-2049; any other year would read
  // back as a different date.
  if (date->year < 1950 || date->year > 2049) {
    return err("the element holds a two-digit year, read as 1950 to 2049; the year is " +
               std::to_string(date->year));
  }
  return digits(*date, false);
}

Rendered time_text(int64_t seconds, std::optional<uint64_t> max) {
  if (seconds < 0 || seconds >= 86400) return err(std::string("a time must fall within one day"));
  const auto s = static_cast<unsigned>(seconds);
  char buf[16];
  if (s % 60 == 0) {
    std::snprintf(buf, sizeof buf, "%02u%02u", s / 3600, s / 60 % 60);
    return std::string(buf);
  }
  if (short_element(max, 6)) return err(std::string("the element holds hours and minutes only"));
  std::snprintf(buf, sizeof buf, "%02u%02u%02u", s / 3600, s / 60 % 60, s % 60);
  return std::string(buf);
}

}  // namespace zarvi_core::write::render

#include "zarvi_core/write/render.h"

#include <gtest/gtest.h>

#include "zarvi_core/column/parse.h"

namespace zarvi_core::write::render {
namespace {

using column::parse::CivilDate;
using column::parse::days_from_civil;

constexpr const char* kYear = "a date needs a year from 1 to 9999";
constexpr const char* kDay = "a time must fall within one day";

// The text, or "!" and the failure.
std::string shown(const Rendered& r) { return r.ok() ? r.value() : "!" + r.error(); }
std::string fails(const char* why) { return std::string("!") + why; }

const int32_t k2051 = days_from_civil(CivilDate{2051, 3, 1});
const int32_t k1949 = days_from_civil(CivilDate{1949, 12, 31});
const int32_t k1950 = days_from_civil(CivilDate{1950, 1, 1});
const int32_t kYear1 = days_from_civil(CivilDate{1, 1, 1});
const int32_t kYear10000 = days_from_civil(CivilDate{10000, 1, 1});

struct DateCase {
  const char* name;
  int32_t days;
  std::optional<uint64_t> max;
  std::string cell;      // date_text
  std::string envelope;  // envelope_date
};

TEST(DateText, CellsAndEnvelope) {
  const DateCase cases[] = {
      {"epoch", 0, 8, "19700101", "19700101"},
      {"no maximum", 0, std::nullopt, "19700101", "19700101"},
      {"before the epoch", -1, 8, "19691231", "19691231"},
      {"2051 full", k2051, 8, "20510301", "20510301"},
      // The envelope drops the century without a window; a cell must read back.
      {"2051 two digits", k2051, 6,
       fails("the element holds a two-digit year, read as 1950 to 2049; the year is 2051"),
       "510301"},
      {"window start", k1950, 6, "500101", "500101"},
      {"before the window", k1949, 6,
       fails("the element holds a two-digit year, read as 1950 to 2049; the year is 1949"),
       "491231"},
      {"year 1", kYear1, 8, "00010101", "00010101"},
      // The calendar check comes before the window.
      {"year 10000, short element", kYear10000, 6, fails(kYear), fails(kYear)},
      {"year 0", kYear1 - 1, 8, fails(kYear), fails(kYear)},
      {"last day of 9999", kYear10000 - 1, 8, "99991231", "99991231"},
      {"past the conversion range", column::parse::kMaxCivilDay + 1, 6, fails(kYear), fails(kYear)},
      {"largest count", INT32_MAX, 8, fails(kYear), fails(kYear)},
      {"smallest count", INT32_MIN, 6, fails(kYear), fails(kYear)},
  };
  for (const DateCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(shown(date_text(c.days, c.max)), c.cell);
    EXPECT_EQ(shown(envelope_date(c.days, c.max)), c.envelope);
  }
}

TEST(TimeText, WidthsAndRange) {
  const struct {
    const char* name;
    int64_t seconds;
    std::optional<uint64_t> max;
    std::string expected;
  } cases[] = {
      {"midnight", 0, 4, "0000"},
      {"whole minutes", 13 * 3600 + 45 * 60, 8, "1345"},
      {"seconds", 13 * 3600 + 45 * 60 + 30, 8, "134530"},
      {"seconds, no maximum", 13 * 3600 + 45 * 60 + 30, std::nullopt, "134530"},
      {"seconds, six wide", 13 * 3600 + 45 * 60 + 30, 6, "134530"},
      {"seconds, hours and minutes only", 13 * 3600 + 45 * 60 + 30, 4,
       fails("the element holds hours and minutes only")},
      {"last second", 86399, 6, "235959"},
      {"a full day", 86400, 8, fails(kDay)},
      {"negative", -1, 8, fails(kDay)},
      {"negative whole minutes", -60, 4, fails(kDay)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(shown(time_text(c.seconds, c.max)), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::write::render

#include "zarvi_core/write/trace.h"

#include <gtest/gtest.h>

namespace zarvi_core::write::trace {
namespace {

using envelope::Field;
using finding::Origin;

std::string_view names(size_t table, std::optional<size_t> column) {
  static const std::string tables[] = {"claims", "services"};
  static const std::string columns[] = {"id", "amount", "status"};
  if (!column) return table < 2 ? std::string_view(tables[table]) : "";
  return *column < 3 ? std::string_view(columns[*column]) : "";
}

// Segments: 0 envelope (ISA05 sender_qualifier, ISA13 control number),
// 1 a claim row (CLP01 id, CLP02 amount, composite CLP05-2 status),
// 2 a repeated segment of two service rows, 3 a closing segment,
// 4 a row segment with no traced value.
Traces sample() {
  Traces t;
  t.field(5, std::nullopt, Field::SenderQualifier);
  t.field(13, std::nullopt, Field::ControlNumber);
  t.segment(std::nullopt);
  t.cell(1, std::nullopt, 0, 4, 0);
  t.cell(2, std::nullopt, 0, 4, 1);
  t.cell(5, 2, 0, 4, 2);
  t.segment(RowOrigin{0, 4});
  t.cell(2, std::nullopt, 1, 7, 1);
  t.cell(5, std::nullopt, 1, 9, 1);
  t.segment(RowOrigin{1, 7});
  t.field(2, std::nullopt, Field::ControlNumber);
  t.segment(std::nullopt);
  t.segment(RowOrigin{1, 12});
  return t;
}

TEST(TraceOrigin, Lookups) {
  const Traces t = sample();
  ASSERT_EQ(t.segments(), 5u);
  ASSERT_EQ(t.values(), 8u);
  const std::optional<uint64_t> none;
  const struct {
    const char* name;
    uint64_t segment;
    std::optional<uint64_t> element;
    std::optional<uint64_t> component;
    std::optional<Origin> expected;
  } cases[] = {
      {"envelope field", 0, 5, none, Origin::envelope("sender_qualifier")},
      {"control number", 0, 13, none, Origin::envelope("control_number")},
      {"envelope constant has no origin", 0, 1, none, std::nullopt},
      {"envelope segment without element", 0, none, none, std::nullopt},
      {"cell", 1, 2, none, Origin::cell("claims", 4, "amount")},
      {"cell with any component", 1, 1, 3, Origin::cell("claims", 4, "id")},
      {"component matches", 1, 5, 2, Origin::cell("claims", 4, "status")},
      {"component differs: the row", 1, 5, 1, Origin::row("claims", 4)},
      {"no component asked: any", 1, 5, none, Origin::cell("claims", 4, "status")},
      {"constant element: the row", 1, 3, none, Origin::row("claims", 4)},
      {"segment only: the row", 1, none, none, Origin::row("claims", 4)},
      {"repeated group row", 2, 5, none, Origin::cell("services", 9, "amount")},
      {"repeated first group", 2, 2, none, Origin::cell("services", 7, "amount")},
      {"closing segment", 3, 2, none, Origin::envelope("control_number")},
      {"closing segment count", 3, 1, none, std::nullopt},
      {"row without values", 4, 1, none, Origin::row("services", 12)},
      {"past the segments", 5, 1, none, std::nullopt},
      {"far past", UINT64_MAX, none, none, std::nullopt},
      {"huge element", 1, UINT64_MAX, none, Origin::row("claims", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(t.origin(c.segment, c.element, c.component, names), c.expected);
  }
}

// Values traced out of element order, as a repeated segment's groups are:
// the earliest that fits is the origin.
TEST(TraceOrigin, EarliestValueThatFits) {
  Traces t;
  t.cell(5, 2, 0, 1, 0);
  t.cell(3, std::nullopt, 0, 1, 1);
  t.cell(5, std::nullopt, 0, 2, 2);
  t.cell(5, 2, 0, 3, 1);
  t.cell(5, 3, 0, 4, 0);
  t.segment(RowOrigin{0, 1});
  t.cell(5, std::nullopt, 1, 9, 0);
  t.segment(RowOrigin{1, 9});
  const std::optional<uint64_t> none;
  const struct {
    const char* name;
    uint64_t segment;
    uint64_t element;
    std::optional<uint64_t> component;
    Origin expected;
  } cases[] = {
      {"no component asked: the first at the element", 0, 5, none, Origin::cell("claims", 1, "id")},
      {"a component: the first of it", 0, 5, 2, Origin::cell("claims", 1, "id")},
      {"a component: before its own, one without", 0, 5, 3, Origin::cell("claims", 2, "status")},
      {"a component none has: one without", 0, 5, 1, Origin::cell("claims", 2, "status")},
      {"another element", 0, 3, 7, Origin::cell("claims", 1, "amount")},
      {"the next segment's own", 1, 5, 2, Origin::cell("services", 9, "id")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(t.origin(c.segment, c.element, c.component, names), c.expected);
  }
}

TEST(TraceOrigin, ColumnOutOfRangeGivesAnEmptyName) {
  Traces t;
  t.cell(1, std::nullopt, 0, 0, 70000);
  t.segment(RowOrigin{0, 0});
  EXPECT_EQ(t.origin(0, 1, std::nullopt, names), Origin::cell("claims", 0, ""));
  t.clear();
  EXPECT_EQ(t.segments(), 0u);
  EXPECT_EQ(t.origin(0, 1, std::nullopt, names), std::nullopt);
}

}  // namespace
}  // namespace zarvi_core::write::trace

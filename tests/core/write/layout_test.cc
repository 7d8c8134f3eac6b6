#include "zarvi_core/write/layout.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "write_spec.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_core::write::layout {
namespace {

using plan::Role;
using plan::SegmentPlan;
using plan::Source;
using plan::WritePlan;
using testing::loop_of;

// Items as text: a segment plan by its occurrence name, a child by "loop ".
std::vector<std::string> show_items(const spec::Spec& spec, const WritePlan& plan,
                                    const Layout& layout, spec::LoopId l) {
  std::vector<std::string> out;
  for (const Item& item : layout.items(l)) {
    if (item.kind == Item::Kind::Loop) {
      out.push_back("loop " + spec.loops[item.index].name);
      continue;
    }
    const std::size_t o = plan.segments(l)[item.index].occurrence;
    const auto& occurrences = spec.loops[l].occurrences;
    out.push_back(o < occurrences.size() ? occurrences[o].name : "?");
  }
  return out;
}

// A parent "p" with segments at 10 (its trigger), 20 and 30, and children
// whose triggers sit at 5 ("a"), 10 ("b"), 20 ("c") and 25 ("d").
spec::SpecPtr positions_spec() {
  auto child = [](const char* segment, int pos) {
    return nlohmann::json{{"parent", "p"},
                          {"trigger", {{"segment", segment}}},
                          {"occurrences", {{"open", {{"segment", segment}, {"pos", pos}}}}}};
  };
  nlohmann::json value = {
      {"name", "positions"},
      {"loops",
       {{"p", {{"trigger", {{"segment", "PA"}}},
               {"occurrences", {{"pa", {{"segment", "PA"}, {"pos", 10}}},
                                {"x", {{"segment", "X"}, {"pos", 20}}},
                                {"y", {{"segment", "Y"}, {"pos", 30}}}}}}},
        {"a", child("A1", 5)}, {"b", child("B1", 10)}, {"c", child("C1", 20)}, {"d", child("D1", 25)}}}};
  auto compiled = spec::Spec::from_value(std::move(value));
  if (!compiled.ok()) ADD_FAILURE() << compiled.error().message();
  return compiled.ok() ? compiled.value() : nullptr;
}

// A hand-made plan giving loop `l` these segment plans and role.
WritePlan plan_with(const spec::Spec& spec, spec::LoopId l, std::vector<SegmentPlan> segments,
                    Role role = Role::Rows, std::optional<std::size_t> table = std::nullopt) {
  std::vector<plan::LoopPlan> loops(spec.loops.size());
  loops[l] = plan::LoopPlan{role, table, std::move(segments)};
  return WritePlan(std::move(loops), {});
}

TEST(Layout, ItemOrder) {
  const spec::SpecPtr spec = positions_spec();
  ASSERT_NE(spec, nullptr);
  const spec::LoopId p = loop_of(*spec, "p");
  // Occurrence 99 does not exist: it goes after every placed item.
  const WritePlan plan = plan_with(*spec, p,
                                   {{Source::Row, 0, 0, {}}, {Source::Row, 0, 99, {}},
                                    {Source::Row, 0, 2, {}}, {Source::Row, 0, 1, {}}});
  const Layout layout(plan, *spec);
  // x and child c share position 20: the segment comes first; a (before
  // the parent's trigger) and b (at it) come last, in children order.
  const std::vector<std::string> expected = {"pa", "x", "loop c", "loop d", "y", "?", "loop a", "loop b"};
  EXPECT_EQ(show_items(*spec, plan, layout, p), expected);
  // A loop with no plans lists its children only.
  EXPECT_EQ(show_items(*spec, plan, layout, loop_of(*spec, "a")), std::vector<std::string>{});
}

TEST(Layout, Opener) {
  const spec::SpecPtr spec = positions_spec();
  ASSERT_NE(spec, nullptr);
  const spec::LoopId p = loop_of(*spec, "p");
  struct Case {
    const char* name;
    std::vector<SegmentPlan> segments;
    std::optional<std::size_t> expected;
  };
  const std::vector<Case> cases = {
      {"the first row plan of the trigger occurrence",
       {{Source::Envelope, 0, 0, {}}, {Source::Repeated, 0, 0, {}}, {Source::Row, 0, 1, {}},
        {Source::Row, 0, 0, {}}, {Source::Row, 0, 0, {}}},
       3},
      {"an envelope plan never opens", {{Source::Envelope, 0, 0, {}}, {Source::Row, 0, 1, {}}}, std::nullopt},
      {"no plans", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const WritePlan plan = plan_with(*spec, p, c.segments);
    const Layout layout(plan, *spec);
    EXPECT_EQ(layout.opener(p), c.expected);
    for (std::size_t i = 0; i < c.segments.size(); ++i) EXPECT_EQ(layout.opens(p, i), c.expected == i);
  }
}

TEST(Layout, ReadColumns) {
  const spec::SpecPtr spec = positions_spec();
  ASSERT_NE(spec, nullptr);
  const spec::LoopId p = loop_of(*spec, "p");
  using plan::ColumnValue;
  using plan::Constant;
  using plan::RepeatedValue;
  const std::vector<SegmentPlan> segments = {
      {Source::Row, 2, 0, {{1, {}, Constant{"A"}}, {2, {}, ColumnValue{3}}, {3, 1, ColumnValue{1}}}},
      {Source::Row, 5, 1, {{1, {}, ColumnValue{7}}}},
      {Source::Repeated, 2, 1, {{1, {}, ColumnValue{8}}, {2, {}, RepeatedValue{9, 0}}}},
      {Source::Row, 2, 2, {{4, {}, ColumnValue{0}}}},
  };
  const std::vector<std::size_t> from_table_2 = {3, 1, 0};
  EXPECT_EQ(Layout(plan_with(*spec, p, segments, Role::ReadAbove, 2), *spec).read_columns(p), from_table_2);
  EXPECT_TRUE(Layout(plan_with(*spec, p, segments, Role::ReadBy, 2), *spec).read_columns(p).empty());
}

// The rest of the built-in layout shows in the expected-file comparison.
TEST(Layout, Builtin5010Groups) {
  const spec::Spec& spec = *spec::shared_builtin_835().value();
  auto planned = WritePlan::make(spec);
  ASSERT_TRUE(planned.ok()) << planned.error().text();
  const Layout layout(planned.value(), spec);
  for (std::size_t t = 0; t < spec.tables.size(); ++t) {
    const std::string& name = spec.tables[t].name;
    const uint64_t expected = name == "adjustments" || name == "provider_adjustments" ? 6 : 1;
    EXPECT_EQ(layout.groups(t), expected) << name;
  }
}

TEST(Layout, Groups) {
  const char* const k17 = R"({"1": {"name": "a", "type": "AN"}, "7": {"name": "b", "type": "AN"}})";
  const struct {
    const char* repeat;
    const char* elements;  // of SB; null: SB has no definition
    uint64_t expected;
  } cases[] = {
      // SB declares elements 1 and 7, or nothing, or is not defined at all.
      {R"({"from": 2, "step": 3})", k17, 2},
      {R"({"from": 7, "step": 3})", k17, 1},
      {R"({"from": 9, "step": 2})", k17, 1},
      {R"({"from": 1, "step": 1})", k17, 7},
      {R"({"from": 4, "step": 2})", "{}", 1},
      {R"({"from": 4, "step": 2})", nullptr, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.repeat) + (c.elements != nullptr ? c.elements : " undefined"));
    const std::string segments =
        c.elements != nullptr ? std::string(R"("segments": {"SB": {"elements": )") + c.elements + "}}, " : "";
    const std::string patch = "{" + segments + R"("tables": {
            "subs": {"loops": ["sub"], "columns": {"s": {"segment": "SB", "element": 1}}},
            "groups": {"loops": ["sub"], "segment": "SB", "repeat": )" + c.repeat +
        R"(, "columns": {"g": {"group_element": 0}}}}})";
    const spec::SpecPtr spec = testing::compile_tiny(patch);
    ASSERT_NE(spec, nullptr);
    auto planned = WritePlan::make(*spec);
    ASSERT_TRUE(planned.ok()) << planned.error().text();
    const Layout layout(planned.value(), *spec);
    const std::size_t groups = static_cast<std::size_t>(spec->table("groups") - spec->tables.data());
    EXPECT_EQ(layout.groups(groups), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::write::layout

#include "zarvi_core/spec/loop_index.h"

#include <set>

#include <gtest/gtest.h>

#include "../small_spec.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_core::spec {
namespace {

bool walk_encloses(const Spec& spec, LoopId outer, LoopId loop) {
  for (std::optional<LoopId> p = spec.loops[loop].parent; p; p = spec.loops[*p].parent)
    if (*p == outer) return true;
  return false;
}

std::optional<uint64_t> walk_opener(const LoopDef& loop) {
  const OccurrenceDef* o = trigger_occurrence(loop.occurrences, loop.trigger);
  return o ? std::optional<uint64_t>(o->pos) : std::nullopt;
}

// Each answer against a walk over the loops and their occurrences.
void expect_walks_agree(const Spec& spec) {
  const LoopIndex index(spec.loops, spec.roots);
  const std::size_t n = spec.loops.size();
  std::set<std::string> names;
  std::set<std::string> segments = {"", "ZZ"};
  for (const LoopDef& loop : spec.loops) {
    segments.insert(loop.trigger.segment);
    for (const OccurrenceDef& o : loop.occurrences) names.insert(o.name), segments.insert(o.segment);
  }
  ASSERT_EQ(index.preorder().size(), n);
  for (LoopId a = 0; a < n; ++a) {
    SCOPED_TRACE(spec.loops[a].name);
    const LoopDef& loop = spec.loops[a];
    EXPECT_EQ(index.preorder()[index.place(a)], a);
    if (loop.parent) {
      EXPECT_LT(index.place(*loop.parent), index.place(a));
    }
    EXPECT_EQ(index.opener_pos(a), walk_opener(loop));
    for (LoopId b = 0; b < n; ++b) {
      EXPECT_EQ(index.encloses(a, b), walk_encloses(spec, a, b)) << spec.loops[b].name;
      if (!index.encloses(b, a) || !walk_opener(loop)) continue;
      bool descends = true;
      for (LoopId at = a; at != b; at = *spec.loops[at].parent) {
        const auto below = walk_opener(spec.loops[at]);
        const auto above = walk_opener(spec.loops[*spec.loops[at].parent]);
        descends = descends && below && above && *above < *below;
      }
      EXPECT_EQ(index.descends(a, b), descends) << spec.loops[b].name;
    }
    for (const std::string& name : names) {
      std::optional<std::size_t> found;
      for (std::size_t i = 0; i < loop.occurrences.size() && !found; ++i)
        if (loop.occurrences[i].name == name) found = i;
      EXPECT_EQ(index.occurrence(a, name), found) << name;
    }
    for (const std::string& segment : segments) {
      std::optional<std::size_t> first;
      for (std::size_t i = 0; i < loop.occurrences.size() && !first; ++i)
        if (loop.occurrences[i].segment == segment) first = i;
      EXPECT_EQ(index.first_of_segment(a, segment), first) << segment;
      const bool held = loop.trigger.segment == segment || loop.end == segment ||
                        std::find(loop.held.begin(), loop.held.end(), segment) != loop.held.end();
      EXPECT_EQ(index.holds(a, segment), held) << segment;
    }
  }
}

TEST(LoopIndex, AgreesWithWalks) {
  expect_walks_agree(*shared_builtin_835().value());
  // Loops that open before their parent, and two roots.
  auto compiled = testing::compile_small(R"({"loops": {
    "low": {"parent": "item", "trigger": {"segment": "LW"}, "occurrences": {
      "low": {"segment": "LW", "pos": 5}, "a": {"segment": "RF", "pos": 9, "qualifier": {"element": 1, "codes": ["A"]}},
      "b": {"segment": "RF", "pos": 8, "qualifier": {"element": 1, "codes": ["B"]}}}},
    "lower": {"parent": "low", "trigger": {"segment": "LR"}, "occurrences": {"lower": {"segment": "LR", "pos": 7}}},
    "alone": {"trigger": {"segment": "AL"}, "end": "AE", "occurrences": {"alone": {"segment": "AL", "pos": 1}}}}})");
  ASSERT_TRUE(compiled.ok()) << compiled.error().message();
  expect_walks_agree(*compiled.value());
}

}  // namespace
}  // namespace zarvi_core::spec

#include "zarvi_core/spec/loops.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zarvi_core::spec {
namespace {

struct Sibling {
  std::string segment;
  std::vector<Condition> where;  // any order
  std::optional<LoopId> parent = std::nullopt;
};

std::vector<LoopDef> make_loops(const std::vector<Sibling>& siblings) {
  std::vector<LoopDef> loops;
  for (const Sibling& s : siblings) {
    LoopDef l;
    l.name = "l" + std::to_string(loops.size());
    l.parent = s.parent;
    l.trigger = {s.segment, s.where};
    std::sort(l.trigger.conditions.begin(), l.trigger.conditions.end());
    loops.push_back(std::move(l));
  }
  return loops;
}

std::string outcome(std::vector<LoopDef> loops) {
  const std::vector<LoopId> roots = link_children(loops);
  auto r = check_ambiguity(loops, roots);
  return r.ok() ? std::string("ok") : r.error().message();
}

const char* const kTail =
    ", no position they both test requires different values, and neither trigger is more "
    "specific than the other";

std::string overlap(const std::string& a, const std::string& where_a, const std::string& b,
                    const std::string& where_b, const std::string& under = "the root") {
  return "loops \"" + a + "\" and \"" + b + "\" under " + under + " can open on the same segment: \"" + a +
         "\" on \"N9\" " + where_a + ", \"" + b + "\" on \"N9\" " + where_b + kTail;
}

TEST(SiblingTriggers, FirstConflictingPair) {
  struct Case {
    const char* name;
    std::vector<Sibling> siblings;
    std::string expected;
  } cases[] = {
      {"one position tells all apart", {{"N9", {{1, "A"}}}, {"N9", {{1, "B"}}}, {"N9", {{1, "C"}}}}, "ok"},
      {"identical among siblings told apart",
       {{"N9", {{1, "A"}}}, {"N9", {{1, "B"}}}, {"N9", {{1, "C"}}}, {"N9", {{1, "B"}}}, {"N9", {{1, "C"}}}},
       R"(loops "l1" and "l3" under the root share the identical trigger "N9" where {1: "B"})"},
      {"each more specific than the last",
       {{"N9", {{1, "A"}, {2, "B"}, {3, "C"}}}, {"N9", {{1, "A"}}}, {"N9", {{1, "A"}, {2, "B"}}}, {"N9", {}}},
       "ok"},
      {"no conditions conflict only with each other",
       {{"N9", {{1, "A"}}}, {"N9", {}}, {"N9", {{1, "A"}, {2, "B"}}}, {"N9", {}}},
       R"(loops "l1" and "l3" under the root share the identical trigger "N9")"},
      {"no shared position",
       {{"N9", {{1, "A"}}}, {"N9", {{1, "B"}}}, {"N9", {{2, "C"}}}},
       overlap("l0", "where {1: \"A\"}", "l2", "where {2: \"C\"}")},
      {"an untested sibling joins each value of a split",
       {{"N9", {{1, "A"}, {2, "X"}}}, {"N9", {{1, "B"}, {2, "Y"}}}, {"N9", {{1, "C"}, {2, "Z"}}}, {"N9", {{2, "Y"}, {3, "Q"}}}},
       overlap("l1", "where {1: \"B\", 2: \"Y\"}", "l3", "where {2: \"Y\", 3: \"Q\"}")},
      {"shared positions with different values",
       {{"N9", {{1, "A"}, {2, "X"}}}, {"N9", {{2, "Y"}, {3, "Q"}}}, {"N9", {{1, "B"}, {3, "R"}}}}, "ok"},
      // The later set of positions holds the earlier loop of the pair.
      {"smallest id of either set",
       {{"N9", {{2, "X"}, {3, "Q"}}}, {"N9", {{1, "A"}, {2, "Y"}}}, {"N9", {{2, "Y"}, {3, "R"}}}, {"N9", {{1, "B"}, {2, "X"}}}},
       overlap("l0", "where {2: \"X\", 3: \"Q\"}", "l3", "where {1: \"B\", 2: \"X\"}")},
      {"identical beats a later overlap",
       {{"N9", {{1, "A"}, {2, "X"}}}, {"N9", {{1, "A"}, {2, "X"}}}, {"N9", {{1, "A"}, {3, "Q"}}}},
       R"(loops "l0" and "l1" under the root share the identical trigger "N9" where {1: "A", 2: "X"})"},
      {"earlier overlap beats a later identical pair",
       {{"N9", {{1, "A"}, {2, "X"}}}, {"N9", {{1, "B"}}}, {"N9", {{1, "B"}}}, {"N9", {{1, "A"}, {3, "Q"}}}},
       overlap("l0", "where {1: \"A\", 2: \"X\"}", "l3", "where {1: \"A\", 3: \"Q\"}")},
      {"segments apart", {{"N1", {{1, "A"}}}, {"N9", {{1, "A"}}}, {"N9", {{2, "A"}, {1, "B"}}}}, "ok"},
      {"earliest pair over all segments",
       {{"N1", {{1, "A"}}}, {"N9", {{1, "B"}}}, {"N1", {{2, "C"}}}, {"N9", {{1, "B"}}}},
       R"(loops "l0" and "l2" under the root can open on the same segment: "l0" on "N1" where {1: "A"}, "l2" on "N1" where {2: "C"})" +
           std::string(kTail)},
      {"siblings only",
       {{"N9", {}}, {"N9", {{1, "A"}}, 0}, {"N9", {{2, "B"}}, 0}, {"N9", {{2, "B"}}}},
       overlap("l1", "where {1: \"A\"}", "l2", "where {2: \"B\"}", "\"l0\"")},
      {"roots before children",
       {{"N9", {}}, {"N9", {{1, "A"}}, 0}, {"N9", {{2, "B"}}, 0}, {"N9", {}}},
       R"(loops "l0" and "l3" under the root share the identical trigger "N9")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(make_loops(c.siblings)), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::spec

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "zarvi_core/delimiters.h"
#include "zarvi_core/frame.h"
#include "zarvi_core/project/plan.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_core::project::plan {
namespace {

// Membership must match the sorted string list exactly, whichever way the
// set stores it (packed short codes, or strings when a code is longer).
TEST(CodeSet, MembershipMatchesTheList) {
  struct Case {
    const char* name;
    std::vector<std::string> codes;
    std::vector<std::string> out;  // not members
  };
  const std::vector<Case> cases = {
      {"short codes", {"1", "19", "22", "ABC", "MA18"},
       {"2", "11", "191", "AB", "ABCD", "MA1", "MA180", "1 ", std::string("1\0", 2), ""}},
      {"seven-byte codes", {"ABCDEF", "ABCDEFG"}, {"ABCDEFGH", "ABCDE", "BCDEFG"}},
      {"four codes, the most kept in the set", {"A", "BB", "CCC", "DDDD"},
       {"", "AB", "DDD", "CCCC", "DDDDD"}},
      {"high bytes", {"\x80", "\xff\xff"}, {"\xff", "\x80\x80"}},
      {"a longer code", {"A", "ABCDEFGH"}, {"ABCDEFG", "ABCDEFGHI", "B"}},
      {"the empty code", {"", "X"}, {"Y"}},
      {"many codes", {}, {"1000", "A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> codes = c.codes;
    // "many": enough codes to need several table doublings.
    for (int i = 0; c.codes.empty() && i < 500; ++i) codes.push_back(std::to_string(i));
    std::sort(codes.begin(), codes.end());
    const CodeSet set(codes, nullptr);
    for (const std::string& code : codes) EXPECT_TRUE(set.contains(code)) << code;
    for (const std::string& code : c.out) EXPECT_FALSE(set.contains(code)) << code;
  }
}

Segment segment_of(std::string_view body) {
  Segment s;
  s.reparse(0, Frame{body, body, true}, Delimiters{});
  return s;
}

// The lookup picks the candidate that trying them in turn picks, for lists
// it can take whole and lists it cannot (qualifiers at several places, a
// long code), with and without candidates lacking a qualifier.
TEST(Chooser, MatchesTryingCandidatesInTurn) {
  std::deque<CodeSet> sets;
  std::deque<std::vector<std::string>> lists;
  auto codes = [&](std::vector<std::string> list) {
    std::sort(list.begin(), list.end());
    return &sets.emplace_back(lists.emplace_back(std::move(list)), nullptr);
  };
  auto at = [](const CodeSet* set, uint64_t element, std::optional<uint64_t> component = {}) {
    return Candidate{0, set, 0, element, component};
  };
  const Candidate any{};
  // Each candidate of a list its own occurrence and slot.
  auto numbered = [](std::vector<Candidate> candidates) {
    for (size_t i = 0; i < candidates.size(); ++i) {
      candidates[i].occurrence = i;
      candidates[i].slot = 10 + i;
    }
    return candidates;
  };
  const CodeSet* ab = codes({"A", "B"});
  const CodeSet* bc = codes({"B", "C"});
  const CodeSet* blank = codes({"", "Z"});
  const CodeSet* none = codes({});
  const CodeSet* seven = codes({"ABCDEFG", "C"});
  const CodeSet* eight = codes({"ABCDEFGH", "D"});
  const struct {
    const char* name;
    std::vector<Candidate> candidates;
  } cases[] = {
      {"empty", {}},
      {"no qualifiers", {any, any}},
      {"one place", {at(ab, 1), at(bc, 1), at(blank, 1), at(seven, 1)}},
      {"then any", {at(ab, 1), any, at(bc, 1)}},
      {"any first", {any, at(ab, 1)}},
      {"an empty list", {at(none, 1), at(ab, 1), any}},
      {"a component", {at(ab, 2, 2), at(bc, 2, 2), any}},
      {"a component then the first", {at(ab, 2, 2), at(bc, 2, 1)}},
      {"two places", {at(ab, 1), at(bc, 3), any}},
      {"a long code", {at(eight, 1), at(ab, 1), any}},
      {"a long code after any", {at(ab, 1), any, at(eight, 3)}},
  };
  const char* bodies[] = {"X*A",         "X*B*C:B",    "X*C*Q:A*D", "X*",         "X",
                          "X*Z",         "X*D",        "X*ABCDEFG", "X*ABCDEFGH", "X*AB",
                          "X*A:B*A:B*B", "X*:*B:C:D",  "X**A:A",    "X*E*C"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Candidate> candidates = numbered(c.candidates);
    const Chooser chooser(candidates);
    for (const char* body : bodies) {
      SCOPED_TRACE(body);
      const Segment segment = segment_of(body);
      const size_t first = first_match(candidates, segment);
      const Choice* chosen = chooser.choose(segment);
      if (first == kNoCandidate) {
        EXPECT_EQ(chosen, nullptr);
        continue;
      }
      ASSERT_NE(chosen, nullptr);
      EXPECT_EQ(chosen->occurrence, candidates[first].occurrence);
      EXPECT_EQ(chosen->slot, candidates[first].slot);
    }
  }
  // A default chooser, as a plan made for a segment no loop holds has.
  EXPECT_EQ(Chooser().choose(segment_of("X*A")), nullptr);
}


// A body of segment `id` with `code` at the qualifier place of `c`.
std::string body_with(std::string_view id, const Candidate& c, std::string_view code) {
  std::string body(id);
  for (uint64_t e = 1; e < c.element; ++e) body += '*';
  body += '*';
  for (uint64_t k = 1; k < c.component.value_or(1); ++k) body += ':';
  body += code;
  return body;
}

// The one lookup by id and loop answers what the plan and its lists for the
// loop answer, for every segment and loop of the built-in spec, with the
// segment tables of the built-in tables registered.
TEST(Plans, PlacedMatchesThePlan) {
  const spec::Spec& spec = *spec::shared_builtin_835().value();
  Plans plans(spec);
  for (size_t t = 0; t < spec.tables.size(); ++t)
    if (spec.tables[t].segment)
      for (LoopId l : spec.tables[t].loops) plans.add_segment_table(*spec.tables[t].segment, l, t);
  plans.index_placed();
  size_t found = 0;
  for (const auto& [id, def] : spec.segments) {
    SCOPED_TRACE(id);
    const SegmentPlan* plan = plans.get(id);
    ASSERT_NE(plan, nullptr);
    for (LoopId l = 0; l < spec.loops.size(); ++l) {
      SCOPED_TRACE(spec.loops[l].name);
      const Placed* placed = plans.placed(segment_of(id).id_key(), l);
      const std::vector<Candidate>& candidates = plan->candidates[l];
      if (placed == nullptr) {
        EXPECT_TRUE(candidates.empty());
        continue;
      }
      ++found;
      EXPECT_EQ(placed->plan, plan);
      const std::vector<size_t> tables(placed->segment_tables.begin(),
                                       placed->segment_tables.end());
      EXPECT_EQ(tables, l < plan->segment_tables.size() ? plan->segment_tables[l]
                                                         : std::vector<size_t>{});
      std::vector<std::string> bodies = {id, id + "*", id + "*\xff"};
      for (const Candidate& c : candidates)
        if (c.qualifier_codes != nullptr)
          for (const std::string& code : c.qualifier_codes->codes())
            bodies.push_back(body_with(id, c, code));
      for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        const Segment segment = segment_of(body);
        const Choice* chosen = placed->chooser.choose(segment);
        const Choice* before = plan->choosers[l].choose(segment);
        ASSERT_EQ(chosen == nullptr, before == nullptr);
        if (chosen == nullptr) continue;
        EXPECT_EQ(chosen->occurrence, before->occurrence);
        EXPECT_EQ(chosen->slot, before->slot);
      }
    }
  }
  EXPECT_GT(found, spec.segments.size() / 2);
  // Ids the index cannot key, and loops past the spec's, find nothing.
  EXPECT_EQ(plans.placed(segment_of("ABCDEFGH*1").id_key(), 0), nullptr);
  EXPECT_EQ(plans.placed(segment_of("CLP*1").id_key(), spec.loops.size() + 1000), nullptr);
}

}  // namespace
}  // namespace zarvi_core::project::plan

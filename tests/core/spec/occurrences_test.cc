#include "zarvi_core/spec/occurrences.h"

#include <gtest/gtest.h>

#include "../spec_fixture.h"
#include "zarvi_core/segment.h"

namespace zarvi_core::spec {
namespace {

using namespace testing;

TEST(SpecOccurrences, Messages) {
  const EditCase cases[] = {
      {"no qualifier on the later one", {{"/loops/transaction/occurrences/version/qualifier", removed()}},
       R"~(loop "transaction" occurrence "version": holds segment "REF" like occurrence "receiver", and the two have no qualifier on one shared element to tell them apart)~"},
      {"shared code", {{"/loops/transaction/occurrences/receiver/qualifier/codes", {"EV", "F2"}}},
       R"~(loop "transaction" occurrence "version": holds segment "REF" like occurrence "receiver", and both qualifiers accept code "F2")~"},
      {"codes key with a leading zero", {{"/loops/transaction/occurrences/date/codes", {{"01", {"405"}}}}},
       R"~(loop "transaction" occurrence "date": codes key "01" must be "<element>" or "<element>-<component>", 1-based integers in canonical form)~"},
      {"codes key of the qualifier's place", {{"/loops/transaction/occurrences/receiver/codes", {{"1", {"EV"}}}}},
       R"~(loop "transaction" occurrence "receiver": codes key "1" names the qualifier's own place; its codes are the qualifier's "codes")~"},
      {"qualifier code outside the element's codes", {{"/loops/1000A/occurrences/payer/qualifier/codes", {"ZZ", "PR", "AA"}}},
       R"~(loop "1000A" occurrence "payer": qualifier.codes: code "AA" is not among the codes N101 allows (PE, PR))~"},
      {"qualifier on an undefined segment", {{"/loops/1000A/occurrences/address/qualifier", {{"element", 1}, {"codes", {"X"}}}}},
       R"~(loop "1000A" occurrence "address": qualifier names N301, which the "segments" section does not define for "N3")~"},
      {"empty qualifier codes", {{"/loops/transaction/occurrences/receiver/qualifier/codes", json::array()}},
       R"~(loop "transaction" occurrence "receiver": qualifier.codes is empty; list at least one code)~"},
      {"qualifier on a composite", {{"/loops/2110/occurrences/service/qualifier", {{"element", 1}, {"codes", {"HC"}}}}},
       R"~(loop "2110" occurrence "service": qualifier.codes: "codes" applies to a simple element or a component; this element declares a "composite")~"},
      {"qualifiers at different places", {{"/loops/transaction/occurrences/version/qualifier/element", 2}},
       R"~(loop "transaction" occurrence "version": reads its qualifier at REF02 but occurrence "receiver" of the same segment reads it at REF01; every occurrence of one segment in a loop reads its qualifier at the same place)~"},
      {"codes on a decimal", {{"/loops/2110/occurrences/service/codes", {{"2", {"1"}}}}},
       R"~(loop "2110" occurrence "service": codes.2: "codes" applies to non-numeric types; type "R" holds numbers, which one value can write several ways (1, 01, 1.0))~"},
  };
  expect_outcomes(cases);
}

TEST(SpecOccurrences, TriggerChecks) {
  const EditCase cases[] = {
      {"qualifier wider than the trigger", {{"/loops/1000A/occurrences/payer/qualifier/codes", {"PR", "PE"}}},
       R"~(loop "1000A" opens on "N1" where {1: "PR"}, and its occurrence "payer" also accepts code "PE": a segment with that code would match the occurrence without opening the loop)~"},
      {"no occurrence of the trigger segment", {{"/loops/2110/occurrences/service", removed()}},
       R"~(loop "2110" opens on "SVC" with no conditions, but none of its occurrences holds that segment: declare the occurrence the loop opens on)~"},
      {"a qualifier on a component never opens", {{"/loops/1000A/occurrences/payer/qualifier", json::parse(R"({"element": 1, "component": 1, "codes": ["PR"]})")},
        {"/segments/N1/elements/1", json::parse(R"({"name": "entity", "type": "AN", "composite": {"1": {"name": "a", "type": "ID"}}})")}},
       R"~(loop "1000A" opens on "N1" where {1: "PR"}, but none of its occurrences holds that segment with a qualifier the trigger's conditions select)~"},
      {"trigger without conditions and a qualified occurrence", {{"/loops/1000A/trigger/where", removed()}},
       R"~(loop "1000A" opens on "N1" with no conditions, but none of its occurrences holds that segment with a qualifier the trigger's conditions select)~"},
      {"another occurrence at the trigger's pos", {{"/loops/2110/occurrences/date/pos", 100}},
       R"~(loop "2110": occurrence "date" has "pos" 100, at or before 100 of "service", the occurrence the loop opens on, which must come first)~"},
      {"same pos, sorting after the trigger", {{"/loops/2110/occurrences/zdate", {{"segment", "DTM"}, {"pos", 100}}}, {"/loops/2110/occurrences/date", removed()}},
       R"~(loop "2110": occurrence "zdate" has "pos" 100, at or before 100 of "service", the occurrence the loop opens on, which must come first)~"},
      {"first offender in pos order", {{"/loops/2110/occurrences/date/pos", 50}, {"/loops/2110/occurrences/a", {{"segment", "N9"}, {"pos", 70}}}},
       R"~(loop "2110": occurrence "date" has "pos" 50, at or before 100 of "service", the occurrence the loop opens on, which must come first)~"},
  };
  expect_outcomes(cases);
}

// Two faults in one loop: the per-occurrence and per-loop order decides.
TEST(SpecOccurrences, OrderOfChecks) {
  const EditCase cases[] = {
      {"occurrences in key order, before the trigger check",
       {{"/loops/2110/occurrences/service", removed()}, {"/loops/2110/occurrences/a", {{"segment", "X"}, {"pos", 1}, {"max", 0}}}, {"/loops/2110/occurrences/date/max", 0}},
       R"~(loop "2110" occurrence "a": "max" is 0; an occurrence that may appear appears at least once)~"},
      {"empty name before empty segment", {{"/loops/2110/occurrences/", {{"segment", ""}, {"pos", 5}}}}, R"~(loop "2110" occurrence "": the occurrence name is empty)~"},
      {"empty segment before usage", {{"/loops/2110/occurrences/date/segment", ""}, {"/loops/2110/occurrences/date/usage", "x"}},
       R"~(loop "2110" has an empty segment id at occurrences.date.segment)~"},
      {"usage before max", {{"/loops/2110/occurrences/date/usage", "x"}, {"/loops/2110/occurrences/date/max", 0}},
       R"~(loop "2110" occurrence "date": "usage" must be "required" or "situational"; found "x")~"},
      {"qualifier before codes", {{"/loops/transaction/occurrences/receiver/qualifier/element", 9}, {"/loops/transaction/occurrences/receiver/codes", {{"x", {"a"}}}}},
       R"~(loop "transaction" occurrence "receiver": qualifier names REF09, which the "segments" section does not define for "REF")~"},
      {"codes entries in key order", {{"/loops/transaction/occurrences/date/codes", {{"9", {"a"}}, {"10", {"b"}}}}},
       R"~(loop "transaction" occurrence "date": codes.10 names DTM10, which the "segments" section does not define for "DTM")~"},
      {"every occurrence before distinctness",
       {{"/loops/transaction/occurrences/version/qualifier", removed()}, {"/loops/transaction/occurrences/zz", {{"segment", "X"}, {"pos", 999}, {"max", 0}}}},
       R"~(loop "transaction" occurrence "zz": "max" is 0; an occurrence that may appear appears at least once)~"},
      {"each loop's trigger check before the next loop's occurrences",
       {{"/loops/1000A/occurrences/payer/qualifier/codes", {"PE"}}, {"/loops/1000B/occurrences/payee/max", 0}},
       R"~(loop "1000A" opens on "N1" where {1: "PR"}, but none of its occurrences holds that segment with a qualifier the trigger's conditions select)~"},
  };
  expect_outcomes(cases);
}

TEST(SpecOccurrences, CompiledDefinitions) {
  auto r = Spec::from_value(edit(mini(), {
      {"/loops/transaction/occurrences/receiver/qualifier/codes", {"EV", "AB"}}, {"/loops/2110/occurrences/service/codes", {{"1-2", {"b", "a"}}, {"1-1", {"HC"}}}}}));
  ASSERT_TRUE(r.ok()) << r.error().message();
  const LoopDef& transaction = (*r)->loops[4];
  EXPECT_EQ(transaction.occurrences[1].name, "receiver");  // sorted by pos
  ASSERT_TRUE(transaction.occurrences[1].qualifier.has_value());
  EXPECT_EQ(transaction.occurrences[1].qualifier->codes, (std::vector<std::string>{"AB", "EV"}));
  const OccurrenceDef& service = (*r)->loops[2].occurrences[0];
  EXPECT_EQ(service.codes.at(CodePlace{1, 2}), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(service.codes.begin()->first, (CodePlace{1, 1}));
}

TEST(SpecOccurrences, QualifierMatches) {
  Segment segment;
  segment.reparse(0, Frame{"X*EV*HC:99213", "X*EV*HC:99213", true}, zarvi_core::Delimiters{});
  struct Case {
    const char* name;
    Qualifier qualifier;
    bool expected;
  };
  const Case cases[] = {
      {"simple element", {1, std::nullopt, {"AB", "EV"}}, true},  {"simple element, other code", {1, std::nullopt, {"F2"}}, false},
      {"simple element read as component 1", {1, 1, {"EV"}}, true}, {"component 2 of a simple element", {1, 2, {"EV"}}, false},
      {"composite, first component by default", {2, std::nullopt, {"HC"}}, true}, {"composite, second component", {2, 2, {"99213"}}, true},
      {"composite, missing component", {2, 3, {"HC"}}, false}, {"composite, component 0", {2, 0, {"HC"}}, false},
      {"missing element", {3, std::nullopt, {"EV"}}, false}, {"element 0", {0, std::nullopt, {"EV"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.qualifier.matches(segment.elements()), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::spec

#include "zarvi_core/spec/compile.h"

#include <gtest/gtest.h>

#include "../spec_fixture.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/text.h"

namespace zarvi_core::spec {
namespace {

using namespace testing;

json loop(const char* segment, const char* parent = nullptr) {
  json l = {{"trigger", {{"segment", segment}}}, {"occurrences", {{"opener", {{"segment", segment}, {"pos", 1}}}}}};
  if (parent != nullptr) l["parent"] = parent;
  return l;
}

const char* const kMax0 = R"~(loop "2110" has "max" 0; a loop that may appear appears at least once)~";

TEST(SpecCompile, LoopMessages) {
  const EditCase cases[] = {
      {"where key zero", {{"/loops/1000A/trigger/where", {{"0", "PR"}}}},
       R"~(loop "1000A" has an invalid "where" position "0": positions are 1-based integers written in canonical form)~"},
      {"control without end", {{"/loops/interchange/end", removed()}, {"/loops/interchange/control/opener_element", 0}},
       R"~(loop "interchange" has an invalid "control": the loop has no "end" segment to check)~"},
      {"control opener zero", {{"/loops/interchange/control/opener_element", 0}, {"/loops/interchange/control/count_element", 0}},
       R"~(loop "interchange" has an invalid "control": "opener_element" must be a 1-based element position; found 0)~"},
      {"control count word", {{"/loops/interchange/control/count", "Segments"}},
       R"~(loop "interchange" has an invalid "control": "count" must be "segments" or "children"; found "Segments")~"},
      {"no loops", {{"/loops", json::object()}}, R"~(spec "mini" declares no loops)~"},
      {"empty segment id in segments", {{"/segments/", json::object()}}, R"~(the spec has an empty segment id at segments."")~"},
      {"two loops in a cycle", {{"/loops/a", loop("A", "b")}, {"/loops/b", loop("B", "a")}}, "loops form a parent cycle: a -> b -> a"},
      {"a loop leading into a cycle is not a member",
       {{"/loops/0", loop("Z", "a")}, {"/loops/a", loop("A", "b")}, {"/loops/b", loop("B", "c")}, {"/loops/c", loop("C", "b")}},
       "loops form a parent cycle: b -> c -> b"},
      {"cycle names are bare", {{"/loops/x y", loop("A", "x y")}}, "loops form a parent cycle: x y -> x y"},
  };
  expect_outcomes(cases);
}

// Two faults in one spec: the compile order decides which is reported.
TEST(SpecCompile, OrderOfSteps) {
  const EditCase cases[] = {
      {"empty end before usage", {{"/loops/2110/end", ""}, {"/loops/2110/usage", "x"}}, R"~(loop "2110" has an empty segment id at end)~"},
      {"usage before max", {{"/loops/2110/usage", "x"}, {"/loops/2110/max", 0}}, R"~(loop "2110" has "usage" "x"; it must be "required" or "situational")~"},
      {"end is trigger before parent", {{"/loops/2110/end", "SVC"}, {"/loops/2110/parent", "x"}},
       R"~(loop "2110" has "end" "SVC", the same segment as its "trigger": the loop would close on the segment that opens it)~"},
      {"loops in byte order, not text order", {{"/loops/transaction/max", 0}, {"/loops/2110/max", 0}}, kMax0},
      {"every loop checked before cycles", {{"/loops/a", loop("A", "a")}, {"/loops/zz", loop("Z", "zz")}, {"/loops/zz/max", 0}},
       R"~(loop "zz" has "max" 0; a loop that may appear appears at least once)~"},
      {"cycles before segments", {{"/loops/a", loop("A", "a")}, {"/segments/", json::object()}}, "loops form a parent cycle: a -> a"},
      {"segments in key order, before occurrences", {{"/segments/SVC/elements/2/max", 0}, {"/segments/N1/elements/2/max", 0}, {"/loops/2110/occurrences/date/max", 0}},
       R"~(segment "N1" element "2": "max" is 0; an element holds at least one character)~"},
      {"occurrences of each loop before the next loop's", {{"/loops/1000A/occurrences/payer/qualifier/codes", {"PR", "PE"}}, {"/loops/1000B/occurrences/address/max", 0}},
       R"~(loop "1000A" opens on "N1" where {1: "PR"}, and its occurrence "payer" also accepts code "PE": a segment with that code would match the occurrence without opening the loop)~"},
      {"occurrences before ambiguity",
       {{"/loops/1000B/trigger/where/1", "PR"}, {"/loops/1000B/occurrences/payee/qualifier/codes", {"PR"}}, {"/loops/transaction/occurrences/date/max", 0}},
       R"~(loop "transaction" occurrence "date": "max" is 0; an occurrence that may appear appears at least once)~"},
  };
  expect_outcomes(cases);
}

TEST(SpecCompile, TriggerAmbiguity) {
  const EditCase cases[] = {
      {"overlapping", {{"/loops/1000B/trigger/where", {{"2", "X"}}}, {"/loops/1000B/occurrences/payee/qualifier", removed()}},
       R"~(loops "1000A" and "1000B" under "transaction" can open on the same segment: "1000A" on "N1" where {1: "PR"}, "1000B" on "N1" where {2: "X"}, no position they both test requires different values, and neither trigger is more specific than the other)~"},
      {"different parents never conflict", {{"/loops/x", loop("N1", "2110")}, {"/loops/y", loop("N1", "1000A")}}, "ok"},
      {"roots before children", {{"/loops/x", loop("N1", "2110")}, {"/loops/y", loop("N1", "2110")}, {"/loops/other", loop("ISA")}},
       R"~(loops "interchange" and "other" under the root share the identical trigger "ISA")~"},
      {"children of loops in id order", {{"/loops/x", loop("N1", "2110")}, {"/loops/y", loop("N1", "2110")}, {"/loops/p", loop("N9", "1000A")}, {"/loops/q", loop("N9", "1000A")}},
       R"~(loops "p" and "q" under "1000A" share the identical trigger "N9")~"},
  };
  expect_outcomes(cases);
}

TEST(SpecCompile, LoopDefinitions) {
  auto r = Spec::from_value(edit(mini(), {
      {"/loops/1000A/trigger/where", {{"10", "B"}, {"2", "A"}, {"1", "PR"}}},
      // The trigger's own segment is held when an occurrence of it does not open on the trigger.
      {"/loops/1000A/occurrences/other", {{"segment", "N1"}, {"pos", 300}, {"qualifier", {{"element", 1}, {"codes", {"PE"}}}}}},
      {"/loops/1000A/occurrences/more", {{"segment", "PER"}, {"pos", 250}}}}));
  ASSERT_TRUE(r.ok()) << r.error().message();
  const Spec& s = **r;
  EXPECT_EQ(s.loops[4].children, (std::vector<LoopId>{0, 1, 2}));
  EXPECT_EQ(s.loops[4].held, (std::vector<std::string>{"REF", "DTM"}));
  EXPECT_EQ(s.loops[0].held, (std::vector<std::string>{"N3", "PER", "N1"}));
  EXPECT_EQ(s.loops[0].trigger.conditions, (std::vector<Condition>{{1, "PR"}, {2, "A"}, {10, "B"}}));
  EXPECT_EQ(s.ancestors(0), (std::vector<LoopId>{3, 4}));
}

TEST(SpecCompile, LoopIdsFollowTheByteOrderOfNames) {
  // "Z" (0x5A) < "interchange" < "\xC3\xA9" (an e with an acute accent).
  auto r = Spec::from_value(edit(mini(), {{"/loops/\xC3\xA9", loop("C")}, {"/loops/Z", loop("A")}}));
  ASSERT_TRUE(r.ok()) << r.error().message();
  EXPECT_EQ((*r)->loop_id("Z"), LoopId{3});
  EXPECT_EQ((*r)->loop_id("\xC3\xA9"), LoopId{6});
  for (LoopId id = 0; id < (*r)->loops.size(); ++id) EXPECT_EQ((*r)->loop_id((*r)->loops[id].name), id);
  for (const char* unknown : {"", "A", "Za", "zz", "\xC3", "\xC3\xA9\xC3"}) EXPECT_EQ((*r)->loop_id(unknown), std::nullopt) << unknown;
}

TEST(SpecCompile, HostileNames) {
  const EditCase cases[] = {
      {"parent named with a dot", {{"/loops/a.b", loop("X")}, {"/loops/c", loop("Y", "a.b")}}, "ok"},
      {"unknown parent with white space", {{"/loops/c", loop("Y", "a\u2028b")}}, "loop \"c\" names unknown parent \"a\\u{2028}b\""},
      {"huge where position", {{"/loops/1000A/trigger/where", {{"18446744073709551615", "PR"}}}, {"/loops/1000A/occurrences/payer/qualifier", removed()}},
       R"~(loops "1000A" and "1000B" under "transaction" can open on the same segment: "1000A" on "N1" where {18446744073709551615: "PR"}, "1000B" on "N1" where {1: "PE"}, no position they both test requires different values, and neither trigger is more specific than the other)~"},
      {"where position past 64 bits", {{"/loops/1000A/trigger/where", {{"18446744073709551616", "PR"}}}},
       R"~(loop "1000A" has an invalid "where" position "18446744073709551616": positions are 1-based integers written in canonical form)~"},
      {"huge pos and max", {{"/loops/2110/occurrences/date/pos", UINT64_MAX}, {"/loops/2110/max", UINT64_MAX}}, "ok"},
      {"huge qualifier element", {{"/loops/transaction/occurrences/receiver/qualifier/element", UINT64_MAX}},
       R"~(loop "transaction" occurrence "receiver": qualifier names REF18446744073709551615, which the "segments" section does not define for "REF")~"},
  };
  expect_outcomes(cases);
}

TEST(SpecCompile, JsonErrors) {
  EXPECT_EQ(outcome_text("{"), "invalid spec JSON: parse error at line 1, column 2: syntax error while parsing object "
                               "key - unexpected end of input; expected string literal");
  const std::string invalid_utf8 = outcome_text("{\"name\": \"\xFF\"}");
  EXPECT_EQ(invalid_utf8.rfind("invalid spec JSON: ", 0), 0u);
  EXPECT_EQ(lossy_utf8(invalid_utf8), invalid_utf8);
}

// Integers past 64 bits are named by the digits written and where they
// stand, not as the floating-point numbers the JSON library would keep.
TEST(SpecCompile, LongIntegersKeepTheirDigits) {
  struct Case { const char* name; std::string text; std::string expected; };
  const std::string big = "123456789012345678901234567890";
  const auto with = [&](std::string_view value) {
    std::string text = mini().dump();
    const std::string old = "\"max\":999";
    return text.replace(text.find(old), old.size(), "\"max\":" + std::string(value));
  };
  const Case cases[] = {
      {"count", with(big), "invalid spec JSON: the integer " + big + " at loops.2110.max is too large: integers in a spec are at most 18446744073709551615"},
      {"just past 64 bits", with("18446744073709551616"), "invalid spec JSON: the integer 18446744073709551616 at loops.2110.max is too large: integers in a spec are at most 18446744073709551615"},
      {"largest that fits", with("18446744073709551615"), "ok"},
      {"in an array, after numbers in strings and keys",
       R"({"name": "99999999999999999999", "99999999999999999999": [1, 2.5e40, [3], -99999999999999999999]})",
       "invalid spec JSON: the integer -99999999999999999999 at 99999999999999999999[3] is too small: integers in a spec are from -9223372036854775808"},
      {"a float keeps the usual message", with("1e30"), "spec: the value at loops.2110.max must be a non-negative integer; found a floating-point number (1e+30)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome_text(c.text), c.expected);
  }
}

// The value as compact JSON, or the message; where two faults are in one
// text, the one written first wins.
TEST(SpecCompile, ParseOutcomes) {
  struct Case { const char* name; std::string text; std::string expected; };
  const auto nest = [](int levels, std::string_view inner) {
    return std::string(levels, '[') + std::string(inner) + std::string(levels, ']');
  };
  std::string objects;
  for (int i = 0; i < 65; ++i) objects += R"({"k":)";
  objects += std::string(65, '}');
  const std::string syntax = "invalid spec JSON: parse error at line 1, column ";
  const std::string deep = "invalid spec JSON: the value nests arrays and objects deeper than 64 levels";
  const std::string large = " is too large: integers in a spec are at most 18446744073709551615";
  const Case cases[] = {
      {"keys sorted, a repeated key keeps its last value", R"({"b": 1, "a": [true, null], "b": {"c": "x"}})", R"({"a":[true,null],"b":{"c":"x"}})"},
      {"a repeated key's container replaced", R"({"a": {"x": 1}, "a": [2], "a": {"y": [3]}})", R"({"a":{"y":[3]}})"},
      {"number kinds kept", R"([1, -1, 1.0, 1e2, 18446744073709551615, -9223372036854775808, "\u00e9"])",
       "[1,-1,1.0,100.0,18446744073709551615,-9223372036854775808,\"\xC3\xA9\"]"},
      {"empty text", "", syntax + "1: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {"end of input in an array", "[1, ", syntax + "5: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {"end of input in a string", "[\"ab", syntax + "5: syntax error while parsing value - invalid string: missing closing quote; last read: '\"ab'"},
      {"text after the value", R"({"a": 1} x)", syntax + "10: syntax error while parsing value - invalid literal; last read: '1} x'; expected end of input"},
      {"a second value", "[] []", syntax + "4: syntax error while parsing value - unexpected '['; expected end of input"},
      {"comment", "/* c */ []", syntax + "1: syntax error while parsing value - invalid literal; last read: '/'"},
      {"invalid UTF-8", "[\"\xFF\"]", syntax + "3: syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: '\"\xEF\xBF\xBD'"},
      {"float overflow", "[1.5e400, 99999999999999999999]", "invalid spec JSON: number overflow parsing '1.5e400'"},
      {"64 levels", nest(64, ""), nest(64, "")},
      {"65 levels", nest(65, ""), deep},
      {"65 levels of objects", objects, deep},
      {"too deep before a syntax error", nest(65, "x"), deep},
      {"syntax error before too deep", "[[[x" + nest(65, ""), syntax + "4: syntax error while parsing value - invalid literal; last read: '[[[x'"},
      {"syntax error in the 64th level", nest(64, "x"),
       syntax + "65: syntax error while parsing value - invalid literal; last read: '" + std::string(64, '[') + "x'"},
      {"long integer after objects", R"([{}, {"k": [0, {"a": 1}, 99999999999999999999]}])",
       "invalid spec JSON: the integer 99999999999999999999 at [1].k[2]" + large},
      {"long integer after a repeated key", R"({"a": [1, 2], "a": [3, 99999999999999999999]})",
       "invalid spec JSON: the integer 99999999999999999999 at a[1]" + large},
      {"long integer under keys to quote", R"({"a.b": {"": [-99999999999999999999]}})",
       R"(invalid spec JSON: the integer -99999999999999999999 at "a.b".""[0] is too small: integers in a spec are from -9223372036854775808)"},
      {"long integer at the top level", "18446744073709551616",
       "invalid spec JSON: the integer 18446744073709551616 at the top level" + large},
      {"long integers in a key and a string", R"({"99999999999999999999": "9\"99999999999999999999"})",
       R"({"99999999999999999999":"9\"99999999999999999999"})"},
      {"long integer after a syntax error", "[1 2, 99999999999999999999]",
       syntax + "4: syntax error while parsing array - unexpected number literal; expected ']'"},
      {"syntax error after a long integer", "[99999999999999999999, 1 2]",
       "invalid spec JSON: the integer 99999999999999999999 at [0]" + large},
      {"long integer before too deep", "[99999999999999999999, " + nest(65, "") + "]",
       "invalid spec JSON: the integer 99999999999999999999 at [0]" + large},
      {"too deep before a long integer", "[" + nest(65, "99999999999999999999") + "]", deep},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = parse_spec_json(c.text);
    EXPECT_EQ(r.ok() ? r.value().dump() : r.error().message(), c.expected);
  }
}

TEST(SpecCompile, DeepNestingIsRefusedWithoutRecursion) {
  const std::string limit = "invalid spec JSON: the value nests arrays and objects deeper than 64 levels";
  EXPECT_EQ(outcome_text(std::string(100000, '[') + std::string(100000, ']')), limit);
  EXPECT_EQ(outcome_text(R"({"name": )" + std::string(100000, '[')), limit);
  // 64 levels are accepted by the guard and left to the shape check.
  EXPECT_EQ(outcome_text(R"({"name": )" + std::string(63, '[') + std::string(63, ']') + "}"),
            R"~(spec: missing required key "loops" at the top level)~");
  EXPECT_EQ(outcome_text(R"({"name": )" + std::string(64, '[') + std::string(64, ']') + "}"), limit);

  // A value built in memory far past the guard is checked without recursion.
  json far = 1;
  for (int i = 0; i < 100000; ++i) far = json::array({std::move(far)});
  json spec = mini();
  spec["name"] = std::move(far);
  EXPECT_EQ(outcome(std::move(spec)), limit);

  // Composites nested past the guard never reach the recursive walks.
  json elements = {{"1", {{"name", "a"}, {"type", "AN"}}}};
  for (int i = 0; i < 100; ++i) elements = {{"1", {{"name", "a"}, {"type", "AN"}, {"composite", std::move(elements)}}}};
  EXPECT_EQ(outcome(edit(mini(), {{"/segments/SVC/elements", elements}})), limit);
}

TEST(SpecCompile, ErrorKindsAndDebugForm) {
  auto r = Spec::from_value(edit(mini(), {{"/loops/a", loop("A", "b")}, {"/loops/b", loop("B", "a")}}));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(kind_name(r.error().kind()), "Cycle");
  EXPECT_EQ(r.error().debug(), R"~(Cycle { members: ["a", "b"] })~");
  const SpecError patched = SpecError::patch(r.error());
  EXPECT_EQ(patched.message(), "applying patch: loops form a parent cycle: a -> b -> a");
  EXPECT_EQ(patched.kind(), SpecError::Kind::Patch);
  EXPECT_EQ(SpecError(SpecError::WrongType{"a.b", "a string", "null", ""}).debug(),
            R"~(WrongType { path: "a.b", expected: "a string", found: "null", value: "" })~");
}

TEST(SpecCompile, MessagesOfKindsFilledLater) {
  const std::pair<SpecError, const char*> cases[] = {
      {SpecError::Schema{std::nullopt, "missing field `name`"}, "spec does not match the schema: missing field `name`"},
      {SpecError::Schema{"2000", "x"}, R"~(loop "2000" does not match the schema: x)~"},
      {SpecError::SegmentSchema{"N1", "x"}, R"~(segment "N1" does not match the schema: x)~"},
      {SpecError::TableSchema{"claims", std::nullopt, "x"}, R"~(table "claims" does not match the schema: x)~"},
      {SpecError::TableSchema{"claims", "id", "x"}, R"~(table "claims" column "id" does not match the schema: x)~"},
      {SpecError::BalanceSchema{"r", "x"}, R"~(balancing rule "r" does not match the schema: x)~"},
  };
  for (const auto& [error, expected] : cases) EXPECT_EQ(error.message(), expected);
}

}  // namespace
}  // namespace zarvi_core::spec

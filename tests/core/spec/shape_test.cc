#include "zarvi_core/spec/shape.h"

#include <gtest/gtest.h>

#include "../spec_fixture.h"

namespace zarvi_core::spec {
namespace {

using namespace testing;

json table_with_column(const char* column) {
  return json::parse(std::string(R"~({"t": {"loops": ["2110"], "columns": {"c": )~") + column + "}}}");
}

TEST(SpecShape, MessagesNameThePathAndTheValue) {
  const EditCase cases[] = {
      {"top level needs a name", {{"/name", removed()}}, R"~(spec: missing required key "name" at the top level)~"},
      {"unknown keys before missing ones, first in byte order", {{"/name", removed()}, {"/zeta", 1}, {"/alpha", 1}}, R"~(spec: unknown key "alpha" at the top level)~"},
      {"negative count", {{"/loops/2110/max", -1}}, "spec: the value at loops.2110.max must be a non-negative integer; found a negative number (-1)"},
      {"float with fraction", {{"/loops/2110/max", 2.5}},
       "spec: the value at loops.2110.max must be a non-negative integer; found a number with a fractional part (2.5)"},
      {"count past 64 bits", {{"/loops/2110/max", json::parse("18446744073709551616")}},
       "spec: the value at loops.2110.max must be a non-negative integer; found a floating-point number (1.8446744073709552e+19)"},
      {"small count above 255", {{"/segments/SVC/elements/5/scale", 256}},
       "spec: the value at segments.SVC.elements.5.scale must be an integer from 0 to 255; found a number above 255 (256)"},
      {"version values as object", {{"/version", {{"segment", "GS"}, {"element", 8}, {"values", {{"a", 1}, {"b", 2}}}}}},
       "spec: the value at version.values must be an array of strings; found an object (2 members)"},
      {"empty loop name is quoted", {{"/loops/", {{"trigger", {{"segment", "X"}}}, {"max", "x"}}}},
       R"~(spec: the value at loops."".max must be a non-negative integer; found a string ("x"))~"},
      {"loop name with a dot", {{"/loops/a.b", {{"trigger", {{"segment", "X"}}}, {"max", true}}}},
       R"~(spec: the value at loops."a.b".max must be a non-negative integer; found a boolean (true))~"},
      {"loop name with a blank and a quote", {{"/loops/a \"b", {{"trigger", {{"segment", "X"}}}, {"bogus", 1}}}}, R"~(spec: unknown key "bogus" at loops."a \"b")~"},
      {"loop name with a quote only stays bare", {{"/loops/a\"b", {{"trigger", {{"segment", "X"}}}, {"bogus", 1}}}}, R"~(spec: unknown key "bogus" at loops.a"b)~"},
      {"control keys in listed order", {{"/loops/interchange/control/opener_element", removed()}, {"/loops/interchange/control/count", removed()}},
       R"~(spec: missing required key "opener_element" at loops.interchange.control)~"},
      {"occurrence codes list", {{"/loops/transaction/occurrences/date/codes/1", "405"}},
       "spec: the value at loops.transaction.occurrences.date.codes.1 must be an array of strings; found a string (\"405\")"},
      {"occurrence codes item", {{"/loops/transaction/occurrences/date/codes/1", {"405", nullptr}}},
       "spec: the value at loops.transaction.occurrences.date.codes.1[1] must be a string; found null"},
      {"qualifier component null passes, element null does not", {{"/loops/transaction/occurrences/receiver/qualifier/component", nullptr},
        {"/loops/transaction/occurrences/receiver/qualifier/element", nullptr}},
       "spec: the value at loops.transaction.occurrences.receiver.qualifier.element must be a non-negative integer; found null"},
      {"component type path", {{"/segments/SVC/elements/1/composite/2/type", json::array({1, 2})}},
       "spec: the value at segments.SVC.elements.1.composite.2.type must be a string; found an array (2 items)"},
      {"composite of a component is still checked", {{"/segments/SVC/elements/1/composite/2/composite", {{"1", {{"name", "x"}}}}}},
       R"~(spec: missing required key "type" at segments.SVC.elements.1.composite.2.composite.1)~"},
      {"element codes checked before name", {{"/segments/N1/elements/2/name", 5}, {"/segments/N1/elements/2/codes", "x"}},
       "spec: the value at segments.N1.elements.2.codes must be an array of strings; found a string (\"x\")"},
      {"segment_index must be a boolean", {{"/tables", table_with_column(R"~({"segment_index": 1})~")}},
       "spec: the value at tables.t.columns.c.segment_index must be a boolean; found a number (1)"},
      {"negative pick", {{"/tables", table_with_column(R"~({"pick": -1})~")}},
       "spec: the value at tables.t.columns.c.pick must be \"first\", \"last\" or a positive integer; found a negative number (-1)"},
  };
  expect_outcomes(cases);
}

TEST(SpecShape, AcceptsWhatTheLaterStepsJudge) {
  const EditCase cases[] = {
      {"null optional members", {{"/loops/2110/usage", nullptr}, {"/loops/2110/end", nullptr}, {"/loops/2110/max", nullptr}, {"/loops/2110/parent", nullptr}}, "ok"},
      {"pick texts reach the table compiler", {{"/tables", table_with_column(R"~({"occurrence": "date", "element": 2, "pick": "second"})~")}},
       R"~(table "t" column "c": "pick" must be "first", "last" or a 1-based position; found "second")~"},
      {"pick zero reaches the table compiler", {{"/tables", table_with_column(R"~({"occurrence": "date", "element": 2, "pick": 0})~")}},
       R"~(table "t" column "c": "pick" must be "first", "last" or a 1-based position; found 0)~"},
      {"scale 255 reaches the element compiler", {{"/segments/SVC/elements/5/scale", 255}}, R"~(segment "SVC" element "5": "scale" 255 is above the maximum of 18)~"},
      {"minus zero reads as the integer 0", {{"/loops/2110/max", json::parse("-0")}}, R"~(loop "2110" has "max" 0; a loop that may appear appears at least once)~"},
      {"table without columns", {{"/tables", json::parse(R"~({"t": {"loops": ["2110"]}})~")}}, "ok"},
  };
  expect_outcomes(cases);
}

// Two faults in one spec: the walk order decides which is reported.
TEST(SpecShape, WalkOrderDecidesTheFirstError) {
  const json bad_table = json::parse(R"~({"t": {"loops": 1}})~");
  const EditCase cases[] = {
      {"name before version", {{"/name", 1}, {"/version", 1}}, "spec: the value at name must be a string; found a number (1)"},
      {"version before loops", {{"/version", 1}, {"/loops/2110/max", "x"}}, "spec: the value at version must be a JSON object; found a number"},
      {"loops before tables", {{"/tables", bad_table}, {"/loops/2110/max", "x"}},
       R"~(spec: the value at loops.2110.max must be a non-negative integer; found a string ("x"))~"},
      {"tables before segments", {{"/tables", bad_table}, {"/segments/N1", 1}}, "spec: the value at tables.t.loops must be an array of strings; found a number (1)"},
      {"loops in byte order", {{"/loops/2110/max", "x"}, {"/loops/1000B/max", "y"}},
       R"~(spec: the value at loops.1000B.max must be a non-negative integer; found a string ("y"))~"},
      {"trigger before control", {{"/loops/interchange/control", 1}, {"/loops/interchange/trigger/segment", 1}},
       "spec: the value at loops.interchange.trigger.segment must be a string; found a number (1)"},
      {"shape before any compile step", {{"/loops/2110/usage", "often"}, {"/segments/N1/elements/2/max", "x"}},
       R"~(spec: the value at segments.N1.elements.2.max must be a non-negative integer; found a string ("x"))~"},
  };
  expect_outcomes(cases);
}

TEST(SpecShape, TopLevelThatIsNotAnObject) {
  EXPECT_EQ(outcome(json::array()), "the spec must be a JSON object; found an array");
}

}  // namespace
}  // namespace zarvi_core::spec

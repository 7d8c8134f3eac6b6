#include <gtest/gtest.h>

#include "../small_spec.h"
#include "zarvi_core/spec/balance.h"

namespace zarvi_core::spec {
namespace {

using testing::compile_small;

// A rule "r" per loop "item" with these target and sum lists.
std::string rule(const char* target, const char* sum) {
  return std::string(R"({"balancing": {"r": {"per": "item", "target": [)") + target + R"(], "sum": [)" + sum + "]}}}";
}

const char* const kItem = R"({"occurrence": "item", "elements": [1]})";

struct Case {
  const char* name;
  std::string patch;
  const char* expected;  // the error message, or "" when the spec compiles
};

TEST(CompileBalancing, Cases) {
  const Case cases[] = {
      {"empty name", R"({"balancing": {"": {"per": "nope", "target": [], "sum": []}}})", R"(balancing rule "": the rule name is empty)"},
      {"unknown per", R"({"balancing": {"r": {"per": "nope", "target": [], "sum": []}}})",
       R"(balancing rule "r": per names loop "nope", which the spec does not declare)"},
      {"no target terms", rule("", ""), R"(balancing rule "r": target is empty; list at least one value)"},
      {"unknown term loop", rule(R"({"loop": "nope", "occurrence": "item", "elements": [1]})", ""),
       R"(balancing rule "r": target[0].loop names loop "nope", which the spec does not declare)"},
      {"term loop above per", rule(R"({"loop": "head", "occurrence": "note", "elements": [1]})", ""),
       R"(balancing rule "r": target[0].loop reads loop "head", which is neither the rule's "per" loop "item" nor a loop below it)"},
      {"unknown occurrence", rule(kItem, R"({"occurrence": "nope", "elements": [1]})"),
       R"(balancing rule "r": sum[0].occurrence names occurrence "nope", which loop "item" does not declare)"},
      {"no elements", rule(R"({"occurrence": "item", "elements": []})", ""), R"(balancing rule "r": target[0].elements is empty; list at least one element position)"},
      {"undefined segment", rule(R"({"occurrence": "late", "elements": [1]})", ""),
       R"(balancing rule "r": target[0].elements[0] names LT01, which the "segments" section does not define)"},
      {"undefined component", rule(R"({"occurrence": "amount", "elements": [4], "component": 2})", ""),
       R"(balancing rule "r": target[0].elements[0] names AM04-2, which the "segments" section does not define)"},
      {"integer element", rule(R"({"occurrence": "amount", "elements": [3]})", ""),
       R"(balancing rule "r": target[0].elements[0] names AM03, of type N2; a balancing value must be of type R)"},
      {"value repeated across sides", rule(R"({"occurrence": "amount", "elements": [1]})", R"({"occurrence": "item", "elements": [1]}, {"occurrence": "amount", "elements": [1]})"),
       R"(balancing rule "r": sum[1].elements[0] counts AM01 of the same occurrence that target[0].elements[0] already counts)"},
      {"a value read again names its first reading", rule(R"({"occurrence": "amount", "elements": [1, 2]})", R"({"occurrence": "item", "elements": [1]}, {"occurrence": "amount", "elements": [2, 1]})"),
       R"(balancing rule "r": sum[1].elements[0] counts AM02 of the same occurrence that target[0].elements[1] already counts)"},
      {"term loop beside per", rule(R"({"loop": "side", "occurrence": "extra", "elements": [1]})", ""),
       R"(balancing rule "r": target[0].loop reads loop "side", which is neither the rule's "per" loop "item" nor a loop below it)"},
      {"term loop two levels below per", R"({"balancing": {"r": {"per": "head", "target": [{"loop": "sub", "occurrence": "amount", "elements": [1]}], "sum": [{"loop": "item", "occurrence": "amount", "elements": [1]}]}}})", ""},
      {"same position under another occurrence", rule(R"({"occurrence": "amount", "elements": [1]})", R"({"loop": "sub", "occurrence": "amount", "elements": [1]})"), ""},
      {"sign plus", rule(R"({"occurrence": "item", "elements": [1], "sign": "plus"})", ""), R"(balancing rule "r": target[0].sign must be "+" or "-"; found "plus")"},
      // Shape of the section, before anything is compiled.
      {"section not an object", R"({"balancing": [1]})", "spec: the value at balancing must be a JSON object; found an array"},
      {"target not an array", R"({"balancing": {"r": {"per": "item", "target": {}, "sum": []}}})",
       "spec: the value at balancing.r.target must be an array of objects; found an object (0 members)"},
      {"elements not an array", rule(R"({"occurrence": "x", "elements": 3})", ""),
       "spec: the value at balancing.r.target[0].elements must be an array of non-negative integers; found a number (3)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto compiled = compile_small(c.patch.c_str());
    EXPECT_EQ(compiled.ok() ? std::string() : compiled.error().message(), c.expected);
  }
}

TEST(CompileBalancing, RecordsAndScale) {
  auto compiled = compile_small(R"({"balancing": {
    "z": {"per": "item", "target": [{"occurrence": "item", "elements": [1]}],
          "sum": [{"occurrence": "amount", "elements": [2, 1]}, {"loop": "sub", "occurrence": "amount", "elements": [1], "sign": "-"}]},
    "a": {"per": "sub", "target": [{"occurrence": "amount", "elements": [1], "sign": "-"}],
          "sum": [{"occurrence": "amount", "elements": [4], "component": 1, "sign": "+"}]}}})");
  ASSERT_TRUE(compiled.ok()) << compiled.error().message();
  const Spec& spec = *compiled.value();
  ASSERT_EQ(spec.balancing.size(), 2u);
  const BalanceRule& a = spec.balancing[0];
  const BalanceRule& z = spec.balancing[1];
  EXPECT_EQ(a.scale, 2);
  EXPECT_EQ(z.scale, 4);  // AM02 has scale 4
  EXPECT_EQ(z.sum[1].loop, *spec.loop_id("sub"));
  // "sum " unless one element of a single occurrence of the per loop.
  EXPECT_EQ(render_terms(spec, z.per, z.target), "IT01 of item \"item\"");
  EXPECT_EQ(render_terms(spec, z.per, z.sum), "sum AM02, AM01 of item \"amount\" - sum AM01 of sub \"amount\"");
  EXPECT_EQ(render_terms(spec, a.per, a.target), "- sum AM01 of sub \"amount\"");
  EXPECT_EQ(render_terms(spec, a.per, a.sum), "sum AM04-1 of sub \"amount\"");
}

}  // namespace
}  // namespace zarvi_core::spec

#include <gtest/gtest.h>

#include "small_spec.h"
#include "zarvi_core/spec/balance.h"

namespace zarvi_core::spec {
namespace {

using testing::compile_small;

const testing::PatchCase kBalanceCases[] = {
    {"valid", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "item", "elements": [1]}],
       "sum": [{"occurrence": "amount", "elements": [1, 2]},
               {"loop": "sub", "occurrence": "amount", "elements": [1], "sign": "-"}]}}})", ""},
    {"component of a composite", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "item", "elements": [1]}],
       "sum": [{"occurrence": "amount", "elements": [4], "component": 1}]}}})", ""},
    {"empty name", R"({"balancing": {"": {"per": "nope", "target": [], "sum": []}}})",
     R"(balancing rule "": the rule name is empty)"},
    {"unknown per", R"({"balancing": {"r": {"per": "nope", "target": [], "sum": []}}})",
     R"(balancing rule "r": per names loop "nope", which the spec does not declare)"},
    {"no target terms", R"({"balancing": {"r": {"per": "item", "target": [], "sum": []}}})",
     R"(balancing rule "r": target is empty; list at least one value)"},
    {"no sum terms", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "item", "elements": [1]}], "sum": []}}})",
     R"(balancing rule "r": sum is empty; list at least one value)"},
    {"unknown term loop", R"({"balancing": {"r": {"per": "item",
       "target": [{"loop": "nope", "occurrence": "item", "elements": [1]}], "sum": []}}})",
     R"(balancing rule "r": target[0].loop names loop "nope", which the spec does not declare)"},
    {"term loop above per", R"({"balancing": {"r": {"per": "item",
       "target": [{"loop": "head", "occurrence": "note", "elements": [1]}], "sum": []}}})",
     R"(balancing rule "r": target[0].loop reads loop "head", which is neither the rule's "per" loop "item" nor a loop below it)"},
    {"unknown occurrence", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "item", "elements": [1]}],
       "sum": [{"occurrence": "nope", "elements": [1]}]}}})",
     R"(balancing rule "r": sum[0].occurrence names occurrence "nope", which loop "item" does not declare)"},
    {"no elements", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "item", "elements": []}], "sum": []}}})",
     R"(balancing rule "r": target[0].elements is empty; list at least one element position)"},
    {"undefined element", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "amount", "elements": [1, 9]}], "sum": []}}})",
     R"(balancing rule "r": target[0].elements[1] names AM09, which the "segments" section does not define)"},
    {"undefined segment", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "late", "elements": [1]}], "sum": []}}})",
     R"(balancing rule "r": target[0].elements[0] names LT01, which the "segments" section does not define)"},
    {"undefined component", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "amount", "elements": [4], "component": 2}], "sum": []}}})",
     R"(balancing rule "r": target[0].elements[0] names AM04-2, which the "segments" section does not define)"},
    {"integer element", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "amount", "elements": [3]}], "sum": []}}})",
     R"(balancing rule "r": target[0].elements[0] names AM03, of type N2; a balancing value must be of type R)"},
    {"value repeated within a term", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "amount", "elements": [1, 2, 1]}], "sum": []}}})",
     R"(balancing rule "r": target[0].elements[2] counts AM01 of the same occurrence that target[0].elements[0] already counts)"},
    {"value repeated across sides", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "amount", "elements": [1]}],
       "sum": [{"occurrence": "item", "elements": [1]}, {"occurrence": "amount", "elements": [1]}]}}})",
     R"(balancing rule "r": sum[1].elements[0] counts AM01 of the same occurrence that target[0].elements[0] already counts)"},
    {"same position under another occurrence", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "amount", "elements": [1]}],
       "sum": [{"loop": "sub", "occurrence": "amount", "elements": [1]}]}}})", ""},
    {"sign plus", R"({"balancing": {"r": {"per": "item",
       "target": [{"occurrence": "item", "elements": [1], "sign": "plus"}], "sum": []}}})",
     R"(balancing rule "r": target[0].sign must be "+" or "-"; found "plus")"},
    // Shape of the section, before anything is compiled.
    {"section not an object", R"({"balancing": [1]})",
     "spec: the value at balancing must be a JSON object; found an array"},
    {"rule not an object", R"({"balancing": {"a.b": 3}})",
     R"(spec: the value at balancing."a.b" must be a JSON object; found a number)"},
    {"target not an array", R"({"balancing": {"r": {"per": "item", "target": {}, "sum": []}}})",
     "spec: the value at balancing.r.target must be an array of objects; found an object (0 members)"},
    {"term not an object", R"({"balancing": {"r": {"per": "item", "target": [], "sum": ["x"]}}})",
     "spec: the value at balancing.r.sum[0] must be a JSON object; found a string"},
    {"term missing elements", R"({"balancing": {"r": {"per": "item", "target": [{"occurrence": "x"}],
       "sum": []}}})",
     R"(spec: missing required key "elements" at balancing.r.target[0])"},
    {"elements not an array", R"({"balancing": {"r": {"per": "item", "target": [
       {"occurrence": "x", "elements": 3}], "sum": []}}})",
     "spec: the value at balancing.r.target[0].elements must be an array of non-negative integers; found a number (3)"},
    {"negative element", R"({"balancing": {"r": {"per": "item", "target": [
       {"occurrence": "x", "elements": [1, -3]}], "sum": []}}})",
     "spec: the value at balancing.r.target[0].elements[1] must be a non-negative integer; found a negative number (-3)"},
};

TEST(CompileBalancing, Cases) { testing::expect_compile(kBalanceCases); }

TEST(CompileBalancing, RecordsAndScale) {
  auto compiled = compile_small(R"({"balancing": {
    "z": {"per": "item", "target": [{"occurrence": "item", "elements": [1]}],
          "sum": [{"occurrence": "amount", "elements": [2, 1]},
                  {"loop": "sub", "occurrence": "amount", "elements": [1], "sign": "-"}]},
    "a": {"per": "sub", "target": [{"occurrence": "amount", "elements": [1], "sign": "-"}],
          "sum": [{"occurrence": "amount", "elements": [4], "component": 1, "sign": "+"}]}}})");
  ASSERT_TRUE(compiled.ok()) << compiled.error().message();
  const Spec& spec = *compiled.value();
  ASSERT_EQ(spec.balancing.size(), 2u);
  const BalanceRule& a = spec.balancing[0];
  const BalanceRule& z = spec.balancing[1];
  EXPECT_EQ(a.name, "a");
  EXPECT_EQ(a.scale, 2);
  EXPECT_EQ(z.scale, 4);  // AM02 has scale 4
  const LoopId item = *spec.loop_id("item");
  const LoopId sub = *spec.loop_id("sub");
  EXPECT_EQ(z.per, item);
  ASSERT_EQ(z.sum.size(), 2u);
  EXPECT_EQ(z.sum[0].elements, (std::vector<uint64_t>{2, 1}));
  EXPECT_EQ(spec.loops[item].occurrences[z.sum[0].occurrence].name, "amount");
  EXPECT_FALSE(z.sum[0].negative);
  EXPECT_EQ(z.sum[1].loop, sub);
  EXPECT_TRUE(z.sum[1].negative);
  EXPECT_TRUE(a.target[0].negative);
  EXPECT_EQ(a.sum[0].component, std::optional<uint64_t>(1));

  // "sum " unless one element of a single occurrence of the per loop.
  EXPECT_EQ(render_terms(spec, z.per, z.target), "IT01 of item \"item\"");
  EXPECT_EQ(render_terms(spec, z.per, z.sum),
            "sum AM02, AM01 of item \"amount\" - sum AM01 of sub \"amount\"");
  EXPECT_EQ(render_terms(spec, a.per, a.target), "- sum AM01 of sub \"amount\"");
  EXPECT_EQ(render_terms(spec, a.per, a.sum), "sum AM04-1 of sub \"amount\"");
}

}  // namespace
}  // namespace zarvi_core::spec

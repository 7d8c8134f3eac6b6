#include "zarvi_core/spec/elements.h"

#include <gtest/gtest.h>

#include "../spec_fixture.h"

#include "zarvi_core/spec/compile.h"

namespace zarvi_core::spec {
namespace {

using namespace testing;

struct Case {
  const char* name;
  const char* elements;  // of one segment "X" added to the mini spec
  std::string expected;  // the compile message, or "ok"
};

template <size_t N>
void expect_elements(const Case (&cases)[N]) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome(edit(mini(), {{"/segments/X", {{"elements", json::parse(c.elements)}}}})),
              c.expected);
  }
}

TEST(SpecElements, ParsePosition) {
  const std::pair<const char*, std::optional<uint64_t>> cases[] = {
      {"12", 12}, {"18446744073709551615", UINT64_MAX}, {"18446744073709551616", std::nullopt}, {"", std::nullopt},
      {"0", std::nullopt}, {"01", std::nullopt}, {"+1", std::nullopt}, {"1 ", std::nullopt}, {"-1", std::nullopt}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_position(text), expected) << text;
}

TEST(SpecElements, Messages) {
  const Case cases[] = {
      {"N without digit", R"({"1": {"name": "a", "type": "N"}})", R"~(segment "X" element "1": type "N" is not one of AN, ID, N0 to N9, R, DT, TM)~"},
      {"scale on AN", R"({"1": {"name": "a", "type": "AN", "scale": 2}})", R"~(segment "X" element "1": "scale" applies only to type R; found type "AN")~"},
      {"scale 19", R"({"1": {"name": "a", "type": "R", "scale": 19}})", R"~(segment "X" element "1": "scale" 19 is above the maximum of 18)~"},
      {"scale 18", R"({"1": {"name": "a", "type": "R", "scale": 18}})", "ok"},
      {"codes on numeric", R"({"1": {"name": "a", "type": "N2", "codes": ["1", "2"]}})",
       R"~(segment "X" element "1": "codes" applies to non-numeric types; type "N2" holds numbers, which one value can write several ways (1, 01, 1.0))~"},
      {"composite on ID", R"({"1": {"name": "a", "type": "ID", "composite": {}}})", R"~(segment "X" element "1": "composite" requires type AN; found type "ID")~"},
      {"nested composite before its type", R"({"1": {"name": "a", "type": "AN", "composite": {"2": {"name": "b", "type": "ID", "composite": {}}}}})",
       R"~(segment "X" element "1.composite.2": a component cannot declare its own "composite")~"},
      {"component names apart from element names", R"({"1": {"name": "a", "type": "AN", "composite": {"1": {"name": "a", "type": "ID"}}}})", "ok"},
      {"code below min", R"({"1": {"name": "a", "type": "ID", "min": 2, "codes": ["X"]}})",
       R"~(segment "X" element "1": code "X" at codes[0] has length 1; the element allows at least 2)~"},
      {"code above max", R"({"1": {"name": "a", "type": "ID", "max": 2, "codes": ["AB", "ABC"]}})",
       R"~(segment "X" element "1": code "ABC" at codes[1] has length 3; the element allows at most 2)~"},
      {"code outside both", R"({"1": {"name": "a", "type": "ID", "min": 2, "max": 3, "codes": ["ABCD"]}})",
       R"~(segment "X" element "1": code "ABCD" at codes[0] has length 4; the element allows 2 to 3)~"},
      {"length in bytes", R"({"1": {"name": "a", "type": "AN", "max": 2, "codes": ["\u00e9\u00e9"]}})",
       "segment \"X\" element \"1\": code \"\u00e9\u00e9\" at codes[0] has length 4; the element allows at most 2"},
      {"code checks by index: empty before length", R"({"1": {"name": "a", "type": "ID", "min": 2, "codes": ["", "X"]}})",
       R"~(segment "X" element "1": the code at codes[0] is empty)~"},
      {"code checks by index: length before repeat", R"({"1": {"name": "a", "type": "ID", "max": 1, "codes": ["A", "A", "BB"]}})",
       R"~(segment "X" element "1": code "A" is listed twice, at codes[0] and codes[1])~"},
  };
  expect_elements(cases);
}

// Two faults in one element: the order of the checks decides.
TEST(SpecElements, OrderOfChecks) {
  const Case cases[] = {
      {"position before name", R"({"01": {"name": "", "type": "x"}})", R"~(segment "X" element "01": positions are 1-based integers written in canonical form)~"},
      {"name before type", R"({"1": {"name": "", "type": "x"}})", R"~(segment "X" element "1": "name" is empty)~"},
      {"duplicate name before type", R"({"1": {"name": "a", "type": "AN"}, "2": {"name": "a", "type": "x"}})",
       R"~(segment "X" element "2": name "a" is already used by position "1")~"},
      {"max before min above max", R"({"1": {"name": "a", "type": "AN", "min": 3, "max": 0}})",
       R"~(segment "X" element "1": "max" is 0; an element holds at least one character)~"},
      {"bounds before codes", R"({"1": {"name": "a", "type": "AN", "min": 3, "max": 2, "codes": []}})", R"~(segment "X" element "1": "min" 3 is greater than "max" 2)~"},
      {"empty codes", R"({"1": {"name": "a", "type": "ID", "codes": []}})", R"~(segment "X" element "1": "codes" is empty; leave the key out to accept any value)~"},
      {"codes on composite before composite on ID", R"({"1": {"name": "a", "type": "ID", "codes": ["A"], "composite": {}}})",
       R"~(segment "X" element "1": "codes" applies to a simple element or a component; this element declares a "composite")~"},
      {"elements in key order", R"({"2": {"name": "", "type": "AN"}, "10": {"name": "", "type": "AN"}})", R"~(segment "X" element "10": "name" is empty)~"},
      {"components before later elements", R"({"1": {"name": "a", "type": "AN", "composite": {"1": {"name": "", "type": "AN"}}}, "2": {"name": "", "type": "AN"}})",
       R"~(segment "X" element "1.composite.1": "name" is empty)~"},
  };
  expect_elements(cases);
}

TEST(SpecElements, CompileCodes) {
  // Numeric lengths count digits only.
  const ElementType n2{ElementType::Kind::N, 2};
  EXPECT_TRUE(compile_codes({"-1.5"}, n2, 2, 2).ok());
  auto longer = compile_codes({"-1.55"}, n2, std::nullopt, 2);
  ASSERT_FALSE(longer.ok());
  EXPECT_EQ(longer.error().message(), R"~(code "-1.55" at codes[0] has length 3; the element allows at most 2)~");
  EXPECT_EQ(ElementDefError(ElementDefError::CodeLength{"x", 0, 1, std::nullopt, std::nullopt}).message(),
            R"~(code "x" at codes[0] has length 1; the element allows any length)~");
}

TEST(SpecElements, Definitions) {
  auto r = Spec::from_value(mini());
  ASSERT_TRUE(r.ok()) << r.error().message();
  const Spec& s = **r;
  EXPECT_TRUE(s.element_def("N1", 1)->rejects_code("XX"));
  EXPECT_FALSE(s.element_def("N1", 1)->rejects_code("PR"));
  EXPECT_FALSE(s.element_def("N1", 2)->rejects_code("anything"));
  EXPECT_EQ(s.element_def("SVC", 2)->type, (ElementType{ElementType::Kind::R, 2}));  // default scale
  EXPECT_EQ(s.element_def("SVC", 1, 2)->name, "code");
  EXPECT_EQ(s.element_def("SVC", 2, 1), nullptr);  // not a composite
  EXPECT_EQ(s.element_def("SVC", 1, 3), nullptr);
  EXPECT_EQ(s.element_def("SVC", 0), nullptr);
  EXPECT_EQ(to_string(ElementType{ElementType::Kind::N, 2}), "N2 (integer with 2 implied decimals)");
  EXPECT_EQ(parse_element_type("R2"), std::nullopt);
}

}  // namespace
}  // namespace zarvi_core::spec

#include "zarvi_core/write/refusal.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zarvi_core::write::refusal {
namespace {

// The refusals a compiled spec in the plan tests does not reach.
TEST(Refusal, Texts) {
  const struct {
    Refusal refusal;
    const char* expected;
  } cases[] = {
      {Refusal::required_element_unwritten("SVC01-2", "code", "service", "2110", std::nullopt),
       R"(required element SVC01-2 (code) of occurrence "service" in loop "2110", which no table writes, has no column and no single code to write)"},
      {Refusal::loop_anchored_twice("b", "item", "a"),
       R"(table "b" is anchored on loop "item", whose rows table "a" already gives; a loop takes its rows from one table)"},
      {Refusal::code_not_allowed("t", "c", "o", "l", "Z", "RF01", {"A", "B"}),
       R"(table "t" column "c" writes occurrence "o" in loop "l" with the fixed code "Z" in RF01, which its code list ("A", "B") does not allow)"},
      {Refusal::code_not_allowed("t", std::nullopt, "o", "l", "Z", "CAS01", {"CO"}),
       R"(table "t" anchor segment writes occurrence "o" in loop "l" with the fixed code "Z" in CAS01, which its code list ("CO") does not allow)"},
      {Refusal::envelope_occurrence_read("a\"b", "c\\d", "e\nf", "g"),
       R"(table "a\"b" column "c\\d" reads the envelope occurrence "e\nf" of loop "g", which the envelope and the writer's counts give)"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.refusal.text(), c.expected);
}

TEST(Place, Texts) {
  const struct {
    std::string segment;
    uint64_t element;
    std::optional<uint64_t> component;
    const char* expected;
  } cases[] = {
      {"CLP", 1, {}, "CLP01"},      {"CAS", 19, {}, "CAS19"},          {"CLP", 123, {}, "CLP123"},
      {"SVC", 1, 2, "SVC01-2"},     {"SVC", 100, 12, "SVC100-12"},
      {"N\xff", 1, {}, "N\xEF\xBF\xBD" "01"},
  };
  for (const auto& c : cases) EXPECT_EQ(place(c.segment, c.element, c.component), c.expected);
}

TEST(RenderSource, Texts) {
  using C = std::vector<spec::Condition>;
  EXPECT_EQ(render_source("DTM", C{}), R"("DTM")");
  EXPECT_EQ(render_source("PER", C{{1, "BL"}, {3, "TE"}}), R"("PER" where {1: "BL", 3: "TE"})");
  EXPECT_EQ(render_source("R\"F", C{{12, "a\\b"}}), R"("R\"F" where {12: "a\\b"})");
}

}  // namespace
}  // namespace zarvi_core::write::refusal

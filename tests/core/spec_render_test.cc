#include "zarvi_core/spec/render.h"

#include <gtest/gtest.h>

#include "zarvi_core/spec/occurrences.h"
#include "zarvi_core/spec/trigger.h"

namespace zarvi_core::spec {
namespace {

TEST(SpecRender, Triggers) {
  struct Case {
    const char* name;
    Trigger trigger;
    std::string expected;
  };
  const Case cases[] = {
      {"no conditions", {"LX", {}}, R"~("LX" with no conditions)~"},
      {"one condition", {"N1", {{1, "PR"}}}, R"~("N1" where {1: "PR"})~"},
      {"two conditions in stored order", {"N1", {{1, "PR"}, {12, "X"}}}, R"~("N1" where {1: "PR", 12: "X"})~"},
      {"escapes", {"A\"B", {{1, "a\\b"}}}, R"~("A\"B" where {1: "a\\b"})~"},
      {"invalid UTF-8 becomes U+FFFD", {"N\xFF", {{1, "\xC0"}}}, "\"N\xEF\xBF\xBD\" where {1: \"\xEF\xBF\xBD\"}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(render_trigger(c.trigger), c.expected);
  }
}

TEST(SpecRender, Selectors) {
  auto occurrence = [](std::string segment, std::optional<Qualifier> q) {
    return OccurrenceDef{"o", std::move(segment), 1, Usage::Situational, std::nullopt, std::move(q), {}};
  };
  struct Case {
    const char* name;
    OccurrenceDef occurrence;
    std::string expected;
  };
  const Case cases[] = {
      {"no qualifier", occurrence("DTM", std::nullopt), R"~("DTM")~"},
      {"one code", occurrence("REF", Qualifier{1, std::nullopt, {"EV"}}), R"~("REF" where REF01 is "EV")~"},
      {"five codes", occurrence("CAS", Qualifier{1, std::nullopt, {"A", "B", "C", "D", "E"}}),
       R"~("CAS" where CAS01 is one of "A", "B", "C", "D", "E")~"},
      {"six codes", occurrence("CAS", Qualifier{1, std::nullopt, {"A", "B", "C", "D", "E", "F"}}),
       R"~("CAS" where CAS01 is one of 6 codes)~"},
      {"component", occurrence("SVC", Qualifier{10, 3, {"HC"}}), R"~("SVC" where SVC10-3 is "HC")~"},
      {"invalid UTF-8", occurrence("R\xFF", Qualifier{1, std::nullopt, {"A"}}),
       "\"R\xEF\xBF\xBD\" where R\xEF\xBF\xBD" "01 is \"A\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(render_selector(c.occurrence), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::spec

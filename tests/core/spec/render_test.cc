#include "zarvi_core/spec/render.h"

#include <gtest/gtest.h>

#include "zarvi_core/spec/occurrences.h"
#include "zarvi_core/spec/trigger.h"

namespace zarvi_core::spec {
namespace {

TEST(SpecRender, Triggers) {
  const std::pair<Trigger, std::string> cases[] = {
      {{"LX", {}}, R"~("LX" with no conditions)~"},
      {{"N1", {{1, "PR"}, {12, "X"}}}, R"~("N1" where {1: "PR", 12: "X"})~"},  // in stored order
      {{"A\"B", {{1, "a\\b"}}}, R"~("A\"B" where {1: "a\\b"})~"},
      {{"N\xFF", {{1, "\xC0"}}}, "\"N\xEF\xBF\xBD\" where {1: \"\xEF\xBF\xBD\"}"},  // invalid UTF-8 becomes U+FFFD
  };
  for (const auto& [trigger, expected] : cases) EXPECT_EQ(render_trigger(trigger), expected);
}

TEST(SpecRender, Selectors) {
  auto selector = [](std::string segment, std::optional<Qualifier> q) {
    return render_selector(OccurrenceDef{"o", std::move(segment), 1, Usage::Situational, std::nullopt, std::move(q), {}});
  };
  EXPECT_EQ(selector("DTM", std::nullopt), R"~("DTM")~");
  EXPECT_EQ(selector("REF", Qualifier{1, std::nullopt, {"EV"}}), R"~("REF" where REF01 is "EV")~");
  EXPECT_EQ(selector("CAS", Qualifier{1, std::nullopt, {"A", "B", "C", "D", "E"}}),
            R"~("CAS" where CAS01 is one of "A", "B", "C", "D", "E")~");
  EXPECT_EQ(selector("CAS", Qualifier{1, std::nullopt, {"A", "B", "C", "D", "E", "F"}}), R"~("CAS" where CAS01 is one of 6 codes)~");
  EXPECT_EQ(selector("SVC", Qualifier{10, 3, {"HC"}}), R"~("SVC" where SVC10-3 is "HC")~");
}

}  // namespace
}  // namespace zarvi_core::spec

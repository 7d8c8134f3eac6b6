#include "zarvi_core/element.h"

#include <gtest/gtest.h>

namespace zarvi_core {
namespace {

TEST(Unescape, DropsReleaseBytes) {
  struct Case { const char* name; std::string in; std::optional<char> release; std::string out; bool owned; };
  const Case cases[] = {
      {"no release", "a?*b", std::nullopt, "a?*b", false},
      {"release absent from bytes", "ab", '?', "ab", false},
      {"released separator", "a?*b", '?', "a*b", true},
      {"released release", "??", '?', "?", true},
      {"release at the end dropped", "ab?", '?', "ab", true},
      {"lone release", "?", '?', "", true},
      {"three releases", "???x", '?', "?x", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string owned;
    const std::string_view got = unescape(c.in, c.release, owned);
    EXPECT_EQ(got, c.out);
    EXPECT_EQ(got.data() == owned.data(), c.owned);
    if (!c.owned) {
      EXPECT_EQ(got.data(), c.in.data());
    }
  }
}

}  // namespace
}  // namespace zarvi_core

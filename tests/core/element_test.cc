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
    const Bytes got = unescape(c.in, c.release);
    EXPECT_EQ(got.view(), c.out);
    EXPECT_EQ(got.is_owned(), c.owned);
    if (!c.owned) {
      EXPECT_EQ(got.view().data(), c.in.data());
    }
  }
}

TEST(Element, RefillKeepsComponentStorage) {
  Element e;
  e.reparse("A:B:C:D", ':', '?');
  const Bytes* storage = e.components().data();
  e.reparse("plain", ':', '?');
  EXPECT_FALSE(e.is_composite());
  EXPECT_TRUE(e.components().empty());
  e.reparse("X?:Y:Z", ':', '?');
  ASSERT_EQ(e.components().size(), 2u);
  EXPECT_EQ(e.components()[0].view(), "X:Y");
  EXPECT_EQ(e.components().data(), storage);
  EXPECT_TRUE(e.components()[0].is_owned());
  EXPECT_FALSE(e.components()[1].is_owned());
}

}  // namespace
}  // namespace zarvi_core

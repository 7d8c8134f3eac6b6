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

// A simple element as its bytes, a composite as [a|b|c].
std::string render(const Element& e) {
  if (!e.is_composite()) return std::string(e.value());
  std::string out = "[";
  for (const Bytes& c : e.components()) out += std::string(c.view()) + "|";
  out.back() = ']';
  return out;
}

TEST(Element, SplitsAtUnreleasedComponentSeparators) {
  struct Case { const char* name; std::string text; std::optional<char> release; std::string out; };
  const Case cases[] = {
      {"simple", "100", std::nullopt, "100"},
      {"composite", "HC:99213:25", std::nullopt, "[HC|99213|25]"},
      {"trailing separator", "A:", std::nullopt, "[A|]"},
      {"leading separator", ":B", std::nullopt, "[|B]"},
      {"repetition not split", "A^B", std::nullopt, "A^B"},
      {"released separator stays simple", "A?:B", '?', "A:B"},
      {"released then real", "C?:D:E", '?', "[C:D|E]"},
      {"released release before separator", "A??:B", '?', "[A?|B]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Element e;
    e.reparse(c.text, ':', c.release);
    EXPECT_EQ(render(e), c.out);
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
  EXPECT_EQ(render(e), "[X:Y|Z]");
  EXPECT_EQ(e.components().data(), storage);
  EXPECT_TRUE(e.components()[0].is_owned());
  EXPECT_FALSE(e.components()[1].is_owned());
}

}  // namespace
}  // namespace zarvi_core

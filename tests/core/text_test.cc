#include "zarvi_core/text.h"

#include <gtest/gtest.h>

#include "zarvi_core/spec/render.h"

namespace zarvi_core {
namespace {

struct Case {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(Quoted, EscapesLikeADebugString) {
  const Case cases[] = {
      {"plain", "CLP", "\"CLP\""},
      {"empty", "", "\"\""},
      {"invalid byte", std::string("A\xFF" "B"), "\"A\\xFFB\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"single quote kept", "it's", "\"it's\""},
      {"named controls", std::string("\t\r\n\0", 4), "\"\\t\\r\\n\\0\""},
      {"other control", "\x1d", "\"\\u{1d}\""},
      {"delete", "\x7f", "\"\\u{7f}\""},
      {"printable non-ascii", "caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"combining mark", "e\xCC\x81", "\"e\\u{301}\""},
      {"no-break space", "\xC2\xA0", "\"\\u{a0}\""},
      {"truncated sequence", "\xE2\x82", "\"\\xE2\\x82\""},
      {"surrogate bytes", "\xED\xA0\x80", "\"\\xED\\xA0\\x80\""},
      {"overlong", "\xC0\xAF", "\"\\xC0\\xAF\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(quote_bytes(c.input), c.expected);
  }
}

TEST(LossyUtf8, ReplacesMaximalInvalidSequences) {
  const Case cases[] = {
      {"valid", "N1", "N1"},
      {"lone byte", "A\xFF", "A\xEF\xBF\xBD"},
      {"truncated three-byte", "\xE2\x82" "A", "\xEF\xBF\xBD" "A"},
      {"two invalid", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lossy_utf8(c.input), c.expected);
  }
}

TEST(ElementPlace, PadsToTwoDigits) {
  EXPECT_EQ(element_place("CLP", 2), "CLP02");
  EXPECT_EQ(element_place("SVC", 1, 2), "SVC01-2");
  EXPECT_EQ(element_place("SVC", 10, 3), "SVC10-3");
  EXPECT_EQ(element_place("CLP", 123), "CLP123");
}

TEST(Render, KeysAndPaths) {
  const Case keys[] = {
      {"plain", "2000", "2000"},
      {"empty", "", "\"\""},
      {"blank", "a b", "\"a b\""},
      {"hash", "a#b", "\"a#b\""},
      {"dot", "a.b", "\"a.b\""},
      {"slash", "a/b", "\"a/b\""},
      {"no-break space", "a\xC2\xA0" "b", "\"a\xC2\xA0" "b\""},
      {"quote only", "a\"b", "a\"b"},
      {"control", "a\tb", "\"a\\tb\""},
  };
  for (const Case& c : keys) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(spec::render_key(c.input), c.expected);
  }
  EXPECT_EQ(spec::child("", "loops"), "loops");
  EXPECT_EQ(spec::child("loops", "2000"), "loops.2000");
  EXPECT_EQ(spec::child("loops", "a.b"), "loops.\"a.b\"");
  EXPECT_EQ(spec::render_chain({}), "no table");
  EXPECT_EQ(spec::render_chain({"payments", "claims"}), "payments/claims");
  EXPECT_EQ(spec::render_names({"a", "b\"c"}), "\"a\", \"b\\\"c\"");
  EXPECT_EQ(spec::render_names({}), "");
}

}  // namespace
}  // namespace zarvi_core

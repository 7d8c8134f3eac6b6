#include "zarvi_core/text.h"

#include <gtest/gtest.h>

#include <utility>

#include "zarvi_core/spec/render.h"

namespace zarvi_core {
namespace {

using Cases = std::pair<std::string, std::string>[];

TEST(Quoted, EscapesLikeADebugString) {
  const Cases cases = {
      {"CLP", "\"CLP\""},
      {"", "\"\""},
      {"A\xFF" "B", "\"A\\xFFB\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"it's", "\"it's\""},
      {std::string("\t\r\n\0", 4), "\"\\t\\r\\n\\0\""},
      {"\x1d", "\"\\u{1d}\""},
      {"\x7f", "\"\\u{7f}\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},  // printable non-ASCII kept
      {"e\xCC\x81", "\"e\\u{301}\""},      // combining mark
      {"\xC2\xA0", "\"\\u{a0}\""},         // no-break space
      {"\xE2\x82", "\"\\xE2\\x82\""},      // truncated sequence
      {"\xED\xA0\x80", "\"\\xED\\xA0\\x80\""},  // surrogate
      {"\xC0\xAF", "\"\\xC0\\xAF\""},      // overlong
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(quote_bytes(input), expected);
}

TEST(LossyUtf8, ReplacesMaximalInvalidSequences) {
  const Cases cases = {
      {"N1", "N1"},
      {"A\xFF", "A\xEF\xBF\xBD"},
      {"\xE2\x82" "A", "\xEF\xBF\xBD" "A"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& [input, expected] : cases) EXPECT_EQ(lossy_utf8(input), expected);
}

TEST(Render, KeysAndPaths) {
  const Cases keys = {
      {"2000", "2000"}, {"", "\"\""}, {"a b", "\"a b\""}, {"a#b", "\"a#b\""},
      {"a.b", "\"a.b\""}, {"a/b", "\"a/b\""}, {"a\xC2\xA0" "b", "\"a\xC2\xA0" "b\""},
      {"a\"b", "a\"b"}, {"a\tb", "\"a\\tb\""},
  };
  for (const auto& [input, expected] : keys) EXPECT_EQ(render_key(input), expected);
  EXPECT_EQ(spec::child("", "loops"), "loops");
  EXPECT_EQ(spec::child("loops", "a.b"), "loops.\"a.b\"");
  EXPECT_EQ(spec::render_chain({}), "no table");
  EXPECT_EQ(spec::render_chain({"payments", "claims"}), "payments/claims");
  EXPECT_EQ(quote_list(std::vector<std::string>{"a", "b\"c"}), "\"a\", \"b\\\"c\"");
}

}  // namespace
}  // namespace zarvi_core

#include "zarvi_core/tokenizer.h"

#include <gtest/gtest.h>

#include "test_input.h"

namespace zarvi_core {
namespace {

std::vector<Segment> all(Tokenizer& t) {
  std::vector<Segment> out;
  while (std::optional<Segment> s = t.next()) out.push_back(std::move(*s));
  return out;
}

// Segment bounds and their agreement with Document are checked by the
// document properties; this checks what only the tokenizer has.
TEST(Tokenizer, ReadsSegmentsInOrder) {
  const std::string input = "\xEF\xBB\xBF\n" + testing::isa() + "\r\nGS*HP~ST*835~\n";
  auto made = Tokenizer::create(input);
  ASSERT_TRUE(made.ok());
  Tokenizer& t = made.value();
  EXPECT_EQ(t.rest(), input);
  EXPECT_EQ(t.delimiters().repetition, '^');
  const std::vector<Segment> segments = all(t);
  ASSERT_EQ(segments.size(), 4u);
  EXPECT_EQ(segments[0].elements().size(), 16u);
  EXPECT_EQ(segments[1].raw(), "\r\nGS*HP~");
  // Trivia after the last terminator is a last, empty, unterminated segment.
  EXPECT_EQ(segments[3].raw(), "\n");
  EXPECT_FALSE(segments[3].terminated());
  EXPECT_EQ(t.index(), 4u);
  EXPECT_TRUE(t.rest().empty());
  EXPECT_FALSE(t.next().has_value());
}

}  // namespace
}  // namespace zarvi_core

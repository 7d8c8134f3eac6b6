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

TEST(Tokenizer, ReadsSegmentsInOrder) {
  const std::string input = "\xEF\xBB\xBF\n" + testing::isa() + "\r\nGS*HP~ST*835~\n";
  auto made = Tokenizer::create(input);
  ASSERT_TRUE(made.ok());
  Tokenizer& t = made.value();
  EXPECT_EQ(t.rest(), input);
  EXPECT_EQ(t.delimiters().repetition, '^');
  const std::vector<Segment> segments = all(t);
  ASSERT_EQ(segments.size(), 4u);
  EXPECT_EQ(segments[0].raw(), "\xEF\xBB\xBF\n" + testing::isa());
  EXPECT_EQ(segments[0].id(), "ISA");
  EXPECT_EQ(segments[0].elements().size(), 16u);
  EXPECT_EQ(segments[1].raw(), "\r\nGS*HP~");
  EXPECT_EQ(segments[1].id(), "GS");
  EXPECT_EQ(segments[2].raw(), "ST*835~");
  // Trivia after the last terminator is a last, empty, unterminated segment.
  EXPECT_EQ(segments[3].raw(), "\n");
  EXPECT_EQ(segments[3].id(), "");
  EXPECT_TRUE(segments[3].elements().empty());
  EXPECT_FALSE(segments[3].terminated());
  for (std::size_t i = 0; i < segments.size(); ++i) EXPECT_EQ(segments[i].index(), i);
  EXPECT_EQ(t.index(), 4u);
  EXPECT_TRUE(t.rest().empty());
  EXPECT_FALSE(t.next().has_value());
}

TEST(Tokenizer, CreateReportsTheHeaderError) {
  auto made = Tokenizer::create("  GS*HP~");
  ASSERT_FALSE(made.ok());
  EXPECT_EQ(to_string(made.error()),
            "input does not start with an ISA segment (found bytes [47 53 2a 48 50 7e] after "
            "skipping 2 bytes of whitespace)");
}

TEST(Tokenizer, GivenDelimitersSkipTheHeader) {
  Delimiters d;
  d.element = '|';
  d.segment = '\n';
  d.release = '\\';
  Tokenizer t("A|x\\|y\nB|z", d);
  const std::vector<Segment> segments = all(t);
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].element(1)->value(), "x|y");
  EXPECT_EQ(segments[1].raw(), "B|z");
  EXPECT_FALSE(segments[1].terminated());

  Tokenizer empty("", d);
  EXPECT_FALSE(empty.next().has_value());
  EXPECT_EQ(empty.index(), 0u);
}

}  // namespace
}  // namespace zarvi_core

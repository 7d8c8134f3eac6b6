#include "zarvi_core/frame.h"

#include <gtest/gtest.h>

#include "test_input.h"

namespace zarvi_core {
namespace {

struct Expected { std::string raw, body; bool terminated; std::string rest; };

void expect_frame(const std::optional<Framed>& got, const Expected& want) {
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->frame.raw, want.raw);
  EXPECT_EQ(got->frame.body, want.body);
  EXPECT_EQ(got->frame.terminated, want.terminated);
  EXPECT_EQ(got->rest, want.rest);
}

TEST(NextFrame, CutsAtTheTerminator) {
  struct Case { const char* name; std::string input; Delimiters d; Expected out; };
  const Delimiters plain;
  const Delimiters released = testing::released();
  const Case cases[] = {
      {"leading trivia", "\t\n\r GS*HP~ST", plain, {"\t\n\r GS*HP~", "GS*HP", true, "ST"}},
      {"trailing trivia stays in rest", "SE*5~\n", plain, {"SE*5~", "SE*5", true, "\n"}},
      {"all trivia", "\r\n", plain, {"\r\n", "", false, ""}},
      {"empty body", "~~", plain, {"~", "", true, "~"}},
      {"no terminator", "IEA*1*1", plain, {"IEA*1*1", "IEA*1*1", false, ""}},
      {"trivia inside the body kept", "N1*A B\n~", plain, {"N1*A B\n~", "N1*A B\n", true, ""}},
      {"released terminator", "NM1*A?~B~C", released, {"NM1*A?~B~", "NM1*A?~B", true, "C"}},
      {"released release", "A??~B", released, {"A??~", "A??", true, "B"}},
      {"release at the end", "A*B?", released, {"A*B?", "A*B?", false, ""}},
      {"release before the end", "A?~", released, {"A?~", "A?~", false, ""}},
      {"release ignored without one", "A?~B", plain, {"A?~", "A?", true, "B"}},
      {"mark is not trivia later", "\xEF\xBB\xBFGS~", plain, {"\xEF\xBB\xBFGS~", "\xEF\xBB\xBFGS", true, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_frame(next_frame(c.input, c.d), c.out);
  }
  EXPECT_FALSE(next_frame("", plain).has_value());
}

TEST(FirstFrame, TakesTheByteOrderMarkAsTrivia) {
  struct Case { const char* name; std::string input; Expected out; };
  const Case cases[] = {
      {"mark then header", "\xEF\xBB\xBF" "ISA*~GS~", {"\xEF\xBB\xBF" "ISA*~", "ISA*", true, "GS~"}},
      {"mark then whitespace", "\xEF\xBB\xBF\r\nISA~", {"\xEF\xBB\xBF\r\nISA~", "ISA", true, ""}},
      {"whitespace before the mark", " \xEF\xBB\xBF~", {" \xEF\xBB\xBF~", "\xEF\xBB\xBF", true, ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_frame(first_frame(c.input, Delimiters{}), c.out);
  }
  EXPECT_FALSE(first_frame("", Delimiters{}).has_value());
  // A mark alone: an empty body that lies at the end of the mark.
  const std::string mark = "\xEF\xBB\xBF";
  const auto framed = first_frame(mark, Delimiters{});
  ASSERT_TRUE(framed.has_value());
  expect_frame(framed, {mark, "", false, ""});
  EXPECT_EQ(framed->frame.body.data(), mark.data() + 3);
}

}  // namespace
}  // namespace zarvi_core

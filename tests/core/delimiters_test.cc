#include "zarvi_core/delimiters.h"

#include <gtest/gtest.h>

#include "test_input.h"

namespace zarvi_core {
namespace {

using testing::isa;

Delimiters make(char element, char component, char segment, std::optional<char> repetition) {
  Delimiters d;
  d.element = element;
  d.component = component;
  d.segment = segment;
  d.repetition = repetition;
  return d;
}

TEST(FromIsa, ReadsTheDeclaredDelimiters) {
  struct Case {
    const char* name;
    std::string input;
    Delimiters expected;
  };
  const Case cases[] = {
      {"5010 defaults", isa(), make('*', ':', '~', '^')},
      {"header only, nothing after", isa('|', '>', '\n'), make('|', '>', '\n', '^')},
      {"4010 standards id", isa('*', ':', '~', "U", "00401"), make('*', ':', '~', std::nullopt)},
      {"ISA11 of two bytes", isa('*', ':', '~', "^^", "00501"), make('*', ':', '~', std::nullopt)},
      {"ISA12 exactly 00402", isa('*', ':', '~', "!", "00402"), make('*', ':', '~', '!')},
      {"ISA12 longer than five", isa('*', ':', '~', "!", "004020"), make('*', ':', '~', '!')},
      {"ISA12 short prefix", isa('*', ':', '~', "!", "0040"), make('*', ':', '~', std::nullopt)},
      {"ISA12 above by bytes", isa('*', ':', '~', "!", "9"), make('*', ':', '~', '!')},
      {"any bytes, even equal", isa('*', '*', '*'), make('*', '*', '*', '^')},
      {"widths not assumed", "ISA*0*0*0*0*0*0*0*0*0*0*^*00501*1*0*P*:~", make('*', ':', '~', '^')},
      {"only separators", "ISA****************:~", make('*', ':', '~', std::nullopt)},
      {"terminator followed by CR LF", isa() + "\r\nGS", make('*', ':', '~', '^')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = Delimiters::from_isa(c.input);
    ASSERT_TRUE(read.ok()) << to_string(read.error());
    EXPECT_EQ(read.value(), c.expected);
    EXPECT_FALSE(read->release.has_value());
  }
}

TEST(FromIsa, ErrorSentences) {
  struct Case {
    const char* name;
    std::string input;
    bool skip_trivia;
    std::string expected;
  };
  const std::string full = isa();
  const Case cases[] = {
      {"empty", "", false, "input does not start with an ISA segment (input is empty)"},
      {"two bytes", "IS", false, "input does not start with an ISA segment (found bytes [49 53])"},
      {"at most eight bytes", "GS*00501*X", false,
       "input does not start with an ISA segment (found bytes [47 53 2a 30 30 35 30 31])"},
      {"high bytes in hex", std::string("\xFF\x00Z", 3), false,
       "input does not start with an ISA segment (found bytes [ff 00 5a])"},
      {"only ISA", "ISA", false, "ISA segment truncated after 3 bytes: found 0 of 16 element separators"},
      {"one short of sixteen", full.substr(0, full.size() - 3), false,
       "ISA segment truncated after 103 bytes: found 15 of 16 element separators"},
      {"no terminator", full.substr(0, full.size() - 1), false,
       "ISA segment truncated after 105 bytes: ISA16 or the terminator is missing"},
      {"whitespace only", "   ", true,
       "input does not start with an ISA segment (input holds only 3 bytes of whitespace)"},
      {"one byte of whitespace", "\n", true,
       "input does not start with an ISA segment (input holds only 1 byte of whitespace)"},
      {"mark only", "\xEF\xBB\xBF", true,
       "input does not start with an ISA segment (input holds only a UTF-8 byte order mark)"},
      {"mark, CR LF, then GS", "\xEF\xBB\xBF\r\nGS*HP*SENDER", true,
       "input does not start with an ISA segment (found bytes [47 53 2a 48 50 2a 53 45] after "
       "skipping a UTF-8 byte order mark and 2 bytes of whitespace)"},
      {"truncated after trivia", "\t ISA*00*", true,
       "ISA segment truncated after 7 bytes (counted after skipping 2 bytes of whitespace): found "
       "2 of 16 element separators"},
      {"mark is trivia only at the start", " \xEF\xBB\xBFISA", true,
       "input does not start with an ISA segment (found bytes [ef bb bf 49 53 41] after skipping "
       "1 byte of whitespace)"},
      {"no trivia skipped by from_isa", " ISA", false,
       "input does not start with an ISA segment (found bytes [20 49 53 41])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = c.skip_trivia ? Delimiters::from_isa_after_leading_trivia(c.input)
                              : Delimiters::from_isa(c.input);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(to_string(read.error()), c.expected);
  }
}

TEST(FromIsa, SkipsLeadingTriviaBeforeTheHeader) {
  auto read = Delimiters::from_isa_after_leading_trivia("\xEF\xBB\xBF \t\r\n" + isa('|'));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read->element, '|');
}

}  // namespace
}  // namespace zarvi_core

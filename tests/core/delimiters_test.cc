#include "zarvi_core/delimiters.h"

#include <gtest/gtest.h>

#include "test_input.h"

namespace zarvi_core {
namespace {

using testing::isa;

// Delimiters from "*:~^": element, component, segment and, when given, repetition.
Delimiters make(const char* s) {
  Delimiters d;
  d.element = s[0];
  d.component = s[1];
  d.segment = s[2];
  d.repetition = s[3] ? std::optional<char>(s[3]) : std::nullopt;
  return d;
}

TEST(FromIsa, ReadsTheDeclaredDelimiters) {
  struct Case { const char* name; std::string input; Delimiters expected; };
  const Case cases[] = {
      {"5010 defaults, then CR LF", isa() + "\r\nGS", make("*:~^")},
      {"header only, nothing after", isa('|', '>', '\n'), make("|>\n^")},
      {"4010 standards id", isa('*', ':', '~', "U", "00401"), make("*:~")},
      {"ISA11 of two bytes", isa('*', ':', '~', "^^", "00501"), make("*:~")},
      {"ISA12 exactly 00402", isa('*', ':', '~', "!", "00402"), make("*:~!")},
      {"ISA12 longer than five", isa('*', ':', '~', "!", "004020"), make("*:~!")},
      {"ISA12 short prefix", isa('*', ':', '~', "!", "0040"), make("*:~")},
      {"ISA12 above by bytes", isa('*', ':', '~', "!", "9"), make("*:~!")},
      {"any bytes, even equal", isa('*', '*', '*'), make("***^")},
      {"widths not assumed", "ISA*0*0*0*0*0*0*0*0*0*0*^*00501*1*0*P*:~", make("*:~^")},
      {"only separators", "ISA****************:~", make("*:~")},
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
  struct Case { const char* name; std::string input; bool skip_trivia; std::string expected; };
  const std::string full = isa();
  const std::string no_isa = "input does not start with an ISA segment (";
  const Case cases[] = {
      {"empty", "", false, no_isa + "input is empty)"},
      {"at most eight bytes", "GS*00501*X", false, no_isa + "found bytes [47 53 2a 30 30 35 30 31])"},
      {"high bytes in hex", std::string("\xFF\x00Z", 3), false, no_isa + "found bytes [ff 00 5a])"},
      {"no trivia skipped by from_isa", " ISA", false, no_isa + "found bytes [20 49 53 41])"},
      {"only ISA", "ISA", false, "ISA segment truncated after 3 bytes: found 0 of 16 element separators"},
      {"one short of sixteen", full.substr(0, full.size() - 3), false,
       "ISA segment truncated after 103 bytes: found 15 of 16 element separators"},
      {"no terminator", full.substr(0, full.size() - 1), false,
       "ISA segment truncated after 105 bytes: ISA16 or the terminator is missing"},
      {"whitespace only", "   ", true, no_isa + "input holds only 3 bytes of whitespace)"},
      {"one byte of whitespace", "\n", true, no_isa + "input holds only 1 byte of whitespace)"},
      {"mark only", "\xEF\xBB\xBF", true, no_isa + "input holds only a UTF-8 byte order mark)"},
      {"mark, CR LF, then GS", "\xEF\xBB\xBF\r\nGS*HP*SENDER", true,
       no_isa + "found bytes [47 53 2a 48 50 2a 53 45] after skipping a UTF-8 byte order mark "
                "and 2 bytes of whitespace)"},
      {"truncated after trivia", "\t ISA*00*", true,
       "ISA segment truncated after 7 bytes (counted after skipping 2 bytes of whitespace): found "
       "2 of 16 element separators"},
      {"mark is trivia only at the start", " \xEF\xBB\xBFISA", true,
       no_isa + "found bytes [ef bb bf 49 53 41] after skipping 1 byte of whitespace)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto read = c.skip_trivia ? Delimiters::from_isa_after_leading_trivia(c.input)
                              : Delimiters::from_isa(c.input);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(to_string(read.error()), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "zarvi_core/project/plan.h"

namespace zarvi_core::project::plan {
namespace {

// Membership must match the sorted string list exactly, whichever way the
// set stores it (packed short codes, or strings when a code is longer).
TEST(CodeSet, MembershipMatchesTheList) {
  struct Case {
    const char* name;
    std::vector<std::string> codes;
    std::vector<std::string> out;  // not members
  };
  const std::vector<Case> cases = {
      {"short codes", {"1", "19", "22", "ABC", "MA18"},
       {"2", "11", "191", "AB", "ABCD", "MA1", "MA180", "1 ", std::string("1\0", 2), ""}},
      {"seven-byte codes", {"ABCDEF", "ABCDEFG"}, {"ABCDEFGH", "ABCDE", "BCDEFG"}},
      {"four codes, the most kept in the set", {"A", "BB", "CCC", "DDDD"},
       {"", "AB", "DDD", "CCCC", "DDDDD"}},
      {"high bytes", {"\x80", "\xff\xff"}, {"\xff", "\x80\x80"}},
      {"a longer code", {"A", "ABCDEFGH"}, {"ABCDEFG", "ABCDEFGHI", "B"}},
      {"the empty code", {"", "X"}, {"Y"}},
      {"many codes", {}, {"1000", "A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> codes = c.codes;
    // "many": enough codes to need several table doublings.
    for (int i = 0; c.codes.empty() && i < 500; ++i) codes.push_back(std::to_string(i));
    std::sort(codes.begin(), codes.end());
    const CodeSet set(codes, nullptr);
    for (const std::string& code : codes) EXPECT_TRUE(set.contains(code)) << code;
    for (const std::string& code : c.out) EXPECT_FALSE(set.contains(code)) << code;
  }
}

}  // namespace
}  // namespace zarvi_core::project::plan

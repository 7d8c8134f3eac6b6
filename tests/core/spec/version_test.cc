#include "zarvi_core/spec/version.h"

#include <gtest/gtest.h>

#include "zarvi_core/tokenizer.h"

namespace zarvi_core::spec {
namespace {

struct CompileCase {
  const char* name;
  uint64_t element;
  std::vector<std::string> values;
  const char* expected;  // error text, or "" for success
};

const CompileCase kCompileCases[] = {
    {"valid", 8, {"005010X221A1"}, ""},
    {"zero element before empty values", 0, {}, "\"element\" is 0; positions are 1-based"},
    {"no values", 8, {}, "\"values\" is empty; list at least one value the element may hold"},
    {"empty value before duplicate", 8, {"A", "A", ""}, "\"values[2]\" is empty"},
    {"first duplicate wins", 8, {"B", "A", "A", "B"}, "value \"A\" is listed twice, at values[1] and values[2]"},
};

TEST(CompileVersion, Cases) {
  for (const CompileCase& c : kCompileCases) {
    auto compiled = compile_version("GS", c.element, c.values);
    EXPECT_EQ(compiled.ok() ? std::string() : to_string(compiled.error()), c.expected) << c.name;
    if (compiled.ok()) {
      EXPECT_EQ(*compiled, (DeclaredVersion{"GS", 8, c.values}));
    }
  }
}

const DeclaredVersion k5010{"GS", 8, {"005010X221A1"}};
const DeclaredVersion k4010{"GS", 8, {"004010X091A1", "004010X091", "004010"}};
const DeclaredVersion kSt3{"ST", 3, {"005010X221A1"}};

struct SelectCase {
  const char* name;
  std::vector<const DeclaredVersion*> candidates;
  const char* input;  // segments with * and ~, no ISA needed
  std::optional<std::size_t> expected;
};

const SelectCase kSelectCases[] = {
    {"5010 file", {&k5010, &k4010}, "GS*HP*S*R*1*1*1*X*005010X221A1~", 0},
    {"unknown version", {&k5010, &k4010}, "GS*HP*S*R*1*1*1*X*003070~", std::nullopt},
    {"element missing", {&k5010, &k4010}, "GS*HP*S*R~", std::nullopt},
    {"element is a composite", {&k5010, &k4010}, "GS*HP*S*R*1*1*1*X*005010X221A1:2~", std::nullopt},
    {"first GS decides", {&k5010, &k4010}, "GS*HP*S*R*1*1*1*X*004010~GS*HP*S*R*1*1*1*X*005010X221A1~", 1},
    {"candidate without version is never chosen", {nullptr, &k5010}, "GS*HP*S*R*1*1*1*X*005010X221A1~", 1},
    // An undecided earlier candidate holds back a matched later one until
    // it is decided or the input ends.
    {"held back then matched at end", {&kSt3, &k5010}, "GS*HP*S*R*1*1*1*X*005010X221A1~", 1},
    {"held back then earlier matches", {&kSt3, &k5010}, "GS*HP*S*R*1*1*1*X*005010X221A1~ST*835*1*005010X221A1~", 0},
    {"held back then earlier out", {&kSt3, &k5010}, "GS*HP*S*R*1*1*1*X*005010X221A1~ST*835*1~", 1},
};

TEST(SelectVersion, Cases) {
  for (const SelectCase& c : kSelectCases) {
    SCOPED_TRACE(c.name);
    Tokenizer tokens(c.input, Delimiters{});
    NextSegment next = [&] { return tokens.next(); };
    EXPECT_EQ(select_version(c.candidates, next), c.expected);
  }
}

TEST(SelectVersion, StopsReadingOnceDecided) {
  Tokenizer tokens("ISA~GS*HP*S*R*1*1*1*X*005010X221A1~ST~SE~GE~", Delimiters{});
  std::size_t reads = 0;
  NextSegment next = [&] { ++reads; return tokens.next(); };
  const DeclaredVersion* candidates[] = {&k5010, &k4010};
  EXPECT_EQ(select_version(candidates, next), std::optional<std::size_t>(0));
  EXPECT_EQ(reads, 2u);
}

}  // namespace
}  // namespace zarvi_core::spec

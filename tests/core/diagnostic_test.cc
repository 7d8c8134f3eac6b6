#include "zarvi_core/diagnostic.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "zarvi_core/text.h"

namespace zarvi_core {
namespace {

using R = Rule;

ElementRef place(const char* id, uint64_t element, std::optional<uint64_t> component = {}) {
  return ElementRef{id, element, component};
}

constexpr i128 kI128Max = std::numeric_limits<i128>::max();
constexpr i128 kI128Min = std::numeric_limits<i128>::min();

std::vector<uint64_t> segments(uint64_t n) {
  std::vector<uint64_t> out;
  for (uint64_t i = 1; i <= n; ++i) out.push_back(i * 10);
  return out;
}

const std::string kFailsAt = "balancing rule \"r\" fails in loop \"l\" opened at segment #0: ";
const std::string kTenSegments = "#10, #20, #30, #40, #50, #60, #70, #80, #90, #100";

TEST(RuleSentence, EveryKind) {
  const struct {
    Rule::Data rule;
    std::string expected;
  } cases[] = {
      {R::ByteOrderMark{}, "the input starts with a UTF-8 byte order mark, kept as leading trivia of the first segment"},
      {R::UnknownSegment{"ZZ\xFF"}, "segment \"ZZ\\xFF\" is not part of the structure: no open loop holds it and it opens no loop"},
      {R::ImplicitLoop{"2100", "CLP", "CAS"}, "loop \"2100\" opened without its own trigger (CLP) to hold segment \"CAS\""},
      {R::UnterminatedLoop{"group", 3, "GE"}, "loop \"group\" opened at segment #3 closed without its end segment \"GE\""},
      {R::UnterminatedLoop{"group", {}, "GE"}, "loop \"group\" closed without its end segment \"GE\""},
      {R::ControlCountMismatch{place("SE", 1), "12", 11}, "SE01 declares \"12\" but the count is 11"},
      {R::ControlElementMissing{place("GE", 2), 2}, "control element GE02 is missing: the segment has no element 2"},
      {R::ControlNumberMismatch{place("SE", 2), "0002", place("ST", 2), "0001", 7}, "SE02 \"0002\" does not match ST02 \"0001\" of segment #7"},
      {R::ControlNumberMismatch{place("SE", 2), "0002", place("ST", 2), "0001", {}}, "SE02 \"0002\" does not match ST02 \"0001\""},
      {R::RequiredElementMissing{place("SVC", 1, 2), "procedure code"}, "required element SVC01-2 (procedure code) is missing or empty"},
      {R::TypeMismatch{place("CLP", 3), "charge", ElementType{ElementType::Kind::R, 2}}, "element CLP03 (charge) is not a valid R (decimal, scale 2)"},
      {R::LengthOutOfRange{place("CLP", 1), "claim id", 40, 1, 38}, "element CLP01 (claim id) has length 40; the spec allows 1 to 38"},
      {R::LengthOutOfRange{place("CLP", 1), "claim id", 40, {}, 38}, "element CLP01 (claim id) has length 40; the spec allows at most 38"},
      {R::LengthOutOfRange{place("CLP", 1), "claim id", 0, 1, {}}, "element CLP01 (claim id) has length 0; the spec allows at least 1"},
      {R::LengthOutOfRange{place("CLP", 1), "claim id", 3, {}, {}}, "element CLP01 (claim id) has length 3; the spec allows any length"},
      {R::ValueDropped{"status", "claims", 2147483650},
       "text for column \"status\" of table \"claims\" was not stored: it would bring the column to 2147483650 bytes and a "
       "column holds at most 2147483647"},
      {R::CompositeShape{place("SVC", 1), "procedure", 9, 8}, "element SVC01 (procedure) has 9 components; the spec declares 8"},
      {R::CodeNotInList{place("BPR", 1), "handling", {"I"}, {}}, "element BPR01 (handling) is not the one code the spec lists for it (\"I\")"},
      {R::CodeNotInList{place("CLP", 2), "status", {"1", "2", "3", "4", "22"}, {}},
       "element CLP02 (status) is not one of the 5 codes the spec lists for it (\"1\", \"2\", \"3\", \"4\", \"22\")"},
      {R::CodeNotInList{place("CLP", 2), "status", {"1", "2", "3", "4", "19", "22"}, {}},
       "element CLP02 (status) is not one of the 6 codes the spec lists for it"},
      {R::CodeNotInList{place("REF", 1), "qualifier", {"EA", "F8"}, std::string("claim_ref")},
       "element REF01 (qualifier) is not one of the 2 codes the spec lists for it in occurrence \"claim_ref\" (\"EA\", \"F8\")"},
      {R::RequiredOccurrenceMissing{"2100", 5, "claim_payment", "CLP"},
       "loop \"2100\" opened at segment #5 closed without its required occurrence \"claim_payment\" (CLP)"},
      {R::OccurrenceOverMax{"payer_ref", "REF*2U", "1000A", 2, 1},
       "occurrence \"payer_ref\" (REF*2U) of loop \"1000A\" appears 2 times in one instance; the spec allows at most 1"},
      {R::LoopOverMax{"2110", 1000, std::string("2100"), 999},
       "loop \"2110\" has 1000 instances under one instance of loop \"2100\"; the spec allows at most 999"},
      {R::LoopOverMax{"interchange", 2, {}, 1}, "loop \"interchange\" has 2 instances at the root; the spec allows at most 1"},
      {R::OutOfOrder{"payer", 2, "1000A", "payee", 3, "1000B"},
       "occurrence \"payer\" (position 2) of loop \"1000A\" comes after occurrence \"payee\" (position 3) of loop \"1000B\""},
      {R::UnknownOccurrence{"REF", {"a", "b"}, "2100", place("REF", 1)},
       "segment \"REF\" matches none of the 2 occurrences loop \"2100\" declares for it (\"a\", \"b\"): REF01 holds none of "
       "their qualifier codes"},
      {R::UnknownOccurrence{"REF", {"a", "b", "c", "d", "e", "f"}, "2100", place("REF", 1)},
       "segment \"REF\" matches none of the 6 occurrences loop \"2100\" declares for it: REF01 holds none of their "
       "qualifier codes"},
      {R::RequiredLoopMissing{"transaction", 2, "1000A", "N1*PR"},
       "loop \"transaction\" opened at segment #2 closed without its required child loop \"1000A\" (trigger N1*PR)"},
      {R::BalanceMismatch{"claim_balance", "2100", 4, "CLP03", 10000, "sum CAS03", 9950, 2, {5, 6}},
       "balancing rule \"claim_balance\" fails in loop \"2100\" opened at segment #4: CLP03 is 100.00, but sum CAS03 adds "
       "up to 99.50 (off by 0.50); read from segments #5, #6"},
      {R::BalanceMismatch{"r", "2100", {}, "T", -5, "S", 0, 2, {1}},
       "balancing rule \"r\" fails in loop \"2100\" opened implicitly: T is -0.05, but S adds up to 0.00 (off by -0.05); "
       "read from segments #1"},
      {R::BalanceMismatch{"r", "l", 0, "T", 1, "S", 0, 0, segments(10)},
       kFailsAt + "T is 1, but S adds up to 0 (off by 1); read from segments " + kTenSegments},
      {R::BalanceMismatch{"r", "l", 0, "T", 1, "S", 0, 0, segments(12)},
       kFailsAt + "T is 1, but S adds up to 0 (off by 1); read from segments " + kTenSegments + " and 2 more"},
      // The difference overflows: it is left out.
      {R::BalanceMismatch{"r", "l", 0, "T", kI128Max, "S", -1, 0, {}},
       kFailsAt + "T is 170141183460469231731687303715884105727, but S adds up to -1; read from segments "},
      {R::BalanceMismatch{"r", "l", 0, "T", kI128Min, "S", 0, 2, {}},
       kFailsAt + "T is -1701411834604692317316873037158841057.28, but S adds up to 0.00 (off by "
                  "-1701411834604692317316873037158841057.28); read from segments "},
      {R::External{"bad thing", "validator", {}, SnipLevel{1}}, "bad thing (reported by validator)"},
      {R::External{"bad thing", "validator", std::string("E12"), SnipLevel{1}}, "bad thing (reported by validator, code E12)"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_string(Rule{c.rule}), c.expected);
}

// Names and levels of checked kinds are shown by the check and process tests.
TEST(RuleKind, ExternalCarriesItsOwnLevel) {
  const Rule first{R::ByteOrderMark{}};
  EXPECT_EQ(kind_name(first.kind()), "ByteOrderMark");
  EXPECT_EQ(first.level().level(), 1);
  EXPECT_EQ((Rule{R::External{"m", "o", {}, SnipLevel{0}}}.level().level()), 1);
  EXPECT_EQ((Rule{R::External{"m", "o", {}, SnipLevel{2}}}.level().level()), 3);
}

TEST(DiagnosticLine, PiecesAndSeparators) {
  const Rule rule{R::ByteOrderMark{}};
  auto line = [&](std::string level, std::string where, std::string path, std::string datum) {
    const std::string dot = " \xC2\xB7 ";
    return "SNIP " + level + dot + to_string(rule) + dot + where + dot + path + dot + "datum " + datum;
  };
  const struct {
    Diagnostic diagnostic;
    std::string expected;
  } cases[] = {
      {{{}, {}, {}, rule, {}, "", SnipLevel{0}}, line("1", "end of stream", "at the root", "\"\"")},
      {{7, 2, 1, rule, {{"transaction", 1}, {"2100", 3}}, "A\xFF" "B", SnipLevel{1}},
       line("2", "segment #7, element 2, component 1", "at transaction#1/2100#3", "\"A\\xFFB\"")},
      // A component without an element is not shown.
      {{0, {}, 4, rule, {}, "\"", SnipLevel{2}}, line("3", "segment #0", "at the root", "\"\\\"\"")},
      {{3, 1, {}, rule, {{"my loop", 2}, {"", 1}}, "x", SnipLevel{1}},
       line("2", "segment #3, element 1", "at \"my loop\"#2/\"\"#1", "\"x\"")},
  };
  for (const auto& c : cases) EXPECT_EQ(to_string(c.diagnostic), c.expected);
}

TEST(RenderAmount, PadsSignsAndPoints) {
  EXPECT_EQ(render_amount(kI128Min, 0), "-170141183460469231731687303715884105728");
  EXPECT_EQ(render_amount(kI128Min, 39), "-0.170141183460469231731687303715884105728");
  EXPECT_EQ(render_amount(-7, 40), "-0.0000000000000000000000000000000000000007");
}

// Arbitrary bytes in every byte field (ids, codes, datum) still give a line of
// valid UTF-8, quotes and escapes included; names are text from the spec.
TEST(DiagnosticLine, RandomBytesRender) {
  std::mt19937 rng(7);
  auto bytes = [&] {
    std::string s(rng() % 24, '\0');
    for (char& ch : s) ch = static_cast<char>(rng());
    return s;
  };
  for (int i = 0; i < 2000; ++i) {
    Diagnostic d{i, {}, {}, Rule{R::CodeNotInList{{bytes(), 1, {}}, "name", {bytes(), bytes()}, {}}},
                 {{"2100", 1}}, bytes(), SnipLevel{1}};
    const std::string line = to_string(d);
    EXPECT_EQ(line.rfind("SNIP 2", 0), 0u);
    EXPECT_EQ(lossy_utf8(line), line) << "the line is valid UTF-8";
  }
}

}  // namespace
}  // namespace zarvi_core

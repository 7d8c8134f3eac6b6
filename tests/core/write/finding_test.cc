#include "zarvi_core/write/finding.h"

#include <gtest/gtest.h>

namespace zarvi_core::write::finding {
namespace {

using F = Finding;

const Origin kCell = Origin::cell("claims", 3, "amount");
const Origin kRow = Origin::row("claims", 3);
const Origin kField = Origin::envelope("sender_id");

// A read-back diagnostic, for the kind and subject cases.
Diagnostic unknown_segment() {
  return Diagnostic{4, 2, {}, Rule{Rule::UnknownSegment{"ZZ"}}, {{"transaction", 1}}, "Z~",
                    SnipLevel{0}};
}

TEST(FindingText, EveryKind) {
  const struct {
    const char* name;
    Finding finding;
    std::string expected;
  } cases[] = {
      {"escaped origin", {F::NotWritable{Origin::cell("a\"b", 0, "c\nd"), "1", "X01", "why"}},
       "table \"a\\\"b\" row 0 column \"c\\nd\" holds 1, which X01 cannot hold: why"},
      {"delimiter in envelope value",
       {F::DelimiterInValue{kField, "ISA06", "A\tB", "segment terminator", '\t'}},
       "envelope field \"sender_id\" writes ISA06 with \"A\\tB\", which holds the segment "
       "terminator \"\\t\"; a value cannot hold the interchange's delimiters"},
      {"unwritten value", {F::UnwrittenValue{kCell, "\"x\"", "REF01", "ZZ", {"EV", "F2"}}},
       "table \"claims\" row 3 column \"amount\" holds \"x\", but the column reads REF01 \"ZZ\", "
       "which the element's code list (\"EV\", \"F2\") excludes, so no valid file holds it"},
      {"missing parent, negative", {F::MissingParent{"claims", 2, "payment", -1, "payments"}},
       "table \"claims\" row 2 column \"payment\" refers to row -1, which table \"payments\" lacks"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_string(c.finding), c.expected);
  }
}

TEST(FindingKind, NumbersAndNames) {
  const Finding findings[] = {
      {F::DelimiterInValue{kCell, "", "", "", '*'}}, {F::UnwrittenValue{kCell, "", "", "", {}}},
      {F::MissingParent{}}, {F::MismatchedReference{}}, {F::DuplicateRowNumber{}},
      {F::OutOfOrder{}}, {F::NotWritable{kCell, "", "", ""}},
      {F::ReadBack{unknown_segment(), std::nullopt}},
  };
  const char* const names[] = {"DelimiterInValue", "UnwrittenValue", "MissingParent",
                               "MismatchedReference", "DuplicateRowNumber", "OutOfOrder",
                               "NotWritable", "ReadBack"};
  static_assert(std::size(names) == kKinds);
  for (size_t i = 0; i < kKinds; ++i) {
    EXPECT_EQ(static_cast<size_t>(findings[i].kind()), i);
    EXPECT_EQ(kind_name(findings[i].kind()), names[i]);
  }
}

TEST(FindingSubject, FromOriginOrOwnData) {
  using Opt = std::optional<std::string_view>;
  const struct {
    const char* name;
    Finding finding;
    Opt table;
    std::optional<uint64_t> row;
    Opt column;
    Opt field;
  } cases[] = {
      {"cell origin", {F::NotWritable{kCell, "", "", ""}}, "claims", 3, "amount", {}},
      {"row origin", {F::ReadBack{unknown_segment(), kRow}}, "claims", 3, {}, {}},
      {"envelope origin", {F::DelimiterInValue{kField, "", "", "", '*'}}, {}, {}, {}, "sender_id"},
      {"no origin", {F::ReadBack{unknown_segment(), std::nullopt}}, {}, {}, {}, {}},
      {"a code of the spec", {F::DelimiterInValue{std::nullopt, "ST01", "8~5", "", '~'}}, {}, {},
       {}, {}},
      {"missing parent", {F::MissingParent{"claims", 2, "payment", {}, "payments"}},
       "claims", 2, "payment", {}},
      {"mismatched", {F::MismatchedReference{"services", 4, "payment", 1, "claim", 7, "claims", 2}},
       "services", 4, "payment", {}},
      {"out of order", {F::OutOfOrder{"claims", 1, "payment", 5, 3}}, "claims", 1, "payment", {}},
      {"duplicate has no column", {F::DuplicateRowNumber{"payments", 1, 5, 0}}, "payments", 1, {},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Subject s = subject(c.finding);
    EXPECT_EQ(s.table, c.table);
    EXPECT_EQ(s.row, c.row);
    EXPECT_EQ(s.column, c.column);
    EXPECT_EQ(s.field, c.field);
  }
}

TEST(WriteErrorText, EveryKind) {
  using E = WriteError;
  const auto kInt = column::ColumnType::int64();
  refusal::PlanError plan{"tiny", {refusal::Refusal::many_anchor_loops("t", {"a", "b"})}};
  const std::string plan_text = plan.text();
  const Finding duplicate{F::DuplicateRowNumber{"payments", 1, 5, 0}};
  const Finding missing{F::MissingParent{"claims", 2, "payment", {}, "payments"}};
  const struct {
    const char* name;
    WriteError error;
    ErrorKind kind;
    std::string expected;
  } cases[] = {
      // Texts checked where the error arises; here only the kind.
      {"plan", {E::Plan{plan}}, ErrorKind::Plan, plan_text},
      {"unknown table", {E::UnknownTable{"x", {}}}, ErrorKind::UnknownTable, ""},
      {"unknown column", {E::UnknownColumn{"t", "x", {}}}, ErrorKind::UnknownColumn, ""},
      {"type", {E::ColumnTypeMismatch{"t", "r", kInt, kInt}}, ErrorKind::ColumnTypeMismatch, ""},
      {"shared delimiter", {E::SharedDelimiter{"a", "b", '*'}}, ErrorKind::SharedDelimiter, ""},
      {"not allowed", {E::DelimiterNotAllowed{"a", '\n'}}, ErrorKind::DelimiterNotAllowed, ""},
      {"repetition unset", {E::RepetitionUnset{}}, ErrorKind::RepetitionUnset, ""},
      {"unreadable", {E::Unreadable{"no ISA"}}, ErrorKind::Unreadable, ""},
      {"one finding", {E::Findings{{duplicate}}}, ErrorKind::Findings,
       "the tables do not make a valid file (1 finding); nothing was written\n1. " +
           to_string(duplicate)},
      {"two findings", {E::Findings{{duplicate, missing}}}, ErrorKind::Findings,
       "the tables do not make a valid file (2 findings); nothing was written\n1. " +
           to_string(duplicate) + "\n2. " + to_string(missing)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.error.kind(), c.kind);
    if (!c.expected.empty()) {
      EXPECT_EQ(to_string(c.error), c.expected);
    }
  }
}

}  // namespace
}  // namespace zarvi_core::write::finding

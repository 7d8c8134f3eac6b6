#include "zarvi_core/write/finding.h"

#include <gtest/gtest.h>

namespace zarvi_core::write::finding {
namespace {

using F = Finding;

const Origin kCell = Origin::cell("claims", 3, "amount");
const Origin kRow = Origin::row("claims", 3);
const Origin kField = Origin::envelope("sender_id");

TEST(OriginText, EachKindQuotesItsNames) {
  const struct {
    const char* name;
    Origin origin;
    const char* expected;
  } cases[] = {
      {"row", kRow, "table \"claims\" row 3"},
      {"cell", kCell, "table \"claims\" row 3 column \"amount\""},
      {"envelope", kField, "envelope field \"sender_id\""},
      {"escaped", Origin::cell("a\"b", 0, "c\nd"), "table \"a\\\"b\" row 0 column \"c\\nd\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_string(c.origin), c.expected);
  }
}

// A read-back diagnostic as the reader renders it: "SNIP 1 · {sentence} ·
// segment #4, element 2 · at {path} · datum {quoted}".
Diagnostic unknown_segment() {
  return Diagnostic{4, 2, {}, Rule{Rule::UnknownSegment{"ZZ"}}, {{"transaction", 1}}, "Z~",
                    SnipLevel{0}};
}
const char* const kUnknownLine =
    "SNIP 1 \xC2\xB7 segment \"ZZ\" is not part of the structure: no open loop holds it and it "
    "opens no loop \xC2\xB7 segment #4, element 2 \xC2\xB7 at transaction#1 \xC2\xB7 datum "
    "\"Z~\"";

TEST(FindingText, EveryKind) {
  const struct {
    const char* name;
    Finding finding;
    std::string expected;
  } cases[] = {
      {"delimiter in value", {F::DelimiterInValue{kCell, "CLP04", "1*2", "element separator", '*'}},
       "table \"claims\" row 3 column \"amount\" writes CLP04 with \"1*2\", which holds the "
       "element separator \"*\"; a value cannot hold the interchange's delimiters"},
      {"delimiter in envelope value",
       {F::DelimiterInValue{kField, "ISA06", "A\tB", "segment terminator", '\t'}},
       "envelope field \"sender_id\" writes ISA06 with \"A\\tB\", which holds the segment "
       "terminator \"\\t\"; a value cannot hold the interchange's delimiters"},
      {"unwritten value", {F::UnwrittenValue{kCell, "\"x\"", "REF01", "ZZ", {"EV", "F2"}}},
       "table \"claims\" row 3 column \"amount\" holds \"x\", but the column reads REF01 \"ZZ\", "
       "which the element's code list (\"EV\", \"F2\") excludes, so no valid file holds it"},
      {"missing parent, refers", {F::MissingParent{"claims", 2, "payment", 9, "payments"}},
       "table \"claims\" row 2 column \"payment\" refers to row 9, which table \"payments\" lacks"},
      {"missing parent, negative", {F::MissingParent{"claims", 2, "payment", -1, "payments"}},
       "table \"claims\" row 2 column \"payment\" refers to row -1, which table \"payments\" lacks"},
      {"missing parent, null", {F::MissingParent{"claims", 2, "payment", std::nullopt, "payments"}},
       "table \"claims\" row 2 column \"payment\" is null, so the row has no place in the file"},
      {"mismatched reference",
       {F::MismatchedReference{"services", 4, "payment", 1, "claim", 7, "claims", 2}},
       "table \"services\" row 4 column \"payment\" is 1, but the row it belongs to by column "
       "\"claim\", row 7 of table \"claims\", has \"payment\" 2"},
      {"duplicate row number", {F::DuplicateRowNumber{"payments", 1, 5, 0}},
       "table \"payments\" row 1 carries row number 5, which row 0 already carries; references "
       "to it are ambiguous"},
      {"out of order", {F::OutOfOrder{"claims", 1, "payment", 5, 3}},
       "table \"claims\" row 1 (column \"payment\" = 5) is written after row 3; the rows of one "
       "parent must be together and in their parents' order"},
      {"not writable", {F::NotWritable{kField, "2051-03-01", "ISA09", "a date needs a year"}},
       "envelope field \"sender_id\" holds 2051-03-01, which ISA09 cannot hold: a date needs a "
       "year"},
      {"read back with origin", {F::ReadBack{unknown_segment(), kRow}},
       std::string("table \"claims\" row 3: ") + kUnknownLine},
      {"read back without origin", {F::ReadBack{unknown_segment(), std::nullopt}},
       std::string("the written file: ") + kUnknownLine},
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
      {"plan", {E::Plan{plan}}, ErrorKind::Plan, plan_text},
      {"unknown table", {E::UnknownTable{"claimz", {"claims", "payments"}}},
       ErrorKind::UnknownTable,
       "table \"claimz\" is not a table of the spec, whose tables are \"claims\", \"payments\""},
      {"unknown column", {E::UnknownColumn{"claims", "x", {"row", "segment", "payment"}}},
       ErrorKind::UnknownColumn,
       "table \"claims\" has no column \"x\" in the spec; its columns are \"row\", \"segment\", "
       "\"payment\""},
      {"column type",
       {E::ColumnTypeMismatch{"claims", "row", column::ColumnType::decimal128(38, 0),
                              column::ColumnType::int64()}},
       ErrorKind::ColumnTypeMismatch,
       "table \"claims\" column \"row\" is decimal128(38, 0); the spec makes it int64"},
      {"shared delimiter", {E::SharedDelimiter{"element separator", "component separator", '*'}},
       ErrorKind::SharedDelimiter,
       "the element separator and the component separator are both \"*\"; each delimiter needs "
       "its own byte"},
      {"not allowed", {E::DelimiterNotAllowed{"segment terminator", '\n'}},
       ErrorKind::DelimiterNotAllowed,
       "the segment terminator \"\\n\" is a letter, a digit or white space, which values hold"},
      {"repetition unset", {E::RepetitionUnset{}}, ErrorKind::RepetitionUnset,
       "the interchange header carries a repetition separator, but the envelope field "
       "\"delimiters.repetition\" is not set"},
      {"unreadable", {E::Unreadable{"no ISA"}}, ErrorKind::Unreadable,
       "the written file could not be read back: no ISA"},
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
    EXPECT_EQ(to_string(c.error), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::write::finding

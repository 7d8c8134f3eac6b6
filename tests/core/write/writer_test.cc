#include "zarvi_core/write/writer.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../test_input.h"
#include "read_back.h"
#include "write_spec.h"
#include "write_tables.h"

namespace zarvi_core::write::writer {
namespace {

using namespace zarvi_core::write::testing;
using column::Cell;

const spec::Spec& spec5010() { return *spec::shared_builtin_835().value(); }

const column::table::Tables& simple_tables() {
  static const Parsed parsed = *parse_builtin(zarvi_core::testing::data_file("simple_5010.835"));
  return parsed.run.tables;
}

std::vector<std::string> texts(const std::vector<finding::Finding>& findings) {
  std::vector<std::string> out;
  for (const auto& f : findings) out.push_back(finding::to_string(f));
  return out;
}

size_t count(const std::vector<finding::Finding>& findings, finding::Kind kind) {
  size_t n = 0;
  for (const auto& f : findings) n += f.kind() == kind;
  return n;
}

// A write of the built-in 5010 spec with the fixed envelope after `change`;
// a refusal fails the test.
Written write_changed(const column::table::Tables& input,
                      const std::function<void(envelope::Envelope&)>& change) {
  envelope::Envelope envelope = fixed_envelope();
  change(envelope);
  auto written = write_with_findings(spec5010(), input, envelope);
  EXPECT_TRUE(written.ok()) << finding::to_string(written.error());
  return written.ok() ? std::move(written).value() : Written{};
}

TEST(Writer, ExpectedFile) {
  const Written written =
      write_changed(simple_tables(), [](envelope::Envelope& e) { e.line_break = true; });
  // ISA11 and ISA16 carry their delimiters without a finding.
  EXPECT_EQ(texts(written.findings), std::vector<std::string>{});
  EXPECT_EQ(written.bytes, zarvi_core::testing::data_file("simple_5010.written.835"));
}

// With no payments there is no transaction: the group closes with a count of
// 0, and the read-back says what the file misses, pointing at no row.
TEST(Writer, NoRowsWriteTheEnvelopeAlone) {
  const Written written = write_changed(column::table::Tables(), [](envelope::Envelope&) {});
  EXPECT_EQ(written.bytes,
            "ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       *260106*1200*^*"
            "00501*000000001*0*P*:~GS*HP*SENDER*RECEIVER*20260106*1200*1*X*005010X221A1~GE*0*1~"
            "IEA*1*000000001~");
  ASSERT_FALSE(written.findings.empty());
  for (const auto& f : written.findings) {
    ASSERT_EQ(f.kind(), finding::Kind::ReadBack);
    const auto& back = std::get<finding::Finding::ReadBack>(f.data);
    EXPECT_EQ(finding::to_string(f), "the written file: " + to_string(back.diagnostic));
  }
  const auto& first = std::get<finding::Finding::ReadBack>(written.findings.front().data);
  EXPECT_EQ(first.diagnostic.rule.kind(), RuleKind::RequiredLoopMissing);
}

// Each read-back finding points where the bad value came from.
TEST(Writer, ReadBackOrigins) {
  const struct {
    const char* name;
    std::function<column::table::Tables()> input;
    std::function<void(envelope::Envelope&)> change;
    RuleKind rule;
    const char* origin;
  } cases[] = {
      {"a cell", [] { return with_cell(simple_tables(), "claims", "claim_status", 1, Cell::binary("123")); },
       [](envelope::Envelope&) {}, RuleKind::LengthOutOfRange,
       "table \"claims\" row 1 column \"claim_status\""},
      {"an interchange header element",
       [] { return with_cell(simple_tables(), "claims", "claim_id", 0, Cell::binary("C1")); },
       [](envelope::Envelope& e) { e.usage_indicator = "X"; }, RuleKind::CodeNotInList,
       "envelope field \"usage_indicator\""},
      // The instance of 1000A opened at the payer's N1, which row 0 wrote.
      {"a missing occurrence",
       [] {
         column::table::Tables t = copy_of(simple_tables());
         for (const char* c : {"name", "number", "qualifier"})
           t = with_cell(t, "payments", std::string("payer_technical_contact_") + c, 0, Cell::null());
         return t;
       },
       [](envelope::Envelope&) {}, RuleKind::RequiredOccurrenceMissing, "table \"payments\" row 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Written written = write_changed(c.input(), c.change);
    ASSERT_EQ(written.findings.size(), 1u) << ::testing::PrintToString(texts(written.findings));
    const auto* back = std::get_if<finding::Finding::ReadBack>(&written.findings[0].data);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->diagnostic.rule.kind(), c.rule);
    ASSERT_TRUE(back->origin.has_value());
    EXPECT_EQ(finding::to_string(*back->origin), c.origin);
    EXPECT_EQ(finding::to_string(written.findings[0]),
              std::string(c.origin) + ": " + to_string(back->diagnostic));
  }
}

// A delimiter in a value is reported and the output is not read back.
TEST(Writer, DelimitersInValues) {
  const struct {
    const char* name;
    std::function<column::table::Tables()> input;
    std::function<void(envelope::Envelope&)> change;
    std::vector<std::string> findings;
  } cases[] = {
      {"a cell", [] { return with_cell(simple_tables(), "claims", "claim_id", 0, Cell::binary("A*B")); },
       [](envelope::Envelope&) {},
       {"table \"claims\" row 0 column \"claim_id\" writes CLP01 with \"A*B\", which holds the "
        "element separator \"*\"; a value cannot hold the interchange's delimiters"}},
      {"the sender", [] { return copy_of(simple_tables()); },
       [](envelope::Envelope& e) { e.sender_id = "S^1"; },
       {"envelope field \"sender_id\" writes ISA06 with \"S^1            \", which holds the "
        "repetition separator \"^\"; a value cannot hold the interchange's delimiters",
        "envelope field \"application_sender\" writes GS02 with \"S^1\", which holds the "
        "repetition separator \"^\"; a value cannot hold the interchange's delimiters"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Written written = write_changed(c.input(), c.change);
    EXPECT_EQ(texts(written.findings), c.findings);
    EXPECT_EQ(count(written.findings, finding::Kind::ReadBack), 0u);
  }
}

// Findings name the spec's tables, columns and places by the spec's own
// texts, shared and never copied per row.
TEST(Writer, FindingsShareTheSpecsNames) {
  const spec::Spec& spec = spec5010();
  const spec::TableDef* claims = spec.table("claims");
  const spec::TableDef* services = spec.table("services");
  ASSERT_TRUE(claims != nullptr && services != nullptr);
  const auto input = with_cell(
      with_cell(with_cell(simple_tables(), "claims", "claim_id", 0, Cell::binary("A*B")), "claims",
                "claim_id", 1, Cell::binary("C*D")),
      "services", claims->ref, 0, Cell::int64(999));
  const Written written = write_changed(input, [](envelope::Envelope&) {});
  std::vector<const finding::Finding::DelimiterInValue*> delimited;
  const finding::Finding::MissingParent* missing = nullptr;
  for (const auto& f : written.findings) {
    if (const auto* d = std::get_if<finding::Finding::DelimiterInValue>(&f.data))
      delimited.push_back(d);
    if (const auto* m = std::get_if<finding::Finding::MissingParent>(&f.data)) missing = m;
  }
  ASSERT_EQ(delimited.size(), 2u);
  EXPECT_EQ(&delimited[0]->place.get(), &delimited[1]->place.get());
  const auto* cell = std::get_if<finding::Origin::Cell>(&delimited[0]->origin->data);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(&cell->table.get(), &claims->name);
  ASSERT_NE(missing, nullptr);
  EXPECT_EQ(&missing->table.get(), &services->name);
  EXPECT_EQ(&missing->column.get(), &claims->ref);
  EXPECT_EQ(&missing->parent.get(), &claims->name);
}

// A code of the spec holding a delimiter splits the segment it is in: the
// finding says so, and the read-back, which would pin the damage on the
// wrong rows, is left out.
TEST(Writer, DelimiterInACodeOfTheSpec) {
  nlohmann::json value = nlohmann::json::parse(spec::builtin_835_text());
  spec::merge_patch(value, nlohmann::json::parse(
                               R"({"segments": {"ST": {"elements": {"1": {"codes": ["8~5"]}}}}})"));
  auto spec = spec::Spec::from_value(std::move(value));
  ASSERT_TRUE(spec.ok()) << spec.error().message();
  auto written = write_with_findings(*spec.value(), simple_tables(), fixed_envelope());
  ASSERT_TRUE(written.ok()) << finding::to_string(written.error());
  EXPECT_NE(written->bytes.find("~ST*8~5*0001~"), std::string::npos);
  EXPECT_EQ(texts(written->findings),
            std::vector<std::string>{
                "the written file writes ST01 with \"8~5\", which holds the segment terminator "
                "\"~\"; a value cannot hold the interchange's delimiters"});
}

// The closing segments repeat the opening ones' control number, and a
// diagnostic on either points at the envelope field.
TEST(Writer, ControlNumberTooLongForItsElements) {
  const Written written =
      write_changed(simple_tables(), [](envelope::Envelope& e) { e.control_number = 10000000000; });
  std::vector<std::string> places;
  for (const auto& f : written.findings) {
    const auto* back = std::get_if<finding::Finding::ReadBack>(&f.data);
    ASSERT_NE(back, nullptr) << finding::to_string(f);
    const auto* length = back->diagnostic.rule.get_if<Rule::LengthOutOfRange>();
    ASSERT_NE(length, nullptr) << finding::to_string(f);
    places.push_back(to_string(length->place));
    ASSERT_TRUE(back->origin.has_value()) << finding::to_string(f);
    EXPECT_EQ(finding::to_string(*back->origin), "envelope field \"control_number\"");
  }
  EXPECT_EQ(places, (std::vector<std::string>{"ISA13", "GS06", "ST02", "SE02", "GE02", "IEA02"}));
}

// An envelope date or time that an element cannot hold leaves the element
// empty; the read-back then reports what is missing.
TEST(Writer, EnvelopeValuesThatCannotBeWritten) {
  const struct {
    const char* name;
    std::function<void(envelope::Envelope&)> change;
    std::vector<std::string> findings;  // all but the read-back's
  } cases[] = {
      {"a date past the calendar", [](envelope::Envelope& e) { e.date = 2932897; },
       {"envelope field \"date\" holds 10000-01-01, which ISA09 cannot hold: a date needs a year "
        "from 1 to 9999",
        "envelope field \"date\" holds 10000-01-01, which GS04 cannot hold: a date needs a year "
        "from 1 to 9999"}},
      {"a time past the day", [](envelope::Envelope& e) { e.time = 90000; },
       {"envelope field \"time\" holds time32(90000), which ISA10 cannot hold: a time must fall "
        "within one day",
        "envelope field \"time\" holds time32(90000), which GS05 cannot hold: a time must fall "
        "within one day"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Written written = write_changed(simple_tables(), c.change);
    std::vector<std::string> found;
    for (const auto& f : written.findings)
      if (f.kind() != finding::Kind::ReadBack) found.push_back(finding::to_string(f));
    EXPECT_EQ(found, c.findings);
    EXPECT_GT(count(written.findings, finding::Kind::ReadBack), 0u);
  }
}

// Output the reader cannot index is a refusal only when nothing else was
// found: with a finding, the bytes come back with it.
TEST(Writer, UnreadableOutput) {
  const spec::SpecPtr spec = compile_tiny(R"({"segments": {"DT": {"elements":
      {"1": {"name": "d", "type": "DT", "max": 8}}}},
      "loops": {"item": {"occurrences": {"date": {"segment": "DT", "pos": 15}}}},
      "tables": {"items": {"columns": {"d": {"segment": "DT", "element": 1}}}}})");
  ASSERT_NE(spec, nullptr);
  auto refused = write_with_findings(*spec, column::table::Tables(), envelope::Envelope());
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().kind(), finding::ErrorKind::Unreadable);
  EXPECT_EQ(finding::to_string(refused.error()),
            "the written file could not be read back: input does not start with an ISA segment "
            "(found bytes [53 54 7e 53 45 2a 32 2a])");

  const column::table::Tables input = tables(table("items", {{"n", kText}, {"d", ColumnType::date32()}},
                                            {{Cell::binary("A"), Cell::date32(2932897)}}));
  auto written = write_with_findings(*spec, input, envelope::Envelope());
  ASSERT_TRUE(written.ok()) << finding::to_string(written.error());
  EXPECT_EQ(written->bytes, "ST~IT*A~DT~SE*4*1~");
  EXPECT_EQ(texts(written->findings),
            std::vector<std::string>{"table \"items\" row 0 column \"d\" holds 10000-01-01, which "
                                     "DT01 cannot hold: a date needs a year from 1 to 9999"});
}

// A loop read above its table is written once per run of equal values, from
// the run's first row.
TEST(Writer, HeaderNumbersOpenOneLoopPerRun) {
  const column::table::Tables input =
      with_cell(simple_tables(), "claims", "header_number", 1, Cell::int64(2));
  const Written written = write_changed(input, [](envelope::Envelope&) {});
  EXPECT_EQ(texts(written.findings), std::vector<std::string>{});
  const std::string& out = written.bytes;
  const size_t lx1 = out.find("~LX*1~CLP*CLAIM001*");
  const size_t lx2 = out.find("~LX*2~CLP*CLAIM002*");
  EXPECT_NE(lx1, std::string::npos);
  EXPECT_NE(lx2, std::string::npos);
  EXPECT_LT(lx1, lx2);
}

}  // namespace
}  // namespace zarvi_core::write::writer

// Projection into tables: rows per anchor instance, carried columns, picks,
// segment tables with repeat groups, key columns, and batches.
#include "zarvi_core/project.h"

#include <map>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "process_support.h"

namespace zarvi_test {
namespace {

const spec::Spec& tables_spec() {
  static const spec::SpecPtr compiled = [] {
    nlohmann::json value = nlohmann::json::parse(kSpecJson);
    value["tables"] = nlohmann::json::parse(R"json({
      "claims": {"loops": ["claim"], "ref": "claim", "columns": {
        "id": {"segment": "CLP", "element": 1},
        "charge": {"segment": "CLP", "element": 3},
        "at": {"segment": "CLP", "segment_index": true},
        "number": {"loop": "header", "segment": "LX", "element": 1},
        "first_cas": {"occurrence": "cas", "element": 3},
        "second_cas": {"occurrence": "cas", "element": 3, "pick": 2},
        "last_cas": {"occurrence": "cas", "element": 3, "pick": "last"}}},
      "services": {"loops": ["service"], "columns": {
        "code": {"segment": "SVC", "element": 1, "component": 2},
        "procedure": {"segment": "SVC", "element": 1}}},
      "adjustments": {"loops": ["claim", "service"], "segment": "CAS",
        "repeat": {"from": 2, "step": 3}, "columns": {
          "reason": {"group_element": 0},
          "amount": {"group_element": 1}}}
    })json");
    auto result = spec::Spec::from_value(std::move(value));
    if (!result.ok()) {
      ADD_FAILURE() << result.error().message();
      std::abort();
    }
    return std::move(result).value();
  }();
  return *compiled;
}

// ST(0) BPR(1) N1(2) LX(3) CLP(4) CAS(5) CAS(6) SVC(7) CAS(8) LX(9) CLP(10) SE(11)
constexpr std::string_view kInput =
    "ST*835*0001~BPR*I*100~N1*PR*P~LX*7~CLP*C1*1*100*80~CAS*CO*45*5*1*46*6~CAS*OA*23*3~"
    "SVC*HC:99213*60~CAS*PR*1*6~LX*8~CLP*C2*1*10*10~SE*12*0001~";

TEST(Projector, TableColumnsAndTypes) {
  const spec::Spec& spec = tables_spec();
  struct Case {
    const char* table;
    const char* header;
  };
  const Case cases[] = {
      {"claims",
       "row: int64 | segment: int64 | at: int64 | charge: decimal128(38, 2) | first_cas: "
       "decimal128(38, 2) | id: binary | last_cas: decimal128(38, 2) | number: int64 | "
       "second_cas: decimal128(38, 2)"},
      {"services", "row: int64 | segment: int64 | claim: int64 | code: binary | procedure: binary"},
      {"adjustments",
       "row: int64 | segment: int64 | claim: int64 | services: int64 | amount: decimal128(38, 2) | "
       "reason: binary"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const spec::TableDef* def = spec.table(c.table);
    ASSERT_NE(def, nullptr);
    column::Table table(def->name, project::table_columns(spec, *def));
    EXPECT_EQ(table.header(), c.header);
  }
}

TEST(Projector, RowsFromAWholeRun) {
  const std::string text = isa() + std::string(kInput);
  auto document = Document::parse(std::string_view(text));
  ASSERT_TRUE(document.ok());
  process::RunResult result = process::Processor::run(tables_spec(), document.value());
  // ISA(0) ST(1) BPR(2) N1(3) LX(4) CLP(5) CAS(6) CAS(7) SVC(8) CAS(9) LX(10) CLP(11) SE(12)
  EXPECT_EQ(to_string(result.tables),
            "## adjustments (rows: 4)\n"
            "row: int64 | segment: int64 | claim: int64 | services: int64 | "
            "amount: decimal128(38, 2) | reason: binary\n"
            "0 | 6 | 0 | ∅ | 5.00 | 45\n"
            "1 | 6 | 0 | ∅ | 6.00 | 46\n"
            "2 | 7 | 0 | ∅ | 3.00 | 23\n"
            "3 | 9 | 0 | 0 | 6.00 | 1\n"
            "\n"
            "## claims (rows: 2)\n"
            "row: int64 | segment: int64 | at: int64 | charge: decimal128(38, 2) | "
            "first_cas: decimal128(38, 2) | id: binary | last_cas: decimal128(38, 2) | "
            "number: int64 | second_cas: decimal128(38, 2)\n"
            "0 | 5 | 5 | 100.00 | 5.00 | C1 | 3.00 | 7 | 3.00\n"
            "1 | 11 | 11 | 10.00 | ∅ | C2 | ∅ | 8 | ∅\n"
            "\n"
            "## services (rows: 1)\n"
            "row: int64 | segment: int64 | claim: int64 | code: binary | procedure: binary\n"
            "0 | 8 | 0 | 99213 | HC:99213\n"
            "\n");
}

TEST(Projector, BatchesJoinToTheWholeRun) {
  const std::string text = isa() + std::string(kInput) + isa("000000002") + std::string(kInput);
  auto document = Document::parse(std::string_view(text));
  ASSERT_TRUE(document.ok());
  const process::RunResult whole = process::Processor::run(tables_spec(), document.value());

  process::Processor processor(tables_spec(), document.value().delimiters());
  std::map<std::string, std::string> joined;
  auto take = [&] {
    for (const column::Table& table : processor.take_tables())
      for (size_t r = 0; r < table.rows(); ++r) joined[table.name()] += *table.render_row(r) + "\n";
  };
  Segments segments(document.value());
  while (auto segment = segments.next()) {
    processor.feed(*segment);
    take();
  }
  processor.finish();
  take();
  for (const column::Table& table : whole.tables) {
    SCOPED_TRACE(table.name());
    std::string rows;
    for (size_t r = 0; r < table.rows(); ++r) rows += *table.render_row(r) + "\n";
    EXPECT_EQ(joined[table.name()], rows);
  }
}

}  // namespace
}  // namespace zarvi_test

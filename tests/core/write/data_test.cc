#include "zarvi_core/write/data.h"

#include <gtest/gtest.h>

#include "write_tables.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_core::write::data {
namespace {

using namespace zarvi_core::write::testing;

const spec::Spec& spec5010() { return *spec::shared_builtin_835().value(); }

size_t index_of(std::string_view table) {
  const auto& tables = spec5010().tables;
  for (size_t i = 0; i < tables.size(); ++i)
    if (tables[i].name == table) return i;
  ADD_FAILURE() << "no table " << table;
  return 0;
}

std::string bind_error(const column::Tables& input) {
  auto bound = bind(spec5010(), input);
  return bound.ok() ? "" : finding::to_string(bound.error());
}

TEST(Bind, NoTablesGiveEmptyData) {
  auto bound = bind(spec5010(), column::Tables());
  ASSERT_TRUE(bound.ok());
  ASSERT_EQ(bound->size(), spec5010().tables.size());
  for (size_t i = 0; i < bound->size(); ++i) {
    const Data& d = (*bound)[i];
    EXPECT_EQ(d.name, spec5010().tables[i].name);
    EXPECT_EQ(d.rows, 0u);
    EXPECT_EQ(d.row, nullptr);
    EXPECT_EQ(d.columns.size(), spec5010().tables[i].columns.size());
    for (Bound c : d.columns) EXPECT_EQ(c, nullptr);
    EXPECT_EQ(d.references.size(), spec5010().tables[i].chain.size());
  }
}

TEST(Bind, PartialTableBindsWhatItHas) {
  const auto input = tables(table("services",
                                   {{"claim", kInt}, {"procedure_code", kText}, {"segment", kInt}},
                                   {{Cell::int64(4), Cell::binary("99213"), Cell::int64(12)},
                                    {Cell::null(), Cell::binary("X"), Cell::null()}}));
  auto bound = bind(spec5010(), input);
  ASSERT_TRUE(bound.ok()) << finding::to_string(bound.error());
  const Data& d = (*bound)[index_of("services")];
  const column::Table& t = input[0];
  EXPECT_EQ(d.rows, 2u);
  EXPECT_EQ(d.row, nullptr);
  EXPECT_EQ(d.segment, t.column("segment"));
  ASSERT_EQ(d.references.size(), 2u);
  EXPECT_EQ(d.references[0].table, index_of("payments"));
  EXPECT_EQ(d.references[0].column, nullptr);
  EXPECT_EQ(d.references[1].table, index_of("claims"));
  EXPECT_EQ(d.references[1].column, t.column("claim"));
  const auto& declared = spec5010().tables[index_of("services")].columns;
  for (size_t i = 0; i < declared.size(); ++i) {
    SCOPED_TRACE(declared[i].first);
    EXPECT_EQ(d.columns[i], declared[i].first == "procedure_code" ? t.column("procedure_code")
                                                                  : nullptr);
  }
  // References: a value, a null cell, past the end, and a table without one.
  EXPECT_EQ(d.reference(index_of("claims"), 0), 4);
  EXPECT_EQ(d.reference(index_of("claims"), 1), std::nullopt);
  EXPECT_EQ(d.reference(index_of("claims"), 2), std::nullopt);
  EXPECT_EQ(d.reference(index_of("payments"), 0), std::nullopt);
  EXPECT_EQ(d.reference(index_of("services"), 0), std::nullopt);
}

TEST(Bind, Refusals) {
  const struct {
    const char* name;
    column::Tables input;
    std::string expected;
  } cases[] = {
      {"unknown table", tables(table("claimz", {})),
       "table \"claimz\" is not a table of the spec, whose tables are \"adjustments\", "
       "\"claims\", \"payments\", \"provider_adjustments\", \"services\""},
      // Every table name is checked before any column: "payments" comes first
      // but its bad column is not reported.
      {"tables before columns", tables(table("payments", {{"nope", kInt}}), table("zz", {})),
       "table \"zz\" is not a table of the spec, whose tables are \"adjustments\", \"claims\", "
       "\"payments\", \"provider_adjustments\", \"services\""},
      {"unknown column", tables(table("provider_adjustments", {{"claim", kInt}})),
       "table \"provider_adjustments\" has no column \"claim\" in the spec; its columns are "
       "\"row\", \"segment\", \"payment\", \"amount\", \"fiscal_period_date\", \"provider_id\", "
       "\"reason_code\", \"reference_id\""},
      {"decimal row", tables(table("claims", {{"row", ColumnType::decimal128(38, 0)}})),
       "table \"claims\" column \"row\" is decimal128(38, 0); the spec makes it int64"},
      {"int64 scale", tables(table("claims", {{"header_number", ColumnType::int64(2)}})),
       "table \"claims\" column \"header_number\" is int64 (scale 2); the spec makes it int64"},
      {"decimal scale", tables(table("claims", {{"charge_amount", ColumnType::decimal128(38, 3)}})),
       "table \"claims\" column \"charge_amount\" is decimal128(38, 3); the spec makes it "
       "decimal128(38, 2)"},
      {"decimal precision",
       tables(table("claims", {{"charge_amount", ColumnType::decimal128(18, 2)}})),
       "table \"claims\" column \"charge_amount\" is decimal128(18, 2); the spec makes it "
       "decimal128(38, 2)"},
      {"date as text", tables(table("claims", {{"statement_from", kText}})),
       "table \"claims\" column \"statement_from\" is binary; the spec makes it date32"},
      // Tables come sorted by name: "claims" is the first bad one.
      {"first bad table wins",
       tables(table("services", {{"x", kInt}}), table("claims", {{"row", kText}})),
       "table \"claims\" column \"row\" is binary; the spec makes it int64"},
      {"first bad column wins", tables(table("claims", {{"row", kText}, {"x", kInt}})),
       "table \"claims\" column \"row\" is binary; the spec makes it int64"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(bind_error(c.input), c.expected);
  }
}

}  // namespace
}  // namespace zarvi_core::write::data

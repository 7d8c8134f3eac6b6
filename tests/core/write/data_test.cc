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

std::string bind_error(const column::table::Tables& input) {
  auto bound = bind(spec5010(), input);
  return bound.ok() ? "" : finding::to_string(bound.error());
}

// A partial table binds the columns it has; references read its cells.
TEST(Bind, PartialTable) {
  const auto input = tables(table("services",
                                   {{"claim", kInt}, {"procedure_code", kText}, {"segment", kInt}},
                                   {{Cell::int64(4), Cell::binary("99213"), Cell::int64(12)},
                                    {Cell::null(), Cell::binary("X"), Cell::null()}}));
  auto bound = bind(spec5010(), input);
  ASSERT_TRUE(bound.ok()) << finding::to_string(bound.error());
  const Data& d = (*bound)[index_of("services")];
  EXPECT_EQ(d.rows, 2u);
  EXPECT_EQ(d.segment, input[0].column("segment"));
  // A value, a null cell, past the end, a reference without a column, and none.
  EXPECT_EQ(d.reference(index_of("claims"), 0), 4);
  EXPECT_EQ(d.reference(index_of("claims"), 1), std::nullopt);
  EXPECT_EQ(d.reference(index_of("claims"), 2), std::nullopt);
  EXPECT_EQ(d.reference(index_of("payments"), 0), std::nullopt);
  EXPECT_EQ(d.reference(index_of("services"), 0), std::nullopt);
}

TEST(Bind, Refusals) {
  const struct {
    const char* name;
    column::table::Tables input;
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

#include "zarvi_core/write/nest.h"

#include <functional>
#include <limits>

#include <gtest/gtest.h>

#include "write_tables.h"
#include "zarvi_core/spec/builtin.h"

namespace zarvi_core::write::nest {
namespace {

using namespace zarvi_core::write::testing;

const spec::Spec& spec5010() { return *spec::shared_builtin_835().value(); }

size_t table_index(std::string_view name) { return spec5010().table(name) - spec5010().tables.data(); }
LoopId loop(std::string_view name) { return *spec5010().loop_id(name); }

// The built-in spec's row roles: payments, claims and services give the
// instances of the transaction, 2100 and 2110 loops.
plan::WritePlan rows_plan() {
  std::vector<plan::LoopPlan> loops(spec5010().loops.size());
  const auto rows = [&](const char* l, const char* t) {
    loops[loop(l)].role = plan::Role::Rows;
    loops[loop(l)].table = table_index(t);
  };
  rows("transaction", "payments");
  rows("2100", "claims");
  rows("2110", "services");
  return plan::WritePlan(std::move(loops), {});
}

struct Nested {
  Nest nest;
  std::vector<std::string> findings;
};

Nested run(const column::table::Tables& input) {
  auto bound = data::bind(spec5010(), input);
  EXPECT_TRUE(bound.ok()) << finding::to_string(bound.error());
  std::vector<finding::Finding> findings;
  Nested out{nest(spec5010(), rows_plan(), bound.value(), findings), {}};
  for (const auto& f : findings) out.findings.push_back(finding::to_string(f));
  return out;
}

using Groups = std::vector<std::vector<size_t>>;
using Strings = std::vector<std::string>;

Groups groups(const Nest& n, std::string_view table) {
  Groups out;
  const size_t t = table_index(table);
  for (size_t g = 0; g < n.group_count(t); ++g) {
    const auto rows = n.group(t, g);
    out.emplace_back(rows.begin(), rows.end());
  }
  return out;
}

std::vector<size_t> repeats(const Nest& n, const char* table, const char* l, size_t row) {
  const auto rows = n.repeat_rows(table_index(table), loop(l), row);
  return {rows.begin(), rows.end()};
}

TEST(Nest, RowTables) {
  const struct {
    const char* name;
    std::function<column::table::Tables()> input;
    Groups payments;
    Groups claims;
    Strings findings;
  } cases[] = {
      {"no tables", [] { return tables(); }, {{}}, {}, {}},
      // Without a "row" column a row's number is its index.
      {"rows numbered by index",
       [] {
         return tables(int_table("payments", {"segment"}, {{0}, {1}, {2}}),
                       int_table("claims", {"payment"}, {{1}, {0}, {1}}));
       },
       {{0, 1, 2}}, {{1}, {0, 2}, {}}, {}},
      {"row numbers",
       [] {
         return tables(int_table("payments", {"row"}, {{10}, {20}}),
                       int_table("claims", {"payment"}, {{20}, {10}, {0}}));
       },
       {{0, 1}}, {{1}, {0}},
       {"table \"claims\" row 2 column \"payment\" refers to row 0, which table \"payments\" "
        "lacks"}},
      // A null row number falls back to the row's index.
      {"duplicate row number goes to the first",
       [] {
         return tables(int_table("payments", {"row"}, {{5}, {5}, {-1}}),
                       int_table("claims", {"payment"}, {{5}, {2}}));
       },
       {{0, 1, 2}}, {{0}, {}, {1}},
       {"table \"payments\" row 1 carries row number 5, which row 0 already carries; "
        "references to it are ambiguous"}},
      {"missing reference column",
       [] {
         return tables(int_table("payments", {"row"}, {{0}}), int_table("claims", {"row"}, {{0}}));
       },
       {{0}}, {{}},
       {"table \"claims\" row 0 column \"payment\" is null, so the row has no place in the file"}},
      {"zero-row parent", [] { return tables(int_table("claims", {"payment"}, {{0}, {-1}})); },
       {{}}, {},
       {"table \"claims\" row 0 column \"payment\" refers to row 0, which table \"payments\" "
        "lacks",
        "table \"claims\" row 1 column \"payment\" is null, so the row has no place in the file"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const column::table::Tables input = c.input();
    const Nested n = run(input);
    EXPECT_EQ(groups(n.nest, "payments"), c.payments);
    EXPECT_EQ(groups(n.nest, "claims"), c.claims);
    EXPECT_EQ(n.findings, c.findings);
    EXPECT_EQ(n.nest.group_count(table_index("adjustments")), 0u);
  }
}

std::string lacks(const char* table, size_t row, const char* column, int64_t value,
                  const char* parent) {
  return "table \"" + std::string(table) + "\" row " + std::to_string(row) + " column \"" +
         column + "\" refers to row " + std::to_string(value) + ", which table \"" + parent +
         "\" lacks";
}

std::string duplicate(const char* table, size_t row, int64_t number, size_t first) {
  return "table \"" + std::string(table) + "\" row " + std::to_string(row) +
         " carries row number " + std::to_string(number) + ", which row " +
         std::to_string(first) + " already carries; references to it are ambiguous";
}

// Whatever order or range the row numbers take, a reference finds the first
// row that carries its number.
TEST(Nest, RowNumbersInAnyOrder) {
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const struct {
    const char* name;
    std::vector<std::vector<int64_t>> payments;  // "row"
    std::vector<std::vector<int64_t>> claims;    // "payment"
    Groups groups;                               // of the claims, by payment row
    Strings findings;
  } cases[] = {
      {"descending", {{30}, {20}, {10}}, {{10}, {30}, {20}, {15}}, {{1}, {2}, {0}},
       {lacks("claims", 3, "payment", 15, "payments")}},
      {"consecutive from an offset", {{5}, {6}, {7}}, {{4}, {7}, {8}, {5}}, {{3}, {}, {1}},
       {lacks("claims", 0, "payment", 4, "payments"),
        lacks("claims", 2, "payment", 8, "payments")}},
      {"ascending with gaps", {{-5}, {0}, {40}}, {{40}, {-5}, {1}, {-4}}, {{1}, {}, {0}},
       {lacks("claims", 2, "payment", 1, "payments"),
        lacks("claims", 3, "payment", -4, "payments")}},
      {"consecutive up to the largest", {{kMax - 2}, {kMax - 1}, {kMax}},
       {{kMax}, {kMin}, {kMax - 2}}, {{2}, {}, {0}},
       {lacks("claims", 1, "payment", kMin, "payments")}},
      {"both ends, descending", {{kMax}, {kMin}}, {{kMin}, {kMax}, {0}}, {{1}, {0}},
       {lacks("claims", 2, "payment", 0, "payments")}},
      // Row 1's number is its index, which row 0 carries already.
      {"null number takes the index", {{1}, {-1}, {-1}}, {{1}, {2}, {0}}, {{0}, {}, {1}},
       {duplicate("payments", 1, 1, 0), lacks("claims", 2, "payment", 0, "payments")}},
      {"repeated, out of order", {{7}, {3}, {7}, {3}, {7}}, {{3}, {7}, {3}},
       {{1}, {0, 2}, {}, {}, {}},
       {duplicate("payments", 2, 7, 0), duplicate("payments", 3, 3, 1),
        duplicate("payments", 4, 7, 0)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto input = tables(int_table("payments", {"row"}, c.payments),
                              int_table("claims", {"payment"}, c.claims));
    const Nested n = run(input);
    EXPECT_EQ(groups(n.nest, "claims"), c.groups);
    EXPECT_EQ(n.findings, c.findings);
  }
}

// Every duplicate comes first, by table (in spec order: claims before
// payments) and row; then each row's own findings, by table and row.
TEST(Nest, FindingsOrderWithRepeatedNumbers) {
  const auto input = tables(
      int_table("payments", {"row"}, {{7}, {3}, {7}, {3}, {7}}),
      int_table("claims", {"row", "payment"}, {{4, 3}, {2, 7}, {4, 7}, {9, 8}}),
      int_table("services", {"payment", "claim"}, {{7, 4}, {3, 2}, {7, 9}, {3, 5}, {7, 2}}));
  const Nested n = run(input);
  EXPECT_EQ(groups(n.nest, "claims"), (Groups{{1, 2}, {0}, {}, {}, {}}));
  EXPECT_EQ(groups(n.nest, "services"), (Groups{{0}, {1, 4}, {}, {2}}));
  const auto mismatch = [](size_t row, int64_t mine, size_t claim, int64_t theirs) {
    return "table \"services\" row " + std::to_string(row) + " column \"payment\" is " +
           std::to_string(mine) + ", but the row it belongs to by column \"claim\", row " +
           std::to_string(claim) + " of table \"claims\", has \"payment\" " +
           std::to_string(theirs);
  };
  EXPECT_EQ(n.findings, (Strings{duplicate("claims", 2, 4, 0), duplicate("payments", 2, 7, 0),
                                 duplicate("payments", 3, 3, 1), duplicate("payments", 4, 7, 0),
                                 lacks("claims", 3, "payment", 8, "payments"),
                                 mismatch(0, 7, 0, 3), mismatch(1, 3, 1, 7),
                                 mismatch(2, 7, 3, 8),
                                 lacks("services", 3, "claim", 5, "claims")}));
}

// A claim row that was not placed keeps its number: its services still find it.
TEST(Nest, UnplacedRowKeepsItsNumber) {
  const auto input = tables(int_table("payments", {"row"}, {{0}}),
                            int_table("claims", {"row", "payment"}, {{7, -1}}),
                            int_table("services", {"claim", "payment"}, {{7, 0}}));
  const Nested n = run(input);
  EXPECT_EQ(groups(n.nest, "services"), (Groups{{0}}));
  EXPECT_EQ(n.findings.size(), 1u);
}

TEST(Nest, ReferencesThatDisagree) {
  const auto input = tables(int_table("payments", {"row"}, {{0}, {1}}),
                            int_table("claims", {"payment"}, {{0}, {1}}),
                            int_table("services", {"payment", "claim"}, {{1, 0}, {0, 0}, {-1, 1}}));
  const Nested n = run(input);
  EXPECT_EQ(groups(n.nest, "services"), (Groups{{0, 1}, {2}}));
  EXPECT_EQ(n.findings, (Strings{"table \"services\" row 0 column \"payment\" is 1, but the row it "
                                 "belongs to by column \"claim\", row 0 of table \"claims\", has "
                                 "\"payment\" 0"}));
}

TEST(Nest, SegmentTables) {
  const auto input = tables(
      int_table("payments", {"row"}, {{0}, {1}}),
      int_table("claims", {"row", "payment"}, {{0, 0}, {1, 1}}),
      int_table("services", {"row", "payment", "claim"}, {{0, 0, 0}, {1, 1, 1}}),
      // claim and service references: the deeper service decides, even when
      // the claim disagrees with the service's own claim.
      int_table("adjustments", {"payment", "claim", "service"},
                {{0, 0, -1}, {0, 0, 0}, {1, 0, 1}, {0, 1, -1}, {-1, -1, -1}, {0, 9, -1},
                 {-1, 1, 5}}),
      int_table("provider_adjustments", {"payment"}, {{1}, {-1}, {1}}));
  const Nested n = run(input);
  EXPECT_EQ(repeats(n.nest, "adjustments", "2100", 0), (std::vector<size_t>{0}));
  EXPECT_EQ(repeats(n.nest, "adjustments", "2100", 1), (std::vector<size_t>{3}));
  EXPECT_EQ(repeats(n.nest, "adjustments", "2110", 0), (std::vector<size_t>{1}));
  EXPECT_EQ(repeats(n.nest, "adjustments", "2110", 1), (std::vector<size_t>{2}));
  EXPECT_EQ(repeats(n.nest, "adjustments", "2110", 2), (std::vector<size_t>{}));
  EXPECT_EQ(repeats(n.nest, "provider_adjustments", "transaction", 1), (std::vector<size_t>{0, 2}));
  EXPECT_EQ(repeats(n.nest, "provider_adjustments", "2100", 1), (std::vector<size_t>{}));
  EXPECT_EQ(n.nest.repeat_rows(99, 0, 0).size(), 0u);

  const size_t adjustments = table_index("adjustments");
  EXPECT_EQ(n.nest.placement(adjustments, 0), table_index("claims"));
  EXPECT_EQ(n.nest.placement(adjustments, 1), table_index("services"));
  EXPECT_EQ(n.nest.placement(adjustments, 4), std::nullopt);
  EXPECT_EQ(n.nest.placement(adjustments, 99), std::nullopt);
  EXPECT_EQ(n.nest.placement(table_index("claims"), 0), std::nullopt);
  EXPECT_EQ(n.findings,
            (Strings{
                "table \"adjustments\" row 2 column \"claim\" is 0, but the row it belongs to by "
                "column \"service\", row 1 of table \"services\", has \"claim\" 1",
                "table \"adjustments\" row 3 column \"payment\" is 0, but the row it belongs to by "
                "column \"claim\", row 1 of table \"claims\", has \"payment\" 1",
                "table \"adjustments\" row 4 column \"claim\" is null, so the row has no place in "
                "the file",
                "table \"adjustments\" row 5 column \"claim\" refers to row 9, which table "
                "\"claims\" lacks",
                "table \"adjustments\" row 6 column \"service\" refers to row 5, which table "
                "\"services\" lacks",
                "table \"provider_adjustments\" row 1 column \"payment\" is null, so the row has "
                "no place in the file",
            }));
}

// A segment table whose loops give no rows has no pair to try: its "is null"
// finding names the table itself.
TEST(Nest, SegmentTableWithoutAnchoredLoops) {
  const auto input = tables(int_table("provider_adjustments", {"payment"}, {{0}}));
  auto bound = data::bind(spec5010(), input);
  ASSERT_TRUE(bound.ok());
  std::vector<finding::Finding> findings;
  const plan::WritePlan none(std::vector<plan::LoopPlan>(spec5010().loops.size()), {});
  nest(spec5010(), none, bound.value(), findings);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(finding::to_string(findings[0]),
            "table \"provider_adjustments\" row 0 column \"provider_adjustments\" is null, so the "
            "row has no place in the file");
}

}  // namespace
}  // namespace zarvi_core::write::nest

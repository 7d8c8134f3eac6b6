// Every third-party 835 of the shared corpus under the built-in spec its
// version selects, and under that spec with the edi_835_parser patch
// (seventeen tables): nothing breaks, the files whose sums agree give no
// BalanceMismatch, row numbers run in order, every key column names a row of
// its enclosing table, and batches taken at each close of a transaction or
// claim join to the rows of one run. Skipped when the corpus is absent.
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "process_support.h"
#include "test_input.h"
#include "zarvi_core/spec/builtin.h"

namespace {

using namespace zarvi_core;

// Files whose claims, services and payments all balance.
const std::set<std::string> kBalanced = {
    "4010__stupidedi__pipe-caret-tilde_plb.edi",
    "5010__badx12__dollars-and-data-sent-together_one-line.edi", "5010__badx12__era-sample.edi",
    "5010__badx12__multiple-claims-single-check.edi", "5010__edi835parser__emedny.txt",
    "5010__edi835parser__uhc-legacy_gt-component.txt", "5010__lfh__cob-contractural-adjustment.835",
    "5010__lfh__managed-care.835", "5010__lfh__medicare-part-a.835", "5010__pyx12__mult-loops.txt",
    "5010__x12parser-node__lf-terminator-no-tilde.edi",
    "5010__x12parser-node__two-interchanges-one-line.edi",
};

// Every key column names a row of its enclosing table.
void expect_keys(const spec::Spec& spec, const column::table::Tables& tables) {
  for (const spec::TableDef& def : spec.tables) {
    const column::table::Table* table = tables.get(def.name);
    ASSERT_NE(table, nullptr) << def.name;
    for (size_t outer : def.chain) {
      const spec::TableDef& enclosing = spec.tables[outer];
      const std::optional<column::ColumnView> key = table->column(enclosing.ref);
      ASSERT_TRUE(key.has_value()) << def.name << " " << enclosing.ref;
      const size_t limit = tables.get(enclosing.name)->rows();
      for (size_t r = 0; r < table->rows(); ++r) {
        const column::Cell cell = *key->get(r);
        if (cell.is_null()) continue;
        EXPECT_LT(static_cast<uint64_t>(cell.int64()), limit) << def.name << " row " << r;
      }
    }
  }
}

TEST(Corpus, RunsBalancesKeysAndBatches) {
  const auto files = zarvi_core::testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  size_t run = 0;
  for (const auto& [name, text] : files) {
    SCOPED_TRACE(name);
    auto document = Document::parse(std::string_view(text));
    if (!document.ok()) {
      EXPECT_FALSE(kBalanced.count(name)) << "balanced file did not index";
      continue;
    }
    Segments segments(document.value());
    const spec::Compiled selected = spec::select_builtin([&] { return segments.next(); });
    ASSERT_TRUE(selected.ok());
    const spec::Compiled patched = selected.value()->merge_patch(spec::edi_835_parser_patch_text());
    ASSERT_TRUE(patched.ok()) << patched.error().message();
    ++run;
    for (const spec::Spec* spec : {selected.value().get(), patched.value().get()}) {
      SCOPED_TRACE(spec->tables.size());
      const process::RunResult whole = process::Processor::run(*spec, document.value());
      const bool balanced = kBalanced.count(name) != 0;
      for (const Diagnostic& d : whole.diagnostics)
        EXPECT_TRUE(!balanced || d.rule.kind() != RuleKind::BalanceMismatch) << to_string(d);
      expect_keys(*spec, whole.tables);
      zarvi_test::RowsByTable expected;
      zarvi_test::append_rows(expected, whole.tables);
      for (const char* by : {"transaction", "2100"}) {
        SCOPED_TRACE(by);
        const std::optional<spec::LoopId> loop = spec->loop_id(by);
        ASSERT_TRUE(loop.has_value());
        std::vector<Diagnostic> diagnostics;
        EXPECT_EQ(zarvi_test::rows_in_batches(*spec, document.value(), loop, diagnostics),
                  expected);
      }
    }
  }
  EXPECT_GT(run, 20u);
}

}  // namespace

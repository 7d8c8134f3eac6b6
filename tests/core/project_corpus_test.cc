// The shared corpus of third-party 835 files projected under the built-in
// spec its version selects, and under that spec with the edi_835_parser
// patch (seventeen tables): row numbers run in order, every key column
// names a row of its enclosing table, and batches taken at each close of a
// transaction or claim join to the rows of one run. Skipped without corpus.
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "project_support.h"
#include "test_input.h"
#include "zarvi_core/spec/builtin.h"

namespace {

using namespace zarvi_core;
using zarvi_test::append_rows;

// Every key column names a row of its enclosing table.
void expect_keys(const spec::Spec& spec, const column::Tables& tables) {
  for (const spec::TableDef& def : spec.tables) {
    const column::Table* table = tables.get(def.name);
    ASSERT_NE(table, nullptr) << def.name;
    for (size_t outer : def.chain) {
      const spec::TableDef& enclosing = spec.tables[outer];
      const column::ColumnData* key = table->column(enclosing.ref);
      ASSERT_NE(key, nullptr) << def.name << " " << enclosing.ref;
      const size_t limit = tables.get(enclosing.name)->rows();
      for (size_t r = 0; r < table->rows(); ++r) {
        const column::Cell cell = *key->get(r);
        if (cell.is_null()) continue;
        EXPECT_LT(static_cast<uint64_t>(cell.int64()), limit) << def.name << " row " << r;
      }
    }
  }
}

TEST(ProjectCorpus, KeysOrderAndBatches) {
  const auto files = zarvi_core::testing::corpus_files();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  size_t indexed = 0;
  for (const auto& [name, text] : files) {
    SCOPED_TRACE(name);
    auto document = Document::parse(std::string_view(text));
    if (!document.ok()) continue;
    Segments segments(document.value());
    const spec::Compiled selected = spec::select_builtin([&] { return segments.next(); });
    ASSERT_TRUE(selected.ok());
    const spec::Compiled patched = selected.value()->merge_patch(spec::edi_835_parser_patch_text());
    ASSERT_TRUE(patched.ok()) << patched.error().message();
    ++indexed;
    for (const spec::Spec* spec : {selected.value().get(), patched.value().get()}) {
      SCOPED_TRACE(spec->tables.size());
      const process::RunResult whole = process::Processor::run(*spec, document.value());
      zarvi_test::expect_rows_in_order(whole.tables);
      expect_keys(*spec, whole.tables);
      zarvi_test::RowsByTable expected;
      append_rows(expected, whole.tables);
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
  EXPECT_GT(indexed, 20u);
}

}  // namespace

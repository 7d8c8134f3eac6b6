// Every third-party 835 of the shared corpus through the processor under the
// built-in spec its version selects: nothing breaks, and the files whose sums
// agree give no BalanceMismatch. Skipped when the corpus is absent.
#include <iostream>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "test_input.h"
#include "zarvi_core/document.h"
#include "zarvi_core/process.h"
#include "zarvi_core/spec/builtin.h"

namespace {

using namespace zarvi_core;

// Files whose claims, services and payments all balance.
const std::set<std::string> kBalanced = {
    "4010__stupidedi__pipe-caret-tilde_plb.edi",
    "5010__badx12__dollars-and-data-sent-together_one-line.edi",
    "5010__badx12__era-sample.edi",
    "5010__badx12__multiple-claims-single-check.edi",
    "5010__edi835parser__emedny.txt",
    "5010__edi835parser__uhc-legacy_gt-component.txt",
    "5010__lfh__cob-contractural-adjustment.835",
    "5010__lfh__managed-care.835",
    "5010__lfh__medicare-part-a.835",
    "5010__pyx12__mult-loops.txt",
    "5010__x12parser-node__lf-terminator-no-tilde.edi",
    "5010__x12parser-node__two-interchanges-one-line.edi",
};

TEST(Corpus, EveryFileRunsAndBalancedFilesBalance) {
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
    process::RunResult result = process::Processor::run(*selected.value(), document.value());
    ++run;
    std::map<std::string, size_t> kinds;
    for (const Diagnostic& d : result.diagnostics) ++kinds[std::string(kind_name(d.rule.kind()))];
    std::string summary;
    for (const auto& [kind, n] : kinds) summary += " " + kind + "=" + std::to_string(n);
    std::cout << name << ":" << summary << "\n";
    if (kBalanced.count(name)) {
      EXPECT_EQ(kinds.count("BalanceMismatch"), 0u) << summary;
    }
  }
  EXPECT_GT(run, 20u);
}

}  // namespace

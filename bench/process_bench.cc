// process_bench [file] [--runs N] [--run-only]: Processor::run (built-in 5010
// spec, every table) against Document::parse over the same bytes, best of
// several runs each, then the peak resident growth of one run in a forked
// child, and the diagnostics of the run counted by rule. Without a file it
// generates a 100 MB 5010 interchange in memory. --run-only times the runs
// alone, for a profiler.
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "bench_support.h"
#include "zarvi_core/document.h"
#include "zarvi_core/process.h"
#include "zarvi_core/spec/builtin.h"

namespace {

using zarvi_bench::best_seconds;
using zarvi_bench::Peak;
using zarvi_bench::peak_in_child;


std::size_t table_rows(const zarvi_core::column::table::Tables& tables) {
  std::size_t rows = 0;
  for (std::size_t i = 0; i < tables.size(); ++i) rows += tables[i].rows();
  return rows;
}

// The bytes the tables' buffers hold (their Arrow sizes, not capacities).
std::size_t table_bytes(const zarvi_core::column::table::Tables& tables) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    for (const zarvi_core::column::table::ColumnRef c : tables[i].columns()) {
      const zarvi_core::column::ColumnView& d = c.data;
      // bytes() spans the value buffer whatever the type.
      bytes += d.validity().size_bytes() + d.offsets().size_bytes() + d.bytes().size();
    }
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = nullptr;
  int runs = 5;
  bool run_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--run-only") == 0)
      run_only = true;
    else
      path = argv[i];
  }

  const std::optional<zarvi_bench::Input> opened = zarvi_bench::open_input(path);
  if (!opened) return 1;
  const std::string& input = *opened->bytes;
  const double mb = opened->mb();
  const zarvi_core::Document& doc = opened->doc;
  const zarvi_core::spec::Compiled& built = zarvi_core::spec::shared_builtin_835();
  if (!built.ok()) {
    std::fprintf(stderr, "the built-in spec does not compile\n");
    return 1;
  }
  const zarvi_core::spec::Spec& spec = *built.value();
  if (run_only) {
    const double run =
        best_seconds(runs, [&] { (void)zarvi_core::process::Processor::run(spec, doc); });
    std::printf("Processor::run    %8.1f MB/s  (best of %d)\n", mb / run, runs);
    return 0;
  }

  // Peaks first, each in a fresh child: the run alone (document already
  // indexed), and parse plus run from the bytes.
  const Peak run_peak = peak_in_child([&] {
    auto result = zarvi_core::process::Processor::run(spec, doc);
    (void)result;
  });
  const Peak whole_peak = peak_in_child([&] {
    auto d = zarvi_core::Document::parse(std::string_view(input));
    auto result = zarvi_core::process::Processor::run(spec, d.value());
    (void)result;
  });

  std::size_t parsed = 0;
  const double parse = best_seconds(runs, [&] {
    auto d = zarvi_core::Document::parse(std::string_view(input));
    parsed = d.ok() ? d->size() : 0;
  });

  // Allocations through operator new of one whole run: the processor's own
  // set-up and buffers growing, and none per segment once they are warm.
  const std::size_t allocations_before = zarvi_bench::allocations();
  (void)zarvi_core::process::Processor::run(spec, doc);
  const std::size_t run_allocations = zarvi_bench::allocations() - allocations_before;

  zarvi_core::process::RunResult result;
  const double run = best_seconds(runs, [&] {
    result = zarvi_core::process::RunResult{};
    result = zarvi_core::process::Processor::run(spec, doc);
  });

  std::map<std::string, std::size_t> by_rule;
  for (const zarvi_core::Diagnostic& d : result.diagnostics)
    ++by_rule[std::string(zarvi_core::kind_name(d.rule.kind()))];

  const double in_mb = static_cast<double>(input.size()) / (1024.0 * 1024.0);
  auto grown = [](const Peak& p) {
    return static_cast<double>(p.peak_kb - std::min(p.before_kb, p.peak_kb)) / 1024.0;
  };
  std::printf("input             %.1f MB, %zu segments\n", mb, parsed);
  std::printf("Document::parse   %8.1f MB/s  (best of %d)\n", mb / parse, runs);
  std::printf("Processor::run    %8.1f MB/s  (best of %d)\n", mb / run, runs);
  std::printf("ratio             %8.1f %%  (run throughput / parse throughput)\n",
              100.0 * parse / run);
  std::printf("peak growth run   %8.1f MiB = %.2f x input  (VmHWM - VmRSS in a forked child)\n",
              grown(run_peak), grown(run_peak) / in_mb);
  std::printf("peak growth both  %8.1f MiB = %.2f x input  (parse + run)\n", grown(whole_peak),
              grown(whole_peak) / in_mb);
  std::printf("allocations       %zu in one run (plain operator new; column buffers are aligned or mapped)\n",
              run_allocations);
  std::printf("tables            %zu tables, %zu rows, %.1f MiB of buffers\n",
              result.tables.size(), table_rows(result.tables),
              static_cast<double>(table_bytes(result.tables)) / (1024.0 * 1024.0));
  // The floor that the tables' size alone sets: fresh pages for as many
  // bytes as their buffers hold, touched once, as a run must.
  const std::size_t bytes = table_bytes(result.tables);
  const double touch = best_seconds(runs, [&] {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    for (std::size_t i = 0; i < bytes; i += 4096) static_cast<volatile char*>(p)[i] = 1;
    munmap(p, bytes);
  });
  std::printf("fresh pages       %8.1f ms for the tables' bytes = %.0f %% of a run at 15 %% of parse\n",
              touch * 1e3, 100.0 * touch / (parse / 0.15));
  std::printf("diagnostics       %zu\n", result.diagnostics.size());
  for (const auto& [rule, count] : by_rule) std::printf("  %-24s %zu\n", rule.c_str(), count);
  if (!result.diagnostics.empty())
    std::printf("first: %s\n", zarvi_core::to_string(result.diagnostics.front()).c_str());
  return 0;
}

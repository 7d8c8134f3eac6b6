// write_bench [file] [--runs N] [--write-only]: write_with_findings over the tables of a
// parse (built-in spec the file selects, fixed envelope) against parse plus
// Processor::run of the same file, best of several runs each; the share of
// the write that its read-back takes; and the peak resident growth of one
// write in a forked child, against the output's size. Without a file it
// generates a 100 MB 5010 interchange in memory. --write-only times the
// writes alone, for a profiler.
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
#include "zarvi_core/write/writer.h"

using zarvi_bench::best_seconds;

int main(int argc, char** argv) {
  const char* path = nullptr;
  int runs = 3;
  bool write_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--write-only") == 0)
      write_only = true;
    else
      path = argv[i];
  }

  const std::optional<zarvi_bench::Input> opened = zarvi_bench::open_input(path);
  if (!opened) return 1;
  const std::string& input = *opened->bytes;
  zarvi_core::Segments segments(opened->doc);
  const zarvi_core::spec::Compiled selected =
      zarvi_core::spec::select_builtin([&] { return segments.next(); });
  if (!selected.ok()) {
    std::fprintf(stderr, "the built-in spec does not compile\n");
    return 1;
  }
  const zarvi_core::spec::Spec& spec = *selected.value();

  zarvi_core::process::RunResult parsed;
  const double read = best_seconds(write_only ? 1 : runs, [&] {
    parsed = zarvi_core::process::RunResult{};
    auto d = zarvi_core::Document::parse(std::string_view(input));
    parsed = zarvi_core::process::Processor::run(spec, d.value());
  });

  zarvi_core::write::envelope::Envelope envelope("ZZ", "SENDER", "ZZ", "RECEIVER", 20459,
                                                 12 * 3600);
  const zarvi_core::column::table::Tables& tables = parsed.tables;
  if (write_only) {
    const double write = best_seconds(runs, [&] {
      (void)zarvi_core::write::writer::write_with_findings(spec, tables, envelope);
    });
    std::printf("write             %8.1f s  (best of %d)\n", write, runs);
    return 0;
  }
  const zarvi_bench::Peak peak = zarvi_bench::peak_in_child([&] {
    auto w = zarvi_core::write::writer::write_with_findings(spec, tables, envelope);
    (void)w;
  });

  std::string bytes;
  std::map<std::string, std::size_t> by_kind;
  const double write = best_seconds(runs, [&] {
    auto w = zarvi_core::write::writer::write_with_findings(spec, tables, envelope);
    if (!w.ok()) return;
    by_kind.clear();
    for (const auto& f : w->findings)
      ++by_kind[std::string(zarvi_core::write::finding::kind_name(f.kind()))];
    bytes = std::move(w->bytes);
  });
  if (bytes.empty()) {
    std::fprintf(stderr, "the write was refused\n");
    return 1;
  }
  // The read-back alone: what the write spends reading its own output.
  const double read_back = best_seconds(runs, [&] {
    auto d = zarvi_core::Document::parse(std::string_view(bytes));
    auto r = zarvi_core::process::Processor::run(spec, d.value());
    (void)r;
  });

  const double in_mb = static_cast<double>(input.size()) / 1e6;
  const double out_mb = static_cast<double>(bytes.size()) / 1e6;
  const double grown_mb =
      static_cast<double>(peak.peak_kb - std::min(peak.before_kb, peak.peak_kb)) * 1024.0 / 1e6;
  std::printf("input             %.1f MB (%s)\n", in_mb, spec.name.c_str());
  std::printf("parse + run       %8.1f MB/s  (best of %d)\n", in_mb / read, runs);
  std::printf("write             %8.1f MB/s of output, %.1f MB  (best of %d, read-back included)\n",
              out_mb / write, out_mb, runs);
  std::printf("ratio             %8.2f  (write throughput / parse + run throughput)\n",
              (out_mb / write) / (in_mb / read));
  std::printf("read-back         %8.1f %% of the write\n", 100.0 * read_back / write);
  std::printf("peak growth write %8.1f MB = %.2f x output  (VmHWM - VmRSS in a forked child)\n",
              grown_mb, grown_mb / out_mb);
  std::printf("findings         ");
  for (const auto& [kind, n] : by_kind) std::printf(" %s=%zu", kind.c_str(), n);
  std::printf("\n");
  return 0;
}

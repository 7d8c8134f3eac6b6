// parse_bench [file]: Document::parse throughput against a plain memchr scan
// for segment terminators over the same buffer, best of several runs each,
// with the index's memory. Without a file it generates a 100 MB 5010
// interchange in memory.
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "bench_support.h"
#include "zarvi_core/document.h"

namespace {

// Bytes held by malloc, mapped blocks included.
std::size_t heap_bytes() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

}  // namespace


namespace {

constexpr int kRuns = 7;

template <class F>
double best_seconds(F&& run) {
  return zarvi_bench::best_seconds(kRuns, run);
}

std::size_t memchr_scan(std::string_view input, char terminator) {
  std::size_t count = 0;
  const char* p = input.data();
  const char* const end = p + input.size();
  while (p < end) {
    const void* hit = std::memchr(p, terminator, static_cast<std::size_t>(end - p));
    if (hit == nullptr) break;
    ++count;
    p = static_cast<const char*>(hit) + 1;
  }
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<zarvi_bench::Input> opened =
      zarvi_bench::open_input(argc > 1 ? argv[1] : nullptr);
  if (!opened) return 1;
  const std::string& input = *opened->bytes;
  const double mb = opened->mb();
  const zarvi_core::Document& doc = opened->doc;
  const char terminator = doc.delimiters().segment;
  const std::size_t segments = doc.size();

  std::size_t scanned = 0;
  const double scan = best_seconds([&] { scanned = memchr_scan(input, terminator); });

  std::size_t parsed = 0;
  const double parse = best_seconds([&] {
    auto d = zarvi_core::Document::parse(std::string_view(input));
    parsed = d.ok() ? d->size() : 0;
  });

  // Memory of one parse beyond the input: what the document keeps, and how
  // much resident memory grew while it was built.
  const std::size_t heap_before = heap_bytes();
  const std::size_t rss_before = zarvi_bench::status_kb("VmRSS:");
  zarvi_bench::reset_peak();
  std::size_t kept = 0;
  std::size_t peak = 0;
  {
    auto d = zarvi_core::Document::parse(std::string_view(input));
    kept = heap_bytes() - heap_before;
    const std::size_t hwm = zarvi_bench::status_kb("VmHWM:");
    peak = (hwm - std::min(rss_before, hwm)) * 1024;
  }

  // Walking every segment with one refilled Segment allocates only while it
  // grows.
  zarvi_core::Segment segment;
  std::size_t elements = 0;
  const std::size_t allocations_before = zarvi_bench::allocations();
  const double walk = best_seconds([&] {
    elements = 0;
    for (std::size_t i = 0; i < doc.size(); ++i) {
      segment.reparse(i, *doc.frame(i), doc.delimiters());
      elements += segment.elements().size();
    }
  });
  const std::size_t walk_allocations = zarvi_bench::allocations() - allocations_before;

  std::printf("input            %.1f MB, %zu segments (%.1f bytes each), %zu terminators\n", mb,
              segments, static_cast<double>(input.size()) / static_cast<double>(segments),
              scanned);
  std::printf("memchr scan      %8.1f MB/s\n", mb / scan);
  std::printf("Document::parse  %8.1f MB/s  (%zu segments)\n", mb / parse, parsed);
  std::printf("ratio            %8.1f %%\n", 100.0 * scan / parse);
  std::printf("index kept       %zu bytes = %.2f bytes per segment\n", kept,
              static_cast<double>(kept) / static_cast<double>(segments));
  std::printf("resident growth  %zu bytes = %.2f bytes per segment\n", peak,
              static_cast<double>(peak) / static_cast<double>(segments));
  std::printf("segment walk     %8.1f MB/s  (%zu elements, %zu allocations over %d walks)\n",
              mb / walk, elements, walk_allocations, kRuns);
  return 0;
}

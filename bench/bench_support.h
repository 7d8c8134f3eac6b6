// Helpers the benchmarks share: the input (a file, or a generated 100 MB 5010
// interchange), this process's resident memory from /proc/self/status, and
// the count of allocations through operator new, and best-of timing.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "generator.h"
#include "zarvi_core/document.h"

namespace zarvi_bench {

// The shortest wall time of `runs` calls of `run`, in seconds.
template <class F>
double best_seconds(int runs, F&& run) {
  using Clock = std::chrono::steady_clock;
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// The bytes of `path`, or without a path a generated 100 MB 5010
// interchange; none (the error printed) when the file cannot be read.
inline std::optional<std::string> load_input(const char* path) {
  if (path == nullptr) return generate_835(100 * 1000 * 1000, Version::V5010);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::perror(path);
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return std::move(text).str();
}

// The input indexed once (borrowing it), or none with the error printed.
inline std::optional<zarvi_core::Document> index_input(const std::string& input) {
  auto parsed = zarvi_core::Document::parse(std::string_view(input));
  if (!parsed.ok()) {
    std::fprintf(stderr, "%s\n", zarvi_core::to_string(parsed.error()).c_str());
    return std::nullopt;
  }
  return std::move(parsed).value();
}

// The input and its index; the document borrows the bytes, which stay put
// when the Input moves.
struct Input {
  std::unique_ptr<const std::string> bytes;
  zarvi_core::Document doc;

  double mb() const { return static_cast<double>(bytes->size()) / 1e6; }
};

// load_input then index_input; none with the error printed.
inline std::optional<Input> open_input(const char* path) {
  std::optional<std::string> loaded = load_input(path);
  if (!loaded) return std::nullopt;
  auto bytes = std::make_unique<const std::string>(std::move(*loaded));
  std::optional<zarvi_core::Document> doc = index_input(*bytes);
  if (!doc) return std::nullopt;
  return Input{std::move(bytes), std::move(*doc)};
}

// Resident kilobytes: key "VmRSS:" now, "VmHWM:" the peak since reset_peak.
inline std::size_t status_kb(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key, 0) == 0) return std::strtoull(line.c_str() + std::strlen(key), nullptr, 10);
  }
  return 0;
}

inline void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

struct Peak {
  std::size_t before_kb = 0;  // resident just before the measured step
  std::size_t peak_kb = 0;    // high-water mark during it
};

// Runs `step` in a forked child whose heap holds nothing freed yet by a timed
// run, so that resident growth is not hidden by reused pages, and returns the
// child's resident memory before the step and its peak during it.
template <class F>
Peak peak_in_child(F&& step) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    reset_peak();
    Peak p;
    p.before_kb = status_kb("VmRSS:");
    step();
    p.peak_kb = status_kb("VmHWM:");
    const ssize_t written = write(fds[1], &p, sizeof p);
    _exit(written == static_cast<ssize_t>(sizeof p) ? 0 : 1);
  }
  close(fds[1]);
  Peak p;
  if (pid < 0 || read(fds[0], &p, sizeof p) != static_cast<ssize_t>(sizeof p)) p = {};
  close(fds[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return p;
}

// Calls of the global operator new so far (count_new.cc replaces it).
std::size_t allocations();

}  // namespace zarvi_bench

// generator_check: a generated interchange of each version, run through the
// built-in spec of that version, must come out without a diagnostic and with
// rows in every table. Registered as a test of the bench build.
#include <cstdio>

#include "generator.h"
#include "zarvi_core/document.h"
#include "zarvi_core/process.h"
#include "zarvi_core/spec/builtin.h"

namespace {

bool clean(zarvi_bench::Version version, const zarvi_core::spec::Compiled& compiled,
           const char* name) {
  const std::string input = zarvi_bench::generate_835(2 * 1000 * 1000, version);
  auto doc = zarvi_core::Document::parse(std::string_view(input));
  if (!doc.ok() || !compiled.ok()) {
    std::printf("%s: the input or the spec does not load\n", name);
    return false;
  }
  const auto result = zarvi_core::process::Processor::run(*compiled.value(), doc.value());
  for (const zarvi_core::Diagnostic& d : result.diagnostics)
    std::printf("%s: %s\n", name, zarvi_core::to_string(d).c_str());
  bool rows = result.tables.size() > 0;
  for (std::size_t i = 0; i < result.tables.size(); ++i) {
    if (result.tables[i].rows() == 0) {
      std::printf("%s: table %s has no rows\n", name, result.tables[i].name().c_str());
      rows = false;
    }
  }
  return result.diagnostics.empty() && rows;
}

}  // namespace

int main() {
  const bool v5010 =
      clean(zarvi_bench::Version::V5010, zarvi_core::spec::shared_builtin_835(), "5010");
  const bool v4010 =
      clean(zarvi_bench::Version::V4010, zarvi_core::spec::shared_builtin_835_4010(), "4010");
  return v5010 && v4010 ? 0 : 1;
}

// DeclaredVersion: the segment, element and texts by which a file declares
// the version a spec reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zarvi_core::spec {

struct DeclaredVersion {
  std::string segment;              // segment id bytes
  uint64_t element = 0;             // 1-based
  std::vector<std::string> values;  // in the order written; none empty, no repeats
};

}  // namespace zarvi_core::spec

// The version a spec declares (a segment, an element position and the texts
// that element may hold) and the choice of a spec by the version a file
// declares. DeclaredVersion owns its bytes; matching borrows nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zarvi_core/result.h"
#include "zarvi_core/segment.h"
#include "zarvi_core/spec/version_error.h"

namespace zarvi_core::spec {

enum class VersionMatch : uint8_t { NotThisSegment, Match, Mismatch };

struct DeclaredVersion {
  std::string segment;
  uint64_t element = 0;             // 1-based
  std::vector<std::string> values;  // in the order written; none empty, no repeats

  VersionMatch matches(const Segment& segment) const;

  friend bool operator==(const DeclaredVersion&, const DeclaredVersion&) = default;
};

// The checks of a "version" member after its segment id was found non-empty.
Result<DeclaredVersion, VersionError> compile_version(std::string segment, uint64_t element,
                                                      const std::vector<std::string>& values);

// The next segment of an input, or none at its end.
using NextSegment = std::function<std::optional<Segment>()>;

// Chooses among candidates (null: the candidate declares no version) by
// reading segments from `next` until the declarations decide. Returns the
// index of the chosen candidate, or none for the fallback. Never fails.
std::optional<std::size_t> select_version(std::span<const DeclaredVersion* const> candidates,
                                          const NextSegment& next);

}  // namespace zarvi_core::spec

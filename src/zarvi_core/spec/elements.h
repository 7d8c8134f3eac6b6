// Segment and element definitions: the compiled "segments" section, the
// position parser and the code-list compiler shared with occurrences.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/result.h"
#include "zarvi_core/spec/element_error.h"
#include "zarvi_core/element_type.h"
#include "zarvi_core/spec/spec_error.h"

namespace zarvi_core::spec {

struct ElementDef {
  std::string name;
  ElementType type;
  bool required = false;
  std::optional<uint64_t> min;
  std::optional<uint64_t> max;
  // Sorted byte-wise, unique; empty accepts any value.
  std::vector<std::string> codes;
  // Components by 1-based position; only on type AN, never nested.
  std::optional<std::map<uint64_t, ElementDef>> composite;

  // True when the element lists codes and `value` is not one of them.
  bool rejects_code(std::string_view value) const;
};

struct SegmentDef {
  std::map<uint64_t, ElementDef> elements;  // by 1-based position
};

// Segment definitions by segment id bytes.
using SegmentMap = std::map<std::string, SegmentDef, std::less<>>;

// A 1-based position written in canonical decimal form: "1", "12"; none for
// "", "0", "01", "+1", " 1", "1.0" or a number past 64 bits.
std::optional<uint64_t> parse_position(std::string_view text);

// The definition of an element, or of one component of its composite; null
// when the segment, element or component is not defined. Points into
// `segments`.
const ElementDef* find_element(const SegmentMap& segments, std::string_view segment,
                               uint64_t element, std::optional<uint64_t> component);

}  // namespace zarvi_core::spec

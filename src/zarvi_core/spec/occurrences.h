// Occurrences: the named appearances of segments inside a loop, with their
// order ("pos"), limits, qualifiers and code lists; and the check that a
// loop's trigger selects exactly one occurrence that comes first.
#pragma once

#include <algorithm>
#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/result.h"
#include "zarvi_core/spec/elements.h"
#include "zarvi_core/spec/spec_error.h"
#include "zarvi_core/spec/trigger.h"
#include "zarvi_core/spec/usage.h"

namespace zarvi_core::spec {

// The element (or component) whose code tells occurrences of one segment
// apart.
struct Qualifier {
  uint64_t element = 0;
  std::optional<uint64_t> component;
  std::vector<std::string> codes;  // sorted, unique

  bool accepts(std::string_view text) const {
    return std::binary_search(codes.begin(), codes.end(), text, std::less<>());
  }

  // Whether a segment's elements select this occurrence. Element is any type
  // with is_composite(), value() (a simple element's bytes) and components()
  // (a span of items convertible to std::string_view); elements[0] is
  // element 01.
  template <class Element>
  bool matches(std::span<const Element> elements) const {
    if (element == 0 || element > elements.size()) return false;
    const Element& e = elements[element - 1];
    if (!e.is_composite()) {
      if (component && *component != 1) return false;
      return accepts(e.value());
    }
    const uint64_t c = component.value_or(1);
    const auto parts = e.components();
    if (c == 0 || c > parts.size()) return false;
    return accepts(std::string_view(parts[c - 1]));
  }
};

// An entry key of an occurrence's "codes": element and optional component.
struct CodePlace {
  uint64_t element = 0;
  std::optional<uint64_t> component;

  friend auto operator<=>(const CodePlace&, const CodePlace&) = default;
  friend bool operator==(const CodePlace&, const CodePlace&) = default;
};

struct OccurrenceDef {
  std::string name;
  std::string segment;
  uint64_t pos = 0;
  Usage usage = Usage::Situational;
  std::optional<uint64_t> max;  // never 0
  std::optional<Qualifier> qualifier;
  std::map<CodePlace, std::vector<std::string>> codes;  // each list sorted, unique

  // Whether a trigger on `segment` with these conditions opens on this
  // occurrence: same segment id, and no qualifier or a qualifier on a simple
  // element whose codes hold the condition at that element.
  bool opens_on(std::string_view segment_id, std::span<const Condition> conditions) const;
};

// The first occurrence, in the sorted list, that opens on the trigger; null
// when none does. Points into `occurrences`.
const OccurrenceDef* trigger_occurrence(const std::vector<OccurrenceDef>& occurrences,
                                        const Trigger& trigger);

// The trigger occurrence exists, accepts no code the trigger does not
// require, and comes before every other occurrence.
Result<Unit, SpecError> check_trigger(const std::string& loop_name,
                                      const std::vector<OccurrenceDef>& occurrences,
                                      const Trigger& trigger);

}  // namespace zarvi_core::spec

// A spec with nested and sibling loops for the table and balancing tests,
// and a compile helper that merges a patch over it first.
#pragma once

#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "zarvi_core/spec/spec.h"
#include "zarvi_core/spec/patch.h"

namespace zarvi_core::spec::testing {

// Loops: head (root) > item > sub, and head > side.
inline nlohmann::json nested_spec() {
  return nlohmann::json::parse(R"({
    "name": "small",
    "loops": {
      "head": {"trigger": {"segment": "HD"}, "occurrences": {
        "head": {"segment": "HD", "pos": 1, "max": 1}, "note": {"segment": "NT", "pos": 2},
        "ref_a": {"segment": "RF", "pos": 3, "max": 1, "qualifier": {"element": 1, "codes": ["A"]}},
        "ref_b": {"segment": "RF", "pos": 3, "max": 3, "qualifier": {"element": 1, "codes": ["B"]}},
        "trailer": {"segment": "TR", "pos": 50}}},
      "item": {"parent": "head", "trigger": {"segment": "IT"}, "occurrences": {
        "item": {"segment": "IT", "pos": 10, "max": 1}, "amount": {"segment": "AM", "pos": 11, "max": 5},
        "late": {"segment": "LT", "pos": 12}}},
      "sub": {"parent": "item", "trigger": {"segment": "SB"}, "occurrences": {
        "sub": {"segment": "SB", "pos": 20, "max": 1}, "amount": {"segment": "AM", "pos": 21}}},
      "side": {"parent": "head", "trigger": {"segment": "SD"}, "occurrences": {
        "side": {"segment": "SD", "pos": 30, "max": 1}, "amount": {"segment": "NT", "pos": 31},
        "extra": {"segment": "AM", "pos": 32}}}
    },
    "segments": {
      "RF": {"elements": {"1": {"name": "qual", "type": "ID"}, "2": {"name": "value", "type": "AN"}}},
      "IT": {"elements": {"1": {"name": "n", "type": "R"}}},
      "AM": {"elements": {"1": {"name": "a", "type": "R"}, "2": {"name": "b", "type": "R", "scale": 4},
        "3": {"name": "c", "type": "N2"},
        "4": {"name": "d", "type": "AN", "composite": {"1": {"name": "x", "type": "R"}}}}}
    }
  })");
}

inline Compiled compile_small(const char* patch) {
  nlohmann::json value = nested_spec();
  merge_patch(value, nlohmann::json::parse(patch));
  return Spec::from_value(std::move(value));
}

struct PatchCase {
  const char* name;
  const char* patch;     // merged over the small spec
  const char* expected;  // the error message, or "" when the spec compiles
};

// Each case either compiles or fails with exactly its message.
template <size_t N>
void expect_compile(const PatchCase (&cases)[N]) {
  for (const PatchCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto compiled = compile_small(c.patch);
    if (*c.expected == '\0') {
      EXPECT_TRUE(compiled.ok()) << compiled.error().message();
    } else {
      ASSERT_FALSE(compiled.ok());
      EXPECT_EQ(compiled.error().message(), c.expected);
    }
  }
}

}  // namespace zarvi_core::spec::testing

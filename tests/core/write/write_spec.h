// A tiny spec with an envelope loop, nested and sibling loops and one table,
// for the write plan and layout tests, and a compile helper that merges a
// patch over it first.
#pragma once

#include <string_view>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "zarvi_core/spec/patch.h"
#include "zarvi_core/spec/spec.h"

namespace zarvi_core::write::testing {

// Loops: top (an envelope loop) > item > sub, and top > side.
inline const char* const kTinySpec = R"({
  "name": "tiny",
  "loops": {
    "top": {"trigger": {"segment": "ST"}, "end": "SE", "usage": "required",
      "control": {"opener_element": 2, "closer_element": 2, "count_element": 1, "count": "segments"},
      "occurrences": {"header": {"segment": "ST", "pos": 1, "max": 1, "usage": "required"},
                      "ref": {"segment": "REF", "pos": 2, "max": 3}}},
    "item": {"parent": "top", "trigger": {"segment": "IT"}, "occurrences": {
      "item": {"segment": "IT", "pos": 10, "max": 1},
      "note": {"segment": "NT", "pos": 11, "max": 3},
      "ref_a": {"segment": "RF", "pos": 12, "qualifier": {"element": 1, "codes": ["A"]}},
      "ref_b": {"segment": "RF", "pos": 12, "qualifier": {"element": 1, "codes": ["B", "C"]}}}},
    "sub": {"parent": "item", "trigger": {"segment": "SB"},
      "occurrences": {"sub": {"segment": "SB", "pos": 20}}},
    "side": {"parent": "top", "trigger": {"segment": "SD"}, "occurrences": {
      "side": {"segment": "SD", "pos": 30}, "note": {"segment": "NT", "pos": 31}}}
  },
  "segments": {
    "IT": {"elements": {"1": {"name": "n", "type": "AN"}}},
    "RF": {"elements": {"1": {"name": "qual", "type": "ID", "codes": ["A", "B", "C"]},
                        "2": {"name": "value", "type": "AN"}}},
    "NT": {"elements": {"1": {"name": "kind", "type": "ID", "codes": ["X", "Y"]},
                        "2": {"name": "text", "type": "AN"}}}
  },
  "tables": {"items": {"loops": ["item"], "columns": {"n": {"segment": "IT", "element": 1}}}}
})";

// The tiny spec with `patch` merged over it; null (and a test failure) when
// it does not compile.
inline spec::SpecPtr compile_tiny(std::string_view patch) {
  nlohmann::json value = nlohmann::json::parse(kTinySpec);
  spec::merge_patch(value, nlohmann::json::parse(patch));
  auto compiled = spec::Spec::from_value(std::move(value));
  if (!compiled.ok()) {
    ADD_FAILURE() << compiled.error().message();
    return nullptr;
  }
  return compiled.value();
}

inline spec::LoopId loop_of(const spec::Spec& spec, std::string_view name) {
  const auto id = spec.loop_id(name);
  EXPECT_TRUE(id.has_value()) << name;
  return id.value_or(0);
}

}  // namespace zarvi_core::write::testing

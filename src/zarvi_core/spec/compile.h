// The compile driver: one spec JSON value in, one shared immutable Spec or
// the first SpecError out. The steps run in a fixed order, each only when
// every earlier one passed.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "zarvi_core/result.h"
#include "zarvi_core/spec/raw.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/spec/spec_error.h"
#include "zarvi_core/spec/version.h"

namespace zarvi_core::spec {

// The deepest nesting of arrays and objects a spec value may have. Real
// specs nest about eight levels; the bound keeps every recursive walk over
// a hostile value (and the JSON library's own copies) off the stack limit.
inline constexpr std::size_t kMaxSpecDepth = 64;

// Parses spec text into a value with sorted objects, refusing syntax errors
// and nesting past kMaxSpecDepth as SpecError::Json.
Result<nlohmann::json, SpecError> parse_spec_json(std::string_view text);

// Refuses a value nested past kMaxSpecDepth (SpecError::Json).
Result<Unit, SpecError> check_depth(const nlohmann::json& value);

// The whole compile; the value becomes the Spec's source.
Compiled compile_spec(nlohmann::json value);

// The version a decoded "version" member declares (none without one),
// checked as the compile checks it.
Result<std::optional<DeclaredVersion>, SpecError> check_declared_version(
    const std::optional<RawVersion>& raw);
// The same for the member's value as written (null: none), decoded first.
Result<std::optional<DeclaredVersion>, SpecError> compile_version_member(
    const nlohmann::json& member);

}  // namespace zarvi_core::spec

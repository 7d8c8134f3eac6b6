// The compile driver: one spec JSON value in, one shared immutable Spec or
// the first SpecError out. The steps run in a fixed order, each only when
// every earlier one passed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/result.h"
#include "zarvi_core/spec/raw.h"
#include "zarvi_core/spec/spec.h"
#include "zarvi_core/spec/spec_error.h"
#include "zarvi_core/spec/version.h"

namespace zarvi_core::spec {

class LoopIndex;

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

// The compile steps, each over the decoded (raw) members of one section.

// The "control" of a loop; `has_end` tells whether the loop has "end".
Result<Control, ControlError> compile_control(const RawControl& raw, bool has_end);

// The distinct codes in byte order, or the first problem of the list for an
// element of `type` with the given length bounds.
Result<std::vector<std::string>, ElementDefError> compile_codes(
    const std::vector<std::string>& codes, const ElementType& type, std::optional<uint64_t> min,
    std::optional<uint64_t> max);

// One segment's "elements" (or one composite's components, with the parent
// element's key) in key order; errors are BadElementDef for `segment`.
Result<std::map<uint64_t, ElementDef>, SpecError> compile_elements(
    std::string_view segment, const std::map<std::string, RawElement>& elements,
    std::optional<std::string_view> parent = std::nullopt);

// A loop's occurrences in key order, checked for distinctness, then
// stable-sorted by "pos". Errors name `loop_name`.
Result<std::vector<OccurrenceDef>, SpecError> compile_occurrences(
    const std::string& loop_name, const std::map<std::string, RawOccurrence>& occurrences,
    const SegmentMap& segments);

// Compiles the "tables" object (null: no tables) against the loops and
// occurrences of `spec` (`index` over its loops), every table before any is
// linked, then links them.
Result<std::vector<TableDef>, SpecError> compile_tables(const Spec& spec, const LoopIndex& index,
                                                        const nlohmann::json* tables);

// The structure of the "balancing" value, checked with the rest of the spec
// before anything is decoded.
Result<Unit, SpecError> check_balancing_shape(const nlohmann::json& value);

// Compiles the "balancing" object (null: no rules), rules in name order.
Result<std::vector<BalanceRule>, SpecError> compile_balancing(const Spec& spec,
                                                              const LoopIndex& index,
                                                              const nlohmann::json* balancing);

}  // namespace zarvi_core::spec

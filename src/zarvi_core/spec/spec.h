// Spec: the compiled, immutable form of a spec JSON value. Built only by
// compiling (from_json, from_value) and shared read-only by reference
// counting; it keeps the JSON value it was compiled from in a compact binary
// form. Pointers returned by the lookups point into the Spec and live as long
// as it does.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zarvi_core/result.h"
#include "zarvi_core/spec/balance.h"
#include "zarvi_core/spec/elements.h"
#include "zarvi_core/spec/loops.h"
#include "zarvi_core/spec/spec_error.h"
#include "zarvi_core/spec/tables.h"
#include "zarvi_core/spec/version.h"

namespace zarvi_core::spec {

class Spec;
using SpecPtr = std::shared_ptr<const Spec>;
using Compiled = Result<SpecPtr, SpecError>;

// Shared ownership from within: findings share the spec's names and lists
// with it (weak_from_this) instead of copying them.
class Spec : public std::enable_shared_from_this<Spec> {
 public:
  // Parses the text (objects as sorted maps; a repeated key keeps its last
  // value), then compiles it. A syntax error is SpecError::Json.
  static Compiled from_json(std::string_view text);
  // Compiles the value, which becomes `source`; the first error stops it.
  static Compiled from_value(nlohmann::json value);

  std::optional<LoopId> loop_id(std::string_view name) const;
  const TableDef* table(std::string_view name) const;
  const ElementDef* element_def(std::string_view segment, uint64_t element,
                                std::optional<uint64_t> component = std::nullopt) const;
  // The loop's ancestors, outermost first, the loop itself excluded.
  std::vector<LoopId> ancestors(LoopId loop) const;

  // A new spec compiled from this one's source with a JSON merge patch text
  // merged over it; this spec is unchanged. Text that is not JSON is Json;
  // a merged value that does not compile is Patch around the compile error.
  Compiled merge_patch(std::string_view patch) const;
  // The source, pretty-printed with two-space indentation, members in key
  // order; "" if it cannot be written.
  std::string to_json() const;

  // The built-in 835 spec for 005010X221A1, and the 4010 spec (the 4010
  // patch merged over it), compiled afresh; builtin.h holds the shared ones.
  static Compiled builtin_835();
  static Compiled builtin_835_4010();

  // The first candidate whose declared version the segments from `next`
  // match, read only until the declarations decide; otherwise `fallback`.
  static SpecPtr select(std::span<const SpecPtr> candidates, SpecPtr fallback,
                        const NextSegment& next);

  std::string name;
  std::vector<LoopDef> loops;          // a LoopId indexes it; byte order of names
  std::vector<LoopId> roots;           // loops without a parent, ascending
  std::vector<TableDef> tables;        // byte order of names
  std::vector<BalanceRule> balancing;  // byte order of rule names
  std::optional<DeclaredVersion> version;
  SegmentMap segments;  // element definitions by segment id

  // The value compiled, whole, decoded afresh from the compact form.
  nlohmann::json source() const;

 private:
  Spec() = default;
  friend class Compiler;

  // CBOR of the value compiled: under a tenth of the size of the tree, and
  // unlike JSON text it holds strings that are not UTF-8.
  std::vector<std::uint8_t> source_;
};

}  // namespace zarvi_core::spec

// SpecError: the one error of compiling or patching a spec. Each of its 29
// kinds renders one sentence that names the path, loop, segment, occurrence,
// table or rule at fault; inner errors are wrapped with what they concern.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "zarvi_core/spec/control_error.h"
#include "zarvi_core/spec/element_error.h"
#include "zarvi_core/spec/occurrence_error.h"
#include "zarvi_core/spec/balance_error.h"
#include "zarvi_core/spec/table_error.h"
#include "zarvi_core/spec/version_error.h"

namespace zarvi_core::spec {

struct SpecError {
  // The JSON library's error (or the nesting guard's) for text that is not
  // a usable JSON value.
  struct Json {
    std::string message;
  };
  struct Schema {
    std::optional<std::string> loop_name;
    std::string source;
  };
  struct Patch {
    std::shared_ptr<const SpecError> source;
  };
  struct UnknownParent {
    std::string loop_name;
    std::string parent;
  };
  struct Cycle {
    std::vector<std::string> members;  // child before parent
  };
  struct NoLoops {
    std::string spec_name;
  };
  struct EmptySegmentId {
    std::optional<std::string> loop_name;
    std::string key;  // a path, written bare
  };
  struct EndIsTrigger {
    std::string loop_name;
    std::string segment;
  };
  struct BadPosition {
    std::string loop_name;
    std::string position;
  };
  struct NotAnObject {
    std::string path;
    std::string found;
  };
  struct WrongType {
    std::string path;
    std::string expected;
    std::string found;
    std::string value;  // empty for null
  };
  struct UnknownKey {
    std::string path;
    std::string key;
  };
  struct MissingKey {
    std::string path;
    std::string key;
  };
  struct SegmentSchema {
    std::string segment;
    std::string source;
  };
  struct BadElementDef {
    std::string segment;
    std::string position;  // the key, or "{parent}.composite.{key}"
    ElementDefError reason;
  };
  struct TableSchema {
    std::string table;
    std::optional<std::string> column;
    std::string source;
  };
  struct BadTable {
    std::string table;
    std::optional<std::string> column;
    TableDefError reason;
  };
  struct BadVersion {
    VersionError reason;
  };
  struct BadControl {
    std::string loop_name;
    ControlError reason;
  };
  struct BadOccurrence {
    std::string loop_name;
    std::string occurrence;
    OccurrenceError reason;
  };
  struct BalanceSchema {
    std::string rule;
    std::string source;
  };
  struct BadBalance {
    std::string rule;
    BalanceError reason;
  };
  struct UnmatchedTrigger {
    std::string loop_name;
    std::string trigger;  // rendered
    bool segment_held;
  };
  struct TriggerQualifierWider {
    std::string loop_name;
    std::string occurrence;
    std::string trigger;  // rendered
    std::string code;
  };
  struct TriggerNotFirst {
    std::string loop_name;
    std::string occurrence;
    uint64_t pos;
    std::string other;  // the occurrence the loop opens on
    uint64_t other_pos;
  };
  struct UnknownLoopUsage {
    std::string loop_name;
    std::string found;
  };
  struct ZeroLoopMax {
    std::string loop_name;
  };
  struct AmbiguousTrigger {
    std::string first;
    std::string second;
    std::optional<std::string> parent;  // absent for roots
    std::string segment;
    std::vector<std::pair<uint64_t, std::string>> conditions;  // values as text
  };
  struct OverlappingTriggers {
    std::optional<std::string> parent;
    std::string a;
    std::string b;
    std::string conditions_a;  // rendered triggers
    std::string conditions_b;
  };

  enum class Kind : uint8_t {
    Json,
    Schema,
    Patch,
    UnknownParent,
    Cycle,
    NoLoops,
    EmptySegmentId,
    EndIsTrigger,
    BadPosition,
    NotAnObject,
    WrongType,
    UnknownKey,
    MissingKey,
    SegmentSchema,
    BadElementDef,
    TableSchema,
    BadTable,
    BadVersion,
    BadControl,
    BadOccurrence,
    BalanceSchema,
    BadBalance,
    UnmatchedTrigger,
    TriggerQualifierWider,
    TriggerNotFirst,
    UnknownLoopUsage,
    ZeroLoopMax,
    AmbiguousTrigger,
    OverlappingTriggers
  };
  using Value = std::variant<Json, Schema, Patch, UnknownParent, Cycle, NoLoops, EmptySegmentId,
                             EndIsTrigger, BadPosition, NotAnObject, WrongType, UnknownKey,
                             MissingKey, SegmentSchema, BadElementDef, TableSchema, BadTable,
                             BadVersion, BadControl, BadOccurrence, BalanceSchema, BadBalance,
                             UnmatchedTrigger, TriggerQualifierWider, TriggerNotFirst,
                             UnknownLoopUsage, ZeroLoopMax, AmbiguousTrigger, OverlappingTriggers>;

  template <class V>
    requires std::is_constructible_v<Value, V&&>
  SpecError(V&& v) : value(std::forward<V>(v)) {}

  // The compile error of a patched spec, wrapped.
  static SpecError patch(SpecError inner);

  Kind kind() const noexcept { return static_cast<Kind>(value.index()); }
  // The sentence shown to the user (and raised by the Python layer).
  std::string message() const;
  // The kind name and its fields in order: Cycle { members: ["a", "b"] }.
  std::string debug() const;

  Value value;
};

// "Json", "Schema", ... "OverlappingTriggers".
std::string_view kind_name(SpecError::Kind kind);

}  // namespace zarvi_core::spec

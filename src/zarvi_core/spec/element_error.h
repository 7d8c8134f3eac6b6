// ElementDefError: why one element (or component) definition of a segment is
// refused. Also nested in occurrence errors, whose code lists follow the same
// rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace zarvi_core::spec {

struct ElementDefError {
  struct NonCanonicalPosition {};
  struct EmptyName {};
  struct DuplicateName {
    std::string name;
    std::string position;  // the earlier member's key
  };
  struct UnknownType {
    std::string found;
  };
  struct ScaleWithoutR {
    std::string type;
  };
  struct MinAboveMax {
    uint64_t min;
    uint64_t max;
  };
  struct CompositeOnNonAn {
    std::string type;
  };
  struct NestedComposite {};
  struct ScaleAboveMaximum {
    uint64_t scale;
    uint64_t maximum;
  };
  struct ZeroMax {};
  struct EmptyCodes {};
  struct EmptyCode {
    std::size_t index;
  };
  struct CodeLength {
    std::string code;
    std::size_t index;
    uint64_t length;
    std::optional<uint64_t> min;
    std::optional<uint64_t> max;
  };
  struct DuplicateCode {
    std::string code;
    std::size_t first;
    std::size_t second;
  };
  struct CodesOnComposite {};
  struct CodesOnNumeric {
    std::string type;
  };

  enum class Kind : uint8_t {
    NonCanonicalPosition,
    EmptyName,
    DuplicateName,
    UnknownType,
    ScaleWithoutR,
    MinAboveMax,
    CompositeOnNonAn,
    NestedComposite,
    ScaleAboveMaximum,
    ZeroMax,
    EmptyCodes,
    EmptyCode,
    CodeLength,
    DuplicateCode,
    CodesOnComposite,
    CodesOnNumeric
  };
  using Value = std::variant<NonCanonicalPosition, EmptyName, DuplicateName, UnknownType,
                             ScaleWithoutR, MinAboveMax, CompositeOnNonAn, NestedComposite,
                             ScaleAboveMaximum, ZeroMax, EmptyCodes, EmptyCode, CodeLength,
                             DuplicateCode, CodesOnComposite, CodesOnNumeric>;

  template <class V>
    requires std::is_constructible_v<Value, V&&>
  ElementDefError(V&& v) : value(std::forward<V>(v)) {}

  Kind kind() const noexcept { return static_cast<Kind>(value.index()); }
  std::string message() const;

  Value value;
};

}  // namespace zarvi_core::spec

// OccurrenceError: why one occurrence of a loop is refused, or why two
// occurrences of one segment cannot be told apart.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "zarvi_core/spec/element_error.h"

namespace zarvi_core::spec {

struct OccurrenceError {
  struct EmptyName {};
  struct UnknownUsage {
    std::string found;
  };
  struct ZeroMax {};
  // subject: "qualifier" or "codes.<key>"; place: as in REF01 or SVC01-2.
  struct UndefinedElement {
    std::string subject;
    std::string place;
    std::string segment;
  };
  struct BadCodesKey {
    std::string key;
  };
  struct EmptyCodes {
    std::string subject;
  };
  struct BadCodes {
    std::string subject;
    ElementDefError reason;
  };
  struct QualifierInCodes {
    std::string key;
  };
  struct QualifierCodeOutsideElement {
    std::string code;
    std::string place;
    std::string allowed;  // the element's codes joined by ", "
  };
  struct Indistinct {
    std::string segment;
    std::string other;
  };
  struct QualifierPlaces {
    std::string place;
    std::string other;
    std::string other_place;
  };
  struct SharedCode {
    std::string segment;
    std::string other;
    std::string code;
  };

  enum class Kind : uint8_t {
    EmptyName,
    UnknownUsage,
    ZeroMax,
    UndefinedElement,
    BadCodesKey,
    EmptyCodes,
    BadCodes,
    QualifierInCodes,
    QualifierCodeOutsideElement,
    Indistinct,
    QualifierPlaces,
    SharedCode
  };
  using Value = std::variant<EmptyName, UnknownUsage, ZeroMax, UndefinedElement, BadCodesKey,
                             EmptyCodes, BadCodes, QualifierInCodes, QualifierCodeOutsideElement,
                             Indistinct, QualifierPlaces, SharedCode>;

  template <class V>
    requires std::is_constructible_v<Value, V&&>
  OccurrenceError(V&& v) : value(std::forward<V>(v)) {}

  Kind kind() const noexcept { return static_cast<Kind>(value.index()); }
  std::string message() const;

  Value value;
};

}  // namespace zarvi_core::spec

// ControlError: why a loop's "control" (the envelope control number and count
// its opening and closing segments carry) is refused.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace zarvi_core::spec {

struct ControlError {
  struct NoEnd {};
  struct ZeroPosition {
    std::string key;  // "opener_element", "closer_element" or "count_element"
  };
  struct UnknownCount {
    std::string found;
  };

  enum class Kind : uint8_t { NoEnd, ZeroPosition, UnknownCount };
  using Value = std::variant<NoEnd, ZeroPosition, UnknownCount>;

  template <class V>
    requires std::is_constructible_v<Value, V&&>
  ControlError(V&& v) : value(std::forward<V>(v)) {}

  Kind kind() const noexcept { return static_cast<Kind>(value.index()); }
  std::string message() const;

  Value value;
};

}  // namespace zarvi_core::spec

// VersionError: why a spec's "version" is refused; the reason inside a spec
// error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zarvi_core::spec {

struct VersionError {
  enum class Kind : uint8_t { ZeroElement, NoValues, EmptyValue, DuplicateValue };
  Kind kind = Kind::ZeroElement;
  std::string value;       // DuplicateValue
  std::size_t first = 0;   // EmptyValue (the index), DuplicateValue
  std::size_t second = 0;  // DuplicateValue

  friend bool operator==(const VersionError&, const VersionError&) = default;
};
std::string to_string(const VersionError& error);

}  // namespace zarvi_core::spec

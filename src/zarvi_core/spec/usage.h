// Usage of a loop or an occurrence: "required" or "situational".
#pragma once

#include <optional>
#include <string>

namespace zarvi_core::spec {

enum class Usage : uint8_t { Required, Situational };

// Absent is Situational; any text but the two words is none.
inline std::optional<Usage> parse_usage(const std::optional<std::string>& text) {
  if (!text || *text == "situational") return Usage::Situational;
  if (*text == "required") return Usage::Required;
  return std::nullopt;
}

}  // namespace zarvi_core::spec

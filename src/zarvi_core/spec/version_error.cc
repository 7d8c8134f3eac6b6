#include "zarvi_core/spec/version_error.h"

#include "zarvi_core/text.h"

namespace zarvi_core::spec {

std::string to_string(const VersionError& error) {
  using K = VersionError::Kind;
  switch (error.kind) {
    case K::ZeroElement:
      return "\"element\" is 0; positions are 1-based";
    case K::NoValues:
      return "\"values\" is empty; list at least one value the element may hold";
    case K::EmptyValue:
      return "\"values[" + std::to_string(error.first) + "]\" is empty";
    case K::DuplicateValue:
      return "value " + quote_bytes(error.value) + " is listed twice, at values[" +
             std::to_string(error.first) + "] and values[" + std::to_string(error.second) + "]";
  }
  return {};
}

}  // namespace zarvi_core::spec

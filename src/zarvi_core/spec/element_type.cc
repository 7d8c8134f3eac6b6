#include "zarvi_core/spec/element_type.h"

namespace zarvi_core::spec {

std::string to_string(const ElementType& type) {
  switch (type.kind) {
    case ElementType::Kind::AN: return "AN (string)";
    case ElementType::Kind::ID: return "ID (code)";
    case ElementType::Kind::N: {
      const std::string d = std::to_string(type.scale);
      return "N" + d + " (integer with " + d + " implied decimals)";
    }
    case ElementType::Kind::R: return "R (decimal, scale " + std::to_string(type.scale) + ")";
    case ElementType::Kind::DT: return "DT (date CCYYMMDD or YYMMDD)";
    case ElementType::Kind::TM: return "TM (time HHMM, HHMMSS or HHMMSSD..)";
  }
  return {};
}

}  // namespace zarvi_core::spec

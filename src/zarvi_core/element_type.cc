#include "zarvi_core/element_type.h"

namespace zarvi_core {

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

}  // namespace zarvi_core

namespace zarvi_core {

std::string type_code(const ElementType& type) {
  switch (type.kind) {
    case ElementType::Kind::AN: return "AN";
    case ElementType::Kind::ID: return "ID";
    case ElementType::Kind::N: return "N" + std::to_string(type.scale);
    case ElementType::Kind::R: return "R";
    case ElementType::Kind::DT: return "DT";
    case ElementType::Kind::TM: return "TM";
  }
  return {};
}

std::optional<ElementType> parse_element_type(std::string_view text) {
  using K = ElementType::Kind;
  if (text == "AN") return ElementType{K::AN, 0};
  if (text == "ID") return ElementType{K::ID, 0};
  if (text == "DT") return ElementType{K::DT, 0};
  if (text == "TM") return ElementType{K::TM, 0};
  if (text == "R") return ElementType{K::R, 0};
  if (text.size() == 2 && text[0] == 'N' && text[1] >= '0' && text[1] <= '9') {
    return ElementType{K::N, static_cast<uint8_t>(text[1] - '0')};
  }
  return std::nullopt;
}

}  // namespace zarvi_core
